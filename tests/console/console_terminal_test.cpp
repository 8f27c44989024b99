// The console in a real terminal: ombrel runs inside a private tmux server;
// keys are typed with send-keys and the screen is read with capture-pane.
// A partial command completed with Tab runs on Enter, its messages appear in
// colour above the input line, and what is typed afterwards stays intact.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

std::string Capture(const std::string& cmd) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

class ConsoleTerminal : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v tmux > /dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
    const char* bin = std::getenv("OMBREL_BIN");
    ASSERT_NE(bin, nullptr);
    char tmpl[] = "/tmp/ombrel-console-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    bin_ = bin;
    socket_ = "ombrel-test-" + std::to_string(getpid());
    display_ = ":ombrel-test-" + std::to_string(getpid());
    // A display name of its own: the single-instance lock is per display, and
    // no window system answers to it, so the map (if any) stays off-screen.
    const std::string start = "tmux -L " + socket_ + " -f /dev/null new-session -d -x 100 -y 30 \"cd '" + dir_ +
                              "' && env -u WAYLAND_DISPLAY DISPLAY=" + display_ + " SDL_VIDEODRIVER=dummy" +
                              " TERM=xterm-256color '" + bin_ + "/ombrel'; echo exit-status-\\$?; sleep 30\"";
    ASSERT_EQ(std::system(start.c_str()), 0);
    started_ = true;
  }
  void TearDown() override {
    if (started_) Tmux("kill-server");
    if (!dir_.empty()) {
      const std::string rm = "rm -rf '" + dir_ + "'";
      if (std::system(rm.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir_.c_str());
    }
  }
  std::string Tmux(const std::string& args) { return Capture("tmux -L " + socket_ + " " + args + " 2>&1"); }
  void Keys(const std::string& keys) { Tmux("send-keys -t 0 " + keys); }
  std::string Screen(bool escapes = false) {
    return Tmux(std::string("capture-pane -p -t 0") + (escapes ? " -e" : ""));
  }
  // Waits until the screen shows text (up to about 10 s).
  bool WaitFor(const std::string& text) {
    for (int i = 0; i < 100; ++i) {
      if (Screen().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
  static std::string LastLine(const std::string& screen) {
    std::size_t end = screen.find_last_not_of("\n ");
    if (end == std::string::npos) return "";
    const std::size_t start = screen.rfind('\n', end);
    return screen.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
  }

  void WaitForPrompt() {
    for (int i = 0; i < 100 && LastLine(Screen()) != ">"; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }

  std::string bin_, dir_, socket_, display_;
  bool started_ = false;
};

TEST_F(ConsoleTerminal, TabCompletesEnterRunsAndTheInputLineStaysIntact) {
  // The prompt (capture-pane drops its trailing blank).
  WaitForPrompt();
  ASSERT_EQ(LastLine(Screen()), ">") << Screen();
  Keys("Vers Tab");
  ASSERT_TRUE(WaitFor("> Version")) << Screen();
  Keys("Enter");
  ASSERT_TRUE(WaitFor("Quorra Library:")) << Screen();
  // An error message, then a partly typed line with the caret moved into it.
  Keys("'nosuchcommand' Enter");
  ASSERT_TRUE(WaitFor("command?=>nosuchcommand<=")) << Screen();
  Keys("'Dra' Left Left 'X'");
  ASSERT_TRUE(WaitFor("> DXra")) << Screen();
  const std::string screen = Screen();
  EXPECT_EQ(LastLine(screen), "> DXra") << screen;
  EXPECT_LT(screen.find("Version"), screen.find("Quorra Library:"));
  EXPECT_LT(screen.find("Quorra Library:"), screen.find("command?=>nosuchcommand<="));
  // The error line is drawn in a colour of its own: escapes around it.
  const std::string coloured = Screen(true);
  const std::size_t at = coloured.find("command?=>nosuchcommand<=");
  ASSERT_NE(at, std::string::npos);
  const std::size_t lineStart = coloured.rfind('\n', at);
  const std::string before = coloured.substr(lineStart + 1, at - lineStart - 1);
  EXPECT_NE(before.find("\x1b["), std::string::npos) << "no colour before the error text";
  // The line being typed is drawn in the input colour (the colour of the
  // echoed lines), not in the terminal's default colours.
  const auto foreground = [](const std::string& s) {
    const std::size_t at = s.rfind("\x1b[38;2;");
    return at == std::string::npos ? std::string() : s.substr(at, s.find('m', at) - at);
  };
  const std::size_t echo = coloured.find("nosuchcommand\n");
  ASSERT_NE(echo, std::string::npos) << coloured;
  const std::size_t echoStart = coloured.rfind('\n', echo);
  const std::string inputColour = foreground(coloured.substr(echoStart + 1, echo - echoStart - 1));
  ASSERT_FALSE(inputColour.empty()) << "the echoed line has no colour";
  const std::size_t input = coloured.rfind("> DXra");
  ASSERT_NE(input, std::string::npos) << coloured;
  const std::size_t inputStart = coloured.rfind('\n', input);
  EXPECT_EQ(foreground(coloured.substr(inputStart + 1, input - inputStart - 1)), inputColour)
      << "the input line is not in the input colour";
  // Escape clears the line, Up brings back the last entered line, Quit ends.
  Keys("Escape");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Keys("Up");
  ASSERT_TRUE(WaitFor("> nosuchcommand")) << Screen();
  Keys("C-u");  // not a console key: ignored
  Keys("Escape");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Keys("'Quit' Enter");
  ASSERT_TRUE(WaitFor("exit-status-")) << Screen();
  EXPECT_NE(Screen().find("exit-status-4"), std::string::npos) << Screen();
}

TEST_F(ConsoleTerminal, ASecondInteractiveStartOnTheSameDisplayEnds) {
  WaitForPrompt();
  ASSERT_EQ(LastLine(Screen()), ">") << Screen();
  const std::string cd = "cd '" + dir_ + "' && ";
  const std::string env = "env -u WAYLAND_DISPLAY DISPLAY=" + display_ + " SDL_VIDEODRIVER=dummy '" + bin_ + "/ombrel'";
  const std::string second = Capture(cd + env + " < /dev/null 2>&1; echo status=$?");
  EXPECT_NE(second.find("Ombrel is already running (process "), std::string::npos) << second;
  EXPECT_NE(second.find("status=0"), std::string::npos) << second;
  // Headless and batch runs are never refused.
  const std::string headless = Capture(cd + "echo 'Echo headless runs' | " + env + " --headless 2>&1; echo status=$?");
  EXPECT_NE(headless.find("headless runs"), std::string::npos) << headless;
  EXPECT_EQ(headless.find("already running"), std::string::npos) << headless;
  // The first instance is still there.
  Keys("'Echo still here' Enter");
  EXPECT_TRUE(WaitFor("still here")) << Screen();
}

}  // namespace

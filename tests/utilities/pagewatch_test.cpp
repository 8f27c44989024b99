// pagewatch as a real program: what it prints for a file that grows, is
// truncated or is replaced (compared with `tail -F`), how it waits for a file
// that does not exist yet, how quickly appended lines appear, and that the
// terminal is given back as it was, also after Ctrl+C.
#include "apps/pagewatch/follow.h"
#include "tests/utilities/util_common.h"

#include <gtest/gtest.h>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <thread>

using namespace utiltest;

namespace {

std::string PagewatchProgram() { return BinDir() + "/pagewatch"; }

// A running pagewatch with pipes for its three streams.
struct Watcher {
  pid_t pid = -1;
  int in = -1, out = -1, err = -1;
  std::string got_out, got_err;

  void Start(const std::vector<std::string>& args, const std::string& cwd) {
    int pin[2], pout[2], perr[2];
    ASSERT_EQ(pipe(pin), 0);
    ASSERT_EQ(pipe(pout), 0);
    ASSERT_EQ(pipe(perr), 0);
    std::string prog = PagewatchProgram();
    pid = fork();
    if (pid == 0) {
      dup2(pin[0], 0);
      dup2(pout[1], 1);
      dup2(perr[1], 2);
      for (int fd : {pin[0], pin[1], pout[0], pout[1], perr[0], perr[1]}) close(fd);
      if (chdir(cwd.c_str()) != 0) _exit(126);
      std::vector<char*> v;
      v.push_back(prog.data());
      for (auto& a : args) v.push_back(const_cast<char*>(a.c_str()));
      v.push_back(nullptr);
      execv(v[0], v.data());
      _exit(127);
    }
    close(pin[0]);
    close(pout[1]);
    close(perr[1]);
    in = pin[1];
    out = pout[0];
    err = perr[0];
    fcntl(out, F_SETFL, O_NONBLOCK);
    fcntl(err, F_SETFL, O_NONBLOCK);
  }
  void Drain() {
    char buf[65536];
    ssize_t n;
    while ((n = read(out, buf, sizeof buf)) > 0) got_out.append(buf, n);
    while ((n = read(err, buf, sizeof buf)) > 0) got_err.append(buf, n);
  }
  // Waits until standard output holds `want` (or the time runs out).
  bool WaitOut(size_t bytes, int ms) {
    for (int i = 0; i < ms; i += 5) {
      Drain();
      if (got_out.size() >= bytes) return true;
      usleep(5000);
    }
    return false;
  }
  bool WaitErr(const std::string& text, int ms) {
    for (int i = 0; i < ms; i += 5) {
      Drain();
      if (got_err.find(text) != std::string::npos) return true;
      usleep(5000);
    }
    return false;
  }
  int Escape() {
    ssize_t w = write(in, "\x1b", 1);
    (void)w;
    int status = 0;
    for (int i = 0; i < 400; ++i) {
      if (waitpid(pid, &status, WNOHANG) == pid) {
        Drain();
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(5000);
    }
    return -2;
  }
  ~Watcher() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    for (int fd : {in, out, err})
      if (fd >= 0) close(fd);
  }
};

class PagewatchTest : public ::testing::Test {
 protected:
  void SetUp() override { dir = MakeTempDir(); }
  void TearDown() override { system(("rm -rf " + dir).c_str()); }
  std::string dir;
};

void Append(const std::string& path, const std::string& text) {
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
}

TEST_F(PagewatchTest, UsageText) {
  Watcher w;
  w.Start({"/?"}, dir);
  int status = 0;
  waitpid(w.pid, &status, 0);
  w.pid = -1;
  w.Drain();
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(w.got_err, "usage: pagewatch file\n");
  EXPECT_EQ(w.got_out, "");
}

TEST_F(PagewatchTest, WaitsWithSpinnerThenPrints) {
  Watcher w;
  w.Start({}, dir);  // the default name, pwprtr.txt in the current folder
  ASSERT_TRUE(w.WaitErr("(Press <ESC> to exit)\n", 2000));
  EXPECT_EQ(w.got_err.rfind("waiting for file pwprtr.txt\n", 0), 0u);
  ASSERT_TRUE(w.WaitErr("/\r", 3500));  // the spinner, once a second
  EXPECT_NE(w.got_err.find("|\r"), std::string::npos);
  Append(dir + "/pwprtr.txt", "first line\nsecond\n");
  ASSERT_TRUE(w.WaitOut(18, 2500));
  EXPECT_EQ(w.got_out, "first line\nsecond\n");
  EXPECT_NE(w.got_err.find("pagewatch reading pwprtr.txt\n"), std::string::npos);
  EXPECT_EQ(w.Escape(), 0);
}

TEST_F(PagewatchTest, EscapeWhileWaiting) {
  Watcher w;
  w.Start({"nothing.txt"}, dir);
  ASSERT_TRUE(w.WaitErr("(Press <ESC> to exit)\n", 2000));
  EXPECT_EQ(w.Escape(), 0);
  EXPECT_EQ(w.got_err.back(), ' ');
}

TEST_F(PagewatchTest, AppendedLinesAppearQuickly) {
  std::string file = dir + "/log.txt";
  std::string long_line(5000, 'L');
  Spit(file, "old\n" + long_line + "\n");
  Watcher w;
  w.Start({file}, dir);
  ASSERT_TRUE(w.WaitOut(4 + 5001, 2000));
  EXPECT_EQ(w.got_out, "old\n" + long_line + "\n");  // a long line comes out whole
  double worst = 0;
  for (int i = 0; i < 6; ++i) {
    size_t before = w.got_out.size();
    auto t0 = std::chrono::steady_clock::now();
    Append(file, "line " + std::to_string(i) + "\n");
    ASSERT_TRUE(w.WaitOut(before + 7, 2000));
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    worst = std::max(worst, ms);
    usleep(37000 * (i + 1));
  }
  EXPECT_LT(worst, 600);  // 200 ms passes; generous for a loaded machine
  EXPECT_EQ(w.Escape(), 0);
}

// A writer in bursts, with a truncation and a replacement, read by pagewatch
// and by tail -F: the same bytes come out of both.
TEST_F(PagewatchTest, SameBytesAsTailF) {
  if (system("command -v tail >/dev/null") != 0) GTEST_SKIP();
  std::string file = dir + "/burst.txt";
  Spit(file, "start\n");
  Watcher w;
  w.Start({file}, dir);
  std::string tail_out = dir + "/tail.out";
  pid_t tail = fork();
  if (tail == 0) {
    int fd = open(tail_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    execlp("tail", "tail", "-F", "-n", "+1", "-s", "0.1", file.c_str(), nullptr);
    _exit(127);
  }
  auto settle = [&] { usleep(700000); };
  settle();
  for (int b = 0; b < 3; ++b) {
    std::string burst;
    for (int i = 0; i < 50; ++i) burst += "burst " + std::to_string(b) + " line " + std::to_string(i) + "\n";
    Append(file, burst);
    settle();
  }
  // Truncated, then written again, shorter than before.
  truncate(file.c_str(), 0);
  settle();
  Append(file, "after truncation\n");
  settle();
  // Replaced by a new file under the same name.
  Spit(dir + "/new.txt", "a new file\n");
  rename((dir + "/new.txt").c_str(), file.c_str());
  settle();
  Append(file, "appended to the new file\n");
  settle();
  settle();
  w.Drain();
  kill(tail, SIGTERM);
  waitpid(tail, nullptr, 0);
  std::string expected = Slurp(tail_out);
  EXPECT_EQ(w.got_out, expected);
  EXPECT_NE(w.got_out.find("after truncation\n"), std::string::npos);
  EXPECT_NE(w.got_out.find("appended to the new file\n"), std::string::npos);
  EXPECT_EQ(w.Escape(), 0);
}

// On a terminal: keys without echo while it runs; the terminal's own mode
// again after Escape, and after Ctrl+C.
TEST_F(PagewatchTest, TerminalRestoredOnEveryExit) {
  for (int how = 0; how < 2; ++how) {
    int master = -1;
    std::string prog = PagewatchProgram();
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      execl(prog.c_str(), "pagewatch", "never.txt", nullptr);
      _exit(127);
    }
    struct termios before;
    ASSERT_EQ(tcgetattr(master, &before), 0);
    std::string seen;
    for (int i = 0; i < 400 && seen.find("ESC") == std::string::npos; ++i) {
      struct pollfd p {master, POLLIN, 0};
      if (poll(&p, 1, 10) > 0) {
        char buf[512];
        ssize_t n = read(master, buf, sizeof buf);
        if (n > 0) seen.append(buf, n);
      }
    }
    ASSERT_NE(seen.find("waiting for file never.txt"), std::string::npos);
    struct termios running;
    ASSERT_EQ(tcgetattr(master, &running), 0);
    EXPECT_EQ(running.c_lflag & (ICANON | ECHO), 0u);
    ssize_t w = write(master, how == 0 ? "\x1b" : "\x03", 1);
    (void)w;
    int status = 0;
    for (int i = 0; i < 400 && waitpid(pid, &status, WNOHANG) != pid; ++i) usleep(5000);
    struct termios after;
    ASSERT_EQ(tcgetattr(master, &after), 0);
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), before.c_lflag & (ICANON | ECHO)) << "exit " << how;
    if (how == 0) EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    else EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
    close(master);
  }
}

}  // namespace

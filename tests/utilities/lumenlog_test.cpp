// lumenlog: the drawing rules on the canvas itself (raster operations against
// the boolean table, every marker shape, pens, lines, texts, resizing), and
// the real program: requests posted through the window socket, its log and
// snapshot, one instance, a stale socket, malformed datagrams, the client-size
// answer, SIGTERM, and a screenshot of the real window under Xvfb.
#include "apps/lumenlog/lumen.h"
#include "lib/display/bitmap.h"
#include "platform/window_channel.h"
#include "tests/utilities/util_common.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

using namespace utiltest;

namespace {

platform::WindowRequest Req(std::uint32_t k, std::int64_t first = 0, int x = 0, int y = 0, std::string text = "") {
  platform::WindowRequest r;
  r.number = lumenlog::kUser + k;
  r.first = first;
  r.second = static_cast<std::int64_t>((static_cast<std::uint32_t>(static_cast<std::uint16_t>(y)) << 16) |
                                       static_cast<std::uint16_t>(x));
  r.text = text;
  return r;
}

struct CanvasTest : ::testing::Test {
  lumenlog::Canvas c;
  void SetUp() override { ASSERT_TRUE(lumenlog::CanvasCreate(c, 320, 240)); }
  void TearDown() override { lumenlog::CanvasDestroy(c); }
};

TEST_F(CanvasTest, RasterOperationsFollowTheBooleanTable) {
  // Each mode is a function of a pen bit and a pixel bit, numbered so that
  // mode - 1 holds the result for (pen, pixel) = (1,1), (1,0), (0,1), (0,0)
  // from its high bit down (13 copy = 1100, 7 exclusive-or = 0110).
  for (int mode = 1; mode <= 16; ++mode) {
    for (int pen = 0; pen < 2; ++pen)
      for (int pix = 0; pix < 2; ++pix) {
        const std::uint32_t out = lumenlog::RasterOp(mode, pen ? 0xffffff : 0, pix ? 0xffffff : 0);
        const int want = ((mode - 1) >> (pen * 2 + pix)) & 1;
        EXPECT_EQ(out, want ? 0xffffffu : 0u) << "mode " << mode << " pen " << pen << " pixel " << pix;
      }
  }
  // And through a line, pixel for pixel: exclusive-or twice gives the picture back.
  ASSERT_EQ(lumenlog::Apply(c, Req(2, 0x336699)), lumenlog::Effect::kDrawn);
  lumenlog::Apply(c, Req(10, 7));
  lumenlog::Apply(c, Req(7, 0x0000ff));
  lumenlog::Apply(c, Req(4, 0, 10, 10));
  lumenlog::Apply(c, Req(3, 0, 100, 60));
  EXPECT_EQ(lumenlog::PixelAt(c, 10, 10), 0x996633u ^ 0xff0000u);
  lumenlog::Apply(c, Req(4, 0, 10, 10));
  lumenlog::Apply(c, Req(3, 0, 100, 60));
  EXPECT_EQ(lumenlog::PixelAt(c, 10, 10), 0x996633u);
}

TEST_F(CanvasTest, LinesLeaveTheirEndAndPensKeepTheOtherSettings) {
  lumenlog::Apply(c, Req(7, 0x0000ff));  // red
  lumenlog::Apply(c, Req(4, 0, 5, 5));
  lumenlog::Apply(c, Req(3, 0, 50, 5));
  EXPECT_EQ(lumenlog::PixelAt(c, 5, 5), 0xff0000u);
  EXPECT_EQ(lumenlog::PixelAt(c, 49, 5), 0xff0000u);
  EXPECT_EQ(lumenlog::PixelAt(c, 50, 5), 0xffffffu);  // the end pixel stays undrawn
  // A wider pen: the colour stays red; a dotted style leaves gaps.
  lumenlog::Apply(c, Req(9, 5));
  lumenlog::Apply(c, Req(4, 0, 20, 40));
  lumenlog::Apply(c, Req(3, 0, 80, 40));
  EXPECT_EQ(lumenlog::PixelAt(c, 40, 42), 0xff0000u);
  lumenlog::Apply(c, Req(9, 0));
  lumenlog::Apply(c, Req(8, 2));
  lumenlog::Apply(c, Req(4, 0, 0, 100));
  lumenlog::Apply(c, Req(3, 0, 60, 100));
  int on = 0;
  for (int x = 0; x < 60; ++x) on += lumenlog::PixelAt(c, x, 100) == 0xff0000u;
  EXPECT_EQ(on, 30);
  lumenlog::Apply(c, Req(8, 5));  // no pen
  lumenlog::Apply(c, Req(4, 0, 0, 120));
  lumenlog::Apply(c, Req(3, 0, 60, 120));
  EXPECT_EQ(lumenlog::PixelAt(c, 1, 120), 0xffffffu);
}

TEST_F(CanvasTest, MarkerShapesPixelForPixel) {
  const int expected[7] = {1, 5, 12, 6, 12, 21, 1};
  for (int shape = 0; shape <= 6; ++shape) {
    lumenlog::Apply(c, Req(2, 0xffffff));
    lumenlog::Apply(c, Req(7, 0x00ff00));
    lumenlog::Apply(c, Req(11, shape, 100, 100));
    int count = 0;
    for (int y = 90; y < 110; ++y)
      for (int x = 90; x < 110; ++x) count += lumenlog::PixelAt(c, x, y) == 0x00ff00u;
    EXPECT_EQ(count, expected[shape]) << "shape " << shape;
  }
  // Shape 2, the ring: its corners at (+-2, +-2) and its centre are empty.
  EXPECT_EQ(lumenlog::PixelAt(c, 100, 100), 0x00ff00u);  // shape 6 is a centre pixel
  lumenlog::Apply(c, Req(2, 0xffffff));
  lumenlog::Apply(c, Req(11, 2, 50, 50));
  EXPECT_EQ(lumenlog::PixelAt(c, 50, 50), 0xffffffu);
  EXPECT_EQ(lumenlog::PixelAt(c, 52, 52), 0xffffffu);
  EXPECT_EQ(lumenlog::PixelAt(c, 49, 48), 0x00ff00u);
  EXPECT_EQ(lumenlog::PixelAt(c, 52, 49), 0x00ff00u);
}

TEST_F(CanvasTest, TextsResizeAndUnknownRequests) {
  // Two equal texts are both drawn (black, bottom on y, centred on x).
  lumenlog::Apply(c, Req(12, 0, 80, 50, "7"));
  lumenlog::Apply(c, Req(12, 0, 200, 50, "7"));
  auto ink = [&](int x0, int x1) {
    int n = 0;
    for (int y = 30; y < 52; ++y)
      for (int x = x0; x < x1; ++x) n += lumenlog::PixelAt(c, x, y) != 0xffffffu;
    return n;
  };
  EXPECT_GT(ink(70, 90), 5);
  EXPECT_EQ(ink(70, 90), ink(190, 210));
  EXPECT_EQ(ink(100, 180), 0);
  // Resizing keeps the overlap and clamps each side to 1 ... 4096.
  lumenlog::Apply(c, Req(5, 0x0000ff, 10, 10));
  EXPECT_EQ(lumenlog::Apply(c, Req(1, 0, 5000, 0)), lumenlog::Effect::kResized);
  EXPECT_EQ(c.width, 4096);
  EXPECT_EQ(c.height, 1);
  lumenlog::Apply(c, Req(1, 0, 30, 20));
  EXPECT_EQ(lumenlog::PixelAt(c, 10, 10), 0xffffffu);  // lost with the 1-pixel height
  lumenlog::Apply(c, Req(5, 0x0000ff, 10, 10));
  lumenlog::Apply(c, Req(1, 0, 40, 40));
  EXPECT_EQ(lumenlog::PixelAt(c, 10, 10), 0xff0000u);
  EXPECT_EQ(lumenlog::PixelAt(c, 35, 35), 0xffffffu);
  EXPECT_EQ(c.beeps, 3);
  platform::WindowRequest bad;
  bad.number = lumenlog::kUser + 13;
  EXPECT_EQ(lumenlog::Apply(c, bad), lumenlog::Effect::kIgnored);
  bad.number = 5;
  EXPECT_EQ(lumenlog::Apply(c, bad), lumenlog::Effect::kIgnored);
}

// ---- the program

class LumenlogProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeTempDir();
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  }
  void TearDown() override {
    Stop();
    system(("rm -rf " + dir).c_str());
  }
  pid_t Start(std::vector<std::string> extra = {}) {
    const std::string prog = BinDir() + "/lumenlog";
    pid_t pid = fork();
    if (pid == 0) {
      std::vector<std::string> args = {prog, "--headless", "--log", dir + "/log.txt", "--snapshot", dir + "/snap.png"};
      args.insert(args.end(), extra.begin(), extra.end());
      std::vector<char*> v;
      for (auto& a : args) v.push_back(a.data());
      v.push_back(nullptr);
      execv(v[0], v.data());
      _exit(127);
    }
    for (int i = 0; i < 300 && platform::WindowFind("lumenlog") != 0; ++i) usleep(10000);
    running = pid;
    return pid;
  }
  int Stop() {
    if (running <= 0) return -1;
    kill(running, SIGTERM);
    int status = 0;
    waitpid(running, &status, 0);
    running = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string dir;
  pid_t running = -1;
};

TEST_F(LumenlogProgram, RequestsLogAndSnapshot) {
  Start();
  platform::WindowClient client;
  ASSERT_EQ(platform::WindowConnect(client, "lumenlog"), 0);
  int w = 0, h = 0;
  ASSERT_EQ(platform::WindowQueryClient(client, &w, &h), 0);
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 240);
  ASSERT_EQ(platform::WindowSend(client, Req(2, 0xffffff)), 0);
  platform::WindowSend(client, Req(7, 0x0000ff));
  platform::WindowSend(client, Req(11, 1, 30, 40));
  platform::WindowSend(client, Req(12, 0, 100, 100, "hello"));
  // Malformed datagrams: shorter than a header, a length that does not
  // match, an unknown number. None is drawn or logged.
  send(client.fd, "abc", 3, 0);
  std::string wrong = platform::EncodeWindowRequest(Req(5, 0, 1, 1, "xy"));
  wrong.pop_back();
  send(client.fd, wrong.data(), wrong.size(), 0);
  std::string longer = platform::EncodeWindowRequest(Req(5, 0, 1, 1)) + "extra";
  send(client.fd, longer.data(), longer.size(), 0);
  platform::WindowSend(client, Req(40, 0, 1, 1));
  platform::WindowQueryClient(client, &w, &h);  // a round trip: all of the above was taken
  EXPECT_EQ(Stop(), 0);
  EXPECT_EQ(Slurp(dir + "/log.txt"),
            "1026 16777215 0\n1031 255 0\n1035 1 2621470\n1036 0 6553700 hello\n");
  cairo_surface_t* s = nullptr;
  ASSERT_EQ(display::LoadImageFile(dir + "/snap.png", display::ImageKind::kPng, &s), display::DecodeResult::kOk);
  const uint32_t* px = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s));
  const int stride = cairo_image_surface_get_stride(s) / 4;
  EXPECT_EQ(px[40 * stride + 30] & 0xffffff, 0xff0000u);
  EXPECT_EQ(px[40 * stride + 31] & 0xffffff, 0xff0000u);
  EXPECT_EQ(px[41 * stride + 31] & 0xffffff, 0xffffffu);
  cairo_surface_destroy(s);
  // The window is gone: posts fail from then on, and the socket file with it.
  EXPECT_EQ(platform::WindowSend(client, Req(6)), 1);
  EXPECT_TRUE(client.dead);
  EXPECT_FALSE(Exists(platform::WindowSocketPath("lumenlog")));
  platform::WindowDisconnect(client);
}

TEST_F(LumenlogProgram, OneInstanceAndStaleSockets) {
  // A stale socket (nobody listening) is replaced.
  int stale = platform::WindowListen("lumenlog");
  ASSERT_GE(stale, 0);
  close(stale);  // the file stays, nobody listens
  ASSERT_TRUE(Exists(platform::WindowSocketPath("lumenlog")));
  Start();
  ASSERT_EQ(platform::WindowFind("lumenlog"), 0);
  // A second start finds the live window, asks it to the front and ends.
  const int second = utiltest::Run({BinDir() + "/lumenlog", "--headless"});
  EXPECT_EQ(second, 0);
  usleep(100000);
  EXPECT_EQ(Stop(), 0);
  EXPECT_EQ(Slurp(dir + "/log.txt"), "1024 0 0\n");
  struct stat st;
  EXPECT_NE(stat(platform::WindowSocketPath("lumenlog").c_str(), &st), 0);
}

TEST_F(LumenlogProgram, SocketIsPrivate) {
  Start();
  struct stat st;
  ASSERT_EQ(stat(platform::WindowSocketPath("lumenlog").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(platform::WindowSocketPath("lumenlog"), "/tmp/lumenlog." + std::to_string(getuid()) + ".win");
  setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
}

TEST_F(LumenlogProgram, RealWindowUnderXvfb) {
  if (system("command -v xvfb-run >/dev/null && command -v import >/dev/null") != 0) GTEST_SKIP() << "no Xvfb";
  // The window at (160, 120): a red fill shows in a screenshot of the screen.
  const std::string script = dir + "/x.sh";
  Spit(script, "env -u SDL_VIDEODRIVER XDG_RUNTIME_DIR=" + dir + " " + BinDir() + "/lumenlog --snapshot " + dir +
                   "/win.png &\nLP=$!\nfor i in $(seq 100); do [ -S " + dir + "/lumenlog.win ] && break; sleep 0.05; done\n" +
                   BinDir() + "/../tests/lumenlog_post_fill\nsleep 0.7\nimport -window root " + dir +
                   "/root.png\nkill $LP\nwait $LP || true\n");
  const int status = system(("timeout 60 xvfb-run -a -s '-screen 0 800x600x24' sh " + script + " >/dev/null 2>&1").c_str());
  ASSERT_EQ(WEXITSTATUS(status), 0);
  cairo_surface_t* s = nullptr;
  ASSERT_EQ(display::LoadImageFile(dir + "/root.png", display::ImageKind::kPng, &s), display::DecodeResult::kOk);
  const uint32_t* px = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s));
  const int stride = cairo_image_surface_get_stride(s) / 4;
  EXPECT_EQ(px[(120 + 120) * stride + 160 + 160] & 0xffffff, 0xff0000u);  // inside the window
  EXPECT_NE(px[100 * stride + 100] & 0xffffff, 0xff0000u);                // outside it
  cairo_surface_destroy(s);
}

}  // namespace

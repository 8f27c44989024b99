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
#include <algorithm>
#include <climits>
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
  // Thin solid copied lines that leave the picture: only the pixels inside
  // are set, and a line from outside to outside across it sets its row.
  lumenlog::Apply(c, Req(8, 0));
  lumenlog::Apply(c, Req(4, 0, -10, 200));
  lumenlog::Apply(c, Req(3, 0, 10, 200));
  on = 0;
  for (int x = 0; x < 40; ++x) on += lumenlog::PixelAt(c, x, 200) == 0xff0000u;
  EXPECT_EQ(on, 10);
  lumenlog::Apply(c, Req(4, 0, -5, 230));
  lumenlog::Apply(c, Req(3, 0, 400, 230));
  on = 0;
  for (int x = 0; x < 320; ++x) on += lumenlog::PixelAt(c, x, 230) == 0xff0000u;
  EXPECT_EQ(on, 320);
  lumenlog::Apply(c, Req(4, 0, 300, -30));
  lumenlog::Apply(c, Req(3, 0, 300, 300));
  EXPECT_EQ(lumenlog::PixelAt(c, 300, 0), 0xff0000u);
  EXPECT_EQ(lumenlog::PixelAt(c, 300, 239), 0xff0000u);
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

// ---- batches: several requests in one datagram

std::string Batch(const std::vector<platform::WindowRequest>& rs, std::vector<size_t>* bounds = nullptr) {
  std::string b;
  for (const auto& r : rs) {
    b += platform::EncodeWindowRequest(r);
    if (bounds) bounds->push_back(b.size());
  }
  return b;
}

void ExpectSame(const std::vector<platform::WindowRequest>& got, const std::vector<platform::WindowRequest>& want,
                size_t count) {
  ASSERT_EQ(got.size(), count);
  for (size_t i = 0; i < count; ++i) {
    EXPECT_EQ(got[i].number, want[i].number) << i;
    EXPECT_EQ(got[i].first, want[i].first) << i;
    EXPECT_EQ(got[i].second, want[i].second) << i;
    EXPECT_EQ(got[i].text, want[i].text) << i;
  }
}

TEST(SplitRequests, ABatchCutAtEveryByteIsTakenOnlyAtRequestBoundaries) {
  std::vector<platform::WindowRequest> rs = {Req(2, 0xffffff), Req(7, -1), Req(12, 0, -3, 7, "17"),
                                             Req(11, 5, 32767, -32768), Req(12, 0, 1, 2, std::string(255, 'w')),
                                             Req(12, 0, 9, 9, ""), Req(4, 0, 100, 200)};
  rs[1].first = INT64_MIN;
  rs[3].second = INT64_MAX;  // the parameters travel whole, whatever the window makes of them
  std::vector<size_t> bounds;
  const std::string b = Batch(rs, &bounds);
  std::vector<platform::WindowRequest> out;
  ASSERT_TRUE(lumenlog::SplitRequests(b.data(), b.size(), &out));
  ExpectSame(out, rs, rs.size());
  // Every prefix: whole requests only when it ends at a boundary, else
  // refused whole (nothing of it drawn).
  for (size_t cut = 0; cut < b.size(); ++cut) {
    out.assign(3, platform::WindowRequest());
    const auto at = std::find(bounds.begin(), bounds.end(), cut);
    const bool whole = at != bounds.end();
    EXPECT_EQ(lumenlog::SplitRequests(b.data(), cut, &out), whole) << "cut " << cut;
    if (whole) {
      ExpectSame(out, rs, static_cast<size_t>(at - bounds.begin()) + 1);
    } else {
      EXPECT_TRUE(out.empty()) << "cut " << cut;
    }
    // And every suffix that starts inside a request is refused too, or
    // splits to the requests after the boundary.
    const std::string tail = b.substr(cut);
    const bool from_boundary = cut == 0 || whole;
    if (!from_boundary) {
      // A suffix from inside a request may happen to parse (its bytes are
      // arbitrary), but never to more requests than are left.
      if (lumenlog::SplitRequests(tail.data(), tail.size(), &out)) {
        EXPECT_LT(out.size(), rs.size()) << "cut " << cut;
      }
    } else {
      ASSERT_TRUE(lumenlog::SplitRequests(tail.data(), tail.size(), &out));
      EXPECT_EQ(out.size(), rs.size() - (cut == 0 ? 0 : static_cast<size_t>(at - bounds.begin()) + 1));
    }
  }
}

TEST(SplitRequests, LimitsAndMalformedBatches) {
  std::vector<platform::WindowRequest> out;
  // A batch of exactly 32 KB, the most a client sends at once: 117 requests
  // with the longest text and one with 101 bytes.
  std::vector<platform::WindowRequest> rs;
  for (int i = 0; i < 117; ++i) rs.push_back(Req(12, 0, i, i, std::string(255, static_cast<char>('a' + i % 26))));
  rs.push_back(Req(12, 0, 1, 1, std::string(101, 'z')));
  const std::string exact = Batch(rs);
  ASSERT_EQ(exact.size(), 32768u);
  ASSERT_TRUE(lumenlog::SplitRequests(exact.data(), exact.size(), &out));
  ExpectSame(out, rs, rs.size());
  // A text of 255 bytes is the limit; a length of 256 (bytes and all) is refused,
  // and the good request before it with it.
  const std::string good = platform::EncodeWindowRequest(Req(5, 0xff, 1, 1));
  std::string over = platform::EncodeWindowRequest(Req(12, 0, 1, 1, std::string(255, 'x'))) + "x";
  over[4] = 0, over[5] = 1;  // length 256
  EXPECT_FALSE(lumenlog::SplitRequests((good + over).data(), good.size() + over.size(), &out));
  EXPECT_TRUE(out.empty());
  // A length that claims more than there is, the largest length field, a
  // tail shorter than a header, an empty datagram.
  std::string huge = good;
  huge[4] = huge[5] = huge[6] = huge[7] = static_cast<char>(0xff);
  for (const std::string& bad : {good + huge, good + "abc", good + std::string(23, '\0'), std::string()}) {
    out.assign(2, platform::WindowRequest());
    EXPECT_FALSE(lumenlog::SplitRequests(bad.data(), bad.size(), &out)) << bad.size();
    EXPECT_TRUE(out.empty());
  }
  // One request alone is a batch of one.
  ASSERT_TRUE(lumenlog::SplitRequests(good.data(), good.size(), &out));
  EXPECT_EQ(out.size(), 1u);
}

// ---- the glyph cache: the same pixels as Cairo's own text drawing

TEST(GlyphCache, CachedTextsMatchCairoPixelForPixel) {
  lumenlog::Canvas cached, plain;
  ASSERT_TRUE(lumenlog::CanvasCreate(cached, 200, 120));
  ASSERT_TRUE(lumenlog::CanvasCreate(plain, 200, 120));
  std::string all;
  for (int ch = 32; ch < 127; ++ch) all.push_back(static_cast<char>(ch));
  const std::vector<std::string> texts = {"0", "7", "1036", "hello", "AV", "WAVE", "ffi", "Ty.", "jjj", "  ", "a b",
                                          "||//\\\\", "@#%&", "gqyp", all.substr(0, 40), all.substr(40), std::string(255, 'm')};
  // Positions that make both parities of the centring, and texts that run
  // off each side of the picture.
  const std::vector<std::pair<int, int>> at = {{100, 60}, {101, 61}, {3, 8}, {0, 119}, {198, 120}, {100, 2}, {-5, 130}, {250, 50}};
  int compared = 0;
  for (int background : {0xffffff, 0x33aa77, 0x000000}) {
    for (lumenlog::Canvas* c : {&cached, &plain}) {
      lumenlog::Apply(*c, Req(2, background));
      // A few coloured pixels under the text: darkening, not painting.
      for (int x = 0; x < 200; x += 3) lumenlog::Apply(*c, Req(5, 0x0000ff * (x % 2) + 0x00ff00, x, 60));
    }
    for (const std::string& t : texts)
      for (const auto& [x, y] : at) {
        lumenlog::DrawText(cached, x, y, t, true);
        lumenlog::DrawText(plain, x, y, t, false);
        int differ = 0;
        for (int yy = 0; yy < 120; ++yy)
          for (int xx = 0; xx < 200; ++xx) differ += lumenlog::PixelAt(cached, xx, yy) != lumenlog::PixelAt(plain, xx, yy);
        EXPECT_EQ(differ, 0) << "\"" << t.substr(0, 20) << "\" at " << x << "," << y << " on " << std::hex << background;
        ++compared;
        if (differ) {
          // Start again from equal pictures, so that one fault is reported once.
          lumenlog::Apply(cached, Req(2, background));
          lumenlog::Apply(plain, Req(2, background));
        }
      }
  }
  EXPECT_EQ(compared, 3 * 17 * 8);
  // Ink was drawn at all (a cache that drew nothing on both would agree too).
  lumenlog::Apply(plain, Req(2, 0xffffff));
  lumenlog::DrawText(plain, 100, 60, "1036", true);
  int ink = 0;
  for (int yy = 40; yy < 62; ++yy)
    for (int xx = 80; xx < 120; ++xx) ink += lumenlog::PixelAt(plain, xx, yy) != 0xffffffu;
  EXPECT_GT(ink, 20);
  lumenlog::CanvasDestroy(cached);
  lumenlog::CanvasDestroy(plain);
}

// Texts darken pixels of every colour four at a time; their places in the
// picture are remade when its row length changes (a resize).
TEST(GlyphCache, CachedTextsMatchCairoOnMixedColoursAndAfterAResize) {
  lumenlog::Canvas cached, plain;
  ASSERT_TRUE(lumenlog::CanvasCreate(cached, 160, 90));
  ASSERT_TRUE(lumenlog::CanvasCreate(plain, 160, 90));
  std::uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  for (int side : {0, 1}) {
    if (side == 1) {
      lumenlog::CanvasResize(cached, 233, 70);
      lumenlog::CanvasResize(plain, 233, 70);
    }
    const int w = cached.width, h = cached.height;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        // Black, white and random colours mixed pixel by pixel.
        const std::uint32_t r = next() >> 8, kind = r % 4;
        const std::uint32_t colour = kind == 0 ? 0 : kind == 1 ? 0xffffff : (r >> 2) & 0xffffff;
        lumenlog::Apply(cached, Req(5, static_cast<std::int64_t>(colour), x, y));
        lumenlog::Apply(plain, Req(5, static_cast<std::int64_t>(colour), x, y));
      }
    int drawn = 0;
    for (int k = 0; k < 60; ++k) {
      const int x = static_cast<int>(next() >> 8) % (w + 20) - 10, y = static_cast<int>(next() >> 8) % (h + 20) - 5;
      const std::string t = std::to_string(next() >> 12);
      lumenlog::DrawText(cached, x, y, t, true);
      lumenlog::DrawText(plain, x, y, t, false);
      ++drawn;
    }
    int differ = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) differ += lumenlog::PixelAt(cached, x, y) != lumenlog::PixelAt(plain, x, y);
    EXPECT_EQ(differ, 0) << "picture " << w << " x " << h;
    EXPECT_EQ(drawn, 60);
  }
  lumenlog::CanvasDestroy(cached);
  lumenlog::CanvasDestroy(plain);
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

TEST_F(LumenlogProgram, OversizeDatagramIsIgnoredWhole) {
  Start();
  platform::WindowClient client;
  ASSERT_EQ(platform::WindowConnect(client, "lumenlog"), 0);
  // 2 200 requests of 32 bytes: the first 64 KB of it are 2 048 whole
  // requests, which must not be drawn as if they were the datagram.
  std::vector<platform::WindowRequest> rs(2200, Req(11, 1, 50, 50, "12345678"));
  const std::string big = Batch(rs);
  ASSERT_EQ(big.size(), 70400u);
  int sndbuf = 1 << 20;
  setsockopt(client.fd, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
  ASSERT_EQ(send(client.fd, big.data(), big.size(), 0), static_cast<ssize_t>(big.size()));
  const std::string two = Batch({Req(7, 0x00ff00), Req(11, 0, 3, 4)});
  ASSERT_EQ(send(client.fd, two.data(), two.size(), 0), static_cast<ssize_t>(two.size()));
  int w = 0, h = 0;
  platform::WindowQueryClient(client, &w, &h);
  EXPECT_EQ(Stop(), 0);
  EXPECT_EQ(Slurp(dir + "/log.txt"), "1031 65280 0\n1035 0 262147\n");
  platform::WindowDisconnect(client);
}

TEST_F(LumenlogProgram, RefusesOutputsThatAreTheSameFileOrNoFile) {
  const std::string prog = BinDir() + "/lumenlog";
  auto refused = [&](const std::string& args, const std::string& message) {
    const int s = system((prog + " --headless " + args + " 2>" + dir + "/err.txt").c_str());
    EXPECT_EQ(WIFEXITED(s) ? WEXITSTATUS(s) : -1, 1) << args;
    EXPECT_EQ(Slurp(dir + "/err.txt"), "lumenlog: " + message + "\n") << args;
    EXPECT_NE(platform::WindowFind("lumenlog"), 0);  // it never opened its window
  };
  Spit(dir + "/old.txt", "old log\n");
  refused("--log " + dir + "/old.txt --snapshot " + dir + "/old.txt",
          "--log and --snapshot name the same file (" + dir + "/old.txt)");
  refused("--snapshot " + dir + "/new.png --log " + dir + "/new.png",
          "--log and --snapshot name the same file (" + dir + "/new.png)");
  // The same file under another name: a hard link, a path through "..".
  ASSERT_EQ(link((dir + "/old.txt").c_str(), (dir + "/same.png").c_str()), 0);
  refused("--log " + dir + "/old.txt --snapshot " + dir + "/same.png",
          "--log and --snapshot name the same file (" + dir + "/old.txt)");
  mkdir((dir + "/sub").c_str(), 0700);
  refused("--log " + dir + "/sub/../old.txt --snapshot " + dir + "/old.txt",
          "--log and --snapshot name the same file (" + dir + "/sub/../old.txt)");
  // A directory where a file is expected, for either output.
  refused("--log " + dir + "/sub", "cannot write " + dir + "/sub: the output is not a regular file");
  refused("--snapshot " + dir + "/sub", "cannot write " + dir + "/sub: the output is not a regular file");
  // The window's own socket (its input), while a window listens on it.
  Start({});
  const std::string socket = platform::WindowSocketPath("lumenlog");
  const int s = system((prog + " --headless --log " + socket + " 2>" + dir + "/err.txt").c_str());
  EXPECT_EQ(WEXITSTATUS(s), 1);
  EXPECT_EQ(Slurp(dir + "/err.txt"), "lumenlog: cannot write " + socket + ": it is the window's socket\n");
  EXPECT_EQ(platform::WindowFind("lumenlog"), 0);  // the live window is untouched
  EXPECT_EQ(Stop(), 0);
  EXPECT_EQ(Slurp(dir + "/old.txt"), "old log\n");
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

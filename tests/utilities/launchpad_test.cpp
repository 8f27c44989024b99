// launchpad as a real program, headless (events file and screenshot), from
// folders that hold the atlas program or not, on writable and read-only file
// systems; the picture checked by its colours; the real window under Xvfb
// compared with the screenshot.
#include "apps/launchpad/launcher.h"
#include "lib/display/bitmap.h"
#include "platform/window_channel.h"
#include "tests/utilities/util_common.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/socket.h>

using namespace utiltest;

namespace {

class LaunchpadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeTempDir();
    runtime = MakeTempDir();
    ASSERT_FALSE(dir.empty());
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  }
  void TearDown() override {
    for (auto& m : mounts) umount2(m.c_str(), MNT_DETACH);
    system(("rm -rf " + dir + " " + runtime).c_str());
  }
  // A launcher folder: the launcher, its splash image and, when asked, the
  // atlas program (a script that records which copy ran) and its data file.
  void Populate(const std::string& where, bool program, bool data_file, const char* tag) {
    ASSERT_EQ(system(("cp " + BinDir() + "/launchpad " + where + "/").c_str()), 0);
    ASSERT_EQ(system(("cp " + BinDir() + "/launchpad.bmp " + where + "/").c_str()), 0);
    if (program) MakeProgram(where + "/veltrum", tag);
    if (data_file) Spit(where + "/veltrum.dtp", "");
  }
  void MakeProgram(const std::string& path, const char* tag) {
    Spit(path, std::string("#!/bin/sh\necho ") + tag + " >> " + dir + "/ran\n");
    chmod(path.c_str(), 0755);
  }
  // Runs the launcher in `where` with the events; returns its status and
  // leaves its standard error in err.
  int Launch(const std::string& where, const std::string& events, const std::string& shot = "") {
    Spit(dir + "/events", events);
    std::string cmd = "cd " + where + " && env -u DISPLAY -u WAYLAND_DISPLAY ./launchpad --events " + dir +
                      "/events" + (shot.empty() ? "" : " --screenshot " + shot) + " 2>" + dir + "/err";
    int status = system(cmd.c_str());
    err = Slurp(dir + "/err");
    usleep(200000);  // the chosen program runs on its own
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Ran() {
    std::string r = Slurp(dir + "/ran");
    unlink((dir + "/ran").c_str());
    return r;
  }
  bool MountTmpfs(const std::string& where) {
    if (geteuid() != 0) return false;
    if (mount("omlaunch", where.c_str(), "tmpfs", 0, "size=8m") != 0) return false;
    mounts.insert(mounts.begin(), where);
    return true;
  }
  std::string dir, runtime, err;
  std::vector<std::string> mounts;
};

TEST_F(LaunchpadTest, WritableFolderOffersHardDriveAndQuit) {
  std::string d = dir + "/cd";
  mkdir(d.c_str(), 0755);
  Populate(d, true, true, "beside");
  EXPECT_EQ(Launch(d, "key ENTER\n"), 0);
  EXPECT_EQ(Ran(), "beside\n");
  EXPECT_EQ(Launch(d, "key DOWN\nkey ENTER\n"), 0);  // Quit
  EXPECT_EQ(Ran(), "");
  EXPECT_EQ(Launch(d, "key DOWN\nkey DOWN\nkey ENTER\n"), 0);  // round to the first again
  EXPECT_EQ(Ran(), "beside\n");
  EXPECT_EQ(Launch(d, "key UP\nkey ENTER\n"), 0);  // upwards from the first: the last
  EXPECT_EQ(Ran(), "");
  // Two choices: rows from y = 180 and 260. A click highlights, a second chooses.
  EXPECT_EQ(Launch(d, "click 288 280\nkey ENTER\n"), 0);
  EXPECT_EQ(Ran(), "");
  EXPECT_EQ(Launch(d, "click 288 280\nclick 288 200\nclick 288 200\n"), 0);
  EXPECT_EQ(Ran(), "beside\n");
  EXPECT_EQ(Launch(d, "click 10 10\nclick 288 120\nkey ESC\nkey ENTER\n"), 0);  // misses, then Escape
  EXPECT_EQ(Ran(), "");
  EXPECT_EQ(Launch(d, ""), 0);  // the end of the events is Escape
  EXPECT_EQ(Ran(), "");
  auto plan = launchpad::MakePlan(d);
  ASSERT_EQ(plan.choices.size(), 2u);
  EXPECT_EQ(plan.choices[0].label, "Run from Hard Drive");
  EXPECT_EQ(plan.choices[1].label, "Quit");
}

TEST_F(LaunchpadTest, MissingProgramOrSplash) {
  std::string d = dir + "/cd";
  mkdir(d.c_str(), 0755);
  Populate(d, false, true, "x");
  EXPECT_EQ(Launch(d, "key ENTER\n"), 1);
  EXPECT_EQ(err.substr(0, err.find('\a')), "Missing " + d + "/veltrum\n");
  MakeProgram(d + "/veltrum", "x");
  unlink((d + "/launchpad.bmp").c_str());
  EXPECT_EQ(Launch(d, "key ENTER\n"), 1);
  EXPECT_EQ(err.substr(0, err.find('\a')), "Missing " + d + "/launchpad.bmp\n");
  EXPECT_EQ(Ran(), "");
}

// A splash image that is not monochrome, or shorter than it says, is ignored:
// the launcher still runs, on the plain background.
TEST_F(LaunchpadTest, BadSplashIsIgnored) {
  std::string d = dir + "/cd";
  mkdir(d.c_str(), 0755);
  Populate(d, true, true, "beside");
  std::string good = Slurp(d + "/launchpad.bmp");
  ASSERT_GT(good.size(), 62u);
  for (int variant = 0; variant < 3; ++variant) {
    std::string bad = good;
    if (variant == 0) bad[28] = 24;                  // not one bit per pixel
    if (variant == 1) bad.resize(bad.size() - 20);   // cut short
    if (variant == 2) bad = "BM";                    // no header at all
    Spit(d + "/launchpad.bmp", bad);
    EXPECT_EQ(launchpad::LoadSplash(d + "/launchpad.bmp"), nullptr) << variant;
    EXPECT_EQ(Launch(d, "", dir + "/plain.png"), 0);
    cairo_surface_t* s = nullptr;
    ASSERT_EQ(display::LoadImageFile(dir + "/plain.png", display::ImageKind::kPng, &s), display::DecodeResult::kOk);
    const uint32_t* px = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s));
    EXPECT_EQ(px[5 * (cairo_image_surface_get_stride(s) / 4) + 5] & 0xffffff, 0xffdebbu);  // the background
    cairo_surface_destroy(s);
  }
}

// The picture: tiles everywhere, the title and credit colour, the highlighted
// choice in its colour and the others in theirs.
TEST_F(LaunchpadTest, PictureFollowsTheHighlight) {
  std::string d = dir + "/cd";
  mkdir(d.c_str(), 0755);
  Populate(d, true, true, "beside");
  auto count = [&](const std::string& png, int y0, int y1, uint32_t rgb) {
    cairo_surface_t* s = nullptr;
    EXPECT_EQ(display::LoadImageFile(png, display::ImageKind::kPng, &s), display::DecodeResult::kOk);
    if (!s) return -1;
    int n = 0, stride = cairo_image_surface_get_stride(s) / 4;
    const uint32_t* px = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s));
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < launchpad::kWidth; ++x) n += (px[y * stride + x] & 0xffffff) == rgb;
    cairo_surface_destroy(s);
    return n;
  };
  const uint32_t highlight = 0x660066, plain = 0xb75b00, title = 0x6f3700, tile_ink = 0xebbe96;
  ASSERT_EQ(Launch(d, "", dir + "/a.png"), 0);
  EXPECT_GT(count(dir + "/a.png", 180, 220, highlight), 200);
  EXPECT_EQ(count(dir + "/a.png", 180, 220, plain), 0);
  EXPECT_GT(count(dir + "/a.png", 260, 300, plain), 100);
  EXPECT_GT(count(dir + "/a.png", 40, 100, title), 400);
  EXPECT_GT(count(dir + "/a.png", 360, 380, title), 100);
  EXPECT_GT(count(dir + "/a.png", 0, 22, tile_ink), 100);      // tiles reach the top edge
  EXPECT_GT(count(dir + "/a.png", 374, 396, tile_ink), 100);   // and the bottom
  ASSERT_EQ(Launch(d, "key DOWN\n", dir + "/b.png"), 0);
  EXPECT_EQ(count(dir + "/b.png", 180, 220, highlight), 0);
  EXPECT_GT(count(dir + "/b.png", 260, 300, highlight), 100);
}

// From a read-only file system with an installed copy on another one: all
// three choices, the installed copy first.
TEST_F(LaunchpadTest, ReadOnlyMediumWithInstalledCopy) {
  std::string cd = dir + "/cdrom", hd = dir + "/disk";
  mkdir(cd.c_str(), 0755);
  mkdir(hd.c_str(), 0755);
  if (!MountTmpfs(cd) || !MountTmpfs(hd)) GTEST_SKIP() << "mounting file systems needs root";
  Populate(cd, true, false, "cdrom");
  Spit(cd + "/veltrum.dtp", "data");  // present but read-only once remounted
  ASSERT_EQ(mount("omlaunch", cd.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr), 0);
  // Not yet installed: only the copy on the medium.
  auto plan = launchpad::MakePlan(cd);
  ASSERT_EQ(plan.choices.size(), 2u);
  EXPECT_EQ(plan.choices[0].label, "Run from CD-ROM");
  ASSERT_EQ(system(("mkdir -p " + hd + "/veltrum/runw32").c_str()), 0);
  MakeProgram(hd + "/veltrum/runw32/veltrum", "installed");
  plan = launchpad::MakePlan(cd);
  EXPECT_EQ(plan.choices.size(), 2u);  // the installed copy has no data file yet
  Spit(hd + "/veltrum.dtp", "");       // the launcher's folder (the root) on that file system
  plan = launchpad::MakePlan(cd);
  ASSERT_EQ(plan.choices.size(), 3u);
  EXPECT_EQ(plan.choices[0].label, "Run from Hard Drive");
  EXPECT_EQ(plan.choices[0].command, hd + "/veltrum/runw32/veltrum");
  EXPECT_EQ(plan.choices[1].label, "Run from CD-ROM");
  EXPECT_EQ(plan.choices[2].label, "Quit");
  EXPECT_EQ(Launch(cd, "key ENTER\n"), 0);
  EXPECT_EQ(Ran(), "installed\n");
  EXPECT_EQ(Launch(cd, "key DOWN\nkey ENTER\n"), 0);
  EXPECT_EQ(Ran(), "cdrom\n");
  // Three choices: rows from y = 140, 220 and 300.
  EXPECT_EQ(Launch(cd, "click 288 320\nclick 288 320\n"), 0);
  EXPECT_EQ(Ran(), "");
  EXPECT_EQ(Launch(cd, "click 288 240\nclick 288 240\n"), 0);
  EXPECT_EQ(Ran(), "cdrom\n");
}

// A second start while the atlas program runs only asks it to come forward.
TEST_F(LaunchpadTest, RunningAtlasIsBroughtForward) {
  std::string d = dir + "/cd";
  mkdir(d.c_str(), 0755);
  Populate(d, true, true, "beside");
  int fd = platform::WindowListen("Veltrum");
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Launch(d, "key ENTER\n"), 0);
  EXPECT_EQ(Ran(), "");  // nothing started
  struct pollfd p {fd, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 2000), 1);
  char buf[512];
  ssize_t n = recv(fd, buf, sizeof buf, 0);
  platform::WindowRequest r;
  ASSERT_TRUE(platform::DecodeWindowRequest(buf, static_cast<size_t>(n), &r));
  EXPECT_EQ(r.number, 0x0400u + 3);
  EXPECT_EQ(r.first, 0);
  EXPECT_EQ(r.second, d[0]);
  platform::WindowClose("Veltrum", fd);
  EXPECT_EQ(platform::WindowFind("Veltrum"), 1);
  EXPECT_EQ(Launch(d, "key ENTER\n"), 0);  // gone: the launcher runs again
  EXPECT_EQ(Ran(), "beside\n");
}

TEST(WindowChannel, RequestsRoundTripAndShortOnesAreRefused) {
  platform::WindowRequest r;
  r.number = 7;
  r.first = -5;
  r.second = int64_t{1} << 40;
  r.text = std::string(300, 'z');
  std::string bytes = platform::EncodeWindowRequest(r);
  EXPECT_EQ(bytes.size(), 24u + 255u);  // the text is cut at 255 bytes
  platform::WindowRequest back;
  ASSERT_TRUE(platform::DecodeWindowRequest(bytes.data(), bytes.size(), &back));
  EXPECT_EQ(back.number, 7u);
  EXPECT_EQ(back.first, -5);
  EXPECT_EQ(back.second, int64_t{1} << 40);
  EXPECT_EQ(back.text, std::string(255, 'z'));
  EXPECT_FALSE(platform::DecodeWindowRequest(bytes.data(), bytes.size() - 1, &back));
  EXPECT_FALSE(platform::DecodeWindowRequest(bytes.data(), 23, &back));
}

// The real window under Xvfb shows the same picture as the screenshot.
TEST_F(LaunchpadTest, RealWindowMatchesScreenshot) {
  if (system("command -v xvfb-run >/dev/null && command -v import >/dev/null && command -v compare >/dev/null") != 0)
    GTEST_SKIP() << "Xvfb or ImageMagick missing";
  std::string d = dir + "/cd";
  mkdir(d.c_str(), 0755);
  Populate(d, true, true, "beside");
  std::string script = dir + "/x.sh";
  Spit(script,
       "cd " + d + "\n"
       "env -u SDL_VIDEODRIVER ./launchpad --screenshot " + dir + "/shot.png &\n"
       "for i in $(seq 50); do [ -s " + dir + "/shot.png ] && break; sleep 0.1; done\n"
       "sleep 0.5\n"
       "import -window root " + dir + "/root.png\n"
       "xdotool mousemove 400 400 key Escape\n"
       "wait\n");
  int status = system(("xvfb-run -a -s '-screen 0 1280x1024x24' sh " + script + " >/dev/null 2>&1").c_str());
  ASSERT_EQ(WEXITSTATUS(status), 0);
  // Centred on a 1280 x 1024 screen.
  std::string diff = dir + "/diff.txt";
  system(("convert " + dir + "/root.png -crop 576x396+352+314 +repage " + dir + "/window.png && compare -metric AE " +
          dir + "/window.png " + dir + "/shot.png null: 2>" + diff).c_str());
  std::string ae = Slurp(diff);
  ASSERT_FALSE(ae.empty());
  EXPECT_LT(std::stod(ae), 50.0) << ae;
  EXPECT_EQ(Ran(), "");
}

}  // namespace

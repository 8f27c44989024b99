// The helpers start-up and Set share: directory normalisation with "~" and
// "^", value splitting, window positions in 80ths and 60ths of the screen,
// and the ellipsoid selection behind ellipsoid.number/semiaxes.
#include <gtest/gtest.h>

#include "interp/global.h"
#include "interp/startup.h"

namespace {

using interp::NormaliseDirectory;

TEST(StartupDirectories, HomeScriptSeparatorsAndFinalSlash) {
  EXPECT_EQ(NormaliseDirectory("./", "/h/", "/s/"), "./");
  EXPECT_EQ(NormaliseDirectory(".", "/h/", "/s/"), "./");
  EXPECT_EQ(NormaliseDirectory(".\\", "/h/", "/s/"), "./");
  EXPECT_EQ(NormaliseDirectory("~", "/h/", "/s/"), "/h/");
  EXPECT_EQ(NormaliseDirectory("~\\data", "/h/", "/s/"), "/h/data/");
  EXPECT_EQ(NormaliseDirectory("~data", "/h/", "/s/"), "/h/data/");
  EXPECT_EQ(NormaliseDirectory("^/out/", "/h/", "/s/"), "/s/out/");
  EXPECT_EQ(NormaliseDirectory("C:\\Proj\\Data", "/h/", "/s/"), "C:/Proj/Data/");
  // Only a leading "~" is special; case is kept.
  EXPECT_EQ(NormaliseDirectory("/a/~b", "/h/", "/s/"), "/a/~b/");
  EXPECT_EQ(NormaliseDirectory("", "/h/", "/s/"), "/");
}

TEST(StartupValues, SplitAtBlanksTabsCommasAndLineFeeds) {
  const auto v = interp::SplitValues(" 6,8 ,\t28\n24 ");
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0], "6");
  EXPECT_EQ(v[3], "24");
  EXPECT_TRUE(interp::SplitValues(" , ").empty());
}

TEST(StartupValues, WindowPositionsInEightiethsAndSixtieths) {
  interp::WindowRect r;
  ASSERT_TRUE(interp::WindowPosition("0,0,80,60", &r));
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.width, interp::SCREEN_WIDTH_PX - 1);
  EXPECT_EQ(r.height, interp::SCREEN_HEIGHT_PX - 1);
  ASSERT_TRUE(interp::WindowPosition("6,8,28,24", &r));
  EXPECT_EQ(r.left, 144);
  EXPECT_EQ(r.top, 144);
  EXPECT_EQ(r.width, 671);
  EXPECT_EQ(r.height, 431);
  EXPECT_FALSE(interp::WindowPosition("1,2,3", &r));
  EXPECT_FALSE(interp::WindowPosition("", &r));
  // Absurd numbers are held to a sane range rather than overflowing.
  ASSERT_TRUE(interp::WindowPosition("99999999999,0,80,60", &r));
  EXPECT_LE(r.left, 1000000);
}

TEST(StartupValues, WindowPositionsFollowTheRealScreen) {
  // The default map.position on a 1280 x 1024 screen stays on it.
  interp::WindowRect r;
  ASSERT_TRUE(interp::WindowPosition("34,8,44,38", &r, 1280, 1024));
  EXPECT_EQ(r.left, 544);
  EXPECT_EQ(r.top, 136);
  EXPECT_EQ(r.width, 703);
  EXPECT_EQ(r.height, 647);
  EXPECT_LE(r.left + r.width, 1280);
  EXPECT_LE(r.top + r.height, 1024);
  // No size known: the virtual screen.
  ASSERT_TRUE(interp::WindowPosition("0,0,80,60", &r, 0, 0));
  EXPECT_EQ(r.width, interp::SCREEN_WIDTH_PX - 1);
}

TEST(StartupValues, BrowserCommandGetsItsBlankOnlyWhereDue) {
  using interp::BrowserCommand;
  EXPECT_EQ(BrowserCommand("", "/usr/bin/xdg-open"), "/usr/bin/xdg-open ");
  EXPECT_EQ(BrowserCommand("", ""), "");
  EXPECT_EQ(BrowserCommand("/opt/viewer.exe", "/usr/bin/xdg-open"), "/opt/viewer.exe ");
  EXPECT_EQ(BrowserCommand("C:\\B\\BROWSE.EXE", ""), "C:\\B\\BROWSE.EXE ");
  EXPECT_EQ(BrowserCommand("firefox --new-tab ", ""), "firefox --new-tab ");
  EXPECT_EQ(BrowserCommand("view --page=", ""), "view --page=");
  // Six characters or fewer: no blank even for "exe".
  EXPECT_EQ(BrowserCommand("ab.exe", ""), "ab.exe");
  EXPECT_EQ(BrowserCommand("a.Exe1", ""), "a.Exe1");
}

TEST(StartupEllipsoid, TableAndUserEllipsoids) {
  interp::GlobalBlock g;
  interp::StartupValues v;
  g.startup = &v;
  ASSERT_TRUE(interp::SelectEllipsoid(g, 34));
  ASSERT_NE(g.ellipsoid, nullptr);
  EXPECT_DOUBLE_EQ(g.ellipsoid->a, 6378137.0);
  EXPECT_FALSE(v.ellipsoid_name.empty());
  EXPECT_FALSE(interp::SelectEllipsoid(g, 35));
  EXPECT_FALSE(interp::SelectEllipsoid(g, -1));
  EXPECT_EQ(g.settings.ellipsoid_number, 34);
  ASSERT_TRUE(interp::SelectEllipsoid(g, 0, 7000000.0, 6900000.0));
  EXPECT_EQ(g.settings.ellipsoid_number, 0);
  EXPECT_DOUBLE_EQ(g.ellipsoid->b, 6900000.0);
  // One metre of fuzz is one metre over the mean radius (2a + b) / 3.
  EXPECT_DOUBLE_EQ(interp::FuzzAngle(g, 1.0), 3.0 / (2 * 7000000.0 + 6900000.0));
  g.startup = nullptr;
  g.ellipsoid = nullptr;
}

}  // namespace

// The initialisation-file reader and the sheet's file parts: line-work
// ranges, definitions, device names, marker and label files, the scale bar.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "apps/sheeter/sheet_parts.h"
#include "platform/profile.h"

namespace {

platform::Profile Parse(const std::string& text) {
  platform::Profile p;
  platform::ParseProfile(text.data(), text.size(), &p);
  return p;
}

TEST(Profile, SectionsAndKeysInAnyCaseFirstOccurrenceWins) {
  const platform::Profile p = Parse(
      "[A4]\nLeft = 10\nleft=20\n[a4]\nLEFT=30\nright = 40\n[Other]\nleft=1\n");
  EXPECT_EQ(platform::ProfileInt(p, "a4", "left", 0), 10);
  EXPECT_EQ(platform::ProfileInt(p, "A4", "LEFT", 0), 10);
  // A section named again continues the first one.
  EXPECT_EQ(platform::ProfileInt(p, "a4", "Right", 0), 40);
  EXPECT_EQ(platform::ProfileInt(p, "other", "left", 0), 1);
  EXPECT_EQ(p.sections.size(), 2u);
}

TEST(Profile, CommentsBlanksCrLfAndLinesWithoutEquals) {
  const platform::Profile p = Parse(
      "key=before any section\r\n; [hidden]\r\n  [ base ]  \r\n\r\n  ; title=commented\r\n"
      "  title  =   Europe map  \r\nnoequals\r\nempty=\r\n=novalue\r\nsemi = a;b\r\n[broken\r\nafter=1\r\n");
  EXPECT_EQ(platform::FindProfileSection(p, "hidden"), nullptr);
  EXPECT_EQ(platform::ProfileString(p, "base", "title", "x"), "Europe map");
  EXPECT_EQ(platform::ProfileString(p, "base", "noequals", "dflt"), "dflt");
  // An empty value is present: not the default.
  std::string v = "unset";
  EXPECT_TRUE(platform::FindProfileValue(p, "base", "empty", &v));
  EXPECT_EQ(v, "");
  EXPECT_EQ(platform::ProfileString(p, "base", "semi", ""), "a;b");
  // A line that is not a whole section header leaves the section as it was.
  EXPECT_EQ(platform::ProfileInt(p, "base", "after", 0), 1);
  EXPECT_EQ(platform::ProfileString(p, "base", "key", "none"), "none");
}

TEST(Profile, KeysKeepFileOrderAndNumbersFallBack) {
  const platform::Profile p = Parse("[linework]\ncoast=1\ngrid=2\nCOAST=3\ncell.dual=4\n[n]\na=12abc\nb=x\nc=-1.5e3\n");
  const platform::ProfileSection* s = platform::FindProfileSection(p, "LineWork");
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->keys.size(), 3u);
  EXPECT_EQ(s->keys[0].first, "coast");
  EXPECT_EQ(s->keys[0].second, "1");
  EXPECT_EQ(s->keys[1].first, "grid");
  EXPECT_EQ(s->keys[2].first, "cell.dual");
  EXPECT_EQ(platform::ProfileInt(p, "n", "a", 0), 12);
  EXPECT_EQ(platform::ProfileInt(p, "n", "b", 7), 7);
  EXPECT_DOUBLE_EQ(platform::ProfileDouble(p, "n", "c", 0), -1500.0);
  EXPECT_DOUBLE_EQ(platform::ProfileDouble(p, "n", "missing", -1.0), -1.0);
}

TEST(Profile, LoadRefusesMissingFilesAndDirectories) {
  platform::Profile p;
  EXPECT_FALSE(platform::LoadProfile("/nonexistent/file.ini", &p));
  EXPECT_FALSE(platform::LoadProfile("/tmp", &p));
  const std::string path = "/tmp/sheeter_profile_" + std::to_string(getpid()) + ".ini";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("\xEF\xBB\xBF[veltrum]\r\nwork.space.size=48000\r\n", f);
  std::fclose(f);
  EXPECT_TRUE(platform::LoadProfile(path, &p));
  EXPECT_EQ(platform::ProfileInt(p, "veltrum", "work.space.size", 0), 48000);
  std::remove(path.c_str());
}

TEST(LineWork, RangesWithMissingWords) {
  sheeter::ScaleRange r;
  ASSERT_TRUE(sheeter::ParseLineWork("5e6 r4 2e7", &r));
  EXPECT_EQ(r.style, "r4");
  EXPECT_FALSE(sheeter::InRange(r, 5e6));
  EXPECT_TRUE(sheeter::InRange(r, 1e7));
  EXPECT_TRUE(sheeter::InRange(r, 2e7));
  EXPECT_FALSE(sheeter::InRange(r, 2.1e7));
  ASSERT_TRUE(sheeter::ParseLineWork(", r1w1,", &r));
  EXPECT_DOUBLE_EQ(r.lower, 1.0);
  EXPECT_DOUBLE_EQ(r.upper, DBL_MAX);
  EXPECT_EQ(r.style, "r1w1");
  ASSERT_TRUE(sheeter::ParseLineWork("5e6,r2", &r));
  EXPECT_DOUBLE_EQ(r.upper, DBL_MAX);
  ASSERT_TRUE(sheeter::ParseLineWork("", &r));
  EXPECT_DOUBLE_EQ(r.lower, 1.0);
  EXPECT_TRUE(sheeter::InRange(r, 1e9));
  EXPECT_FALSE(sheeter::ParseLineWork("lots r1 2e7", &r));
  const std::vector<std::string> w = sheeter::SplitWords("a ,, b");
  ASSERT_EQ(w.size(), 3u);
  EXPECT_EQ(w[1], "");
}

TEST(Definitions, ThemesAndLabelSets) {
  sheeter::ThemeDef t;
  ASSERT_TRUE(sheeter::ParseTheme(" Area , land.qbo , r3p0 , 1e6 , 5e7 ", &t));
  EXPECT_EQ(t.dimension, "area");
  EXPECT_EQ(t.file, "land.qbo");
  EXPECT_EQ(t.style, "r3p0");
  EXPECT_FALSE(sheeter::InRange(t.range, 1e6));
  EXPECT_TRUE(sheeter::InRange(t.range, 5e7));
  EXPECT_FALSE(sheeter::ParseTheme("lines", &t));
  EXPECT_FALSE(sheeter::ParseTheme("lines, r.qbo, s, big", &t));
  sheeter::LabelSetDef l;
  EXPECT_TRUE(sheeter::ParseLabelSet("cities.qbo, cities.loc, cities.lbn, name", &l));
  EXPECT_EQ(l.make, "name");
  EXPECT_FALSE(sheeter::ParseLabelSet("cities.qbo, cities.loc", &l));
}

TEST(Devices, NamesAndPaths) {
  std::string d;
  for (const char* n : {"prn", "PRN:", "lpt1", "LPT4:", "com1", "Com4"}) EXPECT_TRUE(sheeter::IsDeviceName(n, &d)) << n;
  for (const char* n : {"lpt5", "com0", "lpt", "prn.hpg", "europe.hpg", "lpt1::"})
    EXPECT_FALSE(sheeter::IsDeviceName(n, &d)) << n;
  ASSERT_TRUE(sheeter::IsDeviceName("LPT4:", &d));
  EXPECT_EQ(d, "lpt4");
  EXPECT_EQ(sheeter::DevicePath("lpt4", ""), "/dev/lp3");
  EXPECT_EQ(sheeter::DevicePath("com1", "/tmp/x"), "/tmp/x/ttyS0");
  EXPECT_EQ(sheeter::DevicePath("prn", ""), "");
}

TEST(Files, MarkersAndLabels) {
  sheeter::MarkerFile m;
  sheeter::ParseMarkerText("; comment\r\n0 dot\r\n  PD;PU;\r\n\r\n1 cross\n  PR-40,0;PD80,0;\n7 no string\n", &m);
  ASSERT_EQ(m.markers.size(), 2u);
  EXPECT_EQ(m.markers[0], "PD;PU;");
  EXPECT_EQ(m.markers[1], "PR-40,0;PD80,0;");
  sheeter::LabelFiles f;
  sheeter::ParseLabelLocations("1 11 7\n2 19 21 1.5 -2\n3 11\n4 20 7\n5 11 4\n6 12 7 1\nx 11 7\n1 15 9\n", &f);
  EXPECT_EQ(f.places.size(), 2u);
  EXPECT_EQ(f.bad_lines, 5);
  EXPECT_EQ(f.places[1].origin, 11);  // the first line of an id counts
  EXPECT_DOUBLE_EQ(f.places[2].dy, -2.0);
  sheeter::ParseLabelNames("1 Sao Paulo\n2\n3\tRome \n", &f);
  EXPECT_EQ(f.names[1], "Sao Paulo");
  EXPECT_EQ(f.names[3], "Rome");
  EXPECT_EQ(f.bad_lines, 6);
  EXPECT_EQ(sheeter::MakeLabel(sheeter::MakeCode("UPPER"), 1, "Sao Paulo"), "SAO PAULO");
  EXPECT_EQ(sheeter::MakeLabel(sheeter::MakeCode("id-name"), 3, "Rome"), "3-Rome");
  EXPECT_EQ(sheeter::MakeLabel(sheeter::MakeCode("id"), 3, "Rome"), "3");
  EXPECT_EQ(sheeter::MakeCode("shout"), -1);
}

TEST(ScaleBar, LengthsAndCaptions) {
  sheeter::ScaleBar b = sheeter::ChooseScaleBar("km", 1.3e6);
  EXPECT_DOUBLE_EQ(b.length_units, 1000.0);
  EXPECT_EQ(b.caption, "x 1000 km");
  b = sheeter::ChooseScaleBar("km", 180e3);
  EXPECT_DOUBLE_EQ(b.length_units, 200.0);
  EXPECT_EQ(b.caption, "km");
  b = sheeter::ChooseScaleBar("nmi", 4e5);
  EXPECT_DOUBLE_EQ(b.length_units, 200.0);
  EXPECT_EQ(b.caption, "Nautical miles");
  b = sheeter::ChooseScaleBar("MI", 4e9);
  EXPECT_DOUBLE_EQ(b.length_units, 2e6);
  EXPECT_EQ(b.caption, "x 1M mi.");
  EXPECT_DOUBLE_EQ(b.caption_divisor, 1e6);
  b = sheeter::ChooseScaleBar("km", 350.0);
  EXPECT_DOUBLE_EQ(b.length_units, 0.5);
}

}  // namespace

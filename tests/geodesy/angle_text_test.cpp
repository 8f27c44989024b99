// Angle parsing and formatting: the accepted and refused forms, the wrap,
// rounding and the placement of the hemisphere letter.
#include "lib/geodesy/angle_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>

#include "lib/geodesy/constants.h"

using namespace geodesy;

namespace {
constexpr double kPi = std::numbers::pi;
constexpr double kDeg = kPi / 180.0;
double Lat(const char* t) { return ParseAngle(t, LAT_POSITIVE, LAT_NEGATIVE); }
double Lon(const char* t) { return ParseAngle(t, LON_POSITIVE, LON_NEGATIVE); }
std::string Fmt(double deg, const char* code) { return FormatAngle(deg * kDeg, code); }
}  // namespace

TEST(ParseAngle, EquivalentForms) {
  EXPECT_NEAR(Lat("n45:30"), 45.5 * kDeg, 1e-15);
  EXPECT_NEAR(Lat("45.5"), 45.5 * kDeg, 1e-15);
  EXPECT_NEAR(Lat("N45/30"), 45.5 * kDeg, 1e-15);
  EXPECT_NEAR(Lat("+45:30:00"), 45.5 * kDeg, 1e-15);
  EXPECT_NEAR(Lat("s45.5"), -45.5 * kDeg, 1e-15);
  EXPECT_NEAR(Lat("-45.5"), -45.5 * kDeg, 1e-15);
  EXPECT_NEAR(Lat("S45:30"), -45.5 * kDeg, 1e-15);
  EXPECT_NEAR(Lon("w10:20:30.5"), -(10 + 20 / 60.0 + 30.5 / 3600) * kDeg, 1e-15);
  EXPECT_NEAR(Lon("e0.5"), 0.5 * kDeg, 1e-17);
  EXPECT_NEAR(Lat("10:"), 10 * kDeg, 1e-15);  // an empty last field counts 0
}

TEST(ParseAngle, RefusedTexts) {
  for (const char* t : {"x45", "n", "", "-", "1.5:30", "10:20:30:40", "45.5.1", "45 ", " 45", "e45",
                        "45n", "4a5", ".5", "n.", "721"}) {
    EXPECT_EQ(Lat(t), NOVALUE) << '"' << t << '"';
  }
  EXPECT_EQ(Lon("n45"), NOVALUE);                    // latitude letters are not longitude letters
  EXPECT_EQ(Lat("123456789012345678901"), NOVALUE);  // 21 digits
}

TEST(ParseAngle, WrapIntoHalfOpenCircle) {
  EXPECT_NEAR(Lon("190"), -170 * kDeg, 1e-14);
  EXPECT_NEAR(Lon("w190"), 170 * kDeg, 1e-14);
  EXPECT_NEAR(Lon("180"), kPi, 1e-15);
  EXPECT_NEAR(Lon("-180"), -kPi, 1e-15);  // a whole turn is only taken off beyond 180
  EXPECT_NEAR(Lon("w180.5"), 179.5 * kDeg, 1e-14);
  EXPECT_NEAR(Lon("720"), 0.0, 1e-14);  // 4 pi is still allowed
  EXPECT_NEAR(Lon("540"), kPi, 1e-14);
  EXPECT_NEAR(Lon("0:1000"), 1000 / 60.0 * kDeg, 1e-14);  // minutes are not limited to 59
  // Twenty digits of minutes: many turns, reduced without looping for ever.
  const double big = Lon("0:9999999999999999999");
  EXPECT_GE(big, -kPi);
  EXPECT_LE(big, kPi);
}

TEST(ParseAngle, SignLetterInBothSetsIsNegative) {
  EXPECT_NEAR(ParseAngle("x10", "+x", "-x"), -10 * kDeg, 1e-15);
  EXPECT_NEAR(ParseAngle("x10", "", "x"), -10 * kDeg, 1e-15);
}

TEST(FormatAngle, DefaultLatitudeCodesAt45point5) {
  EXPECT_EQ(Fmt(45.5, "nsd6 "), " n45.500000 ");
  EXPECT_EQ(Fmt(45.5, "nsm4 "), " n45:30.0000 ");
  EXPECT_EQ(Fmt(45.5, "nss1 "), " n45:30:00.0 ");
}

TEST(FormatAngle, LetterPlacementAndField) {
  EXPECT_EQ(Fmt(-0.5, "ewd2"), "  w0.50");
  EXPECT_EQ(Fmt(123.25, "ewd2"), "e123.25");
  EXPECT_EQ(Fmt(-5, "ewd0"), "  w5");
  EXPECT_EQ(Fmt(100, "ewd0"), "e100");
  EXPECT_EQ(Fmt(0, "nsd1"), "  n0.0");
  EXPECT_EQ(Fmt(-0.0, "nsd1"), "  n0.0");  // minus zero is not negative
  EXPECT_EQ(Fmt(-179.99, "ewm0"), "w179:59");
  EXPECT_EQ(Fmt(-179.999, "ewm0"), "w180:00");
}

TEST(FormatAngle, RoundingCarriesIntoHigherFields) {
  EXPECT_EQ(Fmt(59.9999999, "nsd6"), " n60.000000");
  EXPECT_EQ(Fmt(9.99999, "nsm2"), " n10:00.00");
  EXPECT_EQ(Fmt(29 + 59.0 / 60 + 59.96 / 3600, "nss1"), " n30:00:00.0");
  EXPECT_EQ(Fmt(29 + 59.0 / 60 + 59.94 / 3600, "nss1"), " n29:59:59.9");
  EXPECT_EQ(Fmt(12.345, "nsd9"), " n12.345000000");
}

TEST(FormatAngle, OddCodesAndBuffers) {
  char buf[ANGLE_TEXT_SIZE];
  EXPECT_STREQ(FormatAngle(10 * kDeg, "nsdx", buf, sizeof buf), " n10");  // non-digit: 0 decimals
  EXPECT_STREQ(FormatAngle(10 * kDeg, "ns", buf, sizeof buf), " n10");
  EXPECT_STREQ(FormatAngle(10 * kDeg, "", buf, sizeof buf), "  10");
  char small[4];
  EXPECT_STREQ(FormatAngle(45.5 * kDeg, "nsd6", small, sizeof small), " n4");
  EXPECT_STREQ(FormatAngle(1e300, "ewd6"), "e***");
  EXPECT_STREQ(FormatAngle(NOVALUE, "ewd6"), "w***");
  EXPECT_STREQ(FormatAngle(NAN, "ewd6"), "w***");
  EXPECT_EQ(Fmt(1000, "ewd0"), "e1000");
}

TEST(FormatAngle, ParseOfFormattedTextRestoresTheAngle) {
  for (double deg = -89.9; deg < 90; deg += 7.3) {
    for (const char* code : {"nsd6", "nsm4", "nss1"}) {
      std::string text = Fmt(deg, code);
      text.erase(0, text.find_first_not_of(' '));
      EXPECT_NEAR(Lat(text.c_str()) / kDeg, deg, 2e-6) << text;
    }
  }
}

TEST(AngleCodes, DefaultsAndValidity) {
  EXPECT_STREQ(DefaultAngleCodes(0).latitude, "nsd6 ");
  EXPECT_STREQ(DefaultAngleCodes(0).longitude, "ewd6");
  EXPECT_STREQ(DefaultAngleCodes(1).latitude, "nss1 ");
  EXPECT_STREQ(DefaultAngleCodes(1).longitude, "ews1");
  EXPECT_STREQ(DefaultAngleCodes(2).latitude, "nsm4 ");
  EXPECT_STREQ(DefaultAngleCodes(-7).longitude, "ewm4");
  EXPECT_TRUE(IsValidAngleCode("nsd6"));
  EXPECT_TRUE(IsValidAngleCode("ews1,"));
  EXPECT_FALSE(IsValidAngleCode("nsx6"));
  EXPECT_FALSE(IsValidAngleCode("nsdx"));
  EXPECT_FALSE(IsValidAngleCode("nsd"));
  EXPECT_FALSE(IsValidAngleCode("nsd61x"));
}

// Colour notation, style parsing, style name resolution and ramp colours.
#include "lib/display/colour.h"
#include "lib/display/styles.h"

#include <gtest/gtest.h>

#include <map>
#include <strings.h>

namespace display {
namespace {

TEST(ColourNames, TableIsSortedAndLookupIsCaseBlind) {
  for (int i = 1; i < kColourNameCount; ++i)
    EXPECT_LT(strcasecmp(kColourNames[i - 1].name, kColourNames[i].name), 0) << kColourNames[i].name;
  uint32_t c = 1;
  // Every entry is found by its own name, in any case.
  for (int i = 0; i < kColourNameCount; ++i) {
    std::string upper = kColourNames[i].name;
    for (char& ch : upper) ch = (char)toupper(ch);
    ASSERT_TRUE(LookupColourName(upper, &c)) << upper;
    EXPECT_EQ(c, kColourNames[i].value);
  }
  EXPECT_TRUE(LookupColourName("REd", &c));
  EXPECT_EQ(c, MakeColour(255, 0, 0));
  EXPECT_TRUE(LookupColourName("Gray", &c));
  EXPECT_EQ(c, MakeColour(128, 128, 128));  // the CSS grey, not X11's
  EXPECT_TRUE(LookupColourName("green", &c));
  EXPECT_EQ(c, MakeColour(0, 128, 0));
  EXPECT_TRUE(LookupColourName("AliceBlue", &c));
  EXPECT_EQ(c, MakeColour(240, 248, 255));
  EXPECT_TRUE(LookupColourName("YellowGreen", &c));
  EXPECT_EQ(c, MakeColour(154, 205, 50));
  EXPECT_FALSE(LookupColourName("Rebecca", &c));
  EXPECT_FALSE(LookupColourName("", &c));
  EXPECT_FALSE(LookupColourName("redd", &c));
  EXPECT_FALSE(LookupColourName("re", &c));
}

TEST(ColourNotation, PaletteCodesAreClampedToTheCube) {
  std::string v = "c0";
  EXPECT_EQ(ReadStyleColour(v), 0u);
  v = "c215";
  EXPECT_EQ(ReadStyleColour(v), MakeColour(255, 255, 255));
  v = "c300";
  EXPECT_EQ(ReadStyleColour(v), MakeColour(255, 255, 255));
  v = "c-4";
  EXPECT_EQ(ReadStyleColour(v), 0u);
  // n = 77: blue 51*5, green 51*((77/12)%6)=51*0, red 102*1 + 51*((77/6)%2)=102+0.
  EXPECT_EQ(PaletteColour(77), MakeColour(102, 0, 255));
  EXPECT_EQ(PaletteColour(6), MakeColour(51, 0, 0));
  EXPECT_EQ(PaletteColour(12), MakeColour(0, 51, 0));
}

TEST(ColourNotation, ComponentsWrapAndDefaultToZero) {
  std::string v = "r255g255b255";
  EXPECT_EQ(ReadStyleColour(v), MakeColour(255, 255, 255));
  v = "g300";
  EXPECT_EQ(ReadStyleColour(v), MakeColour(0, 44, 0));
  v = "b7/w2";
  EXPECT_EQ(ReadStyleColour(v), MakeColour(0, 0, 7));
  v = "";
  EXPECT_EQ(ReadStyleColour(v), 0u);
}

TEST(ColourNotation, NamesAreBlankedSoTheirLettersAreNotRead) {
  // "darkred" contains r, d and k; none of them may leak into the record.
  std::string v = "darkred/w3";
  EXPECT_EQ(ReadStyleColour(v), MakeColour(139, 0, 0));
  EXPECT_EQ(v, "       /w3");
  v = "  Brown  ";
  EXPECT_EQ(ReadStyleColour(v), MakeColour(165, 42, 42));
  EXPECT_TRUE(v.empty());
  // An unknown name before the slash leaves the string alone.
  v = "nothing/r9";
  EXPECT_EQ(ReadStyleColour(v), MakeColour(9, 0, 0));
}

TEST(StyleRecords, LineMarkerAreaTextFields) {
  LineStyle l = ParseLineStyle("red/w3");
  EXPECT_EQ(l.colour, MakeColour(255, 0, 0));
  EXPECT_EQ(l.width, 3);
  EXPECT_EQ(l.dash, 0);
  l = ParseLineStyle("red");
  EXPECT_EQ(l.colour, MakeColour(255, 0, 0));
  EXPECT_EQ(l.width + l.dash + l.pattern + l.v, 0);
  l = ParseLineStyle("c5 d2 w1 w9 q4");
  EXPECT_EQ(l.colour, PaletteColour(5));
  EXPECT_EQ(l.width, 1);  // the first w counts
  EXPECT_EQ(l.dash, 2);
  EXPECT_EQ(l.pattern, -4);
  l = ParseLineStyle("q4p2");
  EXPECT_EQ(l.pattern, 2);  // p wins over q
  l = ParseLineStyle("");
  EXPECT_EQ(l.colour, 0u);
  EXPECT_EQ(l.width, 0);

  MarkerStyle m = ParseMarkerStyle("blue:m18s20");
  EXPECT_EQ(m.colour, MakeColour(0, 0, 255));
  EXPECT_EQ(m.symbol, 18);
  EXPECT_EQ(m.symbol % 16, 2);
  EXPECT_EQ(m.size, 20);

  AreaStyle a = ParseAreaStyle("Khaki/q3");
  EXPECT_EQ(a.colour, MakeColour(240, 230, 140));
  EXPECT_EQ(a.pattern, -3);

  TextStyle t = ParseTextStyle("navy/f4h-10v5k65535");
  EXPECT_EQ(t.colour, MakeColour(0, 0, 128));
  EXPECT_EQ(t.font, 4);
  EXPECT_EQ(t.h, -10);
  EXPECT_EQ(t.v, 5);
  EXPECT_EQ(t.k, 65535);
}

TEST(StyleRecords, RampColoursAndIntensities) {
  RampStyle r = ParseRampStyle("r0.255g10b20.30n5");
  EXPECT_EQ(r.low, MakeColour(0, 10, 20));
  EXPECT_EQ(r.high, MakeColour(255, 255, 30));
  EXPECT_EQ(r.n, 5);
  EXPECT_EQ(RampColour(r, 0), r.low);
  EXPECT_EQ(RampColour(r, 4080), r.high);
  EXPECT_EQ(RampColour(r, 2040), MakeColour(127, 132, 25));
  EXPECT_EQ(RampColour(r, 99999), r.high);  // clamped
  // Equal low and high: the range runs up to 255 from the low colour.
  RampStyle same = ParseRampStyle("r100.100g100.100b100.100");
  EXPECT_EQ(RampColour(same, 0), MakeColour(100, 100, 100));
  EXPECT_EQ(RampColour(same, 4080), MakeColour(255, 255, 255));
  // Missing letters: low 0 and high 255 per component.
  RampStyle blank = ParseRampStyle("");
  EXPECT_EQ(blank.low, 0u);
  EXPECT_EQ(blank.high, MakeColour(255, 255, 255));
}

TEST(StyleRecords, CellOrderColoursRunFromBackgroundToStyle) {
  const uint32_t bg = MakeColour(255, 255, 255), fg = MakeColour(0, 0, 255);
  EXPECT_EQ(CellOrderColour(bg, fg, 0, 11), bg);
  EXPECT_EQ(CellOrderColour(bg, fg, 10, 11), fg);
  EXPECT_EQ(CellOrderColour(bg, fg, 5, 11), MakeColour(128, 128, 255));
  EXPECT_EQ(CellOrderColour(bg, fg, 0, 1), bg);  // a one-cell index does not divide by zero
}

TEST(StyleResolution, ArgumentThenPrefixedKeyThenEmpty) {
  std::map<std::string, std::string> store = {{"coastline", "blue/w1"},
                                              {"hpgl.mono.coastline", "p1"},
                                              {"hpgl.color.coastline", "green"}};
  StyleLookup lookup = [&](const std::string& k) -> const char* {
    auto it = store.find(k);
    return it == store.end() ? nullptr : it->second.c_str();
  };
  EXPECT_EQ(ResolveStyleValue("red", "coastline", 0, lookup), "red");
  EXPECT_EQ(ResolveStyleValue(nullptr, "coastline", 0, lookup), "blue/w1");
  EXPECT_EQ(ResolveStyleValue(nullptr, "coastline", 1, lookup), "p1");
  EXPECT_EQ(ResolveStyleValue(nullptr, "coastline", 2, lookup), "green");
  EXPECT_EQ(ResolveStyleValue(nullptr, "coastline", 7, lookup), "green");
  EXPECT_EQ(ResolveStyleValue(nullptr, "object.area", 0, lookup), "");
  EXPECT_EQ(ResolveStyleValue(nullptr, "coastline", 0, nullptr), "");
}

}  // namespace
}  // namespace display

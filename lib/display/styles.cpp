// Style values: resolution by target and parsing into the five records.
//
// Every parser first takes the colour off the front of the value (which may
// blank out a colour name), then reads its letters from what is left. The
// pattern is the only signed letter pair: "p" wins over "q".
#include "lib/display/styles.h"

#include "lib/display/colour.h"

#include <cstdlib>

namespace display {

namespace {

int16_t Pattern(const std::string& v) {
  bool found = false;
  const long p = LetterNumber(v, 'p', &found);
  if (found) return (int16_t)p;
  return (int16_t)-LetterNumber(v, 'q');
}

uint16_t U16(const std::string& v, char letter) { return (uint16_t)LetterNumber(v, letter); }
int16_t S16(const std::string& v, char letter) { return (int16_t)LetterNumber(v, letter); }

// A ramp component: "r" low [. high]; missing low 0, missing high 255.
void RampComponent(const std::string& v, char letter, uint32_t* low, uint32_t* high) {
  *low = 0;
  *high = 255;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] != letter || i + 1 >= v.size() || v[i + 1] < '0' || v[i + 1] > '9') continue;
    char* end = nullptr;
    *low = (uint32_t)strtol(v.c_str() + i + 1, &end, 10) & 0xff;
    if (*end == '.' && end[1] >= '0' && end[1] <= '9') *high = (uint32_t)strtol(end + 1, nullptr, 10) & 0xff;
    return;
  }
}

}  // namespace

const char* StylePrefix(int plot_mode) {
  if (plot_mode <= 0) return "";
  return plot_mode == 1 ? "hpgl.mono." : "hpgl.color.";
}

std::string ResolveStyleValue(const char* argument, const std::string& style_name, int plot_mode,
                              const StyleLookup& lookup) {
  if (argument) return argument;
  if (!lookup) return "";
  const char* text = lookup(std::string(StylePrefix(plot_mode)) + style_name);
  return text ? text : "";
}

LineStyle ParseLineStyle(std::string value) {
  LineStyle s;
  s.colour = ReadStyleColour(value);
  s.pattern = Pattern(value);
  s.width = U16(value, 'w');
  s.dash = U16(value, 'd');
  s.v = U16(value, 'v');
  return s;
}

MarkerStyle ParseMarkerStyle(std::string value) {
  MarkerStyle s;
  s.colour = ReadStyleColour(value);
  s.pattern = Pattern(value);
  s.size = U16(value, 's');
  s.symbol = U16(value, 'm');
  return s;
}

AreaStyle ParseAreaStyle(std::string value) {
  AreaStyle s;
  s.colour = ReadStyleColour(value);
  s.pattern = Pattern(value);
  return s;
}

TextStyle ParseTextStyle(std::string value) {
  TextStyle s;
  s.colour = ReadStyleColour(value);
  s.pattern = Pattern(value);
  s.font = S16(value, 'f');
  s.v = S16(value, 'v');
  s.h = S16(value, 'h');
  s.k = U16(value, 'k');
  return s;
}

RampStyle ParseRampStyle(std::string value) {
  RampStyle s;
  uint32_t lr, hr, lg, hg, lb, hb;
  RampComponent(value, 'r', &lr, &hr);
  RampComponent(value, 'g', &lg, &hg);
  RampComponent(value, 'b', &lb, &hb);
  s.low = MakeColour(lr, lg, lb);
  s.high = MakeColour(hr, hg, hb);
  s.pattern = Pattern(value);
  s.n = U16(value, 'n');
  s.s = U16(value, 's');
  return s;
}

uint32_t RampColour(const RampStyle& ramp, int t) {
  if (t < 0) t = 0;
  if (t > 4080) t = 4080;
  const bool same = ramp.low == ramp.high;
  uint32_t out[3];
  const uint32_t lo[3] = {RedOf(ramp.low), GreenOf(ramp.low), BlueOf(ramp.low)};
  const uint32_t hi[3] = {RedOf(ramp.high), GreenOf(ramp.high), BlueOf(ramp.high)};
  for (int i = 0; i < 3; ++i) {
    const int range = same ? 255 - (int)lo[i] : (int)hi[i] - (int)lo[i];
    out[i] = (uint32_t)((int)lo[i] + t * range / 4080) & 0xff;
  }
  return MakeColour(out[0], out[1], out[2]);
}

uint32_t CellOrderColour(uint32_t background, uint32_t colour, long n, long count) {
  const long den = count > 1 ? count - 1 : 1;
  const long lo[3] = {(long)RedOf(background), (long)GreenOf(background), (long)BlueOf(background)};
  const long hi[3] = {(long)RedOf(colour), (long)GreenOf(colour), (long)BlueOf(colour)};
  uint32_t out[3];
  for (int i = 0; i < 3; ++i) out[i] = (uint32_t)((lo[i] + (hi[i] - lo[i]) * n / den) & 0xff);
  return MakeColour(out[0], out[1], out[2]);
}

}  // namespace display

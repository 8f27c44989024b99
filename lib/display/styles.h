// Drawing styles: how a command's style is found and what it holds.
//
// A drawing command takes an optional style argument, which is the style value
// itself; without it the value is the initialisation-file entry under the
// command's style name ("coastline", "object.area", ...) with a prefix that
// depends on the drawing target: none on the screen, "hpgl.mono." while a
// monochrome plot is active (plot mode 1), "hpgl.color." for a colour plot
// (plot mode 2 and above). A missing entry is the empty value, which draws in
// black with every other field 0.
//
// After its colour (colour.h) a value holds letters followed by decimal
// numbers anywhere in the rest of the string; the first occurrence of each
// letter counts and a missing letter gives 0. "p" n is the pattern +n; when
// there is no "p", "q" n gives -n.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace display {

// Line pens: pattern, width in pixels (0 = the thinnest line), dash form used
// with width 0 (1 dotted, 2 dashed, 3 dash-dotted, else solid), v spare.
struct LineStyle {
  uint32_t colour = 0;
  int16_t pattern = 0;
  uint16_t width = 0;
  uint16_t dash = 0;
  uint16_t v = 0;
};

// Markers: size s in pixels (0 = the 16-pixel symbols as they are) and the
// symbol m, taken modulo 16 when drawn.
struct MarkerStyle {
  uint32_t colour = 0;
  int16_t pattern = 0;
  uint16_t size = 0;
  uint16_t symbol = 0;
};

// Areas: pattern p > 0 hatch (p - 1) mod 14, p < 0 tiled pattern (-p - 1) mod
// 8, 0 solid.
struct AreaStyle {
  uint32_t colour = 0;
  int16_t pattern = 0;
};

// Text: font 0..5 (others mean 2), vertical offset v and horizontal offset h
// in pixels with the placement rules of the text drawing state, background k
// (65535 = transparent, else opaque in the map background colour).
struct TextStyle {
  uint32_t colour = 0;
  int16_t pattern = 0;
  int16_t font = 0;
  int16_t v = 0;
  int16_t h = 0;
  uint16_t k = 0;
};

// Colour ramps: "r", "g", "b" each a low number optionally followed by a point
// and a high number ("r0.255"); the low colour takes the low numbers (missing
// 0), the high colour the high ones (missing 255).
struct RampStyle {
  uint32_t low = 0;
  uint32_t high = 0;
  int16_t pattern = 0;
  uint16_t n = 0;
  uint16_t s = 0;
};

// Looks up a key of the initialisation file: its text, or null when absent.
using StyleLookup = std::function<const char*(const std::string& key)>;

// The key prefix for a plot mode: "" (0 and below), "hpgl.mono." (1), "hpgl.color." (2+).
const char* StylePrefix(int plot_mode);

// The style value of a drawing command: the argument when given (non-null),
// else the entry prefix + style_name, else "".
std::string ResolveStyleValue(const char* argument, const std::string& style_name, int plot_mode,
                              const StyleLookup& lookup);

LineStyle ParseLineStyle(std::string value);
MarkerStyle ParseMarkerStyle(std::string value);
AreaStyle ParseAreaStyle(std::string value);
TextStyle ParseTextStyle(std::string value);
RampStyle ParseRampStyle(std::string value);

// Colour for intensity t in 0..4080 (clamped): each component is
// low + t * range / 4080, range being high - low, or 255 - low when the low
// and high colours are equal.
uint32_t RampColour(const RampStyle& ramp, int t);

// Cell-order colour of cell n of count cells: each component interpolated in
// integers between the background (cell 0) and the area colour (the last cell),
// taken modulo 256.
uint32_t CellOrderColour(uint32_t background, uint32_t colour, long n, long count);

}  // namespace display

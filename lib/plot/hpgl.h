// HP-GL/2 text of a plot: numbers, polylines, polygons, dots, labels, pens
// and fills.
//
// Every routine appends to a std::string, so a caller decides where the bytes
// go (a plot file, a sheet, a test). Coordinates are plotter units, x to the
// right and y upwards; device points in doubles are rounded to the nearest
// unit.
//
// Numbers are written as the PE (polyline encoded) instruction reads them in
// 8-bit mode, base 64: a signed value v becomes u = 2v (v >= 0) or
// u = 2|v| + 1 (v < 0); while u >= 64 the digit (u mod 64) + 63 is written and
// u becomes u div 64; the last digit is u + 191. So -1 is the single byte 194
// and 32 the two bytes 63, 192.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "lib/display/draw_state.h"
#include "lib/display/map_geometry.h"
#include "lib/display/styles.h"

namespace plot {

// Appends the PE encoding of v (any 32-bit value: at most 6 bytes).
void EncodeNumber(std::string& out, int32_t v);
// The same into a buffer of at least 6 bytes; returns the byte count.
int EncodeNumber(char* out, int32_t v);

// Plotter units of a device point: rounded to the nearest, clamped to the
// range PE can carry safely in differences.
int32_t PlotUnit(double v);

// A polyline: "PE=<", the first point absolute (pen up), then each further
// point as its difference to the previous one, then ";". Fewer than two
// points write nothing.
void AppendPolyline(std::string& out, const display::DrawPoint* p, size_t n);
// A filled polygon of n > 2 points: "PE=<", the first point, ";PM0;", "PE",
// the differences to points 1 to n - 1, ";PM2;FP;" (the polygon closes by
// itself). Fewer than three points write nothing.
void AppendPolygon(std::string& out, const display::DrawPoint* p, size_t n);
// A ring in integer plotter units (a traced outline).
struct Ring {
  std::vector<display::PixelPoint> points;  // closed implicitly, at least 3
};
// Several rings filled as one shape by FP's even-odd rule: "PE=<" the first
// ring's start ";PM0;PE" its differences; for each further ring ";PM1;PE<"
// the pen-up move to its start and its differences; then ";PM2;FP;".
void AppendRings(std::string& out, const std::vector<Ring>& rings);
// A marker dot: "PE=<", x and y, ";PD;".
void AppendDot(std::string& out, double x, double y);
// A label: "PU%d,%d;LB", the text, byte 3, ";".
void AppendLabel(std::string& out, double x, double y, const std::string& text);

// Shading level of a pattern: 0 for p <= 0, 50 for 1..6, 25 for 7..8, 12 for
// 9..12, 6 for 13..16, 1 from 17.
int ShadingLevel(int pattern);
// Pen width text of a style width w: "PW0;" for 0, else "PW%03.1f;" with
// (2w + 1) / 10 millimetres.
std::string PenWidth(int width);

// Plot modes: 1 monochrome, 2 colour (higher values count as colour).
inline constexpr int kMonoPlot = 1;
inline constexpr int kColourPlot = 2;

// The pen commands of a line style.
// Monochrome: "PA;SP0;TR0;" when the colour is the background, else
// "PA;SP1;TR;"; "\nLT%d,2,1;" with the dash (line type d, pattern 2 mm) or
// "\nLT;" for 0; the width; "SV1,%d;" with the shading level, or "SV;".
// Colour: "\nPA;LT%d,2,1;" or "\nPA;LT;", then "SP%d;" with the colour value
// in decimal and the width.
std::string PenCommands(int mode, const display::LineStyle& style, uint32_t background);
// The fill-type command of an area pattern (the table of the plot format:
// 0 "AC;FT10,100", 1 3 5 "AC;FT10,50", ... 16 "AC10,10;FT10,6", others
// "AC;FT10,1"), without a terminating ";".
const char* FillCommand(int pattern);
// "DF;IW%d,%d,%d,%d;" with the frame (left, bottom, right, top).
std::string WindowCommand(const display::DeviceFrame& frame);

}  // namespace plot

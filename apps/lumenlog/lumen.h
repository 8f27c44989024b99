// lumenlog's drawing: a backing picture of 32-bit pixels and the drawing
// state the requests change (current position, pen of style, width and
// colour, drawing mode).
//
// Requests are numbered from U = 1024, the first user message number of the
// platform the programs that draw here come from:
//   U+0 to the front        U+1 beep, client size (x, y)   U+2 fill (colour)
//   U+3 line to (x, y)      U+4 move to (x, y)             U+5 pixel (colour)
//   U+6 nothing             U+7 pen colour                 U+8 pen style
//   U+9 pen width           U+10 drawing mode              U+11 marker (shape)
//   U+12 text (the request's text)
// Positions come in the second parameter: x in its low, y in its high 16
// bits, both signed. Colours are 0x00BBGGRR (0x0000FF is red).
//
// Lines are drawn pixel by pixel so that the sixteen binary raster operations
// of pen and pixel (1 black, 6 invert, 7 exclusive-or, 13 copy, 16 white, ...)
// apply exactly; a line leaves its end pixel undrawn, as the position it
// moves to is the start of the next. Pen styles: 0 solid, 1 dash, 2 dot,
// 3 dash-dot, 4 dash-dot-dot, 5 none; patterns apply to thin pens, a wider pen
// is solid and round. Markers and pixels are set in their colour whatever the
// mode; text is drawn in black, centred on x with its bottom on y.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window_channel.h"

namespace lumenlog {

inline constexpr std::uint32_t kUser = 1024;
inline constexpr int kMaxSide = 4096;

struct TextCache;  // the font's glyphs, made at the first text

struct Canvas {
  cairo_surface_t* picture = nullptr;  // ARGB32, opaque
  TextCache* glyphs = nullptr;
  unsigned char* data = nullptr;       // the picture's pixels and row length in bytes
  int stride = 0;
  int width = 0, height = 0;
  int x = 0, y = 0;                    // current position
  int pen_style = 0, pen_width = 0;
  std::uint32_t pen_colour = 0;        // 0x00BBGGRR
  int mode = 13;                       // copy
  int beeps = 0;                       // U+1 beeps, counted
  bool front_requests = false;         // U+0 seen (the window raises itself)
};

bool CanvasCreate(Canvas& c, int width, int height);
void CanvasDestroy(Canvas& c);
// New client size, each side clamped to 1 ... 4096; the overlap is kept and
// the rest is white.
void CanvasResize(Canvas& c, int width, int height);

// A datagram carries one request or several whole requests back to back
// (a client drawing many steps sends them together). Splits it into its
// requests; false, with `out` emptied, when any part is shorter than its
// header and text say or a part is left over: the datagram is ignored whole.
bool SplitRequests(const void* data, std::size_t size, std::vector<platform::WindowRequest>* out);

// A request read in place: its text points into the datagram.
struct RequestView {
  std::uint32_t number = 0;
  std::int64_t first = 0, second = 0;
  std::string_view text;
};
// SplitRequests without copies (the window's loop): the same decisions.
bool SplitRequestViews(const void* data, std::size_t size, std::vector<RequestView>* out);

// What a request asked for beyond the picture.
enum class Effect { kNone, kDrawn, kRaise, kResized, kIgnored };
Effect Apply(Canvas& c, const platform::WindowRequest& r);
Effect Apply(Canvas& c, const RequestView& r);

// The raster operation `mode` (1 ... 16) of pen and pixel, bit by bit on
// 24-bit colours; other modes leave the pixel.
std::uint32_t RasterOp(int mode, std::uint32_t pen, std::uint32_t pixel);

// The pixels of a marker shape relative to its centre; returns their number.
int MarkerPixels(int shape, int (*dx)[2], int capacity);

// Draws a text as request U+12 does. Printable ASCII goes through the
// glyph cache (the same pixels as Cairo's own text drawing, at a fraction of
// its cost); any other text is drawn by Cairo. `use_cache` false always
// draws by Cairo (the reference the cache is checked against).
void DrawText(Canvas& c, int x, int y, std::string_view text, bool use_cache = true);

// 0x00RRGGBB of a pixel of the picture (0 outside it).
std::uint32_t PixelAt(const Canvas& c, int x, int y);

}  // namespace lumenlog

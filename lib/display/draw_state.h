// The display surface and its drawing states.
//
// DisplaySurface is the map picture: the backing bitmap (a Cairo ARGB32 image
// surface, always opaque, that repaints the window and that SaveBitmap
// writes), the exclusive-or overlay (an A8 surface of the same size: a pixel
// is set or not; drawing the same line twice clears it again), and the
// background colour. The overlay is shown over the bitmap with the colours
// under it inverted, and becomes part of the bitmap only by MergeOverlay
// (UpdateBitmap). Device units are pixels, x to the right and y down from the
// top-left corner of the picture.
//
// DrawState is one open drawing operation on a surface, of one of six kinds:
//   0 plain    nothing but the surface
//   1 markers  symbols stamped into a one-channel mask, laid on in the style
//              colour when the state closes (or when the buffer fills)
//   2 lines    polylines in the pen of the style (colour, width, dash form)
//   3 areas    polygons filled into a mask; at close the mask is patterned
//              (p > 0 hatch (p-1) mod 14, p < 0 tile (-p-1) mod 8 every 80
//              pixels, 0 solid) and laid on in the style colour
//   4 ramp     single pixels in colours of the ramp
//   5 text     text in one of six fonts with the placement rules below
// Only one state is open on a DrawState at a time; opening an open state is
// refused (status kStateOpen), which callers treat as an internal fault.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>
#include <vector>

#include "lib/display/styles.h"

namespace display {

// Colour of the map background when nothing else is said: white.
inline constexpr uint32_t kDefaultBackground = 0x00ffffffu;

struct DisplaySurface {
  cairo_surface_t* bitmap = nullptr;   // ARGB32, opaque
  cairo_surface_t* overlay = nullptr;  // A8, 0 or 255 per pixel
  int width = 0;
  int height = 0;
  uint32_t background = kDefaultBackground;
  // Counts every change of the picture, so a window knows when to present.
  uint64_t generation = 0;
};

// Makes the bitmap and the overlay, the bitmap filled with the background.
// False when memory runs out ("Bitmap creation failed - memory?"); the
// surface is then left empty.
bool CreateDisplaySurface(DisplaySurface* s, int width, int height, uint32_t background);
// New size: both surfaces are made again, filled with the background.
bool ResizeDisplaySurface(DisplaySurface* s, int width, int height);
void DestroyDisplaySurface(DisplaySurface* s);

// Clear: a new background colour when one is given (colour >= 0), then the
// whole picture in the background and the overlay emptied.
void ClearDisplaySurface(DisplaySurface* s, long colour = -1);

// An exclusive-or line on the overlay, one pixel wide, ends included once.
void XorLine(DisplaySurface* s, int x0, int y0, int x1, int y1);
// UpdateBitmap: the overlay's pixels invert the bitmap under them, and the
// overlay is emptied.
void MergeOverlay(DisplaySurface* s);
// What the window shows: the bitmap with the overlay's pixels inverted,
// written as ARGB32 words into out (stride in bytes).
void ComposeView(DisplaySurface* s, uint32_t* out, int stride);

// Reads the bitmap's pixel as a colour value (0x00BBGGRR); out of range: 0.
uint32_t SurfacePixel(DisplaySurface* s, int x, int y);

// The shared pictures and fonts: 14 hatch patterns (16 x 16, repeating),
// 8 tiled patterns (80 x 80), the strip of 16 marker symbols (16 x 16 each,
// centre at (7, 7)), and six fonts. Made once; null when they could not be
// made ("Unable to create regular patterns?").
struct DisplayResources {
  cairo_surface_t* hatch[14] = {};
  cairo_surface_t* tiles[8] = {};
  cairo_surface_t* symbols = nullptr;  // A8, 256 x 16
};
const DisplayResources* GetDisplayResources();

// The six text fonts: face, weight and pixel size. Others numbers use font 2.
struct FontChoice {
  const char* face;
  bool bold;
  bool italic;
  double size;
};
FontChoice TextFont(int font);

enum DrawKind { kDrawPlain = 0, kDrawMarkers = 1, kDrawLines = 2, kDrawAreas = 3, kDrawRamp = 4, kDrawText = 5 };

enum DrawStatus {
  kDrawOk = 0,
  kStateOpen = 1,       // a state is still open: "istat == 0"
  kGraphicsMemory = 2,  // no mask could be made: "Graphics memory"
};

struct DrawPoint {
  double x = 0.0;
  double y = 0.0;
};

struct DrawState;

// The second target of a drawing state: a plot. A plot (lib/plot) supplies
// the table of what each drawing operation does there, so the drawing code
// reaches a plot file through the same calls that draw the screen, and
// lib/display knows nothing of plots. Each operation gets the plot's own
// pointer. open runs once the kind and the style are set; polyline gets each
// buffered piece (at most the target's capacity points, the next piece
// starting at the last point); span gets the fill decisions of MaskSpan on
// the target's fill grid (width x height cells); close finishes the state.
// Plain and ramp states write nothing to a plot.
struct PlotOps {
  void (*open)(void* plot, const DrawState& d) = nullptr;
  void (*polyline)(void* plot, const DrawPoint* points, size_t n) = nullptr;
  void (*polygon)(void* plot, const DrawPoint* points, size_t n) = nullptr;
  void (*rings)(void* plot, const std::vector<std::vector<DrawPoint>>& rings) = nullptr;
  void (*span)(void* plot, int y, int x0, int x1) = nullptr;
  void (*marker)(void* plot, double x, double y) = nullptr;
  void (*text)(void* plot, double x, double y, const std::string& text) = nullptr;
  void (*close)(void* plot, const DrawState& d) = nullptr;
};
struct PlotTarget {
  const PlotOps* ops = nullptr;
  void* plot = nullptr;
  size_t capacity = 64;           // points of a polyline piece
  int fill_width = 0, fill_height = 0;  // the grid MaskSpan decides on
};

struct DrawState {
  int kind = -1;  // -1: closed
  // Set before opening to draw on a plot instead of the surface (null: the
  // surface). The target outlives the open state.
  const PlotTarget* plot = nullptr;
  DisplaySurface* surface = nullptr;
  cairo_t* cr = nullptr;               // on the bitmap
  cairo_surface_t* mask = nullptr;     // markers and areas
  cairo_t* mask_cr = nullptr;
  LineStyle line;
  MarkerStyle marker;
  AreaStyle area;
  TextStyle text;
  RampStyle ramp;
  // The point buffer: a polyline being collected, or markers waiting.
  std::vector<DrawPoint> buffer;
  size_t capacity = 512;
  bool in_polyline = false;
  bool mask_direct = false;  // the mask's memory was written directly
  bool cancelled = false;  // set from outside (Escape); drawing loops stop
  bool drew = false;       // anything reached the surface or the mask
};

int OpenPlain(DrawState* d, DisplaySurface* s);
int OpenMarkers(DrawState* d, DisplaySurface* s, const MarkerStyle& style);
int OpenLines(DrawState* d, DisplaySurface* s, const LineStyle& style);
int OpenAreas(DrawState* d, DisplaySurface* s, const AreaStyle& style);
int OpenRamp(DrawState* d, DisplaySurface* s, const RampStyle& style);
int OpenText(DrawState* d, DisplaySurface* s, const TextStyle& style);
// Draws what is buffered, lays on a mask, and closes. Closing a closed state
// does nothing.
void CloseDrawState(DrawState* d);

// Polylines: begin at a point, add points, finish. When the buffer is full the
// collected part is drawn and a new part starts at the last point, so the line
// stays continuous.
void BeginPolyline(DrawState* d, double x, double y);
void AddPolylinePoint(DrawState* d, double x, double y);
void FinishPolyline(DrawState* d);
// Filled polygon (areas), n >= 3 points; closed implicitly.
void FillPolygon(DrawState* d, const DrawPoint* points, size_t n);
// A polygon painted straight onto the picture in a colour (plain state).
void FillPolygonColour(DrawState* d, const DrawPoint* points, size_t n, uint32_t colour);
// Several rings filled as one shape by the even-odd rule (holes).
void FillRings(DrawState* d, const std::vector<std::vector<DrawPoint>>& rings);
// Sets mask pixels x0 <= x < x1 of row y directly (areas), clipped to the
// picture: the fast way to fill what was decided pixel by pixel.
void MaskSpan(DrawState* d, int y, int x0, int x1);
// Marker at a point (markers): symbol m mod 16; 0 is a single pixel.
void Marker(DrawState* d, double x, double y);
// A pixel in a colour (ramp and plain states).
void Pixel(DrawState* d, int x, int y, uint32_t colour);
// Text at a point (text state) with the style's offsets and alignment:
// h > 0 left-aligned at x + h, h = 0 centred on x, h < 0 right-aligned at
// x + h; v > 0 the text's bottom at y - v, v < 0 its top at y - v, v = 0
// centred (baseline at y plus a third of the ascent less internal leading).
void Text(DrawState* d, double x, double y, const std::string& text);

}  // namespace display

// The polyline pen: lines on the globe drawn on a map.
//
// Every line the map shows (coastline, grid, cell edges, the legs of line
// sets and the rings of region sets) is a sequence of positions joined by
// great-circle arcs, the shorter way round. The pen takes those positions and
// turns each arc into device polylines:
//
//   - the arc is followed, not its end points' chord: it is halved until the
//     chord of every part lies within kPenTolerance (half a pixel) of the
//     projected arc (tested at the part's midpoint), and no part is longer
//     than kPenLongestPart radians, so a leg of 179 degrees bends as it
//     should on every projection (an arc under 0.01 radians whose ends land
//     within a pixel of each other is drawn as its chord at once);
//   - on projections with a seam (wwmerc, wwview, wwpltcrr, mercator,
//     eqdistcyl, conical: the meridian opposite the central one) the arc is
//     split exactly where it crosses the seam, each side ending at its own
//     edge of the map, and a vertex lying on the seam is drawn on the side
//     of the arc that uses it;
//   - where the arc leaves what the projection can show (the far side of an
//     orthographic globe, the far hemisphere of a gnomonic map, the poles of
//     a cylinder, points that land absurdly far off the frame) the piece ends
//     at the last point that can be shown, found by halving the arc down to
//     kPenBoundary radians; it starts again where the arc comes back;
//   - what lies outside the frame (widened by kPenFrameMargin pixels) is cut
//     off, so a line with one end out of view is drawn up to the frame edge.
//
// So no part of a line that can be seen is dropped, whatever its end points
// do. The pen writes device points (doubles, x right and y down on a screen
// frame, integers at pixel centres as in DrawState) to a PenOutput: a
// DrawState of the lines kind, or any other receiver of polylines (a plot
// file, a polygon assembler) through three callbacks.
#pragma once

#include <cstdint>

#include "lib/display/draw_state.h"
#include "lib/display/map_geometry.h"

namespace display {

// Device points further than this from the frame are not drawn: they cannot
// be drawn faithfully.
inline constexpr double kFarDevice = 1.0e6;
// Largest distance in pixels between a projected arc and the chord drawn for it.
inline constexpr double kPenTolerance = 0.5;
// Longest part of an arc drawn as one chord, radians (about 5.7 degrees).
inline constexpr double kPenLongestPart = 0.1;
// Where an arc leaves the drawable map, the boundary is found to this many
// radians (about 6 mm on the earth).
inline constexpr double kPenBoundary = 1.0e-9;
// An arc with both ends out of the drawable map is looked into (halved) when
// it is longer than this, radians (about 11 degrees).
inline constexpr double kPenHiddenPart = 0.2;
// Lines are cut this many pixels outside the frame.
inline constexpr double kPenFrameMargin = 2.0;

// Where a pen's polylines go. begin starts a polyline at a device point, add
// continues it, finish ends it (begin is always followed by at least one add
// before finish).
struct PenOutput {
  void* context = nullptr;
  void (*begin)(void* context, double x, double y) = nullptr;
  void (*add)(void* context, double x, double y) = nullptr;
  void (*finish)(void* context) = nullptr;
};
// The output that draws into an open lines state.
PenOutput LinesOutput(DrawState* d);

// The seam of a projection: the half-plane of the meridian opposite the
// central longitude. False for a projection without one.
bool ProjectionSeam(const MapGeometry& g, DirectionCosines* central, DirectionCosines* east);

// The exact device point of a position (before rounding to a pixel); false
// when it does not project with status 0 or lands further than kFarDevice
// from the frame.
bool PositionToDeviceExact(const MapGeometry& g, const DirectionCosines& u, double* x, double* y);

struct PolylinePen {
  // A pen drawing into an open lines state.
  PolylinePen(const MapGeometry& geometry, DrawState* state);
  // A pen writing to any output.
  PolylinePen(const MapGeometry& geometry, const PenOutput& output);
  ~PolylinePen() { Break(); }
  PolylinePen(const PolylinePen&) = delete;
  PolylinePen& operator=(const PolylinePen&) = delete;

  // Starts a new line at u (ends the current one).
  void MoveTo(const DirectionCosines& u);
  // Draws the great-circle arc from the last position to u. Without a last
  // position (at the start, after Break) this is MoveTo. Two positions less
  // than a squared chord of 2.458e-14 apart draw nothing; an arc between
  // opposite positions has no defined great circle and is not drawn.
  void LineTo(const DirectionCosines& u);
  // LineTo; the name the tracing loops use.
  void Add(const DirectionCosines& u) { LineTo(u); }
  // Ends the current line; the next position starts a new one.
  void Break();

  // Polylines begun, and device points written, so far.
  int pieces = 0;
  int64_t points = 0;

 private:
  struct Sample {
    DirectionCosines u;
    double x = 0.0, y = 0.0;
    bool ok = false;
  };
  Sample Take(const DirectionCosines& u) const;
  Sample TakeOnSide(const DirectionCosines& u, double side) const;
  double SideOf(const DirectionCosines& u) const;
  void Arc(const DirectionCosines& a, const DirectionCosines& b);
  void Part(const Sample& a, const Sample& b, int depth);
  void Segment(const Sample& a, const Sample& b);
  void EndPiece();

  const MapGeometry& g_;
  PenOutput out_;
  bool seam_ = false;
  bool hemisphere_ = false;     // only the near hemisphere can be drawn (ortho)
  DirectionCosines central_, east_;
  double x0_ = 0, y0_ = 0, x1_ = 0, y1_ = 0;  // the frame widened by the margin
  bool have_last_ = false;      // a last position exists
  DirectionCosines last_;
  double last_side_ = 1.0;      // the seam side of the last position off the seam
  bool open_ = false;           // a polyline is being written
  double px_ = 0.0, py_ = 0.0;  // its last device point
  double ox_ = 0.0, oy_ = 0.0;  // the last device point written
  bool pending_ = false;        // (px_, py_) is not written yet
  bool cached_ = false;         // cached_sample_ is the last position's sample
  Sample cached_sample_;
};

}  // namespace display

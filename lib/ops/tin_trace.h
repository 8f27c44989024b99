// The trace record of the planar hull and the TIN construction.
//
// Library code never prints. A caller that wants to watch the construction
// (the TIN test driver does; the interpreter does not) passes a trace record:
// `text` receives every trace message already formatted, newline included,
// and the drawing callbacks receive the geometry of each step. Any member may
// be null; a null record traces nothing.
#pragma once

namespace ops {

struct PlanarPoint {
  double x, y;
};

struct TinTrace {
  void* ctx = nullptr;
  void (*text)(void* ctx, const char* message) = nullptr;
  // One edge of the computed or given hull, from a to b.
  void (*hull_edge)(void* ctx, PlanarPoint a, PlanarPoint b) = nullptr;
  // One triangle of the initial fan (counter-clockwise vertices).
  void (*fan_triangle)(void* ctx, const PlanarPoint v[3]) = nullptr;
  // The point about to be inserted.
  void (*inserted_point)(void* ctx, PlanarPoint p) = nullptr;
  // A triangle created or changed by an insertion, with its number.
  void (*changed_triangle)(void* ctx, int triangle, const PlanarPoint v[3]) = nullptr;
};

// printf-style message to the trace's text sink (nothing when there is none).
void TinTracef(const TinTrace* trace, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace ops

// Surface rendering of a TIN Pset: hypsometric tints and hill shading
// (DisplaySurfaceHypso, DisplaySurfaceShade).
//
// The TIN is drawn triangle by triangle into the map picture: each vertex
// of a cell's triangles is restored to a unit vector, projected forward and
// turned into exact device coordinates (pixel k covers [k, k + 1)), and the
// triangle is filled row by row at the pixel centres, a value interpolated
// across it barycentrically in device space. A triangle is skipped when a
// vertex does not project (the far side of an ortho globe, beyond a
// Mercator pole), and on maps with a seam (ProjectionHasSeam: the tileset's
// too) when it spans more than two thirds of the frame width (it lies
// across the seam). Shared edges are
// filled by both triangles (no gap can open between them); triangles that
// two neighbouring cells both keep are drawn twice with the same colours.
// A cell without triangles has one height everywhere: its Voronoi polygon
// is drawn as a fan about the cell centre in that height. A vertex whose
// stored height is not finite or is the "no value" mark skips its
// triangles, and such heights take no part in the height range.
//
// Heights to colours. The ramp runs over the height range of the whole
// object (the least and greatest own-point heights of its cells, zmin and
// zmax), so a view shows the same colour for the same height wherever it
// is panned: intensity t = 4080 (z - zmin) / (zmax - zmin), rounded, 0 for
// a flat object, and the colour is the RampStyle's colour of t.
//
// Shading. Each triangle's normal is taken in its cell's tangent frame
// (east, north, up), the plane coordinates scaled to metres by the
// ellipsoid's semi-major axis and the heights, in metres, multiplied by the
// exaggeration n of the style (1 when n is 0). The light comes from the
// north-west (azimuth 315 degrees) at 45 degrees above the horizon:
// L = (-1/2, 1/2, 1/sqrt 2); the brightness b = max(0, N.L) of a unit
// normal N is 1/sqrt 2 on flat ground and 1 on a slope facing the light at
// 45 degrees. The shaded presentation alone colours each triangle with the
// ramp at t = 4080 b (low colour in shadow, high colour in full light).
// With s > 0 in the style (a percentage, at most 100) it is blended with
// the hypsometric colour: each component of the height's colour times
// ((100 - s) + s b / (1/sqrt 2)) / 100, clamped to 255, so flat ground
// keeps its tint, slopes towards the light are lighter and those away from
// it darker.
#pragma once

#include <cstdint>

#include "lib/cells/cell_index.h"
#include "lib/cells/object_model.h"
#include "lib/display/draw_state.h"
#include "lib/display/map_geometry.h"
#include "lib/display/styles.h"
#include "platform/workspace.h"

namespace display {

enum SurfacePresentation { kSurfaceHypso = 0, kSurfaceShade = 1 };

// Statuses of RenderTinSurface.
inline constexpr int SURFACE_OK = 0;
inline constexpr int SURFACE_NO_PICTURE = 2;    // no picture to draw on
inline constexpr int SURFACE_NOT_TIN = 3;       // not a TIN Pset
inline constexpr int SURFACE_NO_GEOMETRY = 4;   // no projection set up
inline constexpr int SURFACE_WORKSPACE = 9;     // no workspace for a cell's vertices

// The direction towards the light in (east, north, up).
inline constexpr double SURFACE_LIGHT[3] = {-0.5, 0.5, 0.70710678118654752};
// The brightness of flat ground.
inline constexpr double SURFACE_FLAT_BRIGHTNESS = 0.70710678118654752;

struct SurfaceReport {
  int64_t triangles = 0;   // triangles of the object
  int64_t drawn = 0;       // triangles (and polygon fan pieces) filled
  int64_t skipped = 0;     // not projectable or across the seam
  int64_t pixels = 0;      // pixels set (shared edges counted twice)
  float zmin = 0.0f, zmax = 0.0f;  // the height range the ramp runs over
};

// The ramp intensity 0..4080 of a height over the range [zmin, zmax].
int SurfaceIntensity(double z, double zmin, double zmax);
// The brightness of a triangle with vertices (east, north, up) in metres,
// counterclockwise seen from above: max(0, N.L), N the unit normal.
double SurfaceBrightness(const double a[3], const double b[3], const double c[3]);

// Renders the TIN (validated against idx) into the picture through the
// geometry. The workspace (may be null: the heap) holds each cell's
// projected vertices. Returns a status above.
int RenderTinSurface(const MapGeometry& g, cells::CellIndex& idx, const cells::Object& tin,
                     const RampStyle& ramp, SurfacePresentation presentation, platform::Workspace* ws,
                     DisplaySurface* s, SurfaceReport* report);

}  // namespace display

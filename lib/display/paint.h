// Painting: every pixel of the map picture coloured by a function of the
// position under it.
//
// PaintColours holds the seven colours of the paint commands: a base colour
// and three pairs (A, B, C) whose per-component differences D = high - low
// drive the colour. Missing colours take the defaults
//   base "r127g127b127", A "g127" .. "g255", B "r127" .. "r255",
//   C "b127" .. "b255",
// and a pattern value p != 0 in the base colour selects half-density
// painting: every second pixel, in a checkerboard whose first row starts
// at parity p & 1.
//
// The colour functions use integer arithmetic, each quotient truncated
// towards zero and each component clamped to 0..255 at the end:
//   lat/long   base + D_A * lon_m / 3141 + D_B * lat_m / 1570, with
//              lat_m = trunc(1000 lat), lon_m = trunc(1000 lon), the geodetic
//              latitude and the longitude in (-pi, pi]; "latitude only" keeps
//              the D_B term, "longitude only" the D_A term;
//   dcos3      base + D_A * x_m / 1000 + D_B * y_m / 1000 + D_C * z_m / 1000,
//              x_m = trunc(1000 x) and so on;
//   cdc        the compact code's two stored components s (w0) and t (w1),
//              each as trunc(1000 * field / 2147483640), drive pairs A and B;
//              pair C is driven by the dominant axis, 0 for x, 500 for y and
//              1000 for z, negated when the dominant component is negative.
//
// PaintMap visits every pixel of the frame (both corners included), turns
// its centre into plane coordinates and inverse-projects it; a pixel without
// a point (inverse status other than 0) keeps its colour. The cylindrical
// projections, whose latitude depends on the row only and longitude on the
// column only, are painted from one inverse per row and one per column.
#pragma once

#include <cstdint>
#include <string>

#include "lib/display/draw_state.h"
#include "lib/display/map_geometry.h"
#include "lib/geodesy/cdc.h"

namespace display {

struct PaintColours {
  uint32_t base = 0;
  uint32_t low[3] = {};   // pairs A, B, C
  uint32_t high[3] = {};
  int pattern = 0;        // from the base colour; != 0: half density
};

// The colours from up to seven style values (null or missing: the default).
PaintColours MakePaintColours(const std::string* values, int count);

enum PaintFunction {
  kPaintLatLong = 0,
  kPaintLatitude = 1,
  kPaintLongitude = 2,
  kPaintDCos3 = 3,
  kPaintCdc = 4,
};

// The colour value of one position.
uint32_t PaintColour(const PaintColours& c, PaintFunction f, const DirectionCosines& u,
                     const geodesy::Ellipsoid& e);
// The lat/long colour from the milli-radian values (the shared arithmetic).
uint32_t LatLongColour(const PaintColours& c, PaintFunction f, long lat_m, long lon_m);

// Paints the surface through the geometry. Returns the number of pixels set.
int64_t PaintMap(const MapGeometry& g, DisplaySurface* s, const PaintColours& c, PaintFunction f);

// Paints by any colour function of the position (PaintCost). colour returns
// false to leave a pixel as it is.
using PositionColour = bool (*)(void* context, const DirectionCosines& u, uint32_t* colour);
int64_t PaintMapBy(const MapGeometry& g, DisplaySurface* s, int pattern, PositionColour colour,
                   void* context);

}  // namespace display

// Drawing the map's geographic content through a MapGeometry: the coastline,
// the latitude/longitude grid, the orthographic horizon, and positions for
// text. Positions are unit vectors; device points are the pixels of the
// geometry's frame (x right, y down on a screen frame).
//
// Every line is drawn through the PolylinePen (pen.h): positions joined by
// great-circle arcs, split at the seam, cut at the horizon and at the frame.
#pragma once

#include <cstdint>

#include "lib/display/coast.h"
#include "lib/display/draw_state.h"
#include "lib/display/map_geometry.h"
#include "lib/display/pen.h"

namespace display {

// The device point of a position: true when it projects with status 0.
bool PositionToDevice(const MapGeometry& g, const DirectionCosines& u, PixelPoint* p);

// Projections whose map has a seam: wwmerc, conical, mercator, wwview,
// eqdistcyl, wwpltcrr.
bool ProjectionHasSeam(uint32_t code);

// The angular radius around the centre within which anything can be on the
// map: the largest angle to the inverse of a frame corner for stereo,
// gnomonic, conical, mercator, eqdistcyl and tileset; 4.0 for the world-wide
// projections; 2.0 otherwise.
double MapRadius(const MapGeometry& g);

// Draws the coast level chosen by the scale (or level when >= 0). Returns the
// number of segments drawn; 0 when no level suits the scale.
int DrawCoastOnMap(const MapGeometry& g, const CoastData& coast, DrawState* d, int level = -1);

// Grid spacing in arc-seconds by map scale (parallels, meridians).
struct GridSpacing {
  int parallels;
  int meridians;
};
GridSpacing GridSpacingForScale(double scale);
// The tracing step along a grid line of the given spacing: a quarter of it
// when it divides by 4, else a fifth when it divides by 5, else a sixth; the
// spacing itself when that step would be 9 arc-seconds or less.
int GridTraceStep(int spacing);
// The highest parallel drawn: the largest multiple of the spacing not above
// 323999 arc-seconds.
int GridLatitudeLimit(int spacing);

// Draws parallels and meridians at geodetic latitudes of the geometry's
// ellipsoid (geocentric when it has none). Returns the number of polyline
// pieces.
int DrawGridOnMap(const MapGeometry& g, DrawState* d);

// Draws the horizon circle of ortho and perspect (361 points, one polyline);
// other projections draw nothing. Returns the number of points drawn.
int DrawHorizonOnMap(const MapGeometry& g, DrawState* d);

}  // namespace display

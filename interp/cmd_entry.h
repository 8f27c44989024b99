// Entering objects by pointer: points, lines and rings clicked on the map,
// and region sets bounded by a small circle or a circular sector; and
// the ring of a circle or sector.
//
// Each command checks its arguments, puts the map window into its mode
// (interp/map_modes.h) and returns; the mode's events build the object. The
// object is built in a temporary file beside its name and renamed into
// place only when it is complete, so an aborted entry leaves no file and an
// existing object of that name intact.
#pragma once

#include <cstdint>
#include <vector>

#include "interp/global.h"
#include "lib/geodesy/direction_cosines.h"

namespace interp {

// variant 0 points, 1 lines, 2 rings.
void CmdEnterObject(GlobalBlock& g, const char* args, int variant, int mode);
// variant 0 circle, 1 sector; mode 1 inside, 2 outside.
void CmdEnterCircle(GlobalBlock& g, const char* args, int variant, int mode);

// Points per full circle of the densities 1 to 6.
inline constexpr int kCircleDensityPoints[6] = {11, 23, 43, 89, 179, 359};

// Ring generation statuses.
inline constexpr int RING_DONE = 0;
inline constexpr int RING_STEP = 1;        // the angular step is outside (4e-12, pi/4]
inline constexpr int RING_NO_FRAME = 2;    // a point lies 90 degrees or more from the centre
inline constexpr int RING_DEGENERATE = 3;  // a radius of zero

// The ring of a circle about centre through edge (second == nullptr) or of
// a sector from edge to *second, in the gnomonic tangent frame of the centre
// with `points_per_circle` points per full circle; counterclockwise (inside
// on the left). Outside: the same points in reverse order.
int CircleRing(const geodesy::DirectionCosines& centre, const geodesy::DirectionCosines& edge,
               const geodesy::DirectionCosines* second, int points_per_circle, bool outside,
               std::vector<geodesy::DirectionCosines>* ring);

}  // namespace interp

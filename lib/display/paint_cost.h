// PaintCost's cost functions: every pixel coloured from a ramp by a cost of
// its position.
//
// psetDistance: the cost of a position is the great-circle angle to the
// nearest point of a point set. The costs of all pixels in view are found
// first; the ramp then runs from its low colour at the smallest cost in view
// to its high colour at the largest (intensity 4080 * (cost - least) /
// (most - least)), so the picture always uses the whole ramp. Pixels
// without a point keep their colour. The nearest point is searched in a
// grid of buckets over the cube about the sphere, widening shell by shell
// until no closer point can remain, so a large point set costs little more
// than a small one.
#pragma once

#include <cstdint>
#include <vector>

#include "lib/display/draw_state.h"
#include "lib/display/map_geometry.h"
#include "lib/display/styles.h"

namespace display {

// Nearest-point search over a fixed set of unit vectors.
class NearestPoints {
 public:
  explicit NearestPoints(const std::vector<DirectionCosines>& points);
  // The squared chord to the nearest point (HUGE when the set is empty).
  double NearestChordSq(const DirectionCosines& u) const;

 private:
  int Cell(double v) const;
  std::vector<DirectionCosines> points_;
  std::vector<int32_t> start_;  // per bucket, into order_ (g^3 + 1 entries)
  std::vector<int32_t> order_;
  int g_ = 1;
  double cell_ = 2.0;
};

// Paints the map by distance to the nearest of points. Returns the number
// of pixels set, or -1 when memory for the costs runs out.
int64_t PaintPointDistance(const MapGeometry& g, DisplaySurface* s,
                           const std::vector<DirectionCosines>& points, const RampStyle& ramp);

}  // namespace display

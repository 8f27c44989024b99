// General perspective: a ratio of two linear forms in the point's direction
// cosines, with a horizon test.
//
// The set-up here fills the forms for a vertical perspective: the eye at P
// radii from the earth's centre on the line through the map centre c, the
// picture plane tangent at c, east E' and north N' as for ortho. A point p is
// seen at X = (P - 1) E'.p / (P - c.p), Y = (P - 1) N'.p / (P - c.p), which is
// the form below with w = (P - c.p) / (P - 1). Points beyond the horizon
// (c.p < 1 / P, squared chord to c above 2 - 2 / P) are reported not visible.
// There is no inverse.
#include <cmath>

#include "lib/display/projections.h"
#include "lib/geodesy/constants.h"

namespace display {

int SetUpPerspect(const DirectionCosines& c, const DirectionCosines* up, double distance,
                  PerspectParams* p) {
  if (!(distance > 1.0 + geodesy::EPSILON) || !std::isfinite(distance)) return 1;
  OrthoParams frame;
  const int status = SetUpOrtho(c, up, &frame);
  if (status != 0) return status;
  const double h = distance - 1.0;
  double* k = p->k;
  k[0] = frame.east.x;
  k[1] = frame.east.y;
  k[2] = frame.east.z;
  k[3] = 0.0;
  k[4] = frame.north.x;
  k[5] = frame.north.y;
  k[6] = frame.north.z;
  k[7] = 0.0;
  k[8] = -c.x / h;
  k[9] = -c.y / h;
  k[10] = -c.z / h;
  k[11] = -distance / h;
  k[12] = 2.0 - 2.0 / distance;
  p->g = c;
  p->distance = distance;
  p->spare[0] = p->spare[1] = 0.0;
  return 0;
}

int PerspectForward(const PerspectParams& p, const DirectionCosines& u, double* X, double* Y) {
  const double* k = p.k;
  const double w = k[8] * u.x + k[9] * u.y + k[10] * u.z - k[11];
  if (w < geodesy::EPSILON) return 1;
  *X = (k[0] * u.x + k[1] * u.y + k[2] * u.z - k[3]) / w;
  *Y = (k[4] * u.x + k[5] * u.y + k[6] * u.z - k[7]) / w;
  return geodesy::ChordSq(p.g, u) > k[12] ? -1 : 0;
}

}  // namespace display

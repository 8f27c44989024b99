// Gnomonic projection on the tangent plane at the centre.
//
// A point p is projected from the earth's centre onto the plane tangent at
// the centre c: great circles become straight lines. Only the hemisphere
// about c has an image, and points near its rim run off towards infinity, so
// points at or beyond 90 degrees from c cannot be projected. The tangent frame
// is the stereographic one (proj_stereo.cpp).
#include <cmath>

#include "lib/display/projections.h"
#include "lib/geodesy/constants.h"

namespace display {

int GnomonicForward(const TangentParams& tp, const DirectionCosines& u, double* X, double* Y) {
  const geodesy::TangentFrame& p = tp.frame;
  const double w = geodesy::Dot(p.c, u);
  if (w < geodesy::SAME_POINT_SQ) return 1;
  *X = (p.ex * u.x + p.ey * u.y) / w;
  *Y = (p.nx * u.x + p.ny * u.y + p.nz * u.z) / w;
  return 0;
}

int GnomonicInverse(const TangentParams& tp, double X, double Y, DirectionCosines* u) {
  const geodesy::TangentFrame& p = tp.frame;
  if (X * X + Y * Y < geodesy::FRAME_POLE_SQ) {
    *u = p.c;
    return 0;
  }
  const DirectionCosines v{p.c.x + X * p.ex + Y * p.nx, p.c.y + X * p.ey + Y * p.ny,
                           p.c.z + Y * p.nz};
  const double len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  // The length is at least 1 (c is orthogonal to the plane offset), but a
  // plane point beyond the range of doubles gives no direction.
  if (!std::isfinite(len)) return 1;
  *u = {v.x / len, v.y / len, v.z / len};
  return 0;
}

}  // namespace display

// Equidistant conic projection with one standard parallel, the centre's.
//
// The cone touches the sphere along the centre's parallel (latitude lat0);
// its apex lies on the axis, rho0 = cot(lat0) from the parallel in the
// developed plane. A point at latitude lat and longitude lon maps to radius
// r = lat0 + rho0 - lat from the apex (meridians keep their true length) and
// angle n (lon - lon0), n = sin(lat0). The plane origin is the centre, Y
// pointing to the apex side for northern centres. Every point projects,
// including the far pole, which becomes an arc.
#include <cmath>

#include "lib/display/projections.h"
#include "lib/geodesy/constants.h"

namespace display {

int SetUpConical(const DirectionCosines& c, ConicalParams* p) {
  // Near the equator the cone degenerates into a cylinder.
  if (std::fabs(c.z) < 0.09) return 1;
  const double rho2 = c.x * c.x + c.y * c.y;
  if (rho2 < geodesy::SAME_POINT_SQ) return 2;
  const double rho = std::sqrt(rho2);
  p->c = c;
  p->n = c.z;
  p->lat0 = std::atan2(c.z, rho);
  p->lon0 = std::atan2(c.y, c.x);
  p->rho0 = rho / c.z;
  p->lat0_plus_rho0 = p->lat0 + p->rho0;
  return 0;
}

int ConicalForward(const ConicalParams& p, const DirectionCosines& u, double* X, double* Y) {
  const double h2 = u.x * u.x + u.y * u.y;
  const double lon = h2 <= geodesy::SAME_POINT_SQ ? p.lon0 : std::atan2(u.y, u.x);
  const double lat = std::atan2(u.z, std::sqrt(h2));
  const double theta = p.n * WrapAngle(lon - p.lon0);
  const double r = p.lat0_plus_rho0 - lat;
  *X = r * std::sin(theta);
  *Y = p.rho0 - r * std::cos(theta);
  return 0;
}

int ConicalInverse(const ConicalParams& p, double X, double Y, DirectionCosines* u) {
  const double dy = p.rho0 - Y;
  double r = std::sqrt(X * X + dy * dy);
  double theta;
  if (p.n >= 0.0) {
    theta = std::atan2(X, dy);
  } else {
    r = -r;
    theta = std::atan2(-X, -dy);
  }
  const double lon = theta / p.n + p.lon0;
  const double lat = p.lat0_plus_rho0 - r;
  if (!std::isfinite(lon) || !std::isfinite(lat)) return 1;
  const double cl = std::cos(lat);
  *u = {cl * std::cos(lon), cl * std::sin(lon), std::sin(lat)};
  return 0;
}

}  // namespace display

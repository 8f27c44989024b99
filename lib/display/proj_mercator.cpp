// Mercator projection true along the centre's parallel.
//
// The spherical Mercator ordinate y = atanh(sin lat) is taken as
// 0.5 ln((1 + |z|) / (1 - |z|)) with the sign of z, straight from the
// direction cosine. Both axes are multiplied by k = cos(lat0), the cosine of
// the centre's latitude, so that the map is true to scale along the centre's
// parallel, and Y is measured from the centre. Poles lie at infinity: a point
// within 4e-12 of a pole in z cannot be projected, and a centre within about
// one degree of a pole is refused.
#include <cmath>

#include "lib/display/projections.h"
#include "lib/geodesy/constants.h"

namespace display {
namespace {

double MercatorOrdinate(double z) {
  const double a = std::fabs(z);
  const double y = 0.5 * std::log((1.0 + a) / (1.0 - a));
  return z < 0.0 ? -y : y;
}

}  // namespace

int SetUpMercator(const DirectionCosines& c, MercatorParams* p) {
  p->c = c;
  const double rho2 = c.x * c.x + c.y * c.y;
  if (std::fabs(c.z) < geodesy::EPSILON) {
    p->k = 1.0;
    p->y0 = 0.0;
  } else {
    if (rho2 < 0.0003) return 1;
    p->k = std::sqrt(rho2);
    p->y0 = MercatorOrdinate(c.z);
  }
  p->lon0 = std::atan2(c.y, c.x);
  return 0;
}

int MercatorForward(const MercatorParams& p, const DirectionCosines& u, double* X, double* Y) {
  if (1.0 - std::fabs(u.z) > geodesy::EPSILON) {
    const double lon = std::atan2(u.y, u.x);
    *X = WrapAngle(lon - p.lon0) * p.k;
    *Y = (MercatorOrdinate(u.z) - p.y0) * p.k;
    return 0;
  }
  *X = 0.0;
  *Y = u.z < 0.0 ? -geodesy::BIG : geodesy::BIG;
  return 1;
}

int MercatorInverse(const MercatorParams& p, double X, double Y, DirectionCosines* u) {
  const double v = Y / p.k + p.y0;
  const double e = std::exp(2.0 * std::fabs(v));
  // tanh|v| written out; for very large |v| the quotient is inf / inf.
  const double s = std::isfinite(e) ? (e - 1.0) / (e + 1.0) : 1.0;
  if (!(1.0 - s * s >= geodesy::SAME_POINT_SQ)) {
    *u = {0.0, 0.0, 1.0};
    return 1;
  }
  const double z = v < 0.0 ? -s : s;
  const double lon = X / p.k + p.lon0;
  const double h = std::sqrt(1.0 - s * s);
  *u = {h * std::cos(lon), h * std::sin(lon), z};
  return 0;
}

}  // namespace display

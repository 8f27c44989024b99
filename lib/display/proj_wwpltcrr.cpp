// World-wide plate carree: X the longitude from the central meridian, Y the
// latitude, both in radians; the map is 2 pi wide and pi high. The latitude
// is asin|z| with the sign of z, so the poles are on the map.
#include <cmath>

#include "lib/display/projections.h"
#include "lib/geodesy/constants.h"

namespace display {

int WwPltCrrForward(const WorldParams& p, const DirectionCosines& u, double* X, double* Y) {
  const double lat = std::asin(std::fmin(1.0, std::fabs(u.z)));
  const double lon = std::atan2(u.y, u.x);
  *X = p.lon0 != 0.0 ? WrapAngle(lon - p.lon0) : lon;
  *Y = u.z < 0.0 ? -lat : lat;
  return 0;
}

int WwPltCrrInverse(const WorldParams& p, double X, double Y, DirectionCosines* u) {
  if (!(std::fabs(Y) <= 1.5707963267948966) || !std::isfinite(X)) return 1;
  const double lon = WrapAngle(X + p.lon0);
  const double cl = std::cos(Y);
  *u = {cl * std::cos(lon), cl * std::sin(lon), std::sin(Y)};
  return 0;
}

}  // namespace display

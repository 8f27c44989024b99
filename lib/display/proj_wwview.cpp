// World-wide perspective cylindrical projection.
//
// Each meridian plane is seen from a point on the far side of the axis, K
// radii from it, and projected onto the cylinder tangent at the equator:
// Y = (1 + K) sin(lat) / (cos(lat) + K). K = 0.7373573681590264 puts the
// poles at Y = +-3 pi / 4, so the map is 2 pi wide and 3 pi / 2 high and
// every point, the poles included, is on the map. X is the longitude from the
// central meridian.
#include <cmath>

#include "lib/display/projections.h"
#include "lib/geodesy/constants.h"

namespace display {
namespace {

constexpr double kK = 0.7373573681590264;
constexpr double kOnePlusK = 1.7373573681590264;
constexpr double kOnePlusKSq = 3.018410624696459;
constexpr double kKSq = 0.543695888378406;
constexpr double kKOnePlusK = 1.2810532565374324;

}  // namespace

int WwViewForward(const WorldParams& p, const DirectionCosines& u, double* X, double* Y) {
  const double h2 = u.x * u.x + u.y * u.y;
  const double d = h2 < geodesy::SAME_POINT_SQ ? kK : std::sqrt(h2) + kK;
  const double y = kOnePlusK * std::fabs(u.z) / d;
  const double lon = std::atan2(u.y, u.x);
  *X = p.lon0 != 0.0 ? WrapAngle(lon - p.lon0) : lon;
  *Y = u.z < 0.0 ? -y : y;
  return 0;
}

int WwViewInverse(const WorldParams& p, double X, double Y, DirectionCosines* u) {
  // With cos(lat) = (1 + K) w - K and sin(lat) = |Y| w, the unit circle gives
  // A w^2 - 2 K (1 + K) w + K^2 - 1 = 0; w is its larger root.
  const double y2 = Y * Y;
  const double a = kOnePlusKSq + y2;
  const double b = a - kKSq * y2;
  if (!(b >= geodesy::SAME_POINT_SQ)) return 1;
  const double w = (std::sqrt(b) + kKOnePlusK) / a;
  const double cl = kOnePlusK * w - kK;
  if (!(cl >= 0.0)) return 1;  // beyond the poles
  const double lon = WrapAngle(X + p.lon0);
  const double z = std::fabs(Y) * w;
  *u = {cl * std::cos(lon), cl * std::sin(lon), Y < 0.0 ? -z : z};
  return 0;
}

}  // namespace display

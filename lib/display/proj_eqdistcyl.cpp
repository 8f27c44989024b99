// Equidistant cylindrical projection true along the centre's parallel.
//
// X is the longitude difference times k = cos(lat0), the cosine of the
// centre's latitude, so the map is true along the centre's parallel; Y is the
// latitude difference itself, so meridians keep their true length. The
// latitude is taken as asin|z| with the sign of z. Points within 4e-12 of a
// pole in z cannot be projected; a centre within about one degree of a pole
// is refused as for mercator.
#include <cmath>

#include "lib/display/projections.h"
#include "lib/geodesy/constants.h"

namespace display {
namespace {

double Latitude(double z) {
  const double a = std::asin(std::fabs(z));
  return z < 0.0 ? -a : a;
}

}  // namespace

int SetUpEqDistCyl(const DirectionCosines& c, EqDistCylParams* p) {
  p->c = c;
  const double rho2 = c.x * c.x + c.y * c.y;
  if (std::fabs(c.z) < geodesy::EPSILON) {
    p->k = 1.0;
  } else {
    if (rho2 < 0.0003) return 1;
    p->k = std::sqrt(rho2);
  }
  p->lon0 = std::atan2(c.y, c.x);
  p->lat0 = Latitude(std::fmax(-1.0, std::fmin(1.0, c.z)));
  return 0;
}

int EqDistCylForward(const EqDistCylParams& p, const DirectionCosines& u, double* X, double* Y) {
  if (1.0 - std::fabs(u.z) > geodesy::EPSILON) {
    *X = WrapAngle(std::atan2(u.y, u.x) - p.lon0) * p.k;
    *Y = Latitude(u.z) - p.lat0;
    return 0;
  }
  *X = 0.0;
  *Y = u.z < 0.0 ? -geodesy::BIG : geodesy::BIG;
  return 1;
}

int EqDistCylInverse(const EqDistCylParams& p, double X, double Y, DirectionCosines* u) {
  const double lat = Y + p.lat0;
  const double s = std::sin(std::fabs(lat));
  // Beyond a pole the latitude folds back; such plane points have no place.
  if (!(1.0 - s * s >= geodesy::SAME_POINT_SQ) || std::fabs(lat) > 1.5707963267948966) {
    *u = {0.0, 0.0, 1.0};
    return 1;
  }
  const double z = lat < 0.0 ? -s : s;
  const double lon = X / p.k + p.lon0;
  const double h = std::sqrt(1.0 - s * s);
  *u = {h * std::cos(lon), h * std::sin(lon), z};
  return 0;
}

}  // namespace display

// The shared conversions of the derivations: fuzz, squared chords, the
// metres-to-radians factor and the output resolution check.
#include "lib/ops/derive_params.h"

#include <cmath>

#include "lib/geodesy/constants.h"

namespace ops {

double EffectiveFuzz(double fuzz) { return fuzz == 0.0 ? geodesy::DEFAULT_FUZZ : std::fabs(fuzz); }

double ChordSqOfAngle(double theta) {
  const double half = 0.5 * theta;
  if (half >= M_PI / 4.0) {
    const double c = std::cos(half);
    return 4.0 * (1.0 - c * c);
  }
  const double s = 2.0 * std::sin(half);
  return s * s;
}

double MetresToRadians(const geodesy::Ellipsoid& e, const geodesy::DirectionCosines& p) {
  const double h2 = p.x * p.x + p.y * p.y;
  if (h2 < geodesy::SAME_POINT_SQ) return 1.0 / e.b;
  const double h = std::sqrt(h2);
  // The surface normal of the point whose geocentric direction is p.
  double c = e.b2 * h, s = e.a2 * p.z;
  const double n = std::hypot(c, s);
  c /= n;
  s /= n;
  return (h / c) * std::sqrt(e.a2 * c * c + e.b2 * s * s) / e.a2;
}

bool OutputResValid(int res) {
  const int low = res & 0xFF;
  if (low < 2 || low > 11) return false;
  if (res >= 0xFF00) return false;
  if ((res >> 8) != 0 && (res & 1) == 0) return false;
  return cells::ResValid(res);
}

}  // namespace ops

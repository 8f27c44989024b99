// Stereographic projection on the tangent plane at the centre, and the
// tangent frame that it shares with the gnomonic projection.
//
// A point p is projected from the antipode of the centre c onto the plane
// tangent at c; on the unit sphere a point at angle t from c lands at distance
// 2 tan(t / 2), so the map is conformal and true to scale at c. The frame's
// east vector is horizontal; at a pole, where east is undefined, east is +y
// and north points along -x for the north pole (+x for the south pole).
#include <cmath>

#include "lib/display/projections.h"
#include "lib/geodesy/constants.h"

namespace display {

int SetUpTangent(const DirectionCosines& c, TangentParams* p) {
  p->frame = geodesy::BuildTangentFrame(c);
  p->rho2 = c.x * c.x + c.y * c.y;
  return 0;
}

// Only the antipode itself has no image; the bound is about 3 m on earth.
constexpr double kAntipode = 4.9e-7;

bool StereoRefuses(const TangentParams& tp, const DirectionCosines& u) {
  const geodesy::TangentFrame& p = tp.frame;
  const DirectionCosines s{p.c.x + u.x, p.c.y + u.y, p.c.z + u.z};
  return std::fabs(s.x) <= kAntipode && std::fabs(s.y) <= kAntipode && std::fabs(s.z) <= kAntipode;
}

int StereoForward(const TangentParams& tp, const DirectionCosines& u, double* X, double* Y) {
  const geodesy::TangentFrame& p = tp.frame;
  const DirectionCosines s{p.c.x + u.x, p.c.y + u.y, p.c.z + u.z};
  if (StereoRefuses(tp, u)) return 1;
  // The ray from the antipode through u, direction d = -s / |s|, meets the
  // tangent plane at q = u + t d with t chosen so that c.q = 1.
  const double len = std::sqrt(s.x * s.x + s.y * s.y + s.z * s.z);
  const DirectionCosines d{-s.x / len, -s.y / len, -s.z / len};
  const double t = (1.0 - geodesy::Dot(p.c, u)) / geodesy::Dot(p.c, d);
  const DirectionCosines q{u.x + t * d.x, u.y + t * d.y, u.z + t * d.z};
  *X = p.ex * q.x + p.ey * q.y;
  *Y = p.nx * q.x + p.ny * q.y + p.nz * q.z;
  return 0;
}

int StereoInverse(const TangentParams& tp, double X, double Y, DirectionCosines* u) {
  const geodesy::TangentFrame& p = tp.frame;
  const double r2 = X * X + Y * Y;
  if (r2 < geodesy::FRAME_POLE_SQ) {
    *u = p.c;
    return 0;
  }
  const double f = 4.0 / (4.0 + r2);
  if (f < geodesy::FRAME_POLE_SQ) return 1;  // so far out that only the antipode remains
  const double a = (4.0 - r2) / (4.0 + r2);
  const double b = f;
  DirectionCosines v{a * p.c.x + b * (X * p.ex + Y * p.nx),
                     a * p.c.y + b * (X * p.ey + Y * p.ny),
                     a * p.c.z + b * (Y * p.nz)};
  const double len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  *u = {v.x / len, v.y / len, v.z / len};
  return 0;
}

}  // namespace display

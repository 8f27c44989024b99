// Orthographic projection: the globe seen from infinity above the centre.
//
// The plane axes are east E' = normalise(up x c) and north N' = c x E'; a
// point's plane coordinates are its components along them, so the visible
// hemisphere fills the unit disc. Points of the far hemisphere still get
// coordinates (they fall inside the disc too) but are reported not visible.
// The inverse takes the near-side point above a plane point.
#include <cmath>

#include "lib/display/projections.h"
#include "lib/geodesy/constants.h"

namespace display {

int SetUpOrtho(const DirectionCosines& c, const DirectionCosines* up, OrthoParams* p) {
  p->c = c;
  if (up != nullptr) {
    p->up = *up;
  } else {
    // North is up; at a pole, where north is no direction, -x (north pole)
    // or +x (south pole) takes its place.
    p->up = {0.0, 0.0, 1.0};
    if (std::fabs(c.z - 1.0) <= 1e-5) p->up = {-1.0, 0.0, 0.0};
    if (std::fabs(c.z + 1.0) <= 1e-5) p->up = {1.0, 0.0, 0.0};
  }
  DirectionCosines e = geodesy::Cross(p->up, c);
  const double len = std::sqrt(geodesy::Dot(e, e));
  if (!(len > geodesy::MIN_NORM_LENGTH)) return 2;
  e = {e.x / len, e.y / len, e.z / len};
  p->east = e;
  p->north = geodesy::Cross(c, e);
  p->d = 0.0;
  return 0;
}

int OrthoForward(const OrthoParams& p, const DirectionCosines& u, double* X, double* Y) {
  *X = geodesy::Dot(p.east, u);
  *Y = geodesy::Dot(p.north, u);
  return geodesy::Dot(p.c, u) < 0.0 ? -1 : 0;
}

int OrthoInverse(const OrthoParams& p, double X, double Y, DirectionCosines* u) {
  const DirectionCosines q{X * p.east.x + Y * p.north.x, X * p.east.y + Y * p.north.y,
                           X * p.east.z + Y * p.north.z};
  // Solve |q + t c| = 1 for the larger root t (the near side).
  const double b = 2.0 * geodesy::Dot(p.c, q);
  const double k = 4.0 * (geodesy::Dot(q, q) - 1.0);
  if (!(k <= b * b)) return 1;  // outside the disc of radius 1
  const double t = (std::sqrt(b * b - k) - b) / 2.0;
  *u = {q.x + t * p.c.x, q.y + t * p.c.y, q.z + t * p.c.z};
  return 0;
}

}  // namespace display

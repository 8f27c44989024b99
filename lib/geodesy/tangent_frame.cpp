// Tangent frames: east is the horizontal unit vector perpendicular to the
// meridian of c, north completes the right-handed frame (east x north = c).
// Projection divides by c.p (the central projection); lift adds the plane
// offsets to c and normalises.
#include "lib/geodesy/tangent_frame.h"

#include <cmath>

#include "lib/geodesy/ellipsoid.h"

namespace geodesy {

TangentFrame BuildTangentFrame(const DirectionCosines& c) {
  TangentFrame f;
  f.c = c;
  const double h2 = c.x * c.x + c.y * c.y;
  if (h2 > FRAME_POLE_SQ) {
    const double h = std::sqrt(h2);
    f.ex = -c.y / h;
    f.ey = c.x / h;
    f.nx = -c.x * c.z / h;
    f.ny = -c.y * c.z / h;
    f.nz = h;
  } else {
    f.ex = 0.0;
    f.ey = 1.0;
    f.nx = -c.z;
    f.ny = 0.0;
    f.nz = 0.0;
  }
  return f;
}

int ProjectToFrame(const TangentFrame& f, const DirectionCosines& p, double& u, double& v) {
  const double d = Dot(f.c, p);
  if (!(d >= SAME_POINT_SQ)) return 1;
  u = (f.ex * p.x + f.ey * p.y) / d;
  v = (f.nx * p.x + f.ny * p.y + f.nz * p.z) / d;
  return 0;
}

DirectionCosines LiftFromFrame(const TangentFrame& f, double u, double v) {
  if (u * u + v * v < FRAME_POLE_SQ) return f.c;
  return Normalised({f.c.x + u * f.ex + v * f.nx, f.c.y + u * f.ey + v * f.ny, f.c.z + v * f.nz});
}

}  // namespace geodesy

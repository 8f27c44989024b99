// The tangent-plane frame about a unit vector (in practice a cell centre).
//
// TangentFrame: the centre c, the east unit vector (ex, ey; its z is always
// 0 and not stored) and the north unit vector (nx, ny, nz); east, north and
// c form a right-handed orthonormal frame. At a pole (c.x^2 + c.y^2 not
// above FRAME_POLE_SQ) east is (0, 1, 0) and north is (-c.z, 0, 0).
//
// Plane coordinates (u, v) are those of the gnomonic (central) projection
// onto the plane tangent at c, in units of the unit sphere: the tangent of
// the angular distance from c along each axis. Only points less than 90
// degrees from c can be projected.
#pragma once

#include "lib/geodesy/direction_cosines.h"

namespace geodesy {

struct TangentFrame {
  DirectionCosines c;
  double ex = 0.0, ey = 0.0;
  double nx = 0.0, ny = 0.0, nz = 0.0;
};

// The frame about the unit vector c.
TangentFrame BuildTangentFrame(const DirectionCosines& c);

// Projects the unit vector p to plane coordinates. Returns 0, or 1 when p is
// 90 degrees or more from the centre (c.p below SAME_POINT_SQ); u and v are
// then left unchanged.
int ProjectToFrame(const TangentFrame& f, const DirectionCosines& p, double& u, double& v);

// The unit vector whose plane coordinates are (u, v); (0, 0) gives c.
DirectionCosines LiftFromFrame(const TangentFrame& f, double u, double v);

}  // namespace geodesy

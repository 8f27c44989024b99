// The orbit model. See orbit_model.h.
//
// The anomaly: the mean anomaly M = 2 pi tau / P (tau the time since the
// perigee, brought into [0, P)) is turned into the eccentric anomaly by
// Kepler's equation M = E - e sin E, then into the true anomaly. The second
// half of the orbit mirrors the first, so only M in [0, pi] is solved, where
// E lies in [0, pi] too and E - e sin E grows strictly: Newton's step from a
// good start converges in a few steps, and a step that would leave the
// bracket known to hold the root is replaced by the bracket's midpoint, so the
// solve cannot run into a cycle even at e = 0.95.
//
// The swath: a look ray leaves the satellite at the off-nadir angle alpha in
// the plane of the nadir n and the cross-track direction w. Where it hits the
// Earth (taken as the sphere of the local radius r) the central angle from the
// nadir is asin(D sin alpha / r) - alpha; past the grazing angle asin(r / D)
// the ray misses, and the edge is the horizon, acos(r / D) from the nadir.
#include "lib/orbits/orbit_model.h"

#include <algorithm>
#include <cmath>

namespace orbits {

namespace {

constexpr double kTwoPi = 6.283185307179586;

Vector3 Cross(const Vector3& a, const Vector3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Turns v about the z axis by lambda.
Vector3 TurnZ(const Vector3& v, double lambda) {
  const double c = std::cos(lambda), s = std::sin(lambda);
  return {v.x * c - v.y * s, v.x * s + v.y * c, v.z};
}

geodesy::DirectionCosines Unit(const Vector3& v) { return geodesy::Normalised({v.x, v.y, v.z}); }

// E in [0, pi] with E - e sin E = M, M in [0, pi]; false when 64 steps did not settle.
bool SolveKepler(double M, double e, double* E_out) {
  double lo = 0.0, hi = M_PI;
  // A start that is good for small e and safe for large: the root lies between
  // M and M + e (E - M = e sin E), and near M + e sin M for small e.
  double E = e < 0.8 ? M + e * std::sin(M) : std::min(M_PI, M + e);
  E = std::clamp(E, lo, hi);
  for (int step = 0; step < 64; ++step) {
    const double f = E - e * std::sin(E) - M;
    if (f == 0.0) {
      *E_out = E;
      return true;
    }
    if (f < 0.0)
      lo = E;
    else
      hi = E;
    const double slope = 1.0 - e * std::cos(E);
    double next = E - f / slope;
    if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
    const double change = std::fabs(next - E);
    E = next;
    if (change <= 1e-15 * std::max(1.0, E) || hi - lo <= 4e-16) {
      *E_out = E;
      return true;
    }
  }
  *E_out = E;
  return false;
}

}  // namespace

double OrbitPeriod(double a, double gm) { return kTwoPi * std::sqrt(a * a * a / gm); }

double OrbitSemiMajorAxis(double period, double gm) {
  const double n = period / kTwoPi;
  return std::cbrt(gm * n * n);
}

void SetOrbitShape(Orbit& o, double e, double node, double inclination, double perigee) {
  o.b = o.a * std::sqrt(1.0 - e * e);
  o.c = std::sqrt((o.a + o.b) * (o.a - o.b));
  double sw, cw, sn, cn, si, ci;
  geodesy::SinCos(perigee, sw, cw);
  geodesy::SinCos(node, sn, cn);
  geodesy::SinCos(inclination, si, ci);
  o.P = {cw * cn - sw * sn * ci, cw * sn + sw * cn * ci, sw * si};
  o.W = {sn * si, -cn * si, ci};
  o.Q = Cross(o.W, o.P);
}

double EpochTimeSincePerigee(const Orbit& o, double perigee, int kind, double since_perigee) {
  if (kind == kEpochSincePerigee) return since_perigee;
  const double scale = o.period / (M_PI * o.a * o.b);
  double sw, cw;
  geodesy::SinCos(perigee, sw, cw);
  // The ascending node lies at the true anomaly -w, the descending node at
  // pi - w: the time from the perigee to there is the swept area over the
  // area rate. (For the descending node this is not the ascending node's time
  // plus half a period unless the orbit is circular.)
  if (kind == kEpochAscending) return -scale * OrbitSectorArea(o, cw, sw);
  return scale * OrbitSectorArea(o, -cw, sw);
}

void SetOrbitRates(double mean_radius, double j2, Orbit& o) {
  const double p = o.b * o.b / o.a;
  const double ratio = mean_radius / p;
  const double k = j2 * ratio * ratio;
  const double ci = o.W.z;
  o.node_rate = -(3.0 * M_PI / o.period) * k * ci;
  o.perigee_rate = (3.0 * M_PI / (2.0 * o.period)) * k * (5.0 * ci * ci - 1.0);
}

double OrbitSectorArea(const Orbit& o, double cos_nu, double sin_nu) {
  double half_E;
  if (cos_nu > 0.0)
    half_E = std::atan2((o.a - o.c) * sin_nu, o.b * (1.0 + cos_nu));
  else
    half_E = std::atan2((o.a - o.c) * (1.0 - cos_nu), o.b * sin_nu);
  return o.a * o.b * half_E - (o.b * o.b * o.c * sin_nu / 2.0) / (o.a + o.c * cos_nu);
}

int SolveOrbitAnomaly(const Orbit& o, double t, double* cos_nu, double* sin_nu) {
  const double P = o.period;
  double tau = std::fmod(t + o.t0, P);
  if (tau < 0.0) tau += P;
  if (tau >= P) tau -= P;
  if (!(tau >= 0.0)) tau = 0.0;  // a non-finite time: the perigee, not NaN
  if (tau < ORBIT_SAME_TIME) {
    *cos_nu = 1.0;
    *sin_nu = 0.0;
    return 0;
  }
  if (std::fabs(2.0 * tau - P) < ORBIT_SAME_TIME) {
    *cos_nu = -1.0;
    *sin_nu = 0.0;
    return 0;
  }
  const bool mirrored = tau > P / 2.0;
  if (mirrored) tau = P - tau;
  if (tau < ORBIT_SAME_TIME) {
    *cos_nu = 1.0;
    *sin_nu = 0.0;
    return 0;
  }
  const double e = o.c / o.a;
  const double M = kTwoPi * tau / P;
  double E = M;
  const bool settled = e == 0.0 ? true : SolveKepler(M, e, &E);
  const double cE = std::cos(E), sE = std::sin(E);
  const double den = o.a - o.c * cE;
  double cn = (o.a * cE - o.c) / den, sn = o.b * sE / den;
  const double len = std::hypot(cn, sn);
  cn /= len;
  sn /= len;
  *cos_nu = cn;
  *sin_nu = mirrored ? -sn : sn;
  return settled ? 0 : 1;
}

int SatellitePosition(const Orbit& o, double t, Vector3* position) {
  double cn, sn;
  const int status = SolveOrbitAnomaly(o, t, &cn, &sn);
  const double r = o.b * o.b / (o.a + o.c * cn);
  double cu = cn, su = sn;
  if (o.perigee_rate != 0.0) {
    double sw, cw;
    geodesy::SinCos(o.perigee_rate * t, sw, cw);
    cu = cn * cw - sn * sw;
    su = sn * cw + cn * sw;
  }
  const double x = r * cu, y = r * su;
  const Vector3 inertial{x * o.P.x + y * o.Q.x, x * o.P.y + y * o.Q.y, x * o.P.z + y * o.Q.z};
  *position = TurnZ(inertial, (o.node_rate - o.earth_rate) * t);
  return status;
}

void FootPoint(const geodesy::Ellipsoid& e, const Vector3& s, geodesy::DirectionCosines* nadir, double* height) {
  const double rho = std::hypot(s.x, s.y);
  const double z = s.z;
  const double len2 = rho * rho + z * z;
  if (!(len2 > 0.0) || rho * rho < geodesy::SAME_POINT_SQ * len2) {
    // On the polar axis the pole is the foot point.
    *nadir = {0.0, 0.0, z < 0.0 ? -1.0 : 1.0};
    *height = std::fabs(z) - e.b;
    return;
  }
  const double len = std::sqrt(len2);
  double c = rho / len, sn = z / len;
  double k = 0.0, w = 0.0;
  for (int step = 0; step < 1024; ++step) {
    w = std::sqrt(e.a2 * c * c + e.b2 * sn * sn);
    k = e.a2mb2 * c * sn / w;
    const double nc = rho - k * sn, ns = z + k * c;
    const double nl = std::hypot(nc, ns);
    const double c1 = nc / nl, s1 = ns / nl;
    const double change = std::fabs(c1 - c) + std::fabs(s1 - sn);
    c = c1;
    sn = s1;
    if (change <= geodesy::SAME_POINT_SQ) break;
  }
  w = std::sqrt(e.a2 * c * c + e.b2 * sn * sn);
  k = e.a2mb2 * c * sn / w;
  *height = std::hypot(rho - k * sn, z + k * c) - w;
  const geodesy::DirectionCosines normal{s.x / rho * c, s.y / rho * c, sn};
  *nadir = geodesy::DirectionFromNormal(normal, e);
}

double SwathCentralAngle(double r, double D, double sin_alpha, double cos_alpha) {
  const double d = D * sin_alpha * (cos_alpha < 0.0 ? -1.0 : 1.0);
  if (std::fabs(d) <= r) {
    const double q = std::sqrt(r * r - d * d);
    return std::atan2(d * cos_alpha - q * sin_alpha, d * sin_alpha + q * cos_alpha);
  }
  const double horizon = std::acos(std::min(1.0, r / D));
  return sin_alpha < 0.0 ? -horizon : horizon;
}

namespace {

// The swath point at the off-nadir angle (sin, cos) in the plane of n and w.
geodesy::DirectionCosines EdgePoint(const geodesy::DirectionCosines& n, const geodesy::DirectionCosines& w,
                                    double r, double D, double sa, double ca, double* along_n, double* along_w) {
  const double d = D * sa * (ca < 0.0 ? -1.0 : 1.0);
  double an, aw;
  if (std::fabs(d) <= r) {
    const double q = std::sqrt(r * r - d * d);
    an = d * sa + q * ca;
    aw = d * ca - q * sa;
  } else {
    // The look ray misses the Earth: the horizon point.
    const double theta = std::acos(std::min(1.0, r / D));
    an = std::cos(theta);
    aw = sa < 0.0 ? -std::sin(theta) : std::sin(theta);
  }
  *along_n = an;
  *along_w = aw;
  return geodesy::Normalised({an * n.x + aw * w.x, an * n.y + aw * w.y, an * n.z + aw * w.z});
}

}  // namespace

int SatelliteNadirAndSwath(const geodesy::Ellipsoid& e, const Orbit& o, const Swath* swath, double t,
                           NadirSwath* out) {
  int status = SatellitePosition(o, t, &out->position) != 0 ? 1 : 0;
  FootPoint(e, out->position, &out->nadir, &out->height);
  out->right = out->left = {geodesy::NOVALUE, 0.0, 0.0};
  if (!swath) return status;
  const geodesy::DirectionCosines w = Unit(TurnZ(o.W, (o.node_rate - o.earth_rate) * t));
  if (!geodesy::IsValid(w)) return 1;
  const geodesy::DirectionCosines& n = out->nadir;
  const double h2 = n.x * n.x + n.y * n.y;
  const double r = n.z == 0.0 && h2 == 0.0 ? e.a : 1.0 / std::sqrt(h2 / e.a2 + n.z * n.z / e.b2);
  const double D = r + out->height;
  double an, aw;
  out->right = EdgePoint(n, w, r, D, swath->sin_right, swath->cos_right, &an, &aw);
  if (std::fabs(swath->sin_right + swath->sin_left) <= ORBIT_SAME_TIME) {
    out->left = geodesy::Normalised({an * n.x - aw * w.x, an * n.y - aw * w.y, an * n.z - aw * w.z});
  } else {
    out->left = EdgePoint(n, w, r, D, swath->sin_left, swath->cos_left, &an, &aw);
  }
  if (!geodesy::IsValid(out->right) || !geodesy::IsValid(out->left)) status = 1;
  return status;
}

}  // namespace orbits

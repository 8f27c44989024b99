// Cell and triangle areas: how they are integrated.
//
// A triangle (c, a, b) of normals is measured as E x mean(G^2): E the
// spherical excess from the stable form tan(E/2) = |T| / (1 + a.b + b.c +
// c.a), T the triple product built from edge vectors, and the mean of G^2
// over the triangle from a product Gauss rule in polar coordinates about c.
// In those coordinates a point is cos t c + sin t w(psi), w turning from the
// direction of a (psi = 0) to that of b, the area element is sin t dt dpsi
// and the far side ab is reached at tan T(psi) = -(N.c) / (N.w), N = a x b.
// The mean is the rule's integral of G^2 sin t over the rule's integral of
// sin t, so a constant G^2 (the sphere) comes out exactly.
//
// G^2 = a^4 b^2 / (a^2 - (a^2 - b^2) z^2)^2 changes by 1.3 % from the
// equator to a pole and is smooth, so five points each way leave below
// 1e-12 of a triangle with sides under MEASURE_MAX_SIDE; longer triangles
// are cut at the midpoint of their longest side. Thin fans (an angle at c
// below kThinAngle) take a single ray: G^2 changes across them only to
// second order.
#include "lib/geodesy/measure_cells.h"

#include <algorithm>
#include <cmath>

namespace geodesy {

namespace {

constexpr double kThinAngle = 1e-3;
constexpr int kMaxDepth = 24;

// The five-point Gauss-Legendre rule on [-1, 1].
constexpr int kPoints = 5;
constexpr double kNode[kPoints] = {-0.9061798459386640, -0.5384693101056831, 0.0,
                                   0.5384693101056831, 0.9061798459386640};
constexpr double kWeight[kPoints] = {0.2369268850561891, 0.4786286704993665, 0.5688888888888889,
                                     0.4786286704993665, 0.2369268850561891};

double Separation(const DirectionCosines& a, const DirectionCosines& b) {
  const DirectionCosines n = Cross(a, b);
  return std::atan2(std::sqrt(Dot(n, n)), Dot(a, b));
}

// G^2 at the normal n (not necessarily of unit length: it is normalised).
inline double G2(const Ellipsoid& e, double z2) {
  const double d = e.a2 - e.a2mb2 * z2;
  const double g = e.a2 * e.b / d;
  return g * g;
}

// Signed excess of (c, a, b): positive counterclockwise.
double SignedExcess(const DirectionCosines& c, const DirectionCosines& a,
                    const DirectionCosines& b) {
  const DirectionCosines ca{a.x - c.x, a.y - c.y, a.z - c.z};
  const DirectionCosines ab{b.x - a.x, b.y - a.y, b.z - a.z};
  const double t = Dot(c, Cross(ca, ab));
  const double E = 2.0 * std::atan2(std::fabs(t), 1.0 + Dot(a, b) + Dot(b, c) + Dot(c, a));
  return t < 0.0 ? -E : E;
}

// Mean of G^2 over the triangle, polar rule about c.
double MeanG2(const Ellipsoid& e, const DirectionCosines& c, const DirectionCosines& a,
              const DirectionCosines& b) {
  const double ac = Dot(a, c);
  DirectionCosines e1{a.x - ac * c.x, a.y - ac * c.y, a.z - ac * c.z};
  const double l1 = std::sqrt(Dot(e1, e1));
  if (!(l1 > 0.0)) return G2(e, c.z * c.z);
  e1 = {e1.x / l1, e1.y / l1, e1.z / l1};
  const DirectionCosines e2 = Cross(c, e1);
  const double psi_b = std::atan2(Dot(b, e2), Dot(b, e1));
  const DirectionCosines n = Cross(a, b);
  const double nc = Dot(n, c);
  const bool thin = std::fabs(psi_b) < kThinAngle;
  const int npsi = thin ? 1 : kPoints;
  double sum = 0.0, weight = 0.0;
  for (int i = 0; i < npsi; ++i) {
    const double psi = thin ? 0.5 * psi_b : 0.5 * psi_b * (1.0 + kNode[i]);
    const double wpsi = thin ? 2.0 : kWeight[i];
    const double cp = std::cos(psi), sp = std::sin(psi);
    const DirectionCosines w{cp * e1.x + sp * e2.x, cp * e1.y + sp * e2.y, cp * e1.z + sp * e2.z};
    double y = -nc, x = Dot(n, w);
    if (y < 0.0) {
      y = -y;
      x = -x;
    }
    const double T = std::atan2(y, x);
    for (int j = 0; j < kPoints; ++j) {
      const double t = 0.5 * T * (1.0 + kNode[j]);
      const double ct = std::cos(t), st = std::sin(t);
      const double z = ct * c.z + st * w.z;
      const double wt = wpsi * kWeight[j] * T * st;
      sum += wt * G2(e, z * z);
      weight += wt;
    }
  }
  if (!(weight > 0.0)) return G2(e, c.z * c.z);
  return sum / weight;
}

double Triangle(const Ellipsoid* e, const DirectionCosines& c, const DirectionCosines& a,
                const DirectionCosines& b, int depth) {
  const double E = SignedExcess(c, a, b);
  if (E == 0.0 || !std::isfinite(E)) return 0.0;
  if (!e) return E;
  const double sab = Separation(a, b), sbc = Separation(b, c), sca = Separation(c, a);
  const double longest = std::max(sab, std::max(sbc, sca));
  if (longest > MEASURE_MAX_SIDE && depth < kMaxDepth) {
    if (longest == sab) {
      const DirectionCosines m = Normalised({a.x + b.x, a.y + b.y, a.z + b.z});
      if (IsValid(m)) return Triangle(e, c, a, m, depth + 1) + Triangle(e, c, m, b, depth + 1);
    } else if (longest == sca) {
      const DirectionCosines m = Normalised({c.x + a.x, c.y + a.y, c.z + a.z});
      if (IsValid(m)) return Triangle(e, c, m, b, depth + 1) + Triangle(e, m, a, b, depth + 1);
    } else {
      const DirectionCosines m = Normalised({b.x + c.x, b.y + c.y, b.z + c.z});
      if (IsValid(m)) return Triangle(e, c, a, m, depth + 1) + Triangle(e, m, a, b, depth + 1);
    }
  }
  // The rule is taken about the corner with the smallest angle (opposite the
  // shortest side): the mean depends on psi through tan T(psi), whose poles
  // lie 90 degrees from the foot of the far side, and the narrower the span
  // of psi the farther they are from it.
  const double shortest = std::min(sab, std::min(sbc, sca));
  if (shortest == sab) return E * MeanG2(*e, c, a, b);
  if (shortest == sbc) return E * MeanG2(*e, a, b, c);
  return E * MeanG2(*e, b, c, a);
}

}  // namespace

double NormalTriangleArea(const Ellipsoid* e, const DirectionCosines& c, const DirectionCosines& a,
                          const DirectionCosines& b) {
  if (!IsValid(c) || !IsValid(a) || !IsValid(b)) return NOVALUE;
  if (e && !(e->a > 0.0 && e->b > 0.0)) return NOVALUE;
  return Triangle(e, c, a, b, 0);
}

double DirectionTriangleArea(const Ellipsoid* e, const DirectionCosines& c,
                             const DirectionCosines& a, const DirectionCosines& b) {
  if (!IsValid(c) || !IsValid(a) || !IsValid(b)) return NOVALUE;
  if (!e) return Triangle(nullptr, c, a, b, 0);
  return NormalTriangleArea(e, SurfaceNormal(c, *e), SurfaceNormal(a, *e), SurfaceNormal(b, *e));
}

double CellTrueArea(const Ellipsoid* e, const DirectionCosines& centre,
                    std::span<const DirectionCosines> vertices) {
  const std::size_t n = vertices.size();
  if (n < 3) return 0.0;
  if (!IsValid(centre)) return NOVALUE;
  const DirectionCosines c = e ? SurfaceNormal(centre, *e) : centre;
  DirectionCosines prev = vertices[n - 1];
  if (!IsValid(prev)) return NOVALUE;
  if (e) prev = SurfaceNormal(prev, *e);
  double sum = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    if (!IsValid(vertices[k])) return NOVALUE;
    const DirectionCosines v = e ? SurfaceNormal(vertices[k], *e) : vertices[k];
    const double t = NormalTriangleArea(e, c, prev, v);
    if (t == NOVALUE) return NOVALUE;
    sum += t;
    prev = v;
  }
  return sum;
}

}  // namespace geodesy

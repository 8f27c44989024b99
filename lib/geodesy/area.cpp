// Area and length: how they are computed.
//
// Notation: c the reference direction, a and b the ends of an edge, E a
// spherical excess, G the radius of Gaussian curvature, S a total.
//
// The edge-triangle methods ("s", "p") rest on the Gauss map: the area of a
// piece of the ellipsoid is the integral of G^2 over the piece's surface
// normals on the unit sphere. Each triangle (c, a, b) of normals contributes
// its spherical excess times the mean of G^2 over it, signed by its
// orientation; summed over every edge of every ring the triangles outside
// the rings cancel. Long edges are cut at points on the geodesic (or on the
// parallel) so that the triangles follow the edge's real path. The cuts also
// keep every triangle narrow, which is what lets FanTriangleArea take the
// mean of G^2 along one ray.
//
// The geodesic method ("r") is exact for geodesic edges: GeographicLib gives
// for each edge the area S12 between the geodesic and the equator; a ring's
// area is minus their sum (its sense is clockwise), made unambiguous by
// counting how often the ring crosses the prime meridian: an odd count means
// it goes round a pole and half the ellipsoid area is added or taken away.
//
// Sums of many terms of both signs use a compensated (Neumaier) sum, so the
// rounding of the total stays at the level of one term.
#include "lib/geodesy/area.h"

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/GeodesicExact.hpp>
#include <GeographicLib/GeodesicLine.hpp>
#include <GeographicLib/GeodesicLineExact.hpp>
#include <GeographicLib/Math.hpp>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace geodesy {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRadToDeg = 180.0 / kPi;
// Past this flattening GeographicLib's series geodesics lose accuracy and
// the exact (elliptic integral) ones are used.
constexpr double kSeriesFlatteningLimit = 0.01;
// No edge is cut into more pieces than this, whatever the subdivision.
constexpr double kMaxPieces = 1e5;
// Geodesic edges up to this long (metres) place their cuts by interpolation,
// and up to kLocalEdge (chord, metres) find their middle without solving the
// geodesic (see EdgeTriangles).
constexpr double kInterpolatedEdge = 50000.0;
constexpr double kLocalEdge = 10000.0;
// Chords above this squared length (about 18 degrees) take the exact angle.
constexpr double kSeriesChordLimit = 0.1;

// Neumaier's compensated sum.
struct CompensatedSum {
  double sum = 0.0;
  double carry = 0.0;
  void Add(double x) {
    const double t = sum + x;
    if (std::fabs(sum) >= std::fabs(x)) {
      carry += (sum - t) + x;
    } else {
      carry += (x - t) + sum;
    }
    sum = t;
  }
  double Value() const { return sum + carry; }
};

bool Usable(const Ellipsoid& e) {
  return e.a > 0.0 && e.b > 0.0 && std::isfinite(e.a) && std::isfinite(e.b) && e.a2 > 0.0;
}

// One ring or segment of a marked list: [begin, end).
struct Piece {
  std::size_t begin, end;
};

// Calls f(piece) for every non-empty piece; two marks in a row end the list.
template <typename F>
void ForEachPiece(std::span<const DirectionCosines> v, F f) {
  std::size_t i = 0;
  while (i < v.size()) {
    const std::size_t begin = i;
    while (i < v.size() && IsValid(v[i])) ++i;
    if (i > begin) f(Piece{begin, i});
    if (i >= v.size()) return;
    ++i;  // the mark ending this piece
    if (i < v.size() && !IsValid(v[i])) return;
  }
}

// The normalised sum of every vertex of the list (NOVALUE in x for none).
DirectionCosines CentreOf(std::span<const DirectionCosines> v) {
  DirectionCosines s{};
  ForEachPiece(v, [&](Piece p) {
    for (std::size_t i = p.begin; i < p.end; ++i) {
      s.x += v[i].x;
      s.y += v[i].y;
      s.z += v[i].z;
    }
  });
  return Normalised(s);
}

// Angle between unit vectors, accurate for every separation.
double Separation(const DirectionCosines& a, const DirectionCosines& b) {
  const DirectionCosines n = Cross(a, b);
  return std::atan2(std::sqrt(Dot(n, n)), Dot(a, b));
}

// Geodetic latitude and longitude, degrees, of a surface normal.
void NormalToDegrees(const DirectionCosines& n, double& lat, double& lon) {
  const LatLong ll = CosinesToGeocentric(n);
  lat = ll.lat * kRadToDeg;
  lon = ll.lon * kRadToDeg;
}

DirectionCosines NormalFromDegrees(double lat, double lon) {
  return GeocentricToCosines({lat / kRadToDeg, lon / kRadToDeg});
}

// 1 or -1 when the edge from lon1 to lon2 (the shorter way) crosses the
// prime meridian eastwards or westwards, else 0; longitude +-0 counts as
// east of it.
int Transit(double lon1, double lon2) {
  const double lon12 = GeographicLib::Math::AngDiff(lon1, lon2);
  lon1 = GeographicLib::Math::AngNormalize(lon1);
  lon2 = GeographicLib::Math::AngNormalize(lon2);
  if (lon12 > 0 && ((lon1 < 0 && lon2 >= 0) || (lon1 > 0 && lon2 == 0))) return 1;
  if (lon12 < 0 && lon1 >= 0 && lon2 < 0) return -1;
  return 0;
}

// Gauss-Legendre rules on [-1, 1]: six points for rays up to kLongRay
// radians, ten beyond, where G^2 along the ray goes through most of its
// range (six points leave 3e-7 of the area of all land, ten 1e-11).
struct QuadratureRule {
  int count;
  double node[10];
  double weight[10];
};
constexpr double kLongRay = 0.5;
constexpr QuadratureRule kSixPoint = {
    6,
    {-0.9324695142031521, -0.6612093864662645, -0.2386191860831969, 0.2386191860831969,
     0.6612093864662645, 0.9324695142031521},
    {0.1713244923791704, 0.3607615730481386, 0.4679139345726910, 0.4679139345726910,
     0.3607615730481386, 0.1713244923791704}};
constexpr QuadratureRule kTenPoint = {
    10,
    {-0.9739065285171717, -0.8650633666889845, -0.6794095682990244, -0.4333953941292472,
     -0.1488743389816312, 0.1488743389816312, 0.4333953941292472, 0.6794095682990244,
     0.8650633666889845, 0.9739065285171717},
    {0.0666713443086881, 0.1494513491505806, 0.2190863625159820, 0.2692667193099963,
     0.2955242247147529, 0.2955242247147529, 0.2692667193099963, 0.2190863625159820,
     0.1494513491505806, 0.0666713443086881}};

// Rays at least this long (cos below kQuadratureRayCos) take the closed
// form: on shorter ones its terms cancel to the ray's length squared and the
// six-point rule is as good.
constexpr double kQuadratureRay = 0.05;
const double kQuadratureRayCos = std::cos(kQuadratureRay);

// The mean of G^2 weighted by sin t along the ray from c at distance t, 0 to
// theta, in closed form; the ray's direction cosine z is
// z(t) = alpha cos t + beta sin t = R cos(t - phi) (alpha = c.z, beta = w.z).
// G = b / (1 - e2 z^2) (e2 = (a^2 - b^2) / a^2), so with k^2 = e2 R^2 and
// u = t - phi, sin t = sin u cos phi + cos u sin phi:
//   integral of sin t G^2 dt = b^2 (cos phi (-dF) + sin phi dH / (1 - k^2)^2),
//   F(v) = v / (2 (1 - k^2 v^2)) + atanh(k v) / (2k),        v = cos u,
//   H(s) = s / (2 (1 + m^2 s^2)) + atan(m s) / (2m),          s = sin u,
// m^2 = k^2 / (1 - k^2), the differences dF, dH between u = -phi and
// u = theta - phi each taken as one expression (no difference of large
// terms), and the weight's integral 1 - cos theta. NOVALUE where the form
// does not serve (a prolate ellipsoid, a degenerate ray).
double RayMeanOfG2(const Ellipsoid& e, double alpha, double beta, double cos_t, double sin_t) {
  const double a2 = e.a * e.a, b2 = e.b * e.b;
  const double e2 = (a2 - b2) / a2;
  const double R2 = alpha * alpha + beta * beta;
  if (!(e2 >= 0.0) || !(R2 <= 1.0 + 1e-12) || !(sin_t > 0.0)) return NOVALUE;
  if (e2 == 0.0 || R2 == 0.0) return b2;  // G is b all along the ray
  const double R = std::sqrt(R2);
  const double cp = alpha / R, sp = beta / R;
  // 1 - cos theta without cancellation.
  const double vers = cos_t > 0.0 ? sin_t * sin_t / (1.0 + cos_t) : 1.0 - cos_t;
  const double v0 = cp, s0 = -sp;  // u = -phi
  const double dv = sin_t * sp - vers * cp;  // cos(theta - phi) - cos(-phi)
  const double ds = sin_t * cp + vers * sp;  // sin(theta - phi) - sin(-phi)
  const double v1 = v0 + dv, s1 = s0 + ds;
  const double k2 = e2 * R2, k = std::sqrt(k2);
  const double m2 = k2 / (1.0 - k2), m = std::sqrt(m2);
  const double D0 = 1.0 - k2 * v0 * v0, D1 = 1.0 - k2 * v1 * v1;
  const double dF = dv * (1.0 + k2 * v0 * v1) / (2.0 * D0 * D1) +
                    std::atanh(k * dv / (1.0 - k2 * v0 * v1)) / (2.0 * k);
  const double E0 = 1.0 + m2 * s0 * s0, E1 = 1.0 + m2 * s1 * s1;
  const double dH = ds * (1.0 - m2 * s0 * s1) / (2.0 * E0 * E1) +
                    std::atan(m * ds / (1.0 + m2 * s0 * s1)) / (2.0 * m);
  const double q = 1.0 - k2;
  const double integral = -cp * dF + sp * dH / (q * q);
  const double mean = b2 * integral / vers;
  return std::isfinite(mean) && mean > 0.0 ? mean : NOVALUE;
}

// Signed area of a fan triangle (c, a, b) whose base (a, b) is short: the
// spherical excess times the mean of G^2 over the triangle. The centroid
// value that EllipsoidalTriangleArea takes is good for compact triangles,
// but a fan triangle reaches from c across a continent, and G^2 changes by
// 1.3% from the equator to the poles: the centroid value alone leaves up to
// 1e-3 of a region's area wrong. Across the narrow triangle G^2 is constant
// to 1e-10, so the mean is taken along the ray from c to the middle of the
// base, weighted by the triangle's width there, sin(t) at distance t from c:
// mean = (integral of G^2 sin t dt) / (integral of sin t dt), 0 to theta. The
// integrand is smooth in t (in u = 1 - cos t it would have a square-root end
// point), so a short Gauss-Legendre rule integrates it to about 1e-12.
//
// The excess itself comes from tan(E/2) = |T| / (1 + a.b + b.c + c.a), T the
// triple product formed from the short base vector b - a: L'Huilier's
// formula loses half the digits on needles (a base pointing at c), where
// this one keeps the error at the rounding of the base vector.
//
// On an oblate ellipsoid the mean has a closed form, which rays longer than
// kQuadratureRay take (see RayMeanOfG2): it is exact where the ten-point rule
// leaves 1e-11 of a continent's area, and costs two inverse functions instead
// of ten sines, cosines and radii.
double FanTriangleArea(const Ellipsoid& e, const DirectionCosines& c, const DirectionCosines& a,
                       const DirectionCosines& b) {
  const DirectionCosines ca{a.x - c.x, a.y - c.y, a.z - c.z};
  const DirectionCosines ab{b.x - a.x, b.y - a.y, b.z - a.z};
  const double T = Dot(c, Cross(ca, ab));
  const double E = 2.0 * std::atan2(std::fabs(T), 1.0 + Dot(a, b) + Dot(b, c) + Dot(c, a));
  if (E < SAME_POINT_SQ) return 0.0;
  const DirectionCosines mid = Normalised({a.x + b.x, a.y + b.y, a.z + b.z});
  if (!IsValid(mid)) return NOVALUE;
  const double cm = Dot(c, mid);
  const DirectionCosines off{mid.x - cm * c.x, mid.y - cm * c.y, mid.z - cm * c.z};
  const DirectionCosines w = Normalised(off);
  if (!IsValid(w)) return EllipsoidalTriangleArea(e, c, a, b);  // base about c itself
  double mean = NOVALUE;
  if (cm < kQuadratureRayCos) {
    // cos and sin of the ray's length theta, without the angle itself.
    const double sin_t = std::sqrt(Dot(off, off));
    mean = RayMeanOfG2(e, c.z, w.z, cm, sin_t);
  }
  if (mean == NOVALUE) {
    const double theta = Separation(c, mid);
    if (!(theta > 0.0)) return EllipsoidalTriangleArea(e, c, a, b);
    const QuadratureRule& rule = theta > kLongRay ? kTenPoint : kSixPoint;
    double integral = 0.0, weight = 0.0;
    for (int i = 0; i < rule.count; ++i) {
      const double t = 0.5 * theta * (1.0 + rule.node[i]);
      const double ct = std::cos(t), st = std::sin(t);
      const double g =
          GaussianRadius(e, {ct * c.x + st * w.x, ct * c.y + st * w.y, ct * c.z + st * w.z});
      if (g == NOVALUE) return NOVALUE;
      integral += rule.weight[i] * g * g * st;
      weight += rule.weight[i] * st;
    }
    // Dividing by the rule's own integral of sin t (rather than 1 - cos theta)
    // makes a constant G^2 come out exactly, however long the ray.
    mean = integral / weight;
  }
  return T > 0.0 ? E * mean : -E * mean;
}

// Adds the signed triangle t to the total and its size to the scale.
bool AddTriangle(double t, CompensatedSum& total, CompensatedSum& scale) {
  if (t == NOVALUE) return false;
  total.Add(t);
  scale.Add(std::fabs(t));
  return true;
}

// True when the geodesic between the surface points of normals a and b is
// surely no longer than limit metres. A curve whose curvature stays below
// kappa and whose ends are a chord d apart is at most (2 / kappa) asin(kappa
// d / 2) long; a geodesic's curvature in space is the surface's normal
// curvature, at most the larger of a / b^2 (the meridian at the equator of
// an oblate ellipsoid) and b / a^2 (the poles of a prolate one).
// The point of the ellipsoid whose surface normal is n (metres).
DirectionCosines SurfacePoint(const Ellipsoid& e, const DirectionCosines& n) {
  const double a2 = e.a * e.a, b2 = e.b * e.b;
  const double r = std::sqrt(a2 * (n.x * n.x + n.y * n.y) + b2 * n.z * n.z);
  return {a2 * n.x / r, a2 * n.y / r, b2 * n.z / r};
}

bool SurelyShorter(const Ellipsoid& e, const DirectionCosines& a, const DirectionCosines& b, double limit) {
  const double a2 = e.a * e.a, b2 = e.b * e.b;
  const DirectionCosines p = SurfacePoint(e, a), q = SurfacePoint(e, b);
  const double d = std::sqrt(ChordSq(p, q));
  const double kappa = std::max(e.a / b2, e.b / a2);
  const double x = 0.5 * kappa * d;
  if (!(x < 0.5)) return false;
  // A part in 1e-9 of room for the rounding of both lengths.
  return 2.0 / kappa * std::asin(x) * (1.0 + 1e-9) < limit;
}

// The normal at the middle of a short geodesic between the surface points
// p and q (normals a and b): the chord's midpoint moved along the mean normal
// onto the surface. That point lies between the two normal sections of p and
// q, which a geodesic of 10 km leaves less than 2 micrometres apart (the
// separation grows with the cube of the length), and only a sideways stray
// from the geodesic changes the area.
DirectionCosines LocalMidNormal(const Ellipsoid& e, const DirectionCosines& p, const DirectionCosines& q,
                                const DirectionCosines& a, const DirectionCosines& b) {
  const DirectionCosines u = Normalised({a.x + b.x, a.y + b.y, a.z + b.z});
  const DirectionCosines m0{0.5 * (p.x + q.x), 0.5 * (p.y + q.y), 0.5 * (p.z + q.z)};
  const double ia2 = 1.0 / (e.a * e.a), ib2 = 1.0 / (e.b * e.b);
  // (m0 + t u) on the surface: A t^2 + B t + C = 0, C below 0 (m0 inside).
  const double A = (u.x * u.x + u.y * u.y) * ia2 + u.z * u.z * ib2;
  const double B = 2.0 * ((m0.x * u.x + m0.y * u.y) * ia2 + m0.z * u.z * ib2);
  const double C = (m0.x * m0.x + m0.y * m0.y) * ia2 + m0.z * m0.z * ib2 - 1.0;
  const double root = std::sqrt(std::max(0.0, B * B - 4.0 * A * C));
  const double t = B + root != 0.0 ? -2.0 * C / (B + root) : 0.0;
  const DirectionCosines x{m0.x + t * u.x, m0.y + t * u.y, m0.z + t * u.z};
  return Normalised({x.x * ia2, x.y * ia2, x.z * ib2});
}

// Adds the triangles of c with the pieces of the edge (a, b); false when one
// of them is no position.
template <typename Geod, typename Line>
bool EdgeTriangles(const Geod& geod, const Ellipsoid& e, const DirectionCosines& c,
                   const DirectionCosines& a, const DirectionCosines& b, double subdivision,
                   EdgePath path, CompensatedSum& total, CompensatedSum& scale) {
  if (ChordSq(a, b) < SAME_POINT_SQ) return true;
  // Most edges of a detailed outline are shorter than the subdivision, which
  // the chord between their surface points shows without solving the
  // geodesic.
  if (SurelyShorter(e, a, b, subdivision)) return AddTriangle(FanTriangleArea(e, c, a, b), total, scale);
  const bool parallel = path == EdgePath::ParallelWhenLevel &&
                        std::fabs(std::asin(std::clamp(a.z, -1.0, 1.0)) -
                                  std::asin(std::clamp(b.z, -1.0, 1.0))) < PARALLEL_EDGE_TOLERANCE;
  // The cuts of a geodesic edge up to kInterpolatedEdge long lie on the
  // quadratic through the normals at its ends and its middle: normalised,
  // its points stray from the geodesic's normals by the cube of the edge's
  // angle times the eccentricity squared (micrometres on the ground), and
  // only sideways strays change the area.
  auto interpolated = [&](const DirectionCosines& m, int n) {
    const double parts = n + 1.0;
    DirectionCosines prev = a;
    for (int k = 1; k <= n; ++k) {
      const double f = k / parts;
      const double wa = (1.0 - f) * (1.0 - 2.0 * f), wm = 4.0 * f * (1.0 - f), wb = f * (2.0 * f - 1.0);
      const DirectionCosines p = Normalised({wa * a.x + wm * m.x + wb * b.x, wa * a.y + wm * m.y + wb * b.y,
                                             wa * a.z + wm * m.z + wb * b.z});
      if (!AddTriangle(FanTriangleArea(e, c, prev, p), total, scale)) return false;
      prev = p;
    }
    return AddTriangle(FanTriangleArea(e, c, prev, b), total, scale);
  };
  if (!parallel) {
    // Up to kLocalEdge the chord stands for the length (the piece count
    // only) and the middle is found without solving the geodesic.
    const DirectionCosines p = SurfacePoint(e, a), q = SurfacePoint(e, b);
    const double chord = std::sqrt(ChordSq(p, q));
    if (chord <= kLocalEdge) {
      if (!(chord > subdivision)) return AddTriangle(FanTriangleArea(e, c, a, b), total, scale);
      return interpolated(LocalMidNormal(e, p, q, a, b), static_cast<int>(std::floor(chord / subdivision)));
    }
  }
  double lat1, lon1, lat2, lon2;
  NormalToDegrees(a, lat1, lon1);
  NormalToDegrees(b, lat2, lon2);
  // The line's own inverse solution gives the length too.
  const Line line = geod.InverseLine(lat1, lon1, lat2, lon2,
                                     Geod::LATITUDE | Geod::LONGITUDE | Geod::DISTANCE_IN);
  const double length = line.Distance();
  if (!(length > subdivision)) return AddTriangle(FanTriangleArea(e, c, a, b), total, scale);
  double cuts = std::floor(length / subdivision);
  if (cuts > kMaxPieces) cuts = kMaxPieces;
  const int n = static_cast<int>(cuts);
  const double parts = n + 1.0;
  DirectionCosines prev = a;
  if (parallel) {
    const double dlon = GeographicLib::Math::AngDiff(lon1, lon2);
    for (int k = 1; k <= n; ++k) {
      const double f = k / parts;
      const DirectionCosines p = NormalFromDegrees(lat1 + (lat2 - lat1) * f, lon1 + dlon * f);
      if (!AddTriangle(FanTriangleArea(e, c, prev, p), total, scale)) return false;
      prev = p;
    }
  } else if (length <= kInterpolatedEdge) {
    // One position on the line instead of one a cut.
    double lat, lon;
    line.Position(0.5 * length, lat, lon);
    return interpolated(NormalFromDegrees(lat, lon), n);
  } else {
    for (int k = 1; k <= n; ++k) {
      double lat, lon;
      line.Position(length * (k / parts), lat, lon);
      const DirectionCosines p = NormalFromDegrees(lat, lon);
      if (!AddTriangle(FanTriangleArea(e, c, prev, p), total, scale)) return false;
      prev = p;
    }
  }
  return AddTriangle(FanTriangleArea(e, c, prev, b), total, scale);
}

template <typename Geod, typename Line>
double AreaByEdges(const Geod& geod, const Ellipsoid& e, std::span<const DirectionCosines> v,
                   double subdivision, EdgePath path) {
  const DirectionCosines c = CentreOf(v);
  if (!IsValid(c)) return NOVALUE;
  CompensatedSum total;
  CompensatedSum scale;  // the sum of the triangles' sizes, for the rounding test below
  bool invalid = false;
  ForEachPiece(v, [&](Piece p) {
    for (std::size_t i = p.begin; i < p.end && !invalid; ++i) {
      const std::size_t j = i + 1 < p.end ? i + 1 : p.begin;
      if (!EdgeTriangles<Geod, Line>(geod, e, c, v[i], v[j], subdivision, path, total, scale)) {
        invalid = true;
      }
    }
  });
  if (invalid) return NOVALUE;
  double area = total.Value();
  // A negative total means the rings enclose the far side of c: the region
  // is everything but what the rings cut out. A total that is negative only
  // by rounding is an empty region.
  if (area < 0.0) area = area < -1e-12 * scale.Value() ? area + 2.0 * e.half_area : 0.0;
  return area;
}

template <typename Geod>
GeodesicMeasure GeodesicRegion(const Geod& geod, const Ellipsoid& e,
                               std::span<const DirectionCosines> v) {
  const double whole = 2.0 * e.half_area;
  CompensatedSum area, perimeter;
  ForEachPiece(v, [&](Piece p) {
    if (p.end - p.begin < 2) return;
    CompensatedSum ring;
    int crossings = 0;
    double lat0, lon0;
    NormalToDegrees(v[p.begin], lat0, lon0);
    double lat1 = lat0, lon1 = lon0;
    for (std::size_t i = p.begin; i < p.end; ++i) {
      double lat2 = lat0, lon2 = lon0;
      if (i + 1 < p.end) NormalToDegrees(v[i + 1], lat2, lon2);
      double s12 = 0.0, S12 = 0.0, t;
      geod.GenInverse(lat1, lon1, lat2, lon2, Geod::DISTANCE | Geod::AREA, s12, t, t, t, t, t, S12);
      perimeter.Add(s12);
      ring.Add(S12);
      crossings += Transit(lon1, lon2);
      lat1 = lat2;
      lon1 = lon2;
    }
    // The sum is in the clockwise sense and known modulo the whole area.
    double r = std::remainder(ring.Value(), whole);
    if (crossings & 1) r += (r < 0 ? 1 : -1) * whole / 2;
    r = -r;
    if (r > whole / 2) {
      r -= whole;
    } else if (r <= -whole / 2) {
      r += whole;
    }
    area.Add(r);
  });
  double total = area.Value();
  if (total < 0) total += whole;
  if (total >= whole) total -= whole;
  return {total, perimeter.Value()};
}

}  // namespace

double GaussianRadius(const Ellipsoid& e, const DirectionCosines& u) {
  if (!IsValid(u)) return NOVALUE;
  const double h2 = u.x * u.x + u.y * u.y;
  if (h2 < SAME_POINT_SQ) return e.a2 / e.b;
  const double d = e.a2 * h2 + e.b2 * u.z * u.z;
  if (!(d >= SAME_POINT_SQ)) return NOVALUE;
  return e.a2 * e.b / d;
}

double GeocentricRadius(const Ellipsoid& e, const DirectionCosines& c) {
  const double h2 = c.x * c.x + c.y * c.y;
  if (h2 < SAME_POINT_SQ) return e.b;
  return e.a * e.b / std::sqrt(e.b2 * h2 + e.a2 * c.z * c.z);
}

double ChordAngle(double q) {
  if (!(q >= SAME_POINT_SQ)) return 0.0;
  if (q > kSeriesChordLimit) return 2.0 * std::asin(std::min(1.0, std::sqrt(q) / 2.0));
  // 2 asin(sqrt(q)/2) = sqrt(q) (1 + q/24 + 3q^2/640 + ...), by Horner.
  static constexpr double kC[] = {1.0,
                                  0.041666666666666664,
                                  0.0046875,
                                  0.0006975446428571429,
                                  0.00011867947048611111,
                                  2.184781161221591e-5,
                                  4.236514751727765e-6,
                                  8.52346420288086e-7,
                                  1.7626649316619423e-7,
                                  3.7237435653279846e-8};
  double s = 0.0;
  for (int k = 9; k >= 0; --k) s = s * q + kC[k];
  return std::sqrt(q) * s;
}

double SphericalTriangleArea(const DirectionCosines& a, const DirectionCosines& b,
                             const DirectionCosines& c) {
  const double sa = Separation(b, c), sb = Separation(c, a), sc = Separation(a, b);
  const double s = 0.5 * (sa + sb + sc);
  const double p = std::tan(0.5 * s) * std::tan(0.5 * (s - sa)) * std::tan(0.5 * (s - sb)) *
                   std::tan(0.5 * (s - sc));
  if (!(p > 0.0)) return 0.0;
  return 4.0 * std::atan(std::sqrt(p));
}

double CellArea(const DirectionCosines& centre, std::span<const DirectionCosines> vertices,
                const Ellipsoid* e) {
  if (vertices.size() < 2) return 0.0;
  double g2 = 1.0;
  if (e) {
    const double g = GaussianRadius(*e, centre);
    if (g == NOVALUE) return NOVALUE;
    g2 = g * g;
  }
  CompensatedSum sum;
  for (std::size_t k = 0; k < vertices.size(); ++k) {
    const DirectionCosines& prev = vertices[k == 0 ? vertices.size() - 1 : k - 1];
    sum.Add(SphericalTriangleArea(centre, prev, vertices[k]));
  }
  return g2 * sum.Value();
}

bool NormaliseCellAreas(std::span<double> areas) {
  CompensatedSum sum;
  for (double a : areas) sum.Add(a);
  const double total = sum.Value();
  if (!(total > 0.0) || !std::isfinite(total)) return false;
  for (double& a : areas) a /= total;
  return true;
}

double EllipsoidalTriangleArea(const Ellipsoid& e, const DirectionCosines& c,
                               const DirectionCosines& a, const DirectionCosines& b) {
  const double E = SphericalTriangleArea(c, a, b);
  if (std::fabs(E) < SAME_POINT_SQ) return 0.0;
  const DirectionCosines m = Normalised({c.x + a.x + b.x, c.y + a.y + b.y, c.z + a.z + b.z});
  if (!IsValid(m)) return NOVALUE;
  const double g = GaussianRadius(e, m);
  if (g == NOVALUE) return NOVALUE;
  const double area = E * g * g;
  return Dot(c, Cross(a, b)) > SAME_POINT_SQ ? area : -area;
}

double SubdivisionLength(const Ellipsoid& e) { return MeanRadius(e) / 10000.0; }

double RegionAreaByEdges(const Ellipsoid& e, std::span<const DirectionCosines> normals,
                         double subdivision, EdgePath path) {
  if (!Usable(e) || !(subdivision > 0.0)) return NOVALUE;
  const double f = (e.a - e.b) / e.a;
  if (std::fabs(f) > kSeriesFlatteningLimit) {
    const GeographicLib::GeodesicExact geod(e.a, f);
    return AreaByEdges<GeographicLib::GeodesicExact, GeographicLib::GeodesicLineExact>(
        geod, e, normals, subdivision, path);
  }
  const GeographicLib::Geodesic geod(e.a, f);
  return AreaByEdges<GeographicLib::Geodesic, GeographicLib::GeodesicLine>(geod, e, normals,
                                                                           subdivision, path);
}

GeodesicMeasure RegionGeodesicMeasure(const Ellipsoid& e,
                                      std::span<const DirectionCosines> normals) {
  if (!Usable(e)) return {NOVALUE, NOVALUE};
  const double f = (e.a - e.b) / e.a;
  if (std::fabs(f) > kSeriesFlatteningLimit) {
    return GeodesicRegion(GeographicLib::GeodesicExact(e.a, f), e, normals);
  }
  return GeodesicRegion(GeographicLib::Geodesic(e.a, f), e, normals);
}

double PolylineLength(const Ellipsoid& e, std::span<const DirectionCosines> vertices) {
  bool any = false;
  ForEachPiece(vertices, [&](Piece) { any = true; });
  if (!any) return 0.0;
  const DirectionCosines c = CentreOf(vertices);
  if (!IsValid(c)) return NOVALUE;
  CompensatedSum sum;
  ForEachPiece(vertices, [&](Piece p) {
    for (std::size_t i = p.begin + 1; i < p.end; ++i) {
      sum.Add(ChordAngle(ChordSq(vertices[i - 1], vertices[i])));
    }
  });
  return GeocentricRadius(e, c) * sum.Value();
}

template <typename Geod>
double GeodesicLength(const Geod& geod, const Ellipsoid& e,
                      std::span<const DirectionCosines> vertices) {
  CompensatedSum sum;
  ForEachPiece(vertices, [&](Piece p) {
    LatLong prev = CosinesToGeodetic(vertices[p.begin], e);
    for (std::size_t i = p.begin + 1; i < p.end; ++i) {
      const LatLong next = CosinesToGeodetic(vertices[i], e);
      double s12 = 0.0;
      geod.Inverse(prev.lat * kRadToDeg, prev.lon * kRadToDeg, next.lat * kRadToDeg,
                   next.lon * kRadToDeg, s12);
      sum.Add(s12);
      prev = next;
    }
  });
  return sum.Value();
}

double GeodesicPolylineLength(const Ellipsoid& e, std::span<const DirectionCosines> vertices) {
  if (!Usable(e)) return NOVALUE;
  const double f = (e.a - e.b) / e.a;
  if (std::fabs(f) > kSeriesFlatteningLimit) {
    return GeodesicLength(GeographicLib::GeodesicExact(e.a, f), e, vertices);
  }
  return GeodesicLength(GeographicLib::Geodesic(e.a, f), e, vertices);
}

}  // namespace geodesy

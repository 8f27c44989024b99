#include "lib/ops/rset_buffers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <unordered_map>
#include <vector>

#include "lib/cells/coord_text.h"
#include "lib/cells/object_builder.h"
#include "lib/ops/rset_complement.h"
#include "lib/ops/rset_write.h"

namespace ops {

namespace {

using geodesy::DirectionCosines;
using V = DirectionCosines;

V Sub(V a, V b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V Add(V a, V b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V Mul(V a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double VDot(V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V VCross(V a, V b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
V Unit(V a) { return Mul(a, 1.0 / std::sqrt(VDot(a, a))); }
double Det(V a, V b, V c) { return VDot(VCross(a, b), c); }

double ArcAngle(V a, V b) {
  const V ab = VCross(a, b);
  return std::atan2(std::sqrt(VDot(ab, ab)), VDot(a, b));
}

// The point at angle rho from c in the tangent direction dir (unit, normal to c),
// from rho's cosine and sine.
V Toward(V c, V dir, double cos_rho, double sin_rho) { return Unit(Add(Mul(c, cos_rho), Mul(dir, sin_rho))); }
V Toward(V c, V dir, double rho) { return Toward(c, dir, std::cos(rho), std::sin(rho)); }

// std::nextafter(x, y) for finite x, without the library call (six for each
// edge's box).
inline float NextFloat(float x, float y) {
  if (x == y) return y;
  if (x != x) return x;  // NaN
  if (x == 0.0f) return y > 0.0f ? std::numeric_limits<float>::denorm_min() : -std::numeric_limits<float>::denorm_min();
  std::uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  bits = (y > x) == (x > 0.0f) ? bits + 1 : bits - 1;  // away from zero, or towards it
  std::memcpy(&x, &bits, sizeof bits);
  return x;
}

// A one-sided buffer keeps this hair of width (radians, 3 m) on its other
// side, with round parts of twice that and four vertices to a circle, so that
// neighbouring legs overlap rather than touch along the line itself. The
// hair's long edges run nearly along those of the next leg's hair, and where
// they cross the crossing point is only as good as the angle between them: at
// 0.3 m, legs of some hundred kilometres meeting at sharp turns left merged
// rings that did not close.
constexpr double kHairWidth = 5e-7;
// The round parts of a join reach this far (radians of direction) past the
// perpendicular of each leg, so that no join edge runs through the corner of
// a band.
constexpr double kJoinOverlap = 1e-3;
// How far a join's wider side reaches past a leg's great circle: this angle
// of direction, but no more than this far at its radius (radians, 0.25 m).
constexpr double kSideTilt = 1e-5;
constexpr double kSideTiltReach = 4e-8;

// How deep inside another shape an edge must lie for the merge to leave it
// out (radians, 6 mm): far beyond the snap distance and the sign tolerances
// of the crossing test.
constexpr double kDeepInside = 1e-9;

enum ShapeKind { kNGon, kLeg, kJoin };

// Leg shape: a band of each side's width along the great-circle arc a-b,
// with quarter circles at the ends that are ends of the line.
struct LegShape {
  V a, b, n, ea, eb;  // n = unit(a x b) points left; ea, eb the forward tangents at a and b
  double len = 0.0;
  int steps = 1;
  std::vector<V> right, left;  // offsets at the steps, 0 ... steps
  bool cap_a = false, cap_b = false;
  std::vector<V> cap_br, cap_bl, cap_al, cap_ar;  // quarter circles, counterclockwise about their end
  // A band of one step is where the four planes of its sides (unit normals,
  // pointing in) keep a point on their positive sides.
  V side[4]{};
};

// Join shape: star-shaped about the vertex; angle[i] .. angle[i+1] is spanned
// by the chord from pt[2i] to pt[2i+1].
struct JoinShape {
  V c, e1, e2;
  std::vector<double> angle;
  std::vector<double> pangle;  // the angles as PseudoAngle from -e1
  std::vector<V> pt;
};

struct Shape {
  std::vector<V> v;  // the ring, counterclockwise
  std::uint64_t attr = 0;
  int kind = kNGon;
  V centre{};
  double reach = 0.0;  // every point of the shape lies within this angle of centre
  // n-gons: the cosine of the angle from centre within which a point lies
  // deep inside (a little less than the inscribed circle's radius).
  double deep_cos = 2.0;
  int sub = -1;        // index into the legs or joins
};

struct Shapes {
  std::vector<Shape> all;
  std::vector<LegShape> legs;
  std::vector<JoinShape> joins;
};

Shape NGon(V p, double r, int n, std::uint64_t attr) {
  V north;
  if (std::hypot(p.x, p.y) < 1e-12) north = {1.0, 0.0, 0.0};
  else north = Unit(Sub({0.0, 0.0, 1.0}, Mul(p, p.z)));
  const V east = VCross(north, p);
  Shape g;
  g.attr = attr;
  g.kind = kNGon;
  g.centre = p;
  g.reach = r;
  // The inscribed circle: tan(inradius) = tan(r) cos(pi / n).
  const double inradius = std::atan(std::tan(std::min(r, M_PI / 2 - 1e-9)) * std::cos(M_PI / n));
  g.deep_cos = std::cos(inradius * (1.0 - 1e-9) - kDeepInside);
  g.v.reserve(static_cast<std::size_t>(n));
  for (int k = 0; k < n; ++k) {
    const double t = 2.0 * M_PI * k / n;
    const V dir = Sub(Mul(north, std::cos(t)), Mul(east, std::sin(t)));
    g.v.push_back(Unit(Add(Mul(p, std::cos(r)), Mul(dir, std::sin(r)))));
  }
  return g;
}

bool InsideConvex(const std::vector<V>& v, V q) {
  const std::size_t n = v.size();
  for (std::size_t i = 0; i < n; ++i)
    if (Det(v[i], v[(i + 1) % n], q) <= 0.0) return false;
  return true;
}

// An angle in [0, pi/2] of a direction (x, y) with x, y >= 0, to within a
// few thousandths of a radian: enough to find the bin, which the callers
// then check exactly.
double RoughQuarterAngle(double x, double y) {
  const bool steep = y > x;
  const double t = steep ? x / y : (x > 0.0 ? y / x : 0.0);
  const double a = t * (M_PI / 4 + 0.273 * (1.0 - t));
  return steep ? M_PI / 2 - a : a;
}

// A monotonic stand-in for the angle of (x, y) from +x counterclockwise,
// in [0, 4).
double PseudoAngle(double x, double y) {
  if (y >= 0.0) return x >= 0.0 ? (x + y > 0.0 ? y / (x + y) : 0.0) : 1.0 - x / (y - x);
  return x < 0.0 ? 2.0 - y / (-x - y) : 3.0 + x / (x - y);
}

// Inside one quarter fan about c: pts[0 .. m] at the angles 0 ... pi/2
// measured from u1 towards u2.
bool InsideFan(V c, V u1, V u2, const std::vector<V>& pts, V q) {
  const double x = VDot(q, u1), y = VDot(q, u2);
  if (x < 0.0 || y < 0.0 || VDot(q, c) <= 0.0) return false;
  const int m = static_cast<int>(pts.size()) - 1;
  int j = std::clamp(static_cast<int>(RoughQuarterAngle(x, y) / (M_PI / 2.0) * m), 0, m - 1);
  // q lies between the rays through pts[j] and pts[j + 1].
  auto beyond = [&](int k) {  // q is counterclockwise of the ray through pts[k]
    const double px = VDot(pts[k], u1), py = VDot(pts[k], u2);
    return px * y - py * x >= 0.0;
  };
  while (j > 0 && !beyond(j)) --j;
  while (j + 1 < m && beyond(j + 1)) ++j;
  return Det(pts[j], pts[j + 1], q) > 0.0;
}

bool InsideLeg(const LegShape& g, V q) {
  const double s = VDot(q, g.n);
  const double along_a = VDot(q, g.ea), along_b = VDot(q, g.eb);
  // Between the perpendiculars at a and b.
  if (along_a >= 0.0 && along_b <= 0.0) {
    int i = 0;
    if (g.steps > 1) {
      const double alpha = std::atan2(along_a, VDot(q, g.a));
      i = std::clamp(static_cast<int>(alpha / g.len * g.steps), 0, g.steps - 1);
    }
    if (s < 0.0 ? Det(g.right[i], g.right[i + 1], q) > 0.0 : Det(g.left[i + 1], g.left[i], q) > 0.0)
      return true;
  }
  const V rn = Mul(g.n, -1.0);
  if (g.cap_b && along_b >= 0.0) {
    if (s < 0.0 ? InsideFan(g.b, rn, g.eb, g.cap_br, q) : InsideFan(g.b, g.eb, g.n, g.cap_bl, q)) return true;
  }
  if (g.cap_a && along_a <= 0.0) {
    const V back = Mul(g.ea, -1.0);
    if (s >= 0.0 ? InsideFan(g.a, g.n, back, g.cap_al, q) : InsideFan(g.a, back, rn, g.cap_ar, q)) return true;
  }
  return false;
}

// The bin of join g that direction q lies in, by the pseudo-angle from -e1,
// which grows with the angle from -pi to pi.
std::size_t JoinBin(const JoinShape& g, V q) {
  const double phi = PseudoAngle(-VDot(q, g.e1), -VDot(q, g.e2));
  auto it = std::upper_bound(g.pangle.begin(), g.pangle.end(), phi);
  const std::size_t i = it == g.pangle.begin() ? 0 : static_cast<std::size_t>(it - g.pangle.begin()) - 1;
  return std::min(i, g.pangle.size() - 2);
}

bool InsideJoin(const JoinShape& g, V q) {
  if (VDot(q, g.c) <= 0.0) return false;
  const std::size_t i = JoinBin(g, q);
  return Det(g.pt[2 * i], g.pt[2 * i + 1], q) > 0.0;
}

bool Inside(const Shapes& s, const Shape& g, V q) {
  switch (g.kind) {
    case kLeg: return InsideLeg(s.legs[g.sub], q);
    case kJoin: return InsideJoin(s.joins[g.sub], q);
    default: return InsideConvex(g.v, q);
  }
}


// Whether x lies on the positive side of the plane with normal nrm by at
// least kDeepInside (nrm need not be a unit vector).
inline bool DeepSide(V nrm, V x) {
  const double d = VDot(nrm, x);
  return d > 0.0 && d * d >= kDeepInside * kDeepInside * VDot(nrm, nrm);
}

// Whether the edge p-q (shorter than a quarter circle) lies wholly in join
// j, kDeepInside from its boundary. The bins are convex (a sector of less
// than a half turn, inside its chord), and the edge is followed through them
// around the centre: it is cut where it crosses the rays between bins (the
// angle about the centre moves one way along an arc that misses the
// centre), and each piece must lie deep inside its bin's chord at both
// ends. A point on a ray between bins of different radii lies on the
// join's boundary unless it is deep inside both chords, so an end of the
// edge that lies near a ray of its bin must be deep inside the bin beyond
// it too. An edge through the centre is two rays from it: its crossings
// of the rays there lie inside every chord.
bool DeepInsideJoin(const JoinShape& j, V p, V q) {
  if (VDot(p, j.c) <= 0.0 || VDot(q, j.c) <= 0.0) return false;
  const std::size_t bins = j.pangle.size() - 1;
  // The plane of the ray that starts bin i (the one at angle[i]): points
  // counterclockwise of it within a half turn lie on its positive side.
  auto ray = [&](std::size_t i) { return VCross(j.c, j.pt[2 * (i % bins)]); };
  auto deep_in = [&](std::size_t i, V x) { return DeepSide(VCross(j.pt[2 * i], j.pt[2 * i + 1]), x); };
  auto end_deep = [&](std::size_t i, V x) {
    if (!deep_in(i, x)) return false;
    if (!DeepSide(ray(i), x) && !deep_in((i + bins - 1) % bins, x)) return false;
    if (!DeepSide(Mul(ray(i + 1), -1.0), x) && !deep_in((i + 1) % bins, x)) return false;
    return true;
  };
  std::size_t i = JoinBin(j, p);
  const std::size_t last = JoinBin(j, q);
  if (!end_deep(i, p) || !end_deep(last, q)) return false;
  const bool ccw = Det(j.c, p, q) >= 0.0;
  V at = p;
  for (std::size_t steps = 0; i != last; ++steps) {
    if (steps > bins) return false;
    const V n = ray(ccw ? i + 1 : i);
    const double np = VDot(n, p), nq = VDot(n, q);
    if (np * nq > 0.0) return false;  // the edge does not reach that ray
    V x = Sub(Mul(p, nq), Mul(q, np));
    if (VDot(x, Add(p, q)) < 0.0) x = Mul(x, -1.0);
    if (!deep_in(i, at) || !deep_in(i, x)) return false;
    at = x;
    i = ccw ? (i + 1) % bins : (i + bins - 1) % bins;
  }
  return deep_in(i, at) && deep_in(i, q);
}

// Whether the edge p-q (shorter than a quarter circle) lies wholly in g,
// kDeepInside from its boundary. A band of one step is convex: when every
// plane of its sides keeps both ends on its inner side, it keeps every point
// of the edge between them. An n-gon holds its inscribed circle, and the
// circle the edge between two points in it. Joins as above.
bool DeepInside(const Shapes& s, const Shape& g, V p, V q) {
  switch (g.kind) {
    case kLeg: {
      const LegShape& l = s.legs[g.sub];
      if (l.steps != 1) return false;
      for (const V& n : l.side)
        if (VDot(n, p) < kDeepInside || VDot(n, q) < kDeepInside) return false;
      return true;
    }
    case kJoin: return DeepInsideJoin(s.joins[g.sub], p, q);
    default:  // within the inscribed circle (less than a hemisphere)
      return VDot(p, g.centre) >= g.deep_cos && VDot(q, g.centre) >= g.deep_cos;
  }
}

// A crossing of leg (a, b) with leg (c, d), strictly inside both. The point
// is the intersection of the two great circles (point buffers, whose results
// are kept as they were) or the point of cd where it meets the plane of ab
// (line buffers: well placed even when the two legs run nearly along each
// other).
//
// Line buffers: a vertex within kOnLine of the other leg's great circle
// counts as lying on it, and a vertex on the line as lying on its negative
// side. Of the two legs that meet at a vertex lying on another shape's
// edge, exactly one then crosses that edge, at the vertex itself (the
// crossing snaps to the vertex's node), and legs that run along each other
// on one great circle do not cross but are cut at each other's ends. Joins
// at the two ends of a leg shorter than the width, and a line's end cap,
// are built from the leg's great circle: their edges between two radii lie
// on it and overlap, and a vertex of one lies on the other's edge, often to
// the last bit; with strict signs such an edge ran on uncut through the
// other shape.
constexpr double kOnLine = 1e-12;  // radians, 6 micrometres

// The sides of p and q of the great circle through a and b (the signs of
// their determinants; within kOnLine of it, 0 for line buffers), and
// whether they lie on different sides as the crossing test takes them.
// A determinant within tol of 0 (tol: kOnLine times the length of the
// normal, or 0 for point buffers) counts as 0.
inline double SnappedSide(double s, double tol) { return std::fabs(s) <= tol ? 0.0 : s; }

bool OnBothSides(V a, V b, V p, V q, bool on_chord, double& sp, double& sq) {
  const V ab = VCross(a, b);
  const double tol = on_chord ? kOnLine * std::sqrt(VDot(ab, ab)) : 0.0;
  sp = SnappedSide(VDot(ab, p), tol);
  sq = SnappedSide(VDot(ab, q), tol);
  return (sp > 0) != (sq > 0) && (on_chord || (sp != 0 && sq != 0));
}

bool LegCrossing(V a, V b, V c, V d, bool on_chord, V& x) {
  double s1, s2, s3, s4;
  if (!OnBothSides(a, b, c, d, on_chord, s1, s2) || !OnBothSides(c, d, a, b, on_chord, s3, s4)) return false;
  if (on_chord) {
    // (d s1 - c s2) / (s1 - s2) lies between c and d, and is that end when
    // s1 or s2 is 0.
    if (s1 == 0.0) x = c;
    else if (s2 == 0.0) x = d;
    else {
      x = Unit(Sub(Mul(d, s1), Mul(c, s2)));
      if (s1 < s2) x = Mul(x, -1.0);
    }
    // Legs that run along each other give signs of rounding noise and a
    // point anywhere on cd: a crossing is only taken where it lies on ab.
    const V ab = VCross(a, b);
    if (VDot(VCross(a, x), ab) < 0.0 || VDot(VCross(x, b), ab) < 0.0) return false;
    return true;
  }
  x = Unit(VCross(VCross(a, b), VCross(c, d)));
  if (VDot(x, Add(a, b)) < 0) x = Mul(x, -1.0);
  return true;
}

struct Stretch {
  std::uint32_t from = 0, to = 0;  // node numbers (their points are in the node table)
  std::uint32_t edge = 0;          // the shape edge it lies on (base of its shape + leg)
  bool used = false;
  bool kept = false;  // its midpoint lies in no other shape
};

// Travelling along the great circle with normal edge, the direction at p.
V Heading(V edge, V p) { return Unit(VCross(edge, p)); }

// Counting sort of items 0 ... n - 1 into buckets 0 ... buckets - 1:
// start[b] becomes the first place of bucket b (start has buckets + 1
// entries) and place(k, at) is told where item k goes, the items of one
// bucket in the order they came.
template <class Bucket, class Place>
void CountIntoPlace(std::size_t n, std::size_t buckets, Bucket bucket, Place place, std::vector<std::uint32_t>& start) {
  start.assign(buckets + 1, 0);
  for (std::size_t k = 0; k < n; ++k) ++start[bucket(k) + 1];
  for (std::size_t b = 0; b < buckets; ++b) start[b + 1] += start[b];
  for (std::size_t k = 0; k < n; ++k) place(k, start[bucket(k)]++);
  for (std::size_t b = buckets; b > 0; --b) start[b] = start[b - 1];
  start[0] = 0;
}

// Each shape's neighbours, ascending: list[start[i] ... start[i + 1]).
struct Adjacency {
  struct Range {
    const int *b, *e;
    const int* begin() const { return b; }
    const int* end() const { return e; }
    std::size_t size() const { return static_cast<std::size_t>(e - b); }
    int operator[](std::size_t k) const { return b[k]; }
  };
  std::vector<std::uint32_t> start;
  std::vector<int> list;
  Range operator[](std::size_t i) const { return {list.data() + start[i], list.data() + start[i + 1]}; }
};

// Pairs of shapes whose bounding caps meet, found through a grid of cubes
// over the unit sphere: each shape is entered in every cube its cap's box
// touches.
void Neighbours(const std::vector<Shape>& shapes, Adjacency& nb) {
  nb.start.assign(shapes.size() + 1, 0);
  nb.list.clear();
  if (shapes.empty()) return;
  std::vector<double> reach;
  for (const Shape& g : shapes) reach.push_back(g.reach);
  std::nth_element(reach.begin(), reach.begin() + reach.size() / 2, reach.end());
  const double h = std::clamp(2.0 * std::sin(std::min(reach[reach.size() / 2], M_PI / 2)), 1e-6, 2.0);
  auto cell = [h](double c) { return static_cast<std::int64_t>(std::floor((c + 1.0) / h)); };
  auto key = [](std::int64_t i, std::int64_t j, std::int64_t k) {
    return static_cast<std::uint64_t>((i * 4194304 + j) * 4194304 + k);
  };
  struct Box { std::int64_t lo[3], hi[3]; };
  std::vector<Box> boxes(shapes.size());
  // Every shape in every cube its box touches, as (cube, shape), sorted.
  std::vector<std::pair<std::uint64_t, int>> entries;
  for (std::size_t s = 0; s < shapes.size(); ++s) {
    const Shape& g = shapes[s];
    const double rc = g.reach >= M_PI / 2 ? 2.0 : 2.0 * std::sin(g.reach / 2.0) + 1e-9;
    const double c[3] = {g.centre.x, g.centre.y, g.centre.z};
    Box& b = boxes[s];
    for (int k = 0; k < 3; ++k) {
      b.lo[k] = cell(std::max(-1.0, c[k] - rc));
      b.hi[k] = cell(std::min(1.0, c[k] + rc));
    }
    for (std::int64_t i = b.lo[0]; i <= b.hi[0]; ++i)
      for (std::int64_t j = b.lo[1]; j <= b.hi[1]; ++j)
        for (std::int64_t k = b.lo[2]; k <= b.hi[2]; ++k) entries.push_back({key(i, j, k), static_cast<int>(s)});
  }
  std::sort(entries.begin(), entries.end());
  // Each pair of shapes in a cube, in the one cube that holds the low corner
  // of where their boxes meet; then both ways round, by shape.
  std::vector<std::pair<int, int>> pairs;
  for (std::size_t r0 = 0; r0 < entries.size();) {
    std::size_t r1 = r0 + 1;
    while (r1 < entries.size() && entries[r1].first == entries[r0].first) ++r1;
    const std::uint64_t at = entries[r0].first;
    const std::int64_t here[3] = {static_cast<std::int64_t>(at / 4194304 / 4194304),
                                  static_cast<std::int64_t>(at / 4194304 % 4194304),
                                  static_cast<std::int64_t>(at % 4194304)};
    for (std::size_t x = r0; x < r1; ++x) {
      const int s = entries[x].second;
      const Box& bs = boxes[s];
      for (std::size_t y = x + 1; y < r1; ++y) {
        const int t = entries[y].second;
        const Box& bt = boxes[t];
        if (std::max(bs.lo[0], bt.lo[0]) != here[0] || std::max(bs.lo[1], bt.lo[1]) != here[1] ||
            std::max(bs.lo[2], bt.lo[2]) != here[2])
          continue;
        // A chord is no longer than its angle: most pairs far apart are
        // told without the sine.
        const V d = Sub(shapes[s].centre, shapes[t].centre);
        const double dd = VDot(d, d), reach = shapes[s].reach + shapes[t].reach + 1e-9;
        if (dd > reach * reach) continue;
        if (dd <= ChordSqOfAngle(std::min(M_PI, reach))) pairs.push_back({s, t});
      }
    }
    r0 = r1;
  }
  // Item 2k is pair k under its first shape, 2k + 1 under its second.
  nb.list.resize(2 * pairs.size());
  CountIntoPlace(
      2 * pairs.size(), shapes.size(),
      [&](std::size_t k) { return static_cast<std::size_t>(k % 2 ? pairs[k / 2].second : pairs[k / 2].first); },
      [&](std::size_t k, std::uint32_t at) { nb.list[at] = k % 2 ? pairs[k / 2].first : pairs[k / 2].second; },
      nb.start);
  for (std::size_t i = 0; i < shapes.size(); ++i)
    std::sort(nb.list.begin() + static_cast<std::ptrdiff_t>(nb.start[i]),
              nb.list.begin() + static_cast<std::ptrdiff_t>(nb.start[i + 1]));
}

std::uint64_t HashCube(std::int64_t i, std::int64_t j, std::int64_t k) {
  std::uint64_t h = static_cast<std::uint64_t>(i) * 0x9E3779B97F4A7C15ull;
  h ^= static_cast<std::uint64_t>(j) * 0xC2B2AE3D27D4EB4Full + (h << 6) + (h >> 2);
  h ^= static_cast<std::uint64_t>(k) * 0x165667B19E3779F9ull + (h << 6) + (h >> 2);
  return h;
}

// A crossing of two shapes' edges: p the lower-numbered shape's edge, q the
// other's (edges numbered through the group's shapes, base of the shape +
// leg).
struct Hit {
  std::uint32_t p, q;
  V x;  // where they cross
};

// Tables of the merge, kept from one group of shapes to the next so that
// each group reuses the memory of the groups before it.
struct MergeWork {
  // The group's edges: base[i] is the first of shape i's, and each edge has
  // its first vertex, the edge after it in its shape, its shape (numbered
  // as in the whole set), the normal a x b and the bound below which a
  // vertex counts as on its great circle (line buffers, as in LegCrossing).
  std::vector<std::int64_t> base;
  std::vector<V> vert, normal;
  std::vector<std::uint32_t> next, shape_of;
  std::vector<double> ontol;
  // The edges that lie deep inside another shape: never boundary, and left
  // out of the crossing search.
  std::vector<std::uint8_t> buried;
  // The crossing search.
  struct Box { float lo[3], hi[3]; };
  struct Entry { std::uint32_t key, e; };  // key: the cube
  struct Here { Box box; std::uint32_t shape, e; };
  std::vector<Box> box;
  std::vector<std::int32_t> low;  // the cube of each box's low corner, three to an edge
  std::vector<float> extent;
  std::vector<std::uint8_t> wide;
  std::vector<Entry> entries, entries_by;
  std::vector<std::uint32_t> radix;
  std::vector<Here> here;
  std::vector<std::uint32_t> big, start;
  std::vector<Hit> hits, sorted;
  // The crossings by q (by_q[by_q_start[q] ...]) and the node each was given.
  std::vector<std::uint32_t> by_q_start, by_q, hit_node;
  // Every node's point: the vertices first, then the crossings as they are
  // made.
  std::vector<V> node_pt;
  // Nodes by the fine cube they lie in, and the coarse filter over them.
  struct NearEntry { std::uint32_t node; std::int32_t next; };
  struct CubeSlot { std::uint64_t key; std::int32_t first, last; };
  std::vector<NearEntry> near_list;
  std::vector<CubeSlot> cubes;
  std::vector<std::uint64_t> filter;
  // The stretches, and the chaining tables.
  std::vector<Stretch> kept;
  std::vector<std::uint32_t> along, leaving, any_start, any_list;
  std::vector<std::uint8_t> listed;  // the vertices in the node lists
};

// Every shape lies within its cap: its centre and the cosine of its reach (a
// little more), or -2 for a cap too wide to filter by.
struct Cap {
  V centre;
  double cos;
};

// A ring of a group's union: its vertices ring_nodes[begin ... end), and the
// shape and the place among the group's stretches of its first stretch.
struct RingRef {
  std::uint32_t shape, first;
  std::size_t begin, end;
};

// The crossing test of edge p with edge q as the merge takes it: most edges
// lie wholly on one side of the other's great circle (the signs LegCrossing
// starts from, with the normals made once); edges that run nearly along each
// other can pass the test one way round only, and either way makes the
// crossing, for both.
bool EdgesCross(const MergeWork& w, bool on_chord, std::uint32_t p, std::uint32_t q, V& x) {
  const V a = w.vert[p], b = w.vert[w.next[p]], c = w.vert[q], d = w.vert[w.next[q]];
  const double tab = on_chord ? w.ontol[p] : 0.0, tcd = on_chord ? w.ontol[q] : 0.0;
  if ((SnappedSide(VDot(w.normal[p], c), tab) > 0) == (SnappedSide(VDot(w.normal[p], d), tab) > 0)) return false;
  if ((SnappedSide(VDot(w.normal[q], a), tcd) > 0) == (SnappedSide(VDot(w.normal[q], b), tcd) > 0)) return false;
  return LegCrossing(a, b, c, d, on_chord, x) || (on_chord && LegCrossing(c, d, a, b, on_chord, x));
}

// Every pair of edges of different shapes of the group that cross, in
// w.hits ascending by p and then by q (the order the merge cuts them in),
// found through a grid of cubes over the unit sphere: each edge is entered
// in every cube its box touches, and a pair is tested in the one cube that
// holds the low corner of where their boxes meet. Edges whose boxes span
// more cubes than that is worth (the sides of the widest circles) are
// tested against every edge of the shapes whose caps meet their own.
void EdgeCrossings(const Adjacency& nb, const std::vector<std::uint32_t>& local_of,
                   bool on_chord, MergeWork& w) {
  std::vector<Hit>& hits = w.hits;
  hits.clear();
  const std::size_t edges = w.vert.size();
  if (edges == 0) return;
  // Each edge's box, in floats rounded outwards: the chord's box widened by
  // a bound on how far the arc bows out of it (a quarter of the chord
  // squared), and a little more for the crossings the line buffers take
  // within kOnLine of an edge.
  w.box.resize(edges);
  w.extent.clear();
  w.wide.assign(edges, 0);
  float group_lo[3] = {2.0f, 2.0f, 2.0f}, group_hi[3] = {-2.0f, -2.0f, -2.0f};
  for (std::size_t e = 0; e < edges; ++e) {
    if (w.buried[e]) continue;
    const V a = w.vert[e], b = w.vert[w.next[e]];
    if (VDot(a, b) <= 0.0) w.wide[e] = 1;  // a quarter circle or more
    const V d = Sub(a, b);
    const double pad = VDot(d, d) / 4.0 + 1e-9;
    const double ca[3] = {a.x, a.y, a.z}, cb[3] = {b.x, b.y, b.z};
    float ext = 0.0f;
    MergeWork::Box& bx = w.box[e];
    for (int k = 0; k < 3; ++k) {
      bx.lo[k] = NextFloat(static_cast<float>(std::min(ca[k], cb[k]) - pad), -2.0f);
      bx.hi[k] = NextFloat(static_cast<float>(std::max(ca[k], cb[k]) + pad), 2.0f);
      ext = std::max(ext, bx.hi[k] - bx.lo[k]);
      group_lo[k] = std::min(group_lo[k], bx.lo[k]);
      group_hi[k] = std::max(group_hi[k], bx.hi[k]);
    }
    w.extent.push_back(ext);
  }
  // Every edge buried: the shapes cover the earth, and nothing crosses.
  if (w.extent.empty()) return;
  const std::size_t middle = w.extent.size() / 2;
  std::nth_element(w.extent.begin(), w.extent.begin() + static_cast<std::ptrdiff_t>(middle), w.extent.end());
  // Cubes of four times the middle box's extent, numbered densely over the
  // group's box (made coarser where that would take more than 32 bits).
  double h = std::clamp(4.0 * w.extent[middle], 1e-6, 4.0);
  std::int64_t first[3], count[3];
  auto cell = [&](float c, int k) {
    return std::clamp(static_cast<std::int64_t>(std::floor((static_cast<double>(c) + 1.0) / h)) - first[k],
                      std::int64_t{0}, count[k] - 1);
  };
  for (;;) {
    for (int k = 0; k < 3; ++k) {
      first[k] = static_cast<std::int64_t>(std::floor((static_cast<double>(group_lo[k]) + 1.0) / h));
      count[k] = static_cast<std::int64_t>(std::floor((static_cast<double>(group_hi[k]) + 1.0) / h)) - first[k] + 1;
    }
    if (count[0] * count[1] * count[2] < (std::int64_t{1} << 32)) break;
    h *= 2.0;
  }
  // In each cube the boxes are swept along the axis that lies most nearly
  // in the sphere there: the one of the cube centre's smallest coordinate.
  auto sweep_axis = [&](const std::int64_t at[3]) {
    double c[3];
    for (int k = 0; k < 3; ++k) c[k] = std::fabs((static_cast<double>(at[k] + first[k]) + 0.5) * h - 1.0);
    return c[0] <= c[1] && c[0] <= c[2] ? 0 : c[1] <= c[2] ? 1 : 2;
  };
  constexpr std::int64_t kMostCubes = 64;
  w.entries.clear();
  w.big.clear();
  w.low.resize(3 * edges);
  for (std::size_t e = 0; e < edges; ++e) {
    if (w.buried[e]) continue;
    std::int64_t lo[3], hi[3], cubes = 1;
    for (int k = 0; k < 3; ++k) {
      lo[k] = cell(w.box[e].lo[k], k);
      hi[k] = cell(w.box[e].hi[k], k);
      cubes *= hi[k] - lo[k] + 1;
      w.low[3 * e + k] = static_cast<std::int32_t>(lo[k]);
    }
    if (w.wide[e] || cubes > kMostCubes) {
      w.wide[e] = 1;
      w.big.push_back(static_cast<std::uint32_t>(e));
      continue;
    }
    for (std::int64_t i = lo[0]; i <= hi[0]; ++i)
      for (std::int64_t j = lo[1]; j <= hi[1]; ++j)
        for (std::int64_t k = lo[2]; k <= hi[2]; ++k)
          w.entries.push_back({static_cast<std::uint32_t>((i * count[1] + j) * count[2] + k), static_cast<std::uint32_t>(e)});
  }
  // By cube: two passes of a radix sort on 16 bits each.
  {
    std::vector<MergeWork::Entry>& from = w.entries;
    std::vector<MergeWork::Entry>& to = w.entries_by;
    to.resize(from.size());
    for (int shift = 0; shift < 32; shift += 16) {
      std::vector<std::uint32_t>& at = w.radix;
      at.assign(65537, 0);
      for (const MergeWork::Entry& x : from) ++at[((x.key >> shift) & 0xFFFF) + 1];
      for (std::size_t i = 1; i < at.size(); ++i) at[i] += at[i - 1];
      for (const MergeWork::Entry& x : from) to[at[(x.key >> shift) & 0xFFFF]++] = x;
      from.swap(to);
    }
  }
  auto test = [&](std::uint32_t u, std::uint32_t v) {
    const std::uint32_t p = w.shape_of[u] < w.shape_of[v] ? u : v, q = p == u ? v : u;
    V x;
    if (EdgesCross(w, on_chord, p, q, x)) hits.push_back({p, q, x});
  };
  const auto& entries = w.entries;
  auto& here = w.here;
  for (std::size_t r0 = 0; r0 < entries.size();) {
    std::size_t r1 = r0 + 1;
    while (r1 < entries.size() && entries[r1].key == entries[r0].key) ++r1;
    const std::uint32_t key = entries[r0].key;
    const std::int64_t at[3] = {key / count[2] / count[1], key / count[2] % count[1], key % count[2]};
    const int axis = sweep_axis(at);
    // The cube's boxes side by side, by their low ends on the sweep axis:
    // those after u that start beyond its high end meet it nowhere.
    here.clear();
    for (std::size_t i = r0; i < r1; ++i) {
      const std::uint32_t e = entries[i].e;
      here.push_back({w.box[e], w.shape_of[e], e});
    }
    std::sort(here.begin(), here.end(), [axis](const MergeWork::Here& u, const MergeWork::Here& v) {
      return u.box.lo[axis] < v.box.lo[axis];
    });
    const MergeWork::Here* in = here.data();
    const std::size_t n = here.size();
    for (std::size_t i = 0; i < n; ++i) {
      const MergeWork::Box bu = in[i].box;
      const float reach = bu.hi[axis];
      const std::uint32_t su = in[i].shape;
      const std::int32_t* lu = &w.low[3 * in[i].e];
      for (std::size_t j = i + 1; j < n && in[j].box.lo[axis] <= reach; ++j) {
        if (su == in[j].shape) continue;
        const MergeWork::Box& bv = in[j].box;
        if (bu.lo[0] > bv.hi[0] || bv.lo[0] > bu.hi[0] || bu.lo[1] > bv.hi[1] || bv.lo[1] > bu.hi[1] ||
            bu.lo[2] > bv.hi[2] || bv.lo[2] > bu.hi[2])
          continue;
        // The cube of the low corner where the boxes meet (cell grows with
        // its argument): the pair is tested there only.
        const std::int32_t* lv = &w.low[3 * in[j].e];
        if (std::max(lu[0], lv[0]) != at[0] || std::max(lu[1], lv[1]) != at[1] || std::max(lu[2], lv[2]) != at[2])
          continue;
        test(in[i].e, in[j].e);
      }
    }
    r0 = r1;
  }
  for (std::uint32_t u : w.big) {
    const std::uint32_t s = w.shape_of[u];
    for (int t : nb[s]) {
      const std::uint32_t lt = local_of[t];
      for (std::int64_t v = w.base[lt]; v < w.base[lt + 1]; ++v)
        if (!w.buried[v] && (!w.wide[v] || s < static_cast<std::uint32_t>(t))) test(u, static_cast<std::uint32_t>(v));
    }
  }
  // By p, then by q: counted into place by p, each run sorted.
  w.sorted.resize(hits.size());
  CountIntoPlace(
      hits.size(), edges, [&](std::size_t k) { return hits[k].p; },
      [&](std::size_t k, std::uint32_t at) { w.sorted[at] = hits[k]; }, w.start);
  for (std::size_t e = 0; e < edges; ++e)
    std::sort(w.sorted.begin() + w.start[e], w.sorted.begin() + w.start[e + 1],
              [](const Hit& u, const Hit& v) { return u.q < v.q; });
  hits.swap(w.sorted);
}

// The union of one group of shapes (ids, ascending; local_of gives each its
// place there) as rings: their vertices appended to ring_nodes, each ring
// in rings. Returns 0, 1 when every leg lies inside another shape (the
// group covers the earth), 16 or 18 when the rings cannot be chained.
int MergeGroup(const Shapes& S, bool on_chord, const Adjacency& nb,
               const std::vector<Cap>& caps, const std::vector<int>& ids,
               const std::vector<std::uint32_t>& local_of, MergeWork& w, std::vector<cells::PointNode>& ring_nodes,
               std::vector<RingRef>& rings) {
  const std::vector<Shape>& polys = S.all;
  std::vector<std::int64_t>& base = w.base;
  base.assign(ids.size() + 1, 0);
  for (std::size_t i = 0; i < ids.size(); ++i) base[i + 1] = base[i] + std::int64_t(polys[ids[i]].v.size());
  // Nodes and stretches are numbered in 32 bits.
  if (base.back() >= (std::int64_t{1} << 30)) return 18;
  const std::size_t edge_count = static_cast<std::size_t>(base.back());
  w.vert.resize(edge_count);
  w.normal.resize(edge_count);
  w.next.resize(edge_count);
  w.shape_of.resize(edge_count);
  w.ontol.resize(edge_count);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const std::vector<V>& v = polys[ids[i]].v;
    const int n = static_cast<int>(v.size());
    for (int l = 0; l < n; ++l) {
      const std::size_t e = static_cast<std::size_t>(base[i] + l);
      w.vert[e] = v[l];
      w.next[e] = static_cast<std::uint32_t>(base[i] + (l + 1) % n);
      w.shape_of[e] = static_cast<std::uint32_t>(ids[i]);
      const V ab = VCross(v[l], v[(l + 1) % n]);
      w.normal[e] = ab;
      w.ontol[e] = kOnLine * std::sqrt(VDot(ab, ab));
    }
  }
  // An edge deep inside another shape is covered all along, and where
  // other edges cross it they lie inside that shape on both sides of the
  // crossing: they are covered or not there as if it were not there. So it
  // takes no part in the crossing search and its one stretch is covered.
  // Most edges of the line buffers are such (the joins' cores, the bands'
  // ends), and most crossings were theirs.
  w.buried.assign(edge_count, 0);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    int last = -1;  // the shape that held the last edge buried
    auto holds = [&](int t, V p, V q) {
      if (VDot(p, caps[t].centre) < caps[t].cos) return false;
      if (VDot(q, caps[t].centre) < caps[t].cos) return false;
      return DeepInside(S, polys[t], p, q);
    };
    for (std::int64_t e = base[i]; e < base[i + 1]; ++e) {
      const V p = w.vert[e], q = w.vert[w.next[e]];
      if (VDot(p, q) <= 0.0) continue;
      if (last >= 0 && holds(last, p, q)) {
        w.buried[e] = 1;
        continue;
      }
      for (int t : nb[ids[i]])
        if (t != last && holds(t, p, q)) {
          w.buried[e] = 1;
          last = t;
          break;
        }
    }
  }
  EdgeCrossings(nb, local_of, on_chord, w);
  const std::vector<Hit>& hits = w.hits;
  if (hits.size() >= (std::size_t{1} << 30)) return 18;
  // Each pair of shapes is crossed once, when the lower-numbered one is cut;
  // its crossings wait, by the other shape's leg, until that shape is cut in
  // turn, so that both legs get the same node at the same point.
  w.by_q.resize(hits.size());
  CountIntoPlace(
      hits.size(), edge_count, [&](std::size_t k) { return hits[k].q; },
      [&](std::size_t k, std::uint32_t at) { w.by_q[at] = static_cast<std::uint32_t>(k); }, w.by_q_start);
  w.hit_node.resize(hits.size());
  w.listed.assign(edge_count, 0);
  std::vector<V>& node_pt = w.node_pt;
  node_pt.reserve(w.vert.size() + hits.size());  // a vertex each, and at most a node per crossing
  node_pt.assign(w.vert.begin(), w.vert.end());
  // A crossing is a node of its own, or the end of either leg when it lies
  // that close to one: a crossing a few micrometres from a vertex would leave
  // a stretch too short for its midpoint to tell which side it is on, and
  // the rings would not close there.
  struct CrossNode { std::int64_t node; V x; };
  constexpr double kSnapChordSq = 1e-22;  // 64 micrometres
  // Crossings that close to one another (three boundaries through one point)
  // are one node, found through a grid of cubes of twice the snap distance.
  constexpr double kSnapCube = 8e-11;
  // Each cube's nodes in the order they came, chained through near_list;
  // the cubes that hold nodes are an open-addressed table of cube keys, each
  // with the first and the last of its nodes in near_list (first < 0: free).
  auto& near_list = w.near_list;
  auto& cubes = w.cubes;
  near_list.clear();
  near_list.reserve(hits.size());
  std::size_t cube_count = std::size_t{1} << 10;
  while (cube_count < 2 * (hits.size() + 1)) cube_count <<= 1;  // at most a cube for each crossing
  cubes.assign(cube_count, MergeWork::CubeSlot{0, -1, -1});
  std::size_t cubes_used = 0;
  auto cube_slot = [&](std::uint64_t key) {
    const std::size_t mask = cubes.size() - 1;
    std::size_t i = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 20) & mask;
    while (cubes[i].first >= 0 && cubes[i].key != key) i = (i + 1) & mask;
    return i;
  };
  auto cube_of = [&](V p, int dx, int dy, int dz) {
    return HashCube(static_cast<std::int64_t>(std::floor(p.x / kSnapCube)) + dx,
                    static_cast<std::int64_t>(std::floor(p.y / kSnapCube)) + dy,
                    static_cast<std::int64_t>(std::floor(p.z / kSnapCube)) + dz);
  };
  // Only the cubes within the snap distance of p can hold a match: on each
  // axis its own, and the one beside it when p lies that close to their
  // common face.
  auto reach_of = [&](double c, int d) {
    const double f = c / kSnapCube - std::floor(c / kSnapCube);
    constexpr double near_face = 1.01e-11 / kSnapCube;
    return d == 0 || (d < 0 ? f < near_face : f > 1.0 - near_face);
  };
  // Most crossings have no other node near them: a bit per coarse cube
  // (hashed) that holds a node lets find_near skip the fine cubes.
  constexpr double kCoarseCube = 1e-9;
  std::size_t filter_bits = 1 << 16;
  while (filter_bits < edge_count * 32 && filter_bits < (std::size_t{1} << 28)) filter_bits <<= 1;
  auto& filter = w.filter;
  filter.assign(filter_bits / 64, 0);
  auto coarse_bit = [&](double x, double y, double z) {
    return HashCube(static_cast<std::int64_t>(std::floor(x / kCoarseCube)),
                    static_cast<std::int64_t>(std::floor(y / kCoarseCube)),
                    static_cast<std::int64_t>(std::floor(z / kCoarseCube))) & (filter_bits - 1);
  };
  auto add_near = [&](std::int64_t node, V q) {
    const std::int32_t k = static_cast<std::int32_t>(near_list.size());
    near_list.push_back({static_cast<std::uint32_t>(node), -1});
    const std::uint64_t key = cube_of(q, 0, 0, 0);
    std::size_t i = cube_slot(key);
    if (cubes[i].first >= 0) {
      near_list[cubes[i].last].next = k;
      cubes[i].last = k;
    } else {
      if (2 * (cubes_used + 1) > cubes.size()) {
        std::vector<MergeWork::CubeSlot> old(cubes.size() * 2, MergeWork::CubeSlot{0, -1, -1});
        old.swap(cubes);
        for (const MergeWork::CubeSlot& c : old)
          if (c.first >= 0) cubes[cube_slot(c.key)] = c;
        i = cube_slot(key);
      }
      cubes[i] = {key, k, k};
      ++cubes_used;
    }
    const std::size_t bit = coarse_bit(q.x, q.y, q.z);
    filter[bit / 64] |= std::uint64_t{1} << (bit % 64);
  };
  // The coarse cubes within a little more than the snap distance of p:
  // mostly p's own alone.
  auto maybe_near = [&](V p) {
    constexpr double r = 1.5e-11;  // beyond the snap distance
    const double c[3] = {p.x, p.y, p.z};
    double lo[3], hi[3];
    for (int k = 0; k < 3; ++k) {
      lo[k] = hi[k] = c[k];
      const double f = c[k] / kCoarseCube - std::floor(c[k] / kCoarseCube);
      if (f * kCoarseCube < r) lo[k] = c[k] - r;
      if ((1.0 - f) * kCoarseCube < r) hi[k] = c[k] + r;
    }
    const int nx = lo[0] < hi[0] ? 2 : 1, ny = lo[1] < hi[1] ? 2 : 1, nz = lo[2] < hi[2] ? 2 : 1;
    for (int i = 0; i < nx; ++i)
      for (int j = 0; j < ny; ++j)
        for (int k = 0; k < nz; ++k) {
          const std::size_t bit = coarse_bit(i ? hi[0] : lo[0], j ? hi[1] : lo[1], k ? hi[2] : lo[2]);
          if (filter[bit / 64] >> (bit % 64) & 1) return true;
        }
    return false;
  };
  auto find_near = [&](V p, CrossNode* c) {
    if (!maybe_near(p)) return false;
    for (int dx = -1; dx <= 1; ++dx)
      for (int dy = -1; dy <= 1; ++dy)
        for (int dz = -1; dz <= 1; ++dz) {
          if (!reach_of(p.x, dx) || !reach_of(p.y, dy) || !reach_of(p.z, dz)) continue;
          const std::size_t i = cube_slot(cube_of(p, dx, dy, dz));
          for (std::int32_t k = cubes[i].first; k >= 0; k = near_list[k].next) {
            const V q = node_pt[near_list[k].node];
            const V d = Sub(p, q);
            if (VDot(d, d) < kSnapChordSq) {
              *c = {near_list[k].node, q};
              return true;
            }
          }
        }
    return false;
  };
  std::int64_t next_node = base.back();  // vertex nodes are their edge numbers
  auto& kept = w.kept;  // the kept stretches and the covered ones at crossings
  kept.clear();
  // Each crossing cuts one edge of each of its two legs.
  kept.reserve(edge_count + 2 * hits.size());
  std::size_t kept_count = 0;
  // Stretches with an end at another shape's vertex: those that run along
  // another shape's edge are among them.
  auto& along = w.along;
  along.clear();
  struct Cut { double t; V x; std::int64_t node; };
  std::vector<Cut> cuts;
  std::vector<V> at;
  std::vector<std::int64_t> nodes;
  std::size_t next_hit = 0;
  for (std::size_t li = 0; li < ids.size(); ++li) {
    const Shape& g = polys[ids[li]];
    const int n = static_cast<int>(g.v.size());
    int last_cover = -1;
    for (int l = 0; l < n; ++l) {
      const std::uint32_t e = static_cast<std::uint32_t>(base[li] + l);
      const V a = g.v[l], b = g.v[(l + 1) % n];
      // The cuts go in order of their angle from a, by its sine where the
      // edge is shorter than a quarter circle (all but the widest circles'
      // edges). A cosine of it (as they were) cannot tell apart points within
      // some centimetres of a: where a leg's hair met two other edges there,
      // its stretches came out in the wrong order and the rings were chained
      // wrong.
      const V toward_b = VCross(w.normal[e], a);
      const bool short_edge = VDot(a, b) > 0.0;
      auto angle_from_a = [&](V x) {
        return short_edge ? VDot(x, toward_b) : std::atan2(VDot(x, toward_b), VDot(x, a));
      };
      cuts.clear();
      for (std::uint32_t k = w.by_q_start[e]; k < w.by_q_start[e + 1]; ++k) {
        const std::uint32_t node = w.hit_node[w.by_q[k]];
        cuts.push_back({angle_from_a(node_pt[node]), node_pt[node], node});
      }
      for (; next_hit < hits.size() && hits[next_hit].p == e; ++next_hit) {
        const std::uint32_t q = hits[next_hit].q;
        const V x = hits[next_hit].x;
        CrossNode c{next_node, x};
        const V ends[4] = {a, b, w.vert[q], w.vert[w.next[q]]};
        const std::int64_t end_nodes[4] = {e, w.next[e], q, w.next[q]};
        bool snapped = false;
        for (int k = 0; k < 4 && !snapped; ++k) {
          const V d = Sub(x, ends[k]);
          if (VDot(d, d) < kSnapChordSq) {
            c = {end_nodes[k], ends[k]};
            snapped = true;
          }
        }
        if (!snapped) snapped = find_near(x, &c);
        if (c.node == next_node) {
          ++next_node;
          node_pt.push_back(c.x);
        }
        // A vertex goes into the lists once, the first time a crossing is
        // put on it.
        if (!snapped) {
          add_near(c.node, c.x);
        } else if (c.node < base.back() && !w.listed[c.node]) {
          w.listed[c.node] = 1;
          add_near(c.node, c.x);
        }
        cuts.push_back({angle_from_a(c.x), c.x, c.node});
        w.hit_node[next_hit] = static_cast<std::uint32_t>(c.node);
      }
      std::sort(cuts.begin(), cuts.end(), [](const Cut& u, const Cut& v) { return u.t < v.t; });
      at.assign(1, a);
      nodes.assign(1, e);
      for (const Cut& c : cuts) { at.push_back(c.x); nodes.push_back(c.node); }
      at.push_back(b);
      nodes.push_back(w.next[e]);
      if (w.buried[e]) {
        kept.push_back({e, w.next[e], e, false, false});
        continue;
      }
      for (std::size_t s = 0; s + 1 < at.size(); ++s) {
        if (nodes[s] == nodes[s + 1]) continue;  // a crossing put on a vertex
        const V mid = Unit(Add(at[s], at[s + 1]));
        // The shape that covered the last stretch of this shape is tried
        // first: the stretches of one edge mostly lie in the same neighbour.
        bool covered = false;
        auto covers = [&](int qj) {
          // Beyond a shape's cap the point lies outside it.
          if (VDot(mid, caps[qj].centre) < caps[qj].cos - 1e-12) return false;
          return Inside(S, polys[qj], mid);
        };
        if (last_cover >= 0 && covers(last_cover)) covered = true;
        const Adjacency::Range around = nb[ids[li]];
        for (std::size_t k = 0; !covered && k < around.size(); ++k) {
          const int qj = around[k];
          if (qj != last_cover && covers(qj)) {
            covered = true;
            last_cover = qj;
          }
        }
        kept.push_back({static_cast<std::uint32_t>(nodes[s]), static_cast<std::uint32_t>(nodes[s + 1]), e, false,
                        !covered});
        if (!covered) ++kept_count;
        auto foreign = [&](std::int64_t node) {
          return node < base.back() && (node < base[li] || node >= base[li + 1]);
        };
        if (foreign(nodes[s]) || foreign(nodes[s + 1])) along.push_back(static_cast<std::uint32_t>(kept.size() - 1));
      }
    }
  }
  // Stretches of two shapes between the same two nodes lie on both shapes'
  // edges (legs cut at each other's ends along one great circle), where
  // their midpoints tell nothing about each other. Run both ways, the
  // shapes lie on both sides and neither is boundary; run the same way, one
  // of them is boundary when no third shape covers it.
  struct AlongKey { std::uint32_t lo, hi, k; };
  std::vector<AlongKey> keys;
  keys.reserve(along.size());
  for (std::uint32_t k : along)
    keys.push_back({std::min(kept[k].from, kept[k].to), std::max(kept[k].from, kept[k].to), k});
  std::sort(keys.begin(), keys.end(), [](const AlongKey& u, const AlongKey& v) {
    return u.lo != v.lo ? u.lo < v.lo : u.hi != v.hi ? u.hi < v.hi : u.k < v.k;
  });
  for (std::size_t i = 0; i < keys.size(); ++i) along[i] = keys[i].k;
  auto same_pair = [&](std::size_t i, std::size_t j) { return keys[i].lo == keys[j].lo && keys[i].hi == keys[j].hi; };
  for (std::size_t i = 0; i < along.size();) {
    std::size_t j = i + 1;
    while (j < along.size() && same_pair(j, i)) ++j;
    if (j - i >= 2) {
      const Stretch& first = kept[along[i]];
      bool both_ways = false;
      for (std::size_t k = i; k < j; ++k) both_ways = both_ways || kept[along[k]].from != first.from;
      bool covered = both_ways;
      if (!covered) {
        const V mid = Unit(Add(node_pt[first.from], node_pt[first.to]));
        for (int qj : nb[w.shape_of[first.edge]]) {
          bool member = false;
          for (std::size_t k = i; k < j; ++k)
            member = member || static_cast<int>(w.shape_of[kept[along[k]].edge]) == qj;
          if (member) continue;
          if (VDot(mid, caps[qj].centre) < caps[qj].cos - 1e-12) continue;
          if (Inside(S, polys[qj], mid)) { covered = true; break; }
        }
      }
      for (std::size_t k = i; k < j; ++k) {
        Stretch& t = kept[along[k]];
        const bool keep = k == i && !covered;
        if (t.kept && !keep) --kept_count;
        if (!t.kept && keep) ++kept_count;
        t.kept = keep;
      }
    }
    i = j;
  }
  if (kept_count == 0) return 1;
  // The first kept stretch leaving each node (nodes are numbered densely).
  constexpr std::uint32_t kNone = UINT32_MAX;
  auto& leaving = w.leaving;
  leaving.assign(static_cast<std::size_t>(next_node), kNone);
  for (std::size_t s = 0; s < kept.size(); ++s)
    if (kept[s].kept && leaving[kept[s].from] == kNone) leaving[kept[s].from] = static_cast<std::uint32_t>(s);
  // Every stretch by its start node (any_list[any_start[node] ...
  // any_start[node + 1]]), made the first time a ring needs it.
  auto& any_start = w.any_start;
  auto& any_list = w.any_list;
  any_start.clear();
  // Where no kept stretch leaves the node a stretch ends at, the midpoint
  // tests have misjudged one of the stretches there (hair-width ones, where
  // three boundaries cross within micrometres): the union goes on along the
  // first shape edge counterclockwise from the way back, the one with the
  // shapes on its left and nothing on its right.
  auto turn = [&](const Stretch& in, std::size_t start) -> std::ptrdiff_t {
    if (any_start.empty()) {
      any_list.resize(kept.size());
      CountIntoPlace(
          kept.size(), static_cast<std::size_t>(next_node), [&](std::size_t s) { return kept[s].from; },
          [&](std::size_t s, std::uint32_t at) { any_list[at] = static_cast<std::uint32_t>(s); }, any_start);
    }
    if (any_start[in.to] == any_start[in.to + 1]) return -1;
    const V p = node_pt[in.to];
    const V back = Mul(Heading(w.normal[in.edge], p), -1.0);
    std::ptrdiff_t best = -1;
    double best_angle = 0.0;
    for (std::size_t ki = any_start[in.to]; ki < any_start[in.to + 1]; ++ki) {
      const std::size_t k = any_list[ki];
      if (kept[k].used && k != start) continue;
      const V t = Heading(w.normal[kept[k].edge], p);
      double ang = std::atan2(VDot(VCross(back, t), p), VDot(back, t));
      if (ang <= 0.0) ang += 2.0 * M_PI;
      if (best < 0 || ang < best_angle) {
        best = static_cast<std::ptrdiff_t>(k);
        best_angle = ang;
      }
    }
    return best;
  };
  for (std::size_t s0 = 0; s0 < kept.size(); ++s0) {
    if (kept[s0].used || !kept[s0].kept) continue;
    std::size_t s = s0;
    std::size_t steps = 0;
    const std::size_t begin = ring_nodes.size();
    while (!kept[s].used) {
      kept[s].used = true;
      ring_nodes.push_back({node_pt[kept[s].from], polys[w.shape_of[kept[s].edge]].attr});
      if (leaving[kept[s].to] != kNone) {
        s = leaving[kept[s].to];
      } else {
        const std::ptrdiff_t next = turn(kept[s], s0);
        if (next < 0) return 16;
        s = static_cast<std::size_t>(next);
      }
      if (++steps > kept.size()) return 18;
    }
    rings.push_back({w.shape_of[kept[s0].edge], static_cast<std::uint32_t>(s0), begin, ring_nodes.size()});
  }
  return 0;
}

// The union of the shapes as rings (marks between them) in out. Returns 0,
// 1 when every leg lies inside another shape (the shapes cover the earth),
// 16 or 18 when the rings cannot be chained.
//
// Shapes linked through neighbours (caps that meet) are merged as one
// group, each group on its own: no edge of one crosses an edge of another,
// and no node of one lies within the snap distance of another's. The
// tables of the merge are the size of a group and made once for all of
// them (on the 50m coast the largest group holds three tenths of the
// vertices).
int MergeShapes(const Shapes& S, bool on_chord, std::vector<cells::PointNode>& out) {
  const std::vector<Shape>& polys = S.all;
  Adjacency nb;
  Neighbours(polys, nb);
  std::vector<Cap> caps(polys.size());
  for (std::size_t i = 0; i < polys.size(); ++i) {
    const double r = polys[i].reach + 1e-9;
    caps[i] = {polys[i].centre, r < M_PI / 2 ? std::cos(r) : -2.0};
  }

  std::vector<std::uint8_t> grouped(polys.size(), 0);
  std::vector<std::uint32_t> local_of(polys.size(), 0);
  std::vector<int> ids, stack;
  MergeWork w;
  std::vector<cells::PointNode> ring_nodes;
  std::vector<RingRef> rings;
  for (std::size_t s0 = 0; s0 < polys.size(); ++s0) {
    if (grouped[s0]) continue;
    ids.clear();
    stack.assign(1, static_cast<int>(s0));
    grouped[s0] = 1;
    while (!stack.empty()) {
      const int x = stack.back();
      stack.pop_back();
      ids.push_back(x);
      for (int y : nb[x])
        if (!grouped[y]) {
          grouped[y] = 1;
          stack.push_back(y);
        }
    }
    std::sort(ids.begin(), ids.end());
    for (std::size_t i = 0; i < ids.size(); ++i) local_of[ids[i]] = static_cast<std::uint32_t>(i);
    const int status = MergeGroup(S, on_chord, nb, caps, ids, local_of, w, ring_nodes, rings);
    if (status) return status;
  }
  // The rings in the order of their first stretches through the whole set,
  // as one merge of all the shapes would give them: by shape, and within a
  // shape (all of one group) by their place in the group.
  std::sort(rings.begin(), rings.end(), [](const RingRef& u, const RingRef& v) {
    return u.shape != v.shape ? u.shape < v.shape : u.first < v.first;
  });
  std::uint64_t ring_id = 0;
  for (const RingRef& r : rings) {
    out.insert(out.end(), ring_nodes.begin() + static_cast<std::ptrdiff_t>(r.begin),
               ring_nodes.begin() + static_cast<std::ptrdiff_t>(r.end));
    out.push_back(cells::Mark(++ring_id));
  }
  return 0;
}

// Drops every ring vertex within 1e-9 radians (6 mm) of the one kept before
// it, and rings left with fewer than three. Line buffers leave such pairs
// where the hair's crossings lie a millimetre or so apart: stored at the
// output resolution they became one position, a leg of no length, and the
// region built from the ring lost the band beside it.
void DropNearVertices(std::vector<cells::PointNode>& out) {
  constexpr double kNearSq = 1e-18;
  std::vector<cells::PointNode> kept;
  kept.reserve(out.size());
  std::size_t start = 0;
  auto near = [](const cells::PointNode& u, const cells::PointNode& w) {
    const V d = Sub(u.p, w.p);
    return VDot(d, d) < kNearSq;
  };
  for (const cells::PointNode& p : out) {
    if (cells::IsMark(p)) {
      while (kept.size() > start + 1 && near(kept.back(), kept[start])) kept.pop_back();
      if (kept.size() - start < 3) {
        kept.resize(start);
        continue;
      }
      kept.push_back(p);
      start = kept.size();
      continue;
    }
    if (kept.size() > start && near(kept.back(), p)) continue;
    kept.push_back(p);
  }
  kept.resize(start);  // a ring without its mark (none is written so) goes
  out.swap(kept);
}

// The common end of both buffers: the shapes merged and built as the near
// region, or its complement for afar.
int FinishBuffer(const DeriveContext& ctx, int mode, const Shapes& S, bool on_chord) {
  cells::CellIndex& idx = *ctx.index;
  cells::BuildParams params;
  params.id = ctx.created ? ctx.created : 1;
  params.res = ctx.res;
  params.prec = ctx.prec;
  std::vector<std::uint8_t> scratch;
  cells::SectionTarget target{ctx.output, ctx.output ? nullptr : &scratch};
  auto finish = [&](int status) {
    if (!ctx.output) *ctx.object = cells::Object{};
    return status;
  };
  if (S.all.empty()) {
    if (mode == 2) return finish(WriteWorldRset(idx, target, params, *ctx.object));
    WriteNullRset(idx, target, params, *ctx.object);
    return finish(DERIVE_EMPTY);
  }
  std::vector<cells::PointNode> out;
  const int merged = MergeShapes(S, on_chord, out);
  if (merged == 1) {
    // Every leg lies inside another shape: together they cover the earth.
    if (mode == 1) return finish(WriteWorldRset(idx, target, params, *ctx.object));
    WriteNullRset(idx, target, params, *ctx.object);
    return finish(DERIVE_EMPTY);
  }
  if (merged) return finish(merged);
  if (on_chord) DropNearVertices(out);
  if (mode == 1) return finish(cells::BuildRset(idx, target, params, out, *ctx.object));
  cells::Object near;
  std::vector<std::uint8_t> near_heap;
  cells::SectionTarget tmp{nullptr, &near_heap};
  const int st = cells::BuildRset(idx, tmp, params, out, near);
  if (st > 0) return finish(st);
  return finish(q7_RsetComplement(ctx, &near));
}

}  // namespace

int DensityVertices(int density) {
  static const int n[] = {11, 23, 43, 89, 179, 359};
  return density >= 1 && density <= 6 ? n[density - 1] : 0;
}

double AreaEqualFactor(int n) {
  const double t = M_PI / n;
  return std::sqrt(t / (std::sin(t) * std::cos(t)));
}

namespace {

// The points of a Pset, cell by cell; a point within the squared chord
// `same` of one already taken counts as that one.
std::vector<cells::PointNode> GatherPoints(cells::CellIndex& idx, const cells::Object& points, double same) {
  std::vector<cells::PointNode> pts;
  const double h = std::max(std::sqrt(same), 1e-12);
  auto cube = [h](double c) { return static_cast<std::int64_t>(std::floor((c + 1.0) / h)); };
  std::unordered_map<std::uint64_t, std::vector<std::int32_t>> grid;
  for (std::int64_t ci = 0; ci < cells::PsetCellCount(points); ++ci) {
    const cells::PsetCell c = cells::LoadPsetCell(cells::PsetCellAt(points, ci));
    const std::uint8_t* rec = points.coords + c.offset;
    for (std::int64_t i = 0; i < c.count; ++i) {
      cells::PointNode pn;
      rec = cells::Restore(idx, c.cell, rec, points.res, pn.p, &pn.attribute);
      const std::int64_t x = cube(pn.p.x), y = cube(pn.p.y), z = cube(pn.p.z);
      bool dup = false;
      for (std::int64_t dx = -1; dx <= 1 && !dup; ++dx)
        for (std::int64_t dy = -1; dy <= 1 && !dup; ++dy)
          for (std::int64_t dz = -1; dz <= 1 && !dup; ++dz) {
            auto it = grid.find(HashCube(x + dx, y + dy, z + dz));
            if (it == grid.end()) continue;
            for (std::int32_t q : it->second) {
              const V d = Sub(pts[q].p, pn.p);
              if (VDot(d, d) < same) { dup = true; break; }
            }
          }
      if (dup) continue;
      grid[HashCube(x, y, z)].push_back(static_cast<std::int32_t>(pts.size()));
      pts.push_back(pn);
    }
  }
  return pts;
}

}  // namespace

int q7_RsetNearPoints(const DeriveContext& ctx, const geodesy::Ellipsoid* e, int mode, int density,
                      double distance, const cells::Object& points) {
  if (!ctx.index || !ctx.object) return DERIVE_BAD_PARAMETERS;
  if (mode != 1 && mode != 2) return DERIVE_BAD_PARAMETERS;
  if (!OutputResValid(ctx.res)) return DERIVE_BAD_PARAMETERS;
  const int n = DensityVertices(density);
  if (!n) return DERIVE_BAD_PARAMETERS;
  if (e) {
    if (!(distance >= 0.0001 && distance <= e->a)) return DERIVE_BAD_PARAMETERS;
  } else if (!(distance >= 4e-12 && distance <= M_PI / 4)) {
    return DERIVE_BAD_PARAMETERS;
  }
  if (points.kind != cells::kPset) return DERIVE_BAD_PARAMETERS;
  try {
    const double same = ChordSqOfAngle((e ? distance / 6371007.1808 : distance) / 1000.0);
    const std::vector<cells::PointNode> pts = GatherPoints(*ctx.index, points, same);
    Shapes S;
    if (!pts.empty()) {
      double r = distance;
      if (e) {
        double f = 0.0;
        for (const auto& q : pts) f += MetresToRadians(*e, q.p);
        r = distance * f / static_cast<double>(pts.size());
      }
      r *= AreaEqualFactor(n);
      for (const auto& q : pts) S.all.push_back(NGon(q.p, r, n, q.attribute));
    }
    return FinishBuffer(ctx, mode, S, false);
  } catch (const std::bad_alloc&) {
    if (!ctx.output) *ctx.object = cells::Object{};
    return DERIVE_NO_WORKSPACE;
  }
}

namespace {

struct Side {
  double w = 0.0;    // width angle
  double rho = 0.0;  // circumradius of the round parts: w k(n)
  int n = 0;
};

void PushRing(std::vector<V>& ring, V p) {
  if (!ring.empty()) {
    const V d = Sub(ring.back(), p);
    if (VDot(d, d) < 1e-30) return;
  }
  ring.push_back(p);
}

void CloseRing(std::vector<V>& ring) {
  while (ring.size() > 1) {
    const V d = Sub(ring.back(), ring.front());
    if (VDot(d, d) >= 1e-30) break;
    ring.pop_back();
  }
}

std::vector<V> QuarterFan(V c, V u1, V u2, const Side& s) {
  const int m = std::max(1, (s.n + 3) / 4);
  std::vector<V> pts;
  pts.reserve(static_cast<std::size_t>(m) + 1);
  for (int j = 0; j <= m; ++j) {
    const double t = (M_PI / 2.0) * j / m;
    pts.push_back(Toward(c, Add(Mul(u1, std::cos(t)), Mul(u2, std::sin(t))), s.rho));
  }
  return pts;
}

void AddLeg(Shapes& S, V a, V b, const Side& R, const Side& L, bool cap_a, bool cap_b, std::uint64_t attr) {
  LegShape g;
  g.a = a;
  g.b = b;
  const V ab = VCross(a, b);
  g.n = Unit(ab);
  g.ea = Unit(VCross(g.n, a));
  g.eb = Unit(VCross(g.n, b));
  g.len = ArcAngle(a, b);
  const int nmax = std::max(R.n, L.n);
  // The offsets of a great-circle leg are small circles: their chords lie
  // outside by about tan(w) s^2 / 8 for a step s, kept well below the
  // k(n) margin of the round parts by steps of pi / n.
  g.steps = std::max(1, static_cast<int>(std::ceil(g.len / (M_PI / nmax))));
  const V rn = Mul(g.n, -1.0);
  g.right.reserve(static_cast<std::size_t>(g.steps) + 1);
  g.left.reserve(static_cast<std::size_t>(g.steps) + 1);
  for (int i = 0; i <= g.steps; ++i) {
    const double t = g.len * i / g.steps;
    const V p = i == 0 ? a : i == g.steps ? b : Toward(a, g.ea, t);
    g.right.push_back(Toward(p, rn, R.w));
    g.left.push_back(Toward(p, g.n, L.w));
  }
  if (g.steps == 1) {
    g.side[0] = g.ea;
    g.side[1] = Mul(g.eb, -1.0);
    g.side[2] = Unit(VCross(g.right[0], g.right[1]));
    g.side[3] = Unit(VCross(g.left[1], g.left[0]));
  }
  g.cap_a = cap_a;
  g.cap_b = cap_b;
  const V back = Mul(g.ea, -1.0);
  if (cap_b) {
    g.cap_br = QuarterFan(b, rn, g.eb, R);
    g.cap_bl = QuarterFan(b, g.eb, g.n, L);
  }
  if (cap_a) {
    g.cap_al = QuarterFan(a, g.n, back, L);
    g.cap_ar = QuarterFan(a, back, rn, R);
  }
  Shape s;
  s.kind = kLeg;
  s.attr = attr;
  s.v.reserve(2 * g.right.size() + g.cap_br.size() + g.cap_bl.size() + g.cap_al.size() + g.cap_ar.size());
  for (const V& p : g.right) PushRing(s.v, p);
  for (const V& p : g.cap_br) PushRing(s.v, p);
  for (const V& p : g.cap_bl) PushRing(s.v, p);
  for (int i = g.steps; i >= 0; --i) PushRing(s.v, g.left[i]);
  for (const V& p : g.cap_al) PushRing(s.v, p);
  for (const V& p : g.cap_ar) PushRing(s.v, p);
  CloseRing(s.v);
  const double wide = std::max({R.w, L.w, R.rho, L.rho});
  s.centre = Unit(Add(a, b));
  s.reach = std::min(M_PI, 0.5 * g.len + wide * 1.01 + 1e-9);
  s.sub = static_cast<int>(S.legs.size());
  S.legs.push_back(std::move(g));
  S.all.push_back(std::move(s));
}

// The round join at vertex c between the leg arriving with left normal n1
// (len1 long) and the leg leaving with n2 (len2 long): every direction gets
// the radius of the side it lies on of the leg whose end half-disc holds it
// (the larger of two), and the directions behind both legs (inside the
// turn) that of their side of the arriving leg. Where the two legs' bands
// cover a direction out to that radius, the join keeps only a core of half
// the narrower width there: mostly what is left is the wedge on the outer
// side of the turn, with whatever a short leg's band or a wider inner side
// leaves uncovered.
void AddJoin(Shapes& S, V c, V n1, V n2, double len1, double len2, const Side& R, const Side& L,
             std::uint64_t attr) {
  JoinShape g;
  g.c = c;
  const V t1 = Unit(VCross(n1, c)), t2 = Unit(VCross(n2, c));
  g.e1 = t1;
  g.e2 = n1;
  const double psi2 = std::atan2(VDot(t2, g.e2), VDot(t2, g.e1));
  const int nmax = std::max(R.n, L.n);
  std::vector<double> ang;
  ang.reserve(static_cast<std::size_t>(nmax) + 15);
  auto put = [&](double a) {
    a = std::remainder(a, 2.0 * M_PI);
    if (a >= M_PI) a -= 2.0 * M_PI;
    ang.push_back(a);
  };
  for (int k = 0; k < nmax; ++k) put(-M_PI + 2.0 * M_PI * k / nmax);
  const double d = kJoinOverlap;
  for (double a : {0.0, M_PI / 2, -M_PI / 2, M_PI / 2 + d, -M_PI / 2 - d}) put(a);
  for (double a : {0.0, M_PI, M_PI / 2, -M_PI / 2, M_PI / 2 - d, -M_PI / 2 + d}) put(psi2 + a);
  // Where the two sides' radii differ, the wider one reaches a little past
  // each leg's great circle into the narrower side (tilt radians, at most a
  // quarter of a metre at its radius), so that the edge between the two
  // radii never lies on that great circle: behind a leg shorter than the
  // width it would run along the edge of the join at the leg's other end,
  // and edges along one great circle cross nowhere the merge can find.
  // tilt > 0: directions up to tilt into the left count as right.
  const double tilt_size = std::min(kSideTilt, kSideTiltReach / std::max(R.rho, L.rho));
  const double tilt = R.rho > L.rho ? tilt_size : R.rho < L.rho ? -tilt_size : 0.0;
  const double sin_tilt = std::sin(tilt);
  if (tilt != 0.0)
    for (double a : {tilt, M_PI - tilt}) {
      put(a);
      put(psi2 + a);
    }
  std::sort(ang.begin(), ang.end());
  g.angle.reserve(ang.size() + 2);
  g.angle.push_back(-M_PI);
  for (double a : ang)
    if (a > g.angle.back() + 1e-12 && a < M_PI - 1e-12) g.angle.push_back(a);
  g.angle.push_back(M_PI);
  const double sd = std::sin(d);
  std::vector<double> radius;
  radius.reserve(g.angle.size());
  for (std::size_t i = 0; i + 1 < g.angle.size(); ++i) {
    const double m = 0.5 * (g.angle[i] + g.angle[i + 1]);
    const V u = Add(Mul(g.e1, std::cos(m)), Mul(g.e2, std::sin(m)));
    const bool cov1 = VDot(u, t1) >= -sd, cov2 = VDot(u, t2) <= sd;
    const double r1 = VDot(u, n1) > sin_tilt ? L.rho : R.rho;
    const double r2 = VDot(u, n2) > sin_tilt ? L.rho : R.rho;
    radius.push_back(std::max(cov1 || !cov2 ? r1 : 0.0, cov2 ? r2 : 0.0));
  }
  // A ray from c at angle a (from t1 towards n1) is inside the arriving
  // leg's band out to angle r when it points behind c, within the band's
  // width of the leg's great circle and within the leg's length along it:
  // sin r |sin a| <= sin w and tan r |cos a| <= tan len1 (on the sphere;
  // the band's chords lie outside its offsets). Likewise the leaving leg's
  // band, ahead of c, with a - psi2. A bin is left to the bands when either
  // covers it at both its ends (each bound is monotonic within a bin: the
  // bins break at the legs' directions and perpendiculars).
  const double core = 0.5 * std::min(R.w, L.w);
  const std::vector<double> full = radius;
  const double tan1 = std::tan(std::min(len1, M_PI / 2 - 1e-9)), tan2 = std::tan(std::min(len2, M_PI / 2 - 1e-9));
  const double sin_r = std::sin(R.w), sin_l = std::sin(L.w);
  // along: the cosine of the angle from the leg's direction, positive away
  // from the band; across: the sine, positive on the left.
  auto band_covers = [&](double along, double across, double len_tan, double sr, double tr) {
    if (along > -1e-12) return false;
    const double sw = across > 0.0 ? sin_l : sin_r;
    return sr * std::fabs(across) <= sw * (1.0 - 1e-9) && tr * -along <= len_tan * (1.0 - 1e-9);
  };
  auto by_arriving = [&](double a, double sr, double tr) {
    return band_covers(std::cos(a), std::sin(a), tan1, sr, tr);
  };
  auto by_leaving = [&](double a, double sr, double tr) {
    return band_covers(-std::cos(a - psi2), std::sin(a - psi2), tan2, sr, tr);
  };
  for (std::size_t i = 0; i + 1 < g.angle.size(); ++i) {
    const double r = radius[i];
    if (r <= core) continue;
    // The bands need only cover the side's width: the round parts reach
    // past it by the area-equal margin, which the bands leave out beside
    // them.
    const double need = r == R.rho ? R.w : L.w;
    const double sr = std::sin(need), tr = std::tan(need);
    const double eps = std::min(1e-9, 0.25 * (g.angle[i + 1] - g.angle[i]));
    const double lo = g.angle[i] + eps, hi = g.angle[i + 1] - eps;
    if ((by_arriving(lo, sr, tr) && by_arriving(hi, sr, tr)) || (by_leaving(lo, sr, tr) && by_leaving(hi, sr, tr)))
      radius[i] = core;
  }
  // A bin kept beside a leg's perpendicular goes on through the narrow bin
  // just past it, so that no edge of the join runs along the band's end.
  for (std::size_t i = 0; i + 1 < g.angle.size(); ++i) {
    if (radius[i] != core || g.angle[i + 1] - g.angle[i] > 1.5 * d) continue;
    const double mid = 0.5 * (g.angle[i] + g.angle[i + 1]);
    if (std::fabs(std::cos(mid)) >= 2.0 * d && std::fabs(std::cos(mid - psi2)) >= 2.0 * d) continue;
    double beside = 0.0;
    if (i > 0 && radius[i - 1] != core && g.angle[i] - g.angle[i - 1] > 1.5 * d) beside = radius[i - 1];
    if (i + 2 < g.angle.size() && radius[i + 1] != core && g.angle[i + 2] - g.angle[i + 1] > 1.5 * d)
      beside = std::max(beside, radius[i + 1]);
    if (beside > 0.0) radius[i] = std::max(full[i], beside);
  }
  // Where the radius is a hair's (a one-sided buffer) or a core, chords of up
  // to a quarter turn are enough and keep the shape within reach of the sign
  // tests.
  const double hair = 2.0 * kHairWidth;
  auto small = [&](double r) { return r == hair || r == core; };
  std::vector<double> kept_angle{g.angle[0]}, kept_radius;
  kept_angle.reserve(g.angle.size());
  kept_radius.reserve(g.angle.size());
  for (std::size_t i = 0; i + 1 < g.angle.size(); ++i) {
    const bool last = i + 2 == g.angle.size();
    if (!last && small(radius[i]) && radius[i + 1] == radius[i] && g.angle[i + 2] - kept_angle.back() <= M_PI / 2)
      continue;
    kept_angle.push_back(g.angle[i + 1]);
    kept_radius.push_back(radius[i]);
  }
  g.angle = std::move(kept_angle);
  // Each angle's cosine and sine, for its pseudo-angle and the points on it.
  const std::size_t na = g.angle.size();
  std::vector<double> cos_sin(2 * na);
  for (std::size_t i = 0; i < na; ++i) {
    cos_sin[2 * i] = std::cos(g.angle[i]);
    cos_sin[2 * i + 1] = std::sin(g.angle[i]);
  }
  g.pangle.reserve(na);
  for (std::size_t i = 0; i < na; ++i) g.pangle.push_back(PseudoAngle(-cos_sin[2 * i], -cos_sin[2 * i + 1]));
  g.pangle.front() = 0.0;
  g.pangle.back() = 4.0;
  Shape s;
  s.kind = kJoin;
  s.attr = attr;
  double widest = 0.0;
  g.pt.reserve(2 * (g.angle.size() - 1));
  s.v.reserve(2 * (g.angle.size() - 1));
  double last_r = -1.0, cos_rho = 1.0, sin_rho = 0.0;  // the bins' radii mostly repeat
  for (std::size_t i = 0; i + 1 < na; ++i) {
    const double r = kept_radius[i];
    widest = std::max(widest, r);
    if (r != last_r) {
      last_r = r;
      cos_rho = std::cos(r);
      sin_rho = std::sin(r);
    }
    for (std::size_t k : {i, i + 1}) {
      const V p = Toward(c, Add(Mul(g.e1, cos_sin[2 * k]), Mul(g.e2, cos_sin[2 * k + 1])), cos_rho, sin_rho);
      g.pt.push_back(p);
      PushRing(s.v, p);
    }
  }
  CloseRing(s.v);
  s.centre = c;
  s.reach = widest * 1.01 + 1e-9;
  s.sub = static_cast<int>(S.joins.size());
  S.joins.push_back(std::move(g));
  S.all.push_back(std::move(s));
}

// The shapes of one line: a leg shape per leg (quarter circles at the two
// ends of the line), a join per inner vertex, a circle for a single vertex.
void AddLine(Shapes& S, std::vector<cells::PointNode>& line, Side R, Side L, double min_w) {
  // Vertices closer than a millionth of a millimetre give no leg direction.
  std::vector<cells::PointNode> v;
  for (const auto& p : line) {
    if (!v.empty()) {
      const V d = Sub(v.back().p, p.p);
      if (VDot(d, d) < 1e-18) continue;
    }
    v.push_back(p);
  }
  if (v.empty()) return;
  for (Side* s : {&R, &L})
    if (s->w < min_w) *s = Side{kHairWidth, 2.0 * kHairWidth, 4};
  if (v.size() == 1) {
    const Side& s = R.rho >= L.rho ? R : L;
    S.all.push_back(NGon(v[0].p, s.rho, s.n, v[0].attribute));
    return;
  }
  // Legs longer than a quarter circle are cut into equal parts.
  std::vector<cells::PointNode> w{v[0]};
  for (std::size_t i = 1; i < v.size(); ++i) {
    const V a = w.back().p, b = v[i].p;
    const double len = ArcAngle(a, b);
    const int parts = static_cast<int>(std::ceil(len / (M_PI / 2.0) - 1e-12));
    if (parts > 1) {
      const V ea = Unit(VCross(Unit(VCross(a, b)), a));
      for (int k = 1; k < parts; ++k) w.push_back({Toward(a, ea, len * k / parts), v[i - 1].attribute});
    }
    w.push_back(v[i]);
  }
  const std::size_t m = w.size();
  for (std::size_t i = 0; i + 1 < m; ++i)
    AddLeg(S, w[i].p, w[i + 1].p, R, L, i == 0, i + 2 == m, w[i].attribute);
  for (std::size_t i = 1; i + 1 < m; ++i)
    AddJoin(S, w[i].p, Unit(VCross(w[i - 1].p, w[i].p)), Unit(VCross(w[i].p, w[i + 1].p)),
            ArcAngle(w[i - 1].p, w[i].p), ArcAngle(w[i].p, w[i + 1].p), R, L, w[i].attribute);
}

}  // namespace

int q7_LsetExpand(const DeriveContext& ctx, const geodesy::Ellipsoid* e, int mode, int density_right,
                  int density_left, double distance_right, double distance_left, const cells::Object& lines) {
  if (!ctx.index || !ctx.object) return DERIVE_BAD_PARAMETERS;
  if (mode != 1 && mode != 2) return DERIVE_BAD_PARAMETERS;
  if (!OutputResValid(ctx.res)) return DERIVE_BAD_PARAMETERS;
  const int nr = DensityVertices(density_right), nl = DensityVertices(density_left);
  if (!nr || !nl) return DERIVE_BAD_PARAMETERS;
  const double limit = e ? 0.1 * ops::MeanRadius(*e) : 0.1;
  const double least = e ? 0.001 : 0.001 / 6371007.1808;
  if (!(distance_right >= 0.0 && distance_right <= limit)) return DERIVE_BAD_PARAMETERS;
  if (!(distance_left >= 0.0 && distance_left <= limit)) return DERIVE_BAD_PARAMETERS;
  if (distance_right < least && distance_left < least) return DERIVE_BAD_PARAMETERS;
  if (lines.kind != cells::kLset) return DERIVE_BAD_PARAMETERS;
  try {
    std::vector<cells::PointNode> all;
    if (!cells::CollectVertices(*ctx.index, lines, all)) return DERIVE_NO_WORKSPACE;
    // A leg and a join for about every vertex.
    Shapes S;
    S.all.reserve(2 * all.size());
    S.legs.reserve(all.size());
    S.joins.reserve(all.size());
    std::vector<cells::PointNode> line;
    for (const auto& p : all) {
      if (!cells::IsMark(p)) {
        line.push_back(p);
        continue;
      }
      if (line.empty()) continue;
      // Widths become angles at the mean direction of the line's vertices.
      double f = 1.0;
      if (e) {
        V sum{0.0, 0.0, 0.0};
        for (const auto& q : line) sum = Add(sum, q.p);
        const V mean = VDot(sum, sum) > 1e-20 ? Unit(sum) : line[0].p;
        f = MetresToRadians(*e, mean);
      }
      Side R, L;
      R.n = nr;
      L.n = nl;
      R.w = distance_right * f;
      L.w = distance_left * f;
      R.rho = R.w * AreaEqualFactor(nr);
      L.rho = L.w * AreaEqualFactor(nl);
      AddLine(S, line, R, L, least * f);
      line.clear();
    }
    return FinishBuffer(ctx, mode, S, true);
  } catch (const std::bad_alloc&) {
    if (!ctx.output) *ctx.object = cells::Object{};
    return DERIVE_NO_WORKSPACE;
  }
}

}  // namespace ops

// Helpers of the region algebra tests: regions from rings of latitude and
// longitude, the operations run into an output arena, rings read back, areas
// from GeographicLib, and the side of a point.
#pragma once

#include <GeographicLib/PolygonArea.hpp>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "lib/cells/cell_locate.h"
#include "lib/cells/coord_text.h"
#include "lib/cells/measure_object.h"
#include "lib/ops/rset_combine.h"
#include "lib/ops/rset_complement.h"
#include "lib/ops/rset_point_test.h"
#include "platform/workspace.h"
#include "tests/ops/ops_test_util.h"

namespace ops::testing {

using geodesy::DirectionCosines;
using Ring = std::vector<DirectionCosines>;

// An object built in its own output arena (as a derivation builds it).
struct Region {
  std::vector<std::uint8_t> block;
  platform::Workspace arena;
  cells::Object obj;
  int status = 0;
  explicit Region(std::size_t size = 64u << 20) : block(size) {
    platform::WorkspaceInit(&arena, block.data(), static_cast<std::int64_t>(block.size()));
  }
};
using RegionPtr = std::unique_ptr<Region>;

inline std::vector<cells::PointNode> Nodes(const std::vector<Ring>& rings, std::uint32_t first_id = 1) {
  std::vector<cells::PointNode> n;
  std::uint32_t id = first_id;
  for (const Ring& r : rings) {
    for (const auto& p : r) n.push_back({p, 0});
    n.push_back(cells::Mark(id++));
  }
  return n;
}

inline RegionPtr FromRings(cells::CellIndex& idx, const std::vector<Ring>& rings, int res = 10) {
  std::size_t n = 0;
  for (const Ring& ring : rings) n += ring.size();
  auto r = std::make_unique<Region>(n * 64 + (std::size_t{1} << 20));
  cells::BuildParams p;
  p.id = 7;
  p.res = res;
  r->status = cells::BuildRset(idx, {&r->arena, nullptr}, p, Nodes(rings), r->obj);
  return r;
}

// A ring of (lat, lon) degree pairs, geocentric.
inline Ring LL(std::initializer_list<std::pair<double, double>> pts) {
  Ring r;
  for (const auto& [lat, lon] : pts) r.push_back(LatLonDeg(lat, lon));
  return r;
}

// The regular n-gon of radius deg degrees about (lat, lon), counterclockwise.
inline Ring Cap(double lat, double lon, double deg, int n = 360) {
  const DirectionCosines c = LatLonDeg(lat, lon);
  DirectionCosines east = geodesy::Normalised(geodesy::Cross({0, 0, 1}, c));
  if (!geodesy::IsValid(east) || std::fabs(c.z) > 0.999999) east = {0, 1, 0};
  const DirectionCosines north = geodesy::Cross(c, east);
  const double r = deg * M_PI / 180.0;
  Ring ring;
  for (int k = 0; k < n; ++k) {
    const double t = 2.0 * M_PI * k / n;
    const double ce = std::cos(t) * std::sin(r), cn = std::sin(t) * std::sin(r);
    ring.push_back(geodesy::Normalised({c.x * std::cos(r) + east.x * ce + north.x * cn,
                                        c.y * std::cos(r) + east.y * ce + north.y * cn,
                                        c.z * std::cos(r) + east.z * ce + north.z * cn}));
  }
  return ring;
}

inline DeriveContext Context(cells::CellIndex& idx, Region& out, int res, platform::Workspace* ws = nullptr) {
  DeriveContext c;
  c.index = &idx;
  c.workspace = ws;
  c.output = &out.arena;
  c.object = &out.obj;
  c.created = 12345;
  c.res = res;
  return c;
}

inline std::size_t Bytes(const cells::Object& o) {
  return std::size_t{o.env_size} + o.struct_size + o.coord_size;
}

inline RegionPtr Combine(cells::CellIndex& idx, int mode, const cells::Object& a, const cells::Object& b,
                         int res = 10, double fuzz = 0.0) {
  auto r = std::make_unique<Region>(3 * (Bytes(a) + Bytes(b)) + (std::size_t{1} << 20));
  r->status = q7_RsetCombine(Context(idx, *r, res), mode, fuzz, a, b);
  return r;
}
inline RegionPtr Common(cells::CellIndex& idx, const cells::Object& a, const cells::Object& b, int res = 10) {
  return Combine(idx, RSET_COMMON, a, b, res);
}
inline RegionPtr Union(cells::CellIndex& idx, const cells::Object& a, const cells::Object& b, int res = 10) {
  return Combine(idx, RSET_COMBINED, a, b, res);
}
inline RegionPtr Complement(cells::CellIndex& idx, const cells::Object* a, int res = 10) {
  auto r = std::make_unique<Region>(2 * (a ? Bytes(*a) : 0) + (std::size_t{1} << 20));
  r->status = q7_RsetComplement(Context(idx, *r, res), a);
  return r;
}

// The rings as stored.
inline std::vector<Ring> RingsOf(cells::CellIndex& idx, const cells::Object& o) {
  std::vector<cells::PointNode> v;
  cells::CollectVertices(idx, o, v);
  std::vector<Ring> rings;
  Ring cur;
  for (const auto& n : v) {
    if (cells::IsMark(n)) {
      if (!cur.empty()) rings.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(n.p);
    }
  }
  return rings;
}

// Signed area (m^2, WGS84, geodesic legs) of rings with the inside on the
// left, each ring taken as bounding less than half the earth.
inline double GeodesicArea(const std::vector<Ring>& rings) {
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  const GeographicLib::Geodesic g(e.a, (e.a - e.b) / e.a);
  double total = 0.0;
  for (const Ring& r : rings) {
    GeographicLib::PolygonArea poly(g);
    for (const auto& p : r) {
      const geodesy::LatLong ll = geodesy::CosinesToGeodetic(p, e);
      poly.AddPoint(ll.lat * 180.0 / M_PI, ll.lon * 180.0 / M_PI);
    }
    double perimeter = 0.0, area = 0.0;
    poly.Compute(false, true, perimeter, area);
    total += area;
  }
  return total;
}

// Our own area of a region by its rings.
inline double OwnArea(cells::CellIndex& idx, const cells::Object& o) {
  return cells::MeasureRset(idx, o, geodesy::MakeEllipsoid(), 's', nullptr).area;
}

// Our area by the cell method, whose legs are great-circle arcs as the
// regions' are: a crossing vertex added on a long leg changes nothing there
// (the ring methods follow the ellipsoid's geodesics between vertices).
inline double CellArea(cells::CellIndex& idx, const cells::Object& o) {
  static std::vector<double> table;
  static const cells::CellIndex* for_index = nullptr;
  if (for_index != &idx) {
    table.assign(idx.cell_count, 0.0);
    const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
    double total = 0.0;
    cells::FillCellAreaTable(idx, &e, table, &total);
    for_index = &idx;
  }
  return cells::MeasureRset(idx, o, geodesy::MakeEllipsoid(), 'c', table.data()).area;
}

// Inside (true) or outside by q7_RsetPointTest; 0 counts as neither and is
// reported through on.
inline bool Inside(cells::CellIndex& idx, const cells::Object& o, const DirectionCosines& p,
                   bool* on = nullptr, RsetTestCache* cache = nullptr) {
  const int t = q7_RsetPointTest(idx, p, o, 0.0, 1, cache);
  if (on) *on = t == 0;
  return t > 0;
}

inline bool SameSections(const cells::Object& a, const cells::Object& b) {
  if (a.env_size != b.env_size || a.struct_size != b.struct_size || a.coord_size != b.coord_size) return false;
  for (int k = 0; k < 6; ++k)
    if (a.kfield[k] != b.kfield[k]) return false;
  return std::memcmp(a.env, b.env, a.env_size) == 0 && std::memcmp(a.structure, b.structure, a.struct_size) == 0 &&
         std::memcmp(a.coords, b.coords, a.coord_size) == 0;
}

}  // namespace ops::testing

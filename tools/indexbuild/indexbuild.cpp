// indexbuild: builds the cell indexes that ship with the program.
//
//   indexbuild --shipped DIR            writes DIR/dodeca05.vix and DIR/isotype.vix
//   indexbuild LEVELS FILE.vix [TIME]   the icosahedral index refined LEVELS times
//   indexbuild --tix FILE.vix FILE.tix  writes a .vix file out as text
//
// The centres start as the 12 vertices of the icosahedron (the centres of the
// dodecahedron's faces). Each refinement inserts the midpoint of every pair
// of neighbours, projected to the sphere: the triangles of the mesh are cut
// in four, so level L has 10 * 4^L + 2 cells. The neighbour lists are read off
// the triangle fans counterclockwise. Cells are numbered along a Hilbert curve
// on each cube face so that neighbours mostly lie close in memory, which
// keeps a location walk in the cache.
//
// Before writing, the index must pass verification and every Voronoi vertex
// must be nearer to its own three centres than to any other centre around it
// (the triangulation is a Delaunay one, so the lists are the Voronoi
// partition). The output is the same bytes on every run but for index_id (the
// time) and the creation day.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "lib/cells/cell_grow.h"
#include "lib/cells/cell_index.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/index_file.h"
#include "lib/geodesy/ellipsoid.h"

using cells::CellIndex;
using geodesy::DirectionCosines;

namespace {

struct Mesh {
  std::vector<DirectionCosines> v;
  std::vector<std::array<int, 3>> faces;  // counterclockwise seen from outside
};

Mesh Icosahedron() {
  Mesh m;
  const double phi = (1.0 + std::sqrt(5.0)) / 2.0;
  const double raw[12][3] = {{-1, phi, 0}, {1, phi, 0}, {-1, -phi, 0}, {1, -phi, 0},
                             {0, -1, phi}, {0, 1, phi}, {0, -1, -phi}, {0, 1, -phi},
                             {phi, 0, -1}, {phi, 0, 1}, {-phi, 0, -1}, {-phi, 0, 1}};
  for (const auto& r : raw) m.v.push_back(geodesy::Normalised(DirectionCosines{r[0], r[1], r[2]}));
  // Faces: every triple of mutually adjacent vertices (edge chord is the
  // shortest one), turned to run counterclockwise from outside.
  const double edge2 = geodesy::ChordSq(m.v[0], m.v[1]);
  auto adjacent = [&](int a, int b) { return std::fabs(geodesy::ChordSq(m.v[a], m.v[b]) - edge2) < 1e-9; };
  for (int a = 0; a < 12; ++a)
    for (int b = a + 1; b < 12; ++b)
      for (int c = b + 1; c < 12; ++c) {
        if (!adjacent(a, b) || !adjacent(b, c) || !adjacent(a, c)) continue;
        const DirectionCosines ab{m.v[b].x - m.v[a].x, m.v[b].y - m.v[a].y, m.v[b].z - m.v[a].z};
        const DirectionCosines ac{m.v[c].x - m.v[a].x, m.v[c].y - m.v[a].y, m.v[c].z - m.v[a].z};
        if (geodesy::Dot(geodesy::Cross(ab, ac), m.v[a]) > 0) m.faces.push_back({a, b, c});
        else m.faces.push_back({a, c, b});
      }
  return m;
}

void Refine(Mesh& m) {
  std::map<std::pair<int, int>, int> mid;
  auto midpoint = [&](int a, int b) {
    const auto key = std::make_pair(std::min(a, b), std::max(a, b));
    auto it = mid.find(key);
    if (it != mid.end()) return it->second;
    const DirectionCosines& p = m.v[a];
    const DirectionCosines& q = m.v[b];
    m.v.push_back(geodesy::Normalised(DirectionCosines{p.x + q.x, p.y + q.y, p.z + q.z}));
    const int id = static_cast<int>(m.v.size()) - 1;
    mid.emplace(key, id);
    return id;
  };
  std::vector<std::array<int, 3>> out;
  out.reserve(m.faces.size() * 4);
  for (const auto& f : m.faces) {
    const int ab = midpoint(f[0], f[1]), bc = midpoint(f[1], f[2]), ca = midpoint(f[2], f[0]);
    out.push_back({f[0], ab, ca});
    out.push_back({f[1], bc, ab});
    out.push_back({f[2], ca, bc});
    out.push_back({ab, bc, ca});
  }
  m.faces.swap(out);
}

// Counterclockwise neighbour lists from the triangle fans: in face (a, b, c)
// the neighbour after b around a is c.
bool FanLists(const Mesh& m, std::vector<std::vector<std::int32_t>>& lists) {
  const std::size_t n = m.v.size();
  std::vector<std::map<int, int>> next(n);
  for (const auto& f : m.faces) {
    for (int k = 0; k < 3; ++k) next[f[k]][f[(k + 1) % 3]] = f[(k + 2) % 3];
  }
  lists.assign(n, {});
  for (std::size_t i = 0; i < n; ++i) {
    if (next[i].empty()) return false;
    int start = next[i].begin()->first, cur = start;
    do {
      lists[i].push_back(cur);
      auto it = next[i].find(cur);
      if (it == next[i].end() || lists[i].size() > next[i].size()) return false;
      cur = it->second;
    } while (cur != start);
    if (lists[i].size() != next[i].size()) return false;
  }
  return true;
}

// Position along the Hilbert curve of order 16 through the cell (x, y).
std::uint64_t Hilbert(std::uint32_t x, std::uint32_t y) {
  std::uint64_t d = 0;
  for (std::uint32_t s = 1u << 15; s > 0; s >>= 1) {
    const std::uint32_t rx = (x & s) ? 1 : 0, ry = (y & s) ? 1 : 0;
    d += static_cast<std::uint64_t>(s) * s * ((3 * rx) ^ ry);
    if (ry == 0) {
      if (rx == 1) {
        x = (1u << 16) - 1 - x;
        y = (1u << 16) - 1 - y;
      }
      std::swap(x, y);
    }
  }
  return d;
}

// Cube face first, then the Hilbert position on it.
std::uint64_t SpaceKey(const DirectionCosines& p) {
  const double ax = std::fabs(p.x), ay = std::fabs(p.y), az = std::fabs(p.z);
  int face;
  double u, v, w;
  if (ax >= ay && ax >= az) {
    face = p.x >= 0 ? 0 : 1, w = ax, u = p.y, v = p.z;
  } else if (ay >= az) {
    face = p.y >= 0 ? 2 : 3, w = ay, u = p.z, v = p.x;
  } else {
    face = p.z >= 0 ? 4 : 5, w = az, u = p.x, v = p.y;
  }
  auto grid = [&](double t) {
    const double g = (t / w + 1.0) * 32768.0;
    return static_cast<std::uint32_t>(std::clamp(g, 0.0, 65535.0));
  };
  return (static_cast<std::uint64_t>(face) << 40) | Hilbert(grid(u), grid(v));
}

// Every Voronoi vertex is nearer to its own centres than to any centre of
// the cells around them (empty circumcircles).
bool Delaunay(const CellIndex& idx) {
  for (std::int32_t i = 0; i < idx.cell_count; ++i) {
    const cells::CellRecord* r = idx.cells[i];
    for (int k = 0; k < r->neighbour_count; ++k) {
      DirectionCosines v;
      if (cells::VoronoiVertex(idx, i, k, v) != 1) return false;
      const double own = geodesy::ChordSq(v, r->centre);
      for (std::int32_t c : {r->neighbours[k], r->neighbours[(k + 1) % r->neighbour_count]}) {
        const cells::CellRecord* rc = idx.cells[c];
        for (int j = 0; j < rc->neighbour_count; ++j) {
          if (geodesy::ChordSq(v, idx.cells[rc->neighbours[j]]->centre) < own - 1e-15) return false;
        }
      }
    }
  }
  return true;
}

int Build(int levels, const char* path, std::int64_t when) {
  Mesh m = Icosahedron();
  if (m.faces.size() != 20) {
    std::fprintf(stderr, "indexbuild: icosahedron has %zu faces\n", m.faces.size());
    return 1;
  }
  for (int l = 0; l < levels; ++l) Refine(m);
  std::vector<std::vector<std::int32_t>> lists;
  if (!FanLists(m, lists)) {
    std::fprintf(stderr, "indexbuild: the mesh does not close around a vertex\n");
    return 1;
  }
  const std::size_t n = m.v.size();
  std::vector<std::int32_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<std::int32_t>(i);
  std::vector<std::uint64_t> key(n);
  for (std::size_t i = 0; i < n; ++i) key[i] = SpaceKey(m.v[i]);
  std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) { return key[a] < key[b]; });
  CellIndex raw, idx;
  if (cells::AssembleIndex(m.v, lists, static_cast<std::uint32_t>(when), raw) != 0 ||
      cells::RenumberIndex(raw, order, idx) != 0) {
    std::fprintf(stderr, "indexbuild: cannot assemble the index (%zu cells)\n", n);
    cells::ReleaseIndex(raw);
    return 1;
  }
  cells::ReleaseIndex(raw);
  const cells::VerifyResult vr = cells::VerifyIndex(idx);
  if (vr.status != 0) {
    std::fprintf(stderr, "indexbuild: verification status %d, cells %d %d\n", vr.status, vr.fault[0], vr.fault[1]);
    cells::ReleaseIndex(idx);
    return 1;
  }
  if (!Delaunay(idx)) {
    std::fprintf(stderr, "indexbuild: the neighbour lists are not the Voronoi partition\n");
    cells::ReleaseIndex(idx);
    return 1;
  }
  const cells::VixHeader h = cells::MakeVixHeader(when, cells::DEFAULT_ELLIPSOID_NUMBER, vr.max_chord2,
                                                  cells::DiagonalStatistic(idx));
  std::int32_t row = 0;
  const int ws = cells::WriteVix(path, idx, h, &row);
  cells::ReleaseIndex(idx);
  if (ws != 0) {
    std::fprintf(stderr, "indexbuild: cannot write %s (status %d, row %d)\n", path, ws, row);
    return 1;
  }
  std::printf("indexbuild: %s: %zu cells, index id %u\n", path, n, h.index_id);
  return 0;
}

int ToText(const char* vix, const char* tix) {
  std::FILE* f = std::fopen(vix, "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "indexbuild: cannot open %s\n", vix);
    return 1;
  }
  unsigned char hb[cells::VIX_HEADER_SIZE] = {};
  const bool have = std::fread(hb, 1, sizeof hb, f) == sizeof hb;
  std::rewind(f);
  CellIndex idx;
  const int st = cells::LoadVix(f, idx);
  std::fclose(f);
  if (!have || st != 0) {
    std::fprintf(stderr, "indexbuild: error loading index (%s), status %d\n", vix, st);
    return 1;
  }
  const int ws = cells::WriteTix(tix, idx, cells::DecodeVixHeader(hb));
  cells::ReleaseIndex(idx);
  return ws == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--shipped") == 0) {
    const std::string dir = argv[2];
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    // Two different identifiers, so objects made with one index are never
    // taken for the other's.
    if (Build(5, (dir + "/dodeca05.vix").c_str(), now) != 0) return 1;
    return Build(6, (dir + "/isotype.vix").c_str(), now + 1);
  }
  if (argc == 4 && std::strcmp(argv[1], "--tix") == 0) return ToText(argv[2], argv[3]);
  if (argc == 3 || argc == 4) {
    const int levels = std::atoi(argv[1]);
    if (levels < 0 || levels > 7) {
      std::fprintf(stderr, "indexbuild: LEVELS must be 0 ... 7\n");
      return 2;
    }
    const std::int64_t when = argc == 4 ? std::atoll(argv[3]) : static_cast<std::int64_t>(std::time(nullptr));
    if (when <= 0 || when > 0xFFFFFFFFLL) {
      std::fprintf(stderr, "indexbuild: TIME must be 1 ... 4294967295\n");
      return 2;
    }
    return Build(levels, argv[2], when);
  }
  std::fprintf(stderr,
               "usage: indexbuild --shipped DIR | indexbuild LEVELS FILE.vix [TIME] | "
               "indexbuild --tix FILE.vix FILE.tix\n");
  return 2;
}

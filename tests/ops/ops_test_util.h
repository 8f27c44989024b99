// Helpers of the derivation tests: the shipped index, land regions built
// from the shipped region text, and small objects built on the heap.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lib/cells/cell_index.h"
#include "lib/cells/coord_text.h"
#include "lib/cells/index_file.h"
#include "lib/cells/object_builder.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/ops/derive_params.h"
#include "platform/workspace.h"

// Debian's S2 and abseil are built without AddressSanitizer; their
// containers check themselves differently in an instrumented caller, so the
// S2 oracles run in the ordinary build only.
#if defined(__SANITIZE_ADDRESS__)
#define OMBREL_SKIP_S2_UNDER_ASAN() GTEST_SKIP() << "S2 cannot be used from an AddressSanitizer build"
#else
#define OMBREL_SKIP_S2_UNDER_ASAN() (void)0
#endif

namespace ops::testing {

inline std::string BinDir() {
  const char* b = std::getenv("OMBREL_BIN");
  return b ? std::string(b) + "/" : std::string("../bin/");
}
inline std::string SourceDir() {
  const char* s = std::getenv("OMBREL_SOURCE");
  return s ? std::string(s) + "/" : std::string("/work/main/");
}
inline bool Sanitized() { return std::getenv("OMBREL_SANITIZED") != nullptr; }

inline bool LoadIndex(const char* name, cells::CellIndex& idx) {
  std::FILE* f = std::fopen((BinDir() + name).c_str(), "rb");
  if (!f) return false;
  const int status = cells::LoadVix(f, idx, 1);
  std::fclose(f);
  return status == 0;
}

// An object built on the heap, with the heap block that holds its sections.
struct HeapObject {
  cells::Object obj;
  std::vector<std::uint8_t> heap;
  int status = 0;
};

inline void Build(cells::CellIndex& idx, int kind, const std::vector<cells::PointNode>& nodes,
                  HeapObject& h, int res = 10, std::uint32_t id = 1) {
  cells::SectionTarget t;
  t.heap = &h.heap;
  cells::BuildParams p;
  p.id = id;
  p.res = res;
  if (kind == cells::kPset) h.status = cells::BuildPset(idx, t, p, nodes, h.obj);
  else if (kind == cells::kLset) h.status = cells::BuildLset(idx, t, p, nodes, h.obj);
  else h.status = cells::BuildRset(idx, t, p, nodes, h.obj);
}

// Reads data/<name>.rgn and builds the region (doubles, so the rings are the
// text's own positions).
inline bool LoadLand(cells::CellIndex& idx, const char* name, HeapObject& h) {
  std::FILE* f = std::fopen((SourceDir() + "data/" + name).c_str(), "rb");
  if (!f) return false;
  cells::CoordReadOptions o;
  o.kind = 2;
  o.res = 10;
  std::vector<cells::PointNode> nodes;
  cells::CoordReadResult r = cells::ReadCoordText(f, o, nodes);
  std::fclose(f);
  if (r.status != 0) return false;
  Build(idx, cells::kRset, nodes, h, 10);
  return h.status == 0;
}

// The vertices of each line or ring of an Lset or Rset, item by item.
inline std::vector<std::vector<geodesy::DirectionCosines>> ItemVertices(cells::CellIndex& idx, const cells::Object& obj) {
  std::vector<cells::PointNode> v;
  cells::CollectVertices(idx, obj, v);
  std::vector<std::vector<geodesy::DirectionCosines>> items(1);
  for (const auto& nd : v) {
    if (cells::IsMark(nd)) {
      if (!items.back().empty()) items.emplace_back();
      continue;
    }
    items.back().push_back(nd.p);
  }
  if (items.back().empty()) items.pop_back();
  return items;
}

inline geodesy::DirectionCosines RandomUnit(std::mt19937_64& rng) {
  std::normal_distribution<double> n(0.0, 1.0);
  for (;;) {
    geodesy::DirectionCosines p{n(rng), n(rng), n(rng)};
    const double l = std::sqrt(geodesy::Dot(p, p));
    if (l > 1e-6) return {p.x / l, p.y / l, p.z / l};
  }
}

inline geodesy::DirectionCosines LatLonDeg(double lat, double lon) {
  return geodesy::GeocentricToCosines({lat * M_PI / 180.0, lon * M_PI / 180.0});
}

// A test suite whose tests share one loaded isotype index, idx_.
class IsotypeSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    idx_ = new cells::CellIndex;
    ASSERT_TRUE(LoadIndex("isotype.vix", *idx_));
  }
  static void TearDownTestSuite() {
    cells::ReleaseIndex(*idx_);
    delete idx_;
    idx_ = nullptr;
  }
  static inline cells::CellIndex* idx_ = nullptr;
};

// An output arena for derivations and the context that writes into it
// (created: the identifier the results carry).
// Unit vector of a.
inline geodesy::DirectionCosines Unitised(geodesy::DirectionCosines a) {
  const double l = std::sqrt(geodesy::Dot(a, a));
  return {a.x / l, a.y / l, a.z / l};
}
// The point at angle t from a in the tangent direction dir (a unit vector
// normal to a).
inline geodesy::DirectionCosines Along(geodesy::DirectionCosines a, geodesy::DirectionCosines dir, double t) {
  return Unitised({a.x * std::cos(t) + dir.x * std::sin(t), a.y * std::cos(t) + dir.y * std::sin(t),
                   a.z * std::cos(t) + dir.z * std::sin(t)});
}
// The heading at q of the great circle from p to q, turned by turn radians
// (positive to the left): the direction of a random line's next leg.
inline geodesy::DirectionCosines TurnedAt(geodesy::DirectionCosines p, geodesy::DirectionCosines q, double turn) {
  const geodesy::DirectionCosines n = Unitised(geodesy::Cross(p, q));
  const geodesy::DirectionCosines t = geodesy::Cross(n, q);
  const geodesy::DirectionCosines side = geodesy::Cross(q, t);
  return {t.x * std::cos(turn) + side.x * std::sin(turn), t.y * std::cos(turn) + side.y * std::sin(turn),
          t.z * std::cos(turn) + side.z * std::sin(turn)};
}

struct OutputArena {
  std::vector<std::uint8_t> memory;
  platform::Workspace ws;
  cells::Object out;
  std::uint32_t created;
  OutputArena(std::size_t n, std::uint32_t created_id) : memory(n), created(created_id) {
    platform::WorkspaceInit(&ws, memory.data(), static_cast<std::int64_t>(memory.size()));
  }
  ops::DeriveContext Context(cells::CellIndex& idx, int res = 10) {
    platform::WorkspaceInit(&ws, memory.data(), static_cast<std::int64_t>(memory.size()));
    ops::DeriveContext c;
    c.index = &idx;
    c.output = &ws;
    c.object = &out;
    c.created = created;
    c.res = res;
    return c;
  }
};

}  // namespace ops::testing

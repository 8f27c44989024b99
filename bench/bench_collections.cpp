// Collection searches beside S2, in the same run:
//   - the overhead search (the countries holding a position) of 1 000 000
//     random positions over countries 10m: Collection::RegionsAt after cell
//     location (after a first pass that makes the border cells ready),
//     beside S2ContainsPointQuery::GetContainingShapes on a
//     MutableS2ShapeIndex of one S2LaxPolygonShape per country;
//   - the nearest point of a collection of 260 000 random points, 200 000
//     queries: Collection::NearestTo beside S2ClosestPointQuery (S2PointIndex,
//     max_results 1);
//   - building the countries 10m collection (what plrbuild does, in memory).
// Positions come from splitmix64 (z = 2u - 1, phi = 2 pi v); each timing is
// the best of five rounds, ours and S2's taken in turn. The countries 10m
// rings are read from OMBREL_COUNTRIES10M (a .rgn; its .names beside it), by
// default the countries10m.rgn that the bench build converts next to this
// program.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <s2/mutable_s2shape_index.h>
#include <s2/s2closest_point_query.h>
#include <s2/s2contains_point_query.h>
#include <s2/s2debug.h>
#include <s2/s2lax_polygon_shape.h>
#include <s2/s2point_index.h>

#include "lib/cells/cell_index.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/coord_text.h"
#include "lib/cells/index_file.h"
#include "lib/cells/object_builder.h"
#include "lib/ops/collection.h"
#include "lib/ops/collection_build.h"
#include "bench/bench_points.h"

using geodesy::DirectionCosines;
using namespace benchpoints;

namespace {

std::string ExeDir() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string exe = n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string("./x");
  return exe.substr(0, exe.find_last_of('/')) + "/";
}

// Best of rounds for two sides, their rounds taken in turn, so that a busy
// spell of the shared machine weighs on both alike.
template <class F, class G>
void BestPairNs(int rounds, std::size_t n, F&& ours, G&& peer, double& a, double& b) {
  a = b = 1e30;
  for (int r = 0; r < rounds; ++r) {
    double t0 = Now();
    ours();
    a = std::min(a, (Now() - t0) * 1e9 / static_cast<double>(n));
    t0 = Now();
    peer();
    b = std::min(b, (Now() - t0) * 1e9 / static_cast<double>(n));
  }
}

volatile double g_sink = 0;


// Writes the images into a private folder and opens them for search_dim.
bool OpenBuilt(cells::CellIndex& idx, const ops::CollBuildResult& b, int search_dim, ops::Collection& c) {
  char dir[] = "/tmp/benchcollXXXXXX";
  if (!mkdtemp(dir)) return false;
  const std::string plr = std::string(dir) + "/c.plr", dat = std::string(dir) + "/c.dat";
  for (const auto& [path, bytes] : {std::pair{plr, &b.plr}, std::pair{dat, &b.dat}}) {
    if (bytes->empty()) continue;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
  }
  const int st = c.Open(plr, dat, idx, search_dim).status;
  // The mapping stays valid after the names go.
  std::remove(plr.c_str());
  std::remove(dat.c_str());
  rmdir(dir);
  return st == ops::kCollOk;
}

void OverheadBench(cells::CellIndex& idx, const std::string& rgn) {
  std::FILE* f = std::fopen(rgn.c_str(), "rb");
  if (!f) {
    std::printf("overhead: %s not found (set OMBREL_COUNTRIES10M)\n", rgn.c_str());
    return;
  }
  cells::CoordReadOptions o;
  o.kind = 2;
  o.res = 10;
  std::vector<cells::PointNode> nodes;
  const bool read = cells::ReadCoordText(f, o, nodes).status == 0;
  std::fclose(f);
  std::map<std::uint32_t, std::string> names;
  {
    std::ifstream nf(rgn.substr(0, rgn.size() - 4) + ".names", std::ios::binary);
    std::stringstream ss;
    ss << nf.rdbuf();
    ops::ReadCollNames(ss.str(), names);
  }
  BenchObject obj;
  if (!read || !BuildObject(idx, cells::kRset, nodes, obj)) {
    std::printf("overhead: countries 10m build failed\n");
    return;
  }
  const double t0 = Now();
  const ops::CollBuildResult b = ops::BuildCollection(idx, obj.obj, names.empty() ? nullptr : &names, 7);
  const double build_s = Now() - t0;
  ops::Collection coll;
  if (b.status != 0 || !OpenBuilt(idx, b, 2, coll)) {
    std::printf("overhead: collection build or open failed (%d)\n", b.status);
    return;
  }
  std::printf("countries 10m collection: %u regions, %u rings, %u cells, %zu + %zu bytes, built in %.2f s\n", b.items,
              b.rings, b.cells, b.plr.size(), b.dat.size(), build_s);

  // S2: one lax polygon of the same rings per country.
  MutableS2ShapeIndex index;
  std::vector<std::uint32_t> shape_region;  // shape id -> country identifier
  {
    std::map<std::uint32_t, std::vector<std::vector<S2Point>>> loops;
    std::vector<S2Point> ring;
    for (const auto& n : nodes) {
      if (!cells::IsMark(n)) {
        ring.push_back(S2Point(n.p.x, n.p.y, n.p.z));
        continue;
      }
      if (ring.size() >= 3) loops[static_cast<std::uint32_t>(n.attribute)].push_back(ring);
      ring.clear();
    }
    for (const auto& [id, l] : loops) {
      index.Add(std::make_unique<S2LaxPolygonShape>(l));
      shape_region.push_back(id);
    }
  }
  const double t1 = Now();
  index.ForceBuild();
  const double s2_build_s = Now() - t1;
  auto contains = MakeS2ContainsPointQuery(&index);

  const std::vector<DirectionCosines> pos = Points(3, 1000000);
  long found = 0, s2_found = 0;
  double ours = 0, s2 = 0;
  // The first pass makes each border cell's test ready as it is met (the
  // collection keeps them); the timed rounds follow.
  const double t2 = Now();
  {
    std::uint32_t out[ops::kCollMaxRegions];
    for (const auto& p : pos) found += coll.RegionsAt(idx, cells::Locate(idx, p), p, out, ops::kCollMaxRegions);
  }
  const double first_s = Now() - t2;
  BestPairNs(5, pos.size(), [&] {
    std::uint32_t out[ops::kCollMaxRegions];
    found = 0;
    for (const auto& p : pos) found += coll.RegionsAt(idx, cells::Locate(idx, p), p, out, ops::kCollMaxRegions);
  }, [&] {
    s2_found = 0;
    for (const auto& p : pos) s2_found += static_cast<long>(contains.GetContainingShapes(S2Point(p.x, p.y, p.z)).size());
  }, ours, s2);
  // Cell location alone, the part of ours that S2's cell ids stand for.
  const double locate = BestNs(3, pos.size(), [&] {
    long sum = 0;
    for (const auto& p : pos) sum += cells::Locate(idx, p);
    g_sink = g_sink + static_cast<double>(sum);
  });
  // Agreement, position by position (the self-crossing rings of 10m make S2
  // invert some countries, and positions on a border may go either way).
  long same = 0;
  for (const auto& p : pos) {
    std::uint32_t out[ops::kCollMaxRegions];
    const int n = coll.RegionsAt(idx, cells::Locate(idx, p), p, out, ops::kCollMaxRegions);
    std::vector<std::uint32_t> got, want;
    for (int k = 0; k < std::min(n, ops::kCollMaxRegions); ++k) got.push_back(coll.Region(out[k]).id);
    for (S2Shape* s : contains.GetContainingShapes(S2Point(p.x, p.y, p.z))) want.push_back(shape_region[s->id()]);
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    same += got == want;
  }
  std::printf("overhead search, %zu positions over countries 10m: ours %.0f ns/position (%.0f of it cell location, "
              "%ld hits; first pass, making the border cells ready, %.2f s), S2 GetContainingShapes %.0f ns (%ld hits, "
              "index built in %.2f s), ratio %.2f; same answer at %ld\n",
              pos.size(), ours, locate, found, first_s, s2, s2_found, s2_build_s, ours / s2, same);
}

void NearestBench(cells::CellIndex& idx, std::size_t n) {
  const std::vector<DirectionCosines> gen = Points(2, n);
  std::vector<cells::PointNode> nodes;
  for (std::size_t i = 0; i < gen.size(); ++i) nodes.push_back({gen[i], i + 1});
  BenchObject obj;
  ops::Collection coll;
  if (!BuildObject(idx, cells::kPset, nodes, obj)) {
    std::printf("nearest: Pset build failed\n");
    return;
  }
  const ops::CollBuildResult b = ops::BuildCollection(idx, obj.obj, nullptr, 7);
  if (b.status != 0 || !OpenBuilt(idx, b, 0, coll)) {
    std::printf("nearest: collection build or open failed (%d)\n", b.status);
    return;
  }
  const std::vector<DirectionCosines> queries = Points(1, 200000);
  long rings = 0;
  S2PointIndex<int> s2i;
  for (std::size_t i = 0; i < gen.size(); ++i) s2i.Add(S2Point(gen[i].x, gen[i].y, gen[i].z), static_cast<int>(i));
  S2ClosestPointQuery<int> s2q(&s2i);
  s2q.mutable_options()->set_max_results(1);
  double ours = 0, s2 = 0;
  BestPairNs(5, queries.size(), [&] {
    rings = 0;
    for (const auto& q : queries) {
      const ops::Collection::Nearest r = coll.NearestTo(idx, cells::Locate(idx, q), q, 0);
      g_sink = g_sink + r.angle;
      rings += r.rings_searched;
    }
  }, [&] {
    for (const auto& q : queries) {
      S2ClosestPointQuery<int>::PointTarget t(S2Point(q.x, q.y, q.z));
      g_sink = g_sink + s2q.FindClosestPoint(&t).distance().length2();
    }
  }, ours, s2);
  // Agreement: the same distance as S2's nearest (1e-12 rad; the collection
  // keeps the positions as built, resolution 10).
  long same = 0;
  for (const auto& q : queries) {
    const ops::Collection::Nearest r = coll.NearestTo(idx, cells::Locate(idx, q), q, 0);
    S2ClosestPointQuery<int>::PointTarget t(S2Point(q.x, q.y, q.z));
    const auto s = s2q.FindClosestPoint(&t);
    const DirectionCosines& sp = gen[static_cast<std::size_t>(s.data())];
    if (r.found && std::fabs(r.angle - ops::CollAngle(q, sp)) <= 1e-9) ++same;
  }
  std::printf("nearest point of %zu in a collection, %zu queries: ours %.0f ns/query (%.2f extra rings), "
              "S2ClosestPointQuery %.0f ns, ratio %.2f; same distance at %ld\n",
              n, queries.size(), ours, static_cast<double>(rings) / static_cast<double>(queries.size()), s2, ours / s2,
              same);
}

}  // namespace

int main() {
  FLAGS_s2debug = false;
  cells::CellIndex idx;
  if (!LoadIsotype(idx)) return 1;
  const char* env = std::getenv("OMBREL_COUNTRIES10M");
  OverheadBench(idx, env ? env : ExeDir() + "countries10m.rgn");
  NearestBench(idx, 260000);
  return 0;
}

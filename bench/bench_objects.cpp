// Benchmarks of object import and export, each with S2's figure for the
// nearest comparable job from the same run:
//   ImportPset of 1 000 000 points from lat/long text at resolution h, end to
//     end (reading, locating, sorting, quantising, writing the mapped file),
//     and the object file's size; S2: cell ids of the same points.
//   ImportRset of land 10m, seconds; S2: a shape index of the same rings
//     (built in full by one containment query).
//   ExportObject of it to ".rgn" text, seconds.
// Run from the build folder: bench/bench_objects [bin-dir [source-dir]].
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <s2/mutable_s2shape_index.h>
#include <s2/s2cell_id.h>
#include <s2/s2contains_point_query.h>
#include <s2/s2debug.h>
#include <s2/s2latlng.h>
#include <s2/s2lax_polygon_shape.h>

#include "lib/cells/coord_text.h"
#include "lib/cells/index_file.h"

namespace {

// Processor time of this process: on a shared machine it says more than the
// wall clock, which is printed beside it.
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

long long FileSize(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  FLAGS_s2debug = false;
  const std::string bin = argc > 1 ? argv[1] : "bin";
  const std::string src = argc > 2 ? argv[2] : "..";
  cells::CellIndex idx;
  std::FILE* f = std::fopen((bin + "/isotype.vix").c_str(), "rb");
  if (!f || cells::LoadVix(f, idx, 1) != 0) {
    std::fprintf(stderr, "bench_objects: cannot load %s/isotype.vix\n", bin.c_str());
    return 1;
  }
  std::fclose(f);
  std::string tmpl = "/tmp/bench_objects_" + std::string(6, 'X');  // mkdtemp fills the six letters
  const std::string dir = std::string(mkdtemp(tmpl.data())) + "/";

  // ---- ImportPset of a million points ----
  const int n = 1000000;
  std::mt19937_64 rng(99);
  std::uniform_real_distribution<double> z(-1, 1), lon(-180, 180);
  std::vector<S2LatLng> ll;
  ll.reserve(n);
  {
    std::FILE* t = std::fopen((dir + "points.pts").c_str(), "w");
    for (int i = 0; i < n; ++i) {
      const double la = std::asin(z(rng)) * 180 / M_PI, lo = lon(rng);
      std::fprintf(t, "%.7f %.7f\n", la, lo);
      ll.push_back(S2LatLng::FromDegrees(la, lo));
    }
    std::fclose(t);
  }
  cells::CoordReadOptions ro;
  ro.kind = cells::kPset;
  ro.res = 6;
  auto t0 = std::chrono::steady_clock::now();
  double c0 = CpuSeconds();
  cells::ImportResult r = cells::ImportCoordFile(idx, dir + "points.pts", dir + "points.qbo", ro, 1, 0x4000000);
  const double t_import = Seconds(t0), c_import = CpuSeconds() - c0;
  if (r.stage != cells::ImportStage::kDone) {
    std::fprintf(stderr, "bench_objects: point import failed\n");
    return 1;
  }
  t0 = std::chrono::steady_clock::now();
  std::uint64_t sum = 0;
  for (const S2LatLng& p : ll) sum += S2CellId(p).id();
  const double t_s2 = Seconds(t0);
  std::printf("ImportPset 1000000 points (lat/long text, res h): %.3f s end to end (%.3f s processor), "
              "object %lld bytes; S2 cell ids of the same points %.3f s (%llu)\n",
              t_import, c_import, FileSize(dir + "points.qbo"), t_s2, static_cast<unsigned long long>(sum & 1));

  // ---- ImportRset and ExportObject of land 10m ----
  ro.kind = cells::kRset;
  const std::string land = src + "/data/land10m.rgn";
  t0 = std::chrono::steady_clock::now();
  c0 = CpuSeconds();
  r = cells::ImportCoordFile(idx, land, dir + "land.qbo", ro, 2, 0x4000000);
  const double t_rset = Seconds(t0), c_rset = CpuSeconds() - c0;
  if (r.stage != cells::ImportStage::kDone) {
    std::fprintf(stderr, "bench_objects: cannot import %s\n", land.c_str());
    return 1;
  }
  cells::ObjectHandle h;
  cells::OpenObjectRead(h, dir + "land.qbo", idx.index_id);
  std::vector<cells::PointNode> v;
  cells::CollectVertices(idx, h.obj, v);
  std::vector<std::vector<S2Point>> loops(1);
  for (const cells::PointNode& p : v) {
    if (cells::IsMark(p)) {
      if (!loops.back().empty()) loops.emplace_back();
    } else {
      loops.back().push_back(S2Point(p.p.x, p.p.y, p.p.z));
    }
  }
  loops.pop_back();
  t0 = std::chrono::steady_clock::now();
  MutableS2ShapeIndex s2index;
  s2index.Add(std::make_unique<S2LaxPolygonShape>(loops));
  auto q = MakeS2ContainsPointQuery(&s2index);
  bool inside = q.Contains(S2Point(1, 0, 0));
  const double t_s2index = Seconds(t0);
  std::printf("ImportRset land 10m: %.3f s (%.3f s processor), object %lld bytes; "
              "S2 shape index of the same rings %.3f s (%d)\n",
              t_rset, c_rset, FileSize(dir + "land.qbo"), t_s2index, inside ? 1 : 0);

  cells::CoordWriteOptions wo;
  wo.kind = cells::kRset;
  t0 = std::chrono::steady_clock::now();
  c0 = CpuSeconds();
  std::FILE* out = std::fopen((dir + "land.rgn").c_str(), "w");
  int status = cells::WriteCoordText(out, idx, h.obj, wo);
  std::fclose(out);
  const double t_export = Seconds(t0), c_export = CpuSeconds() - c0;
  std::printf("ExportObject land 10m to .rgn: %.3f s (%.3f s processor; status %d, %lld bytes)\n",
              t_export, c_export, status, FileSize(dir + "land.rgn"));
  cells::CloseObject(h);
  for (const char* name : {"points.pts", "points.qbo", "land.qbo", "land.rgn"}) unlink((dir + name).c_str());
  rmdir(dir.c_str());
  cells::ReleaseIndex(idx);
  return 0;
}

// Fuzz target: the attribute file (".dat") of a collection. The bytes are
// the attribute file of a small point collection built once (its db-id is
// set to the collection's); every name reference then reads inside the
// file or as no name.
#include <cstdint>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/index_file.h"
#include "lib/cells/object_builder.h"
#include "lib/ops/collection.h"
#include "lib/ops/collection_build.h"

namespace {

struct Fixture {
  cells::CellIndex idx;
  std::string plr, dat;
  bool ok = false;
};

Fixture* Setup() {
  static Fixture* fx = [] {
    auto* x = new Fixture;
    const char* bin = std::getenv("OMBREL_BIN");
    std::FILE* f = std::fopen((std::string(bin ? bin : "../bin") + "/isotype.vix").c_str(), "rb");
    if (!f) return x;
    const int s = cells::LoadVix(f, x->idx, 1);
    std::fclose(f);
    if (s != 0) return x;
    std::vector<cells::PointNode> nodes;
    for (int i = 0; i < 8; ++i) nodes.push_back({{0.6, 0.0, 0.8}, static_cast<std::uint64_t>(i)});
    for (auto& n : nodes) n.p = {0.6 - 0.01 * static_cast<double>(n.attribute), 0.0, 0.8};
    for (auto& n : nodes) {
      const double l = std::sqrt(n.p.x * n.p.x + n.p.z * n.p.z);
      n.p = {n.p.x / l, 0.0, n.p.z / l};
    }
    std::vector<std::uint8_t> heap;
    cells::SectionTarget t;
    t.heap = &heap;
    cells::BuildParams bp;
    bp.id = 1;
    bp.res = 11;
    cells::Object obj;
    if (cells::BuildPset(x->idx, t, bp, nodes, obj) != 0) return x;
    std::map<std::uint32_t, std::string> names{{1, "one"}, {2, "two"}, {3, "three"}};
    ops::CollBuildResult r = ops::BuildCollection(x->idx, obj, &names, 42);
    if (r.status != 0) return x;
    const std::string stem = "/tmp/fuzz_collection_names." + std::to_string(getpid());
    x->plr = stem + ".plr";
    x->dat = stem + ".dat";
    std::FILE* o = std::fopen(x->plr.c_str(), "wb");
    if (!o) return x;
    std::fwrite(r.plr.data(), 1, r.plr.size(), o);
    std::fclose(o);
    x->ok = true;
    return x;
  }();
  return fx;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Fixture& fx = *Setup();
  if (!fx.ok) return 0;
  std::vector<std::uint8_t> bytes(data, data + size);
  if (bytes.size() >= 4) cells::Store<std::uint32_t>(bytes.data(), 42);
  std::FILE* f = std::fopen(fx.dat.c_str(), "wb");
  if (!f) return 0;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  ops::Collection c;
  if (c.Open(fx.plr, fx.dat, fx.idx, 0).status == ops::kCollOk) {
    std::string name;
    for (std::uint32_t d = 0; d < 4096; d += 4) c.Name(d, name);
    c.Name(0xFFFFFFFFu, name);
    const geodesy::DirectionCosines p{0.6, 0.0, 0.8};
    c.Name(c.NearestTo(fx.idx, cells::Locate(fx.idx, p), p, 0).datum, name);
  }
  return 0;
}

// plrbuild: builds a collection from an object file.
//
//   plrbuild OUT.plr OBJECT.qbo [NAMES.txt] [--db-id N] [--index FILE.vix]
//
// In place of the object a coordinate text can be given (".pts" points,
// ".lns" lines, ".rgn" regions, the import format): it is built into an
// object in memory first, each position kept as doubles; the points of a
// ".pts" take their line order (1, 2, ...) as datum. --merge makes all the
// rings of a ".rgn" one region (identifier 1), for texts that give each ring
// an identifier of its own.
// The dimension is the object's kind (points, lines, regions); see
// lib/ops/collection_build.h for the items and lib/ops/collection.h for the
// layout. With NAMES.txt (lines "ID<TAB>NAME") OUT.dat is written beside
// OUT.plr. The index defaults to isotype.vix beside the object, then beside
// this program; db-id defaults to the creation time. Both files are written
// through temporary files and replace older ones only when all went well.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "lib/cells/cell_index.h"
#include "lib/cells/coord_text.h"
#include "lib/cells/index_file.h"
#include "lib/cells/object_builder.h"
#include "lib/cells/object_file.h"
#include "lib/ops/collection.h"
#include "lib/ops/collection_build.h"
#include "platform/safe_output.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: plrbuild OUT.plr OBJECT.qbo|TEXT.pts|.lns|.rgn [NAMES.txt] [--db-id N] [--index FILE.vix] [--merge]\n");
  return 2;
}

std::string DirOf(const std::string& p) {
  const std::size_t s = p.rfind('/');
  return s == std::string::npos ? std::string(".") : p.substr(0, s);
}

std::string ProgramDir() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = 0;
  return DirOf(buf);
}

// Writes bytes into out's temporary file (nothing is replaced yet).
bool Prepare(platform::SafeOutput& out, const std::string& path, const std::vector<std::uint8_t>& bytes,
             const std::string& input, const std::string& names) {
  // Neither output may be one of the inputs (the object or the names text).
  int s = platform::SafeCheckTarget(path.c_str(), {input.c_str(), names.empty() ? input.c_str() : names.c_str()});
  if (s == platform::kSafeOk) s = platform::SafeOpen(out, path.c_str());
  std::FILE* f = s == platform::kSafeOk ? platform::SafeStream(out) : nullptr;
  if (!f) {
    std::fprintf(stderr, "plrbuild: cannot write %s (status %d)\n", path.c_str(), s);
    return false;
  }
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    std::fprintf(stderr, "plrbuild: write error on %s\n", path.c_str());
    return false;
  }
  return true;
}

bool Commit(platform::SafeOutput& out, const std::string& path) {
  if (platform::SafeCommit(out) != platform::kSafeOk) {
    std::fprintf(stderr, "plrbuild: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out_path, obj_path, names_path, index_path;
  std::uint32_t db_id = static_cast<std::uint32_t>(std::time(nullptr));
  std::vector<std::string> pos;
  bool merge = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--db-id" && i + 1 < argc) {
      char* end = nullptr;
      const unsigned long long v = std::strtoull(argv[++i], &end, 10);
      if (!end || *end || v > 0xFFFFFFFFull) return Usage();
      db_id = static_cast<std::uint32_t>(v);
    } else if (a == "--merge") {
      merge = true;
    } else if (a == "--index" && i + 1 < argc) {
      index_path = argv[++i];
    } else if (!a.empty() && a[0] == '-') {
      return Usage();
    } else {
      pos.push_back(a);
    }
  }
  if (pos.size() < 2 || pos.size() > 3) return Usage();
  out_path = pos[0];
  obj_path = pos[1];
  if (pos.size() == 3) names_path = pos[2];
  if (out_path.size() < 5 || out_path.compare(out_path.size() - 4, 4, ".plr") != 0) {
    std::fprintf(stderr, "plrbuild: the output name must end in .plr\n");
    return 2;
  }
  const auto t0 = std::chrono::steady_clock::now();
  if (index_path.empty()) {
    index_path = DirOf(obj_path) + "/isotype.vix";
    if (!platform::PathExists(index_path.c_str())) index_path = ProgramDir() + "/isotype.vix";
  }
  cells::CellIndex idx;
  // The index is given back on every way out of the program.
  struct IndexRelease {
    cells::CellIndex& index;
    ~IndexRelease() { cells::ReleaseIndex(index); }
  } release{idx};
  std::FILE* vf = std::fopen(index_path.c_str(), "rb");
  const int vs = vf ? cells::LoadVix(vf, idx, 1) : -1;
  if (vf) std::fclose(vf);
  if (vs != 0) {
    std::fprintf(stderr, "plrbuild: cannot load the cell index %s\n", index_path.c_str());
    return 1;
  }
  cells::ObjectHandle h;
  std::vector<std::uint8_t> heap;
  const std::string ext = obj_path.size() > 4 ? obj_path.substr(obj_path.size() - 4) : "";
  const int text_kind = ext == ".pts" ? 0 : ext == ".lns" ? 1 : ext == ".rgn" ? 2 : -1;
  int os = 0;
  if (text_kind >= 0) {
    std::FILE* tf = std::fopen(obj_path.c_str(), "rb");
    if (!tf) {
      std::fprintf(stderr, "plrbuild: cannot read %s\n", obj_path.c_str());
      return 1;
    }
    cells::CoordReadOptions o;
    o.kind = text_kind;
    o.res = 10;
    std::vector<cells::PointNode> nodes;
    const cells::CoordReadResult cr = cells::ReadCoordText(tf, o, nodes);
    std::fclose(tf);
    if (cr.status != 0) {
      std::fprintf(stderr, "plrbuild: %s: coordinate text error %d\n", obj_path.c_str(), cr.status);
      return 1;
    }
    std::uint64_t order = 0;
    for (cells::PointNode& n : nodes) {
      if (text_kind == 0 && !cells::IsMark(n)) n.attribute = ++order;
      if (merge && cells::IsMark(n)) n.attribute = 1;
    }
    cells::SectionTarget t;
    t.heap = &heap;
    cells::BuildParams bp;
    bp.id = 1;
    bp.res = text_kind == 0 ? 11 : 10;
    const int bs = text_kind == 0 ? cells::BuildPset(idx, t, bp, nodes, h.obj)
                 : text_kind == 1 ? cells::BuildLset(idx, t, bp, nodes, h.obj)
                                  : cells::BuildRset(idx, t, bp, nodes, h.obj);
    if (bs > 0) {
      std::fprintf(stderr, "plrbuild: %s: the object cannot be built (status %d)\n", obj_path.c_str(), bs);
      return 1;
    }
  } else {
    os = cells::OpenObjectRead(h, obj_path, idx.index_id, idx.cell_count);
  }
  if (os != 0) {
    std::fprintf(stderr, "plrbuild: cannot open the object %s (status %d%s)\n", obj_path.c_str(), os,
                 os == 6 ? ": built on another index" : "");
    return 1;
  }
  std::map<std::uint32_t, std::string> names;
  if (!names_path.empty()) {
    std::ifstream in(names_path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "plrbuild: cannot read %s\n", names_path.c_str());
      return 1;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    if (const int bad = ops::ReadCollNames(ss.str(), names)) {
      std::fprintf(stderr, "plrbuild: %s line %d: expected ID<TAB>NAME\n", names_path.c_str(), bad);
      return 1;
    }
  }
  ops::CollBuildResult r = ops::BuildCollection(idx, h.obj, names_path.empty() ? nullptr : &names, db_id);
  if (r.status != 0) {
    static const char* why[] = {"", "the object is not a point, line or region set", "the collection exceeds 4 GiB",
                                "a region could not be built"};
    std::fprintf(stderr, "plrbuild: %s\n", why[r.status]);
    return 1;
  }
  // Both files are written out in full before either replaces an older
  // one, so a failure of the second (a directory in its place, a full disk)
  // leaves the old pair as it was; the attribute file is committed first,
  // since a new .dat beside an old .plr is refused by its db-id.
  const std::string dat = out_path.substr(0, out_path.size() - 4) + ".dat";
  platform::SafeOutput plr_out, dat_out;
  if (!Prepare(plr_out, out_path, r.plr, obj_path, names_path)) return 1;
  if (!names_path.empty() && !Prepare(dat_out, dat, r.dat, obj_path, names_path)) return 1;
  if (!names_path.empty() && !Commit(dat_out, dat)) return 1;
  if (!Commit(plr_out, out_path)) return 1;
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("plrbuild: %s: dimension %d, %u items, %u rings, %u cells, %u quick circles, %zu bytes, %.2f s\n",
              out_path.c_str(), h.obj.kind, r.items, r.rings, r.cells, r.quick_circles, r.plr.size(), secs);
  if (text_kind < 0) cells::CloseObject(h);
  return 0;
}

// zonesumdata: makes the inputs of the zonesum check.
//
//   zonesumdata INDEX.vix LAND.rgn OUTDIR
//
// writes OUTDIR/dodeca05.vix (the index, its release stamp set to 300 and
// nothing else changed, so its index_id stays), OUTDIR/land0_d5.qbo (the
// region text as an Rset on that index) and OUTDIR/sea0_d5.qbo (the same
// rings reversed: the complement of the land). Exit status 0 when all three
// were written.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "lib/cells/coord_text.h"
#include "lib/cells/index_file.h"
#include "lib/cells/object_builder.h"
#include "lib/cells/object_file.h"
#include "platform/safe_output.h"

namespace {

constexpr std::int64_t kMappingSize = 64 << 20;

int Fail(const char* what, const std::string& path, int status) {
  std::fprintf(stderr, "zonesumdata: %s %s (%d)\n", what, path.c_str(), status);
  return 1;
}

bool ReadAll(const std::string& path, std::vector<unsigned char>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  unsigned char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  std::fclose(f);
  return true;
}

// Builds an Rset from region nodes into a new object file.
int BuildRegionFile(cells::CellIndex& idx, const std::vector<cells::PointNode>& nodes,
                    const std::string& path, std::uint32_t id) {
  cells::ObjectHandle h;
  if (int status = cells::CreateObject(h, path, cells::kRset, kMappingSize)) return status;
  cells::SectionTarget target{&h.arena, nullptr};
  cells::BuildParams params;
  params.id = id;
  params.res = 6;
  const int status = cells::BuildRset(idx, target, params, nodes, h.obj);
  if (status > 0) {
    cells::AbandonObject(h);
    return 10 + status;
  }
  return cells::CloseObject(h) == 0 ? 0 : 20;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: zonesumdata INDEX.vix LAND.rgn OUTDIR\n");
    return 2;
  }
  const std::string index_path = argv[1], land_path = argv[2], out = std::string(argv[3]) + "/";

  std::vector<unsigned char> bytes;
  if (!ReadAll(index_path, bytes) || bytes.size() < cells::VIX_HEADER_SIZE) {
    return Fail("cannot read", index_path, 0);
  }
  cells::CellIndex idx;
  if (int status = cells::LoadVixBytes(bytes.data(), bytes.size(), idx, 1)) {
    return Fail("cannot load", index_path, status);
  }
  bytes[0] = 300 & 0xFF;
  bytes[1] = 300 >> 8;
  const std::string vix = out + "dodeca05.vix";
  platform::SafeOutput vix_out;
  if (platform::SafeOpen(vix_out, vix.c_str()) != platform::kSafeOk ||
      platform::SafeWrite(vix_out, bytes.data(), bytes.size()) != platform::kSafeOk ||
      platform::SafeCommit(vix_out) != platform::kSafeOk) {
    return Fail("cannot write", vix, 0);
  }

  std::FILE* in = std::fopen(land_path.c_str(), "r");
  if (!in) return Fail("cannot open", land_path, 0);
  cells::CoordReadOptions options;
  options.kind = cells::kRset;
  options.res = 6;
  std::vector<cells::PointNode> land;
  const cells::CoordReadResult read = cells::ReadCoordText(in, options, land);
  std::fclose(in);
  if (read.status != 0) return Fail("cannot read line of", land_path, static_cast<int>(read.line));

  if (int status = BuildRegionFile(idx, land, out + "land0_d5.qbo", 1)) {
    return Fail("cannot build", out + "land0_d5.qbo", status);
  }
  // The sea: every ring reversed, marks kept where they are.
  std::vector<cells::PointNode> sea(land);
  auto begin = sea.begin();
  for (auto it = sea.begin(); it != sea.end(); ++it) {
    if (cells::IsMark(*it)) {
      std::reverse(begin, it);
      begin = it + 1;
    }
  }
  std::reverse(begin, sea.end());
  if (int status = BuildRegionFile(idx, sea, out + "sea0_d5.qbo", 2)) {
    return Fail("cannot build", out + "sea0_d5.qbo", status);
  }
  cells::ReleaseIndex(idx);
  std::printf("zonesumdata: %s, land0_d5.qbo and sea0_d5.qbo written to %s\n", vix.c_str(), out.c_str());
  return 0;
}

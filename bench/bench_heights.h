// What the TIN benchmarks share: the shipped isotype index, heights in the
// points' attribute words, the Pset DerivePsetTin takes and the TIN itself.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lib/cells/index_file.h"
#include "lib/cells/object_builder.h"
#include "lib/ops/pset_tin.h"

namespace benchheights {

// isotype.vix from OMBREL_BIN (else ./bin); false after a message.
inline bool LoadIsotype(cells::CellIndex& idx) {
  const char* bin = std::getenv("OMBREL_BIN");
  const std::string path = std::string(bin ? bin : "bin") + "/isotype.vix";
  std::FILE* f = std::fopen(path.c_str(), "rb");
  const bool ok = f && cells::LoadVix(f, idx, 1) == 0;
  if (f) std::fclose(f);
  if (!ok) std::fprintf(stderr, "cannot load %s\n", path.c_str());
  return ok;
}

// A point's height, as the attribute word (the float's bits) a TIN Pset reads.
inline void SetHeight(cells::PointNode& node, float z) {
  std::uint32_t bits;
  std::memcpy(&bits, &z, 4);
  node.attribute = bits;
}

// The points as a Pset at resolution 9, held in heap.
inline bool BuildHeightPset(cells::CellIndex& idx, const std::vector<cells::PointNode>& nodes,
                            std::vector<std::uint8_t>& heap, cells::Object& src) {
  cells::SectionTarget target;
  target.heap = &heap;
  cells::BuildParams params;
  params.id = 1;
  params.res = 9;
  return cells::BuildPset(idx, target, params, nodes, src) == 0;
}

// The TIN of src in arena, with or without the neighbour triples; q7_PsetTin's status.
inline int DeriveTin(cells::CellIndex& idx, platform::Workspace& arena, const cells::Object& src, bool neighbours,
                     cells::Object& out) {
  ops::DeriveContext ctx;
  ctx.index = &idx;
  ctx.output = &arena;
  ctx.object = &out;
  ctx.created = 1;
  ctx.res = 9;
  return ops::q7_PsetTin(ctx, src, neighbours);
}

}  // namespace benchheights

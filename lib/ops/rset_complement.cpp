#include "lib/ops/rset_complement.h"

#include <new>
#include <vector>

#include "lib/cells/cell_list.h"
#include "lib/ops/rset_point_test.h"
#include "lib/ops/rset_write.h"

namespace ops {

namespace {

int Complement(const DeriveContext& ctx, const cells::Object* source) {
  if (!ctx.index || !ctx.object) return DERIVE_BAD_PARAMETERS;
  cells::CellIndex& idx = *ctx.index;
  const int res = source ? source->res : ctx.res;
  if (!OutputResValid(res)) return DERIVE_BAD_PARAMETERS;
  platform::WorkspaceMark mark(ctx.workspace);
  cells::BuildParams params;
  params.id = ctx.created ? ctx.created : 1;
  params.res = res;
  params.prec = source ? source->prec : ctx.prec;
  cells::SectionTarget target{ctx.output, nullptr};
  std::vector<std::uint8_t> scratch;
  if (!ctx.output) target.heap = &scratch;
  auto done = [&](int status) { return status == 0 && !ctx.output ? DERIVE_DONE : status; };

  if (!source || RsetIsNull(*source)) return done(WriteWorldRset(idx, target, params, *ctx.object));
  if (RsetIsWorld(*source, idx.cell_count)) {
    const int status = WriteNullRset(idx, target, params, *ctx.object);
    return status == 0 ? DERIVE_EMPTY : status;
  }
  if (cells::CellIndexCount(*source) == 0) return 10;  // no boundary, neither null nor world
  try {
    // One parallel walk over the two lists: the gaps are the new interior.
    std::vector<std::int32_t> cellsin;
    cells::CellListWalk w = cells::CellListWalkBegin(cells::EnvelopeList(*source, 0),
                                                     cells::EnvelopeList(*source, 1));
    std::int32_t c = 0, next = 0;
    bool a = false, b = false;
    while (cells::CellListWalkNext(w, &c, &a, &b)) {
      for (std::int32_t k = next; k < c && k < idx.cell_count; ++k) cellsin.push_back(k);
      next = c + 1;
    }
    for (std::int32_t k = next; k < idx.cell_count; ++k) cellsin.push_back(k);
    const std::vector<std::int32_t> ilist = cells::MakeCellList(std::move(cellsin));
    return RewriteRset(idx, target, params, *source, true, &ilist, *ctx.object);
  } catch (const std::bad_alloc&) {
    return DERIVE_NO_WORKSPACE;
  }
}

}  // namespace

// Without an output arena the result was built in scratch memory that is
// gone now: only the status is answered.
int q7_RsetComplement(const DeriveContext& ctx, const cells::Object* source) {
  const int status = Complement(ctx, source);
  if (!ctx.output && ctx.object) *ctx.object = cells::Object{};
  return status;
}

}  // namespace ops

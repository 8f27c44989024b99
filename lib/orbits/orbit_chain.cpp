// The vertex chains of the orbit derivations. See orbit_chain.h.
#include "lib/orbits/orbit_chain.h"

#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>

namespace orbits {

namespace {
constexpr int64_t kMaxChainNodes = int64_t{1} << 27;
}  // namespace

bool SwathHasNoWidth(const Swath& s) {
  // sin and cos of left - right: the limits are at most 180 degrees apart,
  // and only equal limits give a zero sine with a positive cosine.
  const double sin_width = s.sin_left * s.cos_right - s.cos_left * s.sin_right;
  const double cos_width = s.cos_left * s.cos_right + s.sin_left * s.sin_right;
  return std::fabs(sin_width) <= 2.458e-14 && cos_width > 0.0;
}

int64_t ChainTimeCount(double start, double end, double step) {
  if (!(step > 0.0) || !(end > start)) return 0;
  // Times start + k step for k = 0 ... while they stay short of end by more
  // than the snap, then end itself.
  const double span = (end - start - CHAIN_END_SNAP) / step;
  if (!(span < 9.0e18)) return -1;
  const int64_t inner = span <= 0.0 ? 1 : static_cast<int64_t>(std::floor(span)) + 1;
  // A time k step that rounds to within the snap of end is dropped.
  int64_t k = inner;
  while (k > 1 && start + (k - 1) * step >= end - CHAIN_END_SNAP) --k;
  return k + 1;
}

double ChainTime(double start, double end, double step, int64_t count, int64_t k) {
  return k >= count - 1 ? end : start + static_cast<double>(k) * step;
}

int BuildOrbitChain(const geodesy::Ellipsoid& e, const Orbit& o, const Swath* swath, int kind, double start,
                    double end, double step, platform::Workspace* ws, std::vector<cells::PointNode>* heap,
                    std::span<cells::PointNode>* nodes) {
  if ((kind != 1 && kind != 2) || (kind == 2 && !swath)) return 1;
  const int64_t count = ChainTimeCount(start, end, step);
  if (count < 2) return 1;
  // A sensor whose edges coincide sees no strip: the chain is the end mark
  // alone, and the region built from it is empty. As a ring its edges would
  // run out and back along one line, which has no inside of its own.
  const bool no_width = kind == 2 && SwathHasNoWidth(*swath);
  const int64_t vertices = no_width ? 0 : kind == 1 ? count : 2 * count;
  const int64_t total = vertices + 1;
  // Beyond this the chain could not be built into any object file anyway.
  if (total > kMaxChainNodes) return 9;
  cells::PointNode* chain = nullptr;
  const int64_t bytes = total * static_cast<int64_t>(sizeof(cells::PointNode));
  if (ws && bytes < std::numeric_limits<int32_t>::max())
    chain = static_cast<cells::PointNode*>(platform::WorkspaceAlloc(ws, static_cast<int32_t>(bytes)));
  if (!chain) {
    if (!heap) return 9;
    try {
      heap->assign(static_cast<size_t>(total), cells::PointNode{});
    } catch (const std::bad_alloc&) {
      return 9;
    } catch (const std::length_error&) {
      return 9;
    }
    chain = heap->data();
  }
  for (int64_t k = 0; k < count && !no_width; ++k) {
    const double t = ChainTime(start, end, step, count, k);
    NadirSwath ns;
    const int st = SatelliteNadirAndSwath(e, o, kind == 2 ? swath : nullptr, t, &ns);
    if (st != 0 || !geodesy::IsValid(ns.nadir)) return 1;
    if (kind == 1) {
      chain[k] = {ns.nadir, static_cast<uint64_t>(k)};
    } else {
      chain[k] = {ns.right, 0};
      chain[vertices - 1 - k] = {ns.left, 0};
    }
  }
  chain[vertices] = cells::Mark(1);
  *nodes = std::span<cells::PointNode>(chain, static_cast<size_t>(total));
  return 0;
}

}  // namespace orbits

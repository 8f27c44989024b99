// The fast area fill: the exact fill's picture with the per-pixel work cut
// down to a handful of point tests.
//
// 1. Blocks. The frame is cut into blocks (kFillBlock pixels on the screen)
//    sampled at their corners
//    and centre, as the exact fill does, but a sample only asks for the class
//    of its cell (interior, outside, boundary; no position), which the exact
//    fill's block decisions depend on alone: all samples interior fills the
//    block, all outside or off the map leaves it, anything else makes it
//    undecided. Cell classes are worked out once per cell.
// 2. Crossings. The rings of the region in the cells in view are projected
//    (legs longer than a few pixels followed along their great circle, legs
//    that jump across a seam or leave the visible side dropped) and, for
//    every pixel row, the places where they cross the row's centre line are
//    collected and sorted.
// 3. Spans. Each run of undecided blocks along a row is one span. Inside a
//    span the region's side changes only where a ring crosses the row, so
//    the pixels take the side of a decided neighbour block, flipped at every
//    crossing, and the side predicted for the neighbour at the other end must
//    come out right. A span with only one decided neighbour, or none, is
//    checked by the exact point test at the middle of its longest run (and
//    the run farthest from it). A span whose prediction fails any check, or
//    whose block samples included a point off the map, is decided by the
//    exact test pixel by pixel, as FillObjectAreaExact does. A span longer
//    than three blocks runs along the boundary, not across it; in each of its
//    blocks the class of one pixel's cell must agree with the side found.
// So the pixels that can differ from the exact fill are those where the
// projected legs and the exact boundary pass a pixel centre on different
// sides: the coastline itself.
#include "lib/display/area_fill.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "lib/cells/cell_list.h"
#include "lib/cells/cell_locate.h"
#include "lib/display/draw_map.h"
#include "lib/display/draw_objects.h"
#include "lib/geodesy/tangent_frame.h"
#include "lib/ops/cell_chains.h"
#include "lib/ops/rset_point_test.h"

namespace display {

namespace {

using cells::Object;

// Block states.
constexpr uint8_t kOut = 0, kIn = 1, kMixed = 2;
// Legs longer than this many pixels are followed along their great circle.
constexpr double kLegStep = 6.0;
constexpr int kMaxLegSteps = 256;
constexpr uint32_t kChainSlots = 512;
// Spans longer than three blocks are looked at in every block.

const int32_t* VisibleList(const MapGeometry& g, const cells::CellIndex& idx) {
  for (const VisibleCells& v : g.visible)
    if (v.list && v.index_id == idx.index_id) return v.list;
  return nullptr;
}

struct Crossing {
  int32_t row;
  float x;  // in pixel units: pixel x's centre is at x
};

class Filler {
 public:
  Filler(const MapGeometry& g, cells::CellIndex& idx, const Object& obj, double fuzz, DrawState* d, int block)
      : g_(g), idx_(idx), obj_(obj), fuzz_(fuzz), d_(d), block_(block < 1 ? 1 : block) {
    w_ = d->surface->width;
    h_ = d->surface->height;
    x_lo_ = std::max(0, g.xmin);
    x_hi_ = std::min(w_ - 1, g.xmax);
    y_lo_ = std::max(0, g.ymin);
    y_hi_ = std::min(h_ - 1, g.ymax);
    // Where pixel 0's centre falls in the device coordinates of the forward
    // projection, so that crossings are measured from pixel centres.
    double X, Y;
    DeviceToPlane(g.transform, 0, 0, &X, &Y);
    PlaneToDeviceExact(g.transform, X, Y, &off_x_, &off_y_);
    seam_ = ProjectionHasSeam(g.projection);
    exact_mercator_ = g.projection == PROJ_WWMERC;
    cell_class_.assign(static_cast<size_t>(std::max(idx.cell_count, 0)), 0);
  }

  int64_t Run() {
    if (x_lo_ > x_hi_ || y_lo_ > y_hi_) return 0;
    SampleBlocks();
    if (any_mixed_) CollectCrossings();
    std::vector<uint8_t> row(static_cast<size_t>(w_));
    for (int y = y_lo_; y <= y_hi_ && !d_->cancelled; ++y) FillRow(y, row.data());
    return filled_;
  }

 private:
  // The position at a pixel's centre, false when it has none on the map.
  bool Position(int x, int y, DirectionCosines* u) const {
    double X, Y;
    DeviceToPlane(g_.transform, x, y, &X, &Y);
    if (ProjectInverse(*g_.params, g_.projection, X, Y, u) != 0) return false;
    // Points the forward projection refuses (the far side of an ortho view) are not on the map.
    return ProjectForwardAccepts(*g_.params, g_.projection, *u);
  }

  // The class of a sample: -3 off the map, else its cell's class (2 interior,
  // -2 outside, 1 boundary).
  int Sample(int x, int y) {
    DirectionCosines u;
    if (!Position(x, y, &u)) return -3;
    const int32_t cell = cells::Locate(idx_, u);
    if (cell == cells::NO_CELL || cell < 0 || cell >= idx_.cell_count) return -2;
    int8_t& c = cell_class_[static_cast<size_t>(cell)];
    if (c == 0) {
      if (ops::HasPiecesIn(obj_, cell)) c = 1;
      else c = cells::CellListContains(cells::EnvelopeList(obj_, 1), cell) ? 2 : -2;
    }
    return c;
  }

  // The exact test at a pixel: 1 inside, 0 outside, -1 off the map.
  int Exact(int x, int y) {
    DirectionCosines u;
    if (!Position(x, y, &u)) return -1;
    // q7_RsetPointTest, with the chains of the last cells tested kept (one
    // slot per cell number modulo kChainSlots): spans of nearby rows revisit
    // the same boundary cells.
    const int32_t cell = cells::Locate(idx_, u);
    if (cell == cells::NO_CELL) return 0;
    double pu = 0.0, pv = 0.0;
    geodesy::ProjectToFrame(geodesy::BuildTangentFrame(idx_.cells[cell]->centre), u, pu, pv);
    ops::RsetTestCache& cache = caches_[static_cast<uint32_t>(cell) % kChainSlots];
    return ops::q7_RsetPointTestInCell(idx_, cell, {pu, pv}, obj_, fuzz_, 0, &cache) >= 0 ? 1 : 0;
  }

  void SampleBlocks() {
    nbx_ = (x_hi_ - x_lo_) / block_ + 1;
    nby_ = (y_hi_ - y_lo_) / block_ + 1;
    state_.assign(static_cast<size_t>(nbx_) * nby_, kOut);
    off_map_.assign(state_.size(), 0);
    for (int j = 0; j < nby_ && !d_->cancelled; ++j) {
      const int by = y_lo_ + j * block_, ey = std::min(by + block_ - 1, y_hi_);
      for (int i = 0; i < nbx_; ++i) {
        const int bx = x_lo_ + i * block_, ex = std::min(bx + block_ - 1, x_hi_);
        const int s[5] = {Sample(bx, by), Sample(ex, by), Sample(bx, ey), Sample(ex, ey),
                          Sample((bx + ex) / 2, (by + ey) / 2)};
        bool all_in = true, all_out = true, off = false;
        for (int r : s) {
          all_in = all_in && r == 2;
          all_out = all_out && (r == -2 || r == -3);
          off = off || r == -3;
        }
        const size_t b = static_cast<size_t>(j) * nbx_ + i;
        state_[b] = all_in ? kIn : all_out ? kOut : kMixed;
        off_map_[b] = off;
        any_mixed_ = any_mixed_ || state_[b] == kMixed;
      }
    }
  }

  // ---- crossings

  bool Device(const DirectionCosines& u, double* x, double* y) const {
    double X, Y;
    if (ProjectForward(*g_.params, g_.projection, u, &X, &Y) != 0) return false;
    // The world Mercator's forward ordinate comes from a table, its inverse
    // (which the exact test sees the pixels through) is exact: the crossings
    // follow the inverse.
    if (exact_mercator_) Y = std::atanh(std::fmax(-1.0, std::fmin(1.0, u.z)));
    PlaneToDeviceExact(g_.transform, X, Y, x, y);
    *x -= off_x_;
    *y -= off_y_;
    return std::isfinite(*x) && std::isfinite(*y);
  }

  void AddSegment(double x0, double y0, double x1, double y1) {
    if (y0 == y1) return;
    if (y0 > y1) {
      std::swap(x0, x1);
      std::swap(y0, y1);
    }
    // Rows whose centre line y satisfies y0 <= y < y1.
    const double lo = std::max(y0, static_cast<double>(y_lo_)), hi = std::min(y1, static_cast<double>(y_hi_) + 1.0);
    if (lo >= hi) return;
    const double slope = (x1 - x0) / (y1 - y0);
    for (int r = static_cast<int>(std::ceil(lo)); r < hi; ++r)
      crossings_.push_back({r, static_cast<float>(x0 + (r - y0) * slope)});
  }

  // A leg between two projected vertices.
  void AddLeg(const DirectionCosines& p, double px, double py, const DirectionCosines& q, double qx, double qy) {
    const double dx = qx - px, dy = qy - py;
    // Off the frame on one side: nothing to cross.
    if ((px < x_lo_ - 2 && qx < x_lo_ - 2) || (px > x_hi_ + 2 && qx > x_hi_ + 2) || (py < y_lo_ - 1 && qy < y_lo_ - 1) ||
        (py > y_hi_ + 1 && qy > y_hi_ + 1))
      return;
    // A jump across the seam is no leg of the map.
    if (seam_ && std::fabs(dx) > (x_hi_ - x_lo_ + 1) * 2.0 / 3.0) return;
    const double len = std::sqrt(dx * dx + dy * dy);
    if (!(len > kLegStep)) {
      AddSegment(px, py, qx, qy);
      return;
    }
    const int steps = std::min(kMaxLegSteps, static_cast<int>(std::ceil(len / kLegStep)));
    double ax = px, ay = py;
    for (int k = 1; k <= steps; ++k) {
      double bx, by;
      if (k == steps) {
        bx = qx;
        by = qy;
      } else {
        const double t = static_cast<double>(k) / steps;
        const DirectionCosines m = geodesy::Normalised(
            DirectionCosines{p.x + t * (q.x - p.x), p.y + t * (q.y - p.y), p.z + t * (q.z - p.z)});
        if (!Device(m, &bx, &by)) return;
      }
      if (seam_ && std::fabs(bx - ax) > (x_hi_ - x_lo_ + 1) * 2.0 / 3.0) return;
      AddSegment(ax, ay, bx, by);
      ax = bx;
      ay = by;
    }
  }

  void CollectCrossings() {
    const int32_t* visible = VisibleList(g_, idx_);
    struct Vertex {
      DirectionCosines u;
      double x = 0, y = 0;
      bool ok = false;
    };
    // A ring's legs in view: the legs of its pieces in visible cells, and
    // the legs that join them to the pieces before and after, which may
    // cross the frame before they reach a cell out of view. So the pieces
    // next to a visible one are decoded too.
    std::vector<uint8_t> need;
    const int64_t items = cells::ItemCount(obj_);
    for (int64_t i = 0; i < items && !d_->cancelled; ++i) {
      const cells::Item item = cells::LoadItem(cells::ItemAt(obj_, i));
      const int32_t n = item.count;
      if (n <= 0) continue;
      need.assign(static_cast<size_t>(n), 0);
      bool any = false;
      for (int32_t k = 0; k < n; ++k) {
        const cells::Piece pc = cells::LoadPiece(cells::PieceAt(obj_, item, k));
        if (visible && !cells::CellListContains(visible, pc.cell)) continue;
        any = true;
        need[static_cast<size_t>(k)] = 1;
        need[static_cast<size_t>((k + n - 1) % n)] |= 2;
        need[static_cast<size_t>((k + 1) % n)] |= 2;
      }
      if (!any) continue;
      Vertex prev, first;
      bool have_first = false;
      for (int32_t k = 0; k < n; ++k) {
        if (!need[static_cast<size_t>(k)]) {
          prev.ok = false;
          continue;
        }
        const cells::Piece pc = cells::LoadPiece(cells::PieceAt(obj_, item, k));
        const uint8_t* src = obj_.coords + pc.offset;
        for (int32_t m = 0; m < pc.count; ++m) {
          Vertex cur;
          src = cells::Restore(idx_, pc.cell, src, obj_.res, cur.u);
          cur.ok = Device(cur.u, &cur.x, &cur.y);
          if (prev.ok && cur.ok) AddLeg(prev.u, prev.x, prev.y, cur.u, cur.x, cur.y);
          prev = cur;
          if (k == 0 && m == 0) {
            first = cur;
            have_first = true;
          }
        }
      }
      if (have_first && need[static_cast<size_t>(n - 1)] && prev.ok && first.ok)
        AddLeg(prev.u, prev.x, prev.y, first.u, first.x, first.y);
    }
    // Sorted by row, then along the row.
    const int rows = y_hi_ - y_lo_ + 1;
    row_start_.assign(static_cast<size_t>(rows) + 1, 0);
    for (const Crossing& c : crossings_) ++row_start_[static_cast<size_t>(c.row - y_lo_) + 1];
    for (int r = 0; r < rows; ++r) row_start_[r + 1] += row_start_[r];
    row_x_.resize(crossings_.size());
    std::vector<size_t> at(row_start_.begin(), row_start_.end() - 1);
    for (const Crossing& c : crossings_) row_x_[at[static_cast<size_t>(c.row - y_lo_)]++] = c.x;
    crossings_.clear();
    crossings_.shrink_to_fit();
    for (int r = 0; r < rows; ++r) std::sort(row_x_.begin() + row_start_[r], row_x_.begin() + row_start_[r + 1]);
  }

  // ---- rows

  // Row y's filled pixels, handed on as maximal runs: whole blocks inside,
  // and the pixels the undecided spans decide (row holds those).
  void FillRow(int y, uint8_t* row) {
    const int j = (y - y_lo_) / block_;
    const uint8_t* st = state_.data() + static_cast<size_t>(j) * nbx_;
    const uint8_t* off = off_map_.data() + static_cast<size_t>(j) * nbx_;
    int run_a = 0, run_e = -1;  // the run being collected, pixels run_a .. run_e - 1
    auto add = [&](int a, int e) {
      if (a == run_e) {
        run_e = e;
        return;
      }
      if (run_e > run_a) {
        MaskSpan(d_, y, run_a, run_e);
        filled_ += run_e - run_a;
      }
      run_a = a;
      run_e = e;
    };
    for (int i = 0; i < nbx_;) {
      const int bx = x_lo_ + i * block_;
      if (st[i] == kOut) {
        ++i;
        continue;
      }
      int e = i;
      while (e < nbx_ && st[e] == st[i]) ++e;
      if (st[i] == kIn) {
        add(bx, std::min(x_lo_ + e * block_ - 1, x_hi_) + 1);
        i = e;
        continue;
      }
      bool any_off = false;
      for (int k = i; k < e; ++k) any_off = any_off || off[k];
      const int a = bx, b = std::min(x_lo_ + e * block_ - 1, x_hi_);
      // A decided neighbour block gives its side, unless it had samples off the map.
      const int left = i > 0 && !off[i - 1] ? st[i - 1] : -1;
      const int right = e < nbx_ && !off[e] ? st[e] : -1;
      std::fill(row + a, row + b + 1, 0);
      if (any_off || !Span(y, a, b, left, right, row)) {
        for (int x = a; x <= b; ++x) row[x] = Exact(x, y) == 1;
      }
      for (int x = a; x <= b;) {
        if (!row[x]) {
          ++x;
          continue;
        }
        int r = x;
        while (r <= b && row[r]) ++r;
        add(x, r);
        x = r;
      }
      i = e;
    }
    add(-2, -2);  // hands on the last run
  }

  // Decides pixels a..b of row y from the crossings; false when the checks fail.
  bool Span(int y, int a, int b, int left, int right, uint8_t* row) {
    const float* begin = row_x_.data() + row_start_[static_cast<size_t>(y - y_lo_)];
    const float* end = row_x_.data() + row_start_[static_cast<size_t>(y - y_lo_) + 1];
    // Crossings between the centres of pixels a - 1 and b + 1.
    const float* c0 = std::upper_bound(begin, end, static_cast<float>(a - 1));
    const float* c1 = std::upper_bound(c0, end, static_cast<float>(b + 1));
    // Parity of each pixel relative to pixel a - 1: flips at every crossing
    // at or before its centre.
    const float* c = c0;
    int parity = 0;
    for (int x = a; x <= b; ++x) {
      while (c < c1 && *c <= static_cast<float>(x)) {
        parity ^= 1;
        ++c;
      }
      row[x] = static_cast<uint8_t>(parity);
    }
    const int end_parity = static_cast<int>((c1 - c0) & 1);  // at pixel b + 1
    int base = -1;  // the side at pixel a - 1
    if (left >= 0) base = left;
    else if (right >= 0) base = right ^ end_parity;
    int checks = 0;
    if (left >= 0 && right >= 0) {
      if ((left ^ end_parity) != right) return false;
      checks = 1;
    }
    if (checks == 0 || (c1 - c0) > 2) {
      // The longest run of equal parity, and the run farthest from it.
      int best_a = a, best_len = 0, far_mid = -1;
      for (int x = a; x <= b;) {
        int e = x;
        while (e <= b && row[e] == row[x]) ++e;
        if (e - x > best_len) {
          best_len = e - x;
          best_a = x;
        }
        x = e;
      }
      const int mid = best_a + (best_len - 1) / 2;
      const int r = Exact(mid, y);
      if (r < 0) return false;
      const int side = r ^ row[mid];
      if (base >= 0 && side != base) return false;
      base = side;
      // A second look where the first cannot vouch: the far end of the span.
      if (checks == 0 && b - a >= 6) {
        far_mid = mid - a > b - mid ? a : b;
        const int r2 = Exact(far_mid, y);
        if (r2 < 0 || (r2 ^ row[far_mid]) != base) return false;
      }
    }
    // A long span runs along the boundary rather than across it, where a
    // region's interior cells might meet cells wholly outside without a ring
    // between them (a region whose interior leaks): in every block past the
    // first two, the cell of one pixel must not contradict its side.
    if (b - a + 1 > 3 * block_) {
      for (int x = a + 2 * block_ + block_ / 2; x <= b; x += block_) {
        const int cls = Sample(x, y);
        const int side = row[x] ^ base;
        if (cls == -3 || (cls == 2 && !side) || (cls == -2 && side)) return false;
      }
    }
    if (base) {
      for (int x = a; x <= b; ++x) row[x] ^= 1;
    }
    return true;
  }

  const MapGeometry& g_;
  cells::CellIndex& idx_;
  const Object& obj_;
  double fuzz_;
  DrawState* d_;
  int block_;  // block side in device units
  std::vector<ops::RsetTestCache> caches_ = std::vector<ops::RsetTestCache>(kChainSlots);
  int w_ = 0, h_ = 0, x_lo_ = 0, x_hi_ = 0, y_lo_ = 0, y_hi_ = 0;
  double off_x_ = 0, off_y_ = 0;
  bool seam_ = false, exact_mercator_ = false;
  std::vector<int8_t> cell_class_;
  int nbx_ = 0, nby_ = 0;
  std::vector<uint8_t> state_, off_map_;
  bool any_mixed_ = false;
  std::vector<Crossing> crossings_;
  std::vector<size_t> row_start_;
  std::vector<float> row_x_;
  int64_t filled_ = 0;
};

}  // namespace

int64_t FillObjectArea(const MapGeometry& g, cells::CellIndex& idx, const Object& obj, double fuzz, DrawState* d,
                       int block) {
  if (obj.kind != cells::kRset || !g.params || d->kind != kDrawAreas) return 0;
  Filler f(g, idx, obj, fuzz, d, block);
  return f.Run();
}

}  // namespace display

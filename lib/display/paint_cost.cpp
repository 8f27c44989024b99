// The psetDistance cost function and its nearest-point grid.
#include "lib/display/paint_cost.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <new>

#include "lib/display/colour.h"

namespace display {

namespace {
constexpr double kHuge = 1.7976931348623e308;
}

NearestPoints::NearestPoints(const std::vector<DirectionCosines>& points) : points_(points) {
  const double n = double(points_.size());
  g_ = std::clamp(int(std::cbrt(n / 2.0)) + 1, 1, 64);
  cell_ = 2.0 / g_;
  const size_t buckets = size_t(g_) * g_ * g_;
  std::vector<int32_t> count(buckets + 1, 0);
  std::vector<int32_t> at(points_.size());
  for (size_t i = 0; i < points_.size(); ++i) {
    const DirectionCosines& p = points_[i];
    at[i] = (Cell(p.x) * g_ + Cell(p.y)) * g_ + Cell(p.z);
    ++count[at[i] + 1];
  }
  for (size_t b = 0; b < buckets; ++b) count[b + 1] += count[b];
  start_ = count;
  order_.resize(points_.size());
  for (size_t i = 0; i < points_.size(); ++i) order_[count[at[i]]++] = int32_t(i);
}

int NearestPoints::Cell(double v) const {
  const int c = int((v + 1.0) / cell_);
  return std::clamp(c, 0, g_ - 1);
}

double NearestPoints::NearestChordSq(const DirectionCosines& u) const {
  if (points_.empty()) return kHuge;
  const int cx = Cell(u.x), cy = Cell(u.y), cz = Cell(u.z);
  double best = kHuge;
  for (int r = 0; r < g_; ++r) {
    for (int i = std::max(0, cx - r); i <= std::min(g_ - 1, cx + r); ++i)
      for (int j = std::max(0, cy - r); j <= std::min(g_ - 1, cy + r); ++j)
        for (int k = std::max(0, cz - r); k <= std::min(g_ - 1, cz + r); ++k) {
          if (std::max({std::abs(i - cx), std::abs(j - cy), std::abs(k - cz)}) != r) continue;
          const int b = (i * g_ + j) * g_ + k;
          for (int32_t q = start_[b]; q < start_[b + 1]; ++q) best = std::min(best, ChordSq(u, points_[order_[q]]));
        }
    // Every bucket of the next shell is at least r cells away.
    const double reach = r * cell_;
    if (best <= reach * reach) break;
  }
  return best;
}

int64_t PaintPointDistance(const MapGeometry& g, DisplaySurface* s,
                           const std::vector<DirectionCosines>& points, const RampStyle& ramp) {
  if (!s || !s->bitmap || !g.params || points.empty()) return 0;
  const int x0 = std::max(g.xmin, 0), x1 = std::min(g.xmax, s->width - 1);
  const int y0 = std::max(g.ymin, 0), y1 = std::min(g.ymax, s->height - 1);
  if (x0 > x1 || y0 > y1) return 0;
  const size_t w = size_t(x1 - x0 + 1), h = size_t(y1 - y0 + 1);
  std::vector<float> cost;
  try {
    cost.assign(w * h, -1.0f);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  NearestPoints near(points);
  double least = kHuge, most = -1.0;
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) {
      double X, Y;
      DeviceToPlane(g.transform, x, y, &X, &Y);
      DirectionCosines u;
      if (ProjectInverse(*g.params, g.projection, X, Y, &u) != 0) continue;
      const double c = std::min(1.0, std::sqrt(near.NearestChordSq(u)) / 2.0);
      const double angle = 2.0 * std::asin(c);
      cost[size_t(y - y0) * w + size_t(x - x0)] = float(angle);
      least = std::min(least, angle);
      most = std::max(most, angle);
    }
  cairo_surface_flush(s->bitmap);
  unsigned char* data = cairo_image_surface_get_data(s->bitmap);
  const int stride = cairo_image_surface_get_stride(s->bitmap);
  const double range = most > least ? most - least : 1.0;
  int64_t set = 0;
  for (int y = y0; y <= y1; ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(data + size_t(y) * stride);
    for (int x = x0; x <= x1; ++x) {
      const float c = cost[size_t(y - y0) * w + size_t(x - x0)];
      if (c < 0) continue;
      const uint32_t v = RampColour(ramp, int(4080.0 * (c - least) / range));
      row[x] = 0xff000000u | (RedOf(v) << 16) | (GreenOf(v) << 8) | BlueOf(v);
      ++set;
    }
  }
  cairo_surface_mark_dirty(s->bitmap);
  ++s->generation;
  return set;
}

}  // namespace display

// The pixel loop and colour arithmetic of the paint commands.
#include "lib/display/paint.h"

#include <cairo.h>

#include <cmath>
#include <memory>
#include <vector>

#include "lib/display/colour.h"
#include "lib/display/styles.h"
#include "lib/geodesy/ellipsoid.h"

namespace display {

namespace {

constexpr double kPi = 3.141592653589793;

const char* const kDefaults[7] = {"r127g127b127", "g127", "g255", "r127", "r255", "b127", "b255"};

int Clamp255(long v) { return v < 0 ? 0 : v > 255 ? 255 : static_cast<int>(v); }

long Component(uint32_t c, int k) { return static_cast<long>((c >> (8 * k)) & 0xff); }

// Cairo's opaque ARGB32 word of a colour value (0x00BBGGRR).
inline uint32_t Argb(uint32_t c) {
  return 0xff000000u | (RedOf(c) << 16) | (GreenOf(c) << 8) | BlueOf(c);
}

// base + sum over the pairs of D_pair * m_pair / div_pair, per component.
uint32_t Combine(const PaintColours& c, const long* m, const long* div, int pairs) {
  int out[3];
  for (int k = 0; k < 3; ++k) {
    long v = Component(c.base, k);
    for (int p = 0; p < pairs; ++p) {
      if (div[p] == 0) continue;
      const long d = Component(c.high[p], k) - Component(c.low[p], k);
      v += d * m[p] / div[p];
    }
    out[k] = Clamp255(v);
  }
  return MakeColour(out[0], out[1], out[2]);
}

long Milli(double v) { return static_cast<long>(std::trunc(1000.0 * v)); }

// Longitude into (-pi, pi].
double Longitude(const DirectionCosines& u) {
  const double lon = std::atan2(u.y, u.x);
  return lon <= -kPi ? lon + 2 * kPi : lon;
}

// Cylindrical maps: latitude by row, longitude by column.
bool Separable(uint32_t projection) {
  switch (projection) {
    case PROJ_WWMERC: case PROJ_MERCATOR: case PROJ_WWVIEW: case PROJ_EQDISTCYL:
    case PROJ_WWPLTCRR: case PROJ_TILESET:
      return true;
    default:
      return false;
  }
}

struct Rows {
  cairo_surface_t* s;
  unsigned char* data;
  int stride, width, height;
  explicit Rows(DisplaySurface* surface)
      : s(surface->bitmap), data(nullptr), stride(0), width(surface->width), height(surface->height) {
    cairo_surface_flush(s);
    data = cairo_image_surface_get_data(s);
    stride = cairo_image_surface_get_stride(s);
  }
  uint32_t* Row(int y) { return reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride); }
  void Done() {
    cairo_surface_mark_dirty(s);
  }
};

// The pixel range of the frame clipped to the picture.
struct Span {
  int x0, x1, y0, y1;  // inclusive
  bool empty;
};
Span Clip(const MapGeometry& g, const DisplaySurface* s) {
  Span r{std::max(g.xmin, 0), std::min(g.xmax, s->width - 1), std::max(g.ymin, 0),
         std::min(g.ymax, s->height - 1), false};
  r.empty = r.x0 > r.x1 || r.y0 > r.y1;
  return r;
}

// First column of row y in half density: x0 + parity, parity alternating
// from row to row and starting with p & 1 on the top row.
int RowStart(const Span& sp, int y, int pattern, int* step) {
  if (pattern == 0) {
    *step = 1;
    return sp.x0;
  }
  *step = 2;
  const int parity = ((pattern & 1) + (y - sp.y0)) & 1;
  return sp.x0 + parity;
}

// trunc(1000 latitude) and trunc(1000 longitude) of a stream of nearby
// positions without an arctangent per pixel: the tangents, cosines and
// sines of k / 1000 are tabulated, and each value is found by stepping
// from the previous pixel's k until its bracket holds. The brackets are the
// exact conditions k / 1000 <= angle < (k + 1) / 1000 (the angle's
// magnitude; truncation is towards zero), so the result is what the
// arctangents would give, barring positions within rounding of a bracket.
class MilliAngles {
 public:
  explicit MilliAngles(const geodesy::Ellipsoid& e) : a2_(e.a2), b2_(e.b2) {
    for (int k = 0; k <= kLatSteps + 1; ++k) tan_[k] = std::tan(k / 1000.0);
    for (int k = 0; k <= kLonSteps + 1; ++k) {
      cos_[k] = std::cos(k / 1000.0);
      sin_[k] = std::sin(k / 1000.0);
    }
  }
  // False at a pole (the caller uses the plain formula there).
  bool Get(const DirectionCosines& u, long* lat_m, long* lon_m) {
    const double h2 = u.x * u.x + u.y * u.y;
    if (h2 < geodesy::SAME_POINT_SQ) return false;
    // Latitude: |tan| of the geodetic latitude against the tangent table.
    const double t = std::fabs(a2_ * u.z) / (b2_ * std::sqrt(h2));
    int k = lat_k_;
    while (k > 0 && t < tan_[k]) --k;
    while (k < kLatSteps && t >= tan_[k + 1]) ++k;
    lat_k_ = k;
    *lat_m = u.z < 0 ? -k : k;
    // Longitude: the angle of (x, |y|) in [0, pi] against the unit vectors
    // of k / 1000: angle >= k / 1000 when cos_k |y| - sin_k x >= 0.
    const double ay = std::fabs(u.y);
    int j = lon_k_;
    while (j > 0 && cos_[j] * ay - sin_[j] * u.x < 0) --j;
    while (j < kLonSteps && cos_[j + 1] * ay - sin_[j + 1] * u.x >= 0) ++j;
    lon_k_ = j;
    *lon_m = u.y < 0 ? -j : j;
    return true;
  }

 private:
  static constexpr int kLatSteps = 1570, kLonSteps = 3141;
  double a2_, b2_;
  double tan_[kLatSteps + 2];
  double cos_[kLonSteps + 2], sin_[kLonSteps + 2];
  int lat_k_ = 0, lon_k_ = 0;
};

}  // namespace

PaintColours MakePaintColours(const std::string* values, int count) {
  PaintColours c;
  uint32_t v[7];
  for (int i = 0; i < 7; ++i) {
    std::string text = (values && i < count && !values[i].empty()) ? values[i] : kDefaults[i];
    if (i == 0) {
      const AreaStyle a = ParseAreaStyle(text);
      v[i] = a.colour;
      c.pattern = a.pattern;
    } else {
      v[i] = ReadStyleColour(text);
    }
  }
  c.base = v[0];
  for (int p = 0; p < 3; ++p) {
    c.low[p] = v[1 + 2 * p];
    c.high[p] = v[2 + 2 * p];
  }
  return c;
}

uint32_t LatLongColour(const PaintColours& c, PaintFunction f, long lat_m, long lon_m) {
  const long m[2] = {lon_m, lat_m};
  const long div[2] = {f == kPaintLatitude ? 0 : 3141, f == kPaintLongitude ? 0 : 1570};
  return Combine(c, m, div, 2);
}

uint32_t PaintColour(const PaintColours& c, PaintFunction f, const DirectionCosines& u,
                     const geodesy::Ellipsoid& e) {
  switch (f) {
    case kPaintDCos3: {
      const long m[3] = {Milli(u.x), Milli(u.y), Milli(u.z)};
      const long div[3] = {1000, 1000, 1000};
      return Combine(c, m, div, 3);
    }
    case kPaintCdc: {
      const geodesy::CDC code = geodesy::EncodeCdc(u);
      // The stored 30-bit fields, back to their signed values.
      const double s = static_cast<double>(static_cast<int32_t>(code.w0 << 2)) / geodesy::CDC_SCALE;
      const double t = static_cast<double>(static_cast<int32_t>(code.w1 << 2)) / geodesy::CDC_SCALE;
      long axis = (code.w1 & 0x80000000u) ? 1000 : (code.w1 & 0x40000000u) ? 500 : 0;
      if (code.w0 & 0x40000000u) axis = -axis;
      const long m[3] = {Milli(s), Milli(t), axis};
      const long div[3] = {1000, 1000, 1000};
      return Combine(c, m, div, 3);
    }
    default: {
      const geodesy::LatLong ll = geodesy::CosinesToGeodetic(u, e);
      // The longitude into (-pi, pi]; at a pole it is 0.
      return LatLongColour(c, f, Milli(ll.lat), Milli(ll.lon <= -kPi ? ll.lon + 2 * kPi : ll.lon));
    }
  }
}

int64_t PaintMap(const MapGeometry& g, DisplaySurface* s, const PaintColours& c, PaintFunction f) {
  if (!s || !s->bitmap || !g.params || !g.ellipsoid) return 0;
  const Span sp = Clip(g, s);
  if (sp.empty) return 0;
  Rows rows(s);
  int64_t set = 0;
  const bool latlong = f == kPaintLatLong || f == kPaintLatitude || f == kPaintLongitude;
  if (latlong && Separable(g.projection)) {
    // One inverse per column (at the plane's centre row) for the longitude
    // and one per row (at the centre column) for the latitude; a pixel has a
    // point when both its row and its column have one.
    // Each quotient is truncated on its own, so the longitude terms
    // (D_A lon_m / 3141 per component) belong to the column and the latitude
    // terms to the row; a pixel adds them to the base and clamps.
    const int nx = sp.x1 - sp.x0 + 1;
    std::vector<int32_t> col_terms(size_t(nx) * 3);
    std::vector<char> col_ok(nx);
    double X, Y;
    long base[3], da[3], db[3];
    for (int k = 0; k < 3; ++k) {
      base[k] = Component(c.base, k);
      da[k] = f == kPaintLatitude ? 0 : Component(c.high[0], k) - Component(c.low[0], k);
      db[k] = f == kPaintLongitude ? 0 : Component(c.high[1], k) - Component(c.low[1], k);
    }
    for (int i = 0; i < nx; ++i) {
      DeviceToPlane(g.transform, sp.x0 + i, 0, &X, &Y);
      DirectionCosines u;
      col_ok[i] = ProjectInverse(*g.params, g.projection, X, 0.0, &u) == 0;
      if (!col_ok[i]) continue;
      const long lon_m = Milli(Longitude(u));
      for (int k = 0; k < 3; ++k) col_terms[size_t(i) * 3 + k] = int32_t(base[k] + da[k] * lon_m / 3141);
    }
    for (int y = sp.y0; y <= sp.y1; ++y) {
      DeviceToPlane(g.transform, 0, y, &X, &Y);
      DirectionCosines u;
      if (ProjectInverse(*g.params, g.projection, 0.0, Y, &u) != 0) continue;
      const long lat_m = Milli(geodesy::CosinesToGeodetic(u, *g.ellipsoid).lat);
      const long rt[3] = {db[0] * lat_m / 1570, db[1] * lat_m / 1570, db[2] * lat_m / 1570};
      uint32_t* row = rows.Row(y);
      int step;
      for (int x = RowStart(sp, y, c.pattern, &step); x <= sp.x1; x += step) {
        const int i = x - sp.x0;
        if (!col_ok[i]) continue;
        const int32_t* ct = &col_terms[size_t(i) * 3];
        row[x] = Argb(MakeColour(Clamp255(ct[0] + rt[0]), Clamp255(ct[1] + rt[1]), Clamp255(ct[2] + rt[2])));
        ++set;
      }
    }
    rows.Done();
    ++s->generation;
    return set;
  }
  std::unique_ptr<MilliAngles> angles;
  // The truncated terms per milli-radian value, so a pixel only adds.
  std::vector<int32_t> lon_terms, lat_terms;
  if (latlong) {
    angles = std::make_unique<MilliAngles>(*g.ellipsoid);
    lon_terms.resize(6283 * 3);
    lat_terms.resize(3141 * 3);
    for (int k = 0; k < 3; ++k) {
      const long base = Component(c.base, k);
      const long da = f == kPaintLatitude ? 0 : Component(c.high[0], k) - Component(c.low[0], k);
      const long db = f == kPaintLongitude ? 0 : Component(c.high[1], k) - Component(c.low[1], k);
      for (long m = -3141; m <= 3141; ++m) lon_terms[size_t(m + 3141) * 3 + k] = int32_t(base + da * m / 3141);
      for (long m = -1570; m <= 1570; ++m) lat_terms[size_t(m + 1570) * 3 + k] = int32_t(db * m / 1570);
    }
  }
  for (int y = sp.y0; y <= sp.y1; ++y) {
    uint32_t* row = rows.Row(y);
    int step;
    for (int x = RowStart(sp, y, c.pattern, &step); x <= sp.x1; x += step) {
      double X, Y;
      DeviceToPlane(g.transform, x, y, &X, &Y);
      DirectionCosines u;
      if (ProjectInverse(*g.params, g.projection, X, Y, &u) != 0) continue;
      long lat_m, lon_m;
      if (angles && angles->Get(u, &lat_m, &lon_m)) {
        const int32_t* a = &lon_terms[size_t(lon_m + 3141) * 3];
        const int32_t* b = &lat_terms[size_t(lat_m + 1570) * 3];
        row[x] = Argb(MakeColour(Clamp255(a[0] + b[0]), Clamp255(a[1] + b[1]), Clamp255(a[2] + b[2])));
      }
      else {
        row[x] = Argb(PaintColour(c, f, u, *g.ellipsoid));
      }
      ++set;
    }
  }
  rows.Done();
  ++s->generation;
  return set;
}

int64_t PaintMapBy(const MapGeometry& g, DisplaySurface* s, int pattern, PositionColour colour,
                   void* context) {
  if (!s || !s->bitmap || !g.params) return 0;
  const Span sp = Clip(g, s);
  if (sp.empty) return 0;
  Rows rows(s);
  int64_t set = 0;
  for (int y = sp.y0; y <= sp.y1; ++y) {
    uint32_t* row = rows.Row(y);
    int step;
    for (int x = RowStart(sp, y, pattern, &step); x <= sp.x1; x += step) {
      double X, Y;
      DeviceToPlane(g.transform, x, y, &X, &Y);
      DirectionCosines u;
      uint32_t v;
      if (ProjectInverse(*g.params, g.projection, X, Y, &u) != 0) continue;
      if (!colour(context, u, &v)) continue;
      row[x] = Argb(v);
      ++set;
    }
  }
  rows.Done();
  ++s->generation;
  return set;
}

}  // namespace display

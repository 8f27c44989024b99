// Coastline, grid and horizon: how they are traced.
//
// Lines go through the PolylinePen (pen.h), which follows the great circle
// between consecutive positions, splits at the seam and cuts at the horizon
// and the frame.
//
// The coast is read level by level in file order; a segment is skipped when
// the arc from the map centre to its centre exceeds the map radius plus the
// segment's radius, so only segments that can be in view are decoded.
//
// The grid is traced in whole arc-seconds. To keep large-scale maps cheap the
// traced range is cut down to the latitudes and longitudes seen in the frame:
// 17 x 17 device points across the frame are inverse-projected and their
// latitude and longitude bounds, widened by one spacing, limit the lines.
// When any sample has no inverse, or a pole is in view, the full range is
// traced. Parallels run from the lowest to the highest multiple of the
// parallel spacing within +-323999 arc-seconds on every projection (the
// orthographic rule; on the cylinders the poles cannot be drawn anyway), and
// the tracing step is that of GridTraceStep, at most one degree, so parallels
// stay smooth on the conic and azimuthal maps.
#include "lib/display/draw_map.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "lib/geodesy/ellipsoid.h"

namespace display {

namespace {

constexpr double kArcSecond = M_PI / 648000.0;


double Arc(const DirectionCosines& a, const DirectionCosines& b) {
  const double chord = std::sqrt(geodesy::ChordSq(a, b));
  return 2.0 * std::asin(std::min(1.0, chord / 2.0));
}

// The position at a latitude and longitude in arc-seconds: geodetic on the
// geometry's ellipsoid, geocentric when it has none.
DirectionCosines FromArcSeconds(const MapGeometry& g, long lat, long lon) {
  if (lon > 648000) lon -= 1296000;
  if (lon < -648000) lon += 1296000;
  const geodesy::LatLong ll{lat * kArcSecond, lon * kArcSecond};
  return g.ellipsoid ? geodesy::GeodeticToCosines(ll, *g.ellipsoid) : geodesy::GeocentricToCosines(ll);
}

geodesy::LatLong ToLatLong(const MapGeometry& g, const DirectionCosines& u) {
  return g.ellipsoid ? geodesy::CosinesToGeodetic(u, *g.ellipsoid) : geodesy::CosinesToGeocentric(u);
}

// Latitude and longitude bounds (arc-seconds) of what the frame shows; false
// when the full range must be traced.
bool VisibleBounds(const MapGeometry& g, long* lat0, long* lat1, long* lon0, long* lon1) {
  if (!g.params || IsWorldWide(g.projection)) return false;
  // A pole in view needs every meridian.
  for (double z : {1.0, -1.0}) {
    PixelPoint p;
    if (PositionToDevice(g, {0.0, 0.0, z}, &p) && p.x >= g.xmin && p.x <= g.xmax && p.y >= g.ymin &&
        p.y <= g.ymax)
      return false;
  }
  const geodesy::LatLong centre = ToLatLong(g, g.centre);
  double la0 = 10, la1 = -10, lo0 = 10, lo1 = -10;
  constexpr int kSamples = 17;
  for (int i = 0; i < kSamples; ++i) {
    for (int j = 0; j < kSamples; ++j) {
      const int32_t x = g.xmin + (int32_t)((double)(g.xmax - g.xmin) * i / (kSamples - 1));
      const int32_t y = g.ymin + (int32_t)((double)(g.ymax - g.ymin) * j / (kSamples - 1));
      double X, Y;
      DeviceToPlane(g.transform, x, y, &X, &Y);
      DirectionCosines u;
      if (ProjectInverse(*g.params, g.projection, X, Y, &u) != 0) return false;
      const geodesy::LatLong ll = ToLatLong(g, u);
      const double dlon = WrapAngle(ll.lon - centre.lon);
      la0 = std::min(la0, ll.lat);
      la1 = std::max(la1, ll.lat);
      lo0 = std::min(lo0, dlon);
      lo1 = std::max(lo1, dlon);
    }
  }
  if (lo1 - lo0 > M_PI) return false;
  *lat0 = (long)std::floor(la0 / kArcSecond);
  *lat1 = (long)std::ceil(la1 / kArcSecond);
  *lon0 = (long)std::floor((centre.lon + lo0) / kArcSecond);
  *lon1 = (long)std::ceil((centre.lon + lo1) / kArcSecond);
  return true;
}

long FloorTo(long v, long step) { return (long)std::floor((double)v / step) * step; }
long CeilTo(long v, long step) { return (long)std::ceil((double)v / step) * step; }

}  // namespace

bool PositionToDevice(const MapGeometry& g, const DirectionCosines& u, PixelPoint* p) {
  if (!g.params) return false;
  double X, Y;
  if (ProjectForward(*g.params, g.projection, u, &X, &Y) != 0) return false;
  double x, y;
  PlaneToDeviceExact(g.transform, X, Y, &x, &y);
  if (!(std::fabs(x - g.xmin) < kFarDevice && std::fabs(y - g.ymin) < kFarDevice)) return false;
  *p = PlaneToDevice(g.transform, X, Y);
  return true;
}

bool ProjectionHasSeam(uint32_t code) {
  return code == PROJ_WWMERC || code == PROJ_CONICAL || code == PROJ_MERCATOR || code == PROJ_WWVIEW ||
         code == PROJ_EQDISTCYL || code == PROJ_WWPLTCRR || code == PROJ_TILESET;
}

double MapRadius(const MapGeometry& g) {
  const uint32_t c = g.projection;
  if (IsWorldWide(c)) return 4.0;
  if (c != PROJ_STEREO && c != PROJ_GNOMONIC && c != PROJ_CONICAL && c != PROJ_MERCATOR &&
      c != PROJ_EQDISTCYL && c != PROJ_TILESET)
    return 2.0;
  if (!g.params) return 2.0;
  double r = 0.0;
  const int32_t xs[2] = {g.xmin, g.xmax + 1}, ys[2] = {g.ymin, g.ymax + 1};
  for (int32_t x : xs)
    for (int32_t y : ys) {
      double X, Y;
      DeviceToPlane(g.transform, x, y, &X, &Y);
      DirectionCosines u;
      if (ProjectInverse(*g.params, c, X, Y, &u) == 0) r = std::max(r, Arc(g.centre, u));
    }
  return r;
}

int DrawCoastOnMap(const MapGeometry& g, const CoastData& coast, DrawState* d, int level) {
  if (level < 0) level = CoastLevelForScale(coast, g.scale);
  if (level < 0 || level >= kCoastLevels || coast.sgm.empty() ||
      coast.levels[level].scale_limit == geodesy::NOVALUE)
    return 0;
  const double radius = MapRadius(g);
  std::vector<DirectionCosines> points;
  int drawn = 0;
  PolylinePen w(g, d);
  for (size_t i = 0; i < coast.levels[level].count && !d->cancelled; ++i) {
    const CoastSegment seg = CoastSegmentAt(coast, level, i);
    if (Arc(g.centre, geodesy::Normalised(seg.centre)) > radius + seg.radius) continue;
    points.clear();
    DecodeCoastSegment(coast, level, seg, &points);
    for (const DirectionCosines& u : points) w.Add(u);
    w.Break();
    ++drawn;
  }
  return drawn;
}

GridSpacing GridSpacingForScale(double scale) {
  if (scale >= 3e7) return {36000, 54000};
  if (scale >= 1e7) return {18000, 36000};
  if (scale >= 5e6) return {7200, 18000};
  if (scale >= 1e6) return {3600, 7200};
  if (scale >= 5e5) return {1200, 3600};
  if (scale >= 1e5) return {600, 1200};
  if (scale >= 5e4) return {300, 600};
  if (scale >= 1e4) return {60, 120};
  if (scale >= 5000) return {30, 60};
  return {10, 30};
}

int GridTraceStep(int spacing) {
  int step;
  if (spacing % 4 == 0)
    step = spacing / 4;
  else if (spacing % 5 == 0)
    step = spacing / 5;
  else
    step = spacing / 6;
  return step <= 9 ? spacing : step;
}

int GridLatitudeLimit(int spacing) { return spacing > 0 ? (323999 / spacing) * spacing : 0; }

int DrawGridOnMap(const MapGeometry& g, DrawState* d) {
  if (!g.params || g.projection == PROJ_NONE) return 0;
  const GridSpacing s = GridSpacingForScale(g.scale);
  const long top = GridLatitudeLimit(s.parallels);
  long lat0 = -top, lat1 = top, lon0 = -648000, lon1 = 648000 - s.meridians;
  long b_lat0, b_lat1, b_lon0, b_lon1;
  if (VisibleBounds(g, &b_lat0, &b_lat1, &b_lon0, &b_lon1)) {
    lat0 = std::max(lat0, FloorTo(b_lat0, s.parallels) - s.parallels);
    lat1 = std::min(lat1, CeilTo(b_lat1, s.parallels) + s.parallels);
    lon0 = FloorTo(b_lon0, s.meridians) - s.meridians;
    lon1 = CeilTo(b_lon1, s.meridians) + s.meridians;
    if (lon1 - lon0 >= 1296000) {
      lon0 = -648000;
      lon1 = 648000 - s.meridians;
    }
  }
  PolylinePen w(g, d);
  // Parallels: traced along longitude across the range of meridians (a whole
  // turn when every meridian shows).
  const bool whole_turn = lon1 - lon0 >= 1296000 - s.meridians;
  const long run0 = whole_turn ? -648000 : lon0, run1 = whole_turn ? 648000 : lon1;
  const long lon_step = std::min<long>(GridTraceStep(s.meridians), 3600);
  for (long lat = CeilTo(lat0, s.parallels); lat <= lat1 && !d->cancelled; lat += s.parallels) {
    for (long lon = run0; lon < run1; lon += lon_step) w.Add(FromArcSeconds(g, lat, lon));
    w.Add(FromArcSeconds(g, lat, run1));
    w.Break();
  }
  // Meridians: from the lowest to the highest parallel drawn.
  const long mlat0 = CeilTo(lat0, s.parallels), mlat1 = FloorTo(lat1, s.parallels);
  const long lat_step = std::min<long>(GridTraceStep(s.parallels), 3600);
  for (long lon = lon0; lon <= lon1 && !d->cancelled; lon += s.meridians) {
    for (long lat = mlat0; lat < mlat1; lat += lat_step) w.Add(FromArcSeconds(g, lat, lon));
    w.Add(FromArcSeconds(g, mlat1, lon));
    w.Break();
  }
  return w.pieces;
}

int DrawHorizonOnMap(const MapGeometry& g, DrawState* d) {
  if (g.projection != PROJ_ORTHO && g.projection != PROJ_PERSPECT) return 0;
  for (int deg = 0; deg <= 360; ++deg) {
    const double a = deg * M_PI / 180.0;
    const PixelPoint p = PlaneToDevice(g.transform, std::cos(a), std::sin(a));
    if (deg == 0)
      BeginPolyline(d, p.x, p.y);
    else
      AddPolylinePoint(d, p.x, p.y);
  }
  FinishPolyline(d);
  return 361;
}

}  // namespace display

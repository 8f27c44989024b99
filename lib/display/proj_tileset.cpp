// The tileset projection: a cylinder with equal plane height per latitude band.
//
// Latitudes are geocentric (asin z); the table's bands are found by a first
// guess from the equal band height and a walk down or up, so uneven tables
// (Mercator-like bands) cost no more than a step or two. Below the first and
// above the last latitude the outermost band's slope continues, with status
// -1. The inverse picks the band by v / h clamped to the last band (index
// n - 1), so the top edge v = t[n] - t[0] reads t[n] and never beyond.
#include <cmath>

#include "lib/display/projections.h"

namespace display {

namespace {

constexpr double kPi = 3.141592653589793;

double Latitude(const DirectionCosines& u) {
  return std::atan2(u.z, std::sqrt(u.x * u.x + u.y * u.y));
}

// Y of latitude phi before the offset; status 0 inside the table, -1 outside.
int BandY(const TilesetParams& p, double phi, double* Y) {
  const int n = p.n;
  const double* t = p.t;
  const double h = (t[n] - t[0]) / n;
  if (phi < t[0]) {
    *Y = (phi - t[0]) * h / (t[1] - t[0]);
    return -1;
  }
  if (phi > t[n]) {
    *Y = (t[n] - t[0]) + (phi - t[n]) * h / (t[n] - t[n - 1]);
    return -1;
  }
  double guess = (phi - t[0]) / h;
  int i = guess >= n ? n - 1 : static_cast<int>(guess);
  if (i < 0) i = 0;
  while (i > 0 && phi < t[i]) --i;
  while (i < n - 1 && phi >= t[i + 1]) ++i;
  *Y = i * h + (phi - t[i]) * h / (t[i + 1] - t[i]);
  return 0;
}

}  // namespace

int SetUpTileset(double lon0, double width, const double* table, int n,
                 const DirectionCosines* centre, TilesetParams* p) {
  *p = TilesetParams{};
  if (n < 1 || n > TILESET_MAX_BANDS || table == nullptr) return 1;
  if (!(width > 0.0) || width > 2 * kPi + 1e-9) return 1;
  for (int i = 0; i <= n; ++i) {
    if (!std::isfinite(table[i]) || table[i] < -kPi / 2 - 1e-12 || table[i] > kPi / 2 + 1e-12) return 1;
    if (i > 0 && !(table[i] > table[i - 1])) return 1;
    p->t[i] = table[i];
  }
  if (!std::isfinite(lon0)) return 1;
  p->n = n;
  p->lon0 = WrapAngle(lon0);
  p->half_width = width / 2;
  p->k = std::cos((table[0] + table[n]) / 2);
  if (!(p->k > 1e-6)) return 1;
  if (centre == nullptr) {
    const double c0 = std::cos(table[0]);
    p->c = {c0 * std::cos(p->lon0), c0 * std::sin(p->lon0), std::sin(table[0])};
    return 0;
  }
  p->c = *centre;
  double X, Y;
  if (TilesetForward(*p, *centre, &X, &Y) > 0) return 2;
  p->x0 = X;
  p->y0 = Y;
  return 0;
}

int TilesetForward(const TilesetParams& p, const DirectionCosines& u, double* X, double* Y) {
  if (p.n < 1 || p.n > TILESET_MAX_BANDS) return 1;
  const double d = WrapAngle(std::atan2(u.y, u.x) - p.lon0);
  *X = d * p.k - p.x0;
  int status = BandY(p, Latitude(u), Y);
  if (status == 0 && std::fabs(d) > p.half_width) status = -1;
  *Y -= p.y0;
  return status;
}

int TilesetInverse(const TilesetParams& p, double X, double Y, DirectionCosines* u) {
  const int n = p.n;
  if (n < 1 || n > TILESET_MAX_BANDS) return 1;
  const double* t = p.t;
  const double h = (t[n] - t[0]) / n;
  const double d = (X + p.x0) / p.k;
  const double lon = WrapAngle(p.lon0 + d);
  const double v = Y + p.y0;
  double phi;
  int status = 0;
  if (v < 0.0) {
    phi = t[0] + v * (t[1] - t[0]) / h;
    status = -1;
  } else if (v > t[n] - t[0]) {
    phi = t[n] + (v - (t[n] - t[0])) * (t[n] - t[n - 1]) / h;
    status = -1;
  } else {
    const double q = v / h;
    int i = q >= n ? n - 1 : static_cast<int>(q);
    if (i < 0) i = 0;
    phi = t[i] + (v - i * h) * (t[i + 1] - t[i]) / h;
  }
  if (std::fabs(d) > p.half_width) status = -1;
  // Beyond a pole there is no point at all.
  if (phi > kPi / 2 || phi < -kPi / 2 || !std::isfinite(phi) || !std::isfinite(lon)) return 1;
  const double cp = std::cos(phi);
  *u = {cp * std::cos(lon), cp * std::sin(lon), std::sin(phi)};
  return status;
}

}  // namespace display

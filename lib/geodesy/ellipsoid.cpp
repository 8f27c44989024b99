// Ellipsoid set-up and the latitude/longitude <-> direction cosine
// conversions.
//
// The set-up derives everything from a and b. The hemisphere area is the
// series 2 pi b^2 (1 + sum (k+1)/(2k+1) e2^k), which converges within its 16
// terms for every ellipsoid of the table; a user ellipsoid flattened so far
// that the series has not converged after 16 terms gets the closed form
// instead (atanh for an oblate, atan for a prolate ellipsoid), so that its
// area is right rather than cut short. The quarter meridian is the meridian
// arc at 90 degrees.
//
// The meridian arc is the classical series in e2 to e2^4; the multiple-angle
// sines come from the Chebyshev recurrence sin((k+1)x) = 2 cos x sin(kx) -
// sin((k-1)x), so only one atan2 is evaluated.
#include "lib/geodesy/ellipsoid.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace geodesy {

namespace {

constexpr EllipsoidEntry kTable[ELLIPSOID_COUNT] = {
    {"Bouguer/Maupertius, 1738", 6397300.0, 6367792.1587},
    {"Delambre, 1800", 6375653.0, 6356564.2186},
    {"Walbeck, 1819", 6376893.861, 6355834.106},
    {"Schmidt, 1828", 6377115.578, 6355744.547},
    {"Everest, 1830", 6377299.0, 6356098.0},
    {"Everest (Malayan), 1830", 6377304.063, 6356103.039},
    {"Bessel, 1841/Helmert, 1886", 6377397.155, 6356078.96325},
    {"Airy, 1858", 6377563.396, 6356256.905},
    {"Clarke, 1858", 6378294.007, 6356618.299},
    {"Pratt, 1863", 6378245.0, 6356645.7958},
    {"Clarke, 1866", 6378206.4, 6356583.8},
    {"Clarke, 1880", 6378301.0, 6356566.0},
    {"Bonsdorf, 1888 (uncertain!)", 6378765.0, 6356789.0},
    {"Hayford, 1906", 6378283.0, 6356864.991},
    {"Helmert, 1907", 6378200.0, 6356818.1696},
    {"Hayford, 1909", 6378388.0, 6356909.0},
    {"IUGG (Madrid), 1924", 6378388.0, 6356911.9463},
    {"Heiskanen, 1926", 6378397.0, 6356920.916},
    {"Krasovsky, 1936", 6378210.0, 6356849.6182},
    {"Krasovsky/CNIIGAiK, 1942/48", 6378245.0, 6356863.0188},
    {"Jeffreys, 1948", 6378099.0, 6356631.0},
    {"Ledersteger, 1951", 6378298.0, 6356822.2492},
    {"Hough, 1956", 6378270.0, 6356794.343},
    {"Fischer/NASA (Mrcy), 1960", 6378155.0, 6356773.0},
    {"Kaula 1961", 6378165.0, 6356344.388},
    {"Australian (165), 1962", 6378165.0, 6356783.0},
    {"Kaula, 1964", 6378160.0, 6356774.719},
    {"Veis, 1964", 6378169.0, 6356783.689},
    {"IUGG (Zurich), 1967", 6378160.0, 6356774.504},
    {"Fischer/NASA (Mrcy mod), 1968", 6378150.0, 6356768.337},
    {"World Geodetic System 1972", 6378135.0, 6356750.52},
    {"IUGG, 1975", 6378150.0, 6356768.337},
    {"Geodetic Reference System 1980", 6378137.0, 6356752.3141},
    {"World Geodetic System 1984", 6378137.0, 6356752.3141},
};

constexpr double kPi = std::numbers::pi;
constexpr int kAreaTerms = 16;

// The hemisphere area of the ellipsoid with semi-axes a, b.
double HemisphereArea(double a, double b, double a2, double b2, double a2mb2) {
  const double e2 = a2mb2 / a2;
  double sum = 1.0, power = 1.0;
  for (int k = 1; k <= kAreaTerms; ++k) {
    power *= e2;
    const double term = (k + 1.0) / (2.0 * k + 1.0) * power;
    sum += term;
    if (std::fabs(term) < FRAME_POLE_SQ) return 2.0 * kPi * b2 * sum;
  }
  // Half area = pi a^2 + pi b^2 atanh(e)/e for an oblate ellipsoid, where
  // atanh(e) = log((a + a e) / b) avoids the cancellation in 1 - e; for a
  // prolate one (e2 < 0) atanh(e)/e becomes atan(|e|)/|e|.
  const double ae = std::sqrt(std::fabs(a2mb2));
  const double ratio = e2 > 0.0 ? std::log((a + ae) / b) * a / ae : std::atan(ae / a) * a / ae;
  return kPi * (a2 + b2 * ratio);
}

struct ArcCoefficients {
  double A, B, C, D, E;
};

ArcCoefficients ArcSeries(double n) {
  const double n2 = n * n, n3 = n2 * n, n4 = n3 * n;
  return {1.0 + 0.75 * n + 45.0 / 64.0 * n2 + 175.0 / 256.0 * n3 + 11025.0 / 16384.0 * n4,
          0.75 * n + 15.0 / 16.0 * n2 + 525.0 / 512.0 * n3 + 2205.0 / 2048.0 * n4,
          15.0 / 64.0 * n2 + 105.0 / 256.0 * n3 + 2205.0 / 4096.0 * n4,
          35.0 / 512.0 * n3 + 315.0 / 2048.0 * n4, 315.0 / 16384.0 * n4};
}

}  // namespace

const EllipsoidEntry* FindEllipsoidEntry(int number) {
  if (number < 1 || number > ELLIPSOID_COUNT) return nullptr;
  return &kTable[number - 1];
}

int EllipsoidSetup(int number, Ellipsoid& e, char* name) {
  double a = e.a, b = e.b;
  const EllipsoidEntry* entry = nullptr;
  if (number != 0) {
    entry = FindEllipsoidEntry(number);
    if (!entry) return 1;
    a = entry->a;
    b = entry->b;
  } else if (!(a > 0.0 && b > 0.0 && std::isfinite(a) && std::isfinite(b))) {
    return 1;
  }
  Ellipsoid r;
  r.a = a;
  r.b = b;
  r.a2 = a * a;
  r.b2 = b * b;
  r.a2mb2 = (a + b) * (a - b);
  r.a2ob2 = r.a2 / r.b2;
  r.half_area = HemisphereArea(a, b, r.a2, r.b2, r.a2mb2);
  r.quarter_meridian = MeridianArc(r, 0.0, 1.0);
  e = r;
  if (entry && name) {
    std::strncpy(name, entry->name, ELLIPSOID_NAME_MAX);
    name[ELLIPSOID_NAME_MAX] = '\0';
  }
  return 0;
}

Ellipsoid MakeEllipsoid(int number) {
  Ellipsoid e;
  if (EllipsoidSetup(number, e) != 0) EllipsoidSetup(DEFAULT_ELLIPSOID, e);
  return e;
}

Ellipsoid MakeUserEllipsoid(double a, double b) {
  Ellipsoid e;
  e.a = a;
  e.b = b;
  if (EllipsoidSetup(0, e) != 0) return Ellipsoid{};
  return e;
}

DirectionCosines GeodeticToCosines(const LatLong& ll, const Ellipsoid& e) {
  double sphi, cphi, slam, clam;
  SinCos(ll.lat, sphi, cphi);
  SinCos(ll.lon, slam, clam);
  const double p = e.b2 * sphi, q = e.a2 * cphi;
  const double r = std::sqrt(p * p + q * q);
  const double spsi = p / r, cpsi = q / r;
  return {clam * cpsi, slam * cpsi, spsi};
}

LatLong CosinesToGeodetic(const DirectionCosines& u, const Ellipsoid& e) {
  const double h2 = u.x * u.x + u.y * u.y;
  if (h2 < SAME_POINT_SQ) return {u.z > 0.0 ? kPi / 2 : -kPi / 2, 0.0};
  return {std::atan2(e.a2 * u.z, e.b2 * std::sqrt(h2)), std::atan2(u.y, u.x)};
}

DirectionCosines GeocentricToCosines(const LatLong& ll) {
  double spsi, cpsi, slam, clam;
  SinCos(ll.lat, spsi, cpsi);
  SinCos(ll.lon, slam, clam);
  return {cpsi * clam, cpsi * slam, spsi};
}

LatLong CosinesToGeocentric(const DirectionCosines& u) {
  const double h2 = u.x * u.x + u.y * u.y;
  return {std::atan2(u.z, std::sqrt(h2)), h2 > FRAME_POLE_SQ ? std::atan2(u.y, u.x) : 0.0};
}

DirectionCosines SurfaceNormal(const DirectionCosines& u, const Ellipsoid& e) {
  if (u.x * u.x + u.y * u.y < FRAME_POLE_SQ) return u;
  return Normalised({e.b2 * u.x, e.b2 * u.y, e.a2 * u.z});
}

DirectionCosines DirectionFromNormal(const DirectionCosines& n, const Ellipsoid& e) {
  if (n.x * n.x + n.y * n.y < SAME_POINT_SQ) return n;
  return Normalised({e.a2 * n.x, e.a2 * n.y, e.b2 * n.z});
}

void Normalise(DirectionCosines& v) {
  const double len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  if (!(len > MIN_NORM_LENGTH) || !std::isfinite(len)) {
    v.x = NOVALUE;
    return;
  }
  v.x /= len;
  v.y /= len;
  v.z /= len;
}

void SinCos(double angle, double& sine, double& cosine) {
  sine = std::sin(angle);
  cosine = std::cos(angle);
}

double MeridianArc(const Ellipsoid& e, double cos_lat, double sin_lat) {
  const ArcCoefficients k = ArcSeries(e.a2mb2 / e.a2);
  const double scale = e.b2 / e.a;
  if (cos_lat == 0.0 && sin_lat == 1.0) return kPi / 2 * k.A * scale;
  const double phi = std::atan2(sin_lat, cos_lat);
  const double r = std::hypot(cos_lat, sin_lat);
  if (!(r > 0.0) || !std::isfinite(r)) return 0.0;
  const double c = cos_lat / r, s = sin_lat / r;
  // sin(2j phi) for j = 1..4 by the recurrence on multiples of phi.
  double sines[9];
  sines[0] = 0.0;
  sines[1] = s;
  for (int j = 2; j <= 8; ++j) sines[j] = 2.0 * c * sines[j - 1] - sines[j - 2];
  return scale * (k.A * phi - k.B / 2 * sines[2] + k.C / 4 * sines[4] - k.D / 6 * sines[6] +
                  k.E / 8 * sines[8]);
}

}  // namespace geodesy

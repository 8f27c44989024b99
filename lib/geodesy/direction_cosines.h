// Positions on the ellipsoid.
//
// DirectionCosines: a unit vector from the ellipsoid centre towards the
// surface point, along the geocentric direction. x points to latitude 0,
// longitude 0; y to latitude 0, longitude +90 (east); z to the north pole.
// A vector that could not be normalised carries NOVALUE in x and means
// "no position".
//
// LatLong: latitude then longitude in radians, east and north positive;
// geodetic unless the function says geocentric.
#pragma once

#include "lib/geodesy/constants.h"

namespace geodesy {

struct DirectionCosines {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

struct LatLong {
  double lat = 0.0;
  double lon = 0.0;
};

inline bool IsValid(const DirectionCosines& u) { return u.x != NOVALUE; }

inline double Dot(const DirectionCosines& a, const DirectionCosines& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}

inline DirectionCosines Cross(const DirectionCosines& a, const DirectionCosines& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Squared chord between two unit vectors: the library's distance measure.
inline double ChordSq(const DirectionCosines& a, const DirectionCosines& b) {
  const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
  return dx * dx + dy * dy + dz * dz;
}

}  // namespace geodesy

// The reference ellipsoid and the conversions between latitude/longitude and
// direction cosines.
//
// Ellipsoid: the two semi-axes in metres (a equatorial, b polar) and the
// values derived from them by EllipsoidSetup. Every conversion below that
// needs the ellipsoid takes it as an argument; the interpreter keeps the one
// current ellipsoid.
//
// The ellipsoid table holds 34 named entries, numbered 1 to 34; entry 34
// (World Geodetic System 1984) is the default. Number 0 means a user
// ellipsoid whose a and b are already in the record.
//
// Angles are radians. Geodetic latitude is the angle of the surface normal,
// geocentric latitude that of the direction from the centre; direction
// cosines always follow the geocentric direction. Conversions at the poles
// never fail: a point whose squared horizontal component is below
// SAME_POINT_SQ has latitude +-pi/2 and longitude 0.
#pragma once

#include "lib/geodesy/direction_cosines.h"

namespace geodesy {

struct Ellipsoid {
  double a = 0.0;                 // semi-major axis, metres
  double b = 0.0;                 // semi-minor axis, metres
  double a2 = 0.0;                // a * a
  double b2 = 0.0;                // b * b
  double a2mb2 = 0.0;             // a*a - b*b, computed as (a + b)(a - b)
  double a2ob2 = 0.0;             // a*a / (b*b)
  double half_area = 0.0;         // area of one hemisphere, square metres
  double quarter_meridian = 0.0;  // meridian arc from the equator to a pole, metres
};

// One entry of the ellipsoid table.
struct EllipsoidEntry {
  const char* name;  // at most ELLIPSOID_NAME_MAX characters
  double a;          // metres
  double b;          // metres
};

inline constexpr int ELLIPSOID_COUNT = 34;
inline constexpr int DEFAULT_ELLIPSOID = 34;
inline constexpr int ELLIPSOID_NAME_MAX = 30;  // a name buffer holds 31 bytes

// The table entry numbered 1..34, or nullptr for any other number.
const EllipsoidEntry* FindEllipsoidEntry(int number);

// Fills the derived fields of e. Number 0: a and b are taken from e itself
// and must be positive and finite. Numbers 1..34: a and b come from the
// table, and when name is not null the entry's name is copied into it (a
// buffer of ELLIPSOID_NAME_MAX + 1 bytes, NUL-terminated). Returns 0 on
// success, 1 for a number outside 0..34 or unusable user semi-axes; e and
// name are then left unchanged.
int EllipsoidSetup(int number, Ellipsoid& e, char* name = nullptr);

// The table ellipsoid numbered 1..34 (the default when the number is unknown).
Ellipsoid MakeEllipsoid(int number = DEFAULT_ELLIPSOID);
// A user ellipsoid from its semi-axes; a and b are zero when they are unusable.
Ellipsoid MakeUserEllipsoid(double a, double b);

// Geodetic latitude/longitude to direction cosines.
DirectionCosines GeodeticToCosines(const LatLong& ll, const Ellipsoid& e);
// Direction cosines to geodetic latitude/longitude (pole rule above).
LatLong CosinesToGeodetic(const DirectionCosines& u, const Ellipsoid& e);

// Geocentric (spherical) latitude/longitude to direction cosines and back;
// the longitude of a vector with x*x + y*y not above FRAME_POLE_SQ is 0.
DirectionCosines GeocentricToCosines(const LatLong& ll);
LatLong CosinesToGeocentric(const DirectionCosines& u);

// The unit surface normal of the point whose geocentric direction is u, i.e.
// the geodetic direction cosines (cos phi cos lambda, cos phi sin lambda,
// sin phi).
DirectionCosines SurfaceNormal(const DirectionCosines& u, const Ellipsoid& e);
// The geocentric direction of the point whose surface normal is n.
DirectionCosines DirectionFromNormal(const DirectionCosines& n, const Ellipsoid& e);

// Scales v to unit length. A vector of length not above MIN_NORM_LENGTH (or
// not finite) gets NOVALUE in x and keeps y and z: it is then "no position".
void Normalise(DirectionCosines& v);
inline DirectionCosines Normalised(DirectionCosines v) {
  Normalise(v);
  return v;
}

// Sine and cosine of one angle, computed together.
void SinCos(double angle, double& sine, double& cosine);

// Meridian arc length in metres from the equator to the latitude whose
// cosine and sine are given (they need not be normalised; the latitude is
// atan2(sin, cos)). Negative south of the equator. A series in e^2 to the
// fourth power: on the earth ellipsoids it is good to about 0.1 mm.
double MeridianArc(const Ellipsoid& e, double cos_lat, double sin_lat);

// The first eccentricity squared, (a*a - b*b) / (a*a).
inline double EccentricitySq(const Ellipsoid& e) { return e.a2mb2 / e.a2; }

// The mean radius (2a + b) / 3, metres.
inline double MeanRadius(const Ellipsoid& e) { return (2.0 * e.a + e.b) / 3.0; }

// A boundary fuzz given in metres as the angle (radians) kept by the
// interpreter: metres over the mean radius. 0.1 m on entry 34 is about
// 1.57e-8 rad.
inline double FuzzAngle(const Ellipsoid& e, double metres) { return metres / MeanRadius(e); }

}  // namespace geodesy

// The orbit model: where a satellite is at a time, the point beneath it and
// the two edges of the strip its sensor sees.
//
// The orbit is a Keplerian ellipse fixed in an Earth-fixed frame at the epoch
// (the frame of the direction cosines: z to the north pole, x to longitude 0,
// y to 90 degrees east). The secular effects of the second zonal harmonic
// turn the perigee within the orbit plane (rate wdot) and the plane about
// the polar axis (rate Wdot); the Earth turns under it at EARTH_ROTATION_RATE.
// Times are seconds after the epoch; lengths metres; angles radians.
//
// Nothing here prints or touches the interpreter: the satellite file is read
// on the interpreter side and handed over as an Orbit record.
#pragma once

#include <cstdint>

#include "lib/geodesy/direction_cosines.h"
#include "lib/geodesy/ellipsoid.h"

namespace orbits {

inline constexpr double EARTH_ROTATION_RATE = 7.292115815600708e-5;  // rad/s
inline constexpr double DEFAULT_GM = 398601300000000.0;              // m^3/s^2
inline constexpr double DEFAULT_J2 = 0.00108263;
// Times and areas within this of a perigee or apogee are taken as exactly there.
inline constexpr double ORBIT_SAME_TIME = 2.458e-14;

struct Vector3 {
  double x = 0.0, y = 0.0, z = 0.0;
};

// The orbit record, fields in their stored order.
struct Orbit {
  double a = 0.0;          // semi-major axis
  double b = 0.0;          // semi-minor axis a sqrt(1 - e^2)
  double c = 0.0;          // focal distance sqrt((a + b)(a - b)) = a e
  double period = 0.0;     // seconds
  double reserved1 = 0.0;
  double earth_rate = EARTH_ROTATION_RATE;
  double node_rate = 0.0;     // Wdot, rad/s
  double perigee_rate = 0.0;  // wdot, rad/s
  double reserved2 = 0.0;
  Vector3 P;               // towards the perigee at the epoch
  Vector3 Q;               // W x P
  Vector3 W;               // orbit normal; W.z = cos i
  double t0 = 0.0;         // time since perigee passage at the epoch
  std::uint32_t epoch_day = 0;    // day number
  double epoch_seconds = 0.0;     // seconds of the day
  std::int32_t orbit_number = 1;
};

// sin and cos of the right limit angle, then of the left one.
struct Swath {
  double sin_right = 0.0, cos_right = 1.0;
  double sin_left = 0.0, cos_left = 1.0;
};

double OrbitPeriod(double a, double gm);
double OrbitSemiMajorAxis(double period, double gm);

// b, c, P, Q, W from a, e and the node longitude, inclination and argument
// of perigee (the period must be set already); t0 left as it is.
void SetOrbitShape(Orbit& o, double e, double node, double inclination, double perigee);

// Epoch kinds of the satellite file.
enum EpochKind { kEpochAscending = 0, kEpochDescending = 1, kEpochSincePerigee = 2 };
// t0 for an epoch at the ascending node (u = 0) or the descending node
// (u = pi); for kEpochSincePerigee it is since_perigee.
double EpochTimeSincePerigee(const Orbit& o, double perigee, int kind, double since_perigee);

// Fills Wdot and wdot: p = b^2 / a, k = J2 (R / p)^2, Wdot = -(3 pi / P) k cos i,
// wdot = (3 pi / 2P) k (5 cos^2 i - 1). R is the mean radius (2a + b) / 3.
void SetOrbitRates(double mean_radius, double j2, Orbit& o);

// Area swept by the radius from the focus between the perigee and the true
// anomaly nu (given by its cosine and sine): (ab / 2)(E - e sin E).
double OrbitSectorArea(const Orbit& o, double cos_nu, double sin_nu);

// The true anomaly at t: (cos nu, sin nu) and a status, 0 converged, 1 not
// (the last estimate is returned). Kepler's equation is solved in the
// eccentric anomaly by Newton steps kept inside a bracket, which converges
// for every eccentricity below 1.
int SolveOrbitAnomaly(const Orbit& o, double t, double* cos_nu, double* sin_nu);

// Earth-fixed position in metres at t; the status of SolveOrbitAnomaly.
int SatellitePosition(const Orbit& o, double t, Vector3* position);

struct NadirSwath {
  geodesy::DirectionCosines nadir;  // geocentric direction of the foot point
  geodesy::DirectionCosines right;
  geodesy::DirectionCosines left;
  double height = 0.0;              // above the ellipsoid, metres
  Vector3 position;                 // the satellite, metres
};

// The nadir, the swath edges and the height at t. Status 0, or 1 when a swath
// point (or the cross-track direction) cannot be formed; a non-converged
// anomaly gives 1 too. swath may be null: the edges are then not formed.
int SatelliteNadirAndSwath(const geodesy::Ellipsoid& e, const Orbit& o, const Swath* swath, double t,
                           NadirSwath* out);

// The foot point of a position on the ellipsoid: the geocentric direction of
// the surface point below it and the height above it.
void FootPoint(const geodesy::Ellipsoid& e, const Vector3& s, geodesy::DirectionCosines* nadir, double* height);

// Central angle from the nadir to a swath edge at off-nadir angle alpha, for a
// local radius r and a distance D of the satellite from the centre: the look
// ray's hit asin(D sin alpha / r) - alpha, or past the grazing angle the
// horizon acos(r / D). Signed like alpha.
double SwathCentralAngle(double r, double D, double sin_alpha, double cos_alpha);

}  // namespace orbits

// The files of the orbit commands: the satellite file (".sat"), the shared
// time arguments, and the receiver file (".rcv").
//
// Satellite file: the keyword = value syntax of the initialisation file, read
// through a keyed store. The keys, in the order they are checked, with their
// defaults: orbit.type ("classical"), orbit.number (1), epoch.date,
// epoch.time, epoch.node (ascending / descending / seconds since perigee),
// longitude (of the ascending node), inclination, argument.perigee,
// eccentricity (0), semi.major.axis and period (one of them, or both), and,
// only when a swath is wanted, the right and left limits of the sensor named
// by the first key that begins with "sensor" ("<sensor>.right.limit", or
// plain "right.limit" without a sensor key). Every bad key stops the reading
// with its message.
//
// Times: a date in the date syntax and a time of day written like an angle
// in degrees, minutes and seconds (hours, minutes, seconds: "12:30:15.5").
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "interp/global.h"
#include "interp/keyed_store.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/orbits/orbit_model.h"

namespace interp {

// What reading a satellite file needs from the running program.
struct SatelliteEnv {
  double gm = orbits::DEFAULT_GM;
  double j2 = orbits::DEFAULT_J2;
  geodesy::Ellipsoid ellipsoid;  // its mean radius bounds a and sets the J2 rates
};

// The longest sensor name kept.
inline constexpr int SENSOR_NAME_CHARS = 31;

// The satellite file's keys in the store: 1 a swath was read, 0 none was
// asked for, -1 a key is bad (message holds the text to post).
int ParseSatelliteStore(const KeyedStore* store, const SatelliteEnv& env, bool want_swath, orbits::Orbit* orbit,
                        orbits::Swath* swath, std::string* message);

// Completes the name (data directory, ".sat"), reads and checks the file;
// posts the message and sets error level 4 on failure. Results as above.
int ReadSatelliteFile(GlobalBlock& g, const char* name, orbits::Orbit* orbit, orbits::Swath* swath,
                      bool want_swath);

// A time of day in seconds (0 to 86400), false when the text is not one.
bool ParseTimeOfDay(const char* text, double* seconds);

// The time arguments of the traces: seconds after the satellite's epoch.
struct TraceTimes {
  double start = 0.0;
  double end = 0.0;
  double step = 1.0;
  int64_t steps = 0;  // trace steps t = start, start + step, ... while t < end
};

// Reads start day, start time, end day, end time and step from *rest
// (advancing it); posts the message and sets error level 4 on failure.
bool ReadTraceTimes(GlobalBlock& g, const char** rest, const orbits::Orbit& orbit, TraceTimes* times);

// The date text and time of day of t seconds after the epoch:
// "Wed Aug 13 2025" and hours, minutes, seconds, tenths.
struct ClockTime {
  char date[16] = {};
  int hours = 0, minutes = 0, seconds = 0, tenths = 0;
};
ClockTime EpochClock(const orbits::Orbit& orbit, double t);

// ---- receivers ----

inline constexpr int RECEIVER_NAME_CHARS = 31;

struct Receiver {
  geodesy::DirectionCosines p;  // geodetic latitude and longitude on the ellipsoid
  double sin_zenith = 0.0;
  double cos_zenith = 1.0;
  double elevation = 0.0;       // metres
  char name[RECEIVER_NAME_CHARS + 1] = {};
};

// The outcome of one receiver line.
enum ReceiverLine {
  kReceiverOk = 0,
  kReceiverSkip,            // blank or comment
  kReceiverBadCoordinates,
  kReceiverMissingElevation,
  kReceiverBadElevation,
  kReceiverMissingZenith,
  kReceiverBadZenith,
  kReceiverMissingName,
};

// Parses one line (words as NextWord reads them).
int ParseReceiverLine(const char* line, const geodesy::Ellipsoid& e, Receiver* out);
// The message of a line error, formed with the line number and the line.
const char* ReceiverLineFormat(int code);

// Reads a receiver file into n records: 0 done, 1 a line error (*line and
// *text tell which), 2 no receivers, 3 the count changed between the two
// reads. receivers null: only counts into *count.
int ReadReceiverStream(std::FILE* f, const geodesy::Ellipsoid& e, Receiver* receivers, int64_t capacity,
                       int64_t* count, int* error_code, int* line_number, std::string* line_text);

}  // namespace interp

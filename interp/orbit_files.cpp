// The satellite file, the trace time arguments and the receiver file. See
// orbit_files.h.
#include "interp/orbit_files.h"

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "interp/messages.h"
#include "interp/words.h"
#include "lib/geodesy/angle_text.h"
#include "lib/geodesy/date_text.h"

namespace interp {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kRadiansToSeconds = 206264.80624709636;  // an "angle" of hours, minutes, seconds
constexpr double kDeg = 0.017453292519943295;

std::string Trimmed(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
  return s.substr(a, b - a);
}

// The key's value, trimmed; empty when the key is absent.
std::string Key(const KeyedStore* store, const char* key, bool* present = nullptr) {
  std::string v;
  const bool found = GetKeyString(store, key, v);
  if (present) *present = found;
  return found ? Trimmed(v) : std::string();
}

// A whole number text as a double; false for anything else (or nothing).
bool Number(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

bool Fail(std::string* message, const char* format, const std::string& text) {
  char buf[400];
  std::snprintf(buf, sizeof buf, format, text.c_str());
  *message = buf;
  return false;
}

// The name of the first key that begins with "sensor", empty when none.
std::string SensorKeyName(const KeyedStore* store) {
  for (std::size_t off : store->keyLines) {
    std::size_t end = off;
    while (end < store->text.size()) {
      const char ch = store->text[end];
      if (!(std::isalnum(static_cast<unsigned char>(ch)) || ch == '.' || ch == '_')) break;
      ++end;
    }
    const std::string key = store->text.substr(off, end - off);
    if (key.compare(0, 6, "sensor") == 0) return key;
  }
  for (const auto& kv : store->runTime)
    if (kv.first.compare(0, 6, "sensor") == 0) return kv.first;
  return std::string();
}

}  // namespace

bool ParseTimeOfDay(const char* text, double* seconds) {
  if (!text || !text[0]) return false;
  double r = geodesy::ParseAngle(text, "+", "-");
  if (r == geodesy::NOVALUE) return false;
  if (r < 0.0) r += kTwoPi;
  // The way through radians leaves a few 1e-12 s ("3:00" would be
  // 10800.000000000002 and a trace to it would draw its end point): times
  // are kept to the microsecond, so the times written come out exact.
  *seconds = std::round(r * kRadiansToSeconds * 1e6) / 1e6;
  return true;
}

int ParseSatelliteStore(const KeyedStore* store, const SatelliteEnv& env, bool want_swath, orbits::Orbit* orbit,
                        orbits::Swath* swath, std::string* message) {
  orbits::Orbit o;
  std::string v;
  // orbit.type
  bool present = false;
  v = Key(store, "orbit.type", &present);
  if (!present) v = "classical";
  if (strcasecmp(v.c_str(), "classical") != 0) {
    if (!strcasecmp(v.c_str(), "nasa") || !strcasecmp(v.c_str(), "norad") || !strcasecmp(v.c_str(), "tbus"))
      Fail(message, "To be implemented...(%s)", v);
    else
      Fail(message, "Unrecognized orbit type (%s)", v);
    return -1;
  }
  o.orbit_number = GetKeyInteger(store, "orbit.number", 1);
  // epoch.date, epoch.time
  v = Key(store, "epoch.date");
  const uint32_t day = v.empty() ? geodesy::INVALID_DAY : geodesy::ParseDate(v);
  if (day == geodesy::INVALID_DAY) return Fail(message, "Missing or invalid epoch date (%s)", v), -1;
  o.epoch_day = day;
  v = Key(store, "epoch.time");
  if (!ParseTimeOfDay(v.c_str(), &o.epoch_seconds)) return Fail(message, "Missing or invalid epoch time (%s)", v), -1;
  // epoch.node
  v = Key(store, "epoch.node");
  int epoch_kind = orbits::kEpochSincePerigee;
  double since_perigee = 0.0;
  if (!strcasecmp(v.c_str(), "ascending"))
    epoch_kind = orbits::kEpochAscending;
  else if (!strcasecmp(v.c_str(), "descending"))
    epoch_kind = orbits::kEpochDescending;
  else if (!v.empty())
    since_perigee = std::atof(v.c_str());
  if (!std::isfinite(since_perigee)) since_perigee = 0.0;
  // The angles.
  v = Key(store, "longitude");
  const double node = v.empty() ? geodesy::NOVALUE : geodesy::ParseAngle(v, geodesy::LON_POSITIVE, geodesy::LON_NEGATIVE);
  if (node == geodesy::NOVALUE) return Fail(message, "Missing or invalid longitude (%s)", v), -1;
  v = Key(store, "inclination");
  const double incl = v.empty() ? geodesy::NOVALUE : geodesy::ParseAngle(v, "+", "-");
  if (incl == geodesy::NOVALUE) return Fail(message, "Missing or invalid inclination (%s)", v), -1;
  v = Key(store, "argument.perigee");
  const double perigee = v.empty() ? geodesy::NOVALUE : geodesy::ParseAngle(v, "+", "-");
  if (perigee == geodesy::NOVALUE) return Fail(message, "Missing or invalid argument of perigee (%s)", v), -1;
  // Shape and size.
  v = Key(store, "eccentricity");
  double ecc = 0.0;
  if (!v.empty() && (!Number(v, &ecc) || ecc < 0.0 || ecc > 0.95))
    return Fail(message, "Invalid eccentricity (%s)", v), -1;
  const double R = geodesy::MeanRadius(env.ellipsoid);
  // Set gravity.parameters takes any numbers: an unusable GM would make
  // every position NaN.
  if (!(env.gm > 0.0) || !std::isfinite(env.gm) || !std::isfinite(env.j2)) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "Invalid gravity parameters (%g %g)", env.gm, env.j2);
    *message = buf;
    return -1;
  }
  double a = 0.0, period = 0.0;
  v = Key(store, "semi.major.axis");
  const bool have_a = !v.empty();
  if (have_a && (!Number(v, &a) || a < R || a > 20.0 * R)) return Fail(message, "Invalid semi-major axis (%s)", v), -1;
  v = Key(store, "period");
  const bool have_p = !v.empty();
  if (have_p && (!Number(v, &period) || period < 3600.0 || period > 12000.0))
    return Fail(message, "Invalid period (%s)", v), -1;
  if (!have_a && !have_p) {
    *message = "Neither period nor semi-major axis given";
    return -1;
  }
  if (!have_a) a = orbits::OrbitSemiMajorAxis(period, env.gm);
  if (!have_p) period = orbits::OrbitPeriod(a, env.gm);
  // The swath limits, only when asked for.
  orbits::Swath s;
  if (want_swath) {
    std::string prefix;
    const std::string sensor_key = SensorKeyName(store);
    if (!sensor_key.empty()) {
      prefix = Key(store, sensor_key.c_str());
      if (prefix.size() > SENSOR_NAME_CHARS) prefix.resize(SENSOR_NAME_CHARS);
      if (!prefix.empty()) prefix += ".";
    }
    const std::string rv = Key(store, (prefix + "right.limit").c_str());
    const double right = rv.empty() ? geodesy::NOVALUE : geodesy::ParseAngle(rv, "+", "-");
    if (right == geodesy::NOVALUE || right < -90.0 * kDeg - 1e-15)
      return Fail(message, "Missing or invalid right swath limit (%s)", rv), -1;
    const std::string lv = Key(store, (prefix + "left.limit").c_str());
    const double left = lv.empty() ? geodesy::NOVALUE : geodesy::ParseAngle(lv, "+", "-");
    if (left == geodesy::NOVALUE || left > 90.0 * kDeg + 1e-15)
      return Fail(message, "Missing or invalid left swath limit (%s)", lv), -1;
    if (right > left) return Fail(message, "Swath limit error: left (%s) smaller than right", lv), -1;
    geodesy::SinCos(right, s.sin_right, s.cos_right);
    geodesy::SinCos(left, s.sin_left, s.cos_left);
  }
  o.a = a;
  o.period = period;
  orbits::SetOrbitShape(o, ecc, node, incl, perigee);
  o.t0 = orbits::EpochTimeSincePerigee(o, perigee, epoch_kind, since_perigee);
  orbits::SetOrbitRates(R, env.j2, o);
  *orbit = o;
  if (want_swath && swath) *swath = s;
  return want_swath ? 1 : 0;
}

int ReadSatelliteFile(GlobalBlock& g, const char* name, orbits::Orbit* orbit, orbits::Swath* swath,
                      bool want_swath) {
  char path[FILE_NAME_SIZE];
  BuildFileName(name, g.dirs.data.c_str(), ".sat", path);
  KeyedStore* store = OpenKeyedStore(path);
  if (!store) {
    PostText(4, "Can't find satellite file %s", path);
    g.error_level = EL_FAILURE;
    return -1;
  }
  SatelliteEnv env;
  env.gm = g.settings.gravity_gm;
  env.j2 = g.settings.gravity_j2;
  env.ellipsoid = g.ellipsoid ? *g.ellipsoid : geodesy::MakeEllipsoid();
  std::string message;
  const int r = ParseSatelliteStore(store, env, want_swath, orbit, swath, &message);
  CloseKeyedStore(store);
  if (r < 0) {
    PostText(4, "%s", message.c_str());
    g.error_level = EL_FAILURE;
  }
  return r;
}

bool ReadTraceTimes(GlobalBlock& g, const char** rest, const orbits::Orbit& orbit, TraceTimes* times) {
  char word[WORD_SIZE];
  double seconds[2] = {0.0, 0.0};
  static const char* const kDay[2] = {"Invalid start day (%s)", "Invalid end day (%s)"};
  static const char* const kTime[2] = {"Invalid start time (%s)", "Invalid end time (%s)"};
  for (int i = 0; i < 2; ++i) {
    *rest = NextWord(*rest, word, WORD_SIZE);
    const uint32_t day = word[0] ? geodesy::ParseDate(word) : geodesy::INVALID_DAY;
    if (day == geodesy::INVALID_DAY) {
      PostText(4, kDay[i], word);
      g.error_level = EL_FAILURE;
      return false;
    }
    *rest = NextWord(*rest, word, WORD_SIZE);
    double tod = 0.0;
    if (!ParseTimeOfDay(word, &tod)) {
      PostText(4, kTime[i], word);
      g.error_level = EL_FAILURE;
      return false;
    }
    seconds[i] = (static_cast<double>(day) - static_cast<double>(orbit.epoch_day)) * 86400.0 +
                 (tod - orbit.epoch_seconds);
  }
  *rest = NextWord(*rest, word, WORD_SIZE);
  const double step = std::atof(word);
  if (!(step >= 1.0) || !std::isfinite(step)) {
    PostText(4, "Invalid time-step (%s)", word);
    g.error_level = EL_FAILURE;
    return false;
  }
  if (!(seconds[0] >= 0.0) || !(seconds[0] < seconds[1])) {
    PostText(4, "Invalid start/end times");
    g.error_level = EL_FAILURE;
    return false;
  }
  times->start = seconds[0];
  times->end = seconds[1];
  times->step = step;
  times->steps = static_cast<int64_t>(std::ceil((seconds[1] - seconds[0]) / step));
  return true;
}

ClockTime EpochClock(const orbits::Orbit& orbit, double t) {
  ClockTime c;
  const double total = orbit.epoch_seconds + t;
  double days = std::floor(total / 86400.0);
  double in_day = total - days * 86400.0;
  // Tenths are cut, not rounded, so a time never shows as 24:00:00.0.
  int64_t tenths = static_cast<int64_t>(std::floor(in_day * 10.0 + 1e-6));
  if (tenths >= 864000) {
    tenths -= 864000;
    days += 1;
  }
  geodesy::DateRecord date;
  const double dn = static_cast<double>(orbit.epoch_day) + days;
  if (dn >= 0 && dn <= 65743 && geodesy::DateFromDayNumber(static_cast<uint32_t>(dn), date))
    geodesy::DateText(date, c.date, sizeof c.date);
  else
    std::snprintf(c.date, sizeof c.date, "day %.0f", dn);
  c.hours = static_cast<int>(tenths / 36000);
  c.minutes = static_cast<int>(tenths / 600 % 60);
  c.seconds = static_cast<int>(tenths / 10 % 60);
  c.tenths = static_cast<int>(tenths % 10);
  return c;
}

// ---------------------------------------------------------------- receivers

int ParseReceiverLine(const char* line, const geodesy::Ellipsoid& e, Receiver* out) {
  char w[WORD_SIZE];
  const char* rest = NextWord(line, w, WORD_SIZE);
  if (!w[0] || w[0] == '*' || w[0] == ';') return kReceiverSkip;
  const double lat = geodesy::ParseAngle(w, geodesy::LAT_POSITIVE, geodesy::LAT_NEGATIVE);
  rest = NextWord(rest, w, WORD_SIZE);
  const double lon = w[0] ? geodesy::ParseAngle(w, geodesy::LON_POSITIVE, geodesy::LON_NEGATIVE) : geodesy::NOVALUE;
  if (lat == geodesy::NOVALUE || lon == geodesy::NOVALUE || std::fabs(lat) > M_PI / 2) return kReceiverBadCoordinates;
  rest = NextWord(rest, w, WORD_SIZE);
  if (!w[0]) return kReceiverMissingElevation;
  double elevation = 0.0;
  if (!Number(w, &elevation) || elevation < 1000.0 || elevation > 10000.0) return kReceiverBadElevation;
  rest = NextWord(rest, w, WORD_SIZE);
  if (!w[0]) return kReceiverMissingZenith;
  const double zenith = geodesy::ParseAngle(w, "+", "-");
  if (zenith == geodesy::NOVALUE || zenith < 0.017453292519943295 || zenith > 1.7453292519943295)
    return kReceiverBadZenith;
  NextWord(rest, w, WORD_SIZE);
  if (!w[0]) return kReceiverMissingName;
  Receiver r;
  r.p = geodesy::GeodeticToCosines({lat, lon}, e);
  geodesy::SinCos(zenith, r.sin_zenith, r.cos_zenith);
  r.elevation = elevation;
  std::snprintf(r.name, sizeof r.name, "%s", w);
  *out = r;
  return kReceiverOk;
}

const char* ReceiverLineFormat(int code) {
  switch (code) {
    case kReceiverBadCoordinates: return "error (line:%d) invalid coordinates >%s";
    case kReceiverMissingElevation: return "error (line:%d) missing elevation >%s";
    case kReceiverBadElevation: return "error (line:%d) invalid elevation >%s";
    case kReceiverMissingZenith: return "error (line:%d) missing zenith angle >%s";
    case kReceiverBadZenith: return "error (line:%d) invalid zenith angle >%s";
    case kReceiverMissingName: return "error (line:%d) missing receiver name >%s";
    default: return "error (line:%d) >%s";
  }
}

int ReadReceiverStream(std::FILE* f, const geodesy::Ellipsoid& e, Receiver* receivers, int64_t capacity,
                       int64_t* count, int* error_code, int* line_number, std::string* line_text) {
  *count = 0;
  std::string line;
  int number = 0;
  int ch = 0;
  while (ch != EOF) {
    line.clear();
    while ((ch = std::fgetc(f)) != EOF && ch != '\n') line.push_back(static_cast<char>(ch));
    if (ch == EOF && line.empty()) break;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // NextWord stops at a NUL: a line with one is read up to it.
    Receiver r;
    const int code = ParseReceiverLine(line.c_str(), e, &r);
    if (code == kReceiverSkip) continue;
    if (code != kReceiverOk) {
      *error_code = code;
      *line_number = number;
      *line_text = line.c_str();
      return 1;
    }
    if (receivers) {
      if (*count >= capacity) {
        ++*count;
        return 0;  // more than counted: the caller sees the count differ
      }
      receivers[*count] = r;
    }
    ++*count;
  }
  return 0;
}

}  // namespace interp

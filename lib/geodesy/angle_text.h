// Angle text: parsing latitudes and longitudes typed by people, and writing
// them by format codes.
//
// Parsed text: an optional first letter or sign from the caller's positive
// and negative sets (LAT_POSITIVE/LAT_NEGATIVE, LON_POSITIVE/LON_NEGATIVE),
// then degrees, optionally ":" or "/" and minutes, optionally another
// separator and seconds. Only the last field given may have a decimal point;
// at most 20 digits in all; degrees above 720 are refused. The result is
// wrapped into [-pi, pi] by whole turns (only -180 degrees itself stays at
// -pi); the caller checks the latitude range.
//
// A format code has four characters and an optional fifth:
//   1 letter for an angle >= 0, 2 letter for a negative angle,
//   3 'd' decimal degrees, 'm' degrees and decimal minutes, any other
//     letter ('s' by convention) degrees, minutes and decimal seconds,
//   4 decimals of the last field '0'..'9' (any other character means 0),
//   5 optional character written after the angle.
// The degrees field is always four characters: the letter right before the
// first significant digit, blanks in front ("n123", " n45", "  n5").
#pragma once

#include <cstddef>
#include <string_view>

namespace geodesy {

inline constexpr std::string_view LAT_POSITIVE = "+Nn";
inline constexpr std::string_view LAT_NEGATIVE = "-Ss";
inline constexpr std::string_view LON_POSITIVE = "+Ee";
inline constexpr std::string_view LON_NEGATIVE = "-Ww";

// Room for any formatted angle including the terminating NUL.
inline constexpr std::size_t ANGLE_TEXT_SIZE = 32;

// The angle in radians in [-pi, pi], or NOVALUE when the text is invalid.
double ParseAngle(std::string_view text, std::string_view positive, std::string_view negative);

// Writes the angle (radians) by the format code into out (size bytes, at
// least ANGLE_TEXT_SIZE for the whole text; shorter buffers get a truncated,
// NUL-terminated text) and returns out. With out null the text goes into one
// static buffer that the next such call overwrites. An angle of a million
// degrees or more (or not a number) has no degrees to write: its degrees
// field is the letter and "***".
const char* FormatAngle(double radians, std::string_view code, char* out = nullptr,
                        std::size_t size = 0);

// True when a user may give this code for export: at least four characters,
// the third one of "dms", the fourth a digit, at most five characters.
bool IsValidAngleCode(std::string_view code);

// The default export codes for the angle.sexagesimal setting:
// 0 "nsd6 "/"ewd6", 1 "nss1 "/"ews1", any other value "nsm4 "/"ewm4".
struct AngleCodes {
  const char* latitude;
  const char* longitude;
};
AngleCodes DefaultAngleCodes(int sexagesimal);

}  // namespace geodesy

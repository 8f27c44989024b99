// Colour values and the colour notation of style strings.
//
// A colour value is 32 bits with red in the low byte, green in the next and
// blue in the third (0x00BBGGRR); the top byte is zero. A style string names
// its colour one of four ways, tried in this order:
//   1. a colour name before the first "/" or ":" ("red/w3");
//   2. the whole string as a colour name ("DarkSeaGreen");
//   3. "c" and a palette number 0..215 (clamped), a 6 x 6 x 6 cube:
//      blue 51*(n mod 6), green 51*((n div 12) mod 6),
//      red 102*(n div 72) + 51*((n div 6) mod 2);
//   4. "r", "g", "b" each followed by a number (modulo 256, missing 0).
// The 140 names are the HTML/CSS colour set, compared without regard to case.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace display {

inline constexpr uint32_t MakeColour(uint32_t r, uint32_t g, uint32_t b) {
  return (r & 0xff) | ((g & 0xff) << 8) | ((b & 0xff) << 16);
}
inline constexpr uint32_t RedOf(uint32_t c) { return c & 0xff; }
inline constexpr uint32_t GreenOf(uint32_t c) { return (c >> 8) & 0xff; }
inline constexpr uint32_t BlueOf(uint32_t c) { return (c >> 16) & 0xff; }

struct NamedColour {
  const char* name;
  uint32_t value;
};

// The sorted table of colour names (case-insensitive order) and its length.
inline constexpr int kColourNameCount = 140;
extern const NamedColour kColourNames[kColourNameCount];

// Binary search of the name table; surrounding blanks are ignored.
bool LookupColourName(std::string_view name, uint32_t* value);

// Palette colour n of the "c" notation, n clamped to 0..215.
uint32_t PaletteColour(long n);

// Reads the colour of a style string by the four rules above. A name found
// by rule 1 is overwritten with blanks and by rule 2 the string is emptied,
// so that the letters of a name are not read again as style letters.
uint32_t ReadStyleColour(std::string& value);

// The number after the first occurrence of letter (a digit or a sign and a
// digit must follow it) read as by atoi; *found tells whether there was one.
long LetterNumber(const std::string& value, char letter, bool* found = nullptr);

}  // namespace display

// Colour names and the colour notation.
//
// The name table is sorted without regard to case so that a lookup is a
// binary search. Letter numbers are found by a left-to-right scan for the
// letter immediately followed by a digit (or a sign and a digit); the first
// such occurrence wins, as a person writing "w3p2" would expect.
#include "lib/display/colour.h"

#include <cstdlib>
#include <strings.h>

namespace display {

const NamedColour kColourNames[kColourNameCount] = {
    {"AliceBlue", 0xfff8f0u},
    {"AntiqueWhite", 0xd7ebfau},
    {"Aqua", 0xffff00u},
    {"Aquamarine", 0xd4ff7fu},
    {"Azure", 0xfffff0u},
    {"Beige", 0xdcf5f5u},
    {"Bisque", 0xc4e4ffu},
    {"Black", 0x000000u},
    {"BlanchedAlmond", 0xcdebffu},
    {"Blue", 0xff0000u},
    {"BlueViolet", 0xe22b8au},
    {"Brown", 0x2a2aa5u},
    {"Burlywood", 0x87b8deu},
    {"CadetBlue", 0xa09e5fu},
    {"Chartreuse", 0x00ff7fu},
    {"Chocolate", 0x1e69d2u},
    {"Coral", 0x507fffu},
    {"CornFlowerBlue", 0xed9564u},
    {"CornSilk", 0xdcf8ffu},
    {"Crimson", 0x3c14dcu},
    {"Cyan", 0xffff00u},
    {"DarkBlue", 0x8b0000u},
    {"DarkCyan", 0x8b8b00u},
    {"DarkGoldenrod", 0x0b86b8u},
    {"DarkGray", 0xa9a9a9u},
    {"DarkGreen", 0x006400u},
    {"DarkKhaki", 0x6bb7bdu},
    {"DarkMagenta", 0x8b008bu},
    {"DarkOliveGreen", 0x2f6b55u},
    {"DarkOrange", 0x008cffu},
    {"DarkOrchid", 0xcc3299u},
    {"DarkRed", 0x00008bu},
    {"DarkSalmon", 0x7a96e9u},
    {"DarkSeaGreen", 0x8fbc8fu},
    {"DarkSlateBlue", 0x8b3d48u},
    {"DarkSlateGray", 0x4f4f2fu},
    {"DarkTurquoise", 0xd1ce00u},
    {"DarkViolet", 0xd30094u},
    {"DeepPink", 0x9314ffu},
    {"DeepSkyBlue", 0xffbf00u},
    {"DimGray", 0x696969u},
    {"DodgerBlue", 0xff901eu},
    {"FireBrick", 0x2222b2u},
    {"FloralWhite", 0xf0faffu},
    {"ForestGreen", 0x228b22u},
    {"Fuchsia", 0xff00ffu},
    {"Gainsboro", 0xdcdcdcu},
    {"GhostWhite", 0xfff8f8u},
    {"Gold", 0x00d7ffu},
    {"Goldenrod", 0x20a5dau},
    {"Gray", 0x808080u},
    {"Green", 0x008000u},
    {"GreenYellow", 0x2fffadu},
    {"Honeydew", 0xf0fff0u},
    {"Hotpink", 0xb469ffu},
    {"IndianRed", 0x5c5ccdu},
    {"Indigo", 0x82004bu},
    {"Ivory", 0xf0ffffu},
    {"Khaki", 0x8ce6f0u},
    {"Lavender", 0xfae6e6u},
    {"LavenderBlush", 0xf5f0ffu},
    {"LawnGreen", 0x00fc7cu},
    {"LemonChiffon", 0xcdfaffu},
    {"LightBlue", 0xe6d8adu},
    {"LightCoral", 0x8080f0u},
    {"LightCyan", 0xffffe0u},
    {"LightGoldenrodYellow", 0xd2fafau},
    {"LightGray", 0xd3d3d3u},
    {"LightGreen", 0x90ee90u},
    {"LightPink", 0xc1b6ffu},
    {"LightSalmon", 0x7aa0ffu},
    {"LightSeaGreen", 0xaab220u},
    {"LightSkyBlue", 0xface87u},
    {"LightSlateGray", 0x998877u},
    {"LightSteelBlue", 0xdec4b0u},
    {"LightYellow", 0xe0ffffu},
    {"Lime", 0x00ff00u},
    {"LimeGreen", 0x32cd32u},
    {"Linen", 0xe6f0fau},
    {"Magenta", 0xff00ffu},
    {"Maroon", 0x000080u},
    {"MediumAquamarine", 0xaacd66u},
    {"MediumBlue", 0xcd0000u},
    {"MediumOrchid", 0xd355bau},
    {"MediumPurple", 0xdb7093u},
    {"MediumSeaGreen", 0x71b33cu},
    {"MediumSlateBlue", 0xee687bu},
    {"MediumSpringGreen", 0x9afa00u},
    {"MediumTurquoise", 0xccd148u},
    {"MediumVioletRed", 0x8515c7u},
    {"MidnightBlue", 0x701919u},
    {"MintCream", 0xfafff5u},
    {"MistyRose", 0xe1e4ffu},
    {"Moccasin", 0xb5e4ffu},
    {"NavajoWhite", 0xaddeffu},
    {"Navy", 0x800000u},
    {"OldLace", 0xe6f5fdu},
    {"Olive", 0x008080u},
    {"OliveDrab", 0x238e6bu},
    {"Orange", 0x00a5ffu},
    {"OrangeRed", 0x0045ffu},
    {"Orchid", 0xd670dau},
    {"PaleGoldenrod", 0xaae8eeu},
    {"PaleGreen", 0x98fb98u},
    {"PaleTurquoise", 0xeeeeafu},
    {"PaleVioletRed", 0x9370dbu},
    {"PapayaWhip", 0xd5efffu},
    {"Peachpuff", 0xb9daffu},
    {"Peru", 0x3f85cdu},
    {"Pink", 0xcbc0ffu},
    {"Plum", 0xdda0ddu},
    {"PowderBlue", 0xe6e0b0u},
    {"Purple", 0x800080u},
    {"Red", 0x0000ffu},
    {"RosyBrown", 0x8f8fbcu},
    {"RoyalBlue", 0xe16941u},
    {"SaddleBrown", 0x13458bu},
    {"Salmon", 0x7280fau},
    {"SandyBrown", 0x60a4f4u},
    {"SeaGreen", 0x578b2eu},
    {"SeaShell", 0xeef5ffu},
    {"Sienna", 0x2d52a0u},
    {"Silver", 0xc0c0c0u},
    {"SkyBlue", 0xebce87u},
    {"SlateBlue", 0xcd5a6au},
    {"SlateGray", 0x908070u},
    {"Snow", 0xfafaffu},
    {"SpringGreen", 0x7fff00u},
    {"SteelBlue", 0xb48246u},
    {"Tan", 0x8cb4d2u},
    {"Teal", 0x808000u},
    {"Thistle", 0xd8bfd8u},
    {"Tomato", 0x4763ffu},
    {"Turquoise", 0xd0e040u},
    {"Violet", 0xee82eeu},
    {"Wheat", 0xb3def5u},
    {"White", 0xffffffu},
    {"WhiteSmoke", 0xf5f5f5u},
    {"Yellow", 0x00ffffu},
    {"YellowGreen", 0x32cd9au},
};

namespace {

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

int CompareNoCase(std::string_view a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    const int ca = (unsigned char)a[i] >= 'A' && (unsigned char)a[i] <= 'Z' ? a[i] - 'A' + 'a' : (unsigned char)a[i];
    const int cb = b[i] >= 'A' && b[i] <= 'Z' ? b[i] - 'A' + 'a' : (unsigned char)b[i];
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (i < a.size()) return 1;
  return b[i] ? -1 : 0;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool LookupColourName(std::string_view name, uint32_t* value) {
  name = Trimmed(name);
  if (name.empty()) return false;
  int lo = 0, hi = kColourNameCount - 1;
  while (lo <= hi) {
    const int mid = (lo + hi) / 2;
    const int c = CompareNoCase(name, kColourNames[mid].name);
    if (c == 0) {
      *value = kColourNames[mid].value;
      return true;
    }
    if (c < 0)
      hi = mid - 1;
    else
      lo = mid + 1;
  }
  return false;
}

uint32_t PaletteColour(long n) {
  if (n < 0) n = 0;
  if (n > 215) n = 215;
  return MakeColour((uint32_t)(102 * (n / 72) + 51 * ((n / 6) % 2)), (uint32_t)(51 * ((n / 12) % 6)),
                    (uint32_t)(51 * (n % 6)));
}

long LetterNumber(const std::string& value, char letter, bool* found) {
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != letter) continue;
    const size_t j = i + 1;
    if (j < value.size() && (IsDigit(value[j]) || ((value[j] == '-' || value[j] == '+') &&
                                                   j + 1 < value.size() && IsDigit(value[j + 1])))) {
      if (found) *found = true;
      return strtol(value.c_str() + j, nullptr, 10);
    }
  }
  if (found) *found = false;
  return 0;
}

uint32_t ReadStyleColour(std::string& value) {
  uint32_t colour = 0;
  const size_t cut = value.find_first_of("/:");
  if (cut != std::string::npos) {
    if (LookupColourName(std::string_view(value).substr(0, cut), &colour)) {
      for (size_t i = 0; i < cut; ++i) value[i] = ' ';
      return colour;
    }
  } else if (LookupColourName(value, &colour)) {
    value.clear();
    return colour;
  }
  bool found = false;
  const long n = LetterNumber(value, 'c', &found);
  if (found) return PaletteColour(n);
  const long r = LetterNumber(value, 'r'), g = LetterNumber(value, 'g'), b = LetterNumber(value, 'b');
  return MakeColour((uint32_t)(r & 0xff), (uint32_t)(g & 0xff), (uint32_t)(b & 0xff));
}

}  // namespace display

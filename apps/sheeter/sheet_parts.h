// The pieces of a map sheet that do not need the whole program: line-work
// ranges, theme and label-set definitions, output device names, marker
// files, label files and the scale bar's length and caption.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sheeter {

// Splits a value into words: words are separated by blanks or by one comma
// (with blanks around it); two commas in a row leave an empty word between.
std::vector<std::string> SplitWords(const std::string& value);

// A line-work value "lower style upper": drawn when lower < scale <= upper;
// an empty or missing lower is 1.0, an empty or missing upper the largest
// double. A limit that is not a number is refused (false).
struct ScaleRange {
  double lower = 1.0;
  double upper = 0.0;  // set by the parser
  std::string style;
};
bool ParseLineWork(const std::string& value, ScaleRange* r);
inline bool InRange(const ScaleRange& r, double scale) { return r.lower < scale && scale <= r.upper; }

// A theme definition "dimension, file, style[, lower, upper]".
struct ThemeDef {
  std::string dimension, file, style;
  ScaleRange range;
};
bool ParseTheme(const std::string& value, ThemeDef* t);

// A label set definition "object, locations, names, make".
struct LabelSetDef {
  std::string object, locations, names, make;
};
bool ParseLabelSet(const std::string& value, LabelSetDef* l);

// Output device names: "prn", "lpt1".."lpt4", "com1".."com4", with or without
// a trailing ":", any case. Gives the lower-case name without ":".
bool IsDeviceName(const std::string& name, std::string* device);
// The file a device is copied to: lptN -> <dir>lp(N-1), comN -> <dir>ttyS(N-1)
// (dir "/dev/" unless given); "" for prn (copied through the copy program).
std::string DevicePath(const std::string& device, const std::string& dir);

// The marker file: "number name" lines, each followed by the line of HPGL
// that draws the marker; ";" comments and blank lines are skipped, leading
// blanks dropped.
struct MarkerFile {
  std::map<int, std::string> markers;
};
bool LoadMarkerFile(const std::string& path, MarkerFile* m);
void ParseMarkerText(const std::string& text, MarkerFile* m);

// Label location lines "id origin size [dx dy]": origin 11..19, size in
// points 5.5..21, offset in millimetres. Short or out-of-range lines are
// counted as bad and skipped; the first line of an id counts.
struct LabelPlace {
  int origin = 11;
  double size = 7.0;
  double dx = 0.0, dy = 0.0;
};
struct LabelFiles {
  std::map<int64_t, LabelPlace> places;
  std::map<int64_t, std::string> names;
  int bad_lines = 0;
};
void ParseLabelLocations(const std::string& text, LabelFiles* f);
void ParseLabelNames(const std::string& text, LabelFiles* f);
// Make codes: "name", "upper", "id", "id-name"; -1 for any other.
int MakeCode(const std::string& code);
std::string MakeLabel(int code, int64_t id, const std::string& name);

// The scale bar: a length of 1, 2 or 5 x 10^k units nearest a quarter of the
// frame's ground width. units: "km" (also the default), "nmi", "mi".
struct ScaleBar {
  double unit_metres = 1000.0;
  double length_units = 1.0;   // the bar's length in units
  double caption_divisor = 1;  // numbers on the ticks are length / divisor
  std::string caption;         // "km", "x 1000 km", "Nautical miles", ...
};
ScaleBar ChooseScaleBar(const std::string& units, double quarter_width_metres);


}  // namespace sheeter

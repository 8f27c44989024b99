#include "apps/sheeter/sheet_parts.h"
#include "platform/profile.h"

#include <sys/stat.h>

#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace sheeter {

namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string Lower(std::string s) {
  for (char& c : s) c = (char)std::tolower((unsigned char)c);
  return s;
}

// A whole number word: true when all of it is read.
bool ReadDouble(const std::string& w, double* v) {
  if (w.empty()) return false;
  char* end = nullptr;
  const double d = std::strtod(w.c_str(), &end);
  if (*end != '\0' || !std::isfinite(d)) return false;
  *v = d;
  return true;
}

bool ReadInt(const std::string& w, int64_t* v) {
  if (w.empty()) return false;
  char* end = nullptr;
  const long long n = std::strtoll(w.c_str(), &end, 10);
  if (*end != '\0') return false;
  *v = n;
  return true;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i <= text.size()) {
    size_t j = text.find('\n', i);
    if (j == std::string::npos) j = text.size();
    std::string line = text.substr(i, j - i);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
    i = j + 1;
  }
  return out;
}

std::string TrimLeft(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && Blank(s[i])) ++i;
  return s.substr(i);
}

std::string Trim(const std::string& s) {
  std::string t = TrimLeft(s);
  while (!t.empty() && Blank(t.back())) t.pop_back();
  return t;
}

// Comma-separated fields, each trimmed.
std::vector<std::string> Fields(const std::string& value) {
  std::vector<std::string> out;
  size_t i = 0;
  for (;;) {
    const size_t j = value.find(',', i);
    out.push_back(Trim(value.substr(i, j == std::string::npos ? std::string::npos : j - i)));
    if (j == std::string::npos) break;
    i = j + 1;
  }
  return out;
}

}  // namespace

std::vector<std::string> SplitWords(const std::string& value) {
  std::vector<std::string> out;
  size_t i = 0;
  const size_t n = value.size();
  while (i < n && Blank(value[i])) ++i;
  while (i < n) {
    std::string w;
    while (i < n && !Blank(value[i]) && value[i] != ',') w += value[i++];
    out.push_back(w);
    while (i < n && Blank(value[i])) ++i;
    if (i < n && value[i] == ',') {
      ++i;
      while (i < n && Blank(value[i])) ++i;
      if (i == n) out.push_back("");  // a trailing comma leaves an empty word
    }
  }
  return out;
}

bool ParseLineWork(const std::string& value, ScaleRange* r) {
  const std::vector<std::string> w = SplitWords(value);
  r->lower = 1.0;
  r->upper = DBL_MAX;
  r->style.clear();
  if (w.size() > 0 && !w[0].empty() && !ReadDouble(w[0], &r->lower)) return false;
  if (w.size() > 1) r->style = w[1];
  if (w.size() > 2 && !w[2].empty() && !ReadDouble(w[2], &r->upper)) return false;
  return true;
}

bool ParseTheme(const std::string& value, ThemeDef* t) {
  const std::vector<std::string> f = Fields(value);
  if (f.size() < 2 || f.size() > 5) return false;
  t->dimension = Lower(f[0]);
  t->file = f[1];
  t->style = f.size() > 2 ? f[2] : "";
  t->range.lower = 1.0;
  t->range.upper = DBL_MAX;
  t->range.style = t->style;
  if (f.size() > 3 && !f[3].empty() && !ReadDouble(f[3], &t->range.lower)) return false;
  if (f.size() > 4 && !f[4].empty() && !ReadDouble(f[4], &t->range.upper)) return false;
  return !t->file.empty();
}

bool ParseLabelSet(const std::string& value, LabelSetDef* l) {
  const std::vector<std::string> f = Fields(value);
  if (f.size() != 4) return false;
  l->object = f[0];
  l->locations = f[1];
  l->names = f[2];
  l->make = f[3];
  return !l->object.empty() && !l->locations.empty() && !l->names.empty();
}

bool IsDeviceName(const std::string& name, std::string* device) {
  std::string s = Lower(name);
  if (!s.empty() && s.back() == ':') s.pop_back();
  const bool ok = s == "prn" || (s.size() == 4 && (s.compare(0, 3, "lpt") == 0 || s.compare(0, 3, "com") == 0) &&
                                 s[3] >= '1' && s[3] <= '4');
  if (ok && device) *device = s;
  return ok;
}

std::string DevicePath(const std::string& device, const std::string& dir) {
  std::string d = dir.empty() ? "/dev/" : dir;
  if (d.back() != '/') d += '/';
  if (device.size() != 4) return "";
  const char n = (char)(device[3] - 1);
  if (device.compare(0, 3, "lpt") == 0) return d + "lp" + n;
  if (device.compare(0, 3, "com") == 0) return d + "ttyS" + n;
  return "";
}

void ParseMarkerText(const std::string& text, MarkerFile* m) {
  m->markers.clear();
  int pending = -1;
  for (const std::string& raw : Lines(text)) {
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == ';') continue;
    if (pending < 0) {
      // "number name": the number must lead.
      char* end = nullptr;
      const long n = std::strtol(line.c_str(), &end, 10);
      if (end != line.c_str() && (*end == '\0' || Blank(*end)) && n >= 0 && n < 65536) pending = (int)n;
      continue;
    }
    if (!m->markers.count(pending)) m->markers[pending] = line;
    pending = -1;
  }
}

bool LoadMarkerFile(const std::string& path, MarkerFile* m) {
  std::string text;
  if (!platform::ReadRegularFile(path, &text)) return false;
  ParseMarkerText(text, m);
  return true;
}

void ParseLabelLocations(const std::string& text, LabelFiles* f) {
  for (const std::string& raw : Lines(text)) {
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == ';') continue;
    const std::vector<std::string> w = SplitWords(line);
    int64_t id = 0, origin = 0;
    LabelPlace p;
    bool ok = (w.size() == 3 || w.size() == 5) && ReadInt(w[0], &id) && ReadInt(w[1], &origin) &&
              ReadDouble(w[2], &p.size) && origin >= 11 && origin <= 19 && p.size >= 5.5 && p.size <= 21;
    if (ok && w.size() == 5) ok = ReadDouble(w[3], &p.dx) && ReadDouble(w[4], &p.dy) && std::fabs(p.dx) < 1e4 &&
                                  std::fabs(p.dy) < 1e4;
    if (!ok) {
      ++f->bad_lines;
      continue;
    }
    p.origin = (int)origin;
    f->places.emplace(id, p);
  }
}

void ParseLabelNames(const std::string& text, LabelFiles* f) {
  for (const std::string& raw : Lines(text)) {
    const std::string line = TrimLeft(raw);
    if (line.empty() || line[0] == ';') continue;
    size_t i = 0;
    while (i < line.size() && !Blank(line[i])) ++i;
    int64_t id = 0;
    std::string name = Trim(line.substr(i));
    // The label instruction ends at byte 3: a name may not hold one.
    bool ok = ReadInt(line.substr(0, i), &id) && !name.empty() && name.find('\x03') == std::string::npos;
    if (!ok) {
      ++f->bad_lines;
      continue;
    }
    f->names.emplace(id, name);
  }
}

int MakeCode(const std::string& code) {
  const std::string c = Lower(code);
  if (c == "name") return 0;
  if (c == "upper") return 1;
  if (c == "id") return 2;
  if (c == "id-name") return 3;
  return -1;
}

std::string MakeLabel(int code, int64_t id, const std::string& name) {
  switch (code) {
    case 1: {
      std::string u = name;
      for (char& c : u) c = (char)std::toupper((unsigned char)c);
      return u;
    }
    case 2: return std::to_string(id);
    case 3: return std::to_string(id) + "-" + name;
    default: return name;
  }
}

ScaleBar ChooseScaleBar(const std::string& units, double quarter_width_metres) {
  ScaleBar b;
  const std::string u = Lower(units);
  std::string base = "km", thousand = "x 1000 km", million = "x 1M km";
  if (u == "nmi") {
    b.unit_metres = 1852.0;
    base = "Nautical miles";
    thousand = "x 1000 nmi.";
    million = "x 1M nmi.";
  } else if (u == "mi") {
    b.unit_metres = 1609.344;
    base = "Statute miles";
    thousand = "x 1000 mi.";
    million = "x 1M mi.";
  }
  const double want = quarter_width_metres / b.unit_metres;
  double best = 1.0;
  if (want > 0 && std::isfinite(want)) {
    const double k = std::floor(std::log10(want));
    double best_err = HUGE_VAL;
    for (double e = k - 1; e <= k + 1; ++e)
      for (double m : {1.0, 2.0, 5.0}) {
        const double v = m * std::pow(10.0, e);
        const double err = std::fabs(std::log(v / want));
        if (err < best_err) {
          best_err = err;
          best = v;
        }
      }
  }
  b.length_units = best;
  if (best >= 1e6) {
    b.caption_divisor = 1e6;
    b.caption = million;
  } else if (best >= 1e3) {
    b.caption_divisor = 1e3;
    b.caption = thousand;
  } else {
    b.caption = base;
  }
  return b;
}

}  // namespace sheeter

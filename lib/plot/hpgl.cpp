// HP-GL/2 text: the PE number encoding and the instructions built on it.
#include "lib/plot/hpgl.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace plot {

int EncodeNumber(char* out, int32_t v) {
  // u fits 33 bits: 2 * 2^31 + 1 for the most negative value.
  uint64_t u = v >= 0 ? 2ull * (uint64_t)v : 2ull * (uint64_t)(-(int64_t)v) + 1;
  int n = 0;
  while (u >= 64) {
    out[n++] = (char)((u % 64) + 63);
    u /= 64;
  }
  out[n++] = (char)(u + 191);
  return n;
}

void EncodeNumber(std::string& out, int32_t v) {
  char buf[8];
  out.append(buf, (size_t)EncodeNumber(buf, v));
}

int32_t PlotUnit(double v) {
  // Differences of two units must stay inside 32 bits.
  constexpr double kLimit = 1.0e9;
  if (!(v > -kLimit)) return (int32_t)-kLimit;
  if (v > kLimit) return (int32_t)kLimit;
  return (int32_t)std::lround(v);
}

namespace {

void Pair(std::string& out, int32_t x, int32_t y) {
  EncodeNumber(out, x);
  EncodeNumber(out, y);
}

}  // namespace

void AppendPolyline(std::string& out, const display::DrawPoint* p, size_t n) {
  if (n < 2) return;
  // At most 12 bytes a point: encoded into the string's own memory.
  const size_t start = out.size();
  out.resize(start + 5 + 12 * n);
  char* w = out.data() + start;
  memcpy(w, "PE=<", 4);
  w += 4;
  int32_t lx = PlotUnit(p[0].x), ly = PlotUnit(p[0].y);
  w += EncodeNumber(w, lx);
  w += EncodeNumber(w, ly);
  for (size_t i = 1; i < n; ++i) {
    const int32_t x = PlotUnit(p[i].x), y = PlotUnit(p[i].y);
    w += EncodeNumber(w, x - lx);
    w += EncodeNumber(w, y - ly);
    lx = x;
    ly = y;
  }
  *w++ = ';';
  out.resize((size_t)(w - out.data()));
}

void AppendPolygon(std::string& out, const display::DrawPoint* p, size_t n) {
  if (n < 3) return;
  out += "PE=<";
  int32_t lx = PlotUnit(p[0].x), ly = PlotUnit(p[0].y);
  Pair(out, lx, ly);
  out += ";PM0;PE";
  for (size_t i = 1; i < n; ++i) {
    const int32_t x = PlotUnit(p[i].x), y = PlotUnit(p[i].y);
    Pair(out, x - lx, y - ly);
    lx = x;
    ly = y;
  }
  out += ";PM2;FP;";
}

void AppendRings(std::string& out, const std::vector<Ring>& rings) {
  bool first = true;
  int32_t lx = 0, ly = 0;
  for (const Ring& r : rings) {
    if (r.points.size() < 3) continue;
    if (first) {
      out += "PE=<";
      lx = r.points[0].x;
      ly = r.points[0].y;
      Pair(out, lx, ly);
      out += ";PM0;PE";
      first = false;
    } else {
      out += ";PM1;PE<";
      Pair(out, r.points[0].x - lx, r.points[0].y - ly);
      lx = r.points[0].x;
      ly = r.points[0].y;
    }
    for (size_t i = 1; i < r.points.size(); ++i) {
      Pair(out, r.points[i].x - lx, r.points[i].y - ly);
      lx = r.points[i].x;
      ly = r.points[i].y;
    }
  }
  if (!first) out += ";PM2;FP;";
}

void AppendDot(std::string& out, double x, double y) {
  out += "PE=<";
  Pair(out, PlotUnit(x), PlotUnit(y));
  out += ";PD;";
}

void AppendLabel(std::string& out, double x, double y, const std::string& text) {
  char buf[48];
  snprintf(buf, sizeof buf, "PU%d,%d;LB", (int)PlotUnit(x), (int)PlotUnit(y));
  out += buf;
  // The label ends at the first end-of-text byte: one inside the text would
  // end it early and turn the rest into instructions.
  for (char c : text)
    if (c != '\003') out += c;
  out += "\003;";
}

int ShadingLevel(int p) {
  if (p <= 0) return 0;
  if (p <= 6) return 50;
  if (p <= 8) return 25;
  if (p <= 12) return 12;
  if (p <= 16) return 6;
  return 1;
}

std::string PenWidth(int width) {
  if (width == 0) return "PW0;";
  char buf[32];
  snprintf(buf, sizeof buf, "PW%03.1f;", (2.0 * width + 1.0) / 10.0);
  return buf;
}

namespace {

std::string LineType(int dash) {
  if (dash == 0) return "\nLT;";
  char buf[32];
  snprintf(buf, sizeof buf, "\nLT%d,2,1;", dash);
  return buf;
}

}  // namespace

std::string PenCommands(int mode, const display::LineStyle& style, uint32_t background) {
  std::string out;
  if (mode == kMonoPlot) {
    out += (style.colour & 0xffffffu) == (background & 0xffffffu) ? "PA;SP0;TR0;" : "PA;SP1;TR;";
    out += LineType(style.dash);
    out += PenWidth(style.width);
    const int level = ShadingLevel(style.pattern);
    if (level == 0) {
      out += "SV;";
    } else {
      char buf[24];
      snprintf(buf, sizeof buf, "SV1,%d;", level);
      out += buf;
    }
    return out;
  }
  out += "\nPA;";
  out += LineType(style.dash).substr(1);
  char buf[24];
  snprintf(buf, sizeof buf, "SP%u;", (unsigned)style.colour);
  out += buf;
  out += PenWidth(style.width);
  return out;
}

const char* FillCommand(int p) {
  switch (p) {
    case 0: return "AC;FT10,100";
    case 1: case 3: case 5: return "AC;FT10,50";
    case 2: case 4: case 6: return "AC10,10;FT10,50";
    case 7: return "AC;FT10,25";
    case 8: return "AC10,10;FT10,25";
    case 9: return "AC;FT10,12";
    case 10: return "AC10,0;FT10,12";
    case 11: return "AC0,10;FT10,12";
    case 12: return "AC10,10;FT10,12";
    case 13: return "AC;FT10,6";
    case 14: return "AC10,0;FT10,6";
    case 15: return "AC0,10;FT10,6";
    case 16: return "AC10,10;FT10,6";
    default: return "AC;FT10,1";
  }
}

std::string WindowCommand(const display::DeviceFrame& f) {
  char buf[80];
  snprintf(buf, sizeof buf, "DF;IW%d,%d,%d,%d;", (int)f.x0, (int)f.y0, (int)f.x1, (int)f.y1);
  return buf;
}

}  // namespace plot

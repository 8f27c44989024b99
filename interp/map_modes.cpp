// The pointer-mode machine of the map window and the events file reader.
//
// One mode at a time: the description of the running mode, its step, and the
// bookkeeping of its traces (whether marks were drawn, and the picture they
// were drawn over). Events reach the mode's handlers through RouteMapEvent,
// from the SDL window (ServiceMapWindow) or from the events file.
#include "interp/map_modes.h"

#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <fstream>
#include <string>
#include <vector>

#include "interp/cmd_draw.h"
#include "interp/cmd_map.h"
#include "interp/messages.h"
#include "lib/display/colour.h"
#include "lib/display/draw_map.h"
#include "lib/display/map_geometry.h"
#include "lib/display/projections.h"
#include "lib/geodesy/angle_text.h"
#include "lib/geodesy/ellipsoid.h"
#include "platform/report.h"

namespace interp {

namespace {

struct ModeMachine {
  const MapModeSpec* spec = nullptr;
  int step = 0;
  bool ending = false;
};

// A mark of the running mode: painted over the window's view, never into
// the picture, so that drawing commands given while the mode runs stay and
// the marks go with the mode.
struct Mark {
  enum Kind { kDot, kLine, kButton } kind;
  int x0, y0, x1, y1;
  uint32_t colour;
  std::string label;
};
std::vector<Mark> g_marks;
ModeMachine g_mode;

struct EventsFile {
  bool given = false;
  std::string path;
  std::vector<std::string> lines;
  size_t next = 0;
};
EventsFile g_events;
bool g_batch_events = false;  // beeps are written to the console
bool g_left_held = false;     // a scripted left press not yet released

display::DisplaySurface& Surface(GlobalBlock& g) { return Display(g).surface; }

void ClearOverlay(display::DisplaySurface& s) {
  if (!s.overlay) return;
  cairo_t* cr = cairo_create(s.overlay);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(s.overlay);
  ++s.generation;
}

bool InCornerBox(int x, int y) { return x >= 0 && x <= CORNER_BOX_MAX_X && y >= 0 && y < CORNER_BOX_HEIGHT; }

void SetSource(cairo_t* cr, uint32_t colour) {
  cairo_set_source_rgb(cr, display::RedOf(colour) / 255.0, display::GreenOf(colour) / 255.0,
                       display::BlueOf(colour) / 255.0);
}

// Device coordinates far off the picture are brought near it so that the
// drawing library never sees huge numbers.
int Clamp(int v) { return v < -100000 ? -100000 : v > 100000 ? 100000 : v; }

bool JumpsSeam(GlobalBlock& g, int x0, int x1) {
  display::MapGeometry* m = g.map_geometry;
  if (!m || !display::ProjectionHasSeam(m->projection)) return false;
  return std::abs(x1 - x0) > 2.0 / 3.0 * (m->xmax - m->xmin + 1);
}

}  // namespace

// ---------------------------------------------------------------- modes

bool MapModeRunning(const GlobalBlock& g) { return g.map_mode != 0 && g_mode.spec; }
int MapModeStep() { return g_mode.step; }
void SetModeStep(int step) { g_mode.step = step; }

void StartMapMode(GlobalBlock& g, const MapModeSpec& spec) {
  if (g.map_mode != 0) CancelMapMode(g);
  g.cancel_map_mode = CancelMapMode;
  g_mode.spec = &spec;
  g_mode.step = 1;
  g_mode.ending = false;
  g.map_mode = spec.command;
  if (g.activate_map_window) g.activate_map_window(g);
  SetModePointer(spec.pointer);
}

void EndMapMode(GlobalBlock& g) {
  if (!g_mode.spec || g_mode.ending) return;
  g_mode.ending = true;
  const MapModeSpec* spec = g_mode.spec;
  if (spec->end) spec->end(g);
  // Every trace goes: the overlay, the marks; the arrow pointer comes back.
  display::DisplaySurface& s = Surface(g);
  ClearOverlay(s);
  g_marks.clear();
  g_mode.spec = nullptr;
  g_mode.step = 0;
  g_mode.ending = false;
  g.map_mode = 0;
  SetModePointer(platform::kPointerArrow);
  ModePictureChanged(g);
}

void CancelMapMode(GlobalBlock& g) {
  if (!g_mode.spec) {
    g.map_mode = 0;
    return;
  }
  const MapModeSpec* spec = g_mode.spec;
  if (spec->key && !g_mode.ending) spec->key(g, 27);
  // Escape ends every mode; make sure of it.
  if (g_mode.spec == spec) EndMapMode(g);
}

bool RouteMapEvent(GlobalBlock& g, const platform::MapEvent& e) {
  if (!MapModeRunning(g)) return false;
  const MapModeSpec* spec = g_mode.spec;
  ModeEvent m;
  m.x = e.x;
  m.y = e.y;
  m.button = e.button ? e.button : 1;
  m.clicks = e.clicks ? e.clicks : 1;
  m.left_down = e.left_down;
  switch (e.kind) {
    case platform::kMapEventMotion:
      if (spec->move) spec->move(g, m);
      return true;
    case platform::kMapEventButton:
      if (m.button == 1 && spec->corner == kCornerIsEscape && InCornerBox(m.x, m.y)) {
        CancelMapMode(g);
        return true;
      }
      if (spec->press) spec->press(g, m);
      return true;
    case platform::kMapEventRelease:
      if (spec->release) spec->release(g, m);
      return true;
    case platform::kMapEventKey:
      if (spec->key) {
        spec->key(g, e.key);
      } else if (e.key == 27) {
        EndMapMode(g);
      } else {
        ModeBeep(g);
      }
      return true;
    case platform::kMapEventClose:
    case platform::kMapEventMinimize:
      if (!spec->window_gone) return false;
      spec->window_gone(g);
      return true;
    default:
      return false;
  }
}

void ModeBeep(GlobalBlock&) {
  platform::Beep();
  if (g_batch_events) PostText(2, "<beep>");
}

void SetModePointer(platform::MapPointer shape) {
  // The map window's pointer; ShowWaitPointer(false) is the arrow.
  if (shape == platform::kPointerArrow) {
    ShowWaitPointer(false);
    return;
  }
  SetMapWindowPointer(shape);
}

int ModeClientWidth(GlobalBlock& g) { return Surface(g).width; }
int ModeClientHeight(GlobalBlock& g) { return Surface(g).height; }

// ---------------------------------------------------------------- positions

bool PixelToPosition(GlobalBlock& g, int x, int y, geodesy::DirectionCosines* u) {
  display::MapGeometry* m = CurrentGeometry(g);
  if (!m || !m->params) return false;
  double X, Y;
  display::DeviceToPlane(m->transform, x, y, &X, &Y);
  return display::ProjectInverse(*m->params, m->projection, X, Y, u) == 0;
}

bool PositionToPixel(GlobalBlock& g, const geodesy::DirectionCosines& u, int* x, int* y) {
  display::MapGeometry* m = CurrentGeometry(g);
  if (!m || !m->params) return false;
  display::PixelPoint p;
  if (!display::PositionToDevice(*m, u, &p)) return false;
  *x = p.x;
  *y = p.y;
  return true;
}

// ---------------------------------------------------------------- drawing

// Rubber bands are drawn thousands of times a second while the pointer
// moves: each pixel of the line is toggled straight in the overlay's memory
// (0 <-> 255, ends included once), which costs the line's length rather than
// a compositing pass over its bounding box.
namespace {

void XorPixels(GlobalBlock& g, int x0, int y0, int x1, int y1, bool with_end) {
  if (JumpsSeam(g, x0, x1)) return;
  display::DisplaySurface& s = Surface(g);
  if (!s.overlay) return;
  x0 = Clamp(x0), y0 = Clamp(y0), x1 = Clamp(x1), y1 = Clamp(y1);
  const int w = cairo_image_surface_get_width(s.overlay), h = cairo_image_surface_get_height(s.overlay);
  // Nothing to do for a line wholly on one side of the picture.
  if ((x0 < 0 && x1 < 0) || (y0 < 0 && y1 < 0) || (x0 >= w && x1 >= w) || (y0 >= h && y1 >= h)) return;
  cairo_surface_flush(s.overlay);
  unsigned char* data = cairo_image_surface_get_data(s.overlay);
  const int stride = cairo_image_surface_get_stride(s.overlay);
  const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  for (int x = x0, y = y0;;) {
    const bool end = x == x1 && y == y1;
    if (end && !with_end && (x != x0 || y != y0)) break;
    if (x >= 0 && x < w && y >= 0 && y < h) data[(size_t)y * stride + x] ^= 0xff;
    if (end) break;
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
  cairo_surface_mark_dirty(s.overlay);
  ++s.generation;
}

}  // namespace

void ModeXorLine(GlobalBlock& g, int x0, int y0, int x1, int y1) { XorPixels(g, x0, y0, x1, y1, true); }

void ModeXorPolyline(GlobalBlock& g, const geodesy::DirectionCosines* points, int n, bool closed) {
  if (n < 2) return;
  std::vector<int> xs(n), ys(n);
  std::vector<bool> ok(n);
  for (int i = 0; i < n; ++i) ok[i] = PositionToPixel(g, points[i], &xs[i], &ys[i]);
  const int legs = closed ? n : n - 1;
  for (int i = 0; i < legs; ++i) {
    const int j = (i + 1) % n;
    if (!ok[i] || !ok[j]) continue;
    if (std::abs(xs[i]) > 1000000 || std::abs(xs[j]) > 1000000 || std::abs(ys[i]) > 1000000 ||
        std::abs(ys[j]) > 1000000)
      continue;
    // Consecutive legs share their end pixel: each leg leaves it to the
    // next, so that no corner is toggled twice.
    XorPixels(g, xs[i], ys[i], xs[j], ys[j], !closed && i == legs - 1);
  }
}

void ModeMark(GlobalBlock& g, int x, int y, uint32_t colour) {
  g_marks.push_back({Mark::kDot, Clamp(x), Clamp(y), 0, 0, colour, {}});
  ++Surface(g).generation;
}

void ModeMarkLine(GlobalBlock& g, int x0, int y0, int x1, int y1, uint32_t colour) {
  if (JumpsSeam(g, x0, x1)) return;
  g_marks.push_back({Mark::kLine, Clamp(x0), Clamp(y0), Clamp(x1), Clamp(y1), colour, {}});
  ++Surface(g).generation;
}

void ModeButton(GlobalBlock& g, int x, int y, const char* label) {
  g_marks.push_back({Mark::kButton, x, y, 0, 0, 0, label});
  ++Surface(g).generation;
}

int ModeMarkCount() { return (int)g_marks.size(); }

void PaintModeMarks(cairo_surface_t* view) {
  if (!view || g_marks.empty()) return;
  cairo_t* cr = cairo_create(view);
  cairo_set_line_width(cr, 1);
  for (const Mark& m : g_marks) {
    switch (m.kind) {
      case Mark::kDot:
        SetSource(cr, m.colour);
        cairo_rectangle(cr, m.x0 - 2, m.y0 - 2, 5, 5);
        cairo_fill(cr);
        break;
      case Mark::kLine:
        SetSource(cr, m.colour);
        cairo_move_to(cr, m.x0 + 0.5, m.y0 + 0.5);
        cairo_line_to(cr, m.x1 + 0.5, m.y1 + 0.5);
        cairo_stroke(cr);
        break;
      case Mark::kButton: {
        cairo_set_source_rgb(cr, 0.85, 0.85, 0.85);
        cairo_rectangle(cr, m.x0 + 0.5, m.y0 + 0.5, BUTTON_WIDTH - 1, CORNER_BOX_HEIGHT - 1);
        cairo_fill_preserve(cr);
        cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
        cairo_stroke(cr);
        cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
        cairo_set_font_size(cr, 12);
        cairo_text_extents_t te;
        cairo_text_extents(cr, m.label.c_str(), &te);
        cairo_move_to(cr, m.x0 + (BUTTON_WIDTH - te.x_advance) / 2, m.y0 + 16);
        cairo_show_text(cr, m.label.c_str());
        break;
      }
    }
  }
  cairo_destroy(cr);
  cairo_surface_flush(view);
}

void ModeEraseMarks(GlobalBlock& g) {
  if (g_marks.empty()) return;
  g_marks.clear();
  ++Surface(g).generation;
  ModePictureChanged(g);
}

uint32_t TraceColour(GlobalBlock& g, const char* style_name) {
  std::string value = StyleValue(g, nullptr, style_name);
  if (value.find_first_not_of(" \t") == std::string::npos) value = "c1";
  return display::ReadStyleColour(value);
}

void ModePictureChanged(GlobalBlock& g) {
  DisplayContext& d = Display(g);
  if (d.picture_changed) d.picture_changed(g);
}

// ---------------------------------------------------------------- events file

namespace {

// Splits a line into blank-separated words.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> w;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
    w.push_back(line.substr(i, j - i));
    i = j;
  }
  return w;
}

bool ParseInt(const std::string& s, int* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  const long n = strtol(s.c_str(), &end, 10);
  if (*end || n < -1000000 || n > 1000000) return false;
  *v = (int)n;
  return true;
}

// "X Y" or "@LAT,LON" (one or two words consumed). False with a reason.
bool ParsePoint(GlobalBlock& g, const std::vector<std::string>& w, size_t* i, int* x, int* y, const char** why) {
  if (*i >= w.size()) {
    *why = "missing position";
    return false;
  }
  const std::string& a = w[*i];
  if (a[0] == '@') {
    const size_t comma = a.find(',');
    if (comma == std::string::npos) {
      *why = "a position is @LAT,LON";
      return false;
    }
    const double lat = geodesy::ParseAngle(a.substr(1, comma - 1), geodesy::LAT_POSITIVE, geodesy::LAT_NEGATIVE);
    const double lon = geodesy::ParseAngle(a.substr(comma + 1), geodesy::LON_POSITIVE, geodesy::LON_NEGATIVE);
    if (lat == geodesy::NOVALUE || lon == geodesy::NOVALUE || std::fabs(lat) > M_PI / 2 + 1e-12) {
      *why = "invalid latitude/longitude";
      return false;
    }
    display::MapGeometry* m = CurrentGeometry(g);
    const geodesy::DirectionCosines u = m && m->ellipsoid ? geodesy::GeodeticToCosines({lat, lon}, *m->ellipsoid)
                                                          : geodesy::GeocentricToCosines({lat, lon});
    if (!PositionToPixel(g, u, x, y)) {
      *why = "position not on the map";
      return false;
    }
    ++*i;
    return true;
  }
  if (*i + 1 >= w.size() || !ParseInt(w[*i], x) || !ParseInt(w[*i + 1], y)) {
    *why = "position must be X Y or @LAT,LON";
    return false;
  }
  *i += 2;
  return true;
}

bool ParseButton(const std::vector<std::string>& w, size_t i, int* b, const char** why) {
  *b = 1;
  if (i >= w.size()) return true;
  if (i + 1 < w.size()) {
    *why = "too many words";
    return false;
  }
  if (!ParseInt(w[i], b) || *b < 1 || *b > 3) {
    *why = "button must be 1, 2 or 3";
    return false;
  }
  return true;
}

bool ParseKey(const std::vector<std::string>& w, int* key, const char** why) {
  if (w.size() != 2) {
    *why = "key needs one key name";
    return false;
  }
  const std::string& k = w[1];
  struct Named {
    const char* name;
    int code;
  } static const kNames[] = {{"ESC", 27}, {"ENTER", 13}, {"TAB", 9}, {"SPACE", 32}, {"BACKSPACE", 8}};
  for (const Named& n : kNames)
    if (strcasecmp(k.c_str(), n.name) == 0) {
      *key = n.code;
      return true;
    }
  if (k.size() == 1 && k[0] > 32 && k[0] < 127) {
    *key = (unsigned char)k[0];
    return true;
  }
  *why = "unknown key";
  return false;
}

void ScriptedResize(GlobalBlock& g, int width, int height) {
  MapField field = CurrentMapField(g);
  if (width == field.width && height == field.height) return;
  // The picture first, then the field and its geometry (which ends the mode).
  ResizeDisplay(g, width, height);
  field.width = width;
  field.height = height;
  ResizeMapField(g, field);
  if (g.map_mode != 0) CancelMapMode(g);
}

void ScriptedDrop(GlobalBlock& g, const std::string& file) {
  std::string lower = file;
  for (char& c : lower) c = (char)tolower((unsigned char)c);
  auto ends = [&](const char* ext) {
    const size_t n = strlen(ext);
    return lower.size() >= n && lower.compare(lower.size() - n, n, ext) == 0;
  };
  if (!(ends(".bmp") || ends(".png") || ends(".jpg") || ends(".jpeg"))) {
    ModeBeep(g);
    return;
  }
  const std::string quoted = "\"" + file + "\"";
  CmdShowBitmap(g, quoted.c_str(), 0, 0);
}

// Runs one line of the events file; a bad line is reported and skipped.
void RunEventLine(GlobalBlock& g, const std::string& raw, int number) {
  std::string line = raw;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  const std::vector<std::string> w = Words(line);
  if (w.empty() || w[0][0] == '#') return;
  const char* why = nullptr;
  const std::string& verb = w[0];
  platform::MapEvent e;
  auto bad = [&]() { PostText(4, "Events file %s line %d: %s", g_events.path.c_str(), number, why); };
  if (verb == "move" || verb == "press" || verb == "release" || verb == "click" || verb == "dblclick") {
    size_t i = 1;
    int x, y, b = 1;
    if (!ParsePoint(g, w, &i, &x, &y, &why) || !ParseButton(w, i, &b, &why)) return bad();
    e.x = x;
    e.y = y;
    e.button = b;
    e.clicks = 1;
    if (verb == "move") {
      if (i != w.size()) {
        why = "too many words";
        return bad();
      }
      // A move after "press" and before "release" drags with the left button held.
      e.kind = platform::kMapEventMotion;
      e.left_down = g_left_held;
      RouteMapEvent(g, e);
      return;
    }
    if (verb == "release") {
      if (b == 1) g_left_held = false;
      e.kind = platform::kMapEventRelease;
      RouteMapEvent(g, e);
      return;
    }
    e.kind = platform::kMapEventButton;
    if (verb == "press" && b == 1) g_left_held = true;
    RouteMapEvent(g, e);
    if (verb == "press") return;
    e.kind = platform::kMapEventRelease;
    RouteMapEvent(g, e);
    if (verb == "click") return;
    e.kind = platform::kMapEventButton;
    e.clicks = 2;
    RouteMapEvent(g, e);
    e.kind = platform::kMapEventRelease;
    RouteMapEvent(g, e);
    return;
  }
  if (verb == "key") {
    int key;
    if (!ParseKey(w, &key, &why)) return bad();
    e.kind = platform::kMapEventKey;
    e.key = key;
    RouteMapEvent(g, e);
    return;
  }
  if (verb == "resize") {
    int width, height;
    // A real window is never larger than a screen; 8192 keeps a picture of
    // at most 256 MB.
    if (w.size() != 3 || !ParseInt(w[1], &width) || !ParseInt(w[2], &height) || width < 8 || height < 8 ||
        width > 8192 || height > 8192) {
      why = "resize needs a width and a height of 8 to 8192 pixels";
      return bad();
    }
    ScriptedResize(g, width, height);
    return;
  }
  if (verb == "close" || verb == "minimise" || verb == "minimize") {
    if (w.size() != 1) {
      why = "too many words";
      return bad();
    }
    e.kind = verb == "close" ? platform::kMapEventClose : platform::kMapEventMinimize;
    RouteMapEvent(g, e);
    return;
  }
  if (verb == "drop") {
    const size_t at = line.find("drop") + 4;
    std::string file = line.substr(at);
    const size_t a = file.find_first_not_of(" \t");
    if (a == std::string::npos) {
      why = "drop needs a file name";
      return bad();
    }
    file = file.substr(a);
    while (!file.empty() && (file.back() == ' ' || file.back() == '\t')) file.pop_back();
    ScriptedDrop(g, file);
    return;
  }
  why = "unknown event";
  bad();
}

}  // namespace

bool OpenEventsFile(GlobalBlock& g, const std::string& path) {
  g_events = EventsFile();
  g_events.given = true;
  g_events.path = path;
  g_batch_events = g.batch;
  std::ifstream f(path);
  if (!f) {
    PostText(4, "Events file %s cannot be read", path.c_str());
    return false;
  }
  for (std::string line; std::getline(f, line);) g_events.lines.push_back(line);
  return true;
}

bool EventsFileGiven() { return g_events.given; }

void FeedScriptedEvents(GlobalBlock& g, bool batch) {
  if (g.map_mode != 0 && !g_mode.spec) {
    // A mode set without this machine: it can take no events, and a batch
    // run must not wait for it.
    if (batch) {
      if (g.cancel_map_mode && g.cancel_map_mode != CancelMapMode) g.cancel_map_mode(g);
      g.map_mode = 0;
    }
    return;
  }
  if (!MapModeRunning(g)) return;
  if (!batch) {
    if (g_events.next < g_events.lines.size()) {
      const size_t i = g_events.next++;
      RunEventLine(g, g_events.lines[i], (int)i + 1);
    }
    return;
  }
  while (MapModeRunning(g) && !g.quit_requested) {
    if (g_events.next >= g_events.lines.size()) {
      // Nobody will click in a batch run: the mode ends as on Escape.
      CancelMapMode(g);
      PostText(3, "Events file ended, mode ended");
      return;
    }
    const size_t i = g_events.next++;
    RunEventLine(g, g_events.lines[i], (int)i + 1);
  }
}

bool NeedIndexAndMap(GlobalBlock& g) {
  if (!g.cell_index || g.cell_index->cell_count <= 0) {
    PostText(4, "No cell index loaded");
    g.error_level = EL_FAILURE;
    return false;
  }
  if (!CurrentGeometry(g)) {
    PostText(3, "No map open?");
    g.error_level = EL_NOT_APPLICABLE;
    return false;
  }
  return true;
}

}  // namespace interp

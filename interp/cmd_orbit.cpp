// The orbit and swath commands: the traces that draw while simulated time
// runs, and the derivations that build the track and the swath as objects.
//
// A screen trace shows "press <ESC> to quit...", raises the map window and
// then, before each step, lets the map window handle its events (Escape
// there ends the trace through the map mode's cancel hook, and so does
// closing or minimising the map window, quietly), looks for an
// Escape typed at the terminal, and waits until real time has caught up with
// simulated time divided by time.scale. Batch runs never wait; plot output
// has no prompt, no waiting and no stop checks. A stopped trace is not an
// error: what was drawn stays.
//
// Tracks are drawn through the map's polyline pen, so a track breaks where a
// point does not project and at the seam of the world maps. On the screen the
// current nadir carries a 3 x 3 mark that puts back the pixels it covered.
#include "interp/cmd_orbit.h"

#include <poll.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "interp/cmd_draw.h"
#include "interp/cmd_plot.h"
#include "interp/handlers.h"
#include "interp/messages.h"
#include "interp/orbit_files.h"
#include "interp/words.h"
#include "lib/cells/coord_text.h"
#include "lib/cells/object_builder.h"
#include "lib/cells/object_file.h"
#include "lib/cells/cell_locate.h"
#include "lib/display/area_fill.h"
#include "lib/display/draw_map.h"
#include "lib/display/map_geometry.h"
#include "lib/display/styles.h"
#include "lib/ops/collection.h"
#include "lib/ops/rset_point_test.h"
#include "lib/orbits/orbit_chain.h"
#include "platform/clock.h"
#include "platform/files.h"

// With the map window's mode machinery a trace runs as a mode of its own, so
// that Escape in the map window and scripted events reach it; without it the
// trace hooks the window's mode cancel directly.
#if __has_include("interp/map_modes.h")
#include "interp/map_modes.h"
#define OMBREL_TRACE_AS_MODE 1
#else
#define OMBREL_TRACE_AS_MODE 0
#endif

namespace interp {

// ---------------------------------------------------------------- nadir mark

void ShowNadirMark(display::DrawState* plain, NadirMark* m, int x, int y, unsigned colour) {
  HideNadirMark(plain, m);
  display::DisplaySurface* s = plain->surface;
  for (int i = 0; i < 9; ++i) {
    const int px = x - 1 + i % 3, py = y - 1 + i / 3;
    m->inside[i] = px >= 0 && py >= 0 && px < s->width && py < s->height;
    if (!m->inside[i]) continue;
    m->saved[i] = display::SurfacePixel(s, px, py);
    display::Pixel(plain, px, py, colour);
  }
  m->x = x;
  m->y = y;
  m->shown = true;
  ++s->generation;
}

void HideNadirMark(display::DrawState* plain, NadirMark* m) {
  if (!m->shown) return;
  for (int i = 0; i < 9; ++i)
    if (m->inside[i]) display::Pixel(plain, m->x - 1 + i % 3, m->y - 1 + i / 3, m->saved[i]);
  m->shown = false;
  ++plain->surface->generation;
}

namespace {

const char* TraceUsage(int variant) {
  switch (variant) {
    case 3: return "satelliteName start_date time end_date time step [style [style]]";
    case 4: return "receiversName satelliteName start_date time end_date time step [style [style [style]]]";
    case 8: return "RsetName satelliteName start_date time end_date time step [style]";
    default: return "satelliteName start_date time end_date time step [style]";
  }
}

const char* Word(GlobalBlock& g, const char* args, char* word) {
  const char* rest = NextWord(args, word, WORD_SIZE);
  ExpandDirectoryAlias(g, word, WORD_SIZE);
  return rest;
}

// A trace style: the command's word (at most 31 characters), else the
// initialisation file's entry under the plot prefix, else the default.
std::string TraceStyle(GlobalBlock& g, char* word, const char* key, const char* dflt) {
  if (std::strlen(word) > 31) word[31] = '\0';
  std::string v = StyleValue(g, word[0] ? word : nullptr, key);
  return v.empty() ? std::string(dflt) : v;
}

geodesy::Ellipsoid CurrentEllipsoid(const GlobalBlock& g) {
  return g.ellipsoid ? *g.ellipsoid : geodesy::MakeEllipsoid();
}

// ---------------------------------------------------------------- the trace loop

bool g_trace_cancelled = false;

#if OMBREL_TRACE_AS_MODE
constexpr int kTraceMapMode = 20;  // the map window's mode number while a trace runs

void TraceKey(GlobalBlock& g, int key) {
  if (key != 27) return;
  g_trace_cancelled = true;
  EndMapMode(g);
}
void TracePress(GlobalBlock&, const ModeEvent&) {}
void TraceEnd(GlobalBlock&) { g_trace_cancelled = true; }
// A map window that is closed or minimised is no longer in front: the trace
// stops quietly. Losing the focus alone does not stop it (the console is a
// terminal, which takes the focus from the map window).
void TraceWindowGone(GlobalBlock& g) {
  g_trace_cancelled = true;
  EndMapMode(g);
}
const MapModeSpec kTraceMode = {"trace",   kTraceMapMode, kCornerIgnored, platform::kPointerWait,
                                nullptr,   TracePress,    nullptr,        TraceKey,
                                TraceEnd,  TraceWindowGone};
#else
constexpr int kTraceMapMode = 0x7e1;  // the map window's mode number while a trace runs

void CancelTrace(GlobalBlock&) { g_trace_cancelled = true; }
#endif

// An Escape typed at the terminal console: a lone ESC byte, not the start of
// a key's escape sequence. Other typed bytes are dropped while a trace runs.
bool TerminalEscape() {
  if (!platform::StdinIsTerminal()) return false;
  bool escape = false;
  for (int round = 0; round < 8; ++round) {
    pollfd pfd{0, POLLIN, 0};
    if (poll(&pfd, 1, 0) <= 0 || !(pfd.revents & POLLIN)) break;
    unsigned char buf[64];
    const ssize_t n = read(0, buf, sizeof buf);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i)
      if (buf[i] == 27 && (i + 1 >= n || (buf[i + 1] != '[' && buf[i + 1] != 'O'))) escape = true;
  }
  return escape;
}

// The pacing and stopping of one screen trace. The map window is in the
// trace's mode while it runs, so Escape there reaches CancelTrace.
struct TraceClock {
  GlobalBlock& g;
  bool checks;        // stop checks (screen traces)
  bool pace;          // wait for real time (screen, not batch, time.scale > 0)
  double start;
  int scale;
  int64_t start_ms;
  int saved_mode;
  void (*saved_cancel)(GlobalBlock&);

  TraceClock(GlobalBlock& gb, bool screen, double start_time)
      : g(gb), checks(screen), pace(screen && !gb.batch && gb.settings.time_scale > 0), start(start_time),
        scale(gb.settings.time_scale), start_ms(platform::TickMs()), saved_mode(gb.map_mode),
        saved_cancel(gb.cancel_map_mode) {
    if (checks) {
      if (g.map_mode != 0 && g.cancel_map_mode) g.cancel_map_mode(g);
#if OMBREL_TRACE_AS_MODE
      StartMapMode(g, kTraceMode);
#else
      saved_mode = g.map_mode;
      saved_cancel = g.cancel_map_mode;
      g.map_mode = kTraceMapMode;
      g.cancel_map_mode = CancelTrace;
#endif
    }
    g_trace_cancelled = false;
  }
  ~TraceClock() {
    if (!checks) return;
#if OMBREL_TRACE_AS_MODE
    if (MapModeRunning(g) && g.map_mode == kTraceMapMode) EndMapMode(g);
#else
    g.map_mode = saved_mode;
    g.cancel_map_mode = saved_cancel;
#endif
  }
  TraceClock(const TraceClock&) = delete;
  TraceClock& operator=(const TraceClock&) = delete;

  bool Stopped() {
#if OMBREL_TRACE_AS_MODE
    // One scripted event a step, as the interactive loop feeds them.
    if (EventsFileGiven()) FeedScriptedEvents(g, false);
#endif
    if (g.pump_window_events) g.pump_window_events(g);
    if (g_trace_cancelled || g.quit_requested) return true;
    if (!g.batch && TerminalEscape()) g_trace_cancelled = true;
    return g_trace_cancelled;
  }

  // False when the trace is to stop before the step at time t.
  bool BeforeStep(double t) {
    if (!checks) return true;
    if (Stopped()) return false;
    if (!pace) return true;
    const double due = (t - start) * 1000.0 / scale;
    while (static_cast<double>(platform::TickMs() - start_ms) < due) {
      platform::SleepMs(10);
      if (Stopped()) return false;
    }
    return true;
  }
};

// A polyline pen whose drawing is pushed onto the picture at every step, so
// the nadir mark is laid over a picture that already holds the track: the
// line so far is ended (and so drawn) and a new one starts where it stopped.
struct TracePen {
  display::PolylinePen pen;
  geodesy::DirectionCosines last{};
  bool have_last = false;
  TracePen(const display::MapGeometry& geometry, display::DrawState* state) : pen(geometry, state) {}
  void Add(const geodesy::DirectionCosines& u) {
    pen.Add(u);
    last = u;
    have_last = true;
  }
  void Break() {
    pen.Break();
    have_last = false;
  }
  void Flush() {
    if (!have_last) return;
    pen.Break();
    pen.MoveTo(last);
  }
};

// The lines states of a trace and the one plain state for the nadir mark.
struct TraceDrawing {
  DisplayContext& d;
  const display::MapGeometry& geo;
  display::DrawState lines[3];
  display::DrawState plain;
  int open_lines = 0;
  bool plain_open = false;
  NadirMark mark;
  unsigned mark_colour = 0;

  TraceDrawing(DisplayContext& dc, const display::MapGeometry& g) : d(dc), geo(g) {}
  ~TraceDrawing() { Close(); }
  TraceDrawing(const TraceDrawing&) = delete;
  TraceDrawing& operator=(const TraceDrawing&) = delete;

  // Lines go to the current target: the plot while one is active.
  bool OpenLine(GlobalBlock& g, const std::string& style) {
    AimAtTarget(g, &lines[open_lines]);
    const int st = display::OpenLines(&lines[open_lines], &d.surface, display::ParseLineStyle(style));
    if (st != display::kDrawOk) {
      PostText(4, "Graphics memory");
      g.error_level = EL_NOT_APPLICABLE;
      return false;
    }
    ++open_lines;
    return true;
  }
  bool OpenMark(GlobalBlock& g) {
    if (display::OpenPlain(&plain, &d.surface) != display::kDrawOk) {
      PostText(4, "Graphics memory");
      g.error_level = EL_NOT_APPLICABLE;
      return false;
    }
    plain_open = true;
    return true;
  }
  void MoveMark(const geodesy::DirectionCosines& nadir) {
    if (!plain_open) return;
    display::PixelPoint p;
    if (display::PositionToDevice(geo, nadir, &p) && std::abs(p.x) < 1000000 && std::abs(p.y) < 1000000)
      ShowNadirMark(&plain, &mark, p.x, p.y, mark_colour);
    else
      HideNadirMark(&plain, &mark);
  }
  void HideMark() {
    if (plain_open) HideNadirMark(&plain, &mark);
  }
  void Close() {
    if (plain_open) {
      HideNadirMark(&plain, &mark);
      display::CloseDrawState(&plain);
      plain_open = false;
    }
    for (int i = 0; i < open_lines; ++i) display::CloseDrawState(&lines[i]);
    open_lines = 0;
  }
};

void PictureChanged(GlobalBlock& g, DisplayContext& d) {
  ++d.surface.generation;
  if (d.picture_changed) d.picture_changed(g);
  if (g.pump_window_events) g.pump_window_events(g);
}

// What every trace reads first: the satellite and the times.
struct TraceSetup {
  orbits::Orbit orbit;
  orbits::Swath swath;
  TraceTimes times;
  geodesy::Ellipsoid ellipsoid;
  bool edges = false;  // the swath edges are traced
};

bool ReadTraceSetup(GlobalBlock& g, const char* name, const char** rest, bool want_swath, TraceSetup* s) {
  if (!name[0]) {
    PostText(4, "No satellite file name given");
    g.error_level = EL_FAILURE;
    return false;
  }
  const int r = ReadSatelliteFile(g, name, &s->orbit, &s->swath, want_swath);
  if (r < 0) return false;
  if (!ReadTraceTimes(g, rest, s->orbit, &s->times)) return false;
  s->ellipsoid = CurrentEllipsoid(g);
  s->edges = want_swath;
  return true;
}

// The geometry the trace draws through: the plot's while a plot is active.
display::MapGeometry* TraceGeometry(GlobalBlock& g) {
  display::MapGeometry* geometry = TargetGeometry(g);
  if (!geometry) {
    PostText(4, "No map geometry");
    g.error_level = EL_FAILURE;
  }
  return geometry;
}

// The time loop: t = start, start + step, ... while t < end.
template <typename Step>
void RunTrace(GlobalBlock& g, TraceDrawing& drawing, const TraceSetup& s, bool screen, Step step) {
  if (screen) {
    PostText(-2, "press <ESC> to quit...");
    if (g.activate_map_window) g.activate_map_window(g);
  }
  TraceClock clock(g, screen, s.times.start);
  for (int64_t k = 0; k < s.times.steps; ++k) {
    const double t = s.times.start + static_cast<double>(k) * s.times.step;
    if (!(t < s.times.end)) break;
    if (!clock.BeforeStep(t)) break;
    orbits::NadirSwath ns;
    orbits::SatelliteNadirAndSwath(s.ellipsoid, s.orbit, s.edges ? &s.swath : nullptr, t, &ns);
    // The mark comes off while the step draws its lines (the step flushes
    // them onto the picture) and goes on again at the new nadir.
    drawing.HideMark();
    step(t, ns);
    if (screen) drawing.MoveMark(ns.nadir);
  }
}

}  // namespace

// ---------------------------------------------------------------- TraceOrbit, TraceSwath, TraceOrbitSwath

void CmdTraceOrbit(GlobalBlock& g, const char* args, int variant, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "%s", TraceUsage(variant));
    return;
  }
  char name[WORD_SIZE], style[2][WORD_SIZE];
  const char* rest = Word(g, args, name);
  TraceSetup s;
  const bool want_swath = variant != 1;
  if (!ReadTraceSetup(g, name, &rest, want_swath, &s)) return;
  rest = NextWord(rest, style[0], WORD_SIZE);
  NextWord(rest, style[1], WORD_SIZE);
  DisplayContext& d = Display(g);
  const bool plot = d.plot_mode != 0;
  if (variant == 3 && plot) {
    PostText(4, "Not implemented for plot");
    g.error_level = EL_FAILURE;
    return;
  }
  display::MapGeometry* geometry = TraceGeometry(g);
  if (!geometry) return;
  const bool screen = !plot;
  TraceDrawing drawing(d, *geometry);
  // The styles: TraceOrbit's and TraceSwath's one word, TraceOrbitSwath's
  // orbit style then swath style.
  char none[1] = {'\0'};
  char* orbit_word = variant == 2 ? none : style[0];
  char* swath_word = variant == 2 ? style[0] : variant == 3 ? style[1] : none;
  const std::string orbit_style = TraceStyle(g, orbit_word, "orbit.trace", "c0");
  const std::string swath_style = TraceStyle(g, swath_word, "swath.trace", "c0");
  const bool track = variant != 2, edges = variant != 1;
  if (track && !drawing.OpenLine(g, orbit_style)) return;
  if (edges && (!drawing.OpenLine(g, swath_style) || !drawing.OpenLine(g, swath_style))) return;
  drawing.mark_colour = display::ParseLineStyle(orbit_style).colour;
  if (screen && !drawing.OpenMark(g)) return;
  std::vector<std::unique_ptr<TracePen>> pens;
  for (int i = 0; i < drawing.open_lines; ++i) pens.push_back(std::make_unique<TracePen>(*geometry, &drawing.lines[i]));
  RunTrace(g, drawing, s, screen, [&](double, const orbits::NadirSwath& ns) {
    int i = 0;
    if (track) pens[i++]->Add(ns.nadir);
    if (edges) {
      if (geodesy::IsValid(ns.right)) pens[i]->Add(ns.right); else pens[i]->Break();
      ++i;
      if (geodesy::IsValid(ns.left)) pens[i]->Add(ns.left); else pens[i]->Break();
    }
    if (screen)
      for (auto& pen : pens) pen->Flush();
  });
  for (auto& pen : pens) pen->Break();
  drawing.Close();
  PictureChanged(g, d);
}

// ---------------------------------------------------------------- receivers and overhead

namespace {

struct ReceiverSet {
  Receiver* list = nullptr;
  int64_t count = 0;
  unsigned char* seen = nullptr;   // the visibility indicators
  double* acquired = nullptr;      // time of acquisition while seen
  double* last_seen = nullptr;
  display::PixelPoint* pixel = nullptr;
  unsigned char* on_map = nullptr;
};

// Reads the receiver file into the workspace (two reads: count, then fill).
bool ReadReceivers(GlobalBlock& g, const char* name, const geodesy::Ellipsoid& e, ReceiverSet* rs) {
  char path[FILE_NAME_SIZE];
  BuildFileName(name, g.dirs.data.c_str(), ".rcv", path);
  std::FILE* f = name[0] ? std::fopen(path, "rb") : nullptr;
  if (!f) {
    PostText(4, "Receiver file (%s) open error", path);
    g.error_level = EL_FAILURE;
    return false;
  }
  int code = 0, line = 0;
  std::string text;
  int64_t count = 0;
  if (ReadReceiverStream(f, e, nullptr, 0, &count, &code, &line, &text) != 0) {
    std::fclose(f);
    PostText(4, ReceiverLineFormat(code), line, text.c_str());
    g.error_level = EL_NOT_APPLICABLE;
    return false;
  }
  if (count == 0) {
    std::fclose(f);
    PostText(4, "error: no receivers defined in file %s", path);
    g.error_level = EL_NOT_APPLICABLE;
    return false;
  }
  auto take = [&](int64_t bytes, const char* what) -> void* {
    void* p = bytes < 0x7fffffff ? platform::WorkspaceAlloc(&g.workspace, static_cast<int32_t>(bytes)) : nullptr;
    if (!p) {
      PostText(4, "No memory (%d) for %s", static_cast<int>(std::min<int64_t>(bytes, 0x7fffffff)), what);
      g.error_level = EL_NOT_APPLICABLE;
    }
    return p;
  };
  rs->list = static_cast<Receiver*>(take(count * static_cast<int64_t>(sizeof(Receiver)), "receiver array"));
  if (!rs->list) return std::fclose(f), false;
  rs->seen = static_cast<unsigned char*>(take(count * 2, "receiver indicators"));
  if (!rs->seen) return std::fclose(f), false;
  rs->on_map = rs->seen + count;
  rs->acquired = static_cast<double*>(take(count * 16, "receiver time array"));
  if (!rs->acquired) return std::fclose(f), false;
  rs->last_seen = rs->acquired + count;
  rs->pixel = static_cast<display::PixelPoint*>(
      take(count * static_cast<int64_t>(sizeof(display::PixelPoint)), "receiver pixel array"));
  if (!rs->pixel) return std::fclose(f), false;
  std::rewind(f);
  int64_t second = 0;
  const int r = ReadReceiverStream(f, e, rs->list, count, &second, &code, &line, &text);
  std::fclose(f);
  if (r != 0 || second != count) {
    PostText(4, "unexpected receiver file error");
    g.error_level = EL_FAILURE;
    return false;
  }
  rs->count = count;
  for (int64_t i = 0; i < count; ++i) {
    rs->seen[i] = 0;
    rs->acquired[i] = rs->last_seen[i] = 0.0;
  }
  return true;
}

// The cosine of the largest central angle at which a receiver at radius
// rho_r sees a satellite at radius rho_s within its zenith angle limit.
double SightCosine(double rho_r, double rho_s, double sin_z, double cos_z) {
  const double s2 = sin_z * sin_z;
  const double under = rho_s * rho_s - rho_r * rho_r * s2;
  if (under < 4e-12) return 1.0;
  return (rho_r * s2 + cos_z * std::sqrt(under)) / rho_s;
}

void DrawReceiver(GlobalBlock& g, DisplayContext& d, const display::MarkerStyle& style, const display::PixelPoint& p) {
  display::DrawState m;
  AimAtTarget(g, &m);
  if (display::OpenMarkers(&m, &d.surface, style) != display::kDrawOk) return;
  display::Marker(&m, p.x, p.y);
  display::CloseDrawState(&m);
}

void PostPass(const orbits::Orbit& o, const Receiver& r, double acquired, double last) {
  const ClockTime c = EpochClock(o, acquired);
  PostText(-2, "%s %02d:%02d:%02d.%d %6.1f %s", c.date, c.hours, c.minutes, c.seconds, c.tenths, last - acquired,
           r.name);
}

}  // namespace

void CmdTraceOrbitWatch(GlobalBlock& g, const char* args, int variant, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "%s", TraceUsage(variant));
    return;
  }
  platform::WorkspaceMark mark(&g.workspace);
  char first[WORD_SIZE], name[WORD_SIZE], style[3][WORD_SIZE];
  const char* rest = Word(g, args, first);
  rest = Word(g, rest, name);
  const geodesy::Ellipsoid e = CurrentEllipsoid(g);
  // The first source: the receiver file, or the region set.
  ReceiverSet rs;
  cells::ObjectHandle region;
  std::string region_path;
  if (variant == 4) {
    if (!ReadReceivers(g, first, e, &rs)) return;
  } else {
    char built[FILE_NAME_SIZE];
    BuildFileName(first, g.dirs.data.c_str(), ".qbo", built);
    region_path = built;
    const int kind = first[0] ? cells::ReadObjectKind(region_path) : -2;
    if (kind < 0) {
      PostText(4, "Unable to open (%s) for reading", region_path.c_str());
      g.error_level = EL_FAILURE;
      return;
    }
    if (kind == cells::kPset || kind == cells::kLset || kind == cells::kTinPset) {
      PostText(4, "Point or line object, can't trace area");
      g.error_level = EL_FAILURE;
      return;
    }
    if (!g.cell_index || g.cell_index->cell_count <= 0) {
      PostText(4, "No cell index loaded");
      g.error_level = EL_FAILURE;
      return;
    }
    const int st = cells::OpenObjectRead(region, region_path, g.cell_index->index_id, g.cell_index->cell_count);
    if (st != 0 || region.obj.kind != cells::kRset) {
      if (st == 1)
        PostText(4, "Unable to open (%s) for reading", region_path.c_str());
      else if (st == 4 || st == 0)
        PostText(4, "Invalid object type");
      else if (st == 5)
        PostText(4, "Object release stamp mis-match");
      else if (st == 6)
        PostText(4, ".vix identifier mis-match");
      else
        PostText(4, "memory mapping error: %d", st);
      if (st == 0) cells::CloseObject(region);
      g.error_level = EL_FAILURE;
      return;
    }
  }
  struct RegionCloser {
    cells::ObjectHandle& h;
    ~RegionCloser() {
      if (h.is_open) cells::CloseObject(h);
    }
  } closer{region};
  TraceSetup s;
  if (!ReadTraceSetup(g, name, &rest, false, &s)) return;
  rest = NextWord(rest, style[0], WORD_SIZE);
  rest = NextWord(rest, style[1], WORD_SIZE);
  NextWord(rest, style[2], WORD_SIZE);
  display::MapGeometry* geometry = TraceGeometry(g);
  if (!geometry) return;
  DisplayContext& d = Display(g);
  const bool screen = d.plot_mode == 0;
  TraceDrawing drawing(d, *geometry);
  const std::string orbit_style = TraceStyle(g, style[0], "orbit.trace", "c0");
  // The receivers are drawn before the track's lines open: on a plot every
  // drawing selects its own pen, and the track keeps the pen it opens with.
  // A plot shows each receiver once, in its location style; lighting up is
  // the screen's.
  display::MarkerStyle location, active;
  if (variant == 4) {
    location = display::ParseMarkerStyle(TraceStyle(g, style[1], "receiver.location", "c11"));
    active = display::ParseMarkerStyle(TraceStyle(g, style[2], "receiver.active", "c13"));
    // All of them in one markers state (on a plot: one pen selection).
    display::DrawState m;
    AimAtTarget(g, &m);
    const bool open = display::OpenMarkers(&m, &d.surface, location) == display::kDrawOk;
    for (int64_t i = 0; i < rs.count; ++i) {
      rs.on_map[i] = display::PositionToDevice(*geometry, rs.list[i].p, &rs.pixel[i]) &&
                     std::abs(rs.pixel[i].x) < 1000000 && std::abs(rs.pixel[i].y) < 1000000;
      if (open && rs.on_map[i]) display::Marker(&m, rs.pixel[i].x, rs.pixel[i].y);
    }
    display::CloseDrawState(&m);
  }
  if (!drawing.OpenLine(g, orbit_style)) return;
  drawing.mark_colour = display::ParseLineStyle(orbit_style).colour;
  if (screen && !drawing.OpenMark(g)) return;
  TracePen pen(*geometry, &drawing.lines[0]);
  ops::RsetTestCache cache;
  const double fuzz = g.fuzz_angle;
  const int indicator = g.settings.boundary_indicator;
  RunTrace(g, drawing, s, screen, [&](double t, const orbits::NadirSwath& ns) {
    if (variant == 4) {
      pen.Add(ns.nadir);
      const double S = std::sqrt(ns.position.x * ns.position.x + ns.position.y * ns.position.y +
                                 ns.position.z * ns.position.z);
      const double R = S - ns.height, rho_s = R + ns.height;
      for (int64_t i = 0; i < rs.count; ++i) {
        const Receiver& r = rs.list[i];
        const double c = SightCosine(R + r.elevation, rho_s, r.sin_zenith, r.cos_zenith);
        const bool sees = geodesy::Dot(r.p, ns.nadir) > c;
        if (sees && !rs.seen[i]) {
          rs.seen[i] = 1;
          rs.acquired[i] = rs.last_seen[i] = t;
          if (screen && rs.on_map[i]) DrawReceiver(g, d, active, rs.pixel[i]);
        } else if (sees) {
          rs.last_seen[i] = t;
        } else if (rs.seen[i]) {
          rs.seen[i] = 0;
          if (screen && rs.on_map[i]) DrawReceiver(g, d, location, rs.pixel[i]);
          PostPass(s.orbit, r, rs.acquired[i], rs.last_seen[i]);
        }
      }
    } else {
      const int inside = ops::q7_RsetPointTest(*g.cell_index, ns.nadir, region.obj, fuzz, indicator, &cache);
      if (inside >= 0)
        pen.Add(ns.nadir);
      else
        pen.Break();
    }
    if (screen) pen.Flush();
  });
  pen.Break();
  // Receivers still lit when the trace ends go back to their own style; a
  // pass still under way is not reported.
  if (variant == 4 && screen)
    for (int64_t i = 0; i < rs.count; ++i)
      if (rs.seen[i] && rs.on_map[i]) DrawReceiver(g, d, location, rs.pixel[i]);
  drawing.Close();
  PictureChanged(g, d);
}

// ---------------------------------------------------------------- overhead a collection

namespace {

// The collection's open status as its message; every refusal is error 4.
void PostCollectionRefusal(GlobalBlock& g, const ops::CollOpenReport& r, const char* plr) {
  switch (r.status) {
    case ops::kCollOpenError: PostText(4, "Collection file %s access error", plr); break;
    case ops::kCollMappingError: PostText(4, "file %s mapping error %d", plr, static_cast<int>(r.a)); break;
    case ops::kCollReleaseMismatch:
      PostText(4, "Mis-match, release level (%d/%d)", static_cast<int>(r.a), static_cast<int>(r.b));
      break;
    case ops::kCollIndexMismatch:
      PostText(4, "Mis-match, index_id (%d/%d)", static_cast<int>(r.a), static_cast<int>(r.b));
      break;
    case ops::kCollDbIdMismatch:
      PostText(4, "Mis-match, db-id (%d/%d)", static_cast<int>(r.a), static_cast<int>(r.b));
      break;
    default: PostText(4, "error %d", r.status); break;
  }
  g.error_level = EL_FAILURE;
}

}  // namespace

// The track over a collection of regions: the nadir traced in the
// nadir.trace style; each region the nadir enters is filled in the
// object.highlight style the first time (it stays filled, so the map ends
// showing every region passed over) and every entry posts the date, the time
// of day and the region's name.
void CmdTraceOrbitCollection(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "RsetCollectionName satelliteName start_date time end_date time step [style [style]]");
    return;
  }
  char first[WORD_SIZE], name[WORD_SIZE], style[2][WORD_SIZE];
  const char* rest = Word(g, args, first);
  rest = Word(g, rest, name);
  // The collection (".plr") and its names (".dat", the same stem).
  char plr[FILE_NAME_SIZE], dat[FILE_NAME_SIZE];
  BuildFileName(first, g.dirs.data.c_str(), ".plr", plr);
  std::snprintf(dat, sizeof dat, "%s", plr);
  char* dot = std::strrchr(dat, '.');
  char* slash = std::strrchr(dat, '/');
  if (dot && (!slash || dot > slash)) std::snprintf(dot, sizeof dat - static_cast<size_t>(dot - dat), ".dat");
  if (!first[0]) {
    PostText(4, "Collection file %s access error", plr);
    g.error_level = EL_FAILURE;
    return;
  }
  if (!g.cell_index || g.cell_index->cell_count <= 0) {
    PostText(4, "No cell index loaded");
    g.error_level = EL_FAILURE;
    return;
  }
  ops::Collection coll;
  const ops::CollOpenReport r = coll.Open(plr, dat, *g.cell_index, 2);
  if (r.status != ops::kCollOk) {
    PostCollectionRefusal(g, r, plr);
    return;
  }
  TraceSetup s;
  if (!ReadTraceSetup(g, name, &rest, false, &s)) return;
  rest = NextWord(rest, style[0], WORD_SIZE);
  NextWord(rest, style[1], WORD_SIZE);
  DisplayContext& d = Display(g);
  if (d.plot_mode != 0) {
    PostText(4, "Not implemented for plot");
    g.error_level = EL_FAILURE;
    return;
  }
  display::MapGeometry* geometry = TraceGeometry(g);
  if (!geometry) return;
  TraceDrawing drawing(d, *geometry);
  const std::string nadir_style = TraceStyle(g, style[0], "nadir.trace", "c0");
  const std::string highlight = TraceStyle(g, style[1], "object.highlight", "c13");
  const display::AreaStyle area = display::ParseAreaStyle(highlight);
  if (!drawing.OpenLine(g, nadir_style)) return;
  drawing.mark_colour = display::ParseLineStyle(nadir_style).colour;
  if (!drawing.OpenMark(g)) return;
  cells::CellIndex& idx = *g.cell_index;
  std::vector<unsigned char> filled(coll.RegionCount(), 0);
  std::vector<std::uint32_t> before, now, entered;
  std::string region_name;
  TracePen pen(*geometry, &drawing.lines[0]);
  RunTrace(g, drawing, s, true, [&](double t, const orbits::NadirSwath& ns) {
    // The regions under the nadir; beyond the most a position reports, the
    // first ones found are taken.
    std::uint32_t out[ops::kCollMaxRegions];
    const int n = std::min(coll.RegionsAt(idx, cells::Locate(idx, ns.nadir), ns.nadir, out, ops::kCollMaxRegions),
                           ops::kCollMaxRegions);
    now.assign(out, out + n);
    std::sort(now.begin(), now.end());
    entered.clear();
    for (std::uint32_t k : now)
      if (!std::binary_search(before.begin(), before.end(), k)) entered.push_back(k);
    // The fills come before the step's piece of track, which stays on top.
    for (std::uint32_t k : entered) {
      if (filled[k]) continue;
      filled[k] = 1;
      display::DrawState fill;
      if (display::OpenAreas(&fill, &d.surface, area) != display::kDrawOk) continue;
      display::FillObjectArea(*geometry, idx, coll.Region(k).obj, 0.0, &fill);
      display::CloseDrawState(&fill);
    }
    if (!entered.empty()) {
      const ClockTime c = EpochClock(s.orbit, t);
      char when[32];
      std::snprintf(when, sizeof when, "%02d:%02d:%02d.%d", c.hours, c.minutes, c.seconds, c.tenths);
      for (std::uint32_t k : entered) {
        if (!coll.Name(coll.Region(k).name_ref, region_name)) region_name = "???";
        PostText(-2, "%s %s %s", c.date, when, region_name.c_str());
      }
    }
    before.swap(now);
    pen.Add(ns.nadir);
    pen.Flush();
  });
  pen.Break();
  drawing.Close();
  PictureChanged(g, d);
}

// ---------------------------------------------------------------- derivations

namespace {

const char* DeriveUsage(int variant, int mode) {
  if (variant == 1) return "RsetName satelliteName orbit_number step resolution";
  if (mode == 1) return "LsetName satelliteName start_date time end_date time step resolution";
  return "RsetName satelliteName start_date time end_date time step resolution";
}

}  // namespace

void CmdDeriveOrbit(GlobalBlock& g, const char* args, int variant, int mode) {
  const bool line_set = mode == 1;
  if (IsUsageRequest(args)) {
    PostText(2, "%s", DeriveUsage(variant, mode));
    return;
  }
  ShowWaitPointer(true);
  struct Arrow {
    ~Arrow() { ShowWaitPointer(false); }
  } arrow;
  char out_name[WORD_SIZE], name[WORD_SIZE], word[WORD_SIZE];
  const char* rest = Word(g, args, out_name);
  // 1. The output name.
  char built[FILE_NAME_SIZE];
  BuildFileName(out_name, g.dirs.data.c_str(), ".qbo", built);
  const std::string out_path = built;
  const int check = out_name[0] ? cells::CheckNewObjectName(out_path) : 1;
  if (check == 1) {
    PostText(4, "Invalid object/file name (%s)", out_name);
    g.error_level = EL_FAILURE;
    return;
  }
  if (check != 0) {
    PostText(4, "Unable to open (%s) for writing", out_path.c_str());
    g.error_level = EL_FAILURE;
    return;
  }
  // 2. The satellite.
  rest = Word(g, rest, name);
  if (!name[0]) {
    PostText(4, "No satellite file name given");
    g.error_level = EL_FAILURE;
    return;
  }
  orbits::Orbit orbit;
  orbits::Swath swath;
  // The region sets need the swath limits: asked for, they are read or the
  // reader refuses the file with the limit's own message.
  if (ReadSatelliteFile(g, name, &orbit, &swath, !line_set) < 0) return;
  // 3. The times.
  double start = 0.0, end = 0.0, step = 1.0;
  if (variant == 1) {
    rest = NextWord(rest, word, WORD_SIZE);
    const long n = word[0] ? std::atol(word) : 1;
    if (n < 1 || n > 100000000) {
      PostText(4, "Invalid orbit number (%s)", word);
      g.error_level = EL_FAILURE;
      return;
    }
    rest = NextWord(rest, word, WORD_SIZE);
    step = std::atof(word);
    if (!(step >= 1.0) || !std::isfinite(step)) {
      PostText(4, "Invalid time-step (%s)", word);
      g.error_level = EL_FAILURE;
      return;
    }
    start = static_cast<double>(n - 1) * orbit.period + 1.0;
    end = static_cast<double>(n) * orbit.period - 1.0;
    if (!(start < end)) {
      PostText(4, "Invalid start/end times");
      g.error_level = EL_FAILURE;
      return;
    }
  } else {
    TraceTimes times;
    if (!ReadTraceTimes(g, &rest, orbit, &times)) return;
    start = times.start;
    end = times.end;
    step = times.step;
  }
  // 4. The resolution.
  NextWord(rest, word, WORD_SIZE);
  int res = g.settings.coordinate_resolution;
  if (word[0]) {
    res = cells::ResolutionCode(word);
    if (res == 0) {
      PostText(4, "Invalid resolution indicator (%s)", word);
      g.error_level = EL_FAILURE;
      return;
    }
  }
  if (!g.cell_index || g.cell_index->cell_count <= 0) {
    PostText(4, "No cell index loaded");
    g.error_level = EL_FAILURE;
    return;
  }
  // 5. The output, built in a temporary file beside its name.
  cells::ObjectHandle out;
  const int created = cells::CreateObject(out, out_path, line_set ? cells::kLset : cells::kRset,
                                          g.settings.mmf_out_size);
  if (created != 0) {
    if (created == 1)
      PostText(4, "file open error: %s", out_path.c_str());
    else
      PostText(4, "memory mapping error: %d", created);
    cells::AbandonObject(out);
    g.error_level = EL_FAILURE;
    return;
  }
  // 6. The vertex chain and the object.
  const geodesy::Ellipsoid e = CurrentEllipsoid(g);
  int status = 0;
  {
    platform::WorkspaceMark mark(&g.workspace);
    std::vector<cells::PointNode> heap;
    std::span<cells::PointNode> chain;
    status = orbits::BuildOrbitChain(e, orbit, line_set ? nullptr : &swath, line_set ? 1 : 2, start, end, step,
                                     &g.workspace, &heap, &chain);
    if (status == 0) {
      cells::SectionTarget target{&out.arena, nullptr};
      cells::BuildParams params;
      params.id = static_cast<std::uint32_t>(std::time(nullptr));
      params.res = res;
      status = line_set ? cells::BuildLset(*g.cell_index, target, params, chain, out.obj)
                        : cells::BuildRset(*g.cell_index, target, params, chain, out.obj);
    }
  }
  // 7. The result.
  if (status > 0) {
    cells::AbandonObject(out);
    PostText(4, "%s return code = %d", out_path.c_str(), status);
    g.error_level = EL_FAILURE;
    return;
  }
  if (cells::CloseObject(out) != 0) {
    PostText(4, "file open error: %s", out_path.c_str());
    g.error_level = EL_FAILURE;
    return;
  }
  if (status < 0) {
    PostText(3, "%s empty object", out_path.c_str());
    g.error_level = EL_EMPTY;
  }
}

}  // namespace interp

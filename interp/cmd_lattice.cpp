// AddCellCenters, TraverseCells and NearestCells: the cell lattice commands.
//
// AddCellCenters grows a working copy of the loaded index (lib/cells/
// cell_grow) by random centres at once, or by clicked centres in a pointer
// mode, drawing the cells each insertion changed, and at the end verifies
// the copy and writes it as a new .vix file. The loaded index stays as it
// was; ReadVix loads the new one.
//
// TraverseCells shows the location walk: each click walks from the last
// cell drawn towards the clicked point, drawing every cell on the way.
//
// NearestCells draws the cells round a circle given by two clicks: their
// centres (c), their outlines (a), or the outlines of the cells the circle
// crosses and of those inside it in two styles (d; lib/cells/cell_disc.h).
#include "interp/cmd_lattice.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "interp/cmd_draw.h"
#include "interp/cmd_plot.h"
#include "interp/handlers.h"
#include "interp/map_modes.h"
#include "interp/messages.h"
#include "interp/words.h"
#include "lib/cells/cell_disc.h"
#include "lib/cells/cell_grow.h"
#include "lib/cells/cell_locate.h"
#include "lib/display/draw_cells.h"
#include "lib/display/map_geometry.h"
#include "lib/geodesy/ellipsoid.h"
#include "platform/clock.h"

namespace interp {

namespace {

using geodesy::DirectionCosines;

constexpr int kClickLimit = 1024;
constexpr int kWalkStepMs = 60;

// A style argument, else the key's value, else a default.
std::string StyleOr(GlobalBlock& g, const char* argument, const char* key, const char* fallback) {
  std::string v = StyleValue(g, argument && argument[0] ? argument : nullptr, key);
  if (v.find_first_not_of(" \t") == std::string::npos) v = fallback;
  return v;
}


// Outlines of cells of an index in a line style, on the current target (the
// plot while one is active: the clicks stay on the screen's map).
void DrawOutlines(GlobalBlock& g, const cells::CellIndex& idx, const std::vector<int32_t>& list,
                  const std::string& style) {
  display::MapGeometry* m = TargetGeometry(g);
  if (!m || list.empty()) return;
  display::DrawState state;
  AimAtTarget(g, &state);
  if (display::OpenLines(&state, &Display(g).surface, display::ParseLineStyle(style)) != display::kDrawOk) {
    PostText(4, "Graphics memory");
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  display::DrawCellOutlines(*m, idx, list, &state);
  display::CloseDrawState(&state);
  ModePictureChanged(g);
}

// Whether a new file can be made at path without touching an old one there.
bool CanCreate(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  std::string probe = (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/.ombrel-probe-XXXXXX";
  std::vector<char> buf(probe.begin(), probe.end());
  buf.push_back('\0');
  const int fd = mkstemp(buf.data());
  if (fd < 0) return false;
  close(fd);
  unlink(buf.data());
  return access(path.c_str(), F_OK) != 0 || access(path.c_str(), W_OK) == 0;
}

// ---------------------------------------------------------------- AddCellCenters

struct Expansion {
  bool active = false;
  cells::GrowState grow;
  std::string path;  // empty: nothing is written
  std::string style;
  std::set<int32_t> changed;  // cells to draw once the random expansion is done
};
Expansion g_grow;

// One insertion with its messages. Returns false when the expansion must end
// (*write_file false: without writing).
bool InsertOne(GlobalBlock& g, const DirectionCosines& p, bool draw_now, bool* write_file) {
  cells::InsertReport report;
  const int st = cells::InsertCentre(g_grow.grow, p, &report);
  for (int i = 0; i < report.shifts; ++i) PostText(2, "four-corners detected - shifting");
  switch (st) {
    case cells::INSERT_DONE:
      if (draw_now)
        DrawOutlines(g, g_grow.grow.work, report.affected, g_grow.style);
      else
        g_grow.changed.insert(report.affected.begin(), report.affected.end());
      return g_grow.grow.work.cell_count < g_grow.grow.limit;
    case cells::INSERT_SAME_CENTRE:
      return true;  // on an existing centre: nothing changes
    case cells::INSERT_LIMIT:
    case cells::INSERT_LIST_FULL:
      PostText(3, "Expansion limit (%d) reached.", kClickLimit);
      return false;
    case cells::INSERT_SORT_FAILED:
      PostText(4, "Wavefront sort status: %d - aborting.", st);
      g.error_level = EL_FAILURE;
      return false;
    case cells::INSERT_NO_MEMORY:
      PostText(4, "No heap memory available.");
      g.error_level = EL_NOT_APPLICABLE;
      *write_file = false;
      return false;
    default:
      PostText(4, "Process status %d", st);
      g.error_level = EL_FAILURE;
      *write_file = false;
      return false;
  }
}

// Verifies the grown index and writes it; releases the expansion.
void FinishExpansion(GlobalBlock& g, bool write_file) {
  if (!g_grow.active) return;
  if (!g_grow.changed.empty()) {
    DrawOutlines(g, g_grow.grow.work, std::vector<int32_t>(g_grow.changed.begin(), g_grow.changed.end()),
                 g_grow.style);
    g_grow.changed.clear();
  }
  if (write_file) {
    const cells::FinishResult r =
        cells::FinishGrow(g_grow.grow, g_grow.path.empty() ? nullptr : g_grow.path.c_str(), g.settings.ellipsoid_number);
    const int32_t* f = r.verify.fault;
    switch (r.verify.status) {
      case 0: break;
      case 3: PostText(4, "Non-corresponding edges. Cells %d, %d\n", f[0], f[1]); break;
      case 2: PostText(4, "Fuzzy edge (4-corner). Cells:%d,%d,%d,%d\n", f[0], f[1], f[2], f[3]); break;
      default: PostText(4, "Non-corresponding neighbor arrays. Cells %d, %d\n", f[0], f[1]); break;
    }
    if (r.verify.status != 0) {
      g.error_level = EL_FAILURE;
    } else if (r.write_status > 0) {
      if (r.write_status == 1) PostText(4, "Error opening [%s] for writing.", g_grow.path.c_str());
      if (r.write_status == 2) PostText(4, "Unexpected header write error [%s].", g_grow.path.c_str());
      if (r.write_status == 3)
        PostText(4, "Unexpected cell row %d header write error [%s].", (int)r.failed_row, g_grow.path.c_str());
      g.error_level = EL_NOT_APPLICABLE;
    } else if (r.write_status == 0) {
      PostText(2, "Cell index %s written: %d cells", g_grow.path.c_str(), (int)g_grow.grow.work.cell_count);
    }
  }
  cells::EndGrow(g_grow.grow);
  g_grow = Expansion();
}

void AddPress(GlobalBlock& g, const ModeEvent& e) {
  if (e.button != 1) return;
  DirectionCosines u;
  if (!PixelToPosition(g, e.x, e.y, &u)) {
    ModeBeep(g);
    return;
  }
  bool write_file = true;
  if (g_grow.grow.work.cell_count >= g_grow.grow.limit) {
    PostText(3, "Expansion limit (%d) reached.", kClickLimit);
    FinishExpansion(g, true);
    EndMapMode(g);
    return;
  }
  if (!InsertOne(g, u, true, &write_file)) {
    // The 1024th clicked centre fills the expansion: it ends there.
    if (g_grow.grow.work.cell_count >= g_grow.grow.limit) PostText(3, "Expansion limit (%d) reached.", kClickLimit);
    FinishExpansion(g, write_file);
    EndMapMode(g);
  }
}

void AddKey(GlobalBlock& g, int key) {
  if (key != 27) {
    ModeBeep(g);
    return;
  }
  FinishExpansion(g, true);
  EndMapMode(g);
}

// Whatever ends the mode finishes the expansion (as Escape does).
void AddEnd(GlobalBlock& g) { FinishExpansion(g, true); }

const MapModeSpec kAddMode = {"add cell centres", MODE_ADD_CENTERS, kCornerIsEscape, platform::kPointerCross,
                              nullptr,            AddPress,         nullptr,         AddKey,
                              AddEnd};

// ---------------------------------------------------------------- TraverseCells

struct Traverse {
  int32_t last = cells::NO_CELL;
  std::string style;
};
Traverse g_walk;

void TraversePress(GlobalBlock& g, const ModeEvent& e) {
  if (e.button != 1) return;
  DirectionCosines p;
  if (!PixelToPosition(g, e.x, e.y, &p)) {
    ModeBeep(g);
    return;
  }
  cells::CellIndex& idx = *g.cell_index;
  if (g_walk.last == cells::NO_CELL || g_walk.last >= idx.cell_count) {
    g_walk.last = cells::Locate(idx, p);
    DrawOutlines(g, idx, {g_walk.last}, g_walk.style);
    PostText(2, "Total number of cells: %d", (int)idx.cell_count);
    return;
  }
  // The walk: to the nearest neighbour while one is strictly nearer.
  std::vector<int32_t> path{g_walk.last};
  int32_t cur = g_walk.last;
  double d = geodesy::ChordSq(idx.cells[cur]->centre, p);
  for (;;) {
    const cells::CellRecord* r = idx.cells[cur];
    int32_t best = cur;
    for (int k = 0; k < r->neighbour_count; ++k) {
      const int32_t nb = r->neighbours[k];
      const double dn = geodesy::ChordSq(idx.cells[nb]->centre, p);
      if (dn < d) {
        d = dn;
        best = nb;
      }
    }
    if (best == cur) break;
    cur = best;
    path.push_back(cur);
  }
  // On the screen the walk is drawn cell by cell, a short pause apart, so
  // that it can be followed; elsewhere (and on a plot) at once.
  if (!g.batch && !PlotActive() && PresentMapNow(g)) {
    for (size_t i = 1; i < path.size(); ++i) {
      DrawOutlines(g, idx, {path[i]}, g_walk.style);
      PresentMapNow(g);
      platform::SleepMs(kWalkStepMs);
    }
  } else {
    DrawOutlines(g, idx, path, g_walk.style);
  }
  g_walk.last = cur;
  PostText(2, "Traversed cells: %d (%d)", (int)path.size(), (int)idx.cell_count);
}

void TraverseEnd(GlobalBlock&) { g_walk = Traverse(); }

const MapModeSpec kTraverseMode = {"traverse cells", MODE_TRAVERSE_CELLS, kCornerIsEscape, platform::kPointerCross,
                                   nullptr,          TraversePress,       nullptr,         nullptr,
                                   TraverseEnd};

// ---------------------------------------------------------------- NearestCells

struct Nearest {
  char modifier = 'c';
  std::string style1, style2;
  DirectionCosines centre;
  int cx = 0, cy = 0;
  bool shown = false;
  int sx = 0, sy = 0;
  std::vector<DirectionCosines> ring;  // the circle now shown
};
Nearest g_near;

// The circle about the centre through u, as positions.
void CircleThrough(const DirectionCosines& c, const DirectionCosines& u, std::vector<DirectionCosines>* ring) {
  ring->clear();
  const geodesy::TangentFrame f = geodesy::BuildTangentFrame(c);
  double x, y;
  if (geodesy::ProjectToFrame(f, u, x, y) != 0) return;
  const double rho = std::hypot(x, y);
  if (!(rho > 0)) return;
  for (int k = 0; k < 72; ++k) {
    const double t = k * M_PI / 36;
    ring->push_back(geodesy::LiftFromFrame(f, rho * std::cos(t), rho * std::sin(t)));
  }
}

void EraseNearCircle(GlobalBlock& g) {
  if (!g_near.shown) return;
  ModeXorPolyline(g, g_near.ring.data(), (int)g_near.ring.size(), true);
  g_near.shown = false;
}

void NearestMove(GlobalBlock& g, const ModeEvent& e) {
  if (MapModeStep() != 2) return;
  const int c = g.settings.coincident_pixel_count;
  if (g_near.shown && std::abs(e.x - g_near.sx) <= c && std::abs(e.y - g_near.sy) <= c) return;
  DirectionCosines u;
  if (!PixelToPosition(g, e.x, e.y, &u)) return;
  EraseNearCircle(g);
  CircleThrough(g_near.centre, u, &g_near.ring);
  if (g_near.ring.empty()) return;
  ModeXorPolyline(g, g_near.ring.data(), (int)g_near.ring.size(), true);
  g_near.shown = true;
  g_near.sx = e.x;
  g_near.sy = e.y;
}

void NearestPress(GlobalBlock& g, const ModeEvent& e) {
  if (e.button != 1) return;
  DirectionCosines u;
  if (!PixelToPosition(g, e.x, e.y, &u)) {
    ModeBeep(g);
    return;
  }
  if (MapModeStep() == 1) {
    g_near.centre = u;
    g_near.cx = e.x;
    g_near.cy = e.y;
    PostText(2, "Click on periphery.");
    SetModeStep(2);
    return;
  }
  EraseNearCircle(g);
  const double r2 = geodesy::ChordSq(g_near.centre, u);
  cells::CellIndex& idx = *g.cell_index;
  // The cell lists are heap memory (the workspace of the default settings
  // is smaller than the list of the shipped index): only a failing heap
  // refuses the query.
  display::MapGeometry* m = TargetGeometry(g);
  if (g_near.modifier == 'c') {
    const std::vector<uint32_t> list = cells::NearCellsList(idx, g_near.centre, r2);
    if (list.size() < 2) {
      PostText(4, "Failed to obtain workspace (%d)\n", 4 * idx.cell_count + 64);
      g.error_level = EL_NOT_APPLICABLE;
      EndMapMode(g);
      return;
    }
    std::vector<int32_t> found;
    for (size_t i = 1; i < list.size(); ++i)
      if ((int32_t)list[i] != cells::NO_CELL) found.push_back((int32_t)list[i]);
    display::DrawState state;
    AimAtTarget(g, &state);
    if (m && display::OpenMarkers(&state, &Display(g).surface, display::ParseMarkerStyle(g_near.style1)) ==
                 display::kDrawOk) {
      display::DrawCellCentres(*m, idx, found, &state);
      display::CloseDrawState(&state);
    }
  } else {
    std::vector<int32_t> boundary, interior;
    if (cells::DiscCells(idx, g_near.centre, r2, &boundary, &interior) != 0) {
      PostText(4, "out of engine workspace\n");
      g.error_level = EL_NOT_APPLICABLE;
      EndMapMode(g);
      return;
    }
    if (g_near.modifier == 'a') {
      boundary.insert(boundary.end(), interior.begin(), interior.end());
      std::sort(boundary.begin(), boundary.end());
      DrawOutlines(g, idx, boundary, g_near.style1);
    } else {
      DrawOutlines(g, idx, interior, g_near.style2);
      DrawOutlines(g, idx, boundary, g_near.style1);
    }
  }
  ModePictureChanged(g);
  EndMapMode(g);
}

void NearestKey(GlobalBlock& g, int key) {
  if (key != 27) {
    ModeBeep(g);
    return;
  }
  EraseNearCircle(g);
  EndMapMode(g);
}

void NearestEnd(GlobalBlock&) { g_near = Nearest(); }

const MapModeSpec kNearestMode = {"nearest cells", MODE_NEAREST_CELLS, kCornerIgnored, platform::kPointerCross,
                                  NearestMove,     NearestPress,       nullptr,        NearestKey,
                                  NearestEnd};

}  // namespace

// ---------------------------------------------------------------- commands

void CmdAddCellCenters(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "[saveFileName [style [count]]]");
    return;
  }
  char name[WORD_SIZE], style[WORD_SIZE], count_word[WORD_SIZE];
  const char* rest = NextWord(args, name, sizeof name);
  rest = NextWord(rest, style, sizeof style);
  NextWord(rest, count_word, sizeof count_word);
  if (!NeedIndexAndMap(g)) return;
  std::string path;
  if (name[0]) {
    char expanded[WORD_SIZE];
    snprintf(expanded, sizeof expanded, "%s", name);
    ExpandDirectoryAlias(g, expanded, sizeof expanded);
    char built[FILE_NAME_SIZE];
    BuildFileName(expanded, g.dirs.data.c_str(), ".vix", built);
    if (!CanCreate(built)) {
      PostText(4, "Can't write to file (%s)", built);
      g.error_level = EL_FAILURE;
      return;
    }
    path = built;
  }
  const long count = atol(count_word);
  if (count < -(long)cells::MAX_CELLS || count > (long)cells::MAX_CELLS) {
    PostText(4, "Expansion limit (%d) reached.", (int)cells::MAX_CELLS);
    g.error_level = EL_FAILURE;
    return;
  }
  if (g.map_mode != 0) CancelMapMode(g);
  const int32_t add = count == 0 ? kClickLimit : (int32_t)std::labs(count);
  g_grow = Expansion();
  if (cells::BeginGrow(g_grow.grow, *g.cell_index, add) != 0) {
    PostText(4, "No memory (%lld) to expand index.",
             (long long)(g.cell_index->cell_count + (int64_t)add) * (long long)cells::GROW_RECORD_BYTES);
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  g_grow.active = true;
  g_grow.path = path;
  g_grow.style = StyleOr(g, style, "cell.lines", "c0");
  if (count == 0) {
    StartMapMode(g, kAddMode);
    return;
  }
  // Random centres: the fixed seed repeats, the clock seed does not.
  cells::GrowRandom random;
  cells::SeedGrowRandom(random, count < 0 ? cells::FIXED_GROW_SEED : (unsigned)time(nullptr));
  ShowWaitPointer(true);
  bool write_file = true;
  for (long i = 0; i < add; ++i) {
    if (!InsertOne(g, cells::RandomCentre(random), false, &write_file)) break;
    // Long growths show their progress (about a second per 10 000).
    if ((i + 1) % 10000 == 0 && i + 1 < add) PostText(-2, "%ld of %d centres added", i + 1, (int)add);
  }
  FinishExpansion(g, write_file);
  ShowWaitPointer(false);
}

void CmdTraverseCells(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "[style]");
    return;
  }
  char style[WORD_SIZE];
  NextWord(args, style, sizeof style);
  if (!NeedIndexAndMap(g)) return;
  if (g.map_mode != 0) CancelMapMode(g);
  g_walk = Traverse();
  g_walk.style = StyleOr(g, style, "cell.lines", "c0");
  StartMapMode(g, kTraverseMode);
}

void CmdNearestCells(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "c|a|d [style [style]]");
    return;
  }
  char modifier[WORD_SIZE], style1[WORD_SIZE], style2[WORD_SIZE];
  const char* rest = NextWord(args, modifier, sizeof modifier);
  rest = NextWord(rest, style1, sizeof style1);
  NextWord(rest, style2, sizeof style2);
  if (!modifier[0]) {
    PostText(4, "Missing command modifier");
    g.error_level = EL_FAILURE;
    return;
  }
  const char m = (char)tolower((unsigned char)modifier[0]);
  if (modifier[1] || (m != 'c' && m != 'a' && m != 'd')) {
    PostText(4, "Invalid operation modifier (%s)", modifier);
    g.error_level = EL_FAILURE;
    return;
  }
  if (!NeedIndexAndMap(g)) return;
  if (g.map_mode != 0) CancelMapMode(g);
  g_near = Nearest();
  g_near.modifier = m;
  if (m == 'c') {
    g_near.style1 = StyleOr(g, style1, "cell.centers", "c13");
  } else {
    g_near.style1 = StyleOr(g, style1, "cell.lines.boundary", "c5");
    g_near.style2 = StyleOr(g, style2, "cell.lines.interior", "c1");
  }
  StartMapMode(g, kNearestMode);
  PostText(2, "Click on center, or [ESC] to abort.");
}

}  // namespace interp

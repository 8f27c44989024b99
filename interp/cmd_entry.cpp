// EnterPset, EnterLset, EnterRset and the circle and sector entries.
//
// The entry state lives here while the mode runs: the output name, kind,
// resolution and time stamp, the trace colour, the vertices entered so far
// (each piece of a line or ring ends with a mark node), the device points of
// the current piece's first and last vertex, the rubber band's end, and the
// workspace mark that every vertex node (40 bytes) is counted against, so
// that the workspace limit holds as it does for the other commands.
#include "interp/cmd_entry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <span>
#include <string>
#include <vector>

#include "interp/cmd_draw.h"
#include "interp/handlers.h"
#include "interp/map_modes.h"
#include "interp/messages.h"
#include "interp/words.h"
#include "lib/cells/coord_text.h"
#include "lib/cells/object_builder.h"
#include "lib/cells/object_file.h"
#include "lib/geodesy/tangent_frame.h"
#include "platform/workspace.h"

namespace interp {

namespace {

using geodesy::DirectionCosines;

constexpr int kNoBand = 0x7FFFFFFF;
constexpr int kNodeBytes = 40;

enum EntryKind { kPoints = 0, kLines = 1, kRings = 2 };

struct Pixel {
  int x = 0, y = 0;
};

struct EntryState {
  std::string path;
  int kind = kPoints;
  int res = 6;
  uint32_t stamp = 0;
  uint32_t colour = 0;
  std::vector<cells::PointNode> nodes;
  Pixel first, last;
  Pixel band{kNoBand, kNoBand};
  int piece_count = 0;   // vertices of the current piece (points: of the set)
  int items = 0;         // pieces ended
  bool any = false;
  bool drag = false;
  uint8_t* workspace_mark = nullptr;
  // Circles and sectors.
  bool sector = false;
  bool outside = false;
  int density = 2;
  DirectionCosines centre, arc0;
  Pixel centre_px, arc0_px, shown{kNoBand, kNoBand};
  std::vector<DirectionCosines> band_ring;  // the circle now shown in exclusive-or
};
EntryState g_entry;

int Coincidence(GlobalBlock& g) { return g.settings.coincident_pixel_count; }

bool Within(const Pixel& a, int x, int y, int d) { return std::abs(a.x - x) <= d && std::abs(a.y - y) <= d; }

bool OverButtons(GlobalBlock& g, int x, int y, bool done_button) {
  if (y >= CORNER_BOX_HEIGHT) return false;
  return x < BUTTON_WIDTH || (done_button && x >= ModeClientWidth(g) - BUTTON_WIDTH);
}

// The output name and resolution of every entry command: false (message and
// error level set) when they are refused.
bool ReadNameAndResolution(GlobalBlock& g, const char* name, const char* res_word, std::string* path, int* res) {
  char expanded[WORD_SIZE];
  snprintf(expanded, sizeof expanded, "%s", name);
  ExpandDirectoryAlias(g, expanded, sizeof expanded);
  char built[FILE_NAME_SIZE];
  BuildFileName(expanded, g.dirs.data.c_str(), ".qbo", built);
  const int check = name[0] ? cells::CheckNewObjectName(built) : 1;
  if (check == 1) {
    PostText(4, "Invalid object/file name (%s)", name);
    g.error_level = EL_FAILURE;
    return false;
  }
  if (check != 0) {
    PostText(4, "Unable to open (%s) for writing", built);
    g.error_level = EL_FAILURE;
    return false;
  }
  *res = g.settings.coordinate_resolution;
  if (res_word[0]) {
    *res = cells::ResolutionCode(res_word);
    if (*res == 0) {
      PostText(4, "Invalid resolution indicator (%s).", res_word);
      g.error_level = EL_FAILURE;
      return false;
    }
  }
  if (!NeedIndexAndMap(g)) return false;
  *path = built;
  return true;
}

// A node counted against the workspace: false ("Out of workspace.") when it
// does not fit.
bool TakeNode(GlobalBlock& g) {
  if (!g.workspace.base) return true;
  if (platform::WorkspaceAlloc(&g.workspace, kNodeBytes)) return true;
  PostText(4, "Out of workspace.");
  g.error_level = EL_NOT_APPLICABLE;
  return false;
}

void EraseBand(GlobalBlock& g) {
  if (g_entry.band.x == kNoBand) return;
  ModeXorLine(g, g_entry.last.x, g_entry.last.y, g_entry.band.x, g_entry.band.y);
  g_entry.band = {kNoBand, kNoBand};
}

void EndEntryMode(GlobalBlock& g) {
  // The mode's end: the vertex list and the workspace go back.
  if (g.workspace.base && g_entry.workspace_mark) platform::WorkspaceSetTop(&g.workspace, g_entry.workspace_mark);
  g_entry = EntryState();
}

// Writes the object from the vertex list (the mode then ends). The messages
// of the circle commands are those of the region writer, in their own words.
void WriteEntry(GlobalBlock& g, bool circle_words) {
  cells::ObjectHandle h;
  const int created = cells::CreateObject(h, g_entry.path, g_entry.kind, g.settings.mmf_out_size);
  if (created != 0) {
    if (created == 1)
      PostText(4, circle_words ? "file open error: %s" : "File open error: %s.", g_entry.path.c_str());
    else
      PostText(4, circle_words ? "memory mapping error: %d" : "Memory mapping error: %d.", created);
    g.error_level = EL_FAILURE;
    return;
  }
  const cells::BuildParams params{g_entry.stamp, 0, g_entry.res, 0};
  std::span<const cells::PointNode> nodes(g_entry.nodes);
  int status;
  if (g_entry.kind == kPoints) {
    std::vector<cells::PointNode> points;
    for (const cells::PointNode& n : g_entry.nodes)
      if (!cells::IsMark(n)) points.push_back(n);
    status = cells::BuildPset(*g.cell_index, {&h.arena, nullptr}, params, points, h.obj);
  } else if (g_entry.kind == kLines) {
    status = cells::BuildLset(*g.cell_index, {&h.arena, nullptr}, params, nodes, h.obj);
  } else {
    status = cells::BuildRset(*g.cell_index, {&h.arena, nullptr}, params, nodes, h.obj);
  }
  if (status > 0) {
    // The temporary file goes; an old object of the name stays as it was.
    cells::AbandonObject(h);
    PostText(4, circle_words ? "return code = %d" : "Return code: %d.", status);
    g.error_level = EL_FAILURE;
    return;
  }
  if (cells::CloseObject(h) != 0) {
    PostText(4, circle_words ? "file open error: %s" : "File open error: %s.", g_entry.path.c_str());
    g.error_level = EL_FAILURE;
    return;
  }
  if (status < 0) {
    PostText(3, circle_words ? "empty object" : "Empty object.");
    g.error_level = EL_EMPTY;
    return;
  }
  g.error_level = EL_SUCCESS;
}

// ---------------------------------------------------------------- points, lines, rings

void EndPiece(GlobalBlock& g) {
  if (g_entry.kind == kRings) ModeMarkLine(g, g_entry.last.x, g_entry.last.y, g_entry.first.x, g_entry.first.y, g_entry.colour);
  g_entry.nodes.push_back(cells::Mark(++g_entry.items));
  g_entry.piece_count = 0;
  if (g_entry.kind == kRings)
    PostLines(2, "Click on first vertex to start next ring, or\nto end this set, click on [Done] or press <Enter>.\n");
  else
    PostLines(2, "Click on first vertex to start additional line, or\nto end this set click on [Done] or press <Enter>.\n");
}

void EndSet(GlobalBlock& g) {
  EraseBand(g);
  if (g_entry.kind != kPoints && g_entry.piece_count > 0) g_entry.nodes.push_back(cells::Mark(++g_entry.items));
  g_entry.nodes.push_back(cells::Mark(++g_entry.items));
  WriteEntry(g, false);
  EndMapMode(g);
}

void Abort(GlobalBlock& g) {
  EraseBand(g);
  EndMapMode(g);
}

void AddVertex(GlobalBlock& g, int x, int y) {
  DirectionCosines u;
  if (!PixelToPosition(g, x, y, &u)) {
    ModeBeep(g);
    return;
  }
  if (!TakeNode(g)) {
    Abort(g);
    return;
  }
  g_entry.nodes.push_back({u, static_cast<uint64_t>(g_entry.nodes.size() + 1)});
  ModeMark(g, x, y, g_entry.colour);
  if (g_entry.kind != kPoints && g_entry.piece_count > 0) ModeXorLine(g, g_entry.last.x, g_entry.last.y, x, y);
  if (g_entry.piece_count == 0) g_entry.first = {x, y};
  g_entry.last = {x, y};
  ++g_entry.piece_count;
  const bool first_of_set = !g_entry.any;
  g_entry.any = true;
  if (g_entry.kind == kPoints) {
    if (first_of_set) PostLines(2, "Click or drag-draw additional points, or\nto end the set, click on [Done] or press <Enter>.\n");
    return;
  }
  const bool ring = g_entry.kind == kRings;
  if (g_entry.piece_count == 1)
    PostLines(2, ring ? "Click or drag-draw further ring vertices.\n" : "Click or drag-draw further line vertices.\n");
  else if (g_entry.piece_count == (ring ? 3 : 2))
    PostLines(2, ring ? "To end this ring, click on [Done] or press <Space>.\n"
                      : "To end this line, click on [Done] or press <Space>.\n");
}

bool PieceLongEnough() { return g_entry.piece_count >= (g_entry.kind == kRings ? 3 : 2); }

// A left press, or a move with the left button held (drag-drawing).
void EntryClick(GlobalBlock& g, int x, int y, bool dragging) {
  EraseBand(g);
  const int width = ModeClientWidth(g);
  if (y < CORNER_BOX_HEIGHT && x >= width - BUTTON_WIDTH) {  // [Done]
    if (dragging || g_entry.drag) return;
    if (!g_entry.any) {
      ModeBeep(g);
      return;
    }
    if (g_entry.kind == kPoints || g_entry.piece_count == 0) {
      EndSet(g);
      return;
    }
    g_entry.drag = true;
    if (!PieceLongEnough()) {
      ModeBeep(g);
      return;
    }
    EndPiece(g);
    return;
  }
  if (y < CORNER_BOX_HEIGHT && x < BUTTON_WIDTH) {  // [Esc] (a drag passing over it)
    if (!dragging) Abort(g);
    return;
  }
  const int c = Coincidence(g);
  if (g_entry.kind == kRings && g_entry.piece_count >= 3 && Within(g_entry.first, x, y, 2 * c)) {
    EndPiece(g);
    return;
  }
  if (g_entry.piece_count > 0 && Within(g_entry.last, x, y, c)) return;
  AddVertex(g, x, y);
}

void EntryMove(GlobalBlock& g, const ModeEvent& e) {
  if (e.left_down) {
    g_entry.drag = true;
    EntryClick(g, e.x, e.y, true);
    return;
  }
  const bool over = OverButtons(g, e.x, e.y, true);
  SetModePointer(over ? platform::kPointerArrow : platform::kPointerCross);
  if (g_entry.kind == kPoints) return;
  EraseBand(g);
  if (!over && g_entry.piece_count > 0) {
    ModeXorLine(g, g_entry.last.x, g_entry.last.y, e.x, e.y);
    g_entry.band = {e.x, e.y};
  }
}

void EntryPress(GlobalBlock& g, const ModeEvent& e) {
  if (e.button != 1) return;
  EntryClick(g, e.x, e.y, false);
}

void EntryRelease(GlobalBlock&, const ModeEvent& e) {
  if (e.button == 1) g_entry.drag = false;
}

void EntryKey(GlobalBlock& g, int key) {
  switch (key) {
    case 10:
    case 13:
      if (!g_entry.any || (g_entry.kind != kPoints && g_entry.piece_count > 0)) {
        ModeBeep(g);
        return;
      }
      EndSet(g);
      return;
    case 27:
      Abort(g);
      return;
    case 32:
    case 43:
      if (g_entry.kind == kPoints || !PieceLongEnough()) {
        ModeBeep(g);
        return;
      }
      EraseBand(g);
      EndPiece(g);
      return;
    default:
      ModeBeep(g);
  }
}

const MapModeSpec kEntryMode = {"entry",      MODE_ENTRY, kCornerIsEscape, platform::kPointerCross, EntryMove,
                                EntryPress, EntryRelease, EntryKey,       EndEntryMode};

// ---------------------------------------------------------------- circles and sectors

void EraseCircleBand(GlobalBlock& g) {
  if (g_entry.shown.x == kNoBand) return;
  if (g_entry.sector)
    ModeXorLine(g, g_entry.centre_px.x, g_entry.centre_px.y, g_entry.shown.x, g_entry.shown.y);
  else
    ModeXorPolyline(g, g_entry.band_ring.data(), (int)g_entry.band_ring.size(), true);
  g_entry.shown = {kNoBand, kNoBand};
}

void FinishCircle(GlobalBlock& g, const DirectionCosines* second) {
  std::vector<DirectionCosines> ring;
  const int status =
      CircleRing(g_entry.centre, g_entry.arc0, second, kCircleDensityPoints[g_entry.density - 1], g_entry.outside, &ring);
  if (status != RING_DONE) {
    if (status == RING_DEGENERATE)
      PostText(4, "Ring points generation error?: %d.", status);
    else
      PostText(4, "ring points geometry status: %d", status);
    g.error_level = EL_FAILURE;
    EndMapMode(g);
    return;
  }
  for (const DirectionCosines& p : ring) {
    if (!TakeNode(g)) {
      EndMapMode(g);
      return;
    }
    int x, y;
    if (PositionToPixel(g, p, &x, &y)) ModeMark(g, x, y, g_entry.colour);
    g_entry.nodes.push_back({p, static_cast<uint64_t>(g_entry.nodes.size() + 1)});
  }
  g_entry.nodes.push_back(cells::Mark(1));
  WriteEntry(g, true);
  EndMapMode(g);
}

void CirclePress(GlobalBlock& g, const ModeEvent& e) {
  if (e.button != 1) return;
  DirectionCosines u;
  const int step = MapModeStep();
  if (!PixelToPosition(g, e.x, e.y, &u)) {
    ModeBeep(g);
    return;
  }
  if (step == 1) {
    g_entry.centre = u;
    g_entry.centre_px = {e.x, e.y};
    ModeMark(g, e.x, e.y, g_entry.colour);
    PostText(2, g_entry.sector ? "Click first arc point, or [ESC] to abort." : "Click circle edge, or [ESC] to abort.");
    SetModeStep(2);
    return;
  }
  // A click on the centre itself gives no radius.
  if (Within(g_entry.centre_px, e.x, e.y, Coincidence(g))) {
    ModeBeep(g);
    return;
  }
  EraseCircleBand(g);
  if (step == 2 && g_entry.sector) {
    g_entry.arc0 = u;
    g_entry.arc0_px = {e.x, e.y};
    ModeMarkLine(g, g_entry.centre_px.x, g_entry.centre_px.y, e.x, e.y, g_entry.colour);
    PostText(2, "Click on second arc point.");
    SetModeStep(3);
    return;
  }
  if (step == 2) {
    g_entry.arc0 = u;
    FinishCircle(g, nullptr);
  } else {
    FinishCircle(g, &u);
  }
}

void CircleMove(GlobalBlock& g, const ModeEvent& e) {
  const int step = MapModeStep();
  if (step < 2) return;
  const int c = Coincidence(g);
  if (Within(g_entry.centre_px, e.x, e.y, c) || (g_entry.shown.x != kNoBand && Within(g_entry.shown, e.x, e.y, c)))
    return;
  EraseCircleBand(g);
  if (g_entry.sector) {
    ModeXorLine(g, g_entry.centre_px.x, g_entry.centre_px.y, e.x, e.y);
  } else {
    DirectionCosines u;
    if (!PixelToPosition(g, e.x, e.y, &u)) return;
    if (CircleRing(g_entry.centre, u, nullptr, 89, false, &g_entry.band_ring) != RING_DONE) return;
    ModeXorPolyline(g, g_entry.band_ring.data(), (int)g_entry.band_ring.size(), true);
  }
  g_entry.shown = {e.x, e.y};
}

void CircleKey(GlobalBlock& g, int key) {
  if (key == 27) {
    EraseCircleBand(g);
    EndMapMode(g);
    return;
  }
  ModeBeep(g);
}

const MapModeSpec kCircleMode = {"circle entry", MODE_CIRCLE_ENTRY, kCornerIsEscape, platform::kPointerCross, CircleMove,
                                 CirclePress,    nullptr,           CircleKey,       EndEntryMode};

}  // namespace

// ---------------------------------------------------------------- the ring

int CircleRing(const DirectionCosines& centre, const DirectionCosines& edge, const DirectionCosines* second,
               int points_per_circle, bool outside, std::vector<DirectionCosines>* ring) {
  ring->clear();
  constexpr double kTwoPi = 6.283185307179586;
  const double step = kTwoPi / points_per_circle + 4e-12;
  if (!(step > 4e-12 && step <= M_PI / 4)) return RING_STEP;
  const geodesy::TangentFrame f = geodesy::BuildTangentFrame(centre);
  double u0, v0;
  if (geodesy::ProjectToFrame(f, edge, u0, v0) != 0) return RING_NO_FRAME;
  const double rho0 = std::hypot(u0, v0);
  if (!(rho0 > 1e-12)) return RING_DEGENERATE;
  const double theta0 = std::atan2(v0, u0);
  if (!second) {
    // The edge point, then the points a step apart all round.
    const int k_max = (int)(kTwoPi / step);
    ring->push_back(edge);
    for (int k = 1; k <= k_max; ++k) {
      const double t = theta0 + k * step;
      ring->push_back(geodesy::LiftFromFrame(f, rho0 * std::cos(t), rho0 * std::sin(t)));
    }
  } else {
    double u1, v1;
    if (geodesy::ProjectToFrame(f, *second, u1, v1) != 0) return RING_NO_FRAME;
    const double rho1 = std::hypot(u1, v1);
    if (!(rho1 > 1e-12)) return RING_DEGENERATE;
    double sweep = std::atan2(v1, u1) - theta0;
    while (sweep <= 0) sweep += kTwoPi;
    while (sweep > kTwoPi) sweep -= kTwoPi;
    const int k_max = (int)(sweep / step);
    for (int k = 1; k <= k_max; ++k) {
      const double share = (double)k / (k_max + 1);
      const double t = theta0 + share * sweep, rho = rho0 + share * (rho1 - rho0);
      ring->push_back(geodesy::LiftFromFrame(f, rho * std::cos(t), rho * std::sin(t)));
    }
    ring->push_back(*second);
    ring->push_back(centre);
    ring->push_back(edge);
  }
  if (outside) std::reverse(ring->begin(), ring->end());
  return RING_DONE;
}

// ---------------------------------------------------------------- commands

void CmdEnterObject(GlobalBlock& g, const char* args, int variant, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "name [resolution(h|m|l|f|.d)]");
    return;
  }
  char name[WORD_SIZE], res_word[WORD_SIZE];
  const char* rest = NextWord(args, name, sizeof name);
  NextWord(rest, res_word, sizeof res_word);
  std::string path;
  int res;
  if (!ReadNameAndResolution(g, name, res_word, &path, &res)) return;
  // A new mode ends the running one first (it may be an entry too).
  if (g.map_mode != 0) CancelMapMode(g);
  g_entry = EntryState();
  g_entry.path = path;
  g_entry.kind = variant;
  g_entry.res = res;
  g_entry.stamp = static_cast<uint32_t>(time(nullptr));
  g_entry.colour = TraceColour(g, variant == kPoints ? "trace.point" : "trace.line");
  g_entry.workspace_mark = g.workspace.top;
  StartMapMode(g, kEntryMode);
  ModeButton(g, 0, 0, "Esc");
  ModeButton(g, ModeClientWidth(g) - BUTTON_WIDTH, 0, "Done");
  ModePictureChanged(g);
  if (variant == kPoints)
    PostLines(2, "Click or drag-draw your input points, or\nto abort, click on [Esc] or press <Esc> any time.\n");
  else if (variant == kLines)
    PostLines(2, "Click your first line vertex, or\nto abort, click on [Esc] or press <Esc> any time.\n");
  else
    PostLines(2, "Click your first ring vertex, or\nto abort, click on [Esc] or press <Esc> any time.\n");
}

void CmdEnterCircle(GlobalBlock& g, const char* args, int variant, int mode) {
  if (IsUsageRequest(args)) {
    PostText(2, "name [resolution(h|m|l|f|.d) [density]]");
    return;
  }
  char name[WORD_SIZE], res_word[WORD_SIZE], density_word[WORD_SIZE];
  const char* rest = NextWord(args, name, sizeof name);
  rest = NextWord(rest, res_word, sizeof res_word);
  NextWord(rest, density_word, sizeof density_word);
  std::string path;
  int res;
  if (!ReadNameAndResolution(g, name, res_word, &path, &res)) return;
  int density = 2;
  if (density_word[0]) {
    density = atoi(density_word);
    if (density < 1 || density > 6) {
      PostText(4, "Invalid density indicator (%s).", density_word);
      g.error_level = EL_FAILURE;
      return;
    }
  }
  if (g.map_mode != 0) CancelMapMode(g);
  g_entry = EntryState();
  g_entry.path = path;
  g_entry.kind = kRings;
  g_entry.res = res;
  g_entry.stamp = static_cast<uint32_t>(time(nullptr));
  g_entry.colour = TraceColour(g, "trace.point");
  g_entry.workspace_mark = g.workspace.top;
  g_entry.sector = variant == 1;
  g_entry.outside = mode == 2;
  g_entry.density = density;
  StartMapMode(g, kCircleMode);
  ModeButton(g, 0, 0, "Esc");
  ModePictureChanged(g);
  PostText(2, "Click center, or [ESC] to abort.");
}

}  // namespace interp

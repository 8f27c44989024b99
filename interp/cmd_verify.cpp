// The region checks (VerifyRsetBoundary, VerifyRsetTopology, VerifyRsetIsWorld,
// VerifyRsetIsNull: one handler, variants 1 to 4) and the point tests
// (PtestLsetRset, PtestRsetRset: one handler, variants 1 and 2).
//
// A check never changes the region. Faults are listed in the console and
// shown on the map in the error colour of the console: a mark per boundary
// fault (25 ms apart, so that they can be followed as they appear; no pause in
// a batch run), each faulty ring drawn as a line.
#include "interp/cmd_verify.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "interp/cmd_draw.h"
#include "interp/cmd_objects.h"
#include "interp/cmd_plot.h"
#include "interp/handlers.h"
#include "interp/messages.h"
#include "interp/startup.h"
#include "interp/words.h"
#include "lib/cells/object_file.h"
#include "lib/display/colour.h"
#include "lib/display/draw_map.h"
#include "lib/display/draw_state.h"
#include "lib/display/map_geometry.h"
#include "lib/ops/rset_point_test.h"
#include "lib/ops/rset_ptest.h"
#include "lib/ops/rset_verify.h"
#include "platform/clock.h"

namespace interp {

namespace {

constexpr int kReportCapacity = 8;

// An object opened for the length of a command, closed on every path.
struct OpenedObject {
  cells::ObjectHandle h;
  ~OpenedObject() {
    if (h.is_open) cells::CloseObject(h);
  }
};

// The wait pointer over the map while a check runs.
struct WaitPointer {
  WaitPointer() { ShowWaitPointer(true); }
  ~WaitPointer() { ShowWaitPointer(false); }
  WaitPointer(const WaitPointer&) = delete;
  WaitPointer& operator=(const WaitPointer&) = delete;
};

std::string ObjectPath(GlobalBlock& g, const char* word) {
  char name[WORD_SIZE];
  snprintf(name, sizeof name, "%s", word);
  ExpandDirectoryAlias(g, name, sizeof name);
  char path[FILE_NAME_SIZE];
  BuildFileName(name, g.dirs.data.c_str(), ".qbo", path);
  return path;
}

bool HaveIndex(GlobalBlock& g) {
  if (g.cell_index && g.cell_index->cell_count > 0) return true;
  PostText(4, "No cell index loaded");
  g.error_level = EL_FAILURE;
  return false;
}

// The console's error colour, which the map marks take as well.
uint32_t ErrorColour(GlobalBlock& g) {
  if (g.startup) return g.startup->console_text_colors[3];
  return display::MakeColour(255, 0, 0);
}

// A plot numbers its pens by the colour value, which the console's error
// colour is not: on a plot the marks and rings take the plot's highlight
// style (hpgl.mono.object.highlight, hpgl.color.object.highlight).
std::string PlotHighlight(GlobalBlock& g) { return StyleValue(g, nullptr, "object.highlight"); }

void MarkFaults(GlobalBlock& g, const ops::BoundaryFault* faults, int count) {
  display::MapGeometry* geometry = TargetGeometry(g);
  if (!geometry || count <= 0) return;
  DisplayContext& d = Display(g);
  const bool on_plot = PlotActive();
  display::MarkerStyle style;
  if (on_plot) style = display::ParseMarkerStyle(PlotHighlight(g));
  else style.colour = ErrorColour(g);
  style.size = 9;
  style.symbol = 2;
  for (int i = 0; i < count; ++i) {
    display::DrawState state;
    AimAtTarget(g, &state);
    if (display::OpenMarkers(&state, &d.surface, style) != display::kDrawOk) return;
    display::PixelPoint p;
    if (faults[i].type != ops::FAULT_UNREADABLE && display::PositionToDevice(*geometry, faults[i].at, &p))
      display::Marker(&state, p.x, p.y);
    display::CloseDrawState(&state);
    if (on_plot) continue;  // nothing to watch: no pause
    if (d.picture_changed) d.picture_changed(g);
    if (!g.batch) {
      ServiceMapWindow(g);
      platform::SleepMs(25);
    }
  }
}

// The ring as a closed line in the error colour.
void DrawRing(GlobalBlock& g, cells::CellIndex& idx, const cells::Object& region, std::int32_t ring) {
  display::MapGeometry* geometry = TargetGeometry(g);
  if (!geometry) return;
  DisplayContext& d = Display(g);
  display::LineStyle style;
  if (PlotActive()) {
    style = display::ParseLineStyle(PlotHighlight(g));
  } else {
    style.colour = ErrorColour(g);
    style.width = 2;
  }
  display::DrawState state;
  AimAtTarget(g, &state);
  if (display::OpenLines(&state, &d.surface, style) != display::kDrawOk) return;
  display::PolylinePen pen(*geometry, &state);
  const cells::Item it = cells::LoadItem(cells::ItemAt(region, ring));
  const int rs = cells::RecordSize(region.res);
  geodesy::DirectionCosines first{}, p{};
  bool have_first = false;
  for (std::int32_t k = 0; k < it.count; ++k) {
    const cells::Piece pc = cells::LoadPiece(cells::PieceAt(region, it, k));
    for (std::int32_t i = 0; i < pc.count; ++i) {
      cells::Restore(idx, pc.cell, region.coords + pc.offset + static_cast<std::int64_t>(i) * rs, region.res, p);
      if (!have_first) first = p, have_first = true;
      pen.Add(p);
    }
  }
  if (have_first) pen.Add(first);
  pen.Break();
  display::CloseDrawState(&state);
  if (!PlotActive() && d.picture_changed) d.picture_changed(g);
}

void ReportBoundary(GlobalBlock& g, cells::CellIndex& idx, const cells::Object& region) {
  ops::BoundaryFault faults[kReportCapacity];
  int count = 0;
  int status;
  {
    const WaitPointer wait;
    status = ops::q7_RsetVerifyBoundary(idx, region, g.fuzz_angle, faults, kReportCapacity, &count);
  }
  if (status == -1) {
    PostText(4, "Empty Rset");
    g.error_level = EL_EMPTY;
    return;
  }
  if (status <= 0 && count == 0) {
    PostText(2, "Boundary verification OK, (status:%d)", status);
    return;
  }
  PostText(4, "Report of %d errors:", count);
  for (int i = 0; i < count; ++i) {
    const ops::BoundaryFault& f = faults[i];
    switch (f.type) {
      case ops::FAULT_CONTACT:
        PostText(4, "Contact, legs: (%d %d %d) - (%d %d %d)", f.a.ring, f.a.piece, f.a.leg, f.b.ring, f.b.piece, f.b.leg);
        break;
      case ops::FAULT_CROSSING:
        PostText(4, "Intersection, legs: (%d %d %d) - (%d %d %d)", f.a.ring, f.a.piece, f.a.leg, f.b.ring, f.b.piece,
                 f.b.leg);
        break;
      case ops::FAULT_OVERLAP:
        PostText(4, "Collinear legs: (%d %d %d) - (%d %d %d)", f.a.ring, f.a.piece, f.a.leg, f.b.ring, f.b.piece,
                 f.b.leg);
        break;
      case ops::FAULT_SHORT_LEG:
        PostText(4, "Short leg: (%d %d %d)", f.a.ring, f.a.piece, f.a.leg);
        break;
      default:
        PostText(4, "Unexpected status; invalid Rset data?");
        break;
    }
  }
  g.error_level = EL_NOT_APPLICABLE;
  MarkFaults(g, faults, count);
  if (count >= kReportCapacity) PostText(4, "More undetected faults are possible");
}

void ReportTopology(GlobalBlock& g, cells::CellIndex& idx, const cells::Object& region) {
  std::int32_t rings[kReportCapacity];
  int count = 0;
  int status;
  {
    const WaitPointer wait;
    status = ops::q7_RsetVerifyTopology(idx, g.workspace, region, g.fuzz_angle, rings, kReportCapacity, &count);
    if (status == 9) {
      // The ring tables of a large region do not fit the workspace: they get
      // an arena of their own on the heap, as large point lists do.
      const std::int64_t bytes = ops::RsetTopologyWorkspaceBytes(region);
      void* memory = bytes > 0 && bytes < (std::int64_t{1} << 40) ? ::operator new(bytes, std::nothrow) : nullptr;
      if (memory) {
        platform::Workspace heap;
        platform::WorkspaceInit(&heap, memory, bytes);
        status = ops::q7_RsetVerifyTopology(idx, heap, region, g.fuzz_angle, rings, kReportCapacity, &count);
        ::operator delete(memory);
      }
    }
  }
  if (status == 0) {
    PostText(2, "Ring topology verification OK, (status:%d)", status);
    return;
  }
  if (status != 1) {
    PostText(4, "Verification process failed, status:%d", status);
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  g.error_level = EL_NOT_APPLICABLE;
  for (int i = 0; i < count; ++i) {
    DrawRing(g, idx, region, rings[i]);
    const cells::Item it = cells::LoadItem(cells::ItemAt(region, rings[i]));
    PostText(4, "Invalid ring (%d) topology", static_cast<int>(it.id));
  }
  if (count >= kReportCapacity) PostText(4, "More undetected faults are possible");
}

}  // namespace

void CmdVerifyRset(GlobalBlock& g, const char* args, int variant, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "RsetObjectName");
    return;
  }
  char word[WORD_SIZE];
  NextWord(args, word, sizeof word);
  const std::string path = ObjectPath(g, word);
  const int kind = word[0] ? cells::ReadObjectKind(path) : -2;
  if (kind < 0) {
    PostText(4, "Unable to open (%s) for reading", path.c_str());
    g.error_level = EL_FAILURE;
    return;
  }
  if (kind != cells::kRset) {
    PostText(4, "Invalid object dimension (%d)", kind);
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  if (!HaveIndex(g)) return;
  cells::CellIndex& idx = *g.cell_index;
  OpenedObject region;
  if (const int status = cells::OpenObjectRead(region.h, path, idx.index_id, idx.cell_count)) {
    ReportOpenStatus(g, status);  // without the object's name
    return;
  }
  const cells::Object& obj = region.h.obj;
  switch (variant) {
    case 1:
      ReportBoundary(g, idx, obj);
      break;
    case 2:
      ReportTopology(g, idx, obj);
      break;
    case 3:
      if (ops::RsetIsWorld(obj, idx.cell_count)) {
        PostText(2, "Rset verified, world");
      } else {
        PostText(4, "Rset failed verification for world");
        g.error_level = EL_NOT_APPLICABLE;
      }
      break;
    default:
      if (ops::RsetIsNull(obj)) {
        PostText(2, "Rset verified, empty");
      } else {
        PostText(4, "Rset failed verification for empty");
        g.error_level = EL_NOT_APPLICABLE;
      }
      break;
  }
}

void CmdPointTest(GlobalBlock& g, const char* args, int variant, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "nameA nameB [bdy]");
    return;
  }
  char name[2][WORD_SIZE], option[WORD_SIZE];
  const char* rest = NextWord(args, name[0], WORD_SIZE);
  rest = NextWord(rest, name[1], WORD_SIZE);
  NextWord(rest, option, WORD_SIZE);
  std::string path[2];
  int kind[2];
  for (int i = 0; i < 2; ++i) {
    path[i] = ObjectPath(g, name[i]);
    kind[i] = name[i][0] ? cells::ReadObjectKind(path[i]) : -2;
    if (kind[i] < 0) {
      PostText(4, "Unable to open (%s) for reading", path[i].c_str());
      g.error_level = EL_FAILURE;
      return;
    }
  }
  // The object of lower kind comes first.
  const int lo = kind[1] < kind[0] ? 1 : 0, hi = 1 - lo;
  const int want_first = variant == 1 ? cells::kLset : cells::kRset;
  bool fits = true;
  if (kind[lo] != want_first) {
    PostText(2, "%s: operation-dimension/type mis-match:%d", name[lo], kind[lo]);
    fits = false;
  }
  if (kind[hi] != cells::kRset) {
    PostText(2, "%s: operation-dimension/type mis-match:%d", name[hi], kind[hi]);
    fits = false;
  }
  if (!fits) {
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  if (!HaveIndex(g)) return;
  cells::CellIndex& idx = *g.cell_index;
  OpenedObject object[2];
  for (int i : {lo, hi}) {
    const int status = cells::OpenObjectRead(object[i].h, path[i], idx.index_id, idx.cell_count);
    if (status == 0) continue;
    ReportOpenStatus(g, status, name[i]);
    return;
  }
  const bool boundary = option[0] == 'b' || option[0] == 'B';
  int answer;
  {
    const WaitPointer wait;
    answer = variant == 1
                 ? ops::q7_LsetRsetPtest(idx, object[lo].h.obj, object[hi].h.obj, g.fuzz_angle, boundary)
                 : ops::q7_RsetRsetPtest(idx, object[lo].h.obj, object[hi].h.obj, g.fuzz_angle, boundary);
  }
  PostText(2, answer ? "objects have common point(s)" : "objects have no points in common");
}

}  // namespace interp

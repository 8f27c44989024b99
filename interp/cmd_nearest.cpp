// The nearest and farthest query commands and their pointer mode (see
// cmd_nearest.h). The searches are lib/ops/nearest; this file turns their
// results into rubber bands, marks and report lines.
#include "interp/cmd_nearest.h"
#include "interp/cmd_objects.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "interp/cmd_draw.h"
#include "interp/handlers.h"
#include "interp/map_modes.h"
#include "interp/messages.h"
#include "interp/words.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/object_file.h"
#include "lib/display/colour.h"
#include "lib/geodesy/angle_text.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/ops/nearest.h"
#include "platform/report.h"

namespace interp {

namespace {

using geodesy::DirectionCosines;

constexpr int QUERY_ORDERED = 0;
constexpr int QUERY_NEAREST = 1;
constexpr int QUERY_FARTHEST = 2;

// The query state, held while the mode lasts.
struct Query {
  bool open = false;
  std::unique_ptr<cells::ObjectHandle> handle;
  ops::NearestCache cache;
  int kind = 0;
  int query = QUERY_NEAREST;
  int count = 0;
  double proximity = 0.0;
  std::uint32_t colour = 0;
  bool datum = false;
  // The rubber band now drawn (pointer to item), when one is.
  bool band = false;
  int bx0 = 0, by0 = 0, bx1 = 0, by1 = 0;
  bool marked = false;
  // The index the object was opened with: another one loaded meanwhile
  // (ReadVix while the mode runs) ends the mode.
  const cells::CellIndex* index = nullptr;
  std::uint32_t index_id = 0;
  std::int32_t cell_count = 0;
};
Query g_q;

// True (and the mode ended) when the current index is no longer the one the
// object was opened with.
bool IndexChanged(GlobalBlock& g) {
  if (g.cell_index == g_q.index && g.cell_index && g.cell_index->index_id == g_q.index_id &&
      g.cell_index->cell_count == g_q.cell_count)
    return false;
  ModeBeep(g);
  EndMapMode(g);
  return true;
}

void EraseBand(GlobalBlock& g) {
  if (!g_q.band) return;
  ModeXorLine(g, g_q.bx0, g_q.by0, g_q.bx1, g_q.by1);
  g_q.band = false;
}

void EraseMark(GlobalBlock& g) {
  if (!g_q.marked) return;
  ModeEraseMarks(g);
  g_q.marked = false;
}

// The search of the object's kind; false when it finds nothing.
bool RunSearch(GlobalBlock& g, const DirectionCosines& q, ops::NearestHit* hit, int* status) {
  cells::CellIndex& idx = *g.cell_index;
  *status = 0;
  if (g_q.kind == cells::kPset) return ops::q7_PsetNearest(idx, g_q.cache, q, g_q.query, hit) == 1;
  if (g_q.kind == cells::kLset) return ops::q7_LsetNearest(idx, g_q.cache, q, g_q.query, hit) >= 0;
  *status = ops::q7_RsetNearestBoundary(idx, &g.workspace, g_q.cache, q, hit);
  return *status >= 1 && *status <= 15;
}

bool Visible(GlobalBlock& g, int x, int y) {
  return x >= 0 && y >= 0 && x < ModeClientWidth(g) && y < ModeClientHeight(g);
}

void QueryMove(GlobalBlock& g, const ModeEvent& e) {
  if (g_q.query == QUERY_ORDERED || IndexChanged(g)) return;
  SetModePointer(platform::kPointerArrow);
  EraseMark(g);
  EraseBand(g);
  DirectionCosines q;
  if (!PixelToPosition(g, e.x, e.y, &q)) {
    ModeBeep(g);
    return;
  }
  ops::NearestHit hit;
  int status = 0;
  if (!RunSearch(g, q, &hit, &status)) {
    ModeBeep(g);
    return;
  }
  int x = 0, y = 0;
  if (!PositionToPixel(g, hit.p, &x, &y) || !Visible(g, x, y)) return;
  ModeXorLine(g, e.x, e.y, x, y);
  g_q.band = true;
  g_q.bx0 = e.x;
  g_q.by0 = e.y;
  g_q.bx1 = x;
  g_q.by1 = y;
}

void Mark(GlobalBlock& g, const DirectionCosines& p) {
  int x = 0, y = 0;
  if (!PositionToPixel(g, p, &x, &y)) return;
  ModeMark(g, x, y, g_q.colour);
  g_q.marked = true;
}

// The position of p in the formats the angle.sexagesimal setting chooses.
std::string PositionText(GlobalBlock& g, const DirectionCosines& p) {
  const geodesy::LatLong ll =
      g.ellipsoid ? geodesy::CosinesToGeodetic(p, *g.ellipsoid) : geodesy::CosinesToGeocentric(p);
  const char *lat_code = "nsm4 ", *lon_code = "ewm4";
  if (g.settings.angle_sexagesimal == 0) {
    lat_code = "nsd6 ";
    lon_code = "ewd6";
  } else if (g.settings.angle_sexagesimal == 1) {
    lat_code = "nss2 ";
    lon_code = "ews2";
  }
  char lat[geodesy::ANGLE_TEXT_SIZE], lon[geodesy::ANGLE_TEXT_SIZE];
  geodesy::FormatAngle(ll.lat, lat_code, lat, sizeof lat);
  geodesy::FormatAngle(ll.lon, lon_code, lon, sizeof lon);
  return std::string(lat) + lon;
}

void ReportItem(GlobalBlock& g, const DirectionCosines& q, const ops::NearestHit& hit, int status) {
  std::string line = PositionText(g, hit.p);
  char part[96];
  const double km = ops::ReportKilometres(g.ellipsoid, hit.p, q, hit.chord2);
  if (g_q.kind == cells::kLset)
    std::snprintf(part, sizeof part, " (%.3f) (%u)", km, static_cast<unsigned>(hit.line));
  else
    std::snprintf(part, sizeof part, " (%.3f)", km);
  line += part;
  if (g_q.datum) {
    if (g_q.kind == cells::kLset)
      std::snprintf(part, sizeof part, " (%u %u)", hit.datum[0], hit.datum[1]);
    else
      std::snprintf(part, sizeof part, " (%u)", hit.datum[0]);
    line += part;
  }
  if (g_q.kind == cells::kRset) {
    std::snprintf(part, sizeof part, " (%d)", status);
    line += part;
  }
  Mark(g, hit.p);
  PostText(2, "%s", line.c_str());
}

void ReportOrdered(GlobalBlock& g, const DirectionCosines& q) {
  std::int32_t found[ops::ORDERED_MAX][2];
  double chord2[ops::ORDERED_MAX];
  cells::CellIndex& idx = *g.cell_index;
  const int n = ops::q7_PsetOrdered(idx, &g.workspace, g_q.cache, g.ellipsoid, q, g_q.proximity, g_q.count, found,
                                    chord2);
  if (n == 0) {
    ModeBeep(g);
    return;
  }
  if (n == -9) {
    PostText(4, "Failed to obtain workspace (%d)\n",
             static_cast<int>(cells::BitSetWords(idx.cell_count) * 4 + 64));
    ModeBeep(g);
    return;
  }
  if (n < 0) {
    PostText(4, "Status %d\n", n);
    ModeBeep(g);
    return;
  }
  for (int k = 0; k < n; ++k) {
    PostText(2, "%2d:%2d %.3f\n", found[k][0], found[k][1], ops::OrderedKilometres(g.ellipsoid, chord2[k]));
    const std::int32_t d = g_q.cache.dir_of[found[k][0]];
    Mark(g, g_q.cache.points[g_q.cache.dir_first[d] + found[k][1]]);
  }
}

void QueryPress(GlobalBlock& g, const ModeEvent& e) {
  if (e.button != 1) return;
  // The top-left box is not part of the map for the queries.
  if (e.x >= 0 && e.x <= CORNER_BOX_MAX_X && e.y >= 0 && e.y < CORNER_BOX_HEIGHT) return;
  if (IndexChanged(g)) return;
  DirectionCosines q;
  if (!PixelToPosition(g, e.x, e.y, &q)) {
    ModeBeep(g);
    return;
  }
  if (g_q.query == QUERY_ORDERED) {
    ReportOrdered(g, q);
    ModePictureChanged(g);
    return;
  }
  ops::NearestHit hit;
  int status = 0;
  if (!RunSearch(g, q, &hit, &status)) {
    ModeBeep(g);
    return;
  }
  ReportItem(g, q, hit, status);
  ModePictureChanged(g);
}

void QueryRelease(GlobalBlock& g, const ModeEvent& e) {
  if (e.button != 1 || g_q.query == QUERY_ORDERED) return;
  EraseMark(g);
}

void QueryKey(GlobalBlock& g, int key) {
  if (key != 27) {
    ModeBeep(g);
    return;
  }
  EraseBand(g);
  EraseMark(g);
  EndMapMode(g);
}

void QueryEnd(GlobalBlock&) {
  if (g_q.open && g_q.handle) cells::CloseObject(*g_q.handle);
  g_q = Query();
}

const MapModeSpec kQueryMode = {"nearest query", MODE_NEAREST_QUERY, kCornerIgnored, platform::kPointerArrow,
                                QueryMove,       QueryPress,         QueryRelease,   QueryKey,
                                QueryEnd};

bool Refuse(GlobalBlock& g, int level) {
  g.error_level = level;
  return false;
}

// Count and proximity of the ordered query.
bool ReadOrdered(GlobalBlock& g, const char** rest, int* count, double* proximity) {
  char word[WORD_SIZE];
  *rest = NextWord(*rest, word, sizeof word);
  char* end = nullptr;
  const long c = std::strtol(word, &end, 10);
  if (!word[0] || *end != '\0' || c < 1 || c > ops::ORDERED_MAX) {
    PostText(4, "Invalid count (%s).", word);
    return Refuse(g, EL_FAILURE);
  }
  *count = static_cast<int>(c);
  *rest = NextWord(*rest, word, sizeof word);
  end = nullptr;
  const double p = std::strtod(word, &end);
  const geodesy::Ellipsoid e = g.ellipsoid ? *g.ellipsoid : geodesy::MakeEllipsoid();
  if (!word[0] || *end != '\0' || !(p >= 0.001) || 2.0 * p > geodesy::MeanRadius(e)) {
    PostText(4, "Invalid/missing proximity (%s)", word);
    return Refuse(g, EL_FAILURE);
  }
  *proximity = p;
  return true;
}

}  // namespace

void CmdNearestQuery(GlobalBlock& g, const char* args, int kind, int query) {
  if (IsUsageRequest(args)) {
    PostText(2, query == QUERY_ORDERED ? "name count proximity [style]" : "name [style]");
    return;
  }
  char name[WORD_SIZE], style[WORD_SIZE];
  const char* rest = NextWord(args, name, sizeof name);
  ExpandDirectoryAlias(g, name, sizeof name);
  char path[FILE_NAME_SIZE];
  BuildFileName(name, g.dirs.data.c_str(), ".qbo", path);
  const int found_kind = cells::ReadObjectKind(path);
  if (found_kind < 0) {
    PostText(4, "Unable to open (%s) for reading", path);
    g.error_level = EL_FAILURE;
    return;
  }
  if (found_kind != kind) {
    PostText(2, "Object type (%d)", found_kind);
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  int count = 0;
  double proximity = 0.0;
  if (query == QUERY_ORDERED && !ReadOrdered(g, &rest, &count, &proximity)) return;
  NextWord(rest, style, sizeof style);
  std::string highlight = StyleValue(g, style[0] ? style : nullptr, "object.highlight");
  if (highlight.find_first_not_of(" \t") == std::string::npos) highlight = "c13";
  if (!NeedIndexAndMap(g)) return;
  // A mode already running ends first (a query of its own closes its object).
  if (g.map_mode != 0) CancelMapMode(g);
  g_q = Query();
  g_q.handle = std::make_unique<cells::ObjectHandle>();
  const int status = cells::OpenObjectRead(*g_q.handle, path, g.cell_index->index_id, g.cell_index->cell_count);
  if (status != 0) {
    ReportOpenStatus(g, status, name);
    g_q = Query();
    return;
  }
  g_q.open = true;
  const int prepared = ops::PrepareNearest(*g.cell_index, g_q.handle->obj, g_q.cache);
  if (prepared != 0) {
    if (prepared == 1) PostText(4, "%s invalid object type", name);
    else PostText(4, "%s memory mapping error: %d", name, prepared);
    QueryEnd(g);
    g.error_level = EL_FAILURE;
    return;
  }
  g_q.index = g.cell_index;
  g_q.index_id = g.cell_index->index_id;
  g_q.cell_count = g.cell_index->cell_count;
  g_q.kind = kind;
  g_q.query = query;
  g_q.count = count;
  g_q.proximity = proximity;
  g_q.colour = display::ReadStyleColour(highlight);
  g_q.datum = cells::ResHasAttribute(g_q.handle->obj.res);
  PostText(2, "Move pointer in map, or click [ESC] to end");
  StartMapMode(g, kQueryMode);
  ModePictureChanged(g);
}

}  // namespace interp

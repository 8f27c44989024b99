// The map window's geometry and the commands that change or report it.
//
// The window's state here: its place and client area (the start-up
// rectangle until MapFieldSize or MapFieldAspect resize it) and the request
// that built the current geometry, kept so that a rebuild (a resize, a
// Geometry without arguments) reproduces exactly what was asked for, a
// stretched world map included.
//
// Every change goes through ApplyMapGeometry: a new record is built for the
// client area and installed only when its set-up succeeded.
#include "interp/cmd_map.h"
#include "interp/cmd_objects.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "interp/handlers.h"
#include "interp/messages.h"
#include "interp/startup.h"
#include "interp/words.h"
#include "lib/cells/cell_index.h"
#include "lib/cells/cell_list.h"
#include "lib/cells/coord_text.h"
#include "lib/cells/object_builder.h"
#include "lib/cells/object_file.h"
#include "lib/cells/object_model.h"
#include "lib/display/map_geometry.h"
#include "lib/display/projections.h"
#include "lib/geodesy/angle_text.h"
#include "lib/geodesy/ellipsoid.h"

namespace interp {
namespace {

using geodesy::DirectionCosines;
using geodesy::NOVALUE;

// The record and its 512 points, as the window allocates them.
constexpr int WINDOW_RECORD_BYTES = 5168;
constexpr int WINDOW_POINTS = 512;
constexpr double MIN_COMMAND_SCALE = 1000.0, MAX_COMMAND_SCALE = 5e8;
constexpr double MAX_LATITUDE = 1.5707963267949212;

struct MapWindowState {
  bool field_known = false;
  MapField field;
  MapField startup_field;
  bool have_request = false;
  GeometryRequest request;  // what built the current geometry
};

MapWindowState& State() {
  static MapWindowState state;
  return state;
}

void EnsureField(GlobalBlock& g) {
  MapWindowState& s = State();
  if (s.field_known) return;
  const StartupValues* v = Startup(g);
  MapField f;
  if (v != nullptr && v->map_rect.width > 0 && v->map_rect.height > 0) {
    f = {v->map_rect.left, v->map_rect.top, v->map_rect.width, v->map_rect.height};
  } else {
    // The default map.position "34,8,44,38" on the virtual screen.
    f = {34 * SCREEN_WIDTH_PX / 80, 8 * SCREEN_HEIGHT_PX / 60, 44 * SCREEN_WIDTH_PX / 80 - 1,
         38 * SCREEN_HEIGHT_PX / 60 - 1};
  }
  s.field = s.startup_field = f;
  s.field_known = true;
}

GeometryRequest InitialRequest(GlobalBlock& g) {
  GeometryRequest r;
  const StartupValues* v = Startup(g);
  if (v != nullptr) {
    r.projection = static_cast<uint16_t>(v->projection);
    r.rot_ref = static_cast<uint16_t>(v->rotation_reflection);
    r.scale = v->scale;
    r.centre = v->center;
  } else {
    r.centre = DEFAULT_MAP_CENTER;
  }
  return r;
}

void Fail(GlobalBlock& g, int32_t level, const char* format, const char* word = nullptr) {
  if (word != nullptr) {
    PostText(4, format, word);
  } else {
    PostText(4, "%s", format);
  }
  g.error_level = level;
}

// Reads "scale projection rot-ref" into r (Geometry steps 3 to 5). False
// when a word was refused (reported).
bool ReadScaleProjectionRotRef(GlobalBlock& g, const char* rest, GeometryRequest* r) {
  char word[WORD_SIZE];
  rest = NextWord(rest, word, sizeof word);
  if (word[0] != '\0') r->scale = std::atof(word);
  rest = NextWord(rest, word, sizeof word);
  if (word[0] != '\0') {
    const int code = display::RecogniseProjection(word);
    if (code < 0) {
      Fail(g, EL_FAILURE, "Invalid projection name %s", word);
      return false;
    }
    r->projection = static_cast<uint16_t>(code);
  } else if (r->projection == display::PROJ_TILESET) {
    Fail(g, EL_FAILURE, "Invalid projection (use 'Tileset' command)");
    return false;
  }
  if (display::IsWorldWide(r->projection) && r->scale < 0.0) r->scale = NOVALUE;
  if (r->scale != NOVALUE && !(r->scale >= MIN_COMMAND_SCALE && r->scale <= MAX_COMMAND_SCALE)) {
    PostText(4, "invalid scale, %g < scale < %g", MIN_COMMAND_SCALE, MAX_COMMAND_SCALE);
    g.error_level = EL_FAILURE;
    return false;
  }
  NextWord(rest, word, sizeof word);
  // An omitted rot-ref is 0: every change resets it unless it is repeated.
  const long rot = word[0] != '\0' ? std::atol(word) : 0;
  if (rot < 0 || rot > 8) {
    Fail(g, EL_FAILURE, "Invalid rotation/reflection %s", word);
    return false;
  }
  r->rot_ref = static_cast<uint16_t>(rot);
  return true;
}

// Geometry step 6, shared by the commands.
void ApplyAndDescribe(GlobalBlock& g, const GeometryRequest& r) {
  const int code = ApplyMapGeometry(g, r);
  if (code != 0) {
    PostText(4, "New map geometry error: %d", code);
    g.error_level = EL_FAILURE;
    return;
  }
  PostText(2, "%s", GeometryDescription(g).c_str());
}

// The centre of an object: the normalised sum of the centres of the cells it
// occupies (a point set's o-cells, a line set's t-cells, a region set's
// boundary and interior cells), each cell once. When the cells balance out
// over the globe the sum has no direction, and the centre of the first
// occupied cell is taken. False for an object without cells.
bool ObjectCentre(const cells::CellIndex& idx, const cells::Object& o, DirectionCosines* centre) {
  double sx = 0.0, sy = 0.0, sz = 0.0;
  int32_t first = -1;
  const int lists = o.kind == cells::kRset ? 2 : 1;
  for (int which = 0; which < lists; ++which) {
    const int32_t* list = cells::EnvelopeList(o, which);
    if (list == nullptr) continue;
    cells::CellListCursor cur = cells::CellListBegin(list);
    int32_t cell;
    while (cells::CellListNext(cur, &cell)) {
      if (cell < 0 || cell >= idx.cell_count) continue;
      const DirectionCosines& c = idx.cells[cell]->centre;
      sx += c.x;
      sy += c.y;
      sz += c.z;
      if (first < 0 || cell < first) first = cell;
    }
  }
  if (first < 0) return false;
  DirectionCosines sum{sx, sy, sz};
  geodesy::Normalise(sum);
  *centre = geodesy::IsValid(sum) ? sum : idx.cells[first]->centre;
  return true;
}

}  // namespace

MapField CurrentMapField(GlobalBlock& g) {
  EnsureField(g);
  return State().field;
}

GeometryRequest CurrentGeometryRequest(GlobalBlock& g) {
  if (g.map_geometry != nullptr && State().have_request) return State().request;
  return InitialRequest(g);
}

int ApplyMapGeometry(GlobalBlock& g, const GeometryRequest& request) {
  EnsureField(g);
  auto* fresh = new (std::nothrow) display::MapGeometry();
  if (fresh == nullptr) {
    PostText(4, "Unable to allocate window memory (%d)\n", WINDOW_RECORD_BYTES);
    g.error_level = EL_NOT_APPLICABLE;
    return display::MAPGEOM_NO_MEMORY;
  }
  const MapField& f = State().field;
  display::GeometrySpec spec;
  spec.projection = request.projection;
  spec.rot_ref = request.rot_ref;
  spec.centre = request.centre;
  // A world map takes any scale but NOVALUE as "keep the world's aspect".
  spec.scale = display::IsWorldWide(request.projection) && request.scale != NOVALUE ? 1e8
                                                                                   : request.scale;
  spec.pixel_width = g.settings.pixel_width_m;
  spec.pixel_height = g.settings.pixel_height_m;
  spec.frame = {0, f.height - 1, f.width - 1, 0};
  spec.point_capacity = WINDOW_POINTS;
  const int code = display::SetUpMapGeometry(g.cell_index, &g.workspace, nullptr, g.ellipsoid,
                                             spec, fresh);
  if (code != 0) {
    delete fresh;
    if (code == display::MAPGEOM_PARAMETER) {
      PostText(4, "Parameter list assertion");
      g.error_level = EL_FAILURE;
    } else if (code > 7) {
      PostText(4, "Map window memory shortfall");
      g.error_level = EL_NOT_APPLICABLE;
    } else {
      PostText(4, "Invalid map geometry specs");
      g.error_level = EL_FAILURE;
    }
    return code;
  }
  if (g.map_geometry != nullptr) {
    display::ReleaseMapGeometry(g.map_geometry);
    delete g.map_geometry;
  }
  g.map_geometry = fresh;
  State().request = request;
  State().have_request = true;
  return 0;
}

std::string GeometryDescription(GlobalBlock& g) {
  const GeometryRequest r = CurrentGeometryRequest(g);
  geodesy::LatLong ll{};
  if (g.ellipsoid != nullptr) {
    ll = geodesy::CosinesToGeodetic(r.centre, *g.ellipsoid);
  } else {
    ll = geodesy::CosinesToGeocentric(r.centre);
  }
  const char *lat_code = "nsm3 ", *lon_code = "ewm3 ";
  if (g.settings.angle_sexagesimal == 0) {
    lat_code = "nsd4 ";
    lon_code = "ewd4 ";
  } else if (g.settings.angle_sexagesimal == 1) {
    lat_code = "nss0 ";
    lon_code = "ews0 ";
  }
  char lat[geodesy::ANGLE_TEXT_SIZE], lon[geodesy::ANGLE_TEXT_SIZE];
  geodesy::FormatAngle(ll.lat, lat_code, lat, sizeof lat);
  geodesy::FormatAngle(ll.lon, lon_code, lon, sizeof lon);
  const double scale = g.map_geometry != nullptr ? g.map_geometry->scale : r.scale;
  char text[256];
  std::snprintf(text, sizeof text, "%s%s%.0f %s", lat, lon, scale,
                std::string(display::ProjectionName(r.projection)).c_str());
  return text;
}

bool ApplyInitialMapGeometry(GlobalBlock& g) { return ApplyMapGeometry(g, InitialRequest(g)) == 0; }

void ResizeMapField(GlobalBlock& g, const MapField& field) {
  EnsureField(g);
  const GeometryRequest r = CurrentGeometryRequest(g);
  State().field = field;
  if (g.cancel_map_mode != nullptr && g.map_mode != 0) g.cancel_map_mode(g);
  const int32_t saved_level = g.error_level;
  const int code = ApplyMapGeometry(g, r);
  if (code != 0) {
    // The old record was made for the old size: the map has no geometry now.
    ReleaseMapWindowGeometry(g);
    PostText(4, "Map geometry error: %d", code);
    g.error_level = EL_FAILURE;
    return;
  }
  g.error_level = saved_level;
}

void ReleaseMapWindowGeometry(GlobalBlock& g) {
  if (g.map_geometry != nullptr) {
    display::ReleaseMapGeometry(g.map_geometry);
    delete g.map_geometry;
    g.map_geometry = nullptr;
  }
  State().have_request = false;
}

// ---- commands ----------------------------------------------------------------

void CmdGeometry(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "latitude longitude scale projection [rot-ref]");
    return;
  }
  GeometryRequest r = CurrentGeometryRequest(g);
  char lat_word[WORD_SIZE], lon_word[WORD_SIZE];
  const char* rest = NextWord(args, lat_word, sizeof lat_word);
  rest = NextWord(rest, lon_word, sizeof lon_word);
  if (lat_word[0] != '\0' || lon_word[0] != '\0') {
    // "*" keeps that coordinate of the current centre.
    geodesy::LatLong now = g.ellipsoid != nullptr ? geodesy::CosinesToGeodetic(r.centre, *g.ellipsoid)
                                                  : geodesy::CosinesToGeocentric(r.centre);
    const double lat = std::strcmp(lat_word, "*") == 0
                           ? now.lat
                           : geodesy::ParseAngle(lat_word, geodesy::LAT_POSITIVE, geodesy::LAT_NEGATIVE);
    const double lon = std::strcmp(lon_word, "*") == 0
                           ? now.lon
                           : geodesy::ParseAngle(lon_word, geodesy::LON_POSITIVE, geodesy::LON_NEGATIVE);
    if (lat == NOVALUE || lon == NOVALUE || std::fabs(lat) > MAX_LATITUDE) {
      Fail(g, EL_FAILURE, "invalid latitude/longitude");
      return;
    }
    r.centre = g.ellipsoid != nullptr ? geodesy::GeodeticToCosines({lat, lon}, *g.ellipsoid)
                                      : geodesy::GeocentricToCosines({lat, lon});
  }
  if (!ReadScaleProjectionRotRef(g, rest, &r)) return;
  ApplyAndDescribe(g, r);
}

void CmdCenterOn(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "objectName scale projection rot-ref");
    return;
  }
  char word[WORD_SIZE];
  const char* rest = NextWord(args, word, sizeof word);
  ExpandDirectoryAlias(g, word);
  char path[FILE_NAME_SIZE];
  BuildFileName(word, g.dirs.data.c_str(), ".qbo", path);
  const int kind = cells::ReadObjectKind(path);
  if (kind < 0) {
    Fail(g, EL_FAILURE, "Unable to open (%s) for reading", path);
    return;
  }
  if (kind > 2) {
    PostText(4, "Invalid object dimension (%d)", kind);
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  if (g.cell_index == nullptr || g.cell_index->cell_count <= 0) {
    Fail(g, EL_FAILURE, ".vix identifier mis-match");
    return;
  }
  cells::ObjectHandle h;
  const int status = cells::OpenObjectRead(h, path, g.cell_index->index_id, g.cell_index->cell_count);
  if (status != 0) {
    ReportOpenStatus(g, status);
    return;
  }
  DirectionCosines centre;
  const bool found = ObjectCentre(*g.cell_index, h.obj, &centre);
  cells::CloseObject(h);
  if (!found) {
    // An empty object has no place to centre on.
    PostText(4, "Empty object: no centre");
    g.error_level = EL_EMPTY;
    return;
  }
  GeometryRequest r = CurrentGeometryRequest(g);
  r.centre = centre;
  if (!ReadScaleProjectionRotRef(g, rest, &r)) return;
  ApplyAndDescribe(g, r);
}

void CmdReScale(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "scale_factor | [['w'|'h'|'d'] length]");
    return;
  }
  GeometryRequest r = CurrentGeometryRequest(g);
  if (display::IsFixedScale(r.projection)) {
    Fail(g, EL_FAILURE, "Fixed-scale map");
    return;
  }
  char word[WORD_SIZE];
  const char* rest = NextWord(args, word, sizeof word);
  double scale;
  if (std::isalpha(static_cast<unsigned char>(word[0]))) {
    if (word[0] != 'd' && word[0] != 'D') {
      Fail(g, EL_FAILURE, "invalid implict scale indicator");
      return;
    }
    const MapField f = CurrentMapField(g);
    const double wm = f.width * g.settings.pixel_width_m, vm = f.height * g.settings.pixel_height_m;
    const double diagonal = std::sqrt(wm * wm + vm * vm);
    if (!(diagonal >= 0.01)) {
      Fail(g, EL_FAILURE, "unexpected window dimension");
      return;
    }
    NextWord(rest, word, sizeof word);
    const double length = std::atof(word);
    if (!(length >= 10.0)) {
      Fail(g, EL_NOT_APPLICABLE, "invalid length");
      return;
    }
    scale = length / diagonal;
  } else {
    const double f = std::atof(word);
    if (!(f >= 0.01 && f <= 100.0)) {
      Fail(g, EL_FAILURE, "invalid scale change indicator or factor");
      return;
    }
    scale = f * (g.map_geometry != nullptr ? g.map_geometry->scale : r.scale);
  }
  if (!(scale >= MIN_COMMAND_SCALE && scale <= MAX_COMMAND_SCALE)) {
    PostText(4, "scale range, %g < scale < %g", MIN_COMMAND_SCALE, MAX_COMMAND_SCALE);
    g.error_level = EL_FAILURE;
    return;
  }
  r.scale = scale;
  ApplyAndDescribe(g, r);
}

void CmdMapField(GlobalBlock& g, const char* args, int variant, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "[width height]");
    return;
  }
  EnsureField(g);
  const MapField old = State().field;
  char word[WORD_SIZE];
  const char* rest = NextWord(args, word, sizeof word);
  if (word[0] == '\0') {
    ResizeMapField(g, State().startup_field);
    return;
  }
  const long w = std::atol(word);
  NextWord(rest, word, sizeof word);
  const long h = std::atol(word);
  long nw, nh;
  if (variant == MAP_FIELD_ASPECT) {
    if (w < 1 || h < 1 || w / h >= 21 || h / w >= 21) {
      PostText(4, "window aspect (%ld,%ld) error", w, h);
      g.error_level = EL_FAILURE;
      return;
    }
    // Wide arithmetic: the two numbers may be as large as atol gives.
    const __int128 sum = static_cast<__int128>(old.width) + old.height;
    const __int128 total = static_cast<__int128>(w) + h;
    if (w >= h) {
      nw = static_cast<long>(sum * w / total);
      nh = static_cast<long>(sum - nw);
    } else {
      nh = static_cast<long>(sum * h / total);
      nw = static_cast<long>(sum - nh);
    }
  } else {
    if (w == old.width && h == old.height) return;
    if (w < 8 || h < 8 || w > 10L * SCREEN_WIDTH_PX || h > 10L * SCREEN_HEIGHT_PX) {
      PostText(4, "window size (%ld,%ld) error", w, h);
      g.error_level = EL_FAILURE;
      return;
    }
    nw = w;
    nh = h;
  }
  // Centred on the old window's centre, its top kept on the screen.
  MapField f;
  f.width = static_cast<int>(nw);
  f.height = static_cast<int>(nh);
  f.left = old.left + old.width / 2 - f.width / 2;
  f.top = std::max(0, old.top + old.height / 2 - f.height / 2);
  ResizeMapField(g, f);
}

void CmdReportMap(GlobalBlock& g, const char* args, int variant, int) {
  (void)args;
  if (variant == REPORT_MAP_FIELD) {
    const MapField f = CurrentMapField(g);
    PostText(2, "Map field: %d %d", f.width, f.height);
    return;
  }
  if (g.map_geometry == nullptr) {
    PostText(3, "No map open?");
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  const double pw = g.settings.pixel_width_m, ph = g.settings.pixel_height_m;
  PostText(2, "%s", GeometryDescription(g).c_str());
  PostText(2, "resolution:  %d x %d", SCREEN_WIDTH_PX, SCREEN_HEIGHT_PX);
  PostText(2, "pixel (mm):  %.3f x %.3f", pw * 1000.0, ph * 1000.0);
  PostText(2, "display (m): %.3f x %.3f", SCREEN_WIDTH_PX * pw, SCREEN_HEIGHT_PX * ph);
}

// The region of the visible map window, as an Rset named by the first word.
void CmdDeriveRsetWindow(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "nameNew [resolution]");
    return;
  }
  char name[WORD_SIZE], res_word[WORD_SIZE];
  const char* rest = NextWord(args, name, sizeof name);
  NextWord(rest, res_word, sizeof res_word);
  ExpandDirectoryAlias(g, name);
  char path[FILE_NAME_SIZE];
  BuildFileName(name, g.dirs.data.c_str(), ".qbo", path);
  const int name_status = name[0] == '\0' ? 1 : cells::CheckNewObjectName(path);
  if (name_status == 1) {
    Fail(g, EL_FAILURE, "Invalid object/file name (%s)", name);
    return;
  }
  if (name_status != 0) {
    Fail(g, EL_FAILURE, "Unable to open (%s) for writing", path);
    return;
  }
  int res = g.settings.coordinate_resolution;
  if (res_word[0] != '\0') {
    res = cells::ResolutionCode(res_word);
    if (res == 0) {
      Fail(g, EL_FAILURE, "Invalid resolution indicator (%s)", res_word);
      return;
    }
  }
  if (g.map_geometry == nullptr) {
    PostText(3, "No map open?");
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  if (g.cell_index == nullptr || g.cell_index->cell_count <= 0) {
    Fail(g, EL_FAILURE, "No cell index loaded");
    return;
  }
  cells::ObjectHandle h;
  const int created = cells::CreateObject(h, path, cells::kRset, g.settings.mmf_out_size);
  if (created != 0) {
    if (created == 1 || created == 5) {
      Fail(g, EL_FAILURE, "%s: file open error", path);
    } else if (created == 4) {
      Fail(g, EL_FAILURE, "%s: no space left on the file system", path);
    } else {
      PostText(4, "%s memory mapping error: %d", path, created);
      g.error_level = EL_FAILURE;
    }
    return;
  }
  const cells::BuildParams params{1, 0, res, 0};
  const int status =
      display::q7_RsetWindow(*g.cell_index, *g.map_geometry, {&h.arena, nullptr}, params, h.obj);
  if (status > 0) {
    cells::AbandonObject(h);
    PostText(4, "%s return code = %d", path, status);
    g.error_level = EL_FAILURE;
    return;
  }
  if (const int closed = cells::CloseObject(h)) {
    if (closed == 4)
      Fail(g, EL_FAILURE, "%s: no space left on the file system", path);
    else
      Fail(g, EL_FAILURE, "Unable to open (%s) for writing", path);
    return;
  }
  if (status < 0) {
    PostText(3, "%s empty object", path);
    g.error_level = EL_EMPTY;
  }
}

}  // namespace interp

// The paint handlers: the colour words, the map geometry and the picture,
// then the pixel loop of lib/display/paint.
#include "interp/cmd_paint.h"

#include <strings.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>
#include <string>

#include "interp/cmd_draw.h"
#include "interp/handlers.h"
#include "interp/messages.h"
#include "interp/words.h"
#include "lib/display/map_geometry.h"
#include "lib/display/paint.h"
#include "lib/display/paint_cost.h"
#include "lib/display/tileset.h"
#include "lib/geodesy/angle_text.h"
#include "lib/geodesy/ellipsoid.h"
#include "platform/mapped_file.h"
#include "interp/cmd_map.h"
#include "lib/display/styles.h"
#include "lib/cells/object_file.h"
#include "lib/cells/object_model.h"

namespace interp {

namespace {

display::MapGeometry* GeometryOrPost(GlobalBlock& g) {
  display::MapGeometry* geometry = CurrentGeometry(g);
  if (!geometry) {
    PostText(4, "No map geometry");
    g.error_level = EL_FAILURE;
  }
  return geometry;
}

}  // namespace

void CmdPaint(GlobalBlock& g, const char* args, int variant, int) {
  const int colours = variant == PAINT_DCOS3 ? 5 : 7;
  if (IsUsageRequest(args)) {
    PostText(2, "%s", colours == 5 ? "[style [style [style [style [style]]]]]"
                                   : "[style [style [style [style [style [style [style]]]]]]]");
    return;
  }
  std::string values[7];
  int count = 0;
  display::PaintFunction f = variant == PAINT_DCOS3 ? display::kPaintDCos3
                             : variant == PAINT_CDC  ? display::kPaintCdc
                                                     : display::kPaintLatLong;
  const char* rest = args;
  char word[WORD_SIZE];
  while (rest) {
    rest = NextWord(rest, word, sizeof word);
    if (!word[0]) break;
    // PaintLatLong: "l" paints by latitude only, "g" by longitude only; the
    // word ends the colours wherever it stands (neither is a colour).
    if (variant == PAINT_LATLONG && (!strcmp(word, "l") || !strcmp(word, "g"))) {
      f = word[0] == 'l' ? display::kPaintLatitude : display::kPaintLongitude;
      break;
    }
    if (count < colours) {
      values[count++] = word;
    } else {
      break;  // the word after the colours: anything else paints by both
    }
  }
  display::MapGeometry* geometry = GeometryOrPost(g);
  if (!geometry) return;
  DisplayContext& d = Display(g);
  if (!d.surface.bitmap) {
    PostText(4, "Unable to access screen bitmap");
    g.error_level = EL_FAILURE;
    return;
  }
  const display::PaintColours c = display::MakePaintColours(values, count);
  display::DrawState state;
  if (display::OpenPlain(&state, &d.surface) != display::kDrawOk) {
    PostText(4, "Graphics memory");
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  ShowWaitPointer(true);
  display::PaintMap(*geometry, &d.surface, c, f);
  display::CloseDrawState(&state);
  ShowWaitPointer(false);
  if (d.picture_changed) d.picture_changed(g);
}

namespace {

// Every point of a point set (plain or triangulated).
std::vector<geodesy::DirectionCosines> PsetPoints(cells::CellIndex& idx, const cells::Object& obj) {
  std::vector<geodesy::DirectionCosines> out;
  const bool tin = obj.kind == cells::kTinPset;
  const int64_t count = cells::PsetCellCount(obj);
  for (int64_t i = 0; i < count; ++i) {
    int32_t cell, offset, n;
    if (tin) {
      const cells::TinCell t =
          cells::LoadTinCell(obj.structure + cells::PsetCellArrayOffset(obj) + i * cells::kTinCellSize);
      cell = t.cell;
      offset = t.point_offset;
      n = cells::TinOwnPoints(t);  // the cell's own points
    } else {
      const cells::PsetCell c = cells::LoadPsetCell(cells::PsetCellAt(obj, i));
      cell = c.cell;
      offset = c.offset;
      n = c.count;
    }
    const uint8_t* src = obj.coords + offset;
    for (int32_t k = 0; k < n; ++k) {
      geodesy::DirectionCosines p;
      src = cells::Restore(idx, cell, src, obj.res, p);
      out.push_back(p);
    }
  }
  return out;
}

}  // namespace

void CmdPaintCost(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "%s", "costFunction [function_parameters]\ncost functions:\n psetDistance name [style]");
    return;
  }
  char function[WORD_SIZE], name[WORD_SIZE], style[WORD_SIZE];
  const char* rest = NextWord(args, function, sizeof function);
  if (strcasecmp(function, "psetDistance") != 0) {
    PostText(4, "Unrecognized cost function [%s]?", function);
    g.error_level = EL_FAILURE;
    return;
  }
  rest = NextWord(rest, name, sizeof name);
  NextWord(rest, style, sizeof style);
  cells::ObjectHandle h;
  cells::CellIndex* index = nullptr;
  if (!OpenObjectForDisplay(g, name, &h, &index)) return;
  if (h.obj.kind != cells::kPset && h.obj.kind != cells::kTinPset) {
    PostText(4, "Object type (%d)", h.obj.kind);
    g.error_level = EL_NOT_APPLICABLE;
    cells::CloseObject(h);
    return;
  }
  display::MapGeometry* geometry = GeometryOrPost(g);
  if (!geometry) {
    cells::CloseObject(h);
    return;
  }
  DisplayContext& d = Display(g);
  const display::RampStyle ramp =
      display::ParseRampStyle(StyleValue(g, style[0] ? style : nullptr, "object.surface"));
  ShowWaitPointer(true);
  const std::vector<geodesy::DirectionCosines> points = PsetPoints(*index, h.obj);
  cells::CloseObject(h);
  const int64_t set = display::PaintPointDistance(*geometry, &d.surface, points, ramp);
  ShowWaitPointer(false);
  if (set < 0) {
    PostText(4, "Windows out of memory for surface rendering");
    g.error_level = EL_FAILURE;
    return;
  }
  if (points.empty()) {
    PostText(2, "Point set is empty");
    g.error_level = EL_EMPTY;
  }
  if (d.picture_changed) d.picture_changed(g);
}

// ---------------------------------------------------------------- tilesets

namespace {

struct LoadedTileset {
  std::string path;
  platform::MappedFile file;
  display::TilesetInfo info;
  bool loaded = false;
};

// The active tileset, and the one a Tileset command is installing.
LoadedTileset g_tileset;
LoadedTileset* g_installing = nullptr;

int BuildTilesetGeometry(GlobalBlock& g, const geodesy::DirectionCosines& centre, int width,
                         int height, display::MapGeometry* out) {
  const LoadedTileset* t = g_installing ? g_installing : (g_tileset.loaded ? &g_tileset : nullptr);
  if (!t) return display::MAPGEOM_NOT_HERE;
  return display::SetUpTilesetGeometry(t->info, g.ellipsoid, &centre, g.settings.pixel_width_m,
                                       g.settings.pixel_height_m, {0, height - 1, width - 1, 0}, 512,
                                       g.cell_index, &g.workspace, out);
}

std::string TilesetPath(GlobalBlock& g, const char* word) {
  char name[WORD_SIZE];
  snprintf(name, sizeof name, "%s", word);
  ExpandDirectoryAlias(g, name, sizeof name);
  char built[FILE_NAME_SIZE];
  BuildFileName(name, g.dirs.data.c_str(), ".tgxm", built);
  return built;
}

// Maps and validates a tileset file: 0, 10 + the mapping status, or the
// validation code.
int LoadTileset(const std::string& path, LoadedTileset* t) {
  t->path = path;
  const int st = platform::MapFileRead(t->file, path.c_str());
  if (st != 0) return 10 + st;
  return display::ReadTileset(t->file.base, size_t(t->file.size), &t->info);
}

}  // namespace

void CmdTileset(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "%s", "filename [latitude longitude] | [w]");
    return;
  }
  char name[WORD_SIZE], first[WORD_SIZE], second[WORD_SIZE];
  const char* rest = NextWord(args, name, sizeof name);
  rest = NextWord(rest, first, sizeof first);
  NextWord(rest, second, sizeof second);
  if (!name[0]) {
    PostText(4, "No tileset file name given");
    g.error_level = EL_FAILURE;
    return;
  }
  const std::string path = TilesetPath(g, name);
  if (access(path.c_str(), R_OK) != 0) {
    PostText(4, "Tileset file %s access error", path.c_str());
    g.error_level = EL_FAILURE;
    return;
  }
  // The centre: the map's (w), the one given, or the tileset's own.
  bool have_centre = false;
  geodesy::DirectionCosines centre;
  if ((first[0] == 'w' || first[0] == 'W') && !first[1]) {
    centre = CurrentGeometryRequest(g).centre;
    have_centre = true;
  } else if (first[0]) {
    const double lat = geodesy::ParseAngle(first, geodesy::LAT_POSITIVE, geodesy::LAT_NEGATIVE);
    const double lon = second[0] ? geodesy::ParseAngle(second, geodesy::LON_POSITIVE, geodesy::LON_NEGATIVE)
                                 : geodesy::NOVALUE;
    if (lat == geodesy::NOVALUE || lon == geodesy::NOVALUE || std::fabs(lat) > 1.5707963267949212) {
      PostText(4, "invalid latitude/longitude");
      g.error_level = EL_FAILURE;
      return;
    }
    centre = geodesy::GeodeticToCosines({lat, lon}, *g.ellipsoid);
    have_centre = true;
  }
  auto fresh = std::make_unique<LoadedTileset>();
  const int st = LoadTileset(path, fresh.get());
  if (st > 3) {
    if (st >= 10) {
      PostText(4, "tileset %s file mapping error %d", path.c_str(), st - 10);
      g.error_level = EL_FAILURE;
    } else {
      PostText(4, "file %s not a valid tileset, %d", path.c_str(), st);
      g.error_level = EL_NOT_APPLICABLE;
    }
    return;
  }
  if (!have_centre) {
    const display::TilesetInfo& t = fresh->info;
    centre = geodesy::GeodeticToCosines(
        {t.centre_lat * display::TILESET_ANGLE_UNIT, t.centre_lon * display::TILESET_ANGLE_UNIT}, *g.ellipsoid);
  }
  fresh->loaded = true;
  SetTilesetGeometryBuilder(BuildTilesetGeometry);
  GeometryRequest r;
  r.projection = display::PROJ_TILESET;
  r.rot_ref = 0;
  r.centre = centre;
  g_installing = fresh.get();
  const int code = ApplyMapGeometry(g, r);  // reports its own failures
  g_installing = nullptr;
  if (code != 0) return;
  g_tileset.file = std::move(fresh->file);
  g_tileset.info = fresh->info;
  g_tileset.path = path;
  g_tileset.loaded = true;
  PostText(2, "%s", GeometryDescription(g).c_str());
}

void CmdShowTileset(GlobalBlock& g, const char*, int, int) {
  display::MapGeometry* geometry = g.map_geometry;
  if (!geometry || geometry->projection != display::PROJ_TILESET || !g_tileset.loaded) {
    PostText(4, "No tileset/geometry active");
    g.error_level = EL_FAILURE;
    return;
  }
  // The file is read again: it may have been replaced since Tileset.
  LoadedTileset now;
  const int st = LoadTileset(g_tileset.path, &now);
  if (st >= 10) {
    PostText(4, "tileset [%s] file mapping error %d", g_tileset.path.c_str(), st - 10);
    g.error_level = EL_FAILURE;
    return;
  }
  if (st != 0) {
    PostText(4, "file [%s] not a valid tileset, %d", g_tileset.path.c_str(), st);
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  DisplayContext& d = Display(g);
  ShowWaitPointer(true);
  const int status = display::DrawTileset(now.info, *geometry, &d.surface);
  ShowWaitPointer(false);
  if (status != 0) {
    PostText(4, "Unable to show tiles from [%s], status %d", g_tileset.path.c_str(), status);
    g.error_level = EL_NOT_APPLICABLE;
  }
  if (d.picture_changed) d.picture_changed(g);
}

}  // namespace interp

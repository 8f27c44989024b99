// The collection searches under the pointer. A command opens the collection
// (lib/ops/collection.h) and starts the collection mode; each pointer move
// searches at the pointer's position, a click reports the result, Escape
// closes the files and redraws the map.
#include "interp/cmd_collections.h"

#include <cairo.h>

#include <cstdio>
#include <cstring>
#include <strings.h>
#include <string>
#include <vector>

#include "interp/cmd_draw.h"
#include "interp/handlers.h"
#include "interp/map_modes.h"
#include "interp/messages.h"
#include "interp/words.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/measure_object.h"
#include "lib/display/draw_map.h"
#include "lib/display/draw_objects.h"
#include "lib/display/pen.h"
#include "lib/display/map_geometry.h"
#include "lib/display/styles.h"
#include "lib/ops/collection.h"

namespace interp {

namespace {

using geodesy::DirectionCosines;

constexpr int kModeCollection = 24;

struct Search {
  ops::Collection coll;
  int dim = 0;
  std::string style;
  bool have_pixel = false;
  int px = -1, py = -1;           // the pixel of the last search
  std::int32_t cell = cells::NO_CELL;
  bool found = false;             // the last search succeeded
  ops::Collection::Nearest nearest;
  std::vector<std::uint32_t> regions;
  bool marked = false;            // the xor cross of the nearest item is drawn
  int mx = 0, my = 0;
  cairo_surface_t* saved = nullptr;  // the picture before any highlight
  bool have_click = false;
  int cx = -1, cy = -1;           // the last click
};
Search* g_search = nullptr;

void Cross(GlobalBlock& g, int x, int y) {
  ModeXorLine(g, x - 5, y, x + 6, y);
  ModeXorLine(g, x, y - 5, x, y + 6);
}

void SavePicture(GlobalBlock& g) {
  if (g_search->saved) return;
  cairo_surface_t* b = Display(g).surface.bitmap;
  if (!b) return;
  cairo_surface_flush(b);
  const int w = cairo_image_surface_get_width(b), h = cairo_image_surface_get_height(b);
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return;
  }
  cairo_t* cr = cairo_create(s);
  cairo_set_source_surface(cr, b, 0, 0);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_paint(cr);
  cairo_destroy(cr);
  g_search->saved = s;
}

void RestorePicture(GlobalBlock& g) {
  cairo_surface_t* b = Display(g).surface.bitmap;
  if (!g_search->saved || !b) return;
  if (cairo_image_surface_get_width(b) == cairo_image_surface_get_width(g_search->saved) &&
      cairo_image_surface_get_height(b) == cairo_image_surface_get_height(g_search->saved)) {
    cairo_t* cr = cairo_create(b);
    cairo_set_source_surface(cr, g_search->saved, 0, 0);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_mark_dirty(b);
  }
}

void Highlight(GlobalBlock& g) {
  SavePicture(g);
  RestorePicture(g);
  display::MapGeometry* m = CurrentGeometry(g);
  if (m && !g_search->regions.empty()) {
    display::DrawState state;
    if (display::OpenAreas(&state, &Display(g).surface, display::ParseAreaStyle(g_search->style)) ==
        display::kDrawOk) {
      for (std::uint32_t r : g_search->regions)
        display::FillObjectArea(*m, *g.cell_index, g_search->coll.Region(r).obj, 0.0, &state);
      display::CloseDrawState(&state);
    }
  }
  ModePictureChanged(g);
  std::string name;
  for (std::uint32_t r : g_search->regions) {
    if (g_search->coll.Name(g_search->coll.Region(r).name_ref, name)) PostText(-2, "%s", name.c_str());
    else PostText(-2, "???");
  }
}

// The search at a pixel; false when it fails (off the map, too many regions).
bool SearchAt(GlobalBlock& g, int x, int y) {
  Search& s = *g_search;
  if (s.have_pixel && x == s.px && y == s.py) return s.found;
  s.have_pixel = true;
  s.px = x;
  s.py = y;
  DirectionCosines u;
  if (!PixelToPosition(g, x, y, &u)) {
    s.found = false;
    return false;
  }
  cells::CellIndex& idx = *g.cell_index;
  const std::int32_t cell = cells::Locate(idx, u);
  s.cell = cell;
  if (s.dim == 2) {
    std::uint32_t out[ops::kCollMaxRegions];
    const int n = s.coll.RegionsAt(idx, cell, u, out, ops::kCollMaxRegions);
    if (n > ops::kCollMaxRegions) {
      PostText(4, "More than %d overlapping regions", ops::kCollMaxRegions);
      s.found = false;
      return false;
    }
    std::vector<std::uint32_t> now(out, out + n);
    s.found = true;
    if (now != s.regions) {
      s.regions = now;
      Highlight(g);
    }
    return true;
  }
  ops::Collection::Nearest n = s.coll.NearestTo(idx, cell, u, s.dim);
  if (!n.found) {
    s.found = false;
    return false;
  }
  const bool changed = !s.found || n.item != s.nearest.item || n.datum != s.nearest.datum ||
                       (s.dim == 1 && n.side != s.nearest.side) ||
                       (s.dim == 0 && geodesy::ChordSq(n.where, s.nearest.where) > 0);
  s.found = true;
  if (!changed) return true;
  s.nearest = n;
  if (s.marked) Cross(g, s.mx, s.my);
  s.marked = false;
  int mx, my;
  if (PositionToPixel(g, n.where, &mx, &my)) {
    Cross(g, mx, my);
    s.marked = true;
    s.mx = mx;
    s.my = my;
  }
  return true;
}

void Report(GlobalBlock& g) {
  Search& s = *g_search;
  if (s.dim == 1) return;
  std::string name;
  if (s.dim == 0) {
    if (s.coll.Name(s.nearest.datum, name)) PostText(2, "%s", name.c_str());
    else PostText(2, "%u", s.nearest.datum);
    return;
  }
  for (std::uint32_t r : s.regions) {
    const ops::CollRegion& reg = s.coll.Region(r);
    if (!s.coll.Name(reg.name_ref, name)) name = "???";
    cells::ObjectMeasure m;
    if (g.ellipsoid) m = cells::MeasureRset(*g.cell_index, reg.obj, *g.ellipsoid, 'c', nullptr);
    PostText(2, "%s... A:%.1lf[km**2], P:%.3lf[km], n:%d", name.c_str(), m.area / 1e6, m.perimeter / 1e3,
             static_cast<int>(m.vertices));
  }
}

void CollMove(GlobalBlock& g, const ModeEvent& e) {
  if (e.x <= CORNER_BOX_MAX_X && e.y < CORNER_BOX_HEIGHT) {
    SetModePointer(platform::kPointerArrow);
    return;
  }
  SetModePointer(platform::kPointerCross);
  SearchAt(g, e.x, e.y);
}

void CollPress(GlobalBlock& g, const ModeEvent& e) {
  if (e.button != 1) return;
  if (e.x <= CORNER_BOX_MAX_X && e.y < CORNER_BOX_HEIGHT) return;
  Search& s = *g_search;
  if (s.have_click && e.x == s.cx && e.y == s.cy && s.found) {
    Report(g);
    return;
  }
  if (!SearchAt(g, e.x, e.y)) {
    ModeBeep(g);
    return;
  }
  s.have_click = true;
  s.cx = e.x;
  s.cy = e.y;
  Report(g);
}

void CollKey(GlobalBlock& g, int key) {
  if (key != 27) {
    ModeBeep(g);
    return;
  }
  EndMapMode(g);
}

void CollEnd(GlobalBlock& g) {
  if (!g_search) return;
  if (g_search->marked) Cross(g, g_search->mx, g_search->my);
  RestorePicture(g);
  if (g_search->saved) cairo_surface_destroy(g_search->saved);
  g_search->coll.Close();
  delete g_search;
  g_search = nullptr;
  ModePictureChanged(g);
}

const MapModeSpec kCollectionMode = {"collection search", kModeCollection, kCornerIgnored, platform::kPointerCross,
                                     CollMove, CollPress, nullptr, CollKey, CollEnd};

}  // namespace

void CmdCollectionSearch(GlobalBlock& g, const char* args, int variant, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "name [style]");
    return;
  }
  char name[WORD_SIZE], style[WORD_SIZE];
  const char* rest = NextWord(args, name, sizeof name);
  NextWord(rest, style, sizeof style);
  if (!name[0]) {
    PostText(2, "name [style]");
    g.error_level = EL_FAILURE;
    return;
  }
  if (!NeedIndexAndMap(g)) return;
  char expanded[WORD_SIZE];
  std::snprintf(expanded, sizeof expanded, "%s", name);
  ExpandDirectoryAlias(g, expanded, sizeof expanded);
  char plr[FILE_NAME_SIZE], dat[FILE_NAME_SIZE];
  BuildFileName(expanded, g.dirs.data.c_str(), ".plr", plr);
  // The attribute file has the collection's stem.
  std::snprintf(dat, sizeof dat, "%s", plr);
  char* dot = std::strrchr(dat, '.');
  char* slash = std::strrchr(dat, '/');
  if (dot && (!slash || dot > slash)) std::snprintf(dot, sizeof dat - static_cast<size_t>(dot - dat), ".dat");
  if (g.map_mode != 0) CancelMapMode(g);
  const int dim = variant < 0 ? 0 : (variant > 2 ? 2 : variant);
  auto* s = new Search;
  s->dim = dim;
  const ops::CollOpenReport r = s->coll.Open(plr, dat, *g.cell_index, dim);
  if (r.has_attributes && (r.status == ops::kCollOk || r.status >= ops::kCollAttHeaderError))
    PostText(2, "data from %s", dat);
  if (r.status != ops::kCollOk) {
    int level = EL_NOT_APPLICABLE;
    switch (r.status) {
      case ops::kCollOpenError: PostText(4, "File (%s) open error", plr); level = EL_FAILURE; break;
      case ops::kCollHeaderError: PostText(4, "File %s header read error", plr); level = EL_FAILURE; break;
      case ops::kCollReleaseMismatch: PostText(4, "Mis-match, release level (%d/%d)", (int)r.a, (int)r.b); break;
      case ops::kCollIndexMismatch: PostText(4, "Mis-match, index_id (%d/%d)", (int)r.a, (int)r.b); break;
      case ops::kCollDimensionMismatch:
        PostText(4, "Incompatible object/search dimension (%d/%d)", (int)r.a, (int)r.b);
        break;
      case ops::kCollAttHeaderError:
        PostText(4, "ATT file %s header read error", dat);
        level = EL_FAILURE;
        break;
      case ops::kCollDbIdMismatch:
        PostText(4, "Mis-match, db-id (%d/%d)", (int)r.a, (int)r.b);
        break;
      case ops::kCollHeader2Error: PostText(4, "DB file %s header(2) read error", plr); break;
      default: PostText(4, "file %s mapping error %d", plr, (int)r.a); level = EL_FAILURE; break;
    }
    g.error_level = level;
    delete s;
    return;
  }
  if (dim < 2) {
    const long long need = ops::CollWindowMemory(*g.cell_index, dim);
    if (need > ops::kCollWindowLimit) {
      PostText(4, "Window memory shortfall? (%lld)", need);
      g.error_level = EL_NOT_APPLICABLE;
      delete s;
      return;
    }
  }
  std::string st = StyleValue(g, style[0] ? style : nullptr, "object.highlight");
  if (st.find_first_not_of(" \t") == std::string::npos) st = "c13";
  s->style = st;
  g_search = s;
  PostText(2, "Move pointer in map, or click [ESC] to end");
  StartMapMode(g, kCollectionMode);
}

bool DisplayCollectionIfNamed(GlobalBlock& g, const char* word, const char* style_word, const char* style_key,
                              int what) {
  if (!word || !word[0]) return false;
  char expanded[WORD_SIZE];
  std::snprintf(expanded, sizeof expanded, "%s", word);
  ExpandDirectoryAlias(g, expanded, sizeof expanded);
  char plr[FILE_NAME_SIZE];
  BuildFileName(expanded, g.dirs.data.c_str(), ".qbo", plr);
  const std::size_t n = std::strlen(plr);
  if (n < 4 || strcasecmp(plr + n - 4, ".plr") != 0) return false;
  if (!g.cell_index || g.cell_index->cell_count <= 0) {
    PostText(4, "No cell index loaded");
    g.error_level = EL_FAILURE;
    return true;
  }
  display::MapGeometry* m = CurrentGeometry(g);
  if (!m) {
    PostText(4, "No map geometry");
    g.error_level = EL_FAILURE;
    return true;
  }
  ops::Collection coll;
  const ops::CollOpenReport r = coll.Open(plr, "", *g.cell_index, what == 1 ? 1 : what);
  if (r.status != ops::kCollOk) {
    switch (r.status) {
      case ops::kCollOpenError:
        PostText(4, "Unable to open (%s) for reading", plr);
        g.error_level = EL_FAILURE;
        break;
      case ops::kCollDimensionMismatch:
        PostText(4, what == 2 ? "Point or line object, can't fill area" : "Point object, can't draw lines");
        g.error_level = EL_NOT_APPLICABLE;
        break;
      case ops::kCollReleaseMismatch: PostText(4, "Mis-match, release level (%d/%d)", (int)r.a, (int)r.b); g.error_level = EL_NOT_APPLICABLE; break;
      case ops::kCollIndexMismatch: PostText(4, "Mis-match, index_id (%d/%d)", (int)r.a, (int)r.b); g.error_level = EL_NOT_APPLICABLE; break;
      default: PostText(4, "File %s header read error", plr); g.error_level = EL_FAILURE; break;
    }
    return true;
  }
  std::string style = StyleValue(g, style_word && style_word[0] ? style_word : nullptr, style_key);
  cells::CellIndex& idx = *g.cell_index;
  DisplayContext& d = Display(g);
  display::DrawState state;
  int st;
  if (what == 0) st = display::OpenMarkers(&state, &d.surface, display::ParseMarkerStyle(style));
  else if (what == 1) st = display::OpenLines(&state, &d.surface, display::ParseLineStyle(style));
  else st = display::OpenAreas(&state, &d.surface, display::ParseAreaStyle(style));
  if (st != display::kDrawOk) {
    PostText(4, "Graphics memory");
    g.error_level = EL_NOT_APPLICABLE;
    return true;
  }
  const int dim = coll.Header().dimension;
  if (dim == 2 && what == 2) {
    for (std::size_t i = 0; i < coll.RegionCount(); ++i)
      display::FillObjectArea(*m, idx, coll.Region(i).obj, 0.0, &state);
  } else {
    // Member by member from the cell table: each point once; each leg once,
    // from the cell of its first vertex.
    display::PolylinePen pen(*m, &state);
    for (std::int32_t c = coll.Header().low_cell; c <= static_cast<std::int32_t>(coll.Header().high_cell) && c >= 0; ++c) {
      const std::uint8_t* rec;
      const std::uint32_t k = coll.CellRecords(c, &rec);
      for (std::uint32_t i = 0; i < k; ++i) {
        if (dim == 0) {
          const std::uint8_t* r0 = rec + std::uint64_t{i} * ops::kCollPointRecordSize;
          const DirectionCosines p{cells::Load<double>(r0), cells::Load<double>(r0 + 8), cells::Load<double>(r0 + 16)};
          display::PixelPoint px;
          if (display::PositionToDevice(*m, p, &px)) display::Marker(&state, px.x, px.y);
          continue;
        }
        const std::uint8_t* r0 = rec + std::uint64_t{i} * ops::kCollLegRecordSize;
        const DirectionCosines a{cells::Load<double>(r0), cells::Load<double>(r0 + 8), cells::Load<double>(r0 + 16)};
        const DirectionCosines b{cells::Load<double>(r0 + 24), cells::Load<double>(r0 + 32), cells::Load<double>(r0 + 40)};
        if (cells::Locate(idx, a) != c) continue;
        if (what == 0) {
          display::PixelPoint px;
          if (display::PositionToDevice(*m, a, &px)) display::Marker(&state, px.x, px.y);
        } else {
          pen.MoveTo(a);
          pen.LineTo(b);
          pen.Break();
        }
      }
    }
  }
  display::CloseDrawState(&state);
  ModePictureChanged(g);
  return true;
}

}  // namespace interp

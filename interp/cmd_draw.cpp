// Drawing commands: coast, grid, horizon, text, Clear, and the bitmaps.
//
// Every drawing handler reads top to bottom: usage request, arguments, the
// style (argument or initialisation-file key), a drawing state opened on the
// display surface, the library routine that traces the content through the
// current MapGeometry, closing the state, and telling the map window that the
// picture changed. The bitmap handlers turn the results of lib/display's
// image code into the system's messages.
#include "interp/cmd_draw.h"
#include "interp/cmd_collections.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "interp/cmd_map.h"
#include "interp/cmd_plot.h"
#include "interp/handlers.h"
#include "interp/keyed_store.h"
#include "interp/map_modes.h"
#include "interp/messages.h"
#include "interp/startup.h"
#include "interp/words.h"
#include "lib/display/bitmap.h"
#include "lib/display/colour.h"
#include "lib/display/draw_map.h"
#include "lib/display/draw_objects.h"
#include "lib/display/draw_cells.h"
#include "lib/cells/object_file.h"
#include "lib/cells/secondary_index.h"
#include "lib/display/map_geometry.h"
#include "lib/geodesy/angle_text.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/cells/cell_index.h"
#include "lib/cells/cell_locate.h"
#include "platform/clock.h"
#include "platform/map_window.h"
#include "platform/safe_output.h"

namespace interp {

namespace {

DisplayContext g_display;

// The map window and what it last showed.
struct WindowState {
  platform::MapWindow* window = nullptr;
  uint64_t shown_generation = ~0ull;
  std::vector<uint32_t> view;
  bool have_point = false;  // a previous right-click point exists
  geodesy::DirectionCosines point;
  double total_km = 0.0;
  int legs = 0;
};
WindowState g_window;

bool Usage(GlobalBlock& g, const char* args, const char* text) {
  (void)g;
  if (!IsUsageRequest(args)) return false;
  PostText(2, "%s", text);
  return true;
}

void Changed(GlobalBlock& g) {
  // The drawing is done: the arrow pointer again.
  if (g_window.window) platform::SetMapPointer(g_window.window, platform::kPointerArrow);
  if (g_display.picture_changed) g_display.picture_changed(g);
}

// The background colour of the start-up values, as a colour value.
uint32_t StartBackground(GlobalBlock& g) {
  std::string text;
  if (g.keyed_store && GetKeyString(g.keyed_store, "background", text) && !text.empty())
    return display::ReadStyleColour(text);
  return display::kDefaultBackground;
}

// A file name completed with the data directory (and a default extension).
std::string DataFileName(GlobalBlock& g, const char* word, const char* extension) {
  char name[WORD_SIZE];
  snprintf(name, sizeof name, "%s", word);
  ExpandDirectoryAlias(g, name, sizeof name);
  char built[FILE_NAME_SIZE];
  BuildFileName(name, g.dirs.data.c_str(), extension, built);
  return built;
}

// Opens a drawing state of a kind, posting "Graphics memory" on failure.
bool Opened(GlobalBlock& g, int status) {
  if (status == display::kDrawOk) {
    // Drawing shows the wait pointer over the map until the command ends.
    if (g_window.window) platform::SetMapPointer(g_window.window, platform::kPointerWait);
    return true;
  }
  if (status == display::kStateOpen) {
    AssertionFailed(__FILE__, __LINE__, "istat == 0");
    return false;
  }
  PostText(4, "Graphics memory");
  g.error_level = EL_NOT_APPLICABLE;
  return false;
}

// The geometry to draw through; posts when there is none.
display::MapGeometry* GeometryOrPost(GlobalBlock& g) {
  display::MapGeometry* geometry = TargetGeometry(g);
  if (!geometry) {
    PostText(4, "No map geometry");
    g.error_level = EL_FAILURE;
  }
  return geometry;
}

// Reads one word of DrawText: a latitude or longitude when it starts with one
// of the hemisphere letters, else an integer device coordinate.
bool AngleWord(const char* word, const char* letters, std::string_view pos, std::string_view neg, double* angle,
               int* device) {
  if (word[0] && strchr(letters, word[0])) {
    *angle = geodesy::ParseAngle(word, pos, neg);
    return true;
  }
  *device = atoi(word);
  return false;
}

}  // namespace

// ---------------------------------------------------------------- text panel

namespace {

// Paints the text panel of ShowPanel onto a surface: its lines in the panel
// font and colour, justified within a box placed in the left, top, right or
// bottom band or the centre of the map, over a background box when the panel
// has a background colour.
void PaintPanel(const TextPanel& panel, cairo_surface_t* target) {
  if (!target || panel.lines.empty()) return;
  const int w = cairo_image_surface_get_width(target), h = cairo_image_surface_get_height(target);
  cairo_t* cr = cairo_create(target);
  const display::FontChoice f = display::TextFont(panel.font);
  cairo_select_font_face(cr, f.face, f.italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                         f.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, f.size * 1.5);
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  double widest = 0;
  for (const std::string& line : panel.lines) {
    cairo_text_extents_t te;
    cairo_text_extents(cr, line.c_str(), &te);
    widest = std::max(widest, te.x_advance);
  }
  const double pad = 8, line_h = fe.height, box_w = widest + 2 * pad,
               box_h = line_h * panel.lines.size() + 2 * pad;
  double x = (w - box_w) / 2, y = (h - box_h) / 2;
  if (panel.location == -1) x = 10;
  if (panel.location == 1) x = w - box_w - 10;
  if (panel.location == -2) y = 10;
  if (panel.location == 2) y = h - box_h - 10;
  if (panel.background >= 0) {
    const uint32_t bg = display::PaletteColour(panel.background);
    cairo_set_source_rgb(cr, display::RedOf(bg) / 255.0, display::GreenOf(bg) / 255.0, display::BlueOf(bg) / 255.0);
    cairo_rectangle(cr, x, y, box_w, box_h);
    cairo_fill(cr);
  }
  std::string value = panel.colour;
  const uint32_t c = display::ReadStyleColour(value);
  cairo_set_source_rgb(cr, display::RedOf(c) / 255.0, display::GreenOf(c) / 255.0, display::BlueOf(c) / 255.0);
  double baseline = y + pad + fe.ascent;
  for (const std::string& line : panel.lines) {
    cairo_text_extents_t te;
    cairo_text_extents(cr, line.c_str(), &te);
    double lx = x + pad + (widest - te.x_advance) / 2;
    if (panel.justification == -1) lx = x + pad;
    if (panel.justification == 1) lx = x + pad + widest - te.x_advance;
    cairo_move_to(cr, lx, baseline);
    cairo_show_text(cr, line.c_str());
    baseline += line_h;
  }
  cairo_destroy(cr);
  cairo_surface_flush(target);
}

bool ShowTextPanel(GlobalBlock& g) {
  DisplayContext& d = Display(g);
  if (!d.surface.bitmap) return false;
  // A panel kept in the map becomes part of the picture; otherwise it is
  // only laid over the window's view until the next script line.
  if (g.panel.keep_in_map) PaintPanel(g.panel, d.surface.bitmap);
  ++d.surface.generation;
  return true;
}

void RemoveTextPanel(GlobalBlock& g) { ++Display(g).surface.generation; }

}  // namespace

namespace {

// Makes the picture again at a new client size, in the background colour.
// Works on the context alone, so that Display and ResizeDisplay can both use
// it without going through each other.
bool ResizeSurface(DisplayContext& d, int width, int height) {
  if (width == d.client_width && height == d.client_height && d.surface.bitmap) return true;
  d.client_width = width;
  d.client_height = height;
  if (!display::ResizeDisplaySurface(&d.surface, width, height)) {
    ReportError("Bitmap creation failed - memory?");
    return false;
  }
  return true;
}

}  // namespace

DisplayContext& Display(GlobalBlock& g) {
  const MapField field = CurrentMapField(g);
  if (!g_display.made) {
    g_display.made = true;
    if (!g.show_text_panel) g.show_text_panel = ShowTextPanel;
    if (!g.remove_text_panel) g.remove_text_panel = RemoveTextPanel;
    g_display.client_width = field.width > 0 ? field.width : 1056;
    g_display.client_height = field.height > 0 ? field.height : 684;
    if (!display::CreateDisplaySurface(&g_display.surface, g_display.client_width, g_display.client_height,
                                       StartBackground(g)))
      ReportError("Bitmap creation failed - memory?");
  } else if (field.width > 0 && field.height > 0 &&
             (field.width != g_display.client_width || field.height != g_display.client_height)) {
    // The client area changed size: the bitmap is made again in the background.
    ResizeSurface(g_display, field.width, field.height);
  }
  if (!g_display.coast_tried) {
    g_display.coast_tried = true;
    std::string sgm = g.dirs.program + "coast.sgm", vtx = g.dirs.program + "coast.vtx";
    if (StartupValues* v = Startup(g); v && !v->coast_segments.empty()) {
      sgm = v->coast_segments;
      vtx = v->coast_vertices;
    }
    display::LoadCoastFiles(sgm, vtx, &g_display.coast);
  }
  return g_display;
}

display::MapGeometry* CurrentGeometry(GlobalBlock& g) {
  if (!g.map_geometry) ApplyInitialMapGeometry(g);
  return g.map_geometry;
}

bool ResizeDisplay(GlobalBlock& g, int width, int height) {
  // Display makes the context first (and follows the map field's size).
  return ResizeSurface(Display(g), width, height);
}

std::string StyleValue(GlobalBlock& g, const char* argument, const char* style_name) {
  const int plot_mode = Display(g).plot_mode;
  std::string scratch;
  return display::ResolveStyleValue(argument, style_name, plot_mode, [&](const std::string& key) -> const char* {
    if (!g.keyed_store || !GetKeyString(g.keyed_store, key.c_str(), scratch)) return nullptr;
    return scratch.c_str();
  });
}

// ---------------------------------------------------------------- Clear

void CmdClear(GlobalBlock& g, const char* args, int, int) {
  if (Usage(g, args, "[style]")) return;
  char word[WORD_SIZE];
  NextWord(args, word, sizeof word);
  DisplayContext& d = Display(g);
  long colour = -1;
  if (word[0]) {
    std::string value = word;
    colour = display::ReadStyleColour(value);
    if ((uint32_t)colour == d.surface.background) colour = -1;
  }
  // Clear never writes to a plot: the plot mode is 0 while it runs.
  const int saved = d.plot_mode;
  d.plot_mode = 0;
  display::ClearDisplaySurface(&d.surface, colour);
  d.plot_mode = saved;
  Changed(g);
}

// ---------------------------------------------------------------- lines

// The coast and the grid: an optional style word (else the style key's
// value), drawn as lines through the map geometry by draw.
static void DrawMapLines(GlobalBlock& g, const char* args, const char* style_key,
                  void (*draw)(const display::MapGeometry&, DisplayContext&, display::DrawState*)) {
  if (Usage(g, args, "[style]")) return;
  char word[WORD_SIZE];
  NextWord(args, word, sizeof word);
  display::MapGeometry* geometry = GeometryOrPost(g);
  if (!geometry) return;
  DisplayContext& d = Display(g);
  display::DrawState state;
  AimAtTarget(g, &state);
  if (!Opened(g, display::OpenLines(&state, &d.surface,
                                    display::ParseLineStyle(StyleValue(g, word[0] ? word : nullptr, style_key)))))
    return;
  draw(*geometry, d, &state);
  display::CloseDrawState(&state);
  Changed(g);
}

void CmdDrawCoast(GlobalBlock& g, const char* args, int, int) {
  DrawMapLines(g, args, "coastline",
               [](const display::MapGeometry& m, DisplayContext& d, display::DrawState* st) {
                 display::DrawCoastOnMap(m, d.coast, st);
               });
}

void CmdDrawGrid(GlobalBlock& g, const char* args, int, int) {
  DrawMapLines(g, args, "lat.long.grid",
               [](const display::MapGeometry& m, DisplayContext&, display::DrawState* st) {
                 display::DrawGridOnMap(m, st);
               });
}

void CmdDrawHorizon(GlobalBlock& g, const char* args, int, int) {
  if (Usage(g, args, "[style]")) return;
  char word[WORD_SIZE];
  NextWord(args, word, sizeof word);
  display::MapGeometry* geometry = GeometryOrPost(g);
  if (!geometry) return;
  if (geometry->projection != display::PROJ_ORTHO && geometry->projection != display::PROJ_PERSPECT) return;
  DisplayContext& d = Display(g);
  display::DrawState state;
  AimAtTarget(g, &state);
  if (!Opened(g, display::OpenLines(&state, &d.surface,
                                    display::ParseLineStyle(StyleValue(g, word[0] ? word : nullptr, "lat.long.grid")))))
    return;
  display::DrawHorizonOnMap(*geometry, &state);
  display::CloseDrawState(&state);
  Changed(g);
}

// ---------------------------------------------------------------- text

void CmdDrawText(GlobalBlock& g, const char* args, int, int) {
  if (Usage(g, args, " x y textStyle \"text...\"")) return;
  char first[WORD_SIZE], second[WORD_SIZE], style[WORD_SIZE], text[WORD_SIZE];
  const char* rest = NextWord(args, first, sizeof first);
  rest = NextWord(rest, second, sizeof second);
  rest = NextWord(rest, style, sizeof style);
  NextWord(rest, text, sizeof text);
  double lat = geodesy::NOVALUE, lon = geodesy::NOVALUE;
  int x = 0, y = 0;
  const bool has_lat = AngleWord(first, "NnSs", geodesy::LAT_POSITIVE, geodesy::LAT_NEGATIVE, &lat, &x);
  const bool has_lon = AngleWord(second, "EeWw", geodesy::LON_POSITIVE, geodesy::LON_NEGATIVE, &lon, &y);
  // A position given by latitude and longitude is placed where it projects;
  // one that does not project keeps the device point (0, 0).
  display::MapGeometry* geometry = TargetGeometry(g);
  if (has_lat && has_lon) {
    x = y = 0;
    display::PixelPoint p;
    if (geometry && lat != geodesy::NOVALUE && lon != geodesy::NOVALUE) {
      const geodesy::Ellipsoid* e = geometry->ellipsoid;
      const geodesy::DirectionCosines u = e ? geodesy::GeodeticToCosines({lat, lon}, *e)
                                            : geodesy::GeocentricToCosines({lat, lon});
      if (display::PositionToDevice(*geometry, u, &p)) {
        x = p.x;
        y = p.y;
      }
    }
  }
  DisplayContext& d = Display(g);
  display::DrawState state;
  AimAtTarget(g, &state);
  if (!Opened(g, display::OpenText(&state, &d.surface, display::ParseTextStyle(style)))) return;
  display::Text(&state, x, y, text);
  display::CloseDrawState(&state);
  Changed(g);
}

// ---------------------------------------------------------------- bitmaps

void CmdSaveBitmap(GlobalBlock& g, const char* args, int, int) {
  if (Usage(g, args, "fileName.extension  [w[t]]")) return;
  char word[WORD_SIZE], options[WORD_SIZE];
  const char* rest = NextWord(args, word, sizeof word);
  if (!word[0]) {
    PostText(4, "No save file name given");
    g.error_level = EL_FAILURE;
    return;
  }
  const std::string path = DataFileName(g, word, "");
  const display::ImageKind kind = display::ImageKindForWriting(path);
  if (kind == display::ImageKind::kNone) {
    PostText(4, "Invalid file type (extension?) (%s)", path.c_str());
    g.error_level = EL_FAILURE;
    return;
  }
  unsigned bits = 0;
  if (kind == display::ImageKind::kPng) {
    NextWord(rest, options, sizeof options);
    bits = display::PngOptionBits(options);
  }
  platform::WorkspaceMark mark(&g.workspace);
  if (g.workspace.base && !platform::WorkspacePeek(&g.workspace, 1960)) {
    PostText(4, "Not enough workspace?");
    g.error_level = EL_FAILURE;
    return;
  }
  DisplayContext& d = Display(g);
  int detail = 0;
  const display::SaveResult r =
      display::SaveImageFile(d.surface.bitmap, path, kind, bits, d.surface.background, &detail);
  switch (r) {
    case display::SaveResult::kOk: return;
    case display::SaveResult::kOpenFailed: PostText(4, "Unable to open (%s) for writing", path.c_str()); break;
    case display::SaveResult::kNoPicture: PostText(4, "Unable to access screen bitmap"); break;
    case display::SaveResult::kBadFormat: PostText(4, "Unsuported/unexpected bitmap format (%d)", detail); break;
    case display::SaveResult::kPngError: PostText(4, "png library error %d\n", detail); break;
    case display::SaveResult::kOutputError: PostText(4, "Image file (%s) output error %d\n", path.c_str(), detail); break;
    case display::SaveResult::kNoWriter:
      PostText(4, "Invalid/unimplemented file type (extension?) (%s)", path.c_str());
      break;
  }
  g.error_level = EL_FAILURE;
}

void CmdShowBitmap(GlobalBlock& g, const char* args, int, int) {
  if (Usage(g, args, "fileName")) return;
  char word[WORD_SIZE];
  NextWord(args, word, sizeof word);
  if (!word[0]) {
    PostText(4, "No source file name given");
    g.error_level = EL_FAILURE;
    return;
  }
  const std::string path = DataFileName(g, word, ".bmp");
  FILE* probe = fopen(path.c_str(), "rb");
  if (!probe) {
    PostText(4, "Bitmap file %s access error", path.c_str());
    g.error_level = EL_FAILURE;
    return;
  }
  fclose(probe);
  const display::ImageKind kind = display::ImageKindForReading(path);
  if (kind == display::ImageKind::kNone) {
    PostText(4, "Invalid file type (extension?) (%s)", path.c_str());
    g.error_level = EL_FAILURE;
    return;
  }
  cairo_surface_t* image = nullptr;
  switch (display::LoadImageFile(path, kind, &image)) {
    case display::DecodeResult::kOk: break;
    case display::DecodeResult::kCannotOpen:
      PostText(4, "Unable to open (%s) for reading", path.c_str());
      g.error_level = EL_FAILURE;
      return;
    case display::DecodeResult::kBadSignature:
      PostText(4, "Invalid file (%s) signature", path.c_str());
      g.error_level = EL_NOT_APPLICABLE;
      return;
    case display::DecodeResult::kNoMemory:
      PostText(4, "Out of memory? (%d)?", 3);
      g.error_level = EL_NOT_APPLICABLE;
      return;
    case display::DecodeResult::kSubType:
      PostText(4, "Usupported image file sub-type %s", path.c_str());
      g.error_level = EL_NOT_APPLICABLE;
      return;
  }
  DisplayContext& d = Display(g);
  if (d.surface.bitmap) {
    cairo_t* cr = cairo_create(d.surface.bitmap);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(d.surface.bitmap);
    ++d.surface.generation;
  }
  cairo_surface_destroy(image);
  if (g.activate_map_window) g.activate_map_window(g);
  Changed(g);
}

void CmdUpdateBitmap(GlobalBlock& g, const char* args, int, int) {
  if (Usage(g, args, " ")) return;
  display::MergeOverlay(&Display(g).surface);
  Changed(g);
}

// ---------------------------------------------------------------- objects

namespace {

// The indexes of objects made with another cell index than the loaded one.
cells::SecondaryTable g_secondary;

// Opens an object for display: the name (default ".qbo" in the data
// directory), its cell index (the loaded one, or a secondary index found
// beside the object, whose visible-cell list is then built in a free slot of
// the map geometry), and the open statuses as messages. False (message
// posted, error level set) when it cannot be drawn; *index is the index to
// draw the object with.
bool OpenForDisplay(GlobalBlock& g, const char* word, cells::ObjectHandle* h, cells::CellIndex** index) {
  if (!word[0]) {
    PostText(4, "No object name given");
    g.error_level = EL_FAILURE;
    return false;
  }
  const std::string path = DataFileName(g, word, ".qbo");
  std::string ext;
  SplitFileName(path.c_str(), nullptr, nullptr, nullptr, &ext);
  if (strcasecmp(ext.c_str(), "plr") == 0 || strcasecmp(ext.c_str(), ".plr") == 0) {
    PostText(4, "Invalid object type");
    g.error_level = EL_FAILURE;
    return false;
  }
  const int st = cells::OpenObjectRead(*h, path, 0, 0);
  switch (st) {
    case 0: break;
    case 1: PostText(4, "Unable to open (%s) for reading", path.c_str()); g.error_level = EL_FAILURE; return false;
    case 4: PostText(4, "Invalid object type"); g.error_level = EL_FAILURE; return false;
    case 5: PostText(4, "Object release stamp mis-match"); g.error_level = EL_FAILURE; return false;
    default: PostText(4, "memory mapping error: %d", st); g.error_level = EL_FAILURE; return false;
  }
  auto refuse = [&](const char* text, int id) {
    PostText(4, text, id);
    g.error_level = EL_NOT_APPLICABLE;
    cells::CloseObject(*h);
    return false;
  };
  if (h->obj.vix_id == 0) return refuse("Object file open error or index-id missing?", 0);
  *index = g.cell_index;
  if (!g.cell_index || h->obj.vix_id != g.cell_index->index_id) {
    // Another index: brought in beside the loaded one.
    cells::CellIndex* other = nullptr;
    switch (cells::FindSecondaryIndex(g_secondary, path.c_str(), h->obj.vix_id, &other)) {
      case cells::SECONDARY_FOUND: break;
      case cells::SECONDARY_MAP_ERROR: return refuse("secondary index mapping error?", 0);
      case cells::SECONDARY_TABLE_FULL: return refuse("index buffer slot not available?", 0);
      default: return refuse("matching index not found (id:%d)", (int)h->obj.vix_id);
    }
    display::MapGeometry* geometry = TargetGeometry(g);
    if (geometry) {
      int slot = -1;
      for (int i = 1; i < display::VISIBLE_SLOTS && slot < 0; ++i)
        if (geometry->visible[i].list && geometry->visible[i].index_id == other->index_id) slot = i;
      for (int i = 1; i < display::VISIBLE_SLOTS && slot < 0; ++i)
        if (!geometry->visible[i].list) slot = i;
      if (slot < 0) return refuse("index buffer slot not available?", 0);
      if (!geometry->visible[slot].list) display::BuildVisibleCells(other, &g.workspace, geometry, slot);
    }
    *index = other;
  }
  if (!cells::ObjectValid(h->obj, (*index)->cell_count)) {
    PostText(4, "Invalid object type");
    g.error_level = EL_FAILURE;
    cells::CloseObject(*h);
    return false;
  }
  return true;
}

int PointChoiceOf(const cells::Object& obj, const char* word) {
  const char c = word[0];
  if (obj.kind == cells::kTinPset) {
    if (c == 'v' || c == 'V') return display::kTinVertices;
    if (c == 'b' || c == 'B') return display::kTinBoth;
    return display::kTinPoints;
  }
  if (obj.kind == cells::kLset && word[0] && !word[1]) {
    if (c == 's') return display::kStartPoints;
    if (c == 'e') return display::kEndPoints;
    if (c == 'b') return display::kBothEnds;
  }
  return display::kAllVertices;
}

}  // namespace

bool OpenObjectForDisplay(GlobalBlock& g, const char* word, cells::ObjectHandle* h, cells::CellIndex** index) {
  return OpenForDisplay(g, word, h, index);
}

// An object the command cannot draw: the message, error level 2, and the
// object closed.
static void RefuseObject(GlobalBlock& g, cells::ObjectHandle* h, const char* text) {
  PostText(4, "%s", text);
  g.error_level = EL_NOT_APPLICABLE;
  cells::CloseObject(*h);
}

void CmdDisplayPoints(GlobalBlock& g, const char* args, int, int) {
  if (Usage(g, args, "name [style [s|e|b|p|v|b]]")) return;
  char name[WORD_SIZE], style[WORD_SIZE], option[WORD_SIZE];
  const char* rest = NextWord(args, name, sizeof name);
  rest = NextWord(rest, style, sizeof style);
  NextWord(rest, option, sizeof option);
  if (DisplayCollectionIfNamed(g, name, style, "object.points", 0)) return;
  cells::ObjectHandle h;
  cells::CellIndex* index = nullptr;
  if (!OpenForDisplay(g, name, &h, &index)) return;
  display::MapGeometry* geometry = GeometryOrPost(g);
  DisplayContext& d = Display(g);
  display::DrawState state;
  AimAtTarget(g, &state);
  if (geometry &&
      Opened(g, display::OpenMarkers(&state, &d.surface,
                                     display::ParseMarkerStyle(StyleValue(g, style[0] ? style : nullptr, "object.points"))))) {
    display::DrawObjectPoints(*geometry, *index, h.obj, PointChoiceOf(h.obj, option), &state);
    display::CloseDrawState(&state);
    Changed(g);
  }
  cells::CloseObject(h);
}

void CmdDisplayLines(GlobalBlock& g, const char* args, int, int) {
  if (Usage(g, args, "name [style [a|b|i]]")) return;
  char name[WORD_SIZE], style[WORD_SIZE];
  const char* rest = NextWord(args, name, sizeof name);
  NextWord(rest, style, sizeof style);
  if (DisplayCollectionIfNamed(g, name, style, "object.lines", 1)) return;
  cells::ObjectHandle h;
  cells::CellIndex* index = nullptr;
  if (!OpenForDisplay(g, name, &h, &index)) return;
  if (h.obj.kind == cells::kPset || h.obj.kind == cells::kTinPset) {
    RefuseObject(g, &h, "Point object, can't draw lines");
    return;
  }
  display::MapGeometry* geometry = GeometryOrPost(g);
  DisplayContext& d = Display(g);
  display::DrawState state;
  AimAtTarget(g, &state);
  if (geometry &&
      Opened(g, display::OpenLines(&state, &d.surface,
                                   display::ParseLineStyle(StyleValue(g, style[0] ? style : nullptr, "object.lines"))))) {
    display::DrawObjectLines(*geometry, *index, h.obj, &state);
    display::CloseDrawState(&state);
    Changed(g);
  }
  cells::CloseObject(h);
}

void CmdDisplayArea(GlobalBlock& g, const char* args, int, int) {
  if (Usage(g, args, "name [style]")) return;
  char name[WORD_SIZE], style[WORD_SIZE];
  const char* rest = NextWord(args, name, sizeof name);
  NextWord(rest, style, sizeof style);
  if (DisplayCollectionIfNamed(g, name, style, "object.area", 2)) return;
  cells::ObjectHandle h;
  cells::CellIndex* index = nullptr;
  if (!OpenForDisplay(g, name, &h, &index)) return;
  if (h.obj.kind != cells::kRset) {
    RefuseObject(g, &h, "Point or line object, can't fill area");
    return;
  }
  display::MapGeometry* geometry = GeometryOrPost(g);
  DisplayContext& d = Display(g);
  display::DrawState state;
  AimAtTarget(g, &state);
  if (geometry && PlotActive()) {
    // A plot cannot take a pixel mask: the fill is decided on its own grid.
    if (PlotFillArea(g, index, h.obj, StyleValue(g, style[0] ? style : nullptr, "object.area").c_str())) Changed(g);
  } else if (geometry) {
    const int st = display::OpenAreas(&state, &d.surface,
                                      display::ParseAreaStyle(StyleValue(g, style[0] ? style : nullptr, "object.area")));
    if (st == display::kGraphicsMemory) {
      PostText(4, "Windows out of memory for area fill");
      g.error_level = EL_NOT_APPLICABLE;
    } else if (Opened(g, st)) {
      display::FillObjectArea(*geometry, *index, h.obj, g.fuzz_angle, &state);
      display::CloseDrawState(&state);
      Changed(g);
    }
  }
  cells::CloseObject(h);
}

// ---------------------------------------------------------------- cells

void CmdDrawCellPoints(GlobalBlock& g, const char* args, int variant, int) {
  if (Usage(g, args, "[style]")) return;
  char word[WORD_SIZE];
  NextWord(args, word, sizeof word);
  display::MapGeometry* geometry = GeometryOrPost(g);
  if (!geometry || !g.cell_index) return;
  DisplayContext& d = Display(g);
  const std::vector<int32_t> list = display::CellsToDraw(*geometry, *g.cell_index, nullptr);
  display::DrawState state;
  AimAtTarget(g, &state);
  const char* arg = word[0] ? word : nullptr;
  if (variant == 1) {  // DrawCellNumbers
    if (!Opened(g, display::OpenText(&state, &d.surface, display::ParseTextStyle(StyleValue(g, arg, "cell.numbers")))))
      return;
    display::DrawCellNumbers(*geometry, *g.cell_index, list, &state);
  } else if (variant == 2) {  // DrawCellCenters
    if (!Opened(g, display::OpenMarkers(&state, &d.surface,
                                        display::ParseMarkerStyle(StyleValue(g, arg, "cell.centers")))))
      return;
    display::DrawCellCentres(*geometry, *g.cell_index, list, &state);
  } else {  // DrawCellOrder
    const display::AreaStyle style = display::ParseAreaStyle(StyleValue(g, arg, "cell.order"));
    if (display::OpenPlain(&state, &d.surface) != display::kDrawOk) {
      PostText(4, "Windows out of memory for area fill");
      g.error_level = EL_NOT_APPLICABLE;
      return;
    }
    display::DrawCellOrder(*geometry, *g.cell_index, list, d.surface.background, style.colour, &state);
  }
  display::CloseDrawState(&state);
  Changed(g);
}

void CmdDrawCellOutlines(GlobalBlock& g, const char* args, int variant, int) {
  if (Usage(g, args, "[style]")) return;
  char word[WORD_SIZE];
  NextWord(args, word, sizeof word);
  display::MapGeometry* geometry = GeometryOrPost(g);
  if (!geometry || !g.cell_index) return;
  DisplayContext& d = Display(g);
  const std::vector<int32_t> list = display::CellsToDraw(*geometry, *g.cell_index, nullptr);
  display::DrawState state;
  AimAtTarget(g, &state);
  if (!Opened(g, display::OpenLines(&state, &d.surface,
                                    display::ParseLineStyle(StyleValue(g, word[0] ? word : nullptr, "cell.lines")))))
    return;
  if (variant == 2)
    display::DrawCellDuals(*geometry, *g.cell_index, list, &state);
  else if (variant == 3)
    display::DrawCellSpokes(*geometry, *g.cell_index, list, &state);
  else
    display::DrawCellOutlines(*geometry, *g.cell_index, list, &state);
  display::CloseDrawState(&state);
  Changed(g);
}

void CmdDisplayCells(GlobalBlock& g, const char* args, int variant, int) {
  if (Usage(g, args, "name [[style [file]]")) return;
  char name[WORD_SIZE], style[WORD_SIZE], file[WORD_SIZE];
  const char* rest = NextWord(args, name, sizeof name);
  rest = NextWord(rest, style, sizeof style);
  NextWord(rest, file, sizeof file);
  cells::ObjectHandle h;
  cells::CellIndex* index = nullptr;
  if (!OpenForDisplay(g, name, &h, &index)) return;
  const int kind = h.obj.kind;
  const char* refusal = nullptr;
  if (variant == 1 && kind != cells::kPset && kind != cells::kTinPset) refusal = "Object %s not a Pset";
  if (variant == 2 && kind != cells::kLset) refusal = "Object %s not an Lset";
  if (variant >= 3 && kind != cells::kRset) refusal = "Object %s not an Rset";
  if (refusal) {
    PostText(4, refusal, name);
    g.error_level = EL_NOT_APPLICABLE;
    cells::CloseObject(h);
    return;
  }
  display::MapGeometry* geometry = GeometryOrPost(g);
  if (!geometry) {
    cells::CloseObject(h);
    return;
  }
  // The cell list is written beside its target and renamed over it when
  // complete; it may never replace the object being drawn.
  platform::SafeOutput safe;
  FILE* out = nullptr;
  std::string cll_path;
  if (file[0]) {
    cll_path = DataFileName(g, file, ".cll");
    const std::string& path = cll_path;
    const std::string object_path = DataFileName(g, name, ".qbo");
    if (platform::SafeCheckTarget(path.c_str(), {object_path.c_str()}) == platform::kSafeOk &&
        platform::SafeOpen(safe, path.c_str()) == platform::kSafeOk)
      out = platform::SafeStream(safe);
    if (!out) {
      PostText(4, "Cell list file %s open failed", path.c_str());
      g.error_level = EL_FAILURE;
      cells::CloseObject(h);
      return;
    }
  }
  const int32_t* own = cells::EnvelopeList(h.obj, variant == 4 ? 1 : 0);
  const std::vector<int32_t> list = own ? display::CellsToDraw(*geometry, *index, own) : std::vector<int32_t>();
  DisplayContext& d = Display(g);
  display::DrawState state;
  AimAtTarget(g, &state);
  if (Opened(g, display::OpenLines(&state, &d.surface,
                                   display::ParseLineStyle(StyleValue(g, style[0] ? style : nullptr, "cell.lines"))))) {
    display::DrawCellOutlines(*geometry, *index, list, &state);
    display::CloseDrawState(&state);
    if (out) {
      for (int32_t c : list) fprintf(out, "%d\n", (int)c);
      if (platform::SafeCommit(safe) != platform::kSafeOk) {
        PostText(4, "Cell list file %s write error", cll_path.c_str());
        g.error_level = EL_FAILURE;
      }
    }
    Changed(g);
  }
  cells::CloseObject(h);
}

// ---------------------------------------------------------------- map window

namespace {

// The position under a pixel, false when there is none.
bool PixelPosition(GlobalBlock& g, int x, int y, geodesy::DirectionCosines* u) {
  display::MapGeometry* geometry = CurrentGeometry(g);
  if (!geometry || !geometry->params) return false;
  double X, Y;
  display::DeviceToPlane(geometry->transform, x, y, &X, &Y);
  return display::ProjectInverse(*geometry->params, geometry->projection, X, Y, u) == 0;
}

// Right button: the position, its cell and the distances, on one line. The
// number of decimals of the degrees follows the map scale.
void ReportPosition(GlobalBlock& g, int x, int y) {
  geodesy::DirectionCosines u;
  if (!PixelPosition(g, x, y, &u)) {
    platform::Beep();
    return;
  }
  display::MapGeometry* geometry = CurrentGeometry(g);
  const geodesy::Ellipsoid* e = geometry->ellipsoid;
  const geodesy::LatLong ll = e ? geodesy::CosinesToGeodetic(u, *e) : geodesy::CosinesToGeocentric(u);
  const double scale = geometry->scale;
  const int decimals = scale > 2.5e8 ? 0 : scale > 2.5e6 ? 2 : scale > 25000 ? 4 : 6;
  char line[256];
  int n = snprintf(line, sizeof line, "%.*f%c %.*f%c", decimals, std::fabs(ll.lat * 180 / M_PI),
                   ll.lat < 0 ? 'S' : 'N', decimals, std::fabs(ll.lon * 180 / M_PI), ll.lon < 0 ? 'W' : 'E');
  if (g.cell_index) n += snprintf(line + n, sizeof line - n, " (%d)", (int)cells::Locate(*g.cell_index, u));
  if (g_window.have_point) {
    const geodesy::DirectionCosines mid = geodesy::Normalised(
        {u.x + g_window.point.x, u.y + g_window.point.y, u.z + g_window.point.z});
    const double chord = std::sqrt(geodesy::ChordSq(u, g_window.point));
    const double arc = 2.0 * std::asin(std::min(1.0, chord / 2.0));
    const double radius = e && geodesy::IsValid(mid) ? display::GeocentricRadius(*e, mid) : 6371008.8;
    const double km = arc * radius / 1000.0;
    g_window.total_km += km;
    ++g_window.legs;
    n += snprintf(line + n, sizeof line - n, " %.3f", km);
    if (g_window.legs >= 2) snprintf(line + n, sizeof line - n, " %.3f", g_window.total_km);
  }
  g_window.have_point = true;
  g_window.point = u;
  PostText(2, "%s", line);
}

void Recentre(GlobalBlock& g, int x, int y) {
  geodesy::DirectionCosines u;
  if (!PixelPosition(g, x, y, &u)) {
    platform::Beep();
    return;
  }
  GeometryRequest r = CurrentGeometryRequest(g);
  r.centre = u;
  if (ApplyMapGeometry(g, r) == 0) {
    display::ClearDisplaySurface(&Display(g).surface);
  }
}

void DroppedFile(GlobalBlock& g, const std::string& file, bool* first) {
  const display::ImageKind kind = display::ImageKindForReading(file);
  if (kind == display::ImageKind::kNone) {
    platform::Beep();
    return;
  }
  if (!*first) platform::SleepMs(500);
  *first = false;
  std::string quoted = "\"" + file + "\"";
  CmdShowBitmap(g, quoted.c_str(), 0, 0);
}

void Present(GlobalBlock& g) {
  DisplayContext& d = Display(g);
  if (!platform::MapWindowOnScreen(g_window.window) || !d.surface.bitmap) return;
  if (g_window.shown_generation == d.surface.generation) return;
  g_window.view.resize((size_t)d.surface.width * d.surface.height);
  display::ComposeView(&d.surface, g_window.view.data(), d.surface.width * 4);
  if (ModeMarkCount() > 0) {  // a pointer mode's marks lie over the picture, not in it
    cairo_surface_t* view = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(g_window.view.data()), CAIRO_FORMAT_ARGB32, d.surface.width,
        d.surface.height, d.surface.width * 4);
    PaintModeMarks(view);
    cairo_surface_destroy(view);
  }
  if (g.panel.shown && !g.panel.keep_in_map) {
    cairo_surface_t* view = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(g_window.view.data()), CAIRO_FORMAT_ARGB32, d.surface.width,
        d.surface.height, d.surface.width * 4);
    PaintPanel(g.panel, view);
    cairo_surface_destroy(view);
  }
  platform::PresentMapWindow(g_window.window, g_window.view.data(), d.surface.width, d.surface.height,
                             d.surface.width * 4);
  g_window.shown_generation = d.surface.generation;
}

}  // namespace

void ServiceMapWindow(GlobalBlock& g) {
  if (!g_window.window) {
    Display(g);  // the picture and the panel hooks exist before the first event
    const MapField field = CurrentMapField(g);
    g_window.window = platform::OpenMapWindow(field.left, field.top, field.width, field.height,
                                              !g.batch && !g.headless);
    if (!g.activate_map_window)
      g.activate_map_window = [](GlobalBlock&) { platform::RaiseMapWindow(g_window.window); };
  }
  if (!platform::MapWindowOnScreen(g_window.window)) return;
  platform::MapEvent e;
  bool first_drop = true;
  while (platform::PollMapWindow(g_window.window, &e)) {
    if (RouteMapEvent(g, e)) continue;  // a pointer mode runs: its events are its own
    switch (e.kind) {
      case platform::kMapEventResize: {
        MapField field = CurrentMapField(g);
        if (e.width > 0 && e.height > 0 && (e.width != field.width || e.height != field.height)) {
          field.width = e.width;
          field.height = e.height;
          ResizeMapField(g, field);
          ResizeDisplay(g, e.width, e.height);
        }
        g_window.shown_generation = ~0ull;
        break;
      }
      case platform::kMapEventButton:
        if (g.map_mode != 0) break;  // the mode's own handling gets the pointer
        if (e.button == 3 && e.clicks >= 2) {
          g_window.have_point = false;
          g_window.total_km = 0.0;
          g_window.legs = 0;
          PostText(2, "Distance accumulator reset");
        } else if (e.button == 3) {
          ReportPosition(g, e.x, e.y);
        } else if (e.button == 2) {
          Recentre(g, e.x, e.y);
        }
        break;
      case platform::kMapEventKey:
        if (e.key == 27 && g.map_mode != 0 && g.cancel_map_mode) g.cancel_map_mode(g);
        break;
      case platform::kMapEventDrop:
        DroppedFile(g, e.file, &first_drop);
        break;
      default:
        break;
    }
  }
  Present(g);
}

void CloseDisplay(GlobalBlock&) {
  platform::CloseMapWindow(g_window.window);
  g_window.window = nullptr;
}

bool PresentMapNow(GlobalBlock& g) {
  if (!platform::MapWindowOnScreen(g_window.window)) return false;
  Present(g);
  return true;
}

void SetMapWindowPointer(platform::MapPointer shape) {
  if (g_window.window) platform::SetMapPointer(g_window.window, shape);
}

void ShowWaitPointer(bool on) {
  if (g_window.window)
    platform::SetMapPointer(g_window.window, on ? platform::kPointerWait : platform::kPointerArrow);
}

}  // namespace interp

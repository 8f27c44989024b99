// Drawing commands: coast, grid, horizon, text, Clear, and the bitmaps.
//
// Every drawing handler reads top to bottom: usage request, arguments, the
// style (argument or initialisation-file key), a drawing state opened on the
// display surface, the library routine that traces the content through the
// current MapGeometry, closing the state, and telling the map window that the
// picture changed. The bitmap handlers turn the results of lib/display's
// image code into the system's messages.
#include "interp/cmd_draw.h"

#include <strings.h>

#include <cmath>
#include <cstring>
#include <string>

#include "interp/handlers.h"
#include "interp/keyed_store.h"
#include "interp/messages.h"
#include "interp/startup.h"
#include "interp/words.h"
#include "lib/display/bitmap.h"
#include "lib/display/colour.h"
#include "lib/display/draw_map.h"
#include "lib/display/map_geometry.h"
#include "lib/geodesy/angle_text.h"
#include "lib/geodesy/ellipsoid.h"

namespace interp {

namespace {

DisplayContext g_display;
display::MapGeometry* g_own_geometry = nullptr;  // the geometry made here, if any

// Pixel size of the virtual screen: 96 dots per inch.
constexpr double kDefaultPixelMetres = 0.0254 / 96.0;

bool Usage(GlobalBlock& g, const char* args, const char* text) {
  (void)g;
  if (!IsUsageRequest(args)) return false;
  PostText(2, "%s", text);
  return true;
}

void Changed(GlobalBlock& g) {
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
  if (status == display::kDrawOk) return true;
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
  display::MapGeometry* geometry = CurrentGeometry(g);
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

DisplayContext& Display(GlobalBlock& g) {
  if (!g_display.made) {
    g_display.made = true;
    int w = 1056, h = 684;  // map.position 34,8,44,38 of the virtual screen
    if (StartupValues* v = Startup(g); v && v->map_rect.width > 0 && v->map_rect.height > 0) {
      w = v->map_rect.width;
      h = v->map_rect.height;
    }
    g_display.client_width = w;
    g_display.client_height = h;
    if (!display::CreateDisplaySurface(&g_display.surface, w, h, StartBackground(g)))
      ReportError("Bitmap creation failed - memory?");
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
  if (g.map_geometry) return g.map_geometry;
  DisplayContext& d = Display(g);
  StartupValues* v = Startup(g);
  display::GeometrySpec spec;
  if (v) {
    spec.projection = (uint32_t)v->projection;
    spec.rot_ref = (uint32_t)v->rotation_reflection;
    spec.centre = v->center;
    spec.scale = v->scale;
  }
  if (display::IsWorldWide(spec.projection)) spec.scale = geodesy::NOVALUE;
  spec.pixel_width = g.settings.pixel_width_m > 0 ? g.settings.pixel_width_m : kDefaultPixelMetres;
  spec.pixel_height = g.settings.pixel_height_m > 0 ? g.settings.pixel_height_m : kDefaultPixelMetres;
  spec.frame = {0, d.client_height - 1, d.client_width - 1, 0};
  static geodesy::Ellipsoid fallback = geodesy::MakeEllipsoid();
  const geodesy::Ellipsoid* e = g.ellipsoid ? g.ellipsoid : (v ? &v->ellipsoid : &fallback);
  auto* geometry = new display::MapGeometry();
  if (display::SetUpMapGeometry(g.cell_index, &g.workspace, nullptr, e, spec, geometry) != 0) {
    delete geometry;
    return nullptr;
  }
  g_own_geometry = geometry;
  g.map_geometry = geometry;
  return geometry;
}

bool ResizeDisplay(GlobalBlock& g, int width, int height) {
  DisplayContext& d = Display(g);
  if (width == d.client_width && height == d.client_height && d.surface.bitmap) return true;
  d.client_width = width;
  d.client_height = height;
  if (!display::ResizeDisplaySurface(&d.surface, width, height)) {
    ReportError("Bitmap creation failed - memory?");
    return false;
  }
  return true;
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

void CmdDrawCoast(GlobalBlock& g, const char* args, int, int) {
  if (Usage(g, args, "[style]")) return;
  char word[WORD_SIZE];
  NextWord(args, word, sizeof word);
  display::MapGeometry* geometry = GeometryOrPost(g);
  if (!geometry) return;
  DisplayContext& d = Display(g);
  display::DrawState state;
  if (!Opened(g, display::OpenLines(&state, &d.surface,
                                    display::ParseLineStyle(StyleValue(g, word[0] ? word : nullptr, "coastline")))))
    return;
  display::DrawCoastOnMap(*geometry, d.coast, &state);
  display::CloseDrawState(&state);
  Changed(g);
}

void CmdDrawGrid(GlobalBlock& g, const char* args, int, int) {
  if (Usage(g, args, "[style]")) return;
  char word[WORD_SIZE];
  NextWord(args, word, sizeof word);
  display::MapGeometry* geometry = GeometryOrPost(g);
  if (!geometry) return;
  DisplayContext& d = Display(g);
  display::DrawState state;
  if (!Opened(g, display::OpenLines(&state, &d.surface,
                                    display::ParseLineStyle(StyleValue(g, word[0] ? word : nullptr, "lat.long.grid")))))
    return;
  display::DrawGridOnMap(*geometry, &state);
  display::CloseDrawState(&state);
  Changed(g);
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
  display::MapGeometry* geometry = CurrentGeometry(g);
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

}  // namespace interp

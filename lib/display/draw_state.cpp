// Drawing states on Cairo: how each kind reaches the picture.
//
// Lines go straight onto the bitmap with a Cairo pen, shifted by half a pixel
// so that a one-pixel line along a row covers that row only; the thinnest pen
// (width 0) is drawn without antialiasing, wider pens smoothly. Markers and
// areas collect in a one-bit (0 or 255) A8 mask of the picture's size first, drawn without
// antialiasing so that neighbouring polygons (the cells of one region) meet
// without seams; at close the mask is cut by a hatch or tile (DEST_IN) when
// the style asks for one, and the style colour is painted through it. Ramp
// pixels are written into the bitmap's memory directly between a flush and a
// mark-dirty. The overlay is an A8 surface drawn with the XOR operator and no
// antialiasing, so its pixels are only ever 0 or 255 and a second drawing of
// the same line clears what the first set.
#include "lib/display/draw_state.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "lib/display/colour.h"

namespace display {

namespace {

void SetColour(cairo_t* cr, uint32_t colour) {
  cairo_set_source_rgb(cr, RedOf(colour) / 255.0, GreenOf(colour) / 255.0, BlueOf(colour) / 255.0);
}

uint32_t* Row(cairo_surface_t* s, int y) {
  return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) + (size_t)y * cairo_image_surface_get_stride(s));
}
uint8_t* Row8(cairo_surface_t* s, int y) {
  return cairo_image_surface_get_data(s) + (size_t)y * cairo_image_surface_get_stride(s);
}

uint32_t Argb(uint32_t colour) {
  return 0xff000000u | (RedOf(colour) << 16) | (GreenOf(colour) << 8) | BlueOf(colour);
}

cairo_surface_t* NewImage(cairo_format_t f, int w, int h) {
  cairo_surface_t* s = cairo_image_surface_create(f, w, h);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  return s;
}

void Fill(cairo_surface_t* s, uint32_t colour) {
  cairo_t* cr = cairo_create(s);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  SetColour(cr, colour);
  cairo_paint(cr);
  cairo_destroy(cr);
}

void Empty(cairo_surface_t* s) {
  cairo_t* cr = cairo_create(s);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_paint(cr);
  cairo_destroy(cr);
}

// ---------------------------------------------------------------- resources

// Hatches repeat every 16 pixels: four directions and two crossings, each
// sparse (8-pixel spacing) and dense (4-pixel), then two dot screens.
cairo_surface_t* MakeHatch(int n) {
  cairo_surface_t* s = NewImage(CAIRO_FORMAT_A8, 16, 16);
  if (!s) return nullptr;
  cairo_surface_flush(s);
  const int spacing = (n >= 6 && n < 12) ? 4 : 8;
  const int form = n < 12 ? n % 6 : n;
  for (int y = 0; y < 16; ++y) {
    uint8_t* row = Row8(s, y);
    for (int x = 0; x < 16; ++x) {
      bool on = false;
      const bool h = y % spacing == 0, v = x % spacing == 0;
      const bool f = (x + y) % spacing == 0, b = ((x - y) % spacing + spacing) % spacing == 0;
      switch (form) {
        case 0: on = h; break;
        case 1: on = v; break;
        case 2: on = f; break;
        case 3: on = b; break;
        case 4: on = h || v; break;
        case 5: on = f || b; break;
        case 12: on = x % 4 == 0 && y % 4 == 0; break;
        default: on = x % 8 == 0 && y % 8 == 0; break;
      }
      row[x] = on ? 255 : 0;
    }
  }
  cairo_surface_mark_dirty(s);
  return s;
}

// The eight tiles, 80 x 80: bricks, checks, polka dots, waves, scales,
// triangles, rings, zigzag.
cairo_surface_t* MakeTile(int n) {
  cairo_surface_t* s = NewImage(CAIRO_FORMAT_A8, 80, 80);
  if (!s) return nullptr;
  cairo_t* cr = cairo_create(s);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_source_rgba(cr, 0, 0, 0, 1);
  cairo_set_line_width(cr, 2);
  switch (n) {
    case 0:  // bricks
      for (int y = 0; y < 80; y += 20) {
        cairo_move_to(cr, 0, y + 1);
        cairo_line_to(cr, 80, y + 1);
        const int shift = (y / 20) % 2 ? 20 : 0;
        for (int x = shift; x < 80; x += 40) {
          cairo_move_to(cr, x + 1, y);
          cairo_line_to(cr, x + 1, y + 20);
        }
      }
      cairo_stroke(cr);
      break;
    case 1:  // checks
      for (int y = 0; y < 80; y += 10)
        for (int x = (y / 10) % 2 ? 10 : 0; x < 80; x += 20) cairo_rectangle(cr, x, y, 10, 10);
      cairo_fill(cr);
      break;
    case 2:  // polka dots
      for (int y = 10; y < 80; y += 20)
        for (int x = 10; x < 80; x += 20) {
          cairo_new_sub_path(cr);
          cairo_arc(cr, x, y, 5, 0, 2 * M_PI);
        }
      cairo_fill(cr);
      break;
    case 3:  // waves
      for (int y = 10; y < 80; y += 20) {
        cairo_move_to(cr, 0, y);
        for (int x = 0; x <= 80; ++x) cairo_line_to(cr, x, y + 5 * sin(x * 2 * M_PI / 40));
      }
      cairo_stroke(cr);
      break;
    case 4:  // scales
      for (int y = 0; y <= 80; y += 20)
        for (int x = (y / 20) % 2 ? 10 : 0; x <= 80; x += 20) {
          cairo_new_sub_path(cr);
          cairo_arc(cr, x, y, 10, 0, M_PI);
        }
      cairo_stroke(cr);
      break;
    case 5:  // triangles
      for (int y = 0; y < 80; y += 20)
        for (int x = 0; x < 80; x += 20) {
          cairo_move_to(cr, x + 10, y + 3);
          cairo_line_to(cr, x + 17, y + 16);
          cairo_line_to(cr, x + 3, y + 16);
          cairo_close_path(cr);
        }
      cairo_fill(cr);
      break;
    case 6:  // rings
      for (int y = 20; y < 80; y += 40)
        for (int x = 20; x < 80; x += 40) {
          cairo_new_sub_path(cr);
          cairo_arc(cr, x, y, 14, 0, 2 * M_PI);
          cairo_new_sub_path(cr);
          cairo_arc(cr, x, y, 6, 0, 2 * M_PI);
        }
      cairo_stroke(cr);
      break;
    default:  // zigzag
      for (int y = 5; y < 80; y += 16) {
        cairo_move_to(cr, 0, y);
        for (int x = 0; x < 80; x += 10) cairo_line_to(cr, x + 10, (x / 10) % 2 ? y : y + 8);
      }
      cairo_stroke(cr);
      break;
  }
  cairo_destroy(cr);
  return s;
}

// Symbol k of the strip, drawn in the 16 x 16 box at (16k, 0), centred on
// pixel (7, 7): a point, squares, circles, plus and cross, triangles,
// diamonds, a star, a target and a boxed cross. Strokes are width wide (in the
// symbol's own units).
void DrawSymbol(cairo_t* cr, int k, double width = 2.0) {
  const double cx = 16 * k + 7.5, cy = 7.5;
  auto square = [&](double r) { cairo_rectangle(cr, cx - r, cy - r, 2 * r, 2 * r); };
  auto circle = [&](double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
  };
  auto triangle = [&](double dir) {
    cairo_move_to(cr, cx, cy - 6 * dir);
    cairo_line_to(cr, cx + 6, cy + 5 * dir);
    cairo_line_to(cr, cx - 6, cy + 5 * dir);
    cairo_close_path(cr);
  };
  auto diamond = [&]() {
    cairo_move_to(cr, cx, cy - 7);
    cairo_line_to(cr, cx + 7, cy);
    cairo_line_to(cr, cx, cy + 7);
    cairo_line_to(cr, cx - 7, cy);
    cairo_close_path(cr);
  };
  auto line = [&](double x0, double y0, double x1, double y1) {
    cairo_move_to(cr, cx + x0, cy + y0);
    cairo_line_to(cr, cx + x1, cy + y1);
  };
  cairo_set_line_width(cr, width);
  switch (k) {
    case 0: cairo_rectangle(cr, 16 * k + 7, 7, 1, 1); cairo_fill(cr); break;
    case 1: square(5); cairo_fill(cr); break;
    case 2: square(5); cairo_stroke(cr); break;
    case 3: circle(5.5); cairo_fill(cr); break;
    case 4: circle(5); cairo_stroke(cr); break;
    case 5: line(-7, 0, 7, 0); line(0, -7, 0, 7); cairo_stroke(cr); break;
    case 6: line(-6, -6, 6, 6); line(-6, 6, 6, -6); cairo_stroke(cr); break;
    case 7: triangle(1); cairo_fill(cr); break;
    case 8: triangle(1); cairo_stroke(cr); break;
    case 9: diamond(); cairo_fill(cr); break;
    case 10: diamond(); cairo_stroke(cr); break;
    case 11:
      line(-7, 0, 7, 0); line(0, -7, 0, 7); line(-5, -5, 5, 5); line(-5, 5, 5, -5);
      cairo_stroke(cr);
      break;
    case 12: triangle(-1); cairo_fill(cr); break;
    case 13: circle(6); cairo_stroke(cr); circle(2); cairo_fill(cr); break;
    case 14: square(2.5); cairo_fill(cr); break;
    default: square(6); line(-6, -6, 6, 6); line(-6, 6, 6, -6); cairo_stroke(cr); break;
  }
}

DisplayResources* MakeResources() {
  auto* r = new DisplayResources();
  bool ok = true;
  for (int i = 0; i < 14; ++i) ok = ok && (r->hatch[i] = MakeHatch(i)) != nullptr;
  for (int i = 0; i < 8; ++i) ok = ok && (r->tiles[i] = MakeTile(i)) != nullptr;
  r->symbols = NewImage(CAIRO_FORMAT_A8, 256, 16);
  if (ok && r->symbols) {
    // One-bit pictures: a pixel is in the symbol or not.
    cairo_t* cr = cairo_create(r->symbols);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    for (int k = 0; k < 16; ++k) DrawSymbol(cr, k);
    cairo_destroy(cr);
  } else {
    ok = false;
  }
  if (!ok) return nullptr;  // kept for the program's life: nothing to free
  return r;
}

bool StateIsOpen(DrawState* d) { return d->kind >= 0; }

int Begin(DrawState* d, DisplaySurface* s, int kind, bool with_mask) {
  if (StateIsOpen(d)) return kStateOpen;
  if (d->plot) {
    // A plot needs no picture and no mask: what is drawn goes to its table.
    d->kind = kind;
    d->surface = s;
    d->capacity = d->plot->capacity < 2 ? 2 : d->plot->capacity;
    d->buffer.clear();
    d->buffer.reserve(d->capacity);
    d->in_polyline = false;
    d->mask_direct = false;
    d->cancelled = false;
    d->drew = false;
    return kDrawOk;
  }
  if (!s || !s->bitmap) return kGraphicsMemory;
  cairo_t* cr = cairo_create(s->bitmap);
  if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
    cairo_destroy(cr);
    return kGraphicsMemory;
  }
  if (with_mask) {
    cairo_surface_t* mask = NewImage(CAIRO_FORMAT_A8, s->width, s->height);
    if (!mask || !GetDisplayResources()) {
      if (mask) cairo_surface_destroy(mask);
      cairo_destroy(cr);
      return kGraphicsMemory;
    }
    d->mask = mask;
    d->mask_cr = cairo_create(mask);
    cairo_set_antialias(d->mask_cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgba(d->mask_cr, 0, 0, 0, 1);
  }
  d->kind = kind;
  d->surface = s;
  d->cr = cr;
  d->buffer.clear();
  d->buffer.reserve(d->capacity);
  d->in_polyline = false;
  d->mask_direct = false;
  d->cancelled = false;
  d->drew = false;
  return kDrawOk;
}

void StrokeBuffer(DrawState* d) {
  if (d->plot) {
    if (d->buffer.size() >= 2 && d->plot->ops->polyline) {
      d->plot->ops->polyline(d->plot->plot, d->buffer.data(), d->buffer.size());
      d->drew = true;
    }
    return;
  }
  if (d->buffer.size() >= 2) {
    cairo_move_to(d->cr, d->buffer[0].x + 0.5, d->buffer[0].y + 0.5);
    for (size_t i = 1; i < d->buffer.size(); ++i) cairo_line_to(d->cr, d->buffer[i].x + 0.5, d->buffer[i].y + 0.5);
    cairo_stroke(d->cr);
    d->drew = true;
  }
}

// Cairo is told about direct writes before it draws into the mask again.
void SyncMask(DrawState* d) {
  if (d->mask_direct) {
    cairo_surface_mark_dirty(d->mask);
    d->mask_direct = false;
  }
}

// Markers are stamped into the one-bit mask: the symbol's shape is drawn at
// the marker's size without antialiasing (strokes at least one pixel wide),
// so every pixel of the mask is in or out and the marker keeps the style's
// colour exactly when the mask is laid on.
void StampMarkers(DrawState* d) {
  SyncMask(d);
  const int symbol = d->marker.symbol % 16;
  const double scale = d->marker.size > 0 ? d->marker.size / 16.0 : 1.0;
  const double width = std::max(2.0, 1.0 / scale);
  for (const DrawPoint& p : d->buffer) {
    const double x = std::floor(p.x + 0.5), y = std::floor(p.y + 0.5);
    if (symbol == 0) {
      cairo_rectangle(d->mask_cr, x, y, 1, 1);
      cairo_fill(d->mask_cr);
    } else {
      cairo_save(d->mask_cr);
      cairo_translate(d->mask_cr, x + 0.5, y + 0.5);
      cairo_scale(d->mask_cr, scale, scale);
      cairo_translate(d->mask_cr, -(16.0 * symbol + 7.5), -7.5);
      cairo_new_path(d->mask_cr);
      DrawSymbol(d->mask_cr, symbol, width);
      cairo_restore(d->mask_cr);
    }
    d->drew = true;
  }
  d->buffer.clear();
}

// Lays the mask onto the bitmap in a colour, cut by a pattern first.
void LayMask(DrawState* d, uint32_t colour, int pattern) {
  const DisplayResources* r = GetDisplayResources();
  cairo_surface_t* cut = nullptr;
  if (pattern > 0) cut = r->hatch[(pattern - 1) % 14];
  if (pattern < 0) cut = r->tiles[(-pattern - 1) % 8];
  SyncMask(d);
  cairo_surface_flush(d->mask);
  if (cut) {
    cairo_pattern_t* p = cairo_pattern_create_for_surface(cut);
    cairo_pattern_set_extend(p, CAIRO_EXTEND_REPEAT);
    cairo_set_operator(d->mask_cr, CAIRO_OPERATOR_DEST_IN);
    cairo_set_source(d->mask_cr, p);
    cairo_paint(d->mask_cr);
    cairo_pattern_destroy(p);
    cairo_surface_flush(d->mask);
  }
  SetColour(d->cr, colour);
  cairo_mask_surface(d->cr, d->mask, 0, 0);
}

cairo_font_weight_t Weight(const FontChoice& f) {
  return f.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL;
}

}  // namespace

// ---------------------------------------------------------------- surface

bool CreateDisplaySurface(DisplaySurface* s, int width, int height, uint32_t background) {
  DestroyDisplaySurface(s);
  s->background = background & 0xffffff;
  if (width <= 0 || height <= 0) return false;
  s->bitmap = NewImage(CAIRO_FORMAT_ARGB32, width, height);
  s->overlay = NewImage(CAIRO_FORMAT_A8, width, height);
  if (!s->bitmap || !s->overlay) {
    DestroyDisplaySurface(s);
    return false;
  }
  s->width = width;
  s->height = height;
  Fill(s->bitmap, s->background);
  Empty(s->overlay);
  ++s->generation;
  return true;
}

bool ResizeDisplaySurface(DisplaySurface* s, int width, int height) {
  return CreateDisplaySurface(s, width, height, s->background);
}

void DestroyDisplaySurface(DisplaySurface* s) {
  if (s->bitmap) cairo_surface_destroy(s->bitmap);
  if (s->overlay) cairo_surface_destroy(s->overlay);
  s->bitmap = s->overlay = nullptr;
  s->width = s->height = 0;
}

void ClearDisplaySurface(DisplaySurface* s, long colour) {
  if (colour >= 0) s->background = (uint32_t)colour & 0xffffff;
  if (!s->bitmap) return;
  Fill(s->bitmap, s->background);
  Empty(s->overlay);
  ++s->generation;
}

void XorLine(DisplaySurface* s, int x0, int y0, int x1, int y1) {
  if (!s->overlay) return;
  cairo_t* cr = cairo_create(s->overlay);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_operator(cr, CAIRO_OPERATOR_XOR);
  cairo_set_source_rgba(cr, 0, 0, 0, 1);
  cairo_set_line_width(cr, 1);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
  if (x0 == x1 && y0 == y1) {
    cairo_rectangle(cr, x0, y0, 1, 1);
    cairo_fill(cr);
  } else {
    cairo_move_to(cr, x0 + 0.5, y0 + 0.5);
    cairo_line_to(cr, x1 + 0.5, y1 + 0.5);
    cairo_stroke(cr);
  }
  cairo_destroy(cr);
  ++s->generation;
}

void MergeOverlay(DisplaySurface* s) {
  if (!s->bitmap) return;
  cairo_surface_flush(s->bitmap);
  cairo_surface_flush(s->overlay);
  for (int y = 0; y < s->height; ++y) {
    uint32_t* px = Row(s->bitmap, y);
    uint8_t* ov = Row8(s->overlay, y);
    for (int x = 0; x < s->width; ++x)
      if (ov[x]) {
        px[x] ^= 0x00ffffffu;
        ov[x] = 0;
      }
  }
  cairo_surface_mark_dirty(s->bitmap);
  cairo_surface_mark_dirty(s->overlay);
  ++s->generation;
}

void ComposeView(DisplaySurface* s, uint32_t* out, int stride) {
  if (!s->bitmap) return;
  cairo_surface_flush(s->bitmap);
  cairo_surface_flush(s->overlay);
  for (int y = 0; y < s->height; ++y) {
    const uint32_t* px = Row(s->bitmap, y);
    const uint8_t* ov = Row8(s->overlay, y);
    uint32_t* o = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(out) + (size_t)y * stride);
    for (int x = 0; x < s->width; ++x) o[x] = ov[x] ? px[x] ^ 0x00ffffffu : px[x];
  }
}

uint32_t SurfacePixel(DisplaySurface* s, int x, int y) {
  if (!s->bitmap || x < 0 || y < 0 || x >= s->width || y >= s->height) return 0;
  cairo_surface_flush(s->bitmap);
  const uint32_t v = Row(s->bitmap, y)[x];
  return MakeColour((v >> 16) & 0xff, (v >> 8) & 0xff, v & 0xff);
}

const DisplayResources* GetDisplayResources() {
  static DisplayResources* resources = MakeResources();
  return resources;
}

FontChoice TextFont(int font) {
  static const FontChoice fonts[6] = {
      {"DejaVu Sans", false, false, 10}, {"DejaVu Sans", false, false, 12},
      {"DejaVu Sans", false, false, 14}, {"DejaVu Sans", true, false, 16},
      {"DejaVu Serif", false, true, 18}, {"DejaVu Sans Mono", false, false, 12},
  };
  if (font < 0 || font > 5) font = 2;
  return fonts[font];
}

// ---------------------------------------------------------------- states

namespace {
// The plot's own opening once the style is known (a plot writes nothing for
// plain and ramp states).
int PlotOpened(DrawState* d) {
  if (d->plot && d->kind != kDrawPlain && d->kind != kDrawRamp && d->plot->ops->open)
    d->plot->ops->open(d->plot->plot, *d);
  return kDrawOk;
}
}  // namespace

int OpenPlain(DrawState* d, DisplaySurface* s) { return Begin(d, s, kDrawPlain, false); }

int OpenMarkers(DrawState* d, DisplaySurface* s, const MarkerStyle& style) {
  const int st = Begin(d, s, kDrawMarkers, true);
  if (st != kDrawOk) return st;
  d->marker = style;
  return d->plot ? PlotOpened(d) : st;
}

int OpenLines(DrawState* d, DisplaySurface* s, const LineStyle& style) {
  const int st = Begin(d, s, kDrawLines, false);
  if (st != kDrawOk) return st;
  d->line = style;
  if (d->plot) return PlotOpened(d);
  SetColour(d->cr, style.colour);
  cairo_set_line_width(d->cr, style.width > 0 ? style.width : 1.0);
  cairo_set_line_join(d->cr, CAIRO_LINE_JOIN_ROUND);
  cairo_set_line_cap(d->cr, style.width > 1 ? CAIRO_LINE_CAP_ROUND : CAIRO_LINE_CAP_BUTT);
  if (style.width == 0) {
    // The thinnest pen is exact: whole pixels in the pen colour, so that
    // coastlines and grids keep their colour and pieces join without gaps.
    cairo_set_antialias(d->cr, CAIRO_ANTIALIAS_NONE);
    if (style.dash < 1 || style.dash > 3) cairo_set_line_cap(d->cr, CAIRO_LINE_CAP_SQUARE);
    static const double dotted[] = {1, 2}, dashed[] = {6, 3}, dash_dot[] = {6, 3, 1, 3};
    switch (style.dash) {
      case 1: cairo_set_dash(d->cr, dotted, 2, 0); break;
      case 2: cairo_set_dash(d->cr, dashed, 2, 0); break;
      case 3: cairo_set_dash(d->cr, dash_dot, 4, 0); break;
      default: break;
    }
  }
  return kDrawOk;
}

int OpenAreas(DrawState* d, DisplaySurface* s, const AreaStyle& style) {
  const int st = Begin(d, s, kDrawAreas, true);
  if (st != kDrawOk) return st;
  d->area = style;
  return d->plot ? PlotOpened(d) : st;
}

int OpenRamp(DrawState* d, DisplaySurface* s, const RampStyle& style) {
  const int st = Begin(d, s, kDrawRamp, false);
  if (st == kDrawOk) d->ramp = style;
  return st;
}

int OpenText(DrawState* d, DisplaySurface* s, const TextStyle& style) {
  const int st = Begin(d, s, kDrawText, false);
  if (st != kDrawOk) return st;
  d->text = style;
  if (d->plot) return PlotOpened(d);
  const FontChoice f = TextFont(style.font);
  cairo_select_font_face(d->cr, f.face, f.italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL, Weight(f));
  cairo_set_font_size(d->cr, f.size);
  return kDrawOk;
}

void CloseDrawState(DrawState* d) {
  if (!StateIsOpen(d)) return;
  if (d->plot) {
    if (d->kind == kDrawLines && d->in_polyline) StrokeBuffer(d);
    if (d->kind != kDrawPlain && d->kind != kDrawRamp && d->plot->ops->close)
      d->plot->ops->close(d->plot->plot, *d);
    d->buffer.clear();
    d->in_polyline = false;
    d->kind = -1;
    return;
  }
  switch (d->kind) {
    case kDrawLines:
      if (d->in_polyline) StrokeBuffer(d);
      break;
    case kDrawMarkers:
      StampMarkers(d);
      if (d->drew) LayMask(d, d->marker.colour, d->marker.pattern);
      break;
    case kDrawAreas:
      if (d->drew) LayMask(d, d->area.colour, d->area.pattern);
      break;
    default:
      break;
  }
  cairo_surface_flush(d->surface->bitmap);
  if (d->mask_cr) cairo_destroy(d->mask_cr);
  if (d->mask) cairo_surface_destroy(d->mask);
  cairo_destroy(d->cr);
  d->mask_cr = nullptr;
  d->mask = nullptr;
  d->cr = nullptr;
  d->buffer.clear();
  d->in_polyline = false;
  d->kind = -1;
  ++d->surface->generation;
}

void BeginPolyline(DrawState* d, double x, double y) {
  if (d->kind != kDrawLines) return;
  if (d->in_polyline) StrokeBuffer(d);
  d->buffer.clear();
  d->buffer.push_back({x, y});
  d->in_polyline = true;
}

void AddPolylinePoint(DrawState* d, double x, double y) {
  if (d->kind != kDrawLines) return;
  if (!d->in_polyline) {
    BeginPolyline(d, x, y);
    return;
  }
  d->buffer.push_back({x, y});
  if (d->buffer.size() >= d->capacity) {
    StrokeBuffer(d);
    const DrawPoint last = d->buffer.back();
    d->buffer.clear();
    d->buffer.push_back(last);
  }
}

void FinishPolyline(DrawState* d) {
  if (d->kind != kDrawLines || !d->in_polyline) return;
  StrokeBuffer(d);
  d->buffer.clear();
  d->in_polyline = false;
}

void FillPolygon(DrawState* d, const DrawPoint* points, size_t n) {
  if (d->kind != kDrawAreas || n < 3) return;
  if (d->plot) {
    if (d->plot->ops->polygon) d->plot->ops->polygon(d->plot->plot, points, n);
    d->drew = true;
    return;
  }
  SyncMask(d);
  cairo_move_to(d->mask_cr, points[0].x + 0.5, points[0].y + 0.5);
  for (size_t i = 1; i < n; ++i) cairo_line_to(d->mask_cr, points[i].x + 0.5, points[i].y + 0.5);
  cairo_close_path(d->mask_cr);
  cairo_set_fill_rule(d->mask_cr, CAIRO_FILL_RULE_WINDING);
  cairo_fill(d->mask_cr);
  d->drew = true;
}

void FillPolygonColour(DrawState* d, const DrawPoint* points, size_t n, uint32_t colour) {
  if (d->kind != kDrawPlain || n < 3 || d->plot) return;
  cairo_save(d->cr);
  cairo_set_antialias(d->cr, CAIRO_ANTIALIAS_NONE);
  SetColour(d->cr, colour);
  cairo_move_to(d->cr, points[0].x + 0.5, points[0].y + 0.5);
  for (size_t i = 1; i < n; ++i) cairo_line_to(d->cr, points[i].x + 0.5, points[i].y + 0.5);
  cairo_close_path(d->cr);
  cairo_fill(d->cr);
  cairo_restore(d->cr);
  d->drew = true;
}

void FillRings(DrawState* d, const std::vector<std::vector<DrawPoint>>& rings) {
  if (d->kind != kDrawAreas) return;
  if (d->plot) {
    if (d->plot->ops->rings) d->plot->ops->rings(d->plot->plot, rings);
    d->drew = true;
    return;
  }
  SyncMask(d);
  bool any = false;
  for (const auto& ring : rings) {
    if (ring.size() < 3) continue;
    cairo_move_to(d->mask_cr, ring[0].x + 0.5, ring[0].y + 0.5);
    for (size_t i = 1; i < ring.size(); ++i) cairo_line_to(d->mask_cr, ring[i].x + 0.5, ring[i].y + 0.5);
    cairo_close_path(d->mask_cr);
    any = true;
  }
  if (!any) return;
  cairo_set_fill_rule(d->mask_cr, CAIRO_FILL_RULE_EVEN_ODD);
  cairo_fill(d->mask_cr);
  d->drew = true;
}

void MaskSpan(DrawState* d, int y, int x0, int x1) {
  if (d->plot) {
    if (d->kind != kDrawAreas || y < 0 || y >= d->plot->fill_height) return;
    x0 = std::max(x0, 0);
    x1 = std::min(x1, d->plot->fill_width);
    if (x0 < x1 && d->plot->ops->span) d->plot->ops->span(d->plot->plot, y, x0, x1);
    d->drew = true;
    return;
  }
  if (d->kind != kDrawAreas || y < 0 || y >= d->surface->height) return;
  x0 = std::max(x0, 0);
  x1 = std::min(x1, d->surface->width);
  if (x0 >= x1) return;
  if (!d->mask_direct) {
    cairo_surface_flush(d->mask);
    d->mask_direct = true;
  }
  memset(Row8(d->mask, y) + x0, 255, (size_t)(x1 - x0));
  d->drew = true;
}

void Marker(DrawState* d, double x, double y) {
  if (d->kind != kDrawMarkers) return;
  if (d->plot) {
    if (d->plot->ops->marker) d->plot->ops->marker(d->plot->plot, x, y);
    d->drew = true;
    return;
  }
  d->buffer.push_back({x, y});
  if (d->buffer.size() >= d->capacity) StampMarkers(d);
}

void Pixel(DrawState* d, int x, int y, uint32_t colour) {
  if ((d->kind != kDrawRamp && d->kind != kDrawPlain) || d->plot) return;
  DisplaySurface* s = d->surface;
  if (x < 0 || y < 0 || x >= s->width || y >= s->height) return;
  cairo_surface_flush(s->bitmap);
  Row(s->bitmap, y)[x] = Argb(colour);
  cairo_surface_mark_dirty_rectangle(s->bitmap, x, y, 1, 1);
  d->drew = true;
}

void Text(DrawState* d, double x, double y, const std::string& text) {
  if (d->kind != kDrawText || text.empty()) return;
  if (d->plot) {
    if (d->plot->ops->text) d->plot->ops->text(d->plot->plot, x, y, text);
    d->drew = true;
    return;
  }
  cairo_font_extents_t fe;
  cairo_text_extents_t te;
  cairo_font_extents(d->cr, &fe);
  cairo_text_extents(d->cr, text.c_str(), &te);
  const double width = te.x_advance;
  double left;
  if (d->text.h > 0)
    left = x + d->text.h;
  else if (d->text.h == 0)
    left = x - width / 2;
  else
    left = x + d->text.h - width;
  double baseline;
  if (d->text.v > 0) {
    baseline = y - d->text.v - fe.descent;
  } else if (d->text.v < 0) {
    baseline = y - d->text.v + fe.ascent;
  } else {
    // Internal leading: the part of the ascent above the em square.
    const FontChoice f = TextFont(d->text.font);
    const double leading = std::max(0.0, fe.ascent + fe.descent - f.size);
    baseline = y + (fe.ascent - leading) / 3;
  }
  if (d->text.k != 65535) {
    SetColour(d->cr, d->surface->background);
    cairo_rectangle(d->cr, std::floor(left), std::floor(baseline - fe.ascent), std::ceil(width) + 1,
                    std::ceil(fe.ascent + fe.descent));
    cairo_fill(d->cr);
  }
  SetColour(d->cr, d->text.colour);
  cairo_move_to(d->cr, left, baseline);
  cairo_show_text(d->cr, text.c_str());
  d->drew = true;
}

}  // namespace display

// The paint handlers: the colour words, the map geometry and the picture,
// then the pixel loop of lib/display/paint.
#include "interp/cmd_paint.h"

#include <strings.h>

#include <cstring>
#include <vector>
#include <string>

#include "interp/cmd_draw.h"
#include "interp/handlers.h"
#include "interp/messages.h"
#include "interp/words.h"
#include "lib/display/map_geometry.h"
#include "lib/display/paint.h"
#include "lib/display/paint_cost.h"
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
      n = t.point_count;
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

}  // namespace interp

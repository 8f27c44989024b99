// The paint handlers: the colour words, the map geometry and the picture,
// then the pixel loop of lib/display/paint.
#include "interp/cmd_paint.h"

#include <cstring>
#include <string>

#include "interp/cmd_draw.h"
#include "interp/handlers.h"
#include "interp/messages.h"
#include "interp/words.h"
#include "lib/display/map_geometry.h"
#include "lib/display/paint.h"

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

}  // namespace interp

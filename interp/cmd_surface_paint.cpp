// The surface rendering handlers: open the TIN as the drawing commands open
// objects, check its kind, render it through the screen's map geometry and
// turn the renderer's status into the messages.
#include "interp/cmd_surface_paint.h"

#include "interp/cmd_draw.h"
#include "interp/handlers.h"
#include "interp/messages.h"
#include "interp/words.h"
#include "lib/cells/object_file.h"
#include "lib/cells/object_model.h"
#include "lib/display/map_geometry.h"
#include "lib/display/styles.h"
#include "lib/display/surface_render.h"

namespace interp {

void CmdDisplaySurface(GlobalBlock& g, const char* args, int variant, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "%s", "name [style]");
    return;
  }
  char name[WORD_SIZE], style[WORD_SIZE];
  const char* rest = NextWord(args, name, sizeof name);
  NextWord(rest, style, sizeof style);
  cells::ObjectHandle h;
  cells::CellIndex* index = nullptr;
  if (!OpenObjectForDisplay(g, name, &h, &index)) return;
  if (h.obj.kind != cells::kTinPset) {
    PostText(4, "Not a Pset-TIN object");
    g.error_level = EL_NOT_APPLICABLE;
    cells::CloseObject(h);
    return;
  }
  // The screen's geometry even while a plot is active: the picture is the
  // screen's.
  display::MapGeometry* geometry = CurrentGeometry(g);
  if (!geometry) {
    PostText(4, "No map geometry");
    g.error_level = EL_FAILURE;
    cells::CloseObject(h);
    return;
  }
  DisplayContext& d = Display(g);
  // The screen's style key too: the plot's keys are for what goes on paper.
  const int plot_mode = d.plot_mode;
  d.plot_mode = 0;
  const display::RampStyle ramp =
      display::ParseRampStyle(StyleValue(g, style[0] ? style : nullptr, "object.surface"));
  d.plot_mode = plot_mode;
  const display::SurfacePresentation presentation =
      variant == 1 ? display::kSurfaceShade : display::kSurfaceHypso;
  ShowWaitPointer(true);
  display::SurfaceReport report;
  const int st = display::RenderTinSurface(*geometry, *index, h.obj, ramp, presentation, &g.workspace,
                                           &d.surface, &report);
  ShowWaitPointer(false);
  const bool empty = cells::PsetCellCount(h.obj) == 0;
  cells::CloseObject(h);
  switch (st) {
    case display::SURFACE_OK:
      break;
    case display::SURFACE_NO_PICTURE:
      PostText(4, "Windows out of memory for surface rendering");
      g.error_level = EL_NOT_APPLICABLE;
      return;
    case display::SURFACE_WORKSPACE:
      PostText(4, "Surface memory shortfall, increase workspace");
      g.error_level = EL_FAILURE;
      return;
    default:
      PostText(4, "Surface render status %d", st);
      g.error_level = EL_FAILURE;
      return;
  }
  if (empty) {
    PostText(2, "Point set is empty");
    g.error_level = EL_EMPTY;
  }
  if (d.picture_changed) d.picture_changed(g);
}

}  // namespace interp

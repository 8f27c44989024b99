// OverheadSurface and its pointer mode (see cmd_surface.h); the value itself
// is lib/ops/surface.
#include "interp/cmd_surface.h"
#include "interp/cmd_objects.h"

#include <memory>
#include <string>

#include "interp/cmd_draw.h"
#include "interp/handlers.h"
#include "interp/map_modes.h"
#include "interp/messages.h"
#include "interp/words.h"
#include "lib/cells/object_file.h"
#include "lib/ops/surface.h"

namespace interp {

namespace {

using geodesy::DirectionCosines;

struct Surface {
  std::unique_ptr<cells::ObjectHandle> handle;
  ops::SurfaceSearch search;
  // The index the object was opened with: another one loaded meanwhile ends
  // the mode.
  const cells::CellIndex* index = nullptr;
  std::uint32_t index_id = 0;
  std::int32_t cell_count = 0;
};
Surface g_s;

bool IndexChanged(GlobalBlock& g) {
  if (g.cell_index == g_s.index && g.cell_index && g.cell_index->index_id == g_s.index_id &&
      g.cell_index->cell_count == g_s.cell_count)
    return false;
  ModeBeep(g);
  EndMapMode(g);
  return true;
}

// The value under the pixel, or false (after a beep) when there is none.
bool ValueAt(GlobalBlock& g, int x, int y, double* value) {
  DirectionCosines p;
  if (!PixelToPosition(g, x, y, &p)) {
    ModeBeep(g);
    return false;
  }
  *value = ops::q7_TinSurfaceValue(*g.cell_index, p, g_s.handle->obj, g_s.search);
  if (*value == geodesy::NOVALUE) {
    ModeBeep(g);
    return false;
  }
  return true;
}

void SurfaceMove(GlobalBlock& g, const ModeEvent& e) {
  if (IndexChanged(g)) return;
  double value = 0;
  if (ValueAt(g, e.x, e.y, &value)) PostText(2, "%9.3f\n", value);
}

void SurfacePress(GlobalBlock& g, const ModeEvent& e) {
  if (e.button != 1) return;
  if (e.x >= 0 && e.x <= CORNER_BOX_MAX_X && e.y >= 0 && e.y < CORNER_BOX_HEIGHT) return;
  if (IndexChanged(g)) return;
  double value = 0;
  if (ValueAt(g, e.x, e.y, &value)) PostText(2, "%9.3f (%d %d)\n", value, e.x, e.y);
}

void SurfaceEnd(GlobalBlock& g) {
  if (g_s.handle) cells::CloseObject(*g_s.handle);
  g_s = Surface();
  ModePictureChanged(g);
}

// Escape ends the mode (null key handler), other keys beep.
const MapModeSpec kSurfaceMode = {"surface", MODE_SURFACE, kCornerIgnored, platform::kPointerCross,
                                  SurfaceMove, SurfacePress, nullptr,   nullptr,
                                  SurfaceEnd};

}  // namespace

void CmdOverheadSurface(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "name [style]");
    return;
  }
  char name[WORD_SIZE];
  NextWord(args, name, sizeof name);
  ExpandDirectoryAlias(g, name, sizeof name);
  char path[FILE_NAME_SIZE];
  BuildFileName(name, g.dirs.data.c_str(), ".qbo", path);
  const int kind = cells::ReadObjectKind(path);
  if (kind < 0) {
    PostText(4, "Unable to open (%s) for reading", path);
    g.error_level = EL_FAILURE;
    return;
  }
  if (kind != cells::kTinPset) {
    PostText(2, "Object type (%d)", kind);
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  if (!NeedIndexAndMap(g)) return;
  if (g.map_mode != 0) CancelMapMode(g);
  g_s = Surface();
  g_s.handle = std::make_unique<cells::ObjectHandle>();
  const int status = cells::OpenObjectRead(*g_s.handle, path, g.cell_index->index_id, g.cell_index->cell_count);
  if (status != 0) {
    ReportOpenStatus(g, status, name);
    g_s = Surface();
    return;
  }
  g_s.index = g.cell_index;
  g_s.index_id = g.cell_index->index_id;
  g_s.cell_count = g.cell_index->cell_count;
  StartMapMode(g, kSurfaceMode);
  ModePictureChanged(g);
}

}  // namespace interp

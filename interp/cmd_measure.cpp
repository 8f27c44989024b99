// Area and Length: measure a line set or a region set on the current
// ellipsoid.
//
// The handler reads the object name and the two options, reads the object's
// kind, opens it read-only against the current index, makes sure the cell
// area table exists, and hands the object to lib/geodesy/measure_object.
// Line sets report their length; region sets their area (by the cell
// method, or from the rings by s, p or r) and perimeter.
#include "interp/cmd_measure.h"
#include "interp/cmd_objects.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "interp/handlers.h"
#include "interp/messages.h"
#include "interp/words.h"
#include "lib/cells/cell_index.h"
#include "lib/cells/object_file.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/cells/measure_object.h"

namespace interp {

namespace {

// The cell area table and what it was made for.
struct CellAreaTable {
  std::vector<double> shares;
  std::uint32_t index_id = 0;
  std::int32_t cell_count = 0;
  double a = 0.0, b = 0.0;
};
CellAreaTable g_table;


// Closes the object on every path out of the handler.
struct OpenObject {
  cells::ObjectHandle h;
  ~OpenObject() {
    if (h.is_open) cells::CloseObject(h);
  }
};

}  // namespace

const double* CurrentCellAreaTable(GlobalBlock& g) {
  if (!g.cell_index || g.cell_index->cell_count <= 0) return nullptr;
  const geodesy::Ellipsoid e = g.ellipsoid ? *g.ellipsoid : geodesy::MakeEllipsoid();
  const cells::CellIndex& idx = *g.cell_index;
  if (!g_table.shares.empty() && g_table.index_id == idx.index_id &&
      g_table.cell_count == idx.cell_count && g_table.a == e.a && g_table.b == e.b) {
    return g_table.shares.data();
  }
  g_table.shares.clear();
  try {
    g_table.shares.resize(static_cast<std::size_t>(idx.cell_count));
  } catch (const std::bad_alloc&) {
    g_table.shares = std::vector<double>();
    return nullptr;
  }
  if (!cells::FillCellAreaTable(idx, &e, g_table.shares)) {
    g_table.shares = std::vector<double>();
    return nullptr;
  }
  g_table.index_id = idx.index_id;
  g_table.cell_count = idx.cell_count;
  g_table.a = e.a;
  g_table.b = e.b;
  return g_table.shares.data();
}

void CmdMeasure(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "objectName [s|p|r] [m|k]");
    return;
  }
  char name[WORD_SIZE], method_word[WORD_SIZE], unit_word[WORD_SIZE];
  const char* rest = NextWord(args, name, WORD_SIZE);
  ExpandDirectoryAlias(g, name, WORD_SIZE);
  rest = NextWord(rest, method_word, WORD_SIZE);
  NextWord(rest, unit_word, WORD_SIZE);
  char method = 'c';
  if (std::strcmp(method_word, "s") == 0 || std::strcmp(method_word, "p") == 0 ||
      std::strcmp(method_word, "r") == 0) {
    method = method_word[0];
  }
  const bool metres = std::strcmp(unit_word, "m") == 0;

  char path[FILE_NAME_SIZE];
  BuildFileName(name, g.dirs.data.c_str(), ".qbo", path);
  const int kind = name[0] ? cells::ReadObjectKind(path) : -2;
  if (kind < 0) {
    PostText(4, "Unable to open (%s) for reading", path);
    g.error_level = EL_FAILURE;
    return;
  }
  if (kind != cells::kLset && kind != cells::kRset) {
    PostText(4, "Invalid object dimension (%d)", kind);
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  if (!g.cell_index || g.cell_index->cell_count <= 0) {
    PostText(4, "No cell index loaded");
    g.error_level = EL_FAILURE;
    return;
  }
  cells::CellIndex& idx = *g.cell_index;
  OpenObject object;
  if (int status = cells::OpenObjectRead(object.h, path, idx.index_id, idx.cell_count)) {
    ReportOpenStatus(g, status);
    return;
  }
  const double* table = CurrentCellAreaTable(g);
  if (!table) {
    PostText(4, "no memory for cell area array");
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  const geodesy::Ellipsoid e = g.ellipsoid ? *g.ellipsoid : geodesy::MakeEllipsoid();

  const cells::ObjectMeasure m = kind == cells::kLset
                                       ? cells::MeasureLset(idx, object.h.obj, e)
                                       : cells::MeasureRset(idx, object.h.obj, e, method, table);
  if (m.status != 0) {
    PostText(4, "function (%d) return code: %d", m.function, m.status);
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  if (kind == cells::kLset) {
    PostText(2, "Vertices: %d, Length: %.3f[km]", static_cast<int>(m.vertices), m.perimeter / 1000.0);
  } else if (metres) {
    PostText(2, "Area: %.3lf[m**2], Perimeter: %.3lf[m]", m.area, m.perimeter);
  } else {
    PostText(2, "Area: %.6lf[km**2], Perimeter: %.3lf[km]", m.area / 1e6, m.perimeter / 1000.0);
  }
}

}  // namespace interp

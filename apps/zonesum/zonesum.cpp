// zonesum: checks the geometry library against itself. In the current
// directory it reads the cell index "dodeca05.vix" and the region sets
// "land0_d5.qbo" and "sea0_d5.qbo" built on it, and prints: the sum of the
// areas of all cells against the ellipsoid's area (entry 34), the sum of the
// normalised cell area table, and land + sea by the cell method against the
// ellipsoid's area, each with its running time.
//
// The index loader of this program takes only release 300 in the index
// header. Every fatal error prints "Error zonesum(<line>): " and its message
// and ends the program with exit status 1.
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/index_file.h"
#include "lib/cells/object_file.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/cells/measure_object.h"
#include "platform/workspace.h"

namespace {

constexpr const char* kIndexFile = "dodeca05.vix";
constexpr const char* kLandFile = "land0_d5.qbo";
constexpr const char* kSeaFile = "sea0_d5.qbo";
constexpr int kWorkspaceBytes = 200000;
constexpr int kRelease = 300;

[[noreturn]] void Fatal(int line, const char* format, ...) {
  std::fflush(stdout);
  std::fprintf(stderr, "Error %s(%d): ", "zonesum", line);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::exit(1);
}

bool Exists(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

// The loader of this program: the header checks of the index loader, except
// that the release must be exactly 300.
int LoadRelease300(std::FILE* f, cells::CellIndex& idx) {
  unsigned char bytes[cells::VIX_HEADER_SIZE];
  if (std::fread(bytes, 1, sizeof bytes, f) != sizeof bytes) return 4;
  const cells::VixHeader h = cells::DecodeVixHeader(bytes);
  const int check = cells::CheckVixHeader(h);
  if (check == 3) return 3;
  if (h.release != kRelease) return 2;
  if (check != 0) return check;
  if (std::fseek(f, 0, SEEK_SET) != 0) return 4;
  return cells::LoadVix(f, idx, 1);
}

struct Stopwatch {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
};

// hours:minutes:seconds.milliseconds
void PrintDuration(const char* prefix, double seconds) {
  const long whole_ms = static_cast<long>(seconds * 1000.0 + 0.5);
  const int hours = static_cast<int>(whole_ms / 3600000);
  const int minutes = static_cast<int>(whole_ms / 60000 % 60);
  const double secs = (whole_ms % 60000) / 1000.0;
  std::printf("%s%d:%02d:%06.3f\n\n", prefix, hours, minutes, secs);
}

double MeasureRegion(int line, const char* path, cells::CellIndex& idx, const geodesy::Ellipsoid& e,
                     const std::vector<double>& table) {
  cells::ObjectHandle h;
  if (int status = cells::OpenObjectRead(h, path, idx.index_id, idx.cell_count)) {
    Fatal(line, "memory mapping error: %d\n", status);
  }
  std::printf("%s: %d vertices\n", path, static_cast<int>(cells::VertexCount(h.obj)));
  const Stopwatch watch;
  const cells::ObjectMeasure m = cells::MeasureRset(idx, h.obj, e, 'c', table.data());
  const double seconds = watch.Seconds();
  if (m.status != 0) {
    cells::CloseObject(h);
    Fatal(line, "function return code: %d\n", m.status);
  }
  std::printf("Area: %.0f[m**2], Perimeter: %.3f[m]\n", m.area, m.perimeter);
  char text[40];
  std::snprintf(text, sizeof text, "Duration ");
  PrintDuration(text, seconds);
  cells::CloseObject(h);
  return m.area;
}

}  // namespace

int main() {
  for (const char* file : {kIndexFile, kLandFile, kSeaFile}) {
    if (!Exists(file)) Fatal(__LINE__, "Can't find file %s\n", file);
  }

  char name[geodesy::ELLIPSOID_NAME_MAX + 1] = {};
  geodesy::Ellipsoid e;
  geodesy::EllipsoidSetup(34, e, name);
  const double ellipsoid_area = 2.0 * e.half_area;
  std::printf("Ellipsoid: %s\n", name);
  std::printf("area: %.1f\n", ellipsoid_area);

  std::vector<unsigned char> workspace_memory;
  platform::Workspace workspace;
  try {
    workspace_memory.resize(kWorkspaceBytes);
  } catch (...) {
    Fatal(__LINE__, "No memory (%d KB) for workspace\n", kWorkspaceBytes / 1024);
  }
  platform::WorkspaceInit(&workspace, workspace_memory.data(), kWorkspaceBytes);

  std::FILE* f = std::fopen(kIndexFile, "rb");
  if (!f) Fatal(__LINE__, "Open error %d\n", errno);
  cells::CellIndex idx;
  const int load = LoadRelease300(f, idx);
  std::fclose(f);
  if (load != 0) Fatal(__LINE__, "Load error %d\n", load);
  std::printf("Voronoi index: %s\n", kIndexFile);

  // Every cell's area on the ellipsoid, timed.
  const Stopwatch watch;
  double sum = 0.0;
  for (std::int32_t i = 0; i < idx.cell_count; ++i) {
    const double a = cells::IndexCellArea(idx, &e, i);
    if (a == geodesy::NOVALUE) {
      cells::ReleaseIndex(idx);
      Fatal(__LINE__, "function return code: %d\n", 1);
    }
    sum += a;
  }
  const double seconds = watch.Seconds();
  const double delta = ellipsoid_area - sum;
  std::printf("Nominal ellipsoid area: %20.1f\n", ellipsoid_area);
  std::printf("Cell total area:        %20.1f\n", sum);
  std::printf("delta:                  %20.1f\n", delta);
  std::printf("fraction (one in):      %20.1f\n", sum / delta);
  char text[40];
  std::snprintf(text, sizeof text, "Cells: %d, duration ", idx.cell_count);
  PrintDuration(text, seconds);

  std::vector<double> table;
  try {
    table.resize(static_cast<std::size_t>(idx.cell_count));
  } catch (...) {
    Fatal(__LINE__, "Cell array memory shortfall\n");
  }
  if (!cells::FillCellAreaTable(idx, &e, table)) Fatal(__LINE__, "function return code: %d\n", 1);
  // Summed with compensation, so that the figure shows the table, not the
  // rounding of 10 000 additions.
  double table_sum = 0.0, carry = 0.0;
  for (double share : table) {
    const double t = table_sum + share;
    carry += (table_sum - t) + share;
    table_sum = t;
  }
  table_sum += carry;
  std::printf("Cell arae array sum:    %20.15f\n", table_sum);

  const double land = MeasureRegion(__LINE__, kLandFile, idx, e, table);
  const double sea = MeasureRegion(__LINE__, kSeaFile, idx, e, table);
  const double both = land + sea;
  std::printf("Area2 + Area3:          %20.1f[m**2]\n", both);
  std::printf("delta:                  %20.1f\n", both - ellipsoid_area);
  std::printf("fraction (one in):      %20.1f\n", ellipsoid_area / (both - ellipsoid_area));
  cells::ReleaseIndex(idx);
  return 0;
}

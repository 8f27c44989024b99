// A plot: the HP-GL/2 output of the drawing states.
//
// A Plot collects the text of everything drawn on it and hands it to a sink
// (a plot file, a sheet) whenever a state closes and whenever more than
// kPlotFlushBytes are waiting. Target(plot) is the display::PlotTarget a
// DrawState opens on: by state kind
//   1 markers  "DF;IW...;" and the pen commands of a line style with the
//              marker's colour and pattern (width 0, dash 0); each marker a
//              dot "PE=<x y;PD;"
//   2 lines    "DF;IW...;", the pen commands of the style, then polylines,
//              cut into pieces of at most 64 points (the next piece starts at
//              the last point)
//   3 areas    "DF;IW...;", the fill command of the pattern, then polygons;
//              fill decisions (MaskSpan) collect on a grid of kFillCell
//              plotter units and are traced at close into the outlines of
//              each connected piece, written as one even-odd fill
//   5 text     labels "PU x,y;LB text<ETX>;" (font, offsets and alignment
//              do not apply)
//   0, 4       nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lib/display/draw_state.h"
#include "lib/display/map_geometry.h"
#include "lib/plot/hpgl.h"

namespace plot {

// Plotter units per cell of the fill grid (0.1 mm on the shipped formats).
inline constexpr int kFillCell = 4;
// Points of a polyline piece: the plot geometry's point buffer.
inline constexpr int kPlotCapacity = 64;
inline constexpr size_t kPlotFlushBytes = 1 << 16;

// Where a plot's bytes go: write returns false on failure (the plot then
// remembers the failure and stops writing).
struct PlotSink {
  void* context = nullptr;
  bool (*write)(void* context, const char* data, size_t n) = nullptr;
};

// Filled cells x0 .. x1 - 1 of one grid row.
struct GridRun {
  int32_t x0, x1;
  bool operator==(const GridRun& o) const { return x0 == o.x0 && x1 == o.x1; }
};

// Adds cells x0 .. x1 - 1 to a row's runs, kept sorted, apart and merged
// where they touch (the common case, a run right of all others, is cheap).
void AddRun(std::vector<GridRun>* row, int32_t x0, int32_t x1);

struct Plot {
  int mode = kMonoPlot;            // 1 monochrome, 2 colour
  display::DeviceFrame frame;      // (left, bottom, right, top)
  uint32_t background = 0x00ffffffu;
  PlotSink sink;
  std::string pending;             // bytes not yet given to the sink
  bool failed = false;             // a write failed
  int64_t bytes = 0;               // bytes given to the sink
  // The fill grid of an areas state: cell (i, j) covers the plotter units
  // grid_x0 + kFillCell * i and grid_y0 + kFillCell * j (its centre). Its
  // filled cells are kept as runs, row by row.
  int32_t grid_x0 = 0, grid_y0 = 0;
  int grid_w = 0, grid_h = 0;
  std::vector<std::vector<GridRun>> rows;
  display::PlotTarget target;      // what Target returns
};

// Sets the plot up for a frame and a sink (mode values above 2 count as 2).
void InitPlot(Plot* p, int mode, const display::DeviceFrame& frame, uint32_t background, PlotSink sink);
// Appends raw bytes (init and term strings, PlotString, PlotInclude).
void PlotWrite(Plot* p, const char* data, size_t n);
inline void PlotWrite(Plot* p, const std::string& s) { PlotWrite(p, s.data(), s.size()); }
// Gives everything waiting to the sink; false when a write has failed.
bool FlushPlot(Plot* p);
// The drawing-state target of the plot.
const display::PlotTarget* Target(Plot* p);

// The fill grid for an areas state on a plot geometry: a coarse geometry of
// the same map with kFillCell plotter units per device unit, its frame
// starting at device (0, 0), and the plot told where the grid lies. The
// caller fills through the coarse geometry (its device points are grid
// cells) into a state opened with Target(p) on a surface of the grid's size
// (width and height set, no bitmap), and releases the geometry afterwards.
// Returns SetUpMapGeometry's code.
int SetUpFillGrid(Plot* p, const display::GeometrySpec& plot_spec, const geodesy::Ellipsoid* ellipsoid,
                  cells::CellIndex* index, platform::Workspace* workspace, display::MapGeometry* fill_geometry,
                  display::DisplaySurface* grid_surface);

// Traces the filled cells of a grid (w x h bytes, non-zero filled) into
// closed rings of cell-corner coordinates (0..w, 0..h), the filled cells on
// the left of each ring, corners where the direction does not change left
// out. Cells that touch only at a corner belong to different rings. Rings of
// one 4-connected piece share its number in *piece (outer ring and holes).
void TraceGrid(const uint8_t* grid, int w, int h, std::vector<std::vector<display::PixelPoint>>* rings,
               std::vector<int>* piece);
// The same from the runs of each row (rows.size() rows, as AddRun keeps
// them): the work grows with the runs and the outline, not with the cells.
void TraceRuns(const std::vector<std::vector<GridRun>>& rows, std::vector<std::vector<display::PixelPoint>>* rings,
               std::vector<int>* piece);

}  // namespace plot

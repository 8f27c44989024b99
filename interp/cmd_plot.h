// The plot commands and the drawing target they switch.
//
// PlotStart opens a plot for a format of the initialisation file: a plot
// geometry for the plotter's frame with the screen map's projection, centre
// and scale, and an HP-GL/2 file (a temporary "_temp.hpg" for the copy
// devices prn, lpt1-3, com1-4). While it is active every drawing command draws
// through PlotGeometry into the plot (AimAtTarget), and style keys take the
// "hpgl.mono." or "hpgl.color." prefix. PlotEnd closes the file (it replaces
// the target only then) and starts the copy program for a device.
#pragma once

#include "interp/global.h"
#include "lib/display/draw_state.h"
#include "lib/display/map_geometry.h"

namespace interp {

// True while a plot is active.
bool PlotActive();
// The geometry drawing goes through: the plot's while a plot is active, else
// the screen's (CurrentGeometry). Null when there is none.
display::MapGeometry* TargetGeometry(GlobalBlock& g);
// Aims a closed drawing state at the current target: the plot while one is
// active, else the screen surface.
void AimAtTarget(GlobalBlock& g, display::DrawState* state);
// DisplayArea on a plot: fills a region set on the plot's fill grid with the
// screen fill's decisions and writes its outlines. Returns false (after
// posting) when the grid could not be set up.
bool PlotFillArea(GlobalBlock& g, cells::CellIndex* index, const cells::Object& obj, const char* style_value);

// variant 1 PlotStart "FormatName FileName", 0 PlotEnd.
void CmdPlotStartEnd(GlobalBlock& g, const char* args, int variant, int mode);
void CmdPlotFrame(GlobalBlock& g, const char* args, int variant, int mode);
void CmdPlotString(GlobalBlock& g, const char* args, int variant, int mode);
void CmdPlotInclude(GlobalBlock& g, const char* args, int variant, int mode);

// Ends an active plot at the end of the run (the file is kept).
void EndPlotAtExit(GlobalBlock& g);

}  // namespace interp

// The drawing commands and the picture they draw on.
//
// DisplayContext is the map window's side of the interpreter: the display
// surface (backing bitmap and exclusive-or overlay), the coast files, the
// plot mode that selects the style prefix, and the map window that shows the
// picture. It lives for the whole run; Display(g) makes it on first use with
// the client size of the map field and the background of the initialisation
// file, and makes the bitmap again whenever the map field changes size.
#pragma once

#include <string>

#include "interp/global.h"
#include "lib/display/coast.h"
#include "lib/display/draw_state.h"
#include "platform/map_window.h"

namespace display {
struct MapGeometry;
}

namespace interp {

struct DisplayContext {
  display::DisplaySurface surface;
  display::CoastData coast;
  bool coast_tried = false;
  int plot_mode = 0;            // 0 screen, 1 monochrome plot, 2 colour plot
  int client_width = 0, client_height = 0;
  bool made = false;
  // Called after a command changed the picture (the map window presents it).
  void (*picture_changed)(GlobalBlock& g) = nullptr;
};

// The context, made on first use (false in *ok when the bitmap could not be
// made: "Bitmap creation failed - memory?").
DisplayContext& Display(GlobalBlock& g);

// The map geometry drawing goes through: the global block's, or one built
// from the start-up values for the client area when there is none yet.
// Null when no geometry can be built.
display::MapGeometry* CurrentGeometry(GlobalBlock& g);

// A new client size: the surface is made again in the background colour (the
// geometry is the map geometry commands' business).
bool ResizeDisplay(GlobalBlock& g, int width, int height);

// The style value of a drawing command: the argument word when given, else
// the initialisation-file entry under the prefix of the plot mode.
std::string StyleValue(GlobalBlock& g, const char* argument, const char* style_name);

// Opens the map window on first use (on the screen unless the run is batch or
// headless or there is no display), presents the picture when it changed,
// and handles the window's events: resizing, the right-click position report,
// the double right-click reset, middle-click re-centring, dropped images.
// The main loop calls it between its waits.
void ServiceMapWindow(GlobalBlock& g);
// Ends the map window at the end of the run.
void CloseDisplay(GlobalBlock& g);

void CmdClear(GlobalBlock& g, const char* args, int variant, int mode);
void CmdDrawCoast(GlobalBlock& g, const char* args, int variant, int mode);
void CmdDrawGrid(GlobalBlock& g, const char* args, int variant, int mode);
void CmdDrawHorizon(GlobalBlock& g, const char* args, int variant, int mode);
void CmdDrawText(GlobalBlock& g, const char* args, int variant, int mode);
void CmdDisplayPoints(GlobalBlock& g, const char* args, int variant, int mode);
void CmdDisplayLines(GlobalBlock& g, const char* args, int variant, int mode);
void CmdDisplayArea(GlobalBlock& g, const char* args, int variant, int mode);
// variant 1 DrawCellNumbers, 2 DrawCellCenters, 3 DrawCellOrder.
void CmdDrawCellPoints(GlobalBlock& g, const char* args, int variant, int mode);
// variant 1 DrawCells, 2 DrawCellDuals, 3 DrawCellSpokes.
void CmdDrawCellOutlines(GlobalBlock& g, const char* args, int variant, int mode);
// variant 1 Occupied, 2 Traversed, 3 Boundary, 4 Interior.
void CmdDisplayCells(GlobalBlock& g, const char* args, int variant, int mode);
void CmdSaveBitmap(GlobalBlock& g, const char* args, int variant, int mode);
void CmdShowBitmap(GlobalBlock& g, const char* args, int variant, int mode);
void CmdUpdateBitmap(GlobalBlock& g, const char* args, int variant, int mode);

// Shows the wait pointer over the map window (on) or the arrow again (off);
// nothing when there is no window. Long commands show it while they run.
void ShowWaitPointer(bool on);
// Shows the picture in the map window at once (a walk drawn step by step);
// false when there is no window on the screen.
bool PresentMapNow(GlobalBlock& g);
// Any pointer shape over the map window (the pointer modes).
void SetMapWindowPointer(platform::MapPointer shape);

}  // namespace interp

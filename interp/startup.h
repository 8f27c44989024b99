// Start-up of the interpreter from its initialisation file, and the end of
// the run.
//
// StartUp runs the steps in their fixed order: system facts, command table,
// memory check file, single instance (interactive windowed runs only), the
// initialisation file "<program>.oin" read and syntax-checked, the help page
// "<program>.html", the browser command, the workspace, mmf.out.size, the
// directories, the default cell index "isotype.vix" (opened, loaded and
// verified), the coast files, the HPGL marker file "vthpglm.mrk", the numeric
// settings, the pixel size, the console and map window values. Each failure
// shows its box (a line on standard error) and ends start-up with a non-zero
// exit status; warnings show their box and start-up goes on.
//
// StartupValues holds what start-up reads for the console, the map window and
// Version; the global block points at it for the whole run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "interp/global.h"
#include "interp/run.h"
#include "lib/geodesy/direction_cosines.h"
#include "lib/geodesy/ellipsoid.h"

namespace interp {

// The exit status of a run whose start-up failed.
inline constexpr int STARTUP_FAILED = 3;

// The virtual screen when there is no display: 1920 x 1080 pixels at 96 dpi.
// With a display, window positions are fractions of its real size.
inline constexpr int SCREEN_WIDTH_PX = 1920;
inline constexpr int SCREEN_HEIGHT_PX = 1080;
inline constexpr double SCREEN_DPI = 96.0;

// The map centre when the initialisation file gives none.
inline constexpr geodesy::DirectionCosines DEFAULT_MAP_CENTER{0.6713783094625926, 0.19191377192117604,
                                                              0.715835364961901};

struct WindowRect {
  int left = 0, top = 0, width = 0, height = 0;  // pixels
};

struct StartupValues {
  // System facts (uname).
  std::string system_name = "Linux";
  std::string system_release;
  int platform_id = 3;  // the table of system names: 3 is Linux
  int major = 0, minor = 0, build = 0;
  bool compatibility_layer = false;
  std::string toolchain;

  // Files beside the program.
  std::string coast_segments;  // coast.sgm
  std::string coast_vertices;  // coast.vtx
  std::string cell_index_file; // isotype.vix
  // The HPGL marker texts, in file order (pairs: one pair per marker), kept
  // in one block from CheckedAlloc.
  char* marker_block = nullptr;
  std::vector<const char*> marker_texts;

  // The current ellipsoid (number 0 is the user ellipsoid) and its name.
  geodesy::Ellipsoid ellipsoid;
  int ellipsoid_number = 34;
  std::string ellipsoid_name;

  // The screen that the window positions are fractions of: the display's
  // desktop when there is one, else the virtual screen.
  int screen_width = SCREEN_WIDTH_PX, screen_height = SCREEN_HEIGHT_PX;

  // Console.
  WindowRect console_rect;
  uint32_t console_background = 0xffffff;
  uint32_t console_text_colors[5] = {};  // levels 1 to 5
  std::string console_font_face = "Terminal";
  int console_font_size = -15;

  // Map window (read and checked now, used by the map window).
  WindowRect map_rect;
  uint32_t map_background = 0xffffff;
  int projection = 1;
  int rotation_reflection = 0;
  double scale = 10e6;
  geodesy::DirectionCosines center = DEFAULT_MAP_CENTER;
};

// The full start-up. False when it failed (the box has been shown); the
// run's exit status is then *exit_status (0 for a second instance that
// handed over to the first one, STARTUP_FAILED otherwise).
bool StartUp(GlobalBlock& g, const RunOptions& options, int* exit_status);

// Releases what StartUp made (the keyed store, the marker texts, the cell
// index, the start-up values). Call before ShutDown, which closes the memory
// check file.
void ReleaseStartup(GlobalBlock& g);

// Normalises a directory value: a leading "~" (with an optional separator
// after it) stands for home, a leading "^" for script; backslashes become
// "/"; a final "/" is added. Letter case is kept.
std::string NormaliseDirectory(const std::string& value, const std::string& home, const std::string& script);

// Splits a value with several numbers at blanks, tabs, commas and line feeds.
std::vector<std::string> SplitValues(const std::string& value);

// Pixel rectangle of "left,top,width,height" in 80ths of the screen width and
// 60ths of its height (width and height less one pixel); false with fewer
// than four numbers.
bool WindowPosition(const std::string& value, WindowRect* rect, int screen_width = SCREEN_WIDTH_PX,
                    int screen_height = SCREEN_HEIGHT_PX);

// The build's date and time, as Version shows them.
const char* BuildStamp();

// The system facts that Version reports (system name and release, toolchain),
// read without the rest of start-up. False when the system cannot be asked.
bool ReadSystemFacts(StartupValues& v);

// The browser command for Help from the html.shell.open.command value (key)
// and the system's opener for HTML pages (opener, empty when there is none):
// the key when it is given, with a blank added when it is longer than 6
// characters and ends in "exe" or "EXE"; otherwise the opener followed by a
// blank; empty when there is neither.
std::string BrowserCommand(const std::string& key, const std::string& opener);

// Selects table ellipsoid 1..34, or the user ellipsoid (number 0) with a and
// b, into the start-up values and the global block. False (nothing changed)
// for a number or axes it cannot use.
bool SelectEllipsoid(GlobalBlock& g, int number, double a = 0.0, double b = 0.0);
// The boundary fuzz in metres as the angle the library uses: metres / ((2a + b) / 3).
double FuzzAngle(const GlobalBlock& g, double metres);

// The start-up values of the run (nullptr before StartUp).
StartupValues* Startup(GlobalBlock& g);

}  // namespace interp

// The map window's pointer modes and the scripted events that drive them.
//
// A command that needs the pointer (entering objects, re-centring, growing a
// cell index by clicks, a nearest query, ...) describes its mode in a
// MapModeSpec and calls StartMapMode, then returns to the command loop. From
// then on the map window's events go to the mode's handlers until the mode
// ends; the console keeps accepting commands, and a running script waits.
// One mode runs at a time: starting another, stopping the script, a resize
// of the map window or the end of a batch run's events file end the current
// mode as the Escape key does.
//
// Writing a mode:
//   static void MyPress(GlobalBlock& g, const ModeEvent& e) { ... }
//   static void MyKey(GlobalBlock& g, int key) { if (key == 27) EndMapMode(g); else ModeBeep(g); }
//   static void MyEnd(GlobalBlock& g) { ...release the mode's own state... }
//   static const MapModeSpec kMine = {"my query", MODE_MY_QUERY, kCornerIgnored,
//                                     platform::kPointerCross, nullptr, MyPress, nullptr, MyKey, MyEnd};
//   ... StartMapMode(g, kMine);   // at step 1; SetModeStep(2) and on as it goes
// A handler ends its mode with EndMapMode; the mode's end handler then runs
// once, whatever ended the mode, and the machinery removes every trace:
// the exclusive-or overlay is emptied, marks are dropped from the view, the
// arrow pointer comes back.
//
// The corner box: the 48 x 24 pixel box at the top left (x <= 47, y < 24).
// With kCornerIsEscape a left press in it is the Escape key (entry's [Esc]
// button, the end box of the lattice commands); with kCornerIgnored it is an
// ordinary click (the queries).
//
// Drawing while a mode runs: rubber bands go to the exclusive-or overlay
// (ModeXorLine, ModeXorPolyline: drawing the same thing twice erases it);
// marks (ModeMark, ModeMarkLine, ModeButton) are drawn in normal mode over
// the window's view but never into the picture (the backing bitmap), so
// that SaveBitmap and drawing commands given while the mode runs are not
// touched by them, and they go when the mode ends. Results that are meant
// to stay (a cell walk, the cells of a query) are drawn with an ordinary
// drawing state and stay.
//
// Scripted events (--events FILE): one event a line, "#" comment lines and
// blank lines skipped:
//   move X Y | press X Y [B] | release X Y [B] | click X Y [B] |
//   dblclick X Y [B] | key K | resize W H | drop FILE | close | minimise
// B is 1 left (default), 2 middle, 3 right; X Y are client pixels or
// @LAT,LON (angle texts) for the pixel nearest that position's projection;
// K is one printable character or ESC, ENTER, TAB, SPACE, BACKSPACE. Lines
// are consumed only while a mode runs, in file order. In a batch run they
// are fed back to back until the mode ends; when the file ends first the
// mode ends as on Escape and "Events file ended, mode ended" is posted at
// level 3. Interactively one line is fed per loop turn, beside the real
// pointer. A bad line posts "Events file %s line %d: %s" at level 4 and is
// skipped. In a batch run fed from an events file each warning beep is also
// written to the console as "<beep>", so that scripted runs can check them.
#pragma once

#include <cairo.h>

#include <string>

#include "interp/global.h"
#include "lib/geodesy/direction_cosines.h"
#include "platform/map_window.h"

namespace interp {

// Mode command numbers (GlobalBlock::map_mode).
inline constexpr int MODE_NONE = 0;
inline constexpr int MODE_RECENTER = 1;
inline constexpr int MODE_REFRAME = 2;
inline constexpr int MODE_ENTRY = 4;          // points, lines, rings
inline constexpr int MODE_CIRCLE_ENTRY = 5;   // circles and sectors
inline constexpr int MODE_ADD_CENTERS = 6;
inline constexpr int MODE_TRAVERSE_CELLS = 7;
inline constexpr int MODE_NEAREST_CELLS = 8;
// Later modes take numbers from 9 on.

// The top-left corner box.
inline constexpr int CORNER_BOX_MAX_X = 47;   // x <= 47
inline constexpr int CORNER_BOX_HEIGHT = 24;  // y < 24
inline constexpr int BUTTON_WIDTH = 48;

enum CornerPolicy { kCornerIsEscape, kCornerIgnored };

// A pointer event as a mode sees it.
struct ModeEvent {
  int x = 0, y = 0;
  int button = 1;          // 1 left, 2 middle, 3 right
  int clicks = 1;          // 2 for the second press of a double click
  bool left_down = false;  // moves: the left button is held
};

struct MapModeSpec {
  const char* name;
  int command;                     // MODE_...
  CornerPolicy corner;
  platform::MapPointer pointer;    // the pointer while the mode runs
  void (*move)(GlobalBlock& g, const ModeEvent& e);     // null: moves ignored
  void (*press)(GlobalBlock& g, const ModeEvent& e);    // any button
  void (*release)(GlobalBlock& g, const ModeEvent& e);  // null: ignored
  // Characters (27 Escape, 13 Enter, ...). Null: Escape ends the mode, any
  // other key beeps. Escape must end the mode.
  void (*key)(GlobalBlock& g, int key);
  void (*end)(GlobalBlock& g);     // runs once when the mode ends, any cause
  // The map window was closed or minimised. Null: the window's own business
  // (the mode goes on).
  void (*window_gone)(GlobalBlock& g) = nullptr;
};

// What every pointer mode needs before it starts: a cell index ("No cell
// index loaded", error level 4) and a map ("No map open?", error level 3).
bool NeedIndexAndMap(GlobalBlock& g);

// Ends any running mode (as Escape), then starts this one at step 1. The
// spec must live as long as the mode.
void StartMapMode(GlobalBlock& g, const MapModeSpec& spec);
// Ends the running mode: its end handler, then every trace removed.
void EndMapMode(GlobalBlock& g);
// Ends the running mode as the Escape key does (g.cancel_map_mode).
void CancelMapMode(GlobalBlock& g);
bool MapModeRunning(const GlobalBlock& g);
int MapModeStep();
void SetModeStep(int step);

// Hands a map window event to the running mode. False when no mode runs or
// the event is not a mode's (resizes, drops; closing and minimising unless
// the mode has a window_gone handler): the window handles it.
bool RouteMapEvent(GlobalBlock& g, const platform::MapEvent& e);

// The warning beep of modes (also "<beep>" in scripted batch runs).
void ModeBeep(GlobalBlock& g);
// The pointer shape now.
void SetModePointer(platform::MapPointer shape);
// The client area's size.
int ModeClientWidth(GlobalBlock& g);
int ModeClientHeight(GlobalBlock& g);

// ---- positions ------------------------------------------------------------

// The position under a pixel of the map (inverse projection): false when
// there is no map or no position there.
bool PixelToPosition(GlobalBlock& g, int x, int y, geodesy::DirectionCosines* u);
// The pixel of a position: false when it does not project.
bool PositionToPixel(GlobalBlock& g, const geodesy::DirectionCosines& u, int* x, int* y);

// ---- drawing --------------------------------------------------------------

// Exclusive-or rubber bands. A line whose horizontal jump is more than two
// thirds of the frame width on a map with a seam is not drawn.
void ModeXorLine(GlobalBlock& g, int x0, int y0, int x1, int y1);
// A polyline of positions through the map, closed when asked, with the same
// rule for the seam and for points that do not project.
void ModeXorPolyline(GlobalBlock& g, const geodesy::DirectionCosines* points, int n, bool closed);
// Marks for the mode's lifetime: a dot of 5 x 5 pixels, a line in normal
// mode, a labelled button box.
void ModeMark(GlobalBlock& g, int x, int y, uint32_t colour);
void ModeMarkLine(GlobalBlock& g, int x0, int y0, int x1, int y1, uint32_t colour);
void ModeButton(GlobalBlock& g, int x, int y, const char* label);
int ModeMarkCount();
// Takes every mark off while the mode goes on (a query's mark of the
// clicked item, gone again when the button is released).
void ModeEraseMarks(GlobalBlock& g);
// Paints the running mode's marks over a view of the picture (the map
// window does, each time it shows the picture).
void PaintModeMarks(cairo_surface_t* view);
// The colour of a style key (trace.line, trace.point), default c1.
uint32_t TraceColour(GlobalBlock& g, const char* style_name);
// Tells the window that the picture changed.
void ModePictureChanged(GlobalBlock& g);

// ---- scripted events ------------------------------------------------------

// Reads the events file; false (message posted) when it cannot be read.
bool OpenEventsFile(GlobalBlock& g, const std::string& path);
bool EventsFileGiven();
// Feeds the running mode from the events file: in a batch run until the
// mode ends (ending it when the file runs out), otherwise one line.
void FeedScriptedEvents(GlobalBlock& g, bool batch);

}  // namespace interp

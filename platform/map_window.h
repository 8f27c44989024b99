// The map window on the screen: an SDL2 window titled "Ombrel Map" that shows
// a picture handed to it, and the pointer and keyboard events that happen in
// it.
//
// The window holds no picture of its own: PresentMapWindow copies ARGB32
// pixels (0xAARRGGBB words, the layout of a Cairo image surface) into a
// streaming texture and shows it. When there is no display (SDL_VIDEODRIVER
// is "dummy" or DISPLAY and WAYLAND_DISPLAY are unset) or the window cannot be
// made, OpenMapWindow returns an off-screen window: every call still works,
// presenting does nothing and no events arrive.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum MapEventKind {
  kMapEventNone = 0,
  kMapEventMotion,      // pointer moved; left_down tells the left button's state
  kMapEventButton,      // a button pressed: button 1 left, 2 middle, 3 right; clicks 1 or 2
  kMapEventRelease,     // a button released (button as above)
  kMapEventKey,         // a character typed (27 Escape, 13 Enter, 9 Tab, 8 Backspace)
  kMapEventResize,      // the client area is now width x height
  kMapEventDrop,        // a file dropped on the window
  kMapEventClose,       // the window's close button
  kMapEventMinimize,    // the window was minimised or hidden
};

struct MapEvent {
  MapEventKind kind = kMapEventNone;
  int x = 0, y = 0;
  int button = 0;
  int clicks = 0;
  bool left_down = false;
  int key = 0;
  int width = 0, height = 0;
  std::string file;
};

enum MapPointer { kPointerArrow = 0, kPointerWait, kPointerCross, kPointerSizeWE, kPointerSizeNS };

struct MapWindow;

// True when a window system is there to show a window on.
bool DisplayAvailable();

// Opens the window at (left, top) with a client area of width x height, or
// an off-screen one when on_screen is false or no window can be made.
MapWindow* OpenMapWindow(int left, int top, int width, int height, bool on_screen);
void CloseMapWindow(MapWindow* w);
bool MapWindowOnScreen(const MapWindow* w);

// Shows a picture of width x height pixels (stride in bytes).
void PresentMapWindow(MapWindow* w, const uint32_t* pixels, int width, int height, int stride);
// The next waiting event, false when there is none.
bool PollMapWindow(MapWindow* w, MapEvent* event);
void SetMapPointer(MapWindow* w, MapPointer shape);
// Brings the window to the front, restoring it first when it is minimised.
void RaiseMapWindow(MapWindow* w);

}  // namespace platform

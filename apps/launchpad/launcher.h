// launchpad: the start-up screen of the atlas program "veltrum", which is not
// part of this system. It finds the copy beside itself and an installed copy
// on another mounted file system, offers "Run from Hard Drive", "Run from
// CD-ROM" and "Quit" over a tiled splash image, and starts the chosen program
// without waiting for it.
//
// Everything but the window itself lives here, so that the choices, the
// picture and the keyboard and pointer rules are the same with a window, in a
// headless run driven by an events file, and in the tests.
#pragma once

#include <cairo.h>

#include <string>
#include <vector>

namespace launchpad {

inline constexpr int kWidth = 576;
inline constexpr int kHeight = 396;
inline constexpr int kTileWidth = 32;
inline constexpr int kTileHeight = 22;

struct Choice {
  std::string label;
  std::string command;  // empty for "Quit"
};

struct Plan {
  std::vector<Choice> choices;
  std::string missing;  // a file whose absence ends the launcher ("Missing %s")
};

// The launcher directory is `dir` (with no final "/"). The mount table is
// read from `mounts` (normally /proc/mounts).
Plan MakePlan(const std::string& dir, const std::string& mounts = "/proc/mounts");

// True when the copy in `dir` is installed: its veltrum.dtp can be read and
// written, or opened for appending.
bool InstalledCopy(const std::string& dir);

// The splash image: a monochrome (one plane, one bit per pixel) BMP file.
// Returns a surface, or null for a file that is no such bitmap or is shorter
// than its header says (the picture then has no tiles).
cairo_surface_t* LoadSplash(const std::string& path);

struct State {
  Plan plan;
  int highlighted = 0;
  cairo_surface_t* splash = nullptr;  // may be null
};

// The whole picture: tiles, title, choices and credit line.
void Paint(const State& s, cairo_t* cr);

// The rectangle of choice i (rows 40 pixels high between x = 64 and the width
// less 64).
struct Rect {
  int x, y, w, h;
};
Rect ChoiceRect(const State& s, int i);

// What an input asks the launcher to do.
enum class Action { kNone, kRedraw, kChoose, kEnd };

enum class Key { kUp, kDown, kEnter, kEscape, kOther };
Action OnKey(State& s, Key key);
Action OnClick(State& s, int x, int y);  // a left-button press at (x, y)

// Starts the highlighted choice's command as a separate process without
// waiting. False for "Quit" or a command that cannot be started.
bool StartChosen(const State& s);

// One line of an events file (the format of ombrel's --events): "key K" with
// K = UP, DOWN, ENTER, ESC or one character, "click X Y [B]", "press X Y
// [B]", "release", "move", "dblclick" (a double click is two clicks); "#"
// lines and blank lines are skipped. False for a line that is not an event.
struct Event {
  enum Kind { kNothing, kKey, kPress } kind = kNothing;
  Key key = Key::kOther;
  int x = 0, y = 0, button = 1, count = 1;
};
bool ParseEvent(const std::string& line, Event* e);

}  // namespace launchpad

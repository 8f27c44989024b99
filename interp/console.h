// The console in the terminal: a raw-mode line editor at the bottom of the
// screen, with posted messages drawn above the input line in their level's
// colour, and the 500 ms script tick.
//
// RunConsole is the main loop of interactive runs whose standard input is a
// terminal: one thread waits on the terminal, the map window's events (while
// a window exists, through g.pump_window_events) and the next tick deadline.
// Messages are drawn after each command or script line, each on its own line
// above the input line, which is then drawn again as it was (text and caret).
#pragma once

#include "interp/global.h"
#include "interp/run.h"

namespace interp {

// Runs until Quit, Ctrl+D on an empty line or the end of input; returns the
// exit status (the Quit request's, else the last error level). When the
// terminal cannot be put in raw mode it runs the plain loop instead.
int RunConsole(GlobalBlock& g, const RunOptions& options);

// The text a message line shows: control characters (which could move the
// cursor or change the terminal's state) are shown as "?".
std::string ConsoleVisibleText(const char* text);

}  // namespace interp

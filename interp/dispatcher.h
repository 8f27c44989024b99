// The dispatcher: one command line in, one handler run, with the error level
// reset before it and the elapsed time kept after it for Duration.
//
// Comment lines (first non-blank ";"), label lines (":") and empty lines run
// nothing and leave the error level and the last command time as they were,
// so an If command after a comment still sees the last real command's level.
// A word that names no command is taken as the name of a script to start
// (and the word "script" names one explicitly, or alone stops the running
// script). When neither exists and the word is a slip away from command
// names, a level-2 line after the error names them ("did you mean ...?").
#pragma once

#include <string>

#include "interp/global.h"

namespace interp {

// Runs one line. With line == nullptr: registers the command table and its
// count in the global block (done once at start-up).
void ExecuteCommandLine(GlobalBlock& g, const char* line);

// The command names (at most three, in table order, joined by ", " and
// " or ") closest to a word that is no command, within one edit for words of
// up to 4 characters, two up to 8 and three beyond (a change, an insertion,
// a deletion or two neighbours swapped, without regard to case). Empty when
// none is that close or the word is shorter than 3 characters.
std::string SuggestCommands(const char* word);

// "%d:%02d:%02.3lf" of a time in seconds: 3725.5 gives "1:02:5.500".
void FormatDuration(double seconds, char* out, int size);

}  // namespace interp

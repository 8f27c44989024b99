// Scripts: text files of command lines, run one line per 500 ms tick (or back
// to back in batch runs), with labels, a call stack of 31 suspended callers
// and pauses for the viewer.
//
// A script runs exactly while g.script.current is set. Calling another script
// pushes the current file (positioned after its Call line) on the stack;
// Return or the end of the called file resumes it. Starting a script by name
// closes the running one and every suspended caller.
#pragma once

#include <cstdio>

#include "interp/global.h"

namespace interp {

// Opens a built script name and makes it the current script (the running
// script must have been stopped first); records its directory as the
// directory of the last script started. False when it cannot be opened.
bool StartScript(GlobalBlock& g, const char* built_name);

// Stops the running script: closes it and every suspended caller, stops the
// timer, cancels any interactive map mode and clears the pause.
void StopScript(GlobalBlock& g);

// Closes every suspended caller; the depth becomes 0.
void CloseScriptStack(GlobalBlock& g);

// Ends the current script level. At the end of a file: closes it and resumes
// the most recent caller, if any. Without atEndOfFile (Return): only below a
// caller does it close the file and resume the caller; at depth 0 nothing.
void EndScriptLevel(GlobalBlock& g, bool at_end_of_file);

// Positions the file after the first label line (":name") whose name begins
// with the label (one leading ":" of the label dropped, compared
// case-sensitively). Not found: the file stays where it was, "Label (%s) not
// in script file" is posted, and false is returned.
bool FindLabel(FILE* file, const char* label);

// Reads the next script line into buffer (SCRIPT_LINE_SIZE bytes), joining
// continuation lines (a line that ends in a backslash, blanks after it
// ignored) and removing the line end. False at the end of the file, also in
// the middle of a continuation. A line longer than the buffer is cut (the
// rest of it is skipped, never run as a line of its own) and *cut is set.
bool ReadScriptLine(FILE* file, char* buffer, bool* cut);

// One tick of the script timer (every 500 ms in interactive runs, back to
// back in batch runs). Returns true when a line was run.
bool ScriptTick(GlobalBlock& g);

}  // namespace interp

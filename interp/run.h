// The program's run: the command line, a minimal start-up, the main loop and
// the end of the run.
//
// The main loop has three forms. Batch (--batch): a script named on the
// command line runs line after line with no timer and no pauses; without a
// script, command lines are read from standard input. Interactive: command
// lines from standard input and the 500 ms script tick, with pauses honoured.
// Messages are drawn after each line has run, in order.
#pragma once

#include <string>

#include "interp/global.h"

namespace interp {

struct RunOptions {
  bool batch = false;
  bool headless = false;
  std::string events_file;   // synthetic map-window events
  std::string script;        // start-up script, as given
  std::string label;         // its start label
};

// Reads argv. False (with a message on standard error) on a bad option.
bool ParseRunOptions(int argc, char** argv, RunOptions* options);

// The start-up steps the interpreter needs before its first command: program
// facts, the command table, the memory check file "ombrel.mem", the program
// and home directories, the temp, data, script and veltrum directories (the
// temp directory from the system, the others the current directory), the
// workspace of its default size. The full start-up with the initialisation
// file replaces this. False on a failure that ends the run (shown in a box).
bool StartUpMinimal(GlobalBlock& g, const RunOptions& options);

// Runs the main loop until Quit, the end of the input or the end of the batch
// script; returns the exit status.
int RunMainLoop(GlobalBlock& g, const RunOptions& options);

// The end of the run: scripts closed, workspace released, the memory check
// file closed and checked for leaks.
void ShutDown(GlobalBlock& g);

// Starts the script named on the command line (completed with the script
// directory and ".omb", positioned at the label if one is given). False, with
// the box "Error opening script file %s", when it cannot be opened.
bool StartCommandLineScript(GlobalBlock& g, const std::string& script, const std::string& label);

}  // namespace interp

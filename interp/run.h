// The program's run: the command line, the main loop and the end of the run
// (start-up itself is interp/startup.h).
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
  bool show_help = false;    // --help: the usage on standard output, nothing else
  bool show_version = false; // --version: the Version lines, nothing else
};

// Reads argv. False (with a message on standard error) on a bad option.
bool ParseRunOptions(int argc, char** argv, RunOptions* options);

// The command-line usage text (what --help prints).
const char* RunUsageText();

// Prints the Version command's lines on standard output without starting up
// (no initialisation file, no memory check file); returns the exit status.
int PrintVersion();

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

// ombrel: the workbench's main program. Reads its command line, starts up,
// runs the main loop and ends with the error level of the last command (or
// 3 when start-up fails).
#include <cstdio>

#include "interp/console.h"
#include "interp/global.h"
#include "interp/cmd_plot.h"
#include "interp/run.h"
#include "interp/startup.h"
#include "platform/files.h"

int main(int argc, char** argv) {
  interp::RunOptions options;
  if (!interp::ParseRunOptions(argc, argv, &options)) return 2;
  if (options.show_help) {
    std::fputs(interp::RunUsageText(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
  }
  if (options.show_version) return interp::PrintVersion();
  auto* block = new interp::GlobalBlock();
  interp::osb = block;
  int failed_status = 0;
  if (!interp::StartUp(*block, options, &failed_status)) {
    interp::ReleaseStartup(*block);
    interp::ShutDown(*block);
    interp::osb = nullptr;
    delete block;
    return failed_status;
  }
  // A terminal on standard input is the console; otherwise lines are read plainly.
  const int status = !options.batch && platform::StdinIsTerminal() ? interp::RunConsole(*block, options)
                                                                   : interp::RunMainLoop(*block, options);
  interp::EndPlotAtExit(*block);  // a plot still open is finished, not lost
  interp::ReleaseStartup(*block);
  interp::ShutDown(*block);
  interp::osb = nullptr;
  delete block;
  return status;
}

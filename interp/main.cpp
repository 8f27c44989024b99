// ombrel: the workbench's main program. Reads its command line, starts up,
// runs the main loop and ends with the error level of the last command (or
// 1 when start-up fails).
#include <cstdio>

#include "interp/global.h"
#include "interp/run.h"

int main(int argc, char** argv) {
  interp::RunOptions options;
  if (!interp::ParseRunOptions(argc, argv, &options)) return 2;
  auto* block = new interp::GlobalBlock();
  interp::osb = block;
  if (!interp::StartUpMinimal(*block, options)) {
    interp::ShutDown(*block);
    interp::osb = nullptr;
    delete block;
    return 1;
  }
  const int status = interp::RunMainLoop(*block, options);
  interp::ShutDown(*block);
  interp::osb = nullptr;
  delete block;
  return status;
}

// Fuzzes the events file reader: the input is an events file fed to a
// running pointer mode in a batch run, line after line, until it ends and
// the mode with it. Lines that resize the window or drop files are left out
// (they would make pictures of any size or open any file the input names);
// everything else reaches the parser and the mode machine.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "interp/global.h"
#include "interp/map_modes.h"

using namespace interp;

namespace {

void Discard(int, const char*) {}

int g_events = 0;
void Count(GlobalBlock&, const ModeEvent& e) { g_events += e.x & 1; }
void Key(GlobalBlock&, int k) { g_events += k & 1; }  // ignores Escape: only the file's end ends the mode

const MapModeSpec kFuzzMode = {"fuzz", 30, kCornerIgnored, platform::kPointerCross, Count, Count, Count, Key, nullptr};

GlobalBlock& Block() {
  static GlobalBlock* g = [] {
    auto* b = new GlobalBlock();
    b->sink = Discard;
    b->loop_running = false;
    b->batch = true;
    return b;
  }();
  return *g;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  GlobalBlock& g = Block();
  std::string text(reinterpret_cast<const char*>(data), size), kept;
  size_t start = 0;
  while (start < text.size()) {
    size_t lf = text.find('\n', start);
    if (lf == std::string::npos) lf = text.size();
    const std::string line = text.substr(start, lf - start);
    const size_t w = line.find_first_not_of(" \t");
    if (w == std::string::npos || (line.compare(w, 6, "resize") != 0 && line.compare(w, 4, "drop") != 0))
      kept += line + "\n";
    start = lf + 1;
  }
  char name[] = "/tmp/ombrel-fuzz-events-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return 0;
  if (write(fd, kept.data(), kept.size()) != (ssize_t)kept.size()) {
    close(fd);
    unlink(name);
    return 0;
  }
  close(fd);
  OpenEventsFile(g, name);
  StartMapMode(g, kFuzzMode);
  FeedScriptedEvents(g, true);
  if (g.map_mode != 0) __builtin_trap();  // a batch run must never be left waiting
  unlink(name);
  return 0;
}

// Start-up, loop and end of a run. The loop is single-threaded: it waits on
// standard input with poll(2) until the next 500 ms script tick is due, runs
// whatever line arrived or whatever script line is due, then draws the
// messages that were queued meanwhile.
#include "interp/run.h"

#include <poll.h>

#include <algorithm>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

#include "interp/dispatcher.h"
#include "interp/map_modes.h"
#include "interp/messages.h"
#include "interp/scripts.h"
#include "interp/cmd_settings.h"
#include "interp/startup.h"
#include "interp/words.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "interp/cmd_draw.h"
#include "interp/cmd_map.h"
#include "platform/memcheck.h"
#include "platform/report.h"

namespace interp {

const char* RunUsageText() {
  return "usage: ombrel [--batch] [--headless] [--events FILE] [script [label]]\n"
         "       ombrel --help | --version\n"
         "  script       start the script script.omb (from the script directory),\n"
         "               at the line after :label when a label is given\n"
         "  --batch      run the script line after line without pauses, or read\n"
         "               command lines from standard input; exit with the error\n"
         "               level of the last command\n"
         "  --headless   no map window; the map is drawn off-screen\n"
         "  --events     feed the map window's interactive modes from FILE\n"
         "  --help       show this text\n"
         "  --version    show the program's and the library's version\n"
         "At the console, Help opens the help page and any command followed by ?\n"
         "shows its usage.\n";
}

static void PrintUsage() { fputs(RunUsageText(), stderr); }

int PrintVersion() {
  GlobalBlock g;
  StartupValues values;
  ReadSystemFacts(values);
  g.startup = &values;
  g.build_date = BuildStamp();
  g.sink = StdoutSink;
  GlobalBlock* previous = osb;
  osb = &g;
  g.loop_running = true;
  CmdVersion(g, nullptr, 0, 0);
  DeliverMessages(g);
  g.loop_running = false;
  osb = previous;
  g.startup = nullptr;
  fflush(stdout);
  return ferror(stdout) ? 1 : 0;
}

bool ParseRunOptions(int argc, char** argv, RunOptions* o) {
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (strcmp(a, "--batch") == 0) {
      o->batch = true;
    } else if (strcmp(a, "--headless") == 0) {
      o->headless = true;
    } else if (strcmp(a, "--events") == 0) {
      if (i + 1 >= argc) {
        fprintf(stderr, "ombrel: --events needs a file name\n");
        PrintUsage();
        return false;
      }
      o->events_file = argv[++i];
    } else if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
      o->show_help = true;
    } else if (strcmp(a, "--version") == 0) {
      o->show_version = true;
    } else if (a[0] == '-' && a[1] == '-') {
      fprintf(stderr, "ombrel: unknown option %s\n", a);
      PrintUsage();
      return false;
    } else if (positional == 0) {
      o->script = a;
      ++positional;
    } else if (positional == 1) {
      o->label = a;
      ++positional;
    } else {
      fprintf(stderr, "ombrel: too many arguments\n");
      PrintUsage();
      return false;
    }
  }
  return true;
}

bool StartCommandLineScript(GlobalBlock& g, const std::string& script, const std::string& label) {
  char built[FILE_NAME_SIZE];
  BuildFileName(script.c_str(), g.dirs.script.c_str(), ".omb", built);
  if (!StartScript(g, built)) {
    char text[FILE_NAME_SIZE + 64];
    snprintf(text, sizeof text, "Error opening script file %s", script.c_str());
    platform::MessageBox(g.program_name.c_str(), text, platform::BoxKind::Warning);
    return false;
  }
  if (!label.empty()) FindLabel(g.script.current, label.c_str());
  return true;
}

// Runs a line typed (or piped) in, as the console does on Enter.
static void RunInputLine(GlobalBlock& g, const std::string& line, bool echo) {
  if (line.empty()) return;
  if (echo && g.settings.script_echo != 0) DrawLineNow(g, 1, line.c_str());
  ExecuteCommandLine(g, line.c_str());
  g.script.pause_ms = 0;
  DeliverMessages(g);
}

// Batch: the running script line after line, no pauses, until it ends. A
// pointer mode started by a line is fed from the events file until it ends.
static void RunScriptToEnd(GlobalBlock& g) {
  while (!g.quit_requested) {
    if (g.map_mode != 0) {
      FeedScriptedEvents(g, true);
      DeliverMessages(g);
      continue;
    }
    if (!g.script.current) break;
    g.script.pause_ms = 0;
    ScriptTick(g);
    DeliverMessages(g);
  }
}

// Collects complete lines from a file descriptor without blocking on a
// partial one.
struct LineInput {
  int fd = 0;
  std::string pending;
  bool eof = false;
};

// Waits at most timeout_ms for input; appends complete lines to lines.
static void ReadLines(LineInput& in, int timeout_ms, std::vector<std::string>* lines) {
  if (in.eof) {
    if (timeout_ms > 0) platform::SleepMs(timeout_ms);
    return;
  }
  pollfd pfd{in.fd, POLLIN, 0};
  const int r = poll(&pfd, 1, timeout_ms < 0 ? 0 : timeout_ms);
  if (r <= 0) return;
  char buf[4096];
  const ssize_t n = read(in.fd, buf, sizeof buf);
  if (n < 0) {
    if (errno != EINTR && errno != EAGAIN) in.eof = true;
  } else if (n == 0) {
    in.eof = true;
  } else {
    in.pending.append(buf, static_cast<size_t>(n));
  }
  size_t start = 0;
  for (size_t lf; (lf = in.pending.find('\n', start)) != std::string::npos; start = lf + 1)
    lines->push_back(in.pending.substr(start, lf - start));
  in.pending.erase(0, start);
  if (in.eof && !in.pending.empty()) {  // a last line without a line feed still counts
    lines->push_back(in.pending);
    in.pending.clear();
  }
}

int RunMainLoop(GlobalBlock& g, const RunOptions& options) {
  if (!g.sink) g.sink = StdoutSink;
  g.loop_running = true;
  const bool echo_input = !platform::StdinIsTerminal();
  if (!options.events_file.empty()) OpenEventsFile(g, options.events_file);

  if (!options.script.empty() && !StartCommandLineScript(g, options.script, options.label) &&
      options.batch)
    return 1;

  if (options.batch) {
    if (!options.script.empty()) {
      RunScriptToEnd(g);
    } else {
      std::string line;
      char* buf = nullptr;
      size_t cap = 0;
      ssize_t n;
      while (!g.quit_requested && (n = getline(&buf, &cap, stdin)) >= 0) {
        line.assign(buf, static_cast<size_t>(n));
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        RunInputLine(g, line, echo_input);
        RunScriptToEnd(g);
      }
      free(buf);
    }
  } else {
    LineInput in;
    // Long commands (the orbit traces) serve the map window between their
    // steps, so that its Escape, closing and minimising reach them.
    if (!g.pump_window_events) g.pump_window_events = ServiceMapWindow;
    int64_t next_tick = platform::TickMs() + SCRIPT_TICK_MS;
    std::vector<std::string> lines;
    while (!g.quit_requested) {
      if (in.eof && !g.script.current) break;
      // The map window is served between short waits so that it stays live;
      // a running pointer mode takes one line of the events file a turn.
      ServiceMapWindow(g);
      FeedScriptedEvents(g, false);
      const int64_t wait = std::min<int64_t>(next_tick - platform::TickMs(), 20);
      lines.clear();
      ReadLines(in, static_cast<int>(wait > 0 ? wait : 0), &lines);
      for (const std::string& l : lines) {
        std::string line = l;
        while (!line.empty() && line.back() == '\r') line.pop_back();
        RunInputLine(g, line, echo_input);
        if (g.quit_requested) break;
      }
      if (platform::TickMs() >= next_tick) {
        next_tick += SCRIPT_TICK_MS;
        if (next_tick < platform::TickMs()) next_tick = platform::TickMs() + SCRIPT_TICK_MS;
        if (g.script.timer_running) ScriptTick(g);
        DeliverMessages(g);
      }
    }
  }
  DeliverMessages(g);
  fflush(stdout);
  g.loop_running = false;
  return g.quit_requested ? g.exit_code : g.error_level;
}

void ShutDown(GlobalBlock& g) {
  StopScript(g);
  CloseDisplay(g);
  ReleaseMapWindowGeometry(g);
  if (g.workspace_memory) {
    platform::CheckedFree(g.workspace_memory);
    g.workspace_memory = nullptr;
    g.workspace = platform::Workspace{};
  }
  platform::CloseMemoryCheck();
  platform::CheckLeaks();
}

}  // namespace interp

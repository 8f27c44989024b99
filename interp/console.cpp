// The terminal console.
//
// Input: bytes from standard input go through the escape-sequence decoder
// into the console's key state machine (console_editor.h); a lone Escape is
// taken after 50 ms without a following byte. Output: every drawing step
// starts at the input line's row, clears it, writes what it has to write and
// draws the input line again, so messages scroll up above the line being
// typed. A line longer than the terminal is shown as a window around the
// caret, so it never wraps.
//
// Colours are 24-bit escapes from the console.text.color.* and
// console.background keys, written only when standard output is a terminal.
#include "interp/console.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "interp/console_editor.h"
#include "interp/dispatcher.h"
#include "interp/handlers.h"
#include "interp/cmd_draw.h"
#include "interp/map_modes.h"
#include "interp/messages.h"
#include "interp/scripts.h"
#include "interp/startup.h"
#include "lib/display/colour.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/terminal.h"

namespace interp {
namespace {

constexpr const char* kPrompt = "> ";
constexpr int kPromptWidth = 2;
constexpr int kEscapeTimeoutMs = 50;
constexpr int kWindowPollMs = 20;

struct Console {
  ConsoleEditor ed;
  platform::TerminalDecoder decoder;
  const char* names[COMMAND_COUNT] = {};
  bool colour = false;
  std::string background;
  std::string levelColour[5];
};

Console* g_console = nullptr;

std::string Rgb(uint32_t c) {
  return platform::TerminalColor(static_cast<int>(display::RedOf(c)), static_cast<int>(display::GreenOf(c)),
                                 static_cast<int>(display::BlueOf(c)));
}

void DrawInputLine(const Console& c) {
  const int cols = platform::TerminalColumns();
  int width = cols - kPromptWidth - 1;
  if (width < 8) width = 8;
  int start = 0;
  if (c.ed.caret > width) start = c.ed.caret - width;
  int shown = c.ed.length - start;
  if (shown > width + 1) shown = width + 1;
  if (shown > cols - kPromptWidth) shown = cols - kPromptWidth > 0 ? cols - kPromptWidth : 0;
  std::string out = platform::kTerminalClearLine;
  // The line being typed is drawn in the input colour, like the echo of an
  // entered line; the colour stays on for the caret's cell.
  if (c.colour) out += c.background + c.levelColour[0] + "\x1b[K";
  out += kPrompt;
  out.append(c.ed.line + start, static_cast<std::size_t>(shown < 0 ? 0 : shown));
  const int back = (start + shown) - c.ed.caret;
  if (back > 0) out += "\x1b[" + std::to_string(back) + "D";
  out += c.ed.overwrite ? platform::kTerminalCaretBlock : platform::kTerminalCaretBar;
  platform::TerminalWrite(out);
}

// One finished line above the input line, in a level's colour.
void WriteLineAbove(const Console& c, int level, const char* text) {
  if (level < 1) level = 1;
  if (level > 5) level = 5;
  std::string out = platform::kTerminalClearLine;
  if (c.colour) out += c.background + c.levelColour[level - 1];
  out += ConsoleVisibleText(text);
  if (c.colour) out += std::string("\x1b[K") + platform::kTerminalReset;
  out += "\r\n";
  platform::TerminalWrite(out);
  if (level >= 4) platform::TerminalBell();
}

void ConsoleSink(int level, const char* text) {
  if (!g_console) {
    StdoutSink(level, text);
    return;
  }
  WriteLineAbove(*g_console, level, text);
  DrawInputLine(*g_console);
}

void RunEntered(GlobalBlock& g, Console& c, const std::string& line) {
  WriteLineAbove(c, 1, line.c_str());
  g.console_input_length = 0;
  ExecuteCommandLine(g, line.c_str());
  g.script.pause_ms = 0;
  DeliverMessages(g);
}

void HandleEvent(GlobalBlock& g, Console& c, const platform::TerminalEvent& ev) {
  using platform::TerminalKey;
  ConsoleAction action = ConsoleAction::kNone;
  std::string entered;
  if (ev.key == TerminalKey::kNone) {
    action = ConsoleEditorChar(c.ed, ev.ch);
  } else if (ev.key == TerminalKey::kInterrupt) {
    // Ctrl+C: clears the line like Escape; on an empty line it says how to leave.
    if (c.ed.length > 0) ConsoleEditorKey(c.ed, TerminalKey::kEscape, nullptr);
    else WriteLineAbove(c, 2, "(Quit or Ctrl+D ends Ombrel)");
  } else if (ev.key == TerminalKey::kEndOfInput) {
    if (c.ed.length == 0) g.quit_requested = true;
    else action = ConsoleEditorKey(c.ed, TerminalKey::kDelete, nullptr);
  } else {
    action = ConsoleEditorKey(c.ed, ev.key, &entered);
  }
  switch (action) {
    case ConsoleAction::kBell: platform::TerminalBell(); break;
    case ConsoleAction::kEnter:
      // An empty line scrolls, and ends a pause that waits for Enter.
      platform::TerminalWrite(std::string(platform::kTerminalClearLine) + kPrompt + "\r\n");
      g.script.pause_ms = 0;
      break;
    case ConsoleAction::kExecute: RunEntered(g, c, entered); break;
    case ConsoleAction::kNone: break;
  }
  g.console_input_length = c.ed.length;
  if (!g.quit_requested) DrawInputLine(c);
}

}  // namespace

std::string ConsoleVisibleText(const char* text) {
  std::string out;
  for (const char* p = text ? text : ""; *p; ++p) {
    const unsigned char ch = static_cast<unsigned char>(*p);
    out += (ch < 0x20 || ch == 0x7f) ? '?' : *p;
  }
  return out;
}

int RunConsole(GlobalBlock& g, const RunOptions& options) {
  if (!platform::StdinIsTerminal() || !platform::TerminalEnterRaw()) return RunMainLoop(g, options);
  Console c;
  for (int i = 0; i < COMMAND_COUNT; ++i) c.names[i] = kCommandTable[i].name;
  ConsoleEditorInit(c.ed, c.names, COMMAND_COUNT);
  c.colour = platform::StdoutIsTerminal();
  if (!options.events_file.empty()) OpenEventsFile(g, options.events_file);
  // The map window lives beside the console: its events (and the pointer
  // modes) are served between the console's waits.
  if (!g.pump_window_events) g.pump_window_events = ServiceMapWindow;
  if (const StartupValues* v = g.startup) {
    const uint32_t bg = v->console_background;
    c.background = platform::TerminalBackground(static_cast<int>(display::RedOf(bg)),
                                                static_cast<int>(display::GreenOf(bg)),
                                                static_cast<int>(display::BlueOf(bg)));
    for (int i = 0; i < 5; ++i) c.levelColour[i] = Rgb(v->console_text_colors[i]);
  } else {
    c.colour = false;
  }
  g_console = &c;
  g.sink = ConsoleSink;
  g.loop_running = true;

  if (!options.script.empty()) StartCommandLineScript(g, options.script, options.label);
  DeliverMessages(g);
  DrawInputLine(c);

  int64_t nextTick = platform::TickMs() + SCRIPT_TICK_MS;
  int64_t escapeDeadline = -1;
  bool inputClosed = false;
  while (!g.quit_requested && !inputClosed) {
    const int64_t now = platform::TickMs();
    int64_t wait = nextTick - now;
    if (escapeDeadline >= 0 && escapeDeadline - now < wait) wait = escapeDeadline - now;
    if (g.pump_window_events && wait > kWindowPollMs) wait = kWindowPollMs;
    if (wait < 0) wait = 0;
    pollfd pfd{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(wait));
    if (ready > 0) {
      unsigned char buf[256];
      const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
        inputClosed = true;
      }
      for (ssize_t i = 0; i < n && !g.quit_requested; ++i) {
        platform::TerminalEvent events[2];
        const int count = platform::TerminalDecoderFeed(c.decoder, buf[i], events);
        for (int k = 0; k < count && !g.quit_requested; ++k) HandleEvent(g, c, events[k]);
      }
      escapeDeadline = platform::TerminalDecoderPending(c.decoder) ? platform::TickMs() + kEscapeTimeoutMs : -1;
    } else if (escapeDeadline >= 0 && platform::TickMs() >= escapeDeadline) {
      platform::TerminalEvent ev;
      if (platform::TerminalDecoderFlush(c.decoder, &ev)) HandleEvent(g, c, ev);
      escapeDeadline = -1;
    }
    if (g.pump_window_events) {
      g.pump_window_events(g);
      DeliverMessages(g);
    }
    if (g.map_mode != 0) {
      FeedScriptedEvents(g, false);
      DeliverMessages(g);
    }
    if (platform::TickMs() >= nextTick) {
      nextTick += SCRIPT_TICK_MS;
      if (nextTick < platform::TickMs()) nextTick = platform::TickMs() + SCRIPT_TICK_MS;
      g.console_input_length = c.ed.length;
      if (g.script.current) ScriptTick(g);
      DeliverMessages(g);
    }
  }
  DeliverMessages(g);
  platform::TerminalWrite(std::string(platform::kTerminalReset) + platform::kTerminalClearLine +
                          platform::kTerminalCaretBlock);
  platform::TerminalRestore();
  g_console = nullptr;
  g.sink = StdoutSink;
  g.loop_running = false;
  return g.quit_requested ? g.exit_code : g.error_level;
}

}  // namespace interp

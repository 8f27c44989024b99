// The script reader and the flow-control commands. Lines are read with fgets
// into bounded buffers; a physical line longer than the buffer is skipped to
// its end so that its tail never runs as a command. Labels are found by
// rereading the file from the start, so GoTo works forwards and backwards.
#include "interp/scripts.h"

#include <cstdlib>
#include <cstring>

#include "interp/dispatcher.h"
#include "interp/handlers.h"
#include "interp/messages.h"
#include "interp/words.h"

namespace interp {

static void CancelMapMode(GlobalBlock& g) {
  if (g.map_mode != 0 && g.cancel_map_mode) g.cancel_map_mode(g);
}

static std::string DirectoryPart(const char* name) {
  const char* last = nullptr;
  for (const char* p = name; *p; ++p)
    if (*p == '/' || *p == '\\') last = p;
  return last ? std::string(name, last + 1) : std::string();
}

bool StartScript(GlobalBlock& g, const char* built_name) {
  FILE* f = fopen(built_name, "r");
  if (!f) return false;
  g.script.current = f;
  g.script.current_name = built_name;
  g.script.timer_running = true;
  g.script.last_directory = DirectoryPart(built_name);
  return true;
}

void CloseScriptStack(GlobalBlock& g) {
  for (int i = 0; i < g.script.depth; ++i) {
    if (g.script.stack[i]) fclose(g.script.stack[i]);
    g.script.stack[i] = nullptr;
    g.script.stack_names[i].clear();
  }
  g.script.depth = 0;
}

void StopScript(GlobalBlock& g) {
  if (g.script.current) fclose(g.script.current);
  g.script.current = nullptr;
  g.script.current_name.clear();
  g.script.timer_running = false;
  CancelMapMode(g);
  CloseScriptStack(g);
  g.script.pause_ms = 0;
}

static void ResumeCaller(GlobalBlock& g) {
  const int top = g.script.depth - 1;
  g.script.current = g.script.stack[top];
  g.script.current_name = g.script.stack_names[top];
  g.script.stack[top] = nullptr;
  g.script.stack_names[top].clear();
  g.script.depth = top;
  g.script.pause_ms = 0;
}

void EndScriptLevel(GlobalBlock& g, bool at_end_of_file) {
  if (!g.script.current) return;
  if (!at_end_of_file && g.script.depth == 0) return;
  fclose(g.script.current);
  g.script.current = nullptr;
  g.script.current_name.clear();
  if (g.script.depth > 0) {
    ResumeCaller(g);
  } else {
    g.script.timer_running = false;
  }
}

// Reads one physical line into buf (size bytes). Returns the characters read
// without the line end, -1 at the end of the file. Sets *cut when the line did
// not fit (its rest has been skipped).
static long ReadPhysicalLine(FILE* f, char* buf, size_t size, bool* cut) {
  if (size < 2) {
    *cut = true;
    return -1;
  }
  if (!fgets(buf, static_cast<int>(size), f)) return -1;
  size_t len = strlen(buf);
  if (len > 0 && buf[len - 1] == '\n') {
    buf[--len] = '\0';
  } else if (!feof(f)) {
    int c;
    while ((c = fgetc(f)) != EOF && c != '\n') {}
    *cut = true;
  }
  if (len > 0 && buf[len - 1] == '\r') buf[--len] = '\0';
  return static_cast<long>(len);
}

static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

bool ReadScriptLine(FILE* file, char* buffer, bool* cut) {
  bool was_cut = false;
  size_t used = 0;
  buffer[0] = '\0';
  for (;;) {
    if (SCRIPT_LINE_SIZE - used < 2) {  // full: the continuation line is dropped
      int c;
      while ((c = fgetc(file)) != EOF && c != '\n') {}
      was_cut = true;
      break;
    }
    long n = ReadPhysicalLine(file, buffer + used, SCRIPT_LINE_SIZE - used, &was_cut);
    if (n < 0) {
      if (cut) *cut = was_cut;
      return false;
    }
    used += static_cast<size_t>(n);
    size_t end = used;
    while (end > 0 && IsBlank(buffer[end - 1])) --end;
    if (end == 0 || buffer[end - 1] != '\\') break;
    used = end - 1;  // the next line takes the backslash's place
    buffer[used] = '\0';
  }
  if (cut) *cut = was_cut;
  return true;
}

bool FindLabel(FILE* file, const char* label) {
  char name[LINE_SIZE + 1];
  const char* l = label ? label : "";
  if (*l == ':') ++l;
  size_t n = 0;
  while (l[n] && l[n] != '\n' && n < static_cast<size_t>(LINE_SIZE)) {
    name[n] = l[n];
    ++n;
  }
  name[n] = '\0';
  if (!file) return false;

  const long here = ftell(file);
  rewind(file);
  char line[LINE_SIZE + 1];
  bool cut = false;
  while (ReadPhysicalLine(file, line, sizeof line, &cut) >= 0) {
    const char* p = line;
    while (IsBlank(*p)) ++p;
    if (*p == ':' && strncmp(p + 1, name, n) == 0) return true;
  }
  clearerr(file);
  if (here >= 0) fseek(file, here, SEEK_SET);
  PostText(4, "Label (%s) not in script file", name);
  return false;
}

bool ScriptTick(GlobalBlock& g) {
  ScriptState& s = g.script;
  if (s.pause_ms > 0) {
    if (s.pause_ms != PAUSE_UNTIL_ENTER) {
      const int64_t left = static_cast<int64_t>(s.pause_ms) - 5 * static_cast<int64_t>(g.settings.script_pace);
      s.pause_ms = left > 0 ? static_cast<int32_t>(left) : 0;
    }
    if (s.pause_ms > 0) return false;
  }
  if (g.console_input_length > 0) return false;  // the user is typing: hold the script
  if (g.map_mode != 0 || !s.current) return false;
  if (g.panel.shown) {
    if (g.remove_text_panel) g.remove_text_panel(g);
    g.panel.shown = false;
  }
  char line[SCRIPT_LINE_SIZE];
  bool cut = false;
  if (!ReadScriptLine(s.current, line, &cut)) {
    EndScriptLevel(g, true);
    return false;
  }
  if (g.settings.script_echo != 0) DrawLineNow(g, 2, line);
  if (cut) PostText(3, "Script line cut at %d characters", SCRIPT_LINE_SIZE - 1);
  ExecuteCommandLine(g, line);
  return true;
}

// ---------------------------------------------------------------------------
// Flow-control commands.

void CmdCall(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "script [label]");
    return;
  }
  if (!g.script.current) return;  // typed at the console: nothing to call from
  char word[WORD_SIZE];
  const char* rest = NextWord(args, word, sizeof word);
  ExpandDirectoryAlias(g, word, sizeof word);
  char built[FILE_NAME_SIZE];
  BuildFileName(word, g.dirs.script.c_str(), ".omb", built);
  FILE* f = fopen(built, "r");
  if (!f) {
    PostText(4, "Script file (%s) open failed", built);
    g.error_level = EL_FAILURE;
    return;
  }
  if (g.script.depth >= SCRIPT_STACK_SIZE) {
    fclose(f);
    PostText(4, "call failed - nesting level %d", g.script.depth + 1);
    g.error_level = EL_FAILURE;
    return;
  }
  CancelMapMode(g);
  g.script.stack[g.script.depth] = g.script.current;
  g.script.stack_names[g.script.depth] = g.script.current_name;
  ++g.script.depth;
  g.script.current = f;
  g.script.current_name = built;
  g.script.pause_ms = 0;
  char label[WORD_SIZE];
  NextWord(rest, label, sizeof label);
  if (label[0] && !FindLabel(f, label)) g.error_level = EL_FAILURE;
}

void CmdReturn(GlobalBlock& g, const char*, int, int) { EndScriptLevel(g, false); }

void CmdGoTo(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "[:]label");
    return;
  }
  if (!g.script.current) return;
  // The label is the rest of the line (label names may hold blanks), without
  // trailing blanks.
  std::string label = args ? args : "";
  while (!label.empty() && IsBlank(label.back())) label.pop_back();
  if (!FindLabel(g.script.current, label.c_str())) g.error_level = EL_FAILURE;
}

// Sets the pause from a seconds word: 0 or none waits for the user. Returns
// the number as given.
static int SetPause(GlobalBlock& g, const char* word) {
  const int secs = atoi(word);
  if (secs != 0) {
    const int64_t ms = static_cast<int64_t>(secs < 0 ? -static_cast<int64_t>(secs) : secs) * 1000;
    g.script.pause_ms = ms >= PAUSE_UNTIL_ENTER ? PAUSE_UNTIL_ENTER - 1 : static_cast<int32_t>(ms);
    PostText(2, "paused %d seconds", secs);
  } else {
    g.script.pause_ms = PAUSE_UNTIL_ENTER;
    PostText(2, "press <Enter> key or click this message...");
  }
  return secs;
}

void CmdShowMap(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "secs");
    return;
  }
  if (!g.script.current) return;
  char word[WORD_SIZE];
  NextWord(args, word, sizeof word);
  SetPause(g, word);
  if (g.activate_map_window) g.activate_map_window(g);
}

// Reads the number after a style letter; *p is left after it.
static int StyleNumber(const char** p) {
  char* end = nullptr;
  const long v = strtol(*p, &end, 10);
  *p = end;
  return static_cast<int>(v);
}

void CmdShowPanel(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "secs textPanelStyle \"text...\"");
    return;
  }
  char word[WORD_SIZE];
  const char* rest = NextWord(args, word, sizeof word);
  const int secs = SetPause(g, word);
  char style[WORD_SIZE];
  rest = NextWord(rest, style, sizeof style);
  if (!rest) return;

  TextPanel panel;
  panel.keep_in_map = secs < 0;
  std::string colour;
  for (const char* p = style; *p;) {
    const char c = *p;
    if (c == 'k' || c == 'f' || c == 'j' || c == 'l') {
      ++p;
      const int v = StyleNumber(&p);
      if (c == 'k') panel.background = v;
      if (c == 'f') panel.font = (v >= 0 && v <= 5) ? v : 3;
      if (c == 'j') panel.justification = (v == -1 || v == 1) ? v : 0;
      if (c == 'l') panel.location = (v == -1 || v == -2 || v == 1 || v == 2) ? v : 0;
    } else {
      colour.push_back(c);
      ++p;
    }
  }
  if (!colour.empty()) panel.colour = colour;

  std::string text(rest, strnlen(rest, PANEL_TEXT_SIZE));
  while (!text.empty() && IsBlank(text.back())) text.pop_back();
  if (text.size() >= 2 && (text[0] == '"' || text[0] == '\'') && text.back() == text[0])
    text = text.substr(1, text.size() - 2);
  panel.text = text;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find("\\n", start);
    if (at == std::string::npos) {
      if (start < text.size()) panel.lines.push_back(text.substr(start));
      break;
    }
    panel.lines.push_back(text.substr(start, at - start));
    start = at + 2;
  }
  panel.shown = true;
  g.panel = std::move(panel);
  if (g.activate_map_window) g.activate_map_window(g);
  if (g.show_text_panel && !g.show_text_panel(g)) {
    g.panel.shown = false;
    PostText(4, "Text panel open error");
    g.error_level = EL_NOT_APPLICABLE;
  }
}

}  // namespace interp

// How a line runs: skip comments and labels, copy at most 1024 characters,
// take the command word, find it in the table (or fall back to a script of
// that name), reset the error level, time the handler. The If commands leave
// a chained command word in the global block; the loop then runs that word
// as a command of its own, timed and with its own error level, on the same
// copy of the line.
#include "interp/dispatcher.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "interp/handlers.h"
#include "interp/messages.h"
#include "interp/scripts.h"
#include "interp/words.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace interp {

bool IsUsageRequest(const char* args) {
  if (!args) return false;
  while (*args == ' ' || *args == '\t') ++args;
  return *args == '?';
}

void CmdNotImplemented(GlobalBlock&, const char*, int, int) { PostText(2, "not implemented"); }

void CmdZzz(GlobalBlock&, const char*, int, int) { PostText(2, "not implemented"); }

void FormatDuration(double t, char* out, int size) {
  if (!(t >= 0.0) || t > 1e12) t = 0.0;  // the clock is monotonic; anything else is noise
  const int hours = static_cast<int>(t / 3600.0);
  const int minutes = static_cast<int>(std::fmod(t, 3600.0) / 60.0);
  const double seconds = std::fmod(t, 60.0);
  snprintf(out, static_cast<size_t>(size), "%d:%02d:%02.3lf", hours, minutes, seconds);
}

void CmdDuration(GlobalBlock& g, const char*, int, int) {
  char text[64];
  FormatDuration(g.last_command_time, text, sizeof text);
  PostText(2, "%s", text);
}

void CmdEcho(GlobalBlock&, const char* args, int, int) { PostText(2, "%s", args ? args : ""); }

void CmdQuit(GlobalBlock& g, const char*, int, int) {
  g.quit_requested = true;
  // The run's exit status: the level the line found when it began (the last
  // real command's), so that "IfErrorlevel 4 Quit" ends with status 4.
  g.exit_code = g.line_entry_error_level;
}

void CmdIf(GlobalBlock& g, const char* args, int kind, int) {
  if (IsUsageRequest(args)) {
    PostText(2, (kind == IF_EXIST || kind == IF_NOT_EXIST) ? "object/fileName command"
                                                          : "errorLevel command");
    return;
  }
  char word[WORD_SIZE];
  const char* rest = NextWord(args, word, sizeof word);
  bool run = false;
  if (kind == IF_ERRORLEVEL || kind == IF_NOT_ERRORLEVEL) {
    const int n = atoi(word);
    run = (kind == IF_ERRORLEVEL) ? g.previous_error_level >= n : g.previous_error_level < n;
  } else {
    ExpandDirectoryAlias(g, word, sizeof word);
    char name[FILE_NAME_SIZE];
    BuildFileName(word, g.dirs.data.c_str(), ".qbo", name);
    const bool exists = platform::FileExists(name);
    run = (kind == IF_EXIST) ? exists : !exists;
  }
  if (!run || !rest) return;
  g.chain_rest = NextWord(rest, g.chain_word, WORD_SIZE);
  g.chain_pending = g.chain_word[0] != '\0';
}

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Edits (insert, delete, change, swap of two neighbours) between a and b
// without regard to case; stops counting once it passes limit.
int EditDistance(const char* a, const char* b, int limit) {
  const int n = static_cast<int>(strlen(a)), m = static_cast<int>(strlen(b));
  if (n - m > limit || m - n > limit) return limit + 1;
  std::vector<int> before(static_cast<size_t>(m + 1)), prev(static_cast<size_t>(m + 1)),
      cur(static_cast<size_t>(m + 1));
  for (int j = 0; j <= m; ++j) prev[static_cast<size_t>(j)] = j;
  for (int i = 1; i <= n; ++i) {
    cur[0] = i;
    int rowBest = cur[0];
    for (int j = 1; j <= m; ++j) {
      const size_t J = static_cast<size_t>(j);
      const int change = Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1;
      int d = std::min({prev[J] + 1, cur[J - 1] + 1, prev[J - 1] + change});
      if (i > 1 && j > 1 && Lower(a[i - 1]) == Lower(b[j - 2]) && Lower(a[i - 2]) == Lower(b[j - 1]))
        d = std::min(d, before[J - 2] + 1);
      cur[J] = d;
      rowBest = std::min(rowBest, d);
    }
    if (rowBest > limit) return limit + 1;
    before.swap(prev);
    prev.swap(cur);
  }
  return prev[static_cast<size_t>(m)];
}

}  // namespace

std::string SuggestCommands(const char* word) {
  const int length = word ? static_cast<int>(strlen(word)) : 0;
  if (length < 3 || length > WORD_SIZE) return {};
  // Short words allow one slip, longer ones two, the longest three.
  const int limit = length <= 4 ? 1 : (length <= 8 ? 2 : 3);
  int best = limit + 1;
  std::vector<const char*> names;
  for (int i = 0; i < COMMAND_COUNT; ++i) {
    const char* name = kCommandTable[i].name;
    const int d = EditDistance(word, name, limit);
    if (d > limit || d > best) continue;
    if (d < best) {
      best = d;
      names.clear();
    }
    if (names.size() < 3) names.push_back(name);
  }
  std::string out;
  for (size_t k = 0; k < names.size(); ++k) {
    if (k > 0) out += k + 1 == names.size() ? " or " : ", ";
    out += names[k];
  }
  return out;
}

// A word that is no command: the name of a script to start.
static void RunUnknownWord(GlobalBlock& g, const char* word, const char* rest) {
  char name[WORD_SIZE];
  if (strcasecmp(word, "script") == 0) {
    rest = NextWord(rest, name, sizeof name);
    if (name[0] == '\0') {
      StopScript(g);
      return;
    }
  } else {
    snprintf(name, sizeof name, "%s", word);
  }
  ExpandDirectoryAlias(g, name, sizeof name);
  char built[FILE_NAME_SIZE];
  BuildFileName(name, g.dirs.script.c_str(), ".omb", built);
  if (!platform::FileExists(built)) {
    PostText(4, "command?=>%s<=", word);
    // A slip of the keyboard: name the commands it is close to.
    if (strcasecmp(word, "script") != 0) {
      const std::string close = SuggestCommands(word);
      if (!close.empty()) PostText(2, "did you mean %s?", close.c_str());
    }
    g.error_level = EL_FAILURE;
    return;
  }
  StopScript(g);
  if (!StartScript(g, built)) {
    PostText(4, "Script file (%s) open failed", built);
    g.error_level = EL_FAILURE;
    return;
  }
  char label[WORD_SIZE];
  NextWord(rest, label, sizeof label);
  if (label[0] && !FindLabel(g.script.current, label)) g.error_level = EL_FAILURE;
}

void ExecuteCommandLine(GlobalBlock& g, const char* line) {
  if (!line) {
    g.command_table = kCommandTable;
    g.command_count = COMMAND_COUNT;
    return;
  }
  const char* p = line;
  while (*p == ' ' || *p == '\t' || *p == '\v' || *p == '\f') ++p;
  if (*p == ':' || *p == ';' || *p == '\0' || *p == '\n' || *p == '\r') return;

  // A command line is one line: the copy ends at the first line end.
  char copy[LINE_SIZE + 1];
  size_t n = 0;
  while (n < static_cast<size_t>(LINE_SIZE) && line[n] && line[n] != '\n' && line[n] != '\r') {
    copy[n] = line[n];
    ++n;
  }
  copy[n] = '\0';

  char word[WORD_SIZE];
  const char* rest = NextWord(copy, word, sizeof word);
  if (word[0] == '\0') return;

  g.line_entry_error_level = g.error_level;
  for (;;) {
    const int index = LookUpCommand(word);
    g.previous_error_level = g.error_level;
    g.error_level = EL_SUCCESS;
    g.chain_pending = false;
    const int64_t start = platform::TickMs();
    if (index < COMMAND_COUNT) {
      const CommandEntry& e = kCommandTable[index];
      e.handler(g, rest, e.variant, e.mode);
    } else {
      RunUnknownWord(g, word, rest);
    }
    g.last_command_time = static_cast<double>(platform::TickMs() - start) / 1000.0;
    if (!g.chain_pending) break;
    g.chain_pending = false;
    memcpy(word, g.chain_word, sizeof word);
    rest = g.chain_rest;
  }
}

}  // namespace interp

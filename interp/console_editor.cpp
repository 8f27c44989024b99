// The input line, history and Tab completion of the console.
//
// Each key is handled by one branch of ConsoleEditorKey; every key but Tab and
// Shift+Tab ends a running completion cycle first, so the next Tab takes the
// line as it then stands as its prefix. The history is the byte store the
// console has always had: entries end in NUL, oldest first, and the oldest
// are dropped whenever a new line would fill it to 2047 bytes or more.
#include "interp/console_editor.h"

#include <cstring>

namespace interp {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool PrefixMatches(const std::string& prefix, const char* name) {
  const int n = static_cast<int>(prefix.size()) < kCompletionCompareMax ? static_cast<int>(prefix.size())
                                                                         : kCompletionCompareMax;
  for (int i = 0; i < n; ++i) {
    if (name[i] == '\0' || Lower(name[i]) != Lower(prefix[i])) return false;
  }
  return true;
}

void SetLine(ConsoleEditor& ed, const char* text) {
  int n = static_cast<int>(std::strlen(text));
  if (n > kConsoleLineMax) n = kConsoleLineMax;
  std::memcpy(ed.line, text, n);
  ed.line[n] = '\0';
  ed.length = n;
  ed.caret = n;
}

// Offset of the entry before the one starting at pos (pos > 0).
int PreviousEntry(const ConsoleEditor& ed, int pos) {
  int p = pos - 1;  // the NUL that ends the previous entry
  while (p > 0 && ed.history[p - 1] != '\0') --p;
  return p;
}

ConsoleAction Complete(ConsoleEditor& ed, bool forward) {
  if (!ed.completing) {
    ed.completing = true;
    ed.completionPrefix.assign(ed.line, ed.length);
    ed.lastCompleted = -1;
  }
  if (forward) {
    for (int i = ed.lastCompleted + 1; i < ed.commandCount; ++i) {
      if (PrefixMatches(ed.completionPrefix, ed.commands[i])) {
        ed.lastCompleted = i;
        SetLine(ed, ed.commands[i]);
        return ConsoleAction::kNone;
      }
    }
  } else {
    for (int i = ed.lastCompleted - 1; i >= 0 && ed.lastCompleted >= 0; --i) {
      if (PrefixMatches(ed.completionPrefix, ed.commands[i])) {
        ed.lastCompleted = i;
        SetLine(ed, ed.commands[i]);
        return ConsoleAction::kNone;
      }
    }
  }
  return ConsoleAction::kBell;
}

ConsoleAction TypeOne(ConsoleEditor& ed, char c) {
  if (!ed.overwrite || ed.caret == ed.length) {
    if (ed.length >= kConsoleLineMax) return ConsoleAction::kBell;
    std::memmove(ed.line + ed.caret + 1, ed.line + ed.caret, ed.length - ed.caret);
    ++ed.length;
    ed.line[ed.length] = '\0';
  }
  ed.line[ed.caret++] = c;
  return ConsoleAction::kNone;
}

}  // namespace

void ConsoleEditorInit(ConsoleEditor& ed, const char* const* commands, int commandCount) {
  ed = ConsoleEditor{};
  ed.commands = commands;
  ed.commandCount = commands ? commandCount : 0;
}

void ConsoleHistoryAdd(ConsoleEditor& ed, const char* text) {
  int n = static_cast<int>(std::strlen(text));
  if (n > kConsoleLineMax) n = kConsoleLineMax;
  while (ed.historyUsed > 0 && ed.historyUsed + n + 1 >= kConsoleHistoryBytes - 1) {
    const int first = static_cast<int>(std::strlen(ed.history)) + 1;
    std::memmove(ed.history, ed.history + first, ed.historyUsed - first);
    ed.historyUsed -= first;
  }
  std::memcpy(ed.history + ed.historyUsed, text, n);
  ed.history[ed.historyUsed + n] = '\0';
  ed.historyUsed += n + 1;
  ed.historyCursor = ed.historyUsed;
}

ConsoleAction ConsoleEditorKey(ConsoleEditor& ed, platform::TerminalKey key, std::string* entered) {
  using platform::TerminalKey;
  if (key != TerminalKey::kTab && key != TerminalKey::kShiftTab) ed.completing = false;
  switch (key) {
    case TerminalKey::kLeft:
      if (ed.caret == 0) return ConsoleAction::kBell;
      --ed.caret;
      return ConsoleAction::kNone;
    case TerminalKey::kRight:
      if (ed.caret == ed.length) return ConsoleAction::kBell;
      ++ed.caret;
      return ConsoleAction::kNone;
    case TerminalKey::kHome:
      if (ed.caret == 0) return ConsoleAction::kBell;
      ed.caret = 0;
      return ConsoleAction::kNone;
    case TerminalKey::kEnd:
      if (ed.caret == ed.length) return ConsoleAction::kBell;
      ed.caret = ed.length;
      return ConsoleAction::kNone;
    case TerminalKey::kUp:
      if (ed.historyCursor <= 0) return ConsoleAction::kBell;
      ed.historyCursor = PreviousEntry(ed, ed.historyCursor);
      SetLine(ed, ed.history + ed.historyCursor);
      return ConsoleAction::kNone;
    case TerminalKey::kDown: {
      if (ed.historyCursor >= ed.historyUsed) return ConsoleAction::kBell;
      const int next = ed.historyCursor + static_cast<int>(std::strlen(ed.history + ed.historyCursor)) + 1;
      if (next >= ed.historyUsed) return ConsoleAction::kBell;
      ed.historyCursor = next;
      SetLine(ed, ed.history + ed.historyCursor);
      return ConsoleAction::kNone;
    }
    case TerminalKey::kInsert:
      ed.overwrite = !ed.overwrite;
      return ConsoleAction::kNone;
    case TerminalKey::kDelete:
      if (ed.caret == ed.length) return ConsoleAction::kBell;
      std::memmove(ed.line + ed.caret, ed.line + ed.caret + 1, ed.length - ed.caret);
      --ed.length;
      return ConsoleAction::kNone;
    case TerminalKey::kBackspace:
      if (ed.caret == 0) return ConsoleAction::kBell;
      std::memmove(ed.line + ed.caret - 1, ed.line + ed.caret, ed.length - ed.caret + 1);
      --ed.length;
      --ed.caret;
      return ConsoleAction::kNone;
    case TerminalKey::kEscape:
      if (ed.length == 0) return ConsoleAction::kBell;
      SetLine(ed, "");
      return ConsoleAction::kNone;
    case TerminalKey::kEnter:
      if (ed.length == 0) return ConsoleAction::kEnter;
      if (entered) entered->assign(ed.line, ed.length);
      ConsoleHistoryAdd(ed, ed.line);
      SetLine(ed, "");
      return ConsoleAction::kExecute;
    case TerminalKey::kTab:
      return Complete(ed, true);
    case TerminalKey::kShiftTab:
      return Complete(ed, false);
    case TerminalKey::kPageUp:
    case TerminalKey::kPageDown:
    case TerminalKey::kNone:
    case TerminalKey::kInterrupt:
    case TerminalKey::kEndOfInput:
      return ConsoleAction::kNone;
  }
  return ConsoleAction::kNone;
}

ConsoleAction ConsoleEditorChar(ConsoleEditor& ed, char c, int repeat) {
  ed.completing = false;
  if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return ConsoleAction::kBell;
  ConsoleAction result = ConsoleAction::kNone;
  for (int i = 0; i < repeat; ++i) {
    if (TypeOne(ed, c) == ConsoleAction::kBell) {
      result = ConsoleAction::kBell;
      break;
    }
  }
  return result;
}

void ConsoleEditorDropFile(ConsoleEditor& ed, const char* fullName, const char* scriptDirectory,
                           const char* dataDirectory) {
  ed.completing = false;
  ed.caret = ed.length;
  if (ed.length > 0 && ed.line[ed.length - 1] != ' ') ConsoleEditorChar(ed, ' ');
  const std::size_t n = std::strlen(fullName);
  const bool script = n >= 4 && std::strcmp(fullName + n - 4, ".omb") == 0;
  const char* dir = script ? scriptDirectory : dataDirectory;
  const char* rest = fullName;
  if (dir && *dir && std::strncmp(fullName, dir, std::strlen(dir)) == 0) rest += std::strlen(dir);
  for (; *rest; ++rest) ConsoleEditorChar(ed, *rest);
  ConsoleEditorChar(ed, ' ');
}

}  // namespace interp

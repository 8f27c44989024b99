// The console's input line as a plain state machine: keys and characters go
// in, the edited line, the caret and what the caller must do (sound the bell,
// run an entered line) come out. It knows nothing of terminals or windows, so
// tests drive it key by key.
//
// Invariants: 0 <= caret <= length <= kConsoleLineMax; line[length] == '\0'.
// The history is a 2048-byte store of NUL-terminated entries, oldest first,
// that never holds 2047 bytes or more; historyCursor is the byte offset of the
// entry Up/Down last showed, or historyUsed when it is past the newest entry.
// Completion walks the command table given at set-up, in table order.
#pragma once

#include <string>

#include "platform/terminal.h"

namespace interp {

inline constexpr int kConsoleLineMax = 256;
inline constexpr int kConsoleHistoryBytes = 2048;
// At most this many characters of a completion prefix are compared.
inline constexpr int kCompletionCompareMax = 32;

struct ConsoleEditor {
  char line[kConsoleLineMax + 1] = {};
  int length = 0;
  int caret = 0;
  bool overwrite = false;  // insert mode is the default

  char history[kConsoleHistoryBytes] = {};
  int historyUsed = 0;
  int historyCursor = 0;

  // Completion cycle: running, its prefix, and the last entry it completed
  // (-1 before the first entry of the table).
  bool completing = false;
  std::string completionPrefix;
  int lastCompleted = -1;

  const char* const* commands = nullptr;
  int commandCount = 0;
};

enum class ConsoleAction {
  kNone,     // the line may have changed; redraw it
  kBell,     // refused: sound the error bell, nothing changed
  kEnter,    // Enter on an empty line: scroll only
  kExecute,  // Enter with text: the entered line is to be run
};

void ConsoleEditorInit(ConsoleEditor& ed, const char* const* commands, int commandCount);

// A navigation or editing key. For kExecute the entered line is put in *entered.
ConsoleAction ConsoleEditorKey(ConsoleEditor& ed, platform::TerminalKey key, std::string* entered);
// A typed character, repeat times over (a bell if any of them was refused).
ConsoleAction ConsoleEditorChar(ConsoleEditor& ed, char c, int repeat = 1);

// Types a dropped file's name: a blank first if the line has text that does
// not end in one; a leading script directory (".omb" names) or data directory
// (any other) removed; a blank after it. Directories end in "/".
void ConsoleEditorDropFile(ConsoleEditor& ed, const char* fullName, const char* scriptDirectory,
                           const char* dataDirectory);

// Appends a line to the history, dropping the oldest entries to make room.
void ConsoleHistoryAdd(ConsoleEditor& ed, const char* text);

}  // namespace interp

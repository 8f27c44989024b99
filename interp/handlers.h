// Command handlers and the command table.
//
// Every command is one row of the table (command_table.cpp): its name, its
// handler and up to two variant numbers that the dispatcher passes on, so
// that several commands can share one handler. A handler receives the global
// block and the argument text: the rest of the command line after the command
// word, or nullptr when nothing follows. It reads its words with NextWord,
// posts its messages with PostText and leaves its status in g.error_level
// (the dispatcher has set it to 0 before the call).
//
// Usage convention: an argument text that begins with "?" makes a handler post
// its usage text at level 2 and do nothing else (IsUsageRequest).
#pragma once

#include "interp/global.h"

namespace interp {

using CommandHandler = void (*)(GlobalBlock& g, const char* args, int variant, int mode);

struct CommandEntry {
  const char* name;          // nullptr ends the table
  CommandHandler handler;
  int variant;               // first variant number (operation)
  int mode;                  // second variant number (mode)
};

// The 136 rows: 135 commands and the empty entry that ends the table.
extern const CommandEntry kCommandTable[COMMAND_COUNT + 1];

// Index of a command word (ASCII case-insensitive, first match in table
// order), or COMMAND_COUNT when no command has that name.
int LookUpCommand(const char* word);

// True when the argument text begins with "?" (after blanks).
bool IsUsageRequest(const char* args);

// Posts "not implemented" at level 2 and nothing else: the handler of every
// command whose subsystem has not arrived yet.
void CmdNotImplemented(GlobalBlock& g, const char* args, int variant, int mode);

// The interpreter's own commands (dispatcher.cpp, scripts.cpp).
void CmdDuration(GlobalBlock& g, const char* args, int variant, int mode);
void CmdEcho(GlobalBlock& g, const char* args, int variant, int mode);
void CmdGoTo(GlobalBlock& g, const char* args, int variant, int mode);
void CmdIf(GlobalBlock& g, const char* args, int variant, int mode);   // variant: If* kind
void CmdQuit(GlobalBlock& g, const char* args, int variant, int mode);
void CmdZzz(GlobalBlock& g, const char* args, int variant, int mode);
void CmdCall(GlobalBlock& g, const char* args, int variant, int mode);
void CmdReturn(GlobalBlock& g, const char* args, int variant, int mode);
void CmdShowMap(GlobalBlock& g, const char* args, int variant, int mode);
void CmdShowPanel(GlobalBlock& g, const char* args, int variant, int mode);

// The variants of CmdIf.
inline constexpr int IF_ERRORLEVEL = 1;
inline constexpr int IF_NOT_ERRORLEVEL = 2;
inline constexpr int IF_EXIST = 3;
inline constexpr int IF_NOT_EXIST = 4;

}  // namespace interp

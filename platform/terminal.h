// The terminal as the console: raw mode through termios, decoding of the key
// escape sequences that terminals send, and the escape sequences that draw
// (24-bit colours, clearing a line, caret shapes).
//
// Decoding is a plain byte-fed state machine (TerminalDecoder) so it can be
// tested without a terminal. Home/End arrive as ESC[H/ESC[F, ESC[1~/ESC[4~,
// ESC[7~/ESC[8~ or ESC O H/ESC O F; Shift+Tab as ESC[Z; Insert ESC[2~;
// Delete ESC[3~. A lone Escape is only known when no further byte follows
// within a short time: the caller asks TerminalDecoderFlush after that time.
#pragma once

#include <string>

namespace platform {

enum class TerminalKey {
  kNone,
  kLeft,
  kRight,
  kHome,
  kEnd,
  kUp,
  kDown,
  kInsert,
  kDelete,
  kPageUp,
  kPageDown,
  kBackspace,
  kEscape,
  kEnter,
  kTab,
  kShiftTab,
  kInterrupt,  // Ctrl+C
  kEndOfInput  // Ctrl+D on an empty line
};

// One decoded event: a key, or a printable character (key == kNone).
struct TerminalEvent {
  TerminalKey key = TerminalKey::kNone;
  char ch = 0;
};

struct TerminalDecoder {
  char pending[16] = {};  // bytes of an escape sequence not yet complete
  int pendingLength = 0;
  bool afterCarriageReturn = false;  // a line feed right after CR is the same Enter
};

// Feeds one byte; returns the number of events it completes (0 to 2: an
// Escape followed by a byte that cannot continue a sequence gives both).
int TerminalDecoderFeed(TerminalDecoder& d, unsigned char byte, TerminalEvent events[2]);
// Ends a pending sequence after the escape timeout; true for a lone Escape.
bool TerminalDecoderFlush(TerminalDecoder& d, TerminalEvent* event);
bool TerminalDecoderPending(const TerminalDecoder& d);

// Raw mode on standard input (no echo, no line buffering, no signals from
// Ctrl+C). Returns false when standard input is not a terminal. Restored by
// TerminalRestore, and at exit.
// (StdinIsTerminal and StdoutIsTerminal are in platform/files.h.)
bool TerminalEnterRaw();
void TerminalRestore();
// Around a child process that uses the terminal (Shell): Suspend gives the
// terminal back in its normal mode and tells whether raw mode was on;
// Resume(true) turns raw mode on again.
bool TerminalSuspend();
void TerminalResume(bool wasRaw);
int TerminalColumns();

// Escape sequences.
std::string TerminalColor(int r, int g, int b);      // 24-bit foreground colour
std::string TerminalBackground(int r, int g, int b);  // 24-bit background colour
inline constexpr const char* kTerminalReset = "\x1b[0m";
inline constexpr const char* kTerminalClearLine = "\r\x1b[2K";
inline constexpr const char* kTerminalCaretBar = "\x1b[6 q";    // insert mode
inline constexpr const char* kTerminalCaretBlock = "\x1b[2 q";  // overwrite mode

// Writes all bytes to standard output (retrying short writes).
void TerminalWrite(const std::string& bytes);
// The bell: the system's error and exclamation sounds.
void TerminalBell();

}  // namespace platform

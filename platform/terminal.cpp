// Terminal input and output for the console.
//
// The decoder collects an escape sequence byte by byte: ESC, then "[" or "O",
// then CSI parameter bytes (digits and ";") up to a final byte. The final byte
// (and for "~" the first parameter) names the key; modifiers after ";" are
// ignored, so Ctrl+Left is Left. Anything it does not know is dropped whole
// rather than typed into the line.
//
// Raw mode keeps output processing on (so "\n" still returns the carriage)
// and turns off echo, canonical input and the signal keys; the previous
// settings are put back by TerminalRestore and by an atexit handler.
#include "platform/terminal.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {

TerminalEvent KeyEvent(TerminalKey k) {
  TerminalEvent e;
  e.key = k;
  return e;
}

TerminalKey FinalKey(char final, int param) {
  switch (final) {
    case 'A': return TerminalKey::kUp;
    case 'B': return TerminalKey::kDown;
    case 'C': return TerminalKey::kRight;
    case 'D': return TerminalKey::kLeft;
    case 'H': return TerminalKey::kHome;
    case 'F': return TerminalKey::kEnd;
    case 'Z': return TerminalKey::kShiftTab;
    case '~':
      switch (param) {
        case 1: case 7: return TerminalKey::kHome;
        case 4: case 8: return TerminalKey::kEnd;
        case 2: return TerminalKey::kInsert;
        case 3: return TerminalKey::kDelete;
        case 5: return TerminalKey::kPageUp;
        case 6: return TerminalKey::kPageDown;
        default: return TerminalKey::kNone;
      }
    default: return TerminalKey::kNone;
  }
}

// Decodes a plain byte (no sequence pending).
int PlainByte(TerminalDecoder& d, unsigned char byte, TerminalEvent* out) {
  const bool afterCr = d.afterCarriageReturn;
  d.afterCarriageReturn = byte == '\r';
  switch (byte) {
    case '\r': *out = KeyEvent(TerminalKey::kEnter); return 1;
    case '\n':
      if (afterCr) return 0;
      *out = KeyEvent(TerminalKey::kEnter);
      return 1;
    case '\t': *out = KeyEvent(TerminalKey::kTab); return 1;
    case 0x7f: case 0x08: *out = KeyEvent(TerminalKey::kBackspace); return 1;
    case 0x03: *out = KeyEvent(TerminalKey::kInterrupt); return 1;
    case 0x04: *out = KeyEvent(TerminalKey::kEndOfInput); return 1;
    case 0x01: *out = KeyEvent(TerminalKey::kHome); return 1;  // Ctrl+A
    case 0x05: *out = KeyEvent(TerminalKey::kEnd); return 1;   // Ctrl+E
    default: break;
  }
  if (byte < 0x20) return 0;
  out->key = TerminalKey::kNone;
  out->ch = static_cast<char>(byte);
  return 1;
}

struct termios g_saved;
bool g_raw = false;
bool g_atexitSet = false;

}  // namespace

bool TerminalDecoderPending(const TerminalDecoder& d) { return d.pendingLength > 0; }

int TerminalDecoderFeed(TerminalDecoder& d, unsigned char byte, TerminalEvent events[2]) {
  if (d.pendingLength == 0) {
    if (byte == 0x1b) {
      d.pending[d.pendingLength++] = 0x1b;
      d.afterCarriageReturn = false;
      return 0;
    }
    return PlainByte(d, byte, &events[0]);
  }
  if (d.pendingLength == 1) {
    if (byte == '[' || byte == 'O') {
      d.pending[d.pendingLength++] = static_cast<char>(byte);
      return 0;
    }
    // ESC then something else: a lone Escape, then the byte on its own.
    d.pendingLength = 0;
    events[0] = KeyEvent(TerminalKey::kEscape);
    if (byte == 0x1b) {
      d.pending[d.pendingLength++] = 0x1b;
      return 1;
    }
    return 1 + PlainByte(d, byte, &events[1]);
  }
  const bool ss3 = d.pending[1] == 'O';
  if (!ss3 && byte >= 0x30 && byte <= 0x3f) {
    if (d.pendingLength < static_cast<int>(sizeof d.pending)) d.pending[d.pendingLength++] = static_cast<char>(byte);
    return 0;
  }
  // A final byte ends the sequence.
  int param = 0;
  for (int i = 2; i < d.pendingLength && d.pending[i] >= '0' && d.pending[i] <= '9'; ++i) {
    if (param < 1000) param = param * 10 + (d.pending[i] - '0');
  }
  d.pendingLength = 0;
  if (byte < 0x40 || byte > 0x7e) return 0;
  const TerminalKey k = FinalKey(static_cast<char>(byte), param);
  if (k == TerminalKey::kNone) return 0;
  events[0] = KeyEvent(k);
  return 1;
}

bool TerminalDecoderFlush(TerminalDecoder& d, TerminalEvent* event) {
  // A sequence cut short (ESC [ with nothing after it) is dropped.
  const bool lone = d.pendingLength == 1;
  d.pendingLength = 0;
  if (lone && event) *event = KeyEvent(TerminalKey::kEscape);
  return lone;
}

int TerminalColumns() {
  struct winsize ws {};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

bool TerminalEnterRaw() {
  if (isatty(STDIN_FILENO) != 1) return false;
  if (g_raw) return true;
  if (tcgetattr(STDIN_FILENO, &g_saved) != 0) return false;
  struct termios raw = g_saved;
  raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | IXON | INLCR | IGNCR);
  raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | ISIG | IEXTEN);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) != 0) return false;
  g_raw = true;
  if (!g_atexitSet) {
    g_atexitSet = true;
    std::atexit(TerminalRestore);
  }
  return true;
}

void TerminalRestore() {
  if (!g_raw) return;
  TerminalWrite(kTerminalCaretBlock);
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
  g_raw = false;
}

bool TerminalSuspend() {
  const bool was = g_raw;
  TerminalRestore();
  return was;
}

void TerminalResume(bool wasRaw) {
  if (wasRaw) TerminalEnterRaw();
}

std::string TerminalColor(int r, int g, int b) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "\x1b[38;2;%d;%d;%dm", r & 255, g & 255, b & 255);
  return buf;
}

std::string TerminalBackground(int r, int g, int b) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "\x1b[48;2;%d;%d;%dm", r & 255, g & 255, b & 255);
  return buf;
}

void TerminalWrite(const std::string& bytes) {
  std::fflush(stdout);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

void TerminalBell() { TerminalWrite("\a"); }

}  // namespace platform

// pagewatch [file]: shows a text file as it grows. What the file holds goes
// to standard output; the program's own messages and its spinner go to the
// standard error stream (the console). Escape ends it. Started before the
// file exists, it waits for it.
//
// The terminal is put in a mode without line buffering or echo only while the
// program runs, and is restored on every way out: Escape, the end of input,
// and the signals that end a console program (Ctrl+C among them).
#include "apps/pagewatch/follow.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

struct termios g_saved;
volatile sig_atomic_t g_raw = 0;

void RestoreTerminal() {
  if (g_raw) {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
    g_raw = 0;
  }
}

void OnSignal(int sig) {
  RestoreTerminal();
  signal(sig, SIG_DFL);
  raise(sig);
}

void EnterKeyMode() {
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &g_saved) != 0) return;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) sigaction(sig, &sa, nullptr);
  struct termios raw = g_saved;
  // Keys arrive one at a time and unechoed; Ctrl+C still raises SIGINT.
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) g_raw = 1;
}

// Keys: standard input is polled for up to timeout_ms. An Escape alone ends
// the program; the Escape that starts a key's sequence (arrows, function
// keys) is followed at once by more bytes and is ignored with them.
bool g_input_open = true;

bool EscapePressed(int timeout_ms) {
  if (!g_input_open) {
    poll(nullptr, 0, timeout_ms);
    return false;
  }
  struct pollfd p {STDIN_FILENO, POLLIN, 0};
  int r = poll(&p, 1, timeout_ms);
  if (r <= 0 || !(p.revents & (POLLIN | POLLHUP))) return false;
  unsigned char buf[64];
  ssize_t n = read(STDIN_FILENO, buf, sizeof(buf));
  if (n <= 0) {
    if (n == 0 || errno != EINTR) g_input_open = false;  // no keyboard: run until ended
    return false;
  }
  for (ssize_t i = 0; i < n; ++i) {
    if (buf[i] != 0x1b) continue;
    if (i + 1 < n) {  // a sequence's lead byte in the same read
      if (buf[i + 1] == '[' || buf[i + 1] == 'O') continue;
      return true;
    }
    // The last byte read: a lone Escape unless more follows at once.
    struct pollfd q {STDIN_FILENO, POLLIN, 0};
    if (poll(&q, 1, 30) <= 0) return true;
    unsigned char next;
    if (read(STDIN_FILENO, &next, 1) != 1) return true;
    if (next != '[' && next != 'O') return true;
  }
  return false;
}

void Console(const char* text) {
  ssize_t ignored = write(STDERR_FILENO, text, strlen(text));
  (void)ignored;
}

const char* const kSpinner[4] = {"|\r", "/\r", "-\r", "\\\r"};

long long NowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

int Finish(pagewatch::Follower& f) {
  Console(" ");
  pagewatch::FollowerClose(f);
  RestoreTerminal();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && strncmp(argv[1], "/?", 2) == 0) {
    fputs("usage: pagewatch file\n", stderr);
    return 0;
  }
  signal(SIGPIPE, SIG_IGN);
  pagewatch::Follower f;
  f.path = argc > 1 ? std::string(argv[1]).substr(0, 256) : std::string("pwprtr.txt");
  EnterKeyMode();
  atexit(RestoreTerminal);

  int spin = 0;
  if (!pagewatch::FollowerOpen(f)) {
    fprintf(stderr, "waiting for file %s\n", f.path.c_str());
    fputs("(Press <ESC> to exit)\n", stderr);
    for (;;) {
      // Once a second: Escape ends, otherwise the file is tried again.
      long long until = NowMs() + 1000;
      bool escape = false;
      for (long long left; !escape && (left = until - NowMs()) > 0;) escape = EscapePressed(static_cast<int>(left));
      if (escape) return Finish(f);
      if (pagewatch::FollowerOpen(f)) break;
      Console(kSpinner[spin++ & 3]);
    }
  }
  fprintf(stderr, "pagewatch reading %s\n", f.path.c_str());
  if (pagewatch::FollowerPump(f, STDOUT_FILENO) < 0) return Finish(f);
  for (long long pass = 0;; ++pass) {
    long long until = NowMs() + 200;
    bool escape = false;
    for (long long left; !escape && (left = until - NowMs()) > 0;) escape = EscapePressed(static_cast<int>(left));
    if (escape) break;
    long long copied = pagewatch::FollowerPump(f, STDOUT_FILENO);
    if (copied < 0) break;  // the output is gone
    if (copied == 0 && pass % 4 == 0) Console(kSpinner[spin++ & 3]);
  }
  return Finish(f);
}

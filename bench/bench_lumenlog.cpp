// Requests per second into a headless lumenlog: 200 000 marker and line
// requests posted through one client, then a client-size query, whose answer
// comes only once every request before it has been taken.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/window_channel.h"

int main() {
  const char* bin = getenv("OMBREL_BIN");
  const std::string prog = std::string(bin ? bin : OMBREL_BIN_DIR) + "/lumenlog";
  char dir[] = "/tmp/ombrel_bench_lumen_XXXXXX";
  if (!mkdtemp(dir)) return 1;
  setenv("XDG_RUNTIME_DIR", dir, 1);
  pid_t pid = fork();
  if (pid == 0) {
    execl(prog.c_str(), "lumenlog", "--headless", nullptr);
    _exit(127);
  }
  for (int i = 0; i < 300 && platform::WindowFind("lumenlog") != 0; ++i) usleep(10000);
  platform::WindowClient c;
  if (platform::WindowConnect(c, "lumenlog") != 0) {
    fprintf(stderr, "bench_lumenlog: no window\n");
    return 1;
  }
  const int n = 200000;
  const auto t0 = std::chrono::steady_clock::now();
  int sent = 0;
  for (int i = 0; i < n; ++i) {
    platform::WindowRequest r;
    r.number = 1024 + (i % 2 ? 11 : 3);
    r.first = 1;
    r.second = ((i * 7) % 240) << 16 | ((i * 13) % 320);
    sent += platform::WindowSend(c, r) == 0;
  }
  int w = 0, h = 0;
  const bool answered = platform::WindowQueryClient(c, &w, &h) == 0;
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  printf("lumenlog: %d requests taken in %.3f s, %.0f requests/s (goal >= 100000)%s\n", sent, s, sent / s,
         answered ? "" : " (no answer to the closing query)");
  platform::WindowDisconnect(c);
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  rmdir(dir);
  return 0;
}

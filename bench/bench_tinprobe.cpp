// tinprobe -p=0 on 100 000 random points, drawing into a headless lumenlog
// and printing its trace, beside the silent q2mtin of the same points in the
// same run (goal: at most 3 times the silent time). The processor time of
// both programs is printed too: on a loaded machine the wall-clock times
// of the two processes say more about the neighbours than about them.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "lib/ops/q2mtin.h"
#include "platform/window_channel.h"

int main() {
  const char* bin_env = getenv("OMBREL_BIN");
  const std::string bin = bin_env ? bin_env : OMBREL_BIN_DIR;
  char dir[] = "/tmp/ombrel_bench_tin_XXXXXX";
  if (!mkdtemp(dir)) return 1;
  setenv("XDG_RUNTIME_DIR", dir, 1);
  const int n = 100000;
  std::mt19937 rng(8);
  std::uniform_real_distribution<float> u(0, 1000);
  std::vector<ops::PlanarPoint> p;
  std::string file = std::string(dir) + "/p.ptp";
  FILE* f = fopen(file.c_str(), "w");
  fprintf(f, "0 0\n");
  for (int i = 0; i < n; ++i) {
    const float x = u(rng), y = u(rng);
    fprintf(f, "%.9g %.9g 0\n", x, y);
    p.push_back({x, y});
  }
  fclose(f);
  double silent = 1e30;
  for (int r = 0; r < 3; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    ops::Tin tin;
    ops::q2mtin(p.data(), n, 0, 0, &tin);
    silent = std::min(silent, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  pid_t window = fork();
  if (window == 0) {
    execl((bin + "/lumenlog").c_str(), "lumenlog", "--headless", nullptr);
    _exit(127);
  }
  for (int i = 0; i < 300 && platform::WindowFind("lumenlog") != 0; ++i) usleep(10000);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  const auto t0 = std::chrono::steady_clock::now();
  pid_t probe = fork();
  if (probe == 0) {
    if (chdir(dir) != 0 || !freopen("out.txt", "w", stdout)) _exit(126);
    execl((bin + "/tinprobe").c_str(), "tinprobe", "-p=0", "p.ptp", nullptr);
    _exit(127);
  }
  int status = 0;
  struct rusage probe_use {}, window_use {};
  wait4(probe, &status, 0, &probe_use);
  const double traced = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  // The window has drawn everything once it answers a query posted after it.
  platform::WindowClient c;
  int w = 0, h = 0;
  const bool answered = platform::WindowConnect(c, "lumenlog") == 0 && platform::WindowQueryClient(c, &w, &h) == 0;
  const double drawn = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  platform::WindowDisconnect(c);
  kill(window, SIGTERM);
  wait4(window, nullptr, 0, &window_use);
  printf("tinprobe -p=0, %d points, traced and drawn: %.3f s (status %d; the window done at %.3f s%s)   silent q2mtin %.3f s   "
         "ratio %.2f (goal <= 3)\n",
         n, traced, WIFEXITED(status) ? WEXITSTATUS(status) : -1, drawn, answered ? "" : ", no answer", silent, traced / silent);
  printf("  processor time: tinprobe %.3f s, lumenlog %.3f s (user + system)\n",
         seconds(probe_use.ru_utime) + seconds(probe_use.ru_stime), seconds(window_use.ru_utime) + seconds(window_use.ru_stime));
  system(("rm -rf " + std::string(dir)).c_str());
  return 0;
}

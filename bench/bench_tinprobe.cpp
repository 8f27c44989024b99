// tinprobe -p=0 on 100 000 random points, drawing into a headless lumenlog
// and printing its trace, beside the silent q2mtin of the same points in the
// same run (goal: at most 3 times the silent time).
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
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
  const auto t0 = std::chrono::steady_clock::now();
  const std::string cmd = "cd " + std::string(dir) + " && " + bin + "/tinprobe -p=0 p.ptp > out.txt";
  const int status = system(cmd.c_str());
  const double traced = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  kill(window, SIGTERM);
  waitpid(window, nullptr, 0);
  printf("tinprobe -p=0, %d points, traced and drawn: %.3f s (status %d)   silent q2mtin %.3f s   ratio %.2f (goal <= 3)\n",
         n, traced, status, silent, traced / silent);
  system(("rm -rf " + std::string(dir)).c_str());
  return 0;
}

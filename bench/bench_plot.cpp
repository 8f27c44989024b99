// Plot figures: Europe at 1:5 000 000 (stereo about N50 E10), each command
// three times to the 1056 x 684 screen and three times to the a4 plot in one
// ombrel run, best milliseconds of each (the command's Duration); the plot
// file's bytes; and the PE encoding of random polylines in points a second.
// Duration counts whole milliseconds, so the area fill is also measured in
// processor time: runs of 20 fills to each target less a run without, best
// of three each.
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "lib/plot/hpgl.h"

namespace {

std::string BinDir() {
  const char* bin = getenv("OMBREL_BIN");
  char resolved[4096];
  if (realpath(bin ? bin : "bin", resolved)) return resolved;
  return bin ? bin : "bin";
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/ombrel_bench_plot_XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string dir = tmpl;
  const char* commands[] = {"DrawCoast", "DrawGrid", "DisplayArea land"};
  {
    std::ofstream s(dir + "/b.omb");
    s << "MapFieldSize 1056 684\nGeometry N50 E10 5e6 stereo\nImportRset land " << BinDir() << "/land10m.rgn\n";
    for (int target = 0; target < 2; ++target) {
      for (const char* c : commands) {
        if (target) s << "PlotStart a4 " << dir << "/" << (c[1] == 'r' ? c + 4 : "Area") << "\n";
        for (int i = 0; i < 3; ++i) s << (target ? "" : "") << c << "\nDuration\n";
        if (target) s << "PlotEnd\n";
      }
    }
  }
  const std::string cmd = "cd " + dir + " && SDL_VIDEODRIVER=dummy " + BinDir() + "/ombrel --batch b.omb 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  std::map<std::string, double> best[2];
  int target = 0;
  std::string last;
  char line[512];
  while (p && fgets(line, sizeof line, p)) {
    line[strcspn(line, "\n")] = 0;
    if (strncmp(line, "PlotStart", 9) == 0) target = 1;
    int h, m;
    double sec;
    if (!last.empty() && sscanf(line, "%d:%d:%lf", &h, &m, &sec) == 3) {
      const double ms = ((h * 60.0 + m) * 60.0 + sec) * 1000.0;
      double& b = best[target][last];
      if (b == 0 || ms < b) b = ms;
    }
    bool is_command = false;
    for (const char* c : commands) is_command = is_command || strcmp(line, c) == 0;
    if (is_command) last = line;
    else if (strncmp(line, "Duration", 8) != 0) last.clear();
  }
  if (p) pclose(p);
  printf("%-18s %10s %10s %7s %10s\n", "command", "screen ms", "plot ms", "ratio", "plot bytes");
  for (const char* c : commands) {
    struct stat st;
    const std::string file = dir + "/" + (c[1] == 'r' ? c + 4 : "Area") + ".hpg";
    const long bytes = stat(file.c_str(), &st) == 0 ? (long)st.st_size : -1;
    const double s = best[0][c], q = best[1][c];
    printf("%-18s %10.1f %10.1f %7.2f %10ld\n", c, s, q, s > 0 ? q / s : 0.0, bytes / 3);
  }
  // The area fill in processor time: ombrel runs (and their children's
  // time) with 0 and 20 fills to the screen and to the plot.
  auto run_ms = [&](int fills, bool to_plot) {
    {
      std::ofstream s(dir + "/f.omb");
      s << "MapFieldSize 1056 684\nGeometry N50 E10 5e6 stereo\nImportRset land " << BinDir() << "/land10m.rgn\n";
      if (to_plot) s << "PlotStart a4 " << dir << "/f\n";
      for (int i = 0; i < fills; ++i) s << "DisplayArea land\n";
      if (to_plot) s << "PlotEnd\n";
    }
    double best = 1e30;
    for (int r = 0; r < 3; ++r) {
      struct rusage before {}, after {};
      getrusage(RUSAGE_CHILDREN, &before);
      const std::string c = "cd " + dir + " && SDL_VIDEODRIVER=dummy " + BinDir() + "/ombrel --batch f.omb > /dev/null 2>&1";
      if (std::system(c.c_str()) != 0) return -1.0;
      getrusage(RUSAGE_CHILDREN, &after);
      auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
      best = std::min(best, ms(after.ru_utime) + ms(after.ru_stime) - ms(before.ru_utime) - ms(before.ru_stime));
    }
    return best;
  };
  const double base_screen = run_ms(0, false), base_plot = run_ms(0, true);
  const double screen_ms = (run_ms(20, false) - base_screen) / 20, plot_ms = (run_ms(20, true) - base_plot) / 20;
  printf("DisplayArea land 10m, processor time a fill (20 fills less none): screen %.2f ms, plot %.2f ms, ratio %.2f "
         "(goal <= 1.5)\n",
         screen_ms, plot_ms, screen_ms > 0 ? plot_ms / screen_ms : 0.0);
  // PE encoding: random polylines of 64 points (a piece), plotter-sized steps.
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> step(-300, 300);
  std::vector<display::DrawPoint> pts(64);
  double x = 5000, y = 4000;
  for (auto& q : pts) q = {x += step(rng), y += step(rng)};
  std::string out;
  out.reserve(1 << 20);
  const auto t0 = std::chrono::steady_clock::now();
  int64_t points = 0;
  while (std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(500)) {
    for (int k = 0; k < 1000; ++k) {
      out.clear();
      plot::AppendPolyline(out, pts.data(), pts.size());
      points += (int64_t)pts.size();
    }
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  printf("PE encoding: %.1f million points a second\n", points / s / 1e6);
  std::system(("rm -rf " + dir).c_str());
  return 0;
}

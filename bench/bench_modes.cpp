// Pointer modes, timed:
//   - growing isotype by 10 000 random centres (seed 18713): the insertions
//     alone through lib/cells/cell_grow, and AddCellCenters in the program
//     (insertions, drawing the changed cells, verification and writing);
//   - an entry script of 10 000 events (EnterLset: 1 000 clicked vertices,
//     9 000 pointer moves each redrawing the rubber band) fed by --events in
//     a batch run, per event, over the same run without the events.
// No peer library does either job; the goals are under 1 s for the growth
// and well under a frame (0.1 ms) per event.
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>

#include "lib/cells/cell_grow.h"
#include "lib/cells/index_file.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point a) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

// Processor time of the finished child processes so far, seconds.
double ChildSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs ombrel --batch in dir; returns the wall time, the output in *out and
// the processor time in *cpu.
double RunProgram(const std::string& bin, const std::string& dir, const std::string& args, std::string* out,
                  double* cpu = nullptr) {
  const double c0 = ChildSeconds();
  const std::string cmd = "cd '" + dir + "' && '" + bin + "/ombrel' --batch " + args + " 2>&1";
  const auto t0 = std::chrono::steady_clock::now();
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out->append(buf, n);
  pclose(p);
  if (cpu) *cpu = ChildSeconds() - c0;
  return Seconds(t0);
}

}  // namespace

int main() {
  const char* bin = getenv("OMBREL_BIN");
  std::string bindir = bin ? bin : "bin";
  FILE* f = fopen((bindir + "/isotype.vix").c_str(), "rb");
  if (!f) {
    fprintf(stderr, "bench_modes: no %s/isotype.vix (set OMBREL_BIN)\n", bindir.c_str());
    return 1;
  }
  cells::CellIndex idx;
  if (cells::LoadVix(f, idx, 1) != 0) return 1;
  fclose(f);

  // The growth alone.
  cells::GrowState grow;
  if (cells::BeginGrow(grow, idx, 10000) != 0) return 1;
  cells::GrowRandom random;
  cells::SeedGrowRandom(random, cells::FIXED_GROW_SEED);
  const auto t0 = std::chrono::steady_clock::now();
  const std::clock_t c0 = std::clock();
  int done = 0;
  for (int i = 0; i < 10000; ++i)
    if (cells::InsertCentre(grow, cells::RandomCentre(random)) == cells::INSERT_DONE) ++done;
  const double insert_s = Seconds(t0);
  const double insert_cpu = double(std::clock() - c0) / CLOCKS_PER_SEC;
  cells::EndGrow(grow);
  // The machine may be shared: the processor time is given beside the wall time.
  printf("grow isotype by 10000 random centres: %.3f s (%.3f s processor), %.0f insertions/s (%d inserted)\n",
         insert_s, insert_cpu, done / insert_cpu, done);

  char templ[] = "/tmp/ombrel-bench-modes-XXXXXX";
  if (!mkdtemp(templ)) return 1;
  const std::string dir = templ;
  std::string out;
  std::ofstream(dir + "/grow.omb") << "AddCellCenters grown c1 -10000\nDuration\n";
  double grow_cpu = 0;
  RunProgram(bindir, dir, "grow.omb", &out, &grow_cpu);
  const size_t at = out.rfind("Duration\n");
  printf("AddCellCenters grown c1 -10000 in the program: %.3f s processor for the whole run; Duration %s", grow_cpu,
         at == std::string::npos ? "(none)\n" : out.substr(at + 9).c_str());

  // The entry script.
  {
    std::ofstream ev(dir + "/entry.events");
    for (int i = 0; i < 1000; ++i) {
      const int x = 100 + (i * 37) % 800, y = 60 + (i * 53) % 560;
      for (int k = 1; k <= 9; ++k) ev << "move " << x + 2 * k << ' ' << y + k << '\n';
      ev << "click " << x << ' ' << y << '\n';
    }
    ev << "key SPACE\nkey ENTER\n";
  }
  std::ofstream(dir + "/entry.omb") << "EnterLset lines\nLength lines\n";
  std::ofstream(dir + "/empty.events") << "";
  std::string o1, o2;
  double base_cpu = 0, full_cpu = 0;
  const double base = RunProgram(bindir, dir, "--events empty.events entry.omb", &o1, &base_cpu);
  const double full = RunProgram(bindir, dir, "--events entry.events entry.omb", &o2, &full_cpu);
  printf("entry script of 10002 events: %.3f s run, %.3f s without the events: %.4f ms per event "
         "(processor: %.4f ms per event)\n",
         full, base, (full - base) * 1000.0 / 10002, (full_cpu - base_cpu) * 1000.0 / 10002);
  const size_t v = o2.find("Vertices:");
  if (v != std::string::npos) printf("  %s", o2.substr(v, o2.find('\n', v) - v + 1).c_str());
  if (system(("rm -rf '" + dir + "'").c_str()) != 0) return 1;
  cells::ReleaseIndex(idx);
  return 0;
}

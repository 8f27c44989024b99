// The example Europe sheet made by sheeter, end to end (start-up, index,
// line work, themes, labels, frame), beside the same plot made by
// ombrel --batch (PlotStart, DrawGrid, DrawCoast, DisplayArea, DisplayLines,
// DisplayPoints, PlotEnd) in the same run; best of five each. Goals: sheeter
// within 1.2 times ombrel; the world sheet under 3 s.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

double Time(const std::string& command, int* status) {
  const auto t0 = std::chrono::steady_clock::now();
  const int rc = std::system(command.c_str());
  *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

}  // namespace

int main() {
  const char* bin_env = std::getenv("OMBREL_BIN");
  const std::string bin = bin_env ? bin_env : OMBREL_BIN_DIR;
  char dir[] = "/tmp/ombrel_bench_sheeter_XXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string d = dir, atlas = bin + "/atlas";
  // ombrel's home: the shipped files and the sheet's format as keys.
  std::system(("mkdir -p " + d + "/home && for f in coast.sgm coast.vtx isotype.vix ombrel.html vthpglm.mrk; do "
               "ln -s " + bin + "/$f " + d + "/home/$f 2>/dev/null; done").c_str());
  {
    std::ofstream o(d + "/home/ombrel.oin");
    o << Slurp(bin + "/ombrel.oin")
      << "\n[sheet format]\nsa4.left = 1200\nsa4.right = 11600\nsa4.bottom = 1600\nsa4.top = 7600\n"
         "sa4.width = 0.26\nsa4.height = 0.15\nsa4.device = 2\nsa4.init.string = IN;\n";
    std::ofstream s(d + "/t.omb");
    s << "Geometry N50 E10 2e7 stereo\nPlotStart sa4 " << d << "/ombrel.hpg\nDrawGrid r4\nDrawCoast r1w1\n"
      << "DisplayArea " << atlas << "/land r3p0\nDisplayLines " << atlas << "/routes r2w1\nDisplayPoints " << atlas
      << "/cities r1m1\nPlotEnd\n";
  }
  const std::string ombrel = "cd " + d + " && SDL_VIDEODRIVER=dummy OMBREL_HOME=" + d + "/home " + bin +
                             "/ombrel --batch t.omb > ombrel.txt 2>&1";
  const std::string europe = "cd " + bin + " && ./sheeter atlas/plotters.ini a4 atlas '' world.atl europe.scn N50 E10 "
                             "2e7 stereo 0 " + d + "/europe.hpg > " + d + "/europe.txt";
  const std::string world = "cd " + bin + " && ./sheeter atlas/plotters.ini a3 atlas '' world.atl world.scn 0 0 1 "
                            "wwmerc 0 " + d + "/world.hpg > " + d + "/world.txt";
  double t_ombrel = 1e30, t_europe = 1e30, t_world = 1e30;
  int s_ombrel = 0, s_europe = 0, s_world = 0;
  for (int r = 0; r < 5; ++r) {
    t_ombrel = std::min(t_ombrel, Time(ombrel, &s_ombrel));
    t_europe = std::min(t_europe, Time(europe, &s_europe));
    t_world = std::min(t_world, Time(world, &s_world));
  }
  std::printf("sheeter Europe sheet %.3f s (status %d, %zu bytes)   ombrel --batch same plot %.3f s (status %d, %zu bytes)"
              "   ratio %.2f (goal <= 1.2)\n",
              t_europe, s_europe, Slurp(d + "/europe.hpg").size(), t_ombrel, s_ombrel, Slurp(d + "/ombrel.hpg").size(),
              t_europe / t_ombrel);
  std::printf("sheeter world sheet (wwmerc, a3) %.3f s (status %d, %zu bytes)   goal < 3 s\n", t_world, s_world,
              Slurp(d + "/world.hpg").size());
  std::system(("rm -rf " + d).c_str());
  return 0;
}

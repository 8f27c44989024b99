// The plot commands run by ombrel --batch with an initialisation file that
// adds test formats: messages, error levels, the files they leave, and the
// plots read back by the test reader.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/plot/hpgl_reader.h"

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

const char* kFormats = R"(
[test formats]
dev0.left = 0
dev3.device = 3
dev3.left = 0
dev3.right = 100
dev3.top = 100
norect.device = 1
norect.left = 5
norect.right = 5
norect.top = 100
negative.device = 1
negative.right = 1000
negative.top = 800
negative.width = -0.1
negative.height = 0.2
small.device = 1
small.right = 4000
small.top = 3000
small.width = 0.1
small.height = 0.075
small.init.string = IN;SP1;
small.term.string = PU;PG;
)";

class PlotRun : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = getenv("OMBREL_BIN");
    ASSERT_NE(bin, nullptr);
    bin_ = bin;
    char tmpl[] = "/tmp/ombrel_plot_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    home_ = dir_ + "/home";
    work_ = dir_ + "/work";
    mkdir(home_.c_str(), 0755);
    mkdir(work_.c_str(), 0755);
    for (const char* f : {"coast.sgm", "coast.vtx", "isotype.vix", "ombrel.html", "vthpglm.mrk", "cities.pts",
                          "land110m.rgn"})
      symlink((bin_ + "/" + f).c_str(), (home_ + "/" + f).c_str());
    // The copy program of the tests records its two arguments.
    copier_ = dir_ + "/copier.sh";
    {
      std::ofstream c(copier_);
      c << "#!/bin/sh\nprintf '%s|%s\\n' \"$1\" \"$2\" >> " << dir_ << "/copies.txt\n";
    }
    chmod(copier_.c_str(), 0755);
    WriteOin("plot.copy.command = " + copier_ + "\n");
  }
  void TearDown() override {
    if (HasFailure()) fprintf(stderr, "kept %s\n", dir_.c_str());
    if (!HasFailure()) system(("rm -rf " + dir_).c_str());
  }
  void WriteOin(const std::string& extra) {
    std::string oin = Slurp(bin_ + "/ombrel.oin");
    // The shipped value of the copy command is replaced, not doubled.
    const size_t at = oin.find("\nplot.copy.command =");
    if (at != std::string::npos) oin.erase(at + 1, oin.find('\n', at + 1) - at);
    // A mono coastline of width 7 (pen width 1.5 mm).
    const size_t coast = oin.find("\nhpgl.mono.coastline =");
    if (coast != std::string::npos)
      oin.replace(coast + 1, oin.find('\n', coast + 1) - coast - 1, "hpgl.mono.coastline = c0/w7");
    std::ofstream o(home_ + "/ombrel.oin");
    o << oin << kFormats << "[more]\n" << extra;
  }
  // Runs a script in the work folder (temporary directory = work folder);
  // returns what it printed.
  std::string Run(const std::string& script, int* status = nullptr) {
    {
      std::ofstream s(work_ + "/t.omb");
      s << "Set temporary.directory = " << work_ << "/\n" << script;
    }
    const std::string cmd = "cd " + work_ + " && OMBREL_HOME=" + home_ + " " + bin_ +
                            "/ombrel --batch t.omb > out.txt 2> err.txt";
    const int rc = system(cmd.c_str());
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return Slurp(work_ + "/out.txt");
  }
  std::string bin_, dir_, home_, work_, copier_;
};

bool Has(const std::string& out, const std::string& line) {
  return out.find("\n" + line + "\n") != std::string::npos || out.rfind(line + "\n", 0) == 0;
}

TEST_F(PlotRun, EachRefusalLeavesNoPlot) {
  const std::string out = Run(R"(Geometry N45 E10 2e7 stereo
PlotStart
IfErrorlevel 4 Echo L4 a
PlotEnd
PlotStart dev0 f0
IfErrorlevel 4 Echo L4 b
PlotStart dev3 f3
IfErrorlevel 4 Echo L4 c
PlotStart norect f4
IfErrorlevel 4 Echo L4 d
PlotStart negative f5
IfErrorlevel 4 Echo L4 e
PlotStart small
IfErrorlevel 4 Echo L4 f
PlotEnd
IfErrorlevel 4 Echo L4 g
PlotStart small /no/such/folder/plot
IfErrorlevel 4 Echo L4 h
PlotEnd
DrawCoast
Echo drew on the screen
PlotStart small good
PlotStart small again
IfErrorlevel 4 Echo L4 i
PlotEnd
)");
  EXPECT_TRUE(Has(out, "Output file or device name not given")) << out;
  EXPECT_TRUE(Has(out, "Bad/missing string name dev0 or device number 0")) << out;
  EXPECT_TRUE(Has(out, "Bad/missing string name dev3 or device number 3")) << out;
  EXPECT_TRUE(Has(out, "Missing/invalid plotter rectangle values 5 5 0 100")) << out;
  EXPECT_TRUE(Has(out, "Missing/invalid plot frame width/height -0.1 0.2")) << out;
  EXPECT_TRUE(Has(out, "No output file/device name given")) << out;
  EXPECT_TRUE(Has(out, "Hardcopy stream file /no/such/folder/plot.hpg open failed")) << out;
  EXPECT_TRUE(Has(out, "Plot output currently active")) << out;
  for (const char* k : {"a", "b", "c", "d", "e", "f", "g", "h", "i"}) EXPECT_TRUE(Has(out, std::string("L4 ") + k)) << k;
  // After every refusal there is no plot: PlotEnd refuses, drawing reaches
  // the screen, and no file was made.
  size_t refusals = 0;
  for (size_t at = 0; (at = out.find("No plot output currently active", at)) != std::string::npos; ++at) ++refusals;
  EXPECT_EQ(refusals, 3u) << out;
  EXPECT_FALSE(Exists(work_ + "/f0.hpg"));
  EXPECT_FALSE(Exists(work_ + "/f3.hpg"));
  EXPECT_FALSE(Exists(work_ + "/f4.hpg"));
  EXPECT_FALSE(Exists(work_ + "/f5.hpg"));
  // The good plot survives the refused second start.
  const std::string plot = Slurp(work_ + "/good.hpg");
  EXPECT_EQ(plot, "IN;SP1;PU;PG;");
  EXPECT_TRUE(Has(out, "Plot output file " + work_ + "/good.hpg open")) << out;
  EXPECT_TRUE(Has(out, "Plot file closed")) << out;
}

TEST_F(PlotRun, StylesClearAndScreenWhilePlotting) {
  const std::string out = Run(R"(Geometry N45 E10 2e7 stereo
PlotStart small a
DrawCoast
Clear red
SaveBitmap screen.png
PlotEnd
PlotStart small b
DrawCoast
PlotEnd
DrawCoast blue
PlotFrame
PlotString "PU;"
PlotInclude a
)");
  const std::string a = Slurp(work_ + "/a.hpg"), b = Slurp(work_ + "/b.hpg");
  // The mono coastline key's width 7 is pen width 1.5 mm.
  EXPECT_NE(a.find("DF;IW0,0,4000,3000;PA;SP1;TR;\nLT;PW1.5;SV;PE=<"), std::string::npos) << a.substr(0, 80);
  EXPECT_EQ(a, b);  // Clear wrote nothing to the plot
  const hpgl_test::Plot r = hpgl_test::ReadPlot(a);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_GT(r.lines.size(), 10u);
  for (const auto& l : r.lines)
    for (const auto& p : l.points) {
      EXPECT_GE(p.x, -3);
      EXPECT_LE(p.x, 4003);
      EXPECT_GE(p.y, -3);
      EXPECT_LE(p.y, 3003);
    }
  EXPECT_TRUE(Exists(work_ + "/screen.png"));
  EXPECT_FALSE(Has(out, "No plot output currently active")) << out;
}

TEST_F(PlotRun, FrameStringInclude) {
  {
    std::ofstream inc(work_ + "/logo.hpg", std::ios::binary);
    inc << std::string("SP1;\0\xff;PU0,0;", 13);
  }
  mkfifo((work_ + "/pipe.hpg").c_str(), 0644);
  mkdir((work_ + "/folder.hpg").c_str(), 0755);
  symlink("/dev/zero", (work_ + "/zero.hpg").c_str());
  // The longest string a command line can carry (the line holds 1024
  // characters with the command name); the handler itself refuses more than
  // 1024 rather than write half an instruction.
  const std::string s1000(1000, 'A');
  const std::string out = Run("Set data.directory = " + work_ + "/\nGeometry N45 E10 2e7 stereo\n" +
                              "PlotString nothing\nPlotInclude logo\nPlotFrame\n"
                              "PlotStart small f\nPlotFrame\nPlotString \"PU; PD;\"\nPlotString " + s1000 +
                              "\n"
                              "PlotInclude logo\nPlotInclude\nIfErrorlevel 4 Echo L4 empty\n"
                              "PlotInclude nothere\nIfErrorlevel 4 Echo L4 missing\n"
                              "PlotInclude pipe\nPlotInclude folder\nPlotInclude zero\nPlotEnd\n");
  EXPECT_TRUE(Has(out, "No include file name given")) << out;
  EXPECT_TRUE(Has(out, "Include file " + work_ + "/nothere.hpg open failed")) << out;
  EXPECT_TRUE(Has(out, "Include file " + work_ + "/pipe.hpg open failed")) << out;
  EXPECT_TRUE(Has(out, "Include file " + work_ + "/folder.hpg open failed")) << out;
  EXPECT_TRUE(Has(out, "Include file " + work_ + "/zero.hpg open failed")) << out;
  for (const char* k : {"empty", "missing"}) EXPECT_TRUE(Has(out, std::string("L4 ") + k)) << k;
  const std::string f = Slurp(work_ + "/f.hpg");
  EXPECT_EQ(f.find("nothing"), std::string::npos);
  EXPECT_NE(f.find("PU; PD;" + s1000 + std::string("SP1;\0\xff;PU0,0;", 13)), std::string::npos);
  // The frame: the closed rectangle of the plot frame, one polyline.
  const hpgl_test::Plot r = hpgl_test::ReadPlot(f.substr(0, f.find("PU; PD;")));
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.lines.size(), 1u);
  const auto& p = r.lines[0].points;
  ASSERT_EQ(p.size(), 5u);
  EXPECT_EQ(p[0].x, 0);
  EXPECT_EQ(p[0].y, 3000);
  EXPECT_EQ(p[1].x, 4000);
  EXPECT_EQ(p[2].y, 0);
  EXPECT_EQ(p[4].x, p[0].x);
  EXPECT_EQ(p[4].y, p[0].y);
}

TEST_F(PlotRun, CopyDevices) {
  const std::string out = Run(R"(Geometry N45 E10 2e7 stereo
PlotStart small PRN
PlotEnd
PlotStart small lpt3:
PlotEnd
PlotStart small com4
PlotEnd
PlotStart small lpt4
PlotEnd
Wait 0.5
)");
  EXPECT_TRUE(Has(out, "Plot output file " + work_ + "/_temp.hpg open")) << out;
  EXPECT_TRUE(Has(out, "Plot output copied to prn")) << out;
  EXPECT_TRUE(Has(out, "Plot output copied to lpt3")) << out;
  EXPECT_TRUE(Has(out, "Plot output copied to com4")) << out;
  EXPECT_TRUE(Exists(work_ + "/lpt4.hpg")) << out;
  // The copy program runs on its own; give it a moment.
  std::string copies;
  for (int i = 0; i < 50; ++i) {
    copies = Slurp(dir_ + "/copies.txt");
    if (std::count(copies.begin(), copies.end(), '\n') >= 3) break;
    usleep(100000);
  }
  const std::string t = work_ + "/_temp.hpg";
  EXPECT_NE(copies.find(t + "|prn\n"), std::string::npos) << copies;
  EXPECT_NE(copies.find(t + "|lpt3\n"), std::string::npos) << copies;
  EXPECT_NE(copies.find(t + "|com4\n"), std::string::npos) << copies;
}

TEST_F(PlotRun, CopyProgramThatCannotStart) {
  WriteOin("plot.copy.command = " + dir_ + "/no_such_copier\n");
  const std::string out = Run(R"(Geometry N45 E10 2e7 stereo
PlotStart small com1
PlotEnd
IfErrorlevel 4 Echo L4 copy
)");
  EXPECT_TRUE(Has(out, "Plot file copy to com1 failed")) << out;
  EXPECT_TRUE(Has(out, "L4 copy")) << out;
  EXPECT_EQ(Slurp(work_ + "/_temp.hpg"), "IN;SP1;PU;PG;");
}

}  // namespace

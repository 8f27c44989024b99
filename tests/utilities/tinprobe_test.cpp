// tinprobe as a real program beside a headless lumenlog: its console texts,
// its refusals and the mended faults, the triangles against a brute-force
// Delaunay check (every circumcircle empty, 2n - 2 - h triangles), what it
// draws (the log of the window), and a window that goes away mid-run.
#include "apps/lumenlog/lumen.h"
#include "platform/window_channel.h"
#include "tests/utilities/util_common.h"

#include <gtest/gtest.h>

extern "C" {
#include <libqhull_r/qhull_ra.h>
}

#include <algorithm>
#include <set>
#include <array>
#include <fcntl.h>
#include <sstream>
#include <cmath>
#include <random>
#include <regex>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

using namespace utiltest;

namespace {

struct Result {
  int status = -1;
  std::string out;
};

class Tinprobe : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeTempDir();
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  }
  void TearDown() override {
    StopWindow();
    system(("rm -rf " + dir).c_str());
  }
  void StartWindow() {
    const std::string prog = BinDir() + "/lumenlog";
    window = fork();
    if (window == 0) {
      execl(prog.c_str(), "lumenlog", "--headless", "--log", (dir + "/log.txt").c_str(), nullptr);
      _exit(127);
    }
    for (int i = 0; i < 300 && platform::WindowFind("lumenlog") != 0; ++i) usleep(10000);
  }
  void StopWindow() {
    if (window <= 0) return;
    kill(window, SIGTERM);
    waitpid(window, nullptr, 0);
    window = -1;
  }
  Result Run(const std::string& args) {
    Result r;
    const int s = system(("cd " + dir + " && " + BinDir() + "/tinprobe " + args + " > out.txt 2>&1").c_str());
    r.status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    r.out = Slurp(dir + "/out.txt");
    return r;
  }
  void Points(const std::string& name, const std::string& text) { Spit(dir + "/" + name, text); }
  std::string dir;
  pid_t window = -1;
};

const char* kUsage =
    "Usage:   tinprobe [options] infile outfile [options]\n"
    "Where:   infile = name of input (.ptp) file\n"
    "         outfile = name of output (.tin) file\n"
    "Options: (-oxxx or -o=xxx)\n"
    " -h      to print this usage help\n"
    " -f      to write each triangle's vertices and neighbours\n"
    " -p=N    to scale the drawing pauses (percent, default 100, 0 none)\n";

TEST_F(Tinprobe, UsageAndOptions) {
  Result r = Run("");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, std::string("tinprobe: Test tin (new) sort\n") + kUsage);
  r = Run("-h");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, std::string("tinprobe: Test tin (new) sort\n") + kUsage);
  r = Run("a.ptp -?");
  EXPECT_EQ(r.out, std::string("tinprobe: Test tin (new) sort\n") + kUsage);
  r = Run("a.ptp -x=3");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, std::string("tinprobe: Test tin (new) sort\n***Error:unexpected option\n") + kUsage);
  r = Run("-p=abc a.ptp");
  EXPECT_EQ(r.out.find("***Error:unexpected option\n"), std::string("tinprobe: Test tin (new) sort\n").size());
}

TEST_F(Tinprobe, RefusalsBeforeAnyDrawing) {
  auto fatal = [](const Result& r, const std::string& message) {
    return r.status == 1 && std::regex_search(r.out, std::regex("Error tinprobe\\([0-9]+\\): " + message));
  };
  EXPECT_TRUE(fatal(Run("-f"), "No input file name given\n"));
  EXPECT_TRUE(fatal(Run("missing.ptp"), "Point file \\(missing.ptp\\) open error\n"));
  Points("two.ptp", "0 0\n1 1 0\n2 2 0\n");
  EXPECT_TRUE(fatal(Run("two.ptp"), "Fewer than 3 given points \\(2\\)\n"));
  std::string ten = "0 4\n";
  for (int i = 0; i < 10; ++i) ten += std::to_string(i % 4) + " " + std::to_string(i / 4 + (i % 3) * 0.3) + " 0\n";
  Points("ten.ptp", ten);
  Result r = Run("ten.ptp");
  EXPECT_TRUE(fatal(r, "Invalid hull point range\\?\n")) << r.out;
  EXPECT_NE(r.out.find("input points: 10 first hull: 0 hull count: 4\n"), std::string::npos);
  Points("neg.ptp", "-1 3\n0 0 0\n1 0 0\n0 1 0\n");
  EXPECT_TRUE(fatal(Run("neg.ptp"), "Invalid hull point range\\?\n"));
  // Not a point line: an error, never a point of zeros.
  Points("bad.ptp", "0 0\n0 0 0\n1 0 0\nabc\n0 1 0\n");
  EXPECT_TRUE(fatal(Run("bad.ptp"), "Invalid point line 4: abc\n"));
  // Numbers as strtof reads them: a sign, hexadecimal, blanks and a CR are
  // taken; a number below the normal float range, a tail and a fourth
  // number are not.
  Points("forms.ptp", "0 0\n+0.5 -0 0\n0x1p1\t0.0 0\r\n 0 +2e0 1e-3 \n");
  r = Run("forms.ptp");
  EXPECT_NE(r.out.find("coordinate range, x: 2 y: 2\n"), std::string::npos) << r.out;
  const std::pair<const char*, const char*> refused[] = {
      {"1e-50 0 0", "Invalid point line 3: 1e-50 0 0\n"}, {"1 2 3x", "Invalid point line 3: 1 2 3x\n"},
      {"1 2 3 4", "Invalid point line 3: 1 2 3 4\n"},    {"1,2,3", "Invalid point line 3: 1,2,3\n"},
      {"1e40 0 0", "Invalid point line 3: 1e40 0 0\n"},  {"nan 0 0", "Invalid point line 3: nan 0 0\n"}};
  for (const auto& [line, message] : refused) {
    Points("refused.ptp", std::string("0 0\n0 0 0\n") + line + "\n1 0 0\n0 1 0\n");
    EXPECT_TRUE(fatal(Run("refused.ptp"), message)) << line;
  }
  // No window.
  Points("three.ptp", "0 0\n0 0 0\n1 0 0\n0 1 0\n");
  r = Run("three.ptp");
  EXPECT_TRUE(fatal(r, "Tracing request failed: 1\n")) << r.out;
  EXPECT_NE(r.out.find("coordinate range, x: 1 y: 1\n"), std::string::npos);
  EXPECT_FALSE(Exists(dir + "/three.tin"));
}

TEST_F(Tinprobe, TraceWindowChecks) {
  StartWindow();
  Points("tiny.ptp", "0 0\n0 0 0\n1e-13 0 0\n0 1e-13 0\n");
  Result r = Run("tiny.ptp");
  EXPECT_NE(r.out.find("Tracing request failed: 3\n"), std::string::npos) << r.out;
  // A client of 7 x 7 pixels.
  platform::WindowRequest size;
  size.number = 1024 + 1;
  size.second = (7 << 16) | 7;
  ASSERT_EQ(platform::WindowPost("lumenlog", size), 0);
  usleep(100000);
  Points("three.ptp", "0 0\n0 0 0\n1 0 0\n0 1 0\n");
  r = Run("three.ptp");
  EXPECT_NE(r.out.find("Tracing request failed: 2\n"), std::string::npos) << r.out;
}

TEST_F(Tinprobe, SmallInputsAndTheirFiles) {
  StartWindow();
  // Three points: one triangle, a one-line file; comments and empty lines skipped.
  Points("three.ptp", "0 0\n; a comment\n\n0 0 5\n2 0 5\n\n0 2 5\n");
  Result r = Run("-p=0 three.ptp");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.rfind("tinprobe: Test tin (new) sort\ninput points: 3 first hull: 0 hull count: 0\n"
                        "coordinate range, x: 2 y: 2\nMemory allocated: 40 + 96 + 96 + 16 = 248\n", 0),
            0u)
      << r.out;
  EXPECT_NE(r.out.find("status: 0, counts 0 0\n"), std::string::npos) << r.out;
  const std::string tin = Slurp(dir + "/three.tin");
  EXPECT_EQ(std::count(tin.begin(), tin.end(), '\n'), 1);
  // Ten points: the memory line of the driver.
  std::string ten = "0 0\n";
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(0, 10);
  for (int i = 0; i < 10; ++i) ten += std::to_string(u(rng)) + " " + std::to_string(u(rng)) + " 0\n";
  Points("ten.ptp", ten);
  r = Run("-p=0 ten.ptp given.tin");
  EXPECT_NE(r.out.find("Memory allocated: 120 + 264 + 264 + 48 = 696\n"), std::string::npos) << r.out;
  EXPECT_TRUE(Exists(dir + "/given.tin"));
  EXPECT_FALSE(Exists(dir + "/ten.tin"));
  // A duplicated point: status -1, no file. All points on the hull: 4, no file.
  Points("dup.ptp", "0 0\n0 0 0\n4 0 0\n0 4 0\n1 1 0\n1 1 0\n");
  r = Run("-p=0 dup.ptp");
  EXPECT_NE(r.out.find("status: -1, counts 1 0\n"), std::string::npos) << r.out;
  EXPECT_FALSE(Exists(dir + "/dup.tin"));
  Points("square.ptp", "0 0\n0 0 0\n4 0 0\n4 4 0\n0 4 0\n");
  r = Run("-p=0 square.ptp");
  EXPECT_NE(r.out.find("status: 4, counts 0 0\n"), std::string::npos) << r.out;
  EXPECT_FALSE(Exists(dir + "/square.tin"));
  // A given hull: the last four points.
  Points("hull.ptp", "2 4\n1 1 0\n2 1.5 0\n0 0 0\n4 0 0\n4 4 0\n0 4 0\n");
  r = Run("-p=0 -f hull.ptp");
  EXPECT_NE(r.out.find("status: 0, counts 0 0\n"), std::string::npos) << r.out;
  const std::string hull_tin = Slurp(dir + "/hull.tin");
  EXPECT_EQ(std::count(hull_tin.begin(), hull_tin.end(), '\n'), 2 * 6 - 2 - 4);
  // Lines longer than 256 characters are whole lines, not two points.
  Points("long.ptp", "0 0\n0 0 0\n" + std::string(300, ' ') + "4 0 0\n0 4 0\n1 1 0\n");
  r = Run("-p=0 long.ptp");
  EXPECT_NE(r.out.find("input points: 4 "), std::string::npos) << r.out;
}

// Whole console transcripts of small inputs, byte for byte: the driver's
// lines around the construction's trace (criteria, hull, insertion,
// summary) and the status line; and the files they leave.
TEST_F(Tinprobe, ConsoleTranscriptsOfSmallInputs) {
  StartWindow();
  const std::string head = "tinprobe: Test tin (new) sort\n";
  const std::string criteria =
      "distance criterion on ground 14.246\nhull edge criterion 2.458e-14\ntin edge criterion 2.458e-14\n"
      "fuzzcc 2.458e-14\n";
  auto summary = [](int total, int hull, int duplicated, int triangles, int depth) {
    return "Total input points          " + std::to_string(total) + "\nPoints on hull (and center) " +
           std::to_string(hull) + "\nEdge points                 0\nDuplicated                  " +
           std::to_string(duplicated) + "\nInsertion failed points     0\nTriangles                   " +
           std::to_string(triangles) + "\nRecursion depth             " + std::to_string(depth) +
           " (64)\nTIN verification status     0\n";
  };
  // A computed hull of four points and one point inside it.
  Points("five.ptp", "0 0\n0 0 0\n4 0 0\n4 4 0\n0 4 0\n2 1 0\n");
  Result r = Run("-p=0 five.ptp");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, head +
                       "input points: 5 first hull: 0 hull count: 0\ncoordinate range, x: 4 y: 4\n"
                       "Memory allocated: 64 + 144 + 144 + 24 = 376\nnew TIN sort, pts: 5, iH: 0, nH: 0\n" +
                       criteria +
                       "Planar convex hull of 5 points type 0\nFinal clean-up, hull:4 total:5\n"
                       "Hull OK, total:4, unique:4\nHull TIN verification 0\n" +
                       summary(5, 5, 0, 4, 0) + "status: 0, counts 0 0\n");
  EXPECT_EQ(Slurp(dir + "/five.tin"), "   1    1\n   4    3\n   0   -1\n   2    2\n");
  r = Run("-p=0 -f five.ptp five_full.tin");
  EXPECT_EQ(Slurp(dir + "/five_full.tin"), "1 4 0 1 3 -1\n2 4 1 2 0 -1\n3 4 2 3 1 -1\n0 4 3 0 2 -1\n");
  // A duplicated point: the construction's status -1 and no file.
  Points("dup.ptp", "0 0\n0 0 0\n4 0 0\n0 4 0\n1 1 0\n1 1 0\n");
  r = Run("-p=0 dup.ptp");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, head +
                       "input points: 5 first hull: 0 hull count: 0\ncoordinate range, x: 4 y: 4\n"
                       "Memory allocated: 64 + 144 + 144 + 24 = 376\nnew TIN sort, pts: 5, iH: 0, nH: 0\n" +
                       criteria +
                       "Planar convex hull of 5 points type 0\nFinal clean-up, hull:3 total:5\n"
                       "Hull OK, total:3, unique:3\nHull TIN verification 0\nDuplicate vertex?\n" +
                       summary(5, 4, 1, 3, 0) + "status: -1, counts 1 0\n");
  EXPECT_FALSE(Exists(dir + "/dup.tin"));
  // Every point on the hull: status 4, no file.
  Points("square.ptp", "0 0\n0 0 0\n4 0 0\n4 4 0\n0 4 0\n");
  r = Run("-p=0 square.ptp");
  EXPECT_EQ(r.out, head +
                       "input points: 4 first hull: 0 hull count: 0\ncoordinate range, x: 4 y: 4\n"
                       "Memory allocated: 48 + 120 + 120 + 24 = 312\nnew TIN sort, pts: 4, iH: 0, nH: 0\n" +
                       criteria + "Planar convex hull of 4 points type 0\nFinal clean-up, hull:4 total:4\n"
                                  "status: 4, counts 0 0\n");
  EXPECT_FALSE(Exists(dir + "/square.tin"));
  // A given hull, the last four points.
  Points("hull.ptp", "2 4\n1 1 0\n2 1.5 0\n0 0 0\n4 0 0\n4 4 0\n0 4 0\n");
  r = Run("-p=0 hull.ptp");
  EXPECT_EQ(r.out, head +
                       "input points: 6 first hull: 2 hull count: 4\ncoordinate range, x: 4 y: 4\n"
                       "Memory allocated: 72 + 168 + 168 + 32 = 440\nnew TIN sort, pts: 6, iH: 2, nH: 4\n" +
                       criteria +
                       "Planar convex hull of 4 points type 1\nRadial sort hull return code 4\n"
                       "Hull OK, total:4, unique:4\nHull TIN verification 0\n" +
                       summary(6, 5, 0, 6, 2) + "status: 0, counts 0 0\n");
  EXPECT_EQ(Slurp(dir + "/hull.tin"), "   0    3\n   3    1\n   1    4\n   4    2\n   1    0\n   3   -1\n");
  // Three points: the criteria, then the status line.
  Points("three.ptp", "0 0\n0 0 5\n2 0 5\n0 2 5\n");
  r = Run("-p=0 three.ptp");
  EXPECT_EQ(r.out, head +
                       "input points: 3 first hull: 0 hull count: 0\ncoordinate range, x: 2 y: 2\n"
                       "Memory allocated: 40 + 96 + 96 + 16 = 248\nnew TIN sort, pts: 3, iH: 0, nH: 0\n" +
                       criteria + "status: 0, counts 0 0\n");
}

TEST_F(Tinprobe, NeverWritesOverItsInput) {
  StartWindow();
  const std::string text = "0 0\n0 0 0\n2 0 0\n0 2 0\n";
  Points("x.tin", text);
  Result r = Run("x.tin");  // the derived name is the input's own
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Output file (x.tin) open error\n"), std::string::npos) << r.out;
  EXPECT_EQ(Slurp(dir + "/x.tin"), text);
  Points("p.ptp", text);
  r = Run("p.ptp p.ptp");
  EXPECT_NE(r.out.find("Output file (p.ptp) open error\n"), std::string::npos);
  r = Run("p.ptp ./p.ptp");
  EXPECT_NE(r.out.find("Output file (./p.ptp) open error\n"), std::string::npos);
  EXPECT_EQ(Slurp(dir + "/p.ptp"), text);
  EXPECT_EQ(r.out.find("input points"), std::string::npos);  // refused before reading
}

// 1 000 random float points: a Delaunay triangulation (every circumcircle
// empty of the other points), 2n - 2 - h triangles with h from a hull made
// here, every neighbour link mutual; and what the window was asked to draw.
TEST_F(Tinprobe, RandomPointsDelaunayAndDrawing) {
  StartWindow();
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(-500, 500);
  const int n = 1000;
  std::vector<std::pair<double, double>> p;
  std::string text = "0 0\n";
  for (int i = 0; i < n; ++i) {
    const float x = u(rng), y = u(rng);
    char line[64];
    snprintf(line, sizeof line, "%.9g %.9g 0\n", x, y);
    text += line;
    float fx, fy;
    sscanf(line, "%f %f", &fx, &fy);
    p.push_back({fx, fy});
  }
  Points("r.ptp", text);
  Result r = Run("-p=0 -f r.ptp");
  ASSERT_NE(r.out.find("status: 0, counts 0 0\n"), std::string::npos) << r.out.substr(r.out.size() > 2000 ? r.out.size() - 2000 : 0);
  // The hull by Andrew's monotone chain.
  std::vector<int> ix(n);
  for (int i = 0; i < n; ++i) ix[i] = i;
  std::sort(ix.begin(), ix.end(), [&](int a, int b) { return p[a] < p[b]; });
  auto cross = [&](int o, int a, int b) {
    return (p[a].first - p[o].first) * (p[b].second - p[o].second) - (p[a].second - p[o].second) * (p[b].first - p[o].first);
  };
  std::vector<int> h;
  for (int pass = 0; pass < 2; ++pass) {
    const size_t start = h.size();
    for (int k = 0; k < n; ++k) {
      const int i = pass == 0 ? ix[k] : ix[n - 1 - k];
      while (h.size() >= start + 2 && cross(h[h.size() - 2], h.back(), i) <= 0) h.pop_back();
      h.push_back(i);
    }
    h.pop_back();
  }
  const std::string tin = Slurp(dir + "/r.tin");
  std::vector<std::array<int, 6>> tri;
  std::istringstream in(tin);
  std::array<int, 6> t;
  while (in >> t[0] >> t[1] >> t[2] >> t[3] >> t[4] >> t[5]) tri.push_back(t);
  EXPECT_EQ(static_cast<int>(tri.size()), 2 * n - 2 - static_cast<int>(h.size()));
  long bad_circle = 0, bad_link = 0, clockwise = 0;
  for (size_t k = 0; k < tri.size(); ++k) {
    const auto& a = p[tri[k][0]];
    const auto& b = p[tri[k][1]];
    const auto& c = p[tri[k][2]];
    if (cross(tri[k][0], tri[k][1], tri[k][2]) <= 0) ++clockwise;
    for (int m = 0; m < n; ++m) {
      if (m == tri[k][0] || m == tri[k][1] || m == tri[k][2]) continue;
      const double ax = a.first - p[m].first, ay = a.second - p[m].second;
      const double bx = b.first - p[m].first, by = b.second - p[m].second;
      const double cx = c.first - p[m].first, cy = c.second - p[m].second;
      const double det = (ax * ax + ay * ay) * (bx * cy - cx * by) - (bx * bx + by * by) * (ax * cy - cx * ay) +
                         (cx * cx + cy * cy) * (ax * by - bx * ay);
      const double scale = 1e6 * 1e6 * 1e3;
      if (det > 1e-9 * scale) ++bad_circle;
    }
    for (int j = 0; j < 3; ++j) {
      const int nb = tri[k][3 + j];
      if (nb < 0) continue;
      if (nb >= static_cast<int>(tri.size())) {
        ++bad_link;
        continue;
      }
      const auto& o = tri[nb];
      if (o[3] != static_cast<int>(k) && o[4] != static_cast<int>(k) && o[5] != static_cast<int>(k)) ++bad_link;
    }
  }
  EXPECT_EQ(bad_circle, 0);
  EXPECT_EQ(bad_link, 0);
  EXPECT_EQ(clockwise, 0);
  // What the window was asked to draw: the white fill first, then a plus per
  // point at the pixel of the mapping.
  StopWindow();
  std::istringstream log(Slurp(dir + "/log.txt"));
  std::string line;
  ASSERT_TRUE(std::getline(log, line));
  EXPECT_EQ(line, "1026 16777215 0");
  double xmin = 1e30, xmax = -1e30, ymin = 1e30, ymax = -1e30;
  for (auto& q : p) xmin = std::min(xmin, q.first), xmax = std::max(xmax, q.first), ymin = std::min(ymin, q.second),
                    ymax = std::max(ymax, q.second);
  const double s = 1.1 * std::max((xmax - xmin) / 320, (ymax - ymin) / 240);
  int plus = 0, off = 0;
  while (std::getline(log, line)) {
    unsigned number;
    long long first, second;
    if (sscanf(line.c_str(), "%u %lld %lld", &number, &first, &second) != 3 || number != 1035 || first != 1) continue;
    const int x = static_cast<std::int16_t>(second & 0xffff), y = static_cast<std::int16_t>((second >> 16) & 0xffff);
    const auto& q = p[plus];
    const double ex = 160 - ((xmin + xmax) / 2) / s + q.first / s, ey = 120 + ((ymin + ymax) / 2) / s - q.second / s;
    if (std::fabs(x - ex) > 1 || std::fabs(y - ey) > 1) ++off;
    ++plus;
  }
  EXPECT_EQ(plus, n);
  EXPECT_EQ(off, 0);
}

// qhull's Delaunay triangles ("d Qt Qbb Qc") as sorted vertex triples, and
// the number of its hull vertices.
using Tri = std::array<int, 3>;
std::set<Tri> QhullDelaunay(const std::vector<std::pair<double, double>>& p, int* hull) {
  std::vector<coordT> c;
  for (const auto& q : p) c.push_back(q.first), c.push_back(q.second);
  std::set<Tri> out;
  *hull = -1;
  for (int pass = 0; pass < 2; ++pass) {
    qhT qh_qh;
    qhT* qh = &qh_qh;
    qh_zero(qh, stderr);
    char delaunay[] = "qhull d Qt Qbb Qc", plain[] = "qhull";
    std::vector<coordT> copy = c;  // qhull may scale its input
    if (qh_new_qhull(qh, 2, static_cast<int>(p.size()), copy.data(), False, pass == 0 ? delaunay : plain, nullptr,
                     stderr) == 0) {
      if (pass == 0) {
        facetT* facet;
        FORALLfacets {
          if (facet->upperdelaunay) continue;
          Tri v{};
          int k = 0;
          vertexT *vertex, **vertexp;
          FOREACHvertex_(facet->vertices) if (k < 3) v[k++] = qh_pointid(qh, vertex->point);
          std::sort(v.begin(), v.end());
          out.insert(v);
        }
      } else {
        *hull = qh->num_vertices;
      }
    }
    int curlong, totlong;
    qh_freeqhull(qh, !qh_ALL);
    qh_memfreeshort(qh, &curlong, &totlong);
  }
  return out;
}

// 1 000 random float points at three scales: tinprobe -f gives qhull's
// Delaunay triangles, and its "Triangles" line and its file's line count are
// 2n - 2 - h with h from qhull's hull.
TEST_F(Tinprobe, AgreesWithQhullAtEveryScale) {
  StartWindow();
  const int n = 1000;
  for (const double scale : {1.0, 1e-3, 1e3}) {
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> u(-500, 500);
    std::vector<std::pair<double, double>> p;
    std::string text = "0 0\n";
    for (int i = 0; i < n; ++i) {
      const float x = static_cast<float>(u(rng) * scale), y = static_cast<float>(u(rng) * scale);
      char line[64];
      snprintf(line, sizeof line, "%.9g %.9g 0\n", x, y);
      text += line;
      p.push_back({x, y});
    }
    Points("q.ptp", text);
    const Result r = Run("-p=0 -f q.ptp");
    ASSERT_NE(r.out.find("status: 0, counts 0 0\n"), std::string::npos) << "scale " << scale;
    std::set<Tri> mine;
    std::istringstream in(Slurp(dir + "/q.tin"));
    std::array<int, 6> t;
    int lines = 0;
    while (in >> t[0] >> t[1] >> t[2] >> t[3] >> t[4] >> t[5]) {
      Tri v{t[0], t[1], t[2]};
      std::sort(v.begin(), v.end());
      mine.insert(v);
      ++lines;
    }
    int h = 0;
    const std::set<Tri> theirs = QhullDelaunay(p, &h);
    EXPECT_TRUE(mine == theirs) << "scale " << scale << ": " << mine.size() << " triangles against qhull's "
                                << theirs.size();
    EXPECT_EQ(lines, 2 * n - 2 - h) << "scale " << scale;
    EXPECT_NE(r.out.find("Triangles                   " + std::to_string(2 * n - 2 - h) + "\n"), std::string::npos)
        << "scale " << scale;
  }
}

// The picture a headless window keeps after a run: every point's plus at
// the pixel of the mapping (within 1), in black unless a later step drew
// over it, which leaves the plus's centre never white.
TEST_F(Tinprobe, SnapshotHoldsEveryPointWhereTheMappingPutsIt) {
  const std::string prog = BinDir() + "/lumenlog";
  window = fork();
  if (window == 0) {
    execl(prog.c_str(), "lumenlog", "--headless", "--snapshot", (dir + "/snap.png").c_str(), nullptr);
    _exit(127);
  }
  for (int i = 0; i < 300 && platform::WindowFind("lumenlog") != 0; ++i) usleep(10000);
  std::mt19937 rng(29);
  std::uniform_real_distribution<float> u(0, 50);
  std::vector<std::pair<double, double>> p;
  std::string text = "0 0\n";
  for (int i = 0; i < 40; ++i) {
    const float x = u(rng), y = u(rng) * 0.5f;
    char line[64];
    snprintf(line, sizeof line, "%.9g %.9g 0\n", x, y);
    text += line;
    p.push_back({x, y});
  }
  Points("s.ptp", text);
  ASSERT_EQ(Run("-p=0 s.ptp").status, 0);
  StopWindow();  // SIGTERM: the snapshot is written
  cairo_surface_t* png = cairo_image_surface_create_from_png((dir + "/snap.png").c_str());
  ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
  ASSERT_EQ(cairo_image_surface_get_width(png), 320);
  ASSERT_EQ(cairo_image_surface_get_height(png), 240);
  const unsigned char* data = cairo_image_surface_get_data(png);
  const int stride = cairo_image_surface_get_stride(png);
  auto pixel = [&](int x, int y) {
    if (x < 0 || y < 0 || x >= 320 || y >= 240) return 0xffffffu;
    return reinterpret_cast<const std::uint32_t*>(data + y * stride)[x] & 0xffffff;
  };
  double xmin = 1e30, xmax = -1e30, ymin = 1e30, ymax = -1e30;
  for (auto& q : p) xmin = std::min(xmin, q.first), xmax = std::max(xmax, q.first), ymin = std::min(ymin, q.second),
                    ymax = std::max(ymax, q.second);
  const double s = 1.1 * std::max((xmax - xmin) / 320, (ymax - ymin) / 240);
  int missing = 0;
  for (const auto& q : p) {
    const double ex = 160 - ((xmin + xmax) / 2) / s + q.first / s, ey = 120 + ((ymin + ymax) / 2) / s - q.second / s;
    // Within 1 pixel of where the mapping puts it: a plus of five pixels
    // none of which is left white.
    bool found = false;
    for (int dy = -1; dy <= 1 && !found; ++dy)
      for (int dx = -1; dx <= 1 && !found; ++dx) {
        const int x = static_cast<int>(std::lround(ex)) + dx, y = static_cast<int>(std::lround(ey)) + dy;
        found = pixel(x, y) != 0xffffffu && pixel(x - 1, y) != 0xffffffu && pixel(x + 1, y) != 0xffffffu &&
                pixel(x, y - 1) != 0xffffffu && pixel(x, y + 1) != 0xffffffu;
      }
    missing += !found;
  }
  cairo_surface_destroy(png);
  EXPECT_EQ(missing, 0);
}

// ---- batches: tinprobe against a window played by the test, which answers
// the client-size question and keeps every datagram as it came.

struct Datagrams {
  std::vector<std::string> all;
  std::vector<platform::WindowRequest> requests;  // in order, the query left out
  int status = -1;
};

Datagrams AgainstFakeWindow(const std::string& dir, const std::vector<std::string>& args) {
  Datagrams d;
  const int fd = platform::WindowListen("lumenlog");
  if (fd < 0) return d;
  std::vector<std::string> a = {BinDir() + "/tinprobe"};  // before the child's chdir
  a.insert(a.end(), args.begin(), args.end());
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int out = open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    std::vector<char*> v;
    for (auto& x : a) v.push_back(x.data());
    v.push_back(nullptr);
    execv(v[0], v.data());
    _exit(127);
  }
  static char buf[1 << 17];
  bool ended = false;
  for (;;) {
    struct pollfd p {fd, POLLIN, 0};
    if (poll(&p, 1, 20) == 1) {
      sockaddr_un from{};
      socklen_t length = sizeof from;
      const ssize_t n = recvfrom(fd, buf, sizeof buf, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &length);
      if (n < 0) continue;
      d.all.emplace_back(buf, static_cast<size_t>(std::min<ssize_t>(n, sizeof buf)));
      std::vector<platform::WindowRequest> rs;
      if (!lumenlog::SplitRequests(buf, static_cast<size_t>(n), &rs)) continue;  // counted as a bad batch below
      for (const auto& r : rs) {
        if (r.number == 0) platform::WindowAnswerClient(fd, &from, length, 320, 240);
        else d.requests.push_back(r);
      }
      continue;
    }
    if (ended) break;  // gone, and nothing more came
    int st = 0;
    if (waitpid(pid, &st, WNOHANG) == pid) {
      ended = true;
      d.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
  }
  platform::WindowClose("lumenlog", fd);
  return d;
}

// The requests as lumenlog's log writes them.
std::string LogLines(const std::vector<platform::WindowRequest>& rs) {
  std::string out;
  for (const auto& r : rs) {
    out += std::to_string(r.number) + " " + std::to_string(r.first) + " " + std::to_string(r.second);
    if (r.number == 1036) out += " " + r.text;
    out += "\n";
  }
  return out;
}

std::string RandomPoints(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-1000, 1000);
  std::string text = "0 0\n";
  char line[80];
  for (int i = 0; i < n; ++i) {
    snprintf(line, sizeof line, "%.3f %.3f 0\n", u(rng), u(rng));
    text += line;
  }
  return text;
}

TEST_F(Tinprobe, DrawingGoesInFullBatchesOfAtMost32K) {
  const int n = 3000;
  Points("b.ptp", RandomPoints(n, 23));
  const Datagrams d = AgainstFakeWindow(dir, {"-p=0", "b.ptp"});
  ASSERT_EQ(d.status, 0) << Slurp(dir + "/out.txt");
  ASSERT_GE(d.all.size(), 3u);
  // The client-size question goes alone, before any drawing.
  EXPECT_EQ(d.all[0].size(), platform::kWindowRequestHeader);
  size_t bytes = 0;
  for (size_t i = 1; i < d.all.size(); ++i) {
    const std::string& g = d.all[i];
    std::vector<platform::WindowRequest> rs;
    EXPECT_LE(g.size(), 32768u) << "datagram " << i;
    EXPECT_TRUE(lumenlog::SplitRequests(g.data(), g.size(), &rs)) << "datagram " << i << " is not whole requests";
    // Without pauses a batch goes out only when the next request does not
    // fit (a request is at most 24 + 255 bytes), or at the end.
    if (i + 1 < d.all.size()) {
      EXPECT_GT(g.size(), 32768u - 279) << "datagram " << i;
    }
    bytes += g.size();
  }
  EXPECT_GT(bytes, 10u * 32768);  // a run that needs many batches
  ASSERT_FALSE(d.requests.empty());
  EXPECT_EQ(LogLines({d.requests[0]}), "1026 16777215 0\n");
  int plus = 0, texts = 0;
  for (const auto& r : d.requests) {
    plus += r.number == 1035 && r.first == 1;
    if (r.number == 1036) {
      ++texts;
      EXPECT_TRUE(!r.text.empty() && r.text.find_first_not_of("0123456789") == std::string::npos) << r.text;
    }
  }
  EXPECT_EQ(plus, n);
  EXPECT_GT(texts, n);
  // A real window is asked to draw exactly the same, request for request.
  StartWindow();
  const Result r = Run("-p=0 b.ptp");
  ASSERT_EQ(r.status, 0) << r.out;
  StopWindow();
  EXPECT_TRUE(Slurp(dir + "/log.txt") == LogLines(d.requests)) << "the log differs from the requests sent";
}

TEST_F(Tinprobe, PausesSendEachStepBeforeTheWaitAndChangeNothingDrawn) {
  Points("s.ptp", RandomPoints(25, 4));
  const Datagrams quick = AgainstFakeWindow(dir, {"-p=0", "s.ptp"});
  const Datagrams paced = AgainstFakeWindow(dir, {"s.ptp"});
  ASSERT_EQ(quick.status, 0);
  ASSERT_EQ(paced.status, 0);
  EXPECT_EQ(LogLines(paced.requests), LogLines(quick.requests));
  // 25 points fit one batch without pauses; with them each drawing step
  // (hull edge, fan triangle, inserted point, changed triangle) is a batch of
  // its own that ends with that step's last request.
  EXPECT_EQ(quick.all.size(), 2u);
  size_t steps = 0;
  for (const auto& r : paced.requests) steps += r.number == 1036 || (r.number == 1035 && r.first == 2);
  EXPECT_GT(paced.all.size(), steps);
  for (size_t i = 2; i < paced.all.size(); ++i) {
    std::vector<platform::WindowRequest> rs;
    ASSERT_TRUE(lumenlog::SplitRequests(paced.all[i].data(), paced.all[i].size(), &rs));
    const std::uint32_t last = rs.back().number;
    EXPECT_TRUE(last == 1027 || last == 1035 || last == 1036) << "datagram " << i << " ends with " << last;
  }
}

// The input changed between the two passes (a window played by the test
// changes it when asked for its client size, which falls between them): a
// point more, or fewer, stops the run with the assertion, never a point
// outside the block or a hull that is not the last points; no file.
TEST_F(Tinprobe, InputChangedBetweenThePasses) {
  for (const bool grow : {true, false}) {
    const std::string name = dir + "/c.ptp";
    Points("c.ptp", "0 0\n0 0 0\n4 0 0\n0 4 0\n1 1 0\n");
    const int fd = platform::WindowListen("lumenlog");
    ASSERT_GE(fd, 0);
    const std::string prog = BinDir() + "/tinprobe";
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      const int out = open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      execl(prog.c_str(), "tinprobe", "-p=0", "c.ptp", nullptr);
      _exit(127);
    }
    int status = -1;
    for (;;) {
      struct pollfd p {fd, POLLIN, 0};
      if (poll(&p, 1, 20) == 1) {
        static char buf[1 << 16];
        sockaddr_un from{};
        socklen_t length = sizeof from;
        const ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &length);
        std::vector<platform::WindowRequest> rs;
        if (n > 0 && lumenlog::SplitRequests(buf, static_cast<size_t>(n), &rs) && rs[0].number == 0) {
          Spit(name, grow ? "0 0\n0 0 0\n4 0 0\n0 4 0\n1 1 0\n2 1 0\n" : "0 0\n0 0 0\n4 0 0\n0 4 0\n");
          platform::WindowAnswerClient(fd, &from, length, 320, 240);
        }
        continue;
      }
      int st = 0;
      if (waitpid(pid, &st, WNOHANG) == pid) {
        status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        break;
      }
    }
    platform::WindowClose("lumenlog", fd);
    const std::string out = Slurp(dir + "/out.txt");
    EXPECT_EQ(status, 1) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex(std::string("\ntinprobe \\([0-9]+\\) assertion \\(n ") +
                                                  (grow ? "<" : "==") + " qpTin.npts\\) failed\n$")))
        << out;
    EXPECT_EQ(out.find("status:"), std::string::npos) << out;
    EXPECT_FALSE(Exists(dir + "/c.tin"));
  }
}

TEST_F(Tinprobe, WindowGoingAwayMidRun) {
  StartWindow();
  std::string text = "0 0\n";
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(0, 100);
  for (int i = 0; i < 300; ++i) text += std::to_string(u(rng)) + " " + std::to_string(u(rng)) + " 0\n";
  Points("w.ptp", text);
  const std::string prog = BinDir() + "/tinprobe";  // before the child's chdir
  pid_t probe = fork();
  if (probe == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    int fd = open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    execl(prog.c_str(), "tinprobe", "w.ptp", nullptr);
    _exit(127);
  }
  usleep(400000);
  StopWindow();  // while tinprobe still pauses between its drawing steps
  int status = 0;
  waitpid(probe, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(Slurp(dir + "/out.txt").find("status: 0, counts 0 0\n"), std::string::npos);
  EXPECT_TRUE(Exists(dir + "/w.tin"));
}

}  // namespace

// DerivePsetTin and OverheadSurface through the program: scripts run with
// --batch, the surface mode driven by an events file. Heights are the
// float bit patterns of the points' attribute words.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::uint32_t Bits(float z) {
  std::uint32_t b;
  std::memcpy(&b, &z, 4);
  return b;
}

class SurfaceProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = getenv("OMBREL_BIN");
    if (!bin) GTEST_SKIP() << "OMBREL_BIN is not set";
    bin_ = bin;
    char templ[] = "/tmp/ombrel-surface-test-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
    // 2 000 points over 40..50 N, 5..15 E with height 10 x latitude, a
    // lone point far away, and a point without a value.
    std::ofstream pts(dir_ + "/p.pts");
    std::mt19937 rng(87);
    std::uniform_real_distribution<double> lat(40, 50), lon(5, 15);
    for (int i = 0; i < 2000; ++i) {
      const double a = lat(rng), o = lon(rng);
      pts << a << " " << o << " " << Bits(static_cast<float>(10.0 * a)) << "\n";
    }
    std::ofstream(dir_ + "/lone.pts") << "-30 100 " << Bits(123.5f) << "\n";
    std::ofstream(dir_ + "/novalue.pts") << "10 10 " << Bits(1.0f) << "\n10.01 10 " << Bits(-3.402823e38f) << "\n";
    std::ofstream(dir_ + "/none.pts") << "";
  }
  void TearDown() override {
    if (!dir_.empty() && system(("rm -rf '" + dir_ + "'").c_str()) != 0) ADD_FAILURE();
  }
  std::string Run(const std::string& script, const std::string& events = "") {
    std::ofstream(dir_ + "/t.omb") << script;
    std::ofstream(dir_ + "/t.events") << events;
    const std::string cmd = "cd '" + dir_ + "' && '" + bin_ + "/ombrel' --batch --events t.events t.omb 2>/dev/null";
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
  }
  bool Exists(const std::string& name) {
    std::ifstream f(dir_ + "/" + name);
    return f.good();
  }
  std::string Read(const std::string& name) {
    std::ifstream f(dir_ + "/" + name);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  // The lines of the transcript after the line that starts with `after`.
  std::vector<std::string> LinesAfter(const std::string& out, const std::string& after) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    std::string l;
    bool on = false;
    while (std::getline(in, l)) {
      if (on) lines.push_back(l);
      if (l.rfind(after, 0) == 0) on = true;
    }
    return lines;
  }
  std::string bin_, dir_;
};

constexpr const char* kImport = "ImportPset p p.pts fd\nImportPset lone lone.pts fd\n";

TEST_F(SurfaceProgram, DerivePsetTinArgumentsAndResults) {
  const std::string out = Run(std::string(kImport) +
                              "ImportPset novalue novalue.pts fd\n"
                              "ImportPset none none.pts fd\n"
                              "DerivePsetTin bad p x\n"
                              "DerivePsetTin tn p n\n"
                              "DerivePsetTin t p\n"
                              "DerivePsetTin tl lone\n"
                              "DerivePsetTin tv novalue\n"
                              "DerivePsetTin te none\n"
                              "DerivePsetTin tt tn\n"
                              "DumpObject tn\nDumpObject t\nDumpObject tl\n");
  EXPECT_NE(out.find("Invalid neighbor list indicator (x)"), std::string::npos) << out;
  EXPECT_FALSE(Exists("bad.qbo"));
  EXPECT_NE(out.find("tv.qbo return code = 3"), std::string::npos) << out;
  EXPECT_FALSE(Exists("tv.qbo"));
  EXPECT_NE(out.find("te.qbo empty object"), std::string::npos) << out;
  EXPECT_TRUE(Exists("te.qbo"));
  EXPECT_NE(out.find("tn: operation-dimension/type mis-match:5"), std::string::npos) << out;
  // With and without the neighbour triples; the totals count own points.
  const std::string tn = Read("tn.dmp"), t = Read("t.dmp"), tl = Read("tl.dmp");
  EXPECT_NE(tn.find("  dim:5 ver:360, res:9 prec:0"), std::string::npos);
  EXPECT_NE(tn.find("  Total points: 2000\n"), std::string::npos) << tn.substr(tn.size() - 200);
  EXPECT_NE(t.find("  Total points: 2000\n"), std::string::npos);
  EXPECT_NE(t.find("  Total neighbor list: 0\n"), std::string::npos);
  const size_t at = tn.find("  Total triangles: "), bt = t.find("  Total triangles: ");
  ASSERT_NE(at, std::string::npos);
  ASSERT_NE(bt, std::string::npos);
  const long tris = std::atol(tn.c_str() + at + 19);
  EXPECT_GT(tris, 2000);
  EXPECT_EQ(std::atol(t.c_str() + bt + 19), tris);
  EXPECT_NE(tn.find("  Total neighbor list: " + std::to_string(tris) + "\n"), std::string::npos);
  // A lone point: written, without triangles, its height as the one value.
  EXPECT_NE(tl.find("  cptnb:1, cvxnb:0, z:123.5,123.5,123.5\n"), std::string::npos) << tl;
  EXPECT_NE(tl.find("  Total triangles: 0\n"), std::string::npos);
}

TEST_F(SurfaceProgram, PointerMovesAndClicksPostTheSurfaceValue) {
  const std::string out =
      Run(std::string(kImport) +
              "DerivePsetTin t p n\nDerivePsetTin tl lone\n"
              "Geometry N45 E10 2000000 stereo\nOverheadSurface p\nOverheadSurface missing\n"
              "OverheadSurface t\nEcho after\nOverheadSurface tl\n",
          "move @N45,E10\nmove @N47.25,E12.5\nclick @N44.5,E9.5\nclick 10 10\nkey a\nmove 0 0\nkey ESC\n"
          "move @S30,E100\nclick @S30.1,E100.1\nkey ESC\n");
  EXPECT_NE(out.find("Object type (0)"), std::string::npos) << out;
  EXPECT_NE(out.find("missing.qbo) for reading"), std::string::npos) << out;
  std::vector<std::string> lines = LinesAfter(out, "OverheadSurface t");
  ASSERT_GE(lines.size(), 5u) << out;
  EXPECT_NEAR(std::atof(lines[0].c_str()), 450.0, 0.05) << lines[0];
  EXPECT_NEAR(std::atof(lines[1].c_str()), 472.5, 0.05) << lines[1];
  EXPECT_EQ(lines[0].size(), 9u);  // "%9.3f"
  // The click: value and pixel; the click in the top-left box posts nothing.
  double v = 0;
  int x = -1, y = -1;
  ASSERT_EQ(std::sscanf(lines[2].c_str(), "%lf (%d %d)", &v, &x, &y), 3) << lines[2];
  EXPECT_NEAR(v, 445.0, 0.05);
  EXPECT_GT(x, 0);
  EXPECT_GT(y, 0);
  EXPECT_EQ(lines[3], "<beep>");  // key a
  // The mode ran until ESC: the move to the corner (off the points) beeped
  // or posted a value, and the command after the mode ran.
  bool after = false;
  for (const std::string& l : lines) after |= l == "Echo after";
  EXPECT_TRUE(after) << out;
  // The lone cell: its one value anywhere in its cell.
  lines = LinesAfter(out, "OverheadSurface tl");
  ASSERT_GE(lines.size(), 2u) << out;
  EXPECT_EQ(lines[0], "  123.500");
  EXPECT_EQ(lines[1].substr(0, 10), "  123.500 ") << lines[1];
  EXPECT_EQ(out.find("Events file ended"), std::string::npos) << out;
}

TEST_F(SurfaceProgram, DamagedTinFilesAreRefused) {
  Run(std::string(kImport) + "DerivePsetTin t p n\n");
  // Read the header: the structure section and the first cell entry.
  std::string bytes = Read("t.qbo");
  ASSERT_GT(bytes.size(), 400u);
  auto u32 = [&](size_t at) {
    std::uint32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
  };
  const std::uint32_t st = u32(28), co = u32(36);
  const std::uint32_t tri_off = u32(st + 12), points = u32(st + 8);
  std::string bad = bytes;
  const std::uint32_t big = points + 3;
  std::memcpy(&bad[co + tri_off + 4], &big, 4);  // a triangle vertex past the cell's points
  std::ofstream(dir_ + "/bad.qbo", std::ios::binary) << bad;
  bad = bytes;
  const std::uint32_t odd = u32(st + 16) + 1;
  std::memcpy(&bad[st + 24], &odd, 4);  // neighbour triples neither none nor one per triangle
  std::ofstream(dir_ + "/bad2.qbo", std::ios::binary) << bad;
  const std::string out = Run("Geometry N45 E10 2000000 stereo\nOverheadSurface bad\nDumpObject bad2\n"
                              "DisplayPoints bad\nDumpObject t\n",
                              "key ESC\n");
  EXPECT_NE(out.find("bad memory mapping error: 2"), std::string::npos) << out;
  EXPECT_NE(out.find("memory mapping error: 2"), out.rfind("memory mapping error: 2")) << out;
  EXPECT_FALSE(Exists("bad2.dmp"));
  EXPECT_TRUE(Exists("t.dmp"));
}

}  // namespace

// plrbuild's command line and its files, and the collection commands run by
// the program (--batch --events) on collections plrbuild made: too many
// overlapping regions, a point's datum word without an attribute file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/index_file.h"

namespace {

class CollectionProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = getenv("OMBREL_BIN");
    if (!bin) GTEST_SKIP() << "OMBREL_BIN is not set";
    bin_ = bin;
    char templ[] = "/tmp/ombrel-plr-test-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    if (!dir_.empty() && system(("chmod -R u+w '" + dir_ + "'; rm -rf '" + dir_ + "'").c_str()) != 0) ADD_FAILURE();
  }
  // Runs a shell command line in the folder; its exit status, and its
  // standard output (and error, with_errors) in out.
  int Sh(const std::string& line, std::string* out = nullptr, bool with_errors = true) {
    const std::string cmd = "cd '" + dir_ + "' && " + line + (with_errors ? " 2>&1" : " 2>/dev/null");
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    const int st = pclose(p);
    if (out) *out = text;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  int Plrbuild(const std::string& args, std::string* out = nullptr) {
    return Sh("'" + bin_ + "/plrbuild' " + args, out);
  }
  std::string Ombrel(const std::string& script, const std::string& events) {
    std::ofstream(dir_ + "/t.omb") << "Set data.directory " << dir_ << "\n" << script;
    std::ofstream(dir_ + "/t.events") << events;
    std::string out;
    // The transcript only: warnings are also written to standard error.
    Sh("'" + bin_ + "/ombrel' --batch --events t.events t.omb", &out, false);
    return out;
  }
  void Put(const std::string& name, const std::string& text) { std::ofstream(dir_ + "/" + name) << text; }
  std::string Read(const std::string& name) {
    std::ifstream f(dir_ + "/" + name, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  bool Exists(const std::string& name) {
    struct stat st;
    return stat((dir_ + "/" + name).c_str(), &st) == 0;
  }
  static std::uint32_t U32(const std::string& b, size_t at) {
    std::uint32_t v = 0;
    if (b.size() >= at + 4) std::memcpy(&v, b.data() + at, 4);
    return v;
  }
  static std::uint16_t U16(const std::string& b, size_t at) {
    std::uint16_t v = 0;
    if (b.size() >= at + 2) std::memcpy(&v, b.data() + at, 2);
    return v;
  }
  std::string bin_, dir_;
};

// A ring of 24 vertices r degrees about (lat, lon), inside on the left.
std::string CapText(double lat, double lon, double r, int id) {
  std::ostringstream s;
  s.precision(10);
  for (int i = 0; i < 24; ++i) {
    const double t = 2 * M_PI * i / 24;
    s << lat + r * std::sin(t) << " " << lon + r * std::cos(t) / std::cos(lat * M_PI / 180) << "\n";
  }
  s << "* " << id << "\n";
  return s.str();
}

constexpr const char* kPoints = "10 10\n20 20\n-30 40\n";

TEST_F(CollectionProgram, PlrbuildCommandLineNamesDbIdAndIndex) {
  Put("p.pts", kPoints);
  Put("n.txt", "# three points\n1\tAlpha\n2\tS\xc3\xa3o Tom\xc3\xa9\n\n3\tGamma\n");
  std::string out;
  // Usage and refusals before anything is read.
  EXPECT_EQ(Plrbuild("", &out), 2);
  EXPECT_NE(out.find("usage: plrbuild OUT.plr"), std::string::npos) << out;
  EXPECT_EQ(Plrbuild("c.plr", &out), 2);
  EXPECT_EQ(Plrbuild("c.plr p.pts n.txt extra", &out), 2);
  EXPECT_EQ(Plrbuild("c.plr p.pts --bogus", &out), 2);
  EXPECT_EQ(Plrbuild("c.txt p.pts", &out), 2);
  EXPECT_NE(out.find("must end in .plr"), std::string::npos) << out;
  for (const char* bad : {"x", "-1", "4294967296", "12x"}) {
    EXPECT_EQ(Plrbuild(std::string("c.plr p.pts --db-id ") + bad, &out), 2) << bad;
  }
  EXPECT_FALSE(Exists("c.plr"));

  // Names, a given db-id and index: both files, the db-id in both headers,
  // the index's identifier recorded, the names byte-counted.
  cells::CellIndex idx;
  FILE* vf = fopen((bin_ + "/isotype.vix").c_str(), "rb");
  ASSERT_NE(vf, nullptr);
  ASSERT_EQ(cells::LoadVix(vf, idx, 1), 0);
  fclose(vf);
  const std::uint32_t index_id = idx.index_id;
  cells::ReleaseIndex(idx);
  ASSERT_EQ(Plrbuild("c.plr p.pts n.txt --db-id 4000000001 --index '" + bin_ + "/isotype.vix'", &out), 0) << out;
  EXPECT_NE(out.find("dimension 0, 3 items"), std::string::npos) << out;
  const std::string plr = Read("c.plr"), dat = Read("c.dat");
  ASSERT_GE(plr.size(), 44u);
  EXPECT_GE(U16(plr, 0), 300);
  EXPECT_LE(U16(plr, 0), 360);
  EXPECT_EQ(U16(plr, 2), 0);
  EXPECT_EQ(U32(plr, 4), 4000000001u);
  EXPECT_EQ(U32(plr, 8), index_id);
  EXPECT_EQ(plr[12] & 0x40, 0x40);  // names 4-byte aligned
  EXPECT_EQ(U32(dat, 0), 4000000001u);
  EXPECT_EQ(U32(dat, 4), 3u);
  const std::string sao = "S\xc3\xa3o Tom\xc3\xa9";
  const size_t at = dat.find(sao);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(static_cast<unsigned char>(dat[at - 1]), sao.size());  // bytes, not characters

  // Without names: no .dat, an old one left alone; the db-id defaults to now.
  Put("d.dat", "old");
  const long now = static_cast<long>(std::time(nullptr));
  ASSERT_EQ(Plrbuild("d.plr p.pts", &out), 0) << out;
  EXPECT_EQ(Read("d.dat"), "old");
  const long stamp = U32(Read("d.plr"), 4);
  EXPECT_LE(std::labs(stamp - now), 60);

  // The index: beside the object first (a damaged one there is not passed
  // over for the program's), a missing --index refused.
  ASSERT_EQ(Sh("mkdir sub && cp p.pts sub/"), 0);
  Put("sub/isotype.vix", "not an index");
  EXPECT_EQ(Plrbuild("e.plr sub/p.pts", &out), 1);
  EXPECT_NE(out.find("cannot load the cell index sub/isotype.vix"), std::string::npos) << out;
  EXPECT_EQ(Plrbuild("e.plr p.pts --index nosuch.vix", &out), 1);
  EXPECT_NE(out.find("nosuch.vix"), std::string::npos) << out;
  EXPECT_FALSE(Exists("e.plr"));
}

TEST_F(CollectionProgram, PlrbuildKeepsTheOldFilesWhenItFails) {
  Put("p.pts", kPoints);
  Put("n.txt", "1\tAlpha\n2\tBeta\n3\tGamma\n");
  ASSERT_EQ(Plrbuild("c.plr p.pts n.txt --db-id 5"), 0);
  const std::string plr = Read("c.plr"), dat = Read("c.dat");
  std::string out;
  // A bad names line, a missing object, a bad coordinate text: nothing written.
  Put("bad.txt", "1\tAlpha\nno tab here\n");
  EXPECT_EQ(Plrbuild("c.plr p.pts bad.txt --db-id 6", &out), 1);
  EXPECT_NE(out.find("bad.txt line 2"), std::string::npos) << out;
  EXPECT_EQ(Plrbuild("c.plr nosuch.qbo n.txt --db-id 6", &out), 1);
  Put("bad.pts", "10 10\nnorth east\n");
  EXPECT_EQ(Plrbuild("c.plr bad.pts n.txt --db-id 6", &out), 1);
  // The names text is the attribute file it would write: refused, the text
  // kept, and no collection file without its names.
  Put("m.dat", "1\tAlpha\n");
  EXPECT_EQ(Plrbuild("m.plr p.pts m.dat --db-id 6", &out), 1) << out;
  EXPECT_EQ(Read("m.dat"), "1\tAlpha\n");
  EXPECT_FALSE(Exists("m.plr"));
  EXPECT_EQ(Read("c.plr"), plr);
  EXPECT_EQ(Read("c.dat"), dat);
  // The attribute file cannot be written (a folder in its place): the
  // collection file is not replaced either, so the pair still matches.
  ASSERT_EQ(Sh("cp c.plr k.plr && mkdir k.dat"), 0);
  EXPECT_EQ(Plrbuild("k.plr p.pts n.txt --db-id 7", &out), 1);
  EXPECT_EQ(Read("k.plr"), plr);
  // A read-only folder (not for a user who writes anywhere): both refused,
  // both kept, no temporary file left.
  ASSERT_EQ(Sh("mkdir ro && cp c.plr c.dat ro/ && chmod a-w ro"), 0);
  if (Sh("touch ro/probe 2>/dev/null") != 0) {
    EXPECT_EQ(Plrbuild("ro/c.plr p.pts n.txt --db-id 8", &out), 1);
    EXPECT_EQ(Read("ro/c.plr"), plr);
    EXPECT_EQ(Read("ro/c.dat"), dat);
    EXPECT_EQ(Sh("test $(ls -A ro | wc -l) -eq 2"), 0);
  }
  // No temporary file left beside the others by the failed runs.
  EXPECT_EQ(Sh("ls -A | grep -q '\\.part$'"), 1);
}

TEST_F(CollectionProgram, NineOverlappingRegionsAndADatumWithoutNames) {
  // Nine caps about the same centre; eight of them in a second collection
  // with names.
  std::string nine, eight, names;
  for (int k = 1; k <= 9; ++k) {
    nine += CapText(10, 10, 1.0 + 0.5 * k, k);
    if (k <= 8) {
      eight += CapText(10, 10, 1.0 + 0.5 * k, k);
      names += std::to_string(k) + "\tCap " + std::to_string(k) + "\n";
    }
  }
  Put("nine.rgn", nine);
  Put("eight.rgn", eight);
  Put("eight.txt", names);
  const std::string index = " --index '" + bin_ + "/isotype.vix'";
  std::string out;
  ASSERT_EQ(Plrbuild("nine.plr nine.rgn" + index, &out), 0) << out;
  ASSERT_EQ(Plrbuild("eight.plr eight.rgn eight.txt" + index, &out), 0) << out;
  // Points imported with their attribute words, then made a collection
  // without names: the datum words stay the attribute words.
  Put("p.pts", "10 10 4000000000\n20 20 7\n");
  Ombrel("ImportPset p p.pts dd\n", "");
  ASSERT_TRUE(Exists("p.qbo"));
  ASSERT_EQ(Plrbuild("pc.plr p.qbo" + index, &out), 0) << out;
  ASSERT_FALSE(Exists("pc.dat"));

  out = Ombrel("Geometry N10 E10 10000000 stereo\n"
               "OverheadRsetInCollection nine\nEcho after nine\n"
               "OverheadRsetInCollection eight\nEcho after eight\n"
               "NearPointInCollection pc\nEcho after points\n",
               "click @N10,E10\nmove @N10,E10\nkey ESC\n"
               "move @N10,E10\nkey ESC\n"
               "click @N10.2,E10.1\nclick @N19.8,E20.3\nclick @N19.8,E20.3\nkey ESC\n");
  // Nine: the refusal once at the click (the move to the same pixel
  // searches nothing), the click beeps, no region is named.
  const size_t a = out.find("Move pointer in map"), b = out.find("Echo after nine");
  ASSERT_NE(a, std::string::npos) << out;
  ASSERT_NE(b, std::string::npos) << out;
  const std::string in_nine = out.substr(a, b - a);
  EXPECT_NE(in_nine.find("More than 8 overlapping regions\n<beep>\n"), std::string::npos) << in_nine;
  EXPECT_EQ(in_nine.find("More than 8", in_nine.find("More than 8") + 1), std::string::npos) << in_nine;
  EXPECT_EQ(in_nine.find("???"), std::string::npos) << in_nine;
  // Eight: all eight named, no refusal.
  const size_t c = out.find("Echo after eight");
  ASSERT_NE(c, std::string::npos) << out;
  const std::string in_eight = out.substr(b, c - b);
  for (int k = 1; k <= 8; ++k)
    EXPECT_NE(in_eight.find("Cap " + std::to_string(k) + "\n"), std::string::npos) << k << in_eight;
  EXPECT_EQ(in_eight.find("More than"), std::string::npos) << in_eight;
  // Points without an attribute file: the datum words in decimal, the
  // repeated click repeating the report.
  const size_t d = out.find("Echo after points");
  ASSERT_NE(d, std::string::npos) << out;
  const std::string in_points = out.substr(c, d - c);
  EXPECT_EQ(in_points.find("data from"), std::string::npos) << in_points;
  EXPECT_NE(in_points.find("\n4000000000\n7\n7\n"), std::string::npos) << in_points;
}

}  // namespace

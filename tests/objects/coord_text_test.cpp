// Coordinate text: extensions and resolution indicators, the reader's rules
// (comments, marks and their errors, implicit ring closure, attributes,
// line numbers) and round trips of every kind through both text forms and
// every resolution code.
#include "lib/cells/coord_text.h"
#include "lib/cells/object_file.h"
#include "lib/geodesy/cdc.h"
#include "tests/objects/test_index.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <unistd.h>

namespace cells {
namespace {

using geodesy::DirectionCosines;

std::string Dir() {
  static std::string dir = [] {
    std::string tmpl = "/tmp/ombrel_coord_" + std::string(6, 'X');
    return std::string(mkdtemp(tmpl.data())) + "/";
  }();
  return dir;
}

CoordReadResult Read(const std::string& text, int kind, std::vector<PointNode>& out, int res = 6,
                     CoordForm form = CoordForm::kText) {
  CoordReadOptions o;
  o.kind = kind;
  o.res = res;
  o.form = form;
  return ReadCoordTextBuffer(text.data(), text.size(), o, out);
}

TEST(CoordText, ExtensionsAndResolutionIndicators) {
  EXPECT_EQ(CoordFileTypeOf("a/b.pts").kind, 0);
  EXPECT_EQ(CoordFileTypeOf("a/b.lnc").kind, 1);
  EXPECT_EQ(CoordFileTypeOf("a/b.lnc").form, CoordForm::kCdc);
  EXPECT_EQ(CoordFileTypeOf("b.rgz").form, CoordForm::kBinary);
  EXPECT_EQ(CoordFileTypeOf("b.txt").kind, -1);
  EXPECT_EQ(CoordFileTypeOf("dir.rgn/b").kind, -1);
  const char* ind[] = {"l", "m", "md", "h", "hd", "he", "f", "fd", "fe", "d", "dd", "de"};
  const int code[] = {2, 4, 5, 6, 7, 263, 8, 9, 265, 10, 11, 267};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(ResolutionCode(ind[i]), code[i]) << ind[i];
  EXPECT_EQ(ResolutionCode("hdx"), 7);  // only two characters count
  for (const char* bad : {"", "x", "me", "le", "ld", "mx", "H"}) EXPECT_EQ(ResolutionCode(bad), 0) << bad;
}

TEST(CoordText, LineFileGetsClosingMarksAndIdentifiers) {
  std::vector<PointNode> n;
  auto r = Read("; comment\n10 20\n11 21\n* 17\n12 22\n", 1, n);
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(n.size(), 6u);
  EXPECT_TRUE(IsMark(n[2]));
  EXPECT_EQ(n[2].attribute, 17u);
  EXPECT_TRUE(IsMark(n[4]) && IsMark(n[5]));
  EXPECT_EQ(n[4].attribute, 0u);
  n.clear();
  ASSERT_EQ(Read("10 20\n* 3\n", 1, n).status, 0);
  EXPECT_EQ(n.size(), 3u);  // one closing mark added
  n.clear();
  ASSERT_EQ(Read("10 20\n* 3\n* 4\n", 1, n).status, 0);
  EXPECT_EQ(n.size(), 3u);
  n.clear();
  ASSERT_EQ(Read("10 20\n* x\n", 1, n).status, 0);
  EXPECT_EQ(n[1].attribute, 0u);  // an identifier that is not a number
}

TEST(CoordText, MarkSequenceErrorsWithLineNumbers) {
  std::vector<PointNode> n;
  auto r = Read("; c\n* 1\n10 20\n", 1, n);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.mark_error, 1);
  EXPECT_EQ(r.line, 2);
  n.clear();
  r = Read("10 20\n*\n*\n*\n", 2, n);
  EXPECT_EQ(r.mark_error, 3);
  EXPECT_EQ(r.line, 4);
  n.clear();
  r = Read("10 20\n*\n*\n11 21\n", 1, n);
  EXPECT_EQ(r.mark_error, 5);
  EXPECT_EQ(r.line, 4);
  n.clear();
  // Marks in a point file are ignored, wherever they are.
  r = Read("* 1\n10 20\n*\n*\n*\n11 21\n", 0, n);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(n.size(), 2u);
}

TEST(CoordText, InvalidCoordinatesNameTheLine) {
  for (const char* bad : {"91 10\n", "10 abc\n", "10\n", "n95 e10\n", "12x 10\n"}) {
    std::vector<PointNode> n;
    auto r = Read(std::string("; ok\n1 1\n") + bad, 0, n);
    EXPECT_EQ(r.status, 1) << bad;
    EXPECT_EQ(r.line, 3) << bad;
    EXPECT_EQ(r.text + "\n", std::string(bad));
  }
  std::vector<PointNode> n;
  EXPECT_EQ(Read("n45:30 w120:15:30.5\ns10.5 E5\n-90 180\n", 0, n).status, 0);
  EXPECT_EQ(n.size(), 3u);
  n.clear();
  EXPECT_EQ(Read("1 2\n99999999999 5\n", 0, n, 6, CoordForm::kCdc).status, 1);
}

TEST(CoordText, RingsCloseImplicitlyAndAttributesFollowTheCode) {
  std::vector<PointNode> open, closed;
  ASSERT_EQ(Read("0 0\n0 10\n10 10\n* 1\n", 2, open).status, 0);
  ASSERT_EQ(Read("0 0\n0 10\n10 10\n0 0\n* 1\n", 2, closed).status, 0);
  ASSERT_EQ(open.size(), closed.size());
  std::vector<PointNode> n;
  ASSERT_EQ(Read("0 0 42\n1 1 7\n", 0, n, 2).status, 0);  // "l": third field ignored
  EXPECT_EQ(n[0].attribute, 0u);
  n.clear();
  ASSERT_EQ(Read("0 0 42\n1 1\n", 0, n, 7).status, 0);
  EXPECT_EQ(n[0].attribute, 42u);
  EXPECT_EQ(n[1].attribute, 0u);
  n.clear();
  ASSERT_EQ(Read("0 0 12345678901234\n", 0, n, 263).status, 0);
  EXPECT_EQ(n[0].attribute, 12345678901234ull);
  n.clear();
  CoordReadOptions o;
  o.kind = 0;
  o.res = 7;
  o.datum_float = true;
  std::string t = "0 0 2.5\n";
  ASSERT_EQ(ReadCoordTextBuffer(t.data(), t.size(), o, n).status, 0);
  float f = 2.5f;
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  EXPECT_EQ(n[0].attribute, bits);
}

TEST(CoordText, ProgressIsReportedEvery100000Lines) {
  std::string text;
  for (int i = 0; i < 250000; ++i) text += "1 2\n";
  std::vector<std::int64_t> seen;
  CoordReadOptions o;
  o.progress = [](void* c, std::int64_t lines) { static_cast<std::vector<std::int64_t>*>(c)->push_back(lines); };
  o.progress_context = &seen;
  std::vector<PointNode> n;
  ASSERT_EQ(ReadCoordTextBuffer(text.data(), text.size(), o, n).status, 0);
  EXPECT_EQ(seen, (std::vector<std::int64_t>{100000, 200000}));
}

class RoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::LoadShippedIndex("isotype.vix", idx)) GTEST_SKIP() << "isotype.vix not built";
  }
  void TearDown() override { ReleaseIndex(idx); }
  CellIndex idx;
};

// Writes the nodes as text, imports them as an object, exports it again in
// the same form and compares the vertices and identifiers.
TEST_F(RoundTrip, EveryKindFormAndResolutionCode) {
  std::mt19937 rng(21);
  std::uniform_real_distribution<double> lat(-80, 80), lon(-180, 180), step(-0.5, 0.5);
  const char* ind[] = {"l", "m", "md", "h", "hd", "he", "f", "fd", "fe", "d", "dd", "de"};
  const geodesy::Ellipsoid wgs = geodesy::MakeEllipsoid();
  for (int kind = 0; kind < 3; ++kind) {
    for (int form = 0; form < 2; ++form) {
      for (const char* indicator : ind) {
        const int res = ResolutionCode(indicator);
        std::ostringstream text;
        int n_items = kind == 0 ? 1 : 3;
        for (int item = 0; item < n_items; ++item) {
          double la = lat(rng), lo = lon(rng);
          for (int k = 0; k < 8; ++k) {
            la += step(rng), lo += step(rng) + 0.6;
            geodesy::DirectionCosines p = geodesy::GeodeticToCosines({la * M_PI / 180, lo * M_PI / 180}, wgs);
            if (form == 1) {
              geodesy::CDC c = geodesy::EncodeCdc(geodesy::SurfaceNormal(p, wgs));
              text << static_cast<std::int32_t>(c.w0) << ' ' << static_cast<std::int32_t>(c.w1);
            } else {
              char buf[80];
              std::snprintf(buf, sizeof buf, "%.9f %.9f", la, lo);
              text << buf;
            }
            text << ' ' << (item * 100 + k + 1) << '\n';
          }
          if (kind > 0) text << "* " << (item + 11) << '\n';
        }
        const char* ext[2][3] = {{".pts", ".lns", ".rgn"}, {".ptc", ".lnc", ".rgc"}};
        const std::string src = Dir() + "src" + ext[form][kind];
        std::ofstream(src) << text.str();
        CoordReadOptions ro;
        ro.kind = kind;
        ro.form = static_cast<CoordForm>(form);
        ro.res = res;
        const std::string obj = Dir() + "rt.qbo";
        ImportResult ir = ImportCoordFile(idx, src, obj, ro, 77, 1 << 20);
        ASSERT_EQ(ir.stage, ImportStage::kDone) << kind << indicator;
        ASSERT_EQ(ir.build_status, 0);
        ObjectHandle h;
        ASSERT_EQ(OpenObjectRead(h, obj, idx.index_id, idx.cell_count), 0);
        EXPECT_EQ(h.obj.res, res);
        const std::string back = Dir() + "back" + ext[form][kind];
        std::FILE* f = std::fopen(back.c_str(), "w");
        CoordWriteOptions wo;
        wo.kind = kind;
        wo.form = static_cast<CoordForm>(form);
        wo.lat_code = "nsd9";
        wo.lon_code = "ewd9";
        ASSERT_EQ(WriteCoordText(f, idx, h.obj, wo), 0);
        std::fclose(f);
        std::vector<PointNode> a, b;
        std::string t1 = text.str();
        std::ifstream in(back);
        std::string t2((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_EQ(ReadCoordTextBuffer(t1.data(), t1.size(), ro, a).status, 0);
        ASSERT_EQ(ReadCoordTextBuffer(t2.data(), t2.size(), ro, b).status, 0);
        // A Pset comes back cell by cell: compare as sets by attribute.
        if (kind == 0 && ResHasAttribute(res)) {
          auto by_attr = [](const PointNode& x, const PointNode& y) { return x.attribute < y.attribute; };
          std::sort(a.begin(), a.end(), by_attr);
          std::sort(b.begin(), b.end(), by_attr);
        }
        ASSERT_EQ(a.size(), b.size()) << kind << indicator;
        // The tolerance: the storage step of the form, and the text's 1e-9
        // degree (CDC: about 2e-9 per component).
        const double tol = ResForm(res) == 1 ? 2e-3 : ResForm(res) == 2 ? 1e-5 : ResForm(res) == 4 ? 1e-6 : 4e-9;
        for (std::size_t i = 0; i < a.size(); ++i) {
          ASSERT_EQ(IsMark(a[i]), IsMark(b[i]));
          if (IsMark(a[i])) {
            // The last mark: 0 added by the reader, the object's id in the export.
            if (i + 1 < a.size()) {
              EXPECT_EQ(a[i].attribute, b[i].attribute);
            }
            continue;
          }
          if (kind > 0 || ResHasAttribute(res)) {
            EXPECT_LT(std::sqrt(geodesy::ChordSq(a[i].p, b[i].p)), tol) << kind << indicator << i;
          }
          if (ResHasAttribute(res)) {
            EXPECT_EQ(a[i].attribute, b[i].attribute);
          }
        }
        CloseObject(h);
      }
    }
  }
}

TEST_F(RoundTrip, RsetExportedAsLinesComesOutClosedAndPsetCannotBeLines) {
  const std::string src = Dir() + "tri.rgn";
  std::ofstream(src) << "0 0\n0 10\n10 10\n* 5\n20 20\n20 25\n25 25\n20 20\n* 6\n";
  CoordReadOptions ro;
  ro.kind = 2;
  const std::string obj = Dir() + "tri.qbo";
  ASSERT_EQ(ImportCoordFile(idx, src, obj, ro, 9, 1 << 20).stage, ImportStage::kDone);
  ObjectHandle h;
  ASSERT_EQ(OpenObjectRead(h, obj, idx.index_id), 0);
  const std::string lns = Dir() + "tri.lns";
  std::FILE* f = std::fopen(lns.c_str(), "w");
  CoordWriteOptions wo;
  wo.kind = 1;
  ASSERT_EQ(WriteCoordText(f, idx, h.obj, wo), 0);
  std::fclose(f);
  std::ifstream in(lns);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 11u);  // 4 + mark, 4 + mark, the object's mark
  EXPECT_EQ(lines[0], lines[3]);
  EXPECT_EQ(lines[4], "* 5");
  EXPECT_EQ(lines[5], lines[8]);
  EXPECT_EQ(lines[10], "* 9");
  CloseObject(h);
  // A Pset cannot be written as lines.
  const std::string pts = Dir() + "p.pts";
  std::ofstream(pts) << "1 1\n";
  ro.kind = 0;
  ASSERT_EQ(ImportCoordFile(idx, pts, Dir() + "p.qbo", ro, 9, 1 << 20).stage, ImportStage::kDone);
  ASSERT_EQ(OpenObjectRead(h, Dir() + "p.qbo", idx.index_id), 0);
  std::FILE* g = std::fopen((Dir() + "p.lns").c_str(), "w");
  EXPECT_EQ(WriteCoordText(g, idx, h.obj, wo), 3);
  std::fclose(g);
}

TEST_F(RoundTrip, FailedImportLeavesNoFileAndEmptyImportKeepsOne) {
  const std::string bad = Dir() + "bad.lns";
  std::ofstream(bad) << "1 1\n2 2\n*\n*\n3 3\n";
  CoordReadOptions ro;
  ro.kind = 1;
  ImportResult r = ImportCoordFile(idx, bad, Dir() + "bad.qbo", ro, 9, 1 << 20);
  EXPECT_EQ(r.stage, ImportStage::kRead);
  EXPECT_EQ(r.read.mark_error, 5);
  EXPECT_FALSE(platform::PathExists((Dir() + "bad.qbo").c_str()));
  const std::string empty = Dir() + "empty.pts";
  std::ofstream(empty) << "; nothing\n";
  ro.kind = 0;
  r = ImportCoordFile(idx, empty, Dir() + "empty.qbo", ro, 9, 1 << 20);
  EXPECT_EQ(r.stage, ImportStage::kDone);
  EXPECT_EQ(r.build_status, -1);
  ObjectHandle h;
  EXPECT_EQ(OpenObjectRead(h, Dir() + "empty.qbo", idx.index_id), 0);
  EXPECT_EQ(VertexCount(h.obj), 0);
  // No room in the mapping: the builder fails and no file is left.
  std::string many;
  for (int i = 0; i < 5000; ++i) many += std::to_string(i % 80) + " " + std::to_string(i % 170) + "\n";
  std::ofstream(Dir() + "many.pts") << many;
  r = ImportCoordFile(idx, Dir() + "many.pts", Dir() + "many.qbo", ro, 9, 1024);
  EXPECT_EQ(r.stage, ImportStage::kBuild);
  EXPECT_EQ(r.build_status, 8);
  EXPECT_FALSE(platform::PathExists((Dir() + "many.qbo").c_str()));
}

}  // namespace
}  // namespace cells

// The dump text of each kind: header lines, cell lists, records and totals.
#include "lib/cells/object_builder.h"
#include "lib/cells/object_dump.h"
#include "lib/geodesy/ellipsoid.h"
#include "tests/objects/test_index.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <regex>
#include <sstream>

namespace cells {
namespace {

std::vector<std::string> Dump(const Object& o) {
  char* buf = nullptr;
  std::size_t len = 0;
  std::FILE* f = open_memstream(&buf, &len);
  EXPECT_EQ(DumpObjectText(o, f), 0);
  std::fclose(f);
  std::istringstream in(std::string(buf, len));
  std::free(buf);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

class Dumps : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::LoadShippedIndex("dodeca05.vix", idx)) GTEST_SKIP() << "dodeca05.vix not built";
  }
  void TearDown() override { ReleaseIndex(idx); }
  CellIndex idx;
};

TEST_F(Dumps, PsetAtCellCentresPrintsZeroRecordsWithAttributes) {
  std::vector<PointNode> pts{{idx.cells[4]->centre, 41}, {idx.cells[9]->centre, 42}};
  std::vector<std::uint8_t> heap;
  Object o;
  ASSERT_EQ(BuildPset(idx, {nullptr, &heap}, {12, 3, 5, 0}, pts, o), 0);
  auto lines = Dump(o);
  ASSERT_GE(lines.size(), 12u);
  EXPECT_EQ(lines[0], "* P-set; id:12 class:3 vix-id:" + std::to_string(static_cast<int>(idx.index_id)) + " *");
  EXPECT_EQ(lines[1], "  dim:0 ver:360, res:5 prec:0");
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(  env\.    at:\S+ size:16)")));
  EXPECT_TRUE(std::regex_match(lines[5], std::regex(R"(  o-cells: \S+ \(2 2\) 3 4 9)"))) << lines[5];
  EXPECT_TRUE(std::regex_match(lines[6], std::regex(R"(cell array at \S+ size:24)"))) << lines[6];
  EXPECT_TRUE(std::regex_match(lines[7], std::regex(R"(\* Cell: 4, at \S+, pts-ofs: 0 \(n=1\))"))) << lines[7];
  EXPECT_EQ(lines[8], "(0;0) [41]");
  EXPECT_EQ(lines[10], "(0;0) [42]");
  EXPECT_EQ(lines.back(), "  Total points: 2");
}

TEST_F(Dumps, RsetListsPiecesWithBoundaryParameters) {
  auto ll = [](double la, double lo) {
    return geodesy::GeocentricToCosines({la * M_PI / 180, lo * M_PI / 180});
  };
  std::vector<PointNode> pts{{ll(0, 0), 0}, {ll(0, 20), 0}, {ll(20, 10), 0}, Mark(8), Mark(0)};
  std::vector<std::uint8_t> heap;
  Object o;
  ASSERT_EQ(BuildRset(idx, {nullptr, &heap}, {3, 0, 2, 0}, pts, o), 0);
  auto lines = Dump(o);
  EXPECT_EQ(lines[0].substr(0, 9), "* R-set; ");
  EXPECT_TRUE(std::regex_match(lines[5], std::regex(R"(  i-cells: \S+ \(\d+\)( -?\d+)+)"))) << lines[5];
  EXPECT_TRUE(std::regex_match(lines[6], std::regex(R"(  b-cells: \S+ \(\d+\)( -?\d+)+)"))) << lines[6];
  int rings = 0, pieces = 0, first = 0, vertices = 0;
  for (const std::string& l : lines) {
    rings += std::regex_match(l, std::regex(R"( \* Rng\.at \S+, cell ptr: \S+ \(n=\d+\) id:8)"));
    if (std::regex_match(l, std::regex(R"( \* Cell: \d+, at \S+, vtx-ofs: \d+ \(n=\d+\) xbd: .*)"))) {
      ++pieces;
      first += l.find("xbd: -1.79769313486231e+308") != std::string::npos;
    }
    vertices += std::regex_match(l, std::regex(R"(\(-?\d+,-?\d+\))"));
  }
  EXPECT_EQ(rings, 1);
  EXPECT_EQ(pieces, CellIndexCount(o));
  EXPECT_EQ(first, 1);
  EXPECT_EQ(vertices, 3);
  EXPECT_EQ(lines.back(), "  Total vertices: 3");
}

TEST(DumpTin, TotalsOfATinPset) {
  // One cell, two points in doubles, one triangle and one neighbour triple.
  std::vector<std::uint64_t> mem(64, 0);
  std::uint8_t* b = reinterpret_cast<std::uint8_t*>(mem.data());
  Object o;
  o.release = 360;
  o.kind = kTinPset;
  o.res = 10;
  o.env = b;
  o.env_size = 8;
  Store<std::int32_t>(b, 2);
  Store<std::int32_t>(b + 4, 7);
  o.structure = b + 8;
  o.struct_size = 48;
  TinCell t{7, 0, 2, 32, 1, 44, 1, 3, 2, {1.5f, 2.5f, 3.5f}};
  std::memcpy(o.structure, &t, sizeof t);
  o.coords = b + 56;
  o.coord_size = 56;
  Store<std::int32_t>(o.coords + 32, 0), Store<std::int32_t>(o.coords + 36, 1), Store<std::int32_t>(o.coords + 40, 1);
  Store<std::int32_t>(o.coords + 44, -1), Store<std::int32_t>(o.coords + 48, -1), Store<std::int32_t>(o.coords + 52, -1);
  o.kfield[2] = 1;
  ASSERT_TRUE(ObjectValid(o, 0));
  auto lines = Dump(o);
  EXPECT_EQ(lines[0].substr(0, 9), "* P-set; ");
  bool cpt = false, tri = false, nb = false;
  for (const std::string& l : lines) {
    cpt |= l == "  cptnb:3, cvxnb:2, z:1.5,2.5,3.5";
    tri |= l == "(0,1,1)";
    nb |= l == "(-1,-1,-1)";
  }
  EXPECT_TRUE(cpt && tri && nb);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "  Total points: 2");
  EXPECT_EQ(lines[lines.size() - 2], "  Total triangles: 1");
  EXPECT_EQ(lines[lines.size() - 1], "  Total neighbor list: 1");
}

TEST(DumpTin, DamagedTrianglesAreRefused) {
  // The object of TotalsOfATinPset, then one field at a time out of range.
  std::vector<std::uint64_t> mem(64, 0);
  std::uint8_t* b = reinterpret_cast<std::uint8_t*>(mem.data());
  Object o;
  o.release = 360;
  o.kind = kTinPset;
  o.res = 10;
  o.env = b;
  o.env_size = 8;
  Store<std::int32_t>(b, 2);
  Store<std::int32_t>(b + 4, 7);
  o.structure = b + 8;
  o.struct_size = 48;
  o.coords = b + 56;
  o.coord_size = 56;
  o.kfield[2] = 1;
  auto set = [&](TinCell t, std::int32_t vertex, std::int32_t neighbour) {
    std::memcpy(o.structure, &t, sizeof t);
    Store<std::int32_t>(o.coords + 32, 0), Store<std::int32_t>(o.coords + 36, 1);
    Store<std::int32_t>(o.coords + 40, vertex);
    Store<std::int32_t>(o.coords + 44, -1), Store<std::int32_t>(o.coords + 48, neighbour);
    Store<std::int32_t>(o.coords + 52, -1);
  };
  const TinCell good{7, 0, 2, 32, 1, 44, 1, 3, 2, {1.5f, 2.5f, 3.5f}};
  set(good, 1, 0);
  EXPECT_TRUE(ObjectValid(o, 0));  // neighbour 0: the one triangle, in range
  set(good, 2, -1);                // a vertex past the cell's two points
  EXPECT_FALSE(ObjectValid(o, 0));
  set(good, -1, -1);
  EXPECT_FALSE(ObjectValid(o, 0));
  set(good, 1, 1);                 // a neighbour past the one triangle
  EXPECT_FALSE(ObjectValid(o, 0));
  set(good, 1, -2);
  EXPECT_FALSE(ObjectValid(o, 0));
  TinCell no_lists = good;
  no_lists.neighbour_count = 0;    // no neighbour lists: valid
  set(no_lists, 1, 5);
  EXPECT_TRUE(ObjectValid(o, 0));
  TinCell bad_count = good;
  bad_count.triangle_count = 0;    // neighbour triples without triangles
  set(bad_count, 1, -1);
  EXPECT_FALSE(ObjectValid(o, 0));
}

}  // namespace
}  // namespace cells

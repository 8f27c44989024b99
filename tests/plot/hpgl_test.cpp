// The plot's HP-GL/2 text: numbers, pens and fills, pieces of polylines,
// polygons, traced fills; every plot decoded by the independent reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>

#include "lib/plot/hpgl.h"
#include "lib/plot/plot.h"
#include "tests/plot/hpgl_reader.h"

namespace {

using display::DrawPoint;

std::string Bytes(int32_t v) {
  std::string s;
  plot::EncodeNumber(s, v);
  return s;
}

// Decodes one number the way the reader does, from a PE of a single pair.
double DecodeOne(int32_t v) {
  std::string s = "PE=<";
  plot::EncodeNumber(s, v);
  plot::EncodeNumber(s, 0);
  s += ";PD;";
  const hpgl_test::Plot p = hpgl_test::ReadPlot(s);
  EXPECT_TRUE(p.ok) << p.error;
  return p.dots.empty() ? NAN : p.dots[0].x;
}

TEST(PlotEncoding, KnownBytesAndExtremes) {
  EXPECT_EQ(Bytes(-1), std::string(1, (char)194));
  EXPECT_EQ(Bytes(32), std::string({(char)63, (char)192}));
  EXPECT_EQ(Bytes(0), std::string(1, (char)191));
  EXPECT_EQ(Bytes(31), std::string(1, (char)(62 + 191)));
  EXPECT_EQ(Bytes(-32), std::string({(char)(65 % 64 + 63), (char)(1 + 191)}));
  // The largest values: 33 bits of u in six digits at most.
  for (int32_t v : {INT32_MAX, INT32_MIN, INT32_MIN + 1, 1 << 30, -(1 << 30), 11040, -7680}) {
    const std::string b = Bytes(v);
    EXPECT_LE(b.size(), 6u) << v;
    EXPECT_EQ(DecodeOne(v), (double)v) << v;
    for (size_t i = 0; i + 1 < b.size(); ++i) EXPECT_LT((unsigned char)b[i], 127) << v;
    EXPECT_GE((unsigned char)b.back(), 191) << v;
  }
}

TEST(PlotEncoding, RandomPolylinesRoundTrip) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> coord(-2000000, 2000000), len(2, 200);
  for (int t = 0; t < 200; ++t) {
    std::vector<DrawPoint> pts(len(rng));
    for (auto& p : pts) p = {(double)coord(rng), (double)coord(rng)};
    std::string s;
    plot::AppendPolyline(s, pts.data(), pts.size());
    const hpgl_test::Plot p = hpgl_test::ReadPlot(s);
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.lines.size(), 1u);
    ASSERT_EQ(p.lines[0].points.size(), pts.size());
    for (size_t i = 0; i < pts.size(); ++i) {
      EXPECT_EQ(p.lines[0].points[i].x, pts[i].x);
      EXPECT_EQ(p.lines[0].points[i].y, pts[i].y);
    }
  }
}

TEST(PlotEncoding, DevicePointsRoundToNearestUnit) {
  EXPECT_EQ(plot::PlotUnit(2.5), 3);
  EXPECT_EQ(plot::PlotUnit(-2.5), -3);
  EXPECT_EQ(plot::PlotUnit(2.49), 2);
  EXPECT_EQ(plot::PlotUnit(1e30), 1000000000);
  EXPECT_EQ(plot::PlotUnit(NAN), -1000000000);
}

display::LineStyle Line(uint32_t colour, int p, int w, int d) {
  display::LineStyle s;
  s.colour = colour;
  s.pattern = (int16_t)p;
  s.width = (uint16_t)w;
  s.dash = (uint16_t)d;
  return s;
}

TEST(PlotPens, MonochromeByShadingBand) {
  const uint32_t white = 0xffffff;
  EXPECT_EQ(plot::PenCommands(1, Line(white, 0, 0, 0), white), "PA;SP0;TR0;\nLT;PW0;SV;");
  struct Case {
    int p;
    const char* sv;
  } cases[] = {{-1, "SV;"},      {0, "SV;"},      {1, "SV1,50;"},  {6, "SV1,50;"},  {7, "SV1,25;"}, {8, "SV1,25;"},
               {9, "SV1,12;"},   {12, "SV1,12;"}, {13, "SV1,6;"},  {16, "SV1,6;"},  {17, "SV1,1;"}};
  for (const Case& c : cases)
    EXPECT_EQ(plot::PenCommands(1, Line(0, c.p, 2, 0), white), std::string("PA;SP1;TR;\nLT;PW0.5;") + c.sv) << c.p;
  EXPECT_EQ(plot::PenCommands(1, Line(0, 0, 0, 2), white), "PA;SP1;TR;\nLT2,2,1;PW0;SV;");
  EXPECT_EQ(plot::PenCommands(1, Line(0, 0, 10, 0), white), "PA;SP1;TR;\nLT;PW2.1;SV;");
}

TEST(PlotPens, Colour) {
  EXPECT_EQ(plot::PenCommands(2, Line(3, 0, 2, 0), 0xffffff), "\nPA;LT;SP3;PW0.5;");
  EXPECT_EQ(plot::PenCommands(2, Line(3, 0, 0, 0), 0xffffff), "\nPA;LT;SP3;PW0;");
  EXPECT_EQ(plot::PenCommands(2, Line(5, 4, 1, 2), 0xffffff), "\nPA;LT2,2,1;SP5;PW0.3;");
  // Colour values above 2 count as colour plots.
  EXPECT_EQ(plot::PenCommands(3, Line(3, 0, 2, 0), 0xffffff), "\nPA;LT;SP3;PW0.5;");
}

TEST(PlotFills, AllRows) {
  const char* rows[] = {"AC;FT10,100",    "AC;FT10,50",     "AC10,10;FT10,50", "AC;FT10,50",
                        "AC10,10;FT10,50", "AC;FT10,50",    "AC10,10;FT10,50", "AC;FT10,25",
                        "AC10,10;FT10,25", "AC;FT10,12",    "AC10,0;FT10,12",  "AC0,10;FT10,12",
                        "AC10,10;FT10,12", "AC;FT10,6",     "AC10,0;FT10,6",   "AC0,10;FT10,6",
                        "AC10,10;FT10,6"};
  for (int p = 0; p <= 16; ++p) EXPECT_STREQ(plot::FillCommand(p), rows[p]) << p;
  EXPECT_STREQ(plot::FillCommand(-1), "AC;FT10,1");
  EXPECT_STREQ(plot::FillCommand(17), "AC;FT10,1");
  EXPECT_EQ(plot::WindowCommand({0, 0, 11040, 7680}), "DF;IW0,0,11040,7680;");
}

bool Collect(void* ctx, const char* d, size_t n) {
  static_cast<std::string*>(ctx)->append(d, n);
  return true;
}

struct TestPlot {
  std::string bytes;
  plot::Plot p;
  explicit TestPlot(int mode = 2) { plot::InitPlot(&p, mode, {0, 0, 10000, 8000}, 0xffffff, {&bytes, Collect}); }
};

TEST(PlotPieces, PolylinesCutAtTheBuffer) {
  for (int n : {63, 64, 65, 100, 200}) {
    TestPlot t;
    display::DrawState d;
    d.plot = plot::Target(&t.p);
    ASSERT_EQ(display::OpenLines(&d, nullptr, Line(3, 0, 2, 0)), display::kDrawOk);
    display::BeginPolyline(&d, 0, 0);
    for (int i = 1; i < n; ++i) display::AddPolylinePoint(&d, 10 * i, (i * i) % 97);
    display::FinishPolyline(&d);
    display::CloseDrawState(&d);
    ASSERT_EQ(t.bytes.compare(0, 20, "DF;IW0,0,10000,8000;"), 0);
    const hpgl_test::Plot r = hpgl_test::ReadPlot(t.bytes);
    ASSERT_TRUE(r.ok) << r.error;
    const int pieces = n <= 64 ? 1 : 1 + (n - 64 + 62) / 63;
    EXPECT_EQ(r.pe_count, pieces) << n;
    ASSERT_EQ((int)r.lines.size(), pieces) << n;
    // Each piece starts where the last ended: the line is continuous and
    // every point is there once (plus one repeat per cut).
    int total = 0;
    for (size_t k = 0; k < r.lines.size(); ++k) {
      total += (int)r.lines[k].points.size();
      if (k) {
        EXPECT_EQ(r.lines[k].points[0].x, r.lines[k - 1].points.back().x);
      }
    }
    EXPECT_EQ(total, n + pieces - 1);
    if (n == 100) {
      EXPECT_EQ(r.lines[0].points.size(), 64u);
      EXPECT_EQ(r.lines[1].points[0].x, 10 * 63);  // the 64th point
    }
  }
}

TEST(PlotPieces, PolygonsDotsLabelsAndQuietKinds) {
  TestPlot t(1);
  display::DrawState d;
  d.plot = plot::Target(&t.p);
  display::AreaStyle a;
  a.pattern = 9;
  ASSERT_EQ(display::OpenAreas(&d, nullptr, a), display::kDrawOk);
  const DrawPoint tri[] = {{0, 0}, {100, 0}, {0, 100}};
  display::FillPolygon(&d, tri, 3);
  std::vector<DrawPoint> many;
  for (int i = 0; i < 40; ++i) many.push_back({500 + 100 * cos(i * M_PI / 20), 500 + 100 * sin(i * M_PI / 20)});
  display::FillPolygon(&d, many.data(), many.size());
  display::FillPolygon(&d, tri, 2);  // not a polygon: nothing
  display::CloseDrawState(&d);
  EXPECT_NE(t.bytes.find("DF;IW0,0,10000,8000;AC;FT10,12;PE=<"), std::string::npos) << t.bytes;
  hpgl_test::Plot r = hpgl_test::ReadPlot(t.bytes);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.fills.size(), 2u);
  ASSERT_EQ(r.fills[0].size(), 1u);
  EXPECT_EQ(r.fills[0][0].size(), 3u);
  EXPECT_EQ(r.fills[1][0].size(), 40u);

  t.bytes.clear();
  display::MarkerStyle m;
  m.colour = 0xffffff;  // the background: pen 0
  ASSERT_EQ(display::OpenMarkers(&d, nullptr, m), display::kDrawOk);
  display::Marker(&d, 10, 20);
  display::Marker(&d, -5, 7.6);
  display::CloseDrawState(&d);
  EXPECT_EQ(t.bytes.compare(0, 31, "DF;IW0,0,10000,8000;PA;SP0;TR0;"), 0) << t.bytes;
  r = hpgl_test::ReadPlot(t.bytes);
  ASSERT_EQ(r.dots.size(), 2u);
  EXPECT_EQ(r.dots[1].x, -5);
  EXPECT_EQ(r.dots[1].y, 8);

  t.bytes.clear();
  display::TextStyle ts;
  ts.h = 30;  // offsets do not apply on a plot
  ASSERT_EQ(display::OpenText(&d, nullptr, ts), display::kDrawOk);
  display::Text(&d, 100, 200, "Wien");
  display::CloseDrawState(&d);
  EXPECT_EQ(t.bytes, std::string("PU100,200;LBWien\003;"));

  t.bytes.clear();
  ASSERT_EQ(display::OpenPlain(&d, nullptr), display::kDrawOk);
  display::FillPolygonColour(&d, tri, 3, 0xff);
  display::Pixel(&d, 1, 1, 0xff);
  display::CloseDrawState(&d);
  display::RampStyle rs;
  ASSERT_EQ(display::OpenRamp(&d, nullptr, rs), display::kDrawOk);
  display::Pixel(&d, 1, 1, 0xff);
  display::CloseDrawState(&d);
  EXPECT_EQ(t.bytes, "");
}

TEST(PlotPieces, LabelCannotEndEarly) {
  std::string s;
  plot::AppendLabel(s, 0, 0, std::string("a\003PG;b"));
  const hpgl_test::Plot r = hpgl_test::ReadPlot(s);
  ASSERT_EQ(r.labels.size(), 1u);
  EXPECT_EQ(r.labels[0].text, "aPG;b");
  EXPECT_EQ(std::count(r.instructions.begin(), r.instructions.end(), "PG"), 0);
}

// A grid with a square hole, a separate piece touching it only at a corner,
// and a one-cell piece: the traced rings fill back to exactly the grid.
TEST(PlotFillGrid, TracedRingsFillBackTheGrid) {
  const int w = 12, h = 9;
  std::vector<uint8_t> g(w * h, 0);
  auto set = [&](int i, int j) { g[j * w + i] = 1; };
  for (int j = 1; j < 6; ++j)
    for (int i = 1; i < 6; ++i)
      if (!(i == 3 && j == 3)) set(i, j);  // a ring around a hole
  set(6, 6);                                // touches (5, 5) at a corner only
  set(7, 6);
  set(10, 1);
  set(11, 8);  // at the far corner of the grid
  std::vector<std::vector<display::PixelPoint>> rings;
  std::vector<int> piece;
  plot::TraceGrid(g.data(), w, h, &rings, &piece);
  EXPECT_EQ(rings.size(), 5u);
  int holes = 0;
  for (size_t a = 0; a < rings.size(); ++a)
    for (size_t b = a + 1; b < rings.size(); ++b)
      if (piece[a] == piece[b]) ++holes;
  EXPECT_EQ(holes, 1);  // only the outer ring and its hole share a piece
  // The plot: one even-odd fill per piece, read back and rasterised.
  TestPlot t;
  t.p.grid_w = w;
  t.p.grid_h = h;
  t.p.rows.assign(h, {});
  t.p.grid_x0 = 2;
  t.p.grid_y0 = 2;
  t.p.target.fill_width = w;
  t.p.target.fill_height = h;
  display::DrawState d;
  d.plot = plot::Target(&t.p);
  display::AreaStyle a;
  ASSERT_EQ(display::OpenAreas(&d, nullptr, a), display::kDrawOk);
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i)
      if (g[j * w + i]) display::MaskSpan(&d, j, i, i + 1);
  display::MaskSpan(&d, h, 0, w);    // outside the grid: ignored
  display::MaskSpan(&d, 0, -5, -1);  // likewise
  display::CloseDrawState(&d);
  const hpgl_test::Plot r = hpgl_test::ReadPlot(t.bytes);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.fills.size(), 4u);
  std::vector<uint8_t> back(w * h, 0);
  size_t with_hole = 0;
  for (const auto& f : r.fills) {
    if (f.size() == 2) ++with_hole;
    const auto one = hpgl_test::RasteriseFill(f, w, h, plot::kFillCell, {0, 0});
    for (int k = 0; k < w * h; ++k) back[k] |= one[k];
  }
  EXPECT_EQ(with_hole, 1u);
  EXPECT_EQ(back, g);
}

TEST(PlotFillGrid, RandomGridsFillBack) {
  std::mt19937 rng(11);
  for (int t = 0; t < 40; ++t) {
    const int w = 5 + (int)(rng() % 30), h = 5 + (int)(rng() % 30);
    std::vector<uint8_t> g(w * h);
    for (auto& c : g) c = rng() % 100 < 55;
    std::vector<std::vector<display::PixelPoint>> rings;
    std::vector<int> piece;
    plot::TraceGrid(g.data(), w, h, &rings, &piece);
    // Cell corners: a ring's corners lie on the grid (cell size 1 here).
    std::vector<std::vector<hpgl_test::Pt>> all;
    for (const auto& r : rings) {
      ASSERT_GE(r.size(), 4u);
      std::vector<hpgl_test::Pt> ring;
      for (const auto& c : r) ring.push_back({(double)c.x, (double)c.y});
      all.push_back(ring);
    }
    EXPECT_EQ(hpgl_test::RasteriseFill(all, w, h, 1.0, {0, 0}), g) << t;
  }
}

// Pieces of random grids: as many as the 4-connected components a flood
// fill finds, each with exactly one outer ring (positive area) and its holes
// (negative); the runs the spans leave, in any order and overlapping, trace
// the same rings as the grid.
TEST(PlotFillGrid, PiecesAndRunsOfRandomGrids) {
  std::mt19937 rng(29);
  for (int t = 0; t < 40; ++t) {
    const int w = 3 + (int)(rng() % 40), h = 3 + (int)(rng() % 40);
    std::vector<uint8_t> g(w * h);
    for (auto& c : g) c = rng() % 100 < 50;
    std::vector<int> comp(w * h, -1);
    int components = 0;
    for (int k = 0; k < w * h; ++k) {
      if (!g[k] || comp[k] >= 0) continue;
      std::vector<int> stack{k};
      comp[k] = components;
      while (!stack.empty()) {
        const int c = stack.back();
        stack.pop_back();
        const int i = c % w, j = c / w;
        const int n[4][2] = {{i + 1, j}, {i - 1, j}, {i, j + 1}, {i, j - 1}};
        for (const auto& q : n)
          if (q[0] >= 0 && q[1] >= 0 && q[0] < w && q[1] < h && g[q[1] * w + q[0]] && comp[q[1] * w + q[0]] < 0) {
            comp[q[1] * w + q[0]] = components;
            stack.push_back(q[1] * w + q[0]);
          }
      }
      ++components;
    }
    std::vector<std::vector<display::PixelPoint>> rings;
    std::vector<int> piece;
    plot::TraceGrid(g.data(), w, h, &rings, &piece);
    std::vector<int> outer(components, 0);
    int max_piece = -1;
    for (size_t r = 0; r < rings.size(); ++r) {
      long long area2 = 0;
      for (size_t k = 0; k < rings[r].size(); ++k) {
        const auto& a = rings[r][k];
        const auto& b = rings[r][(k + 1) % rings[r].size()];
        area2 += (long long)a.x * b.y - (long long)b.x * a.y;
      }
      ASSERT_NE(area2, 0) << t;
      ASSERT_GE(piece[r], 0);
      ASSERT_LT(piece[r], components) << t;
      max_piece = std::max(max_piece, piece[r]);
      if (area2 > 0) ++outer[piece[r]];
    }
    EXPECT_EQ(max_piece + 1, components) << t;
    for (int c = 0; c < components; ++c) EXPECT_EQ(outer[c], 1) << t << " piece " << c;
    // The same cells as spans out of order, split and overlapping.
    std::vector<std::vector<plot::GridRun>> rows(h);
    for (int j = 0; j < h; ++j) {
      std::vector<std::pair<int, int>> spans;
      for (int i = 0; i < w; ++i)
        if (g[j * w + i]) spans.push_back({i, i + 1 + (i + 1 < w && g[j * w + i + 1] && rng() % 2 ? 1 : 0)});
      std::shuffle(spans.begin(), spans.end(), rng);
      for (const auto& sp : spans) plot::AddRun(&rows[j], sp.first, sp.second);
      for (size_t k = 1; k < rows[j].size(); ++k) ASSERT_GT(rows[j][k].x0, rows[j][k - 1].x1) << t;
    }
    std::vector<std::vector<display::PixelPoint>> again;
    std::vector<int> again_piece;
    plot::TraceRuns(rows, &again, &again_piece);
    EXPECT_EQ(again.size(), rings.size()) << t;
    EXPECT_EQ(again_piece, piece) << t;
  }
}

TEST(PlotFillGrid, AddRunMerges) {
  std::vector<plot::GridRun> row;
  plot::AddRun(&row, 10, 12);
  plot::AddRun(&row, 2, 4);
  plot::AddRun(&row, 20, 25);
  plot::AddRun(&row, 4, 6);    // touches 2..4
  plot::AddRun(&row, 7, 7);    // empty: nothing
  plot::AddRun(&row, 11, 21);  // bridges 10..12 and 20..25
  EXPECT_EQ(row, (std::vector<plot::GridRun>{{2, 6}, {10, 25}}));
  plot::AddRun(&row, 0, 30);
  EXPECT_EQ(row, (std::vector<plot::GridRun>{{0, 30}}));
}

TEST(PlotSink, FailedWriteIsRemembered) {
  plot::Plot p;
  plot::InitPlot(&p, 1, {0, 0, 100, 100}, 0xffffff, {nullptr, [](void*, const char*, size_t) { return false; }});
  plot::PlotWrite(&p, "IN;");
  EXPECT_FALSE(plot::FlushPlot(&p));
  plot::PlotWrite(&p, "PG;");
  EXPECT_FALSE(plot::FlushPlot(&p));
  EXPECT_EQ(p.bytes, 0);
}

}  // namespace

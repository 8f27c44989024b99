// The satellite file, the receiver lines, the derivation chains and the
// nadir mark.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "interp/cmd_orbit.h"
#include "interp/keyed_store.h"
#include "interp/orbit_files.h"
#include "lib/display/draw_state.h"
#include "lib/orbits/orbit_chain.h"

namespace {

constexpr double kDeg = M_PI / 180.0;

const char* kBase =
    "epoch.date = 2025-08-13\n"
    "epoch.time = 22:26:40.2\n"
    "epoch.node = ascending\n"
    "longitude = w3.5834\n"
    "inclination = 98.2219\n"
    "argument.perigee = 90\n";

struct SatFile {
  int status = 0;
  std::string message;
  orbits::Orbit orbit;
  orbits::Swath swath;
};

SatFile Parse(const std::string& text, bool swath = false) {
  interp::KeyedStore* s = interp::OpenKeyedStoreFromText("t.sat", text.data(), text.size());
  interp::SatelliteEnv env;
  env.ellipsoid = geodesy::MakeEllipsoid();
  SatFile r;
  r.status = interp::ParseSatelliteStore(s, env, swath, &r.orbit, &r.swath, &r.message);
  interp::CloseKeyedStore(s);
  return r;
}

std::string With(const std::string& extra) { return std::string(kBase) + extra; }

TEST(SatelliteFile, EachMessage) {
  struct Case {
    std::string text;
    const char* message;
  } cases[] = {
      {"orbit.type = nasa\n", "To be implemented...(nasa)"},
      {"orbit.type = TBUS\n", "To be implemented...(TBUS)"},
      {"orbit.type = sgp4\n", "Unrecognized orbit type (sgp4)"},
      {"epoch.date = 2025-13-01\n", "Missing or invalid epoch date (2025-13-01)"},
      {"period = 6000\n", "Missing or invalid epoch date ()"},
  };
  for (const Case& c : cases) {
    const SatFile r = Parse(c.text);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.message, c.message);
  }
  // Keys after the dates, each broken in turn on a good file.
  struct Broken {
    const char* key;
    const char* value;
    const char* message;
  } broken[] = {
      {"epoch.time", "12:3x", "Missing or invalid epoch time (12:3x)"},
      {"epoch.time", "", "Missing or invalid epoch time ()"},
      {"longitude", "x12", "Missing or invalid longitude (x12)"},
      {"inclination", "n98", "Missing or invalid inclination (n98)"},
      {"argument.perigee", "", "Missing or invalid argument of perigee ()"},
  };
  for (const Broken& b : broken) {
    std::string text = kBase;
    const size_t at = text.find(std::string(b.key) + " =");
    text.replace(at, text.find('\n', at) - at, std::string(b.key) + " = " + b.value);
    const SatFile r = Parse(text + "period = 6000\n");
    EXPECT_EQ(r.message, b.message) << b.key;
    EXPECT_EQ(r.status, -1);
  }
  EXPECT_EQ(Parse(With("eccentricity = 0.96\nperiod = 6000\n")).message, "Invalid eccentricity (0.96)");
  EXPECT_EQ(Parse(With("eccentricity = -0.1\nperiod = 6000\n")).message, "Invalid eccentricity (-0.1)");
  EXPECT_EQ(Parse(With("eccentricity = 0.1x\nperiod = 6000\n")).message, "Invalid eccentricity (0.1x)");
  EXPECT_EQ(Parse(With("semi.major.axis = 6371000\n")).message, "Invalid semi-major axis (6371000)");
  EXPECT_EQ(Parse(With("semi.major.axis = 127500000\n")).message, "Invalid semi-major axis (127500000)");
  EXPECT_EQ(Parse(With("period = 3599.9\n")).message, "Invalid period (3599.9)");
  EXPECT_EQ(Parse(With("period = 12001\n")).message, "Invalid period (12001)");
  EXPECT_EQ(Parse(With("")).message, "Neither period nor semi-major axis given");
  {
    const std::string text = With("period = 6000\n");
    interp::KeyedStore* st = interp::OpenKeyedStoreFromText("t.sat", text.data(), text.size());
    interp::SatelliteEnv env;
    env.ellipsoid = geodesy::MakeEllipsoid();
    env.gm = 0;
    orbits::Orbit o;
    orbits::Swath w;
    std::string message;
    EXPECT_EQ(interp::ParseSatelliteStore(st, env, false, &o, &w, &message), -1);
    EXPECT_EQ(message, "Invalid gravity parameters (0 0.00108263)");
    interp::CloseKeyedStore(st);
  }
  // Limits, read only when a swath is asked for.
  const std::string bad_right = With("period = 6000\nright.limit = -91\nleft.limit = 5\n");
  EXPECT_EQ(Parse(bad_right).status, 0);
  EXPECT_EQ(Parse(bad_right, true).message, "Missing or invalid right swath limit (-91)");
  EXPECT_EQ(Parse(With("period = 6000\nright.limit = -5\nleft.limit = 90.5\n"), true).message,
            "Missing or invalid left swath limit (90.5)");
  EXPECT_EQ(Parse(With("period = 6000\nright.limit = -5\n"), true).message, "Missing or invalid left swath limit ()");
  EXPECT_EQ(Parse(With("period = 6000\nright.limit = 10\nleft.limit = 5\n"), true).message,
            "Swath limit error: left (5) smaller than right");
}

TEST(SatelliteFile, SizeFromPeriodOrAxisAndAcceptedLimits) {
  SatFile r = Parse(With("period = 6000\n"));
  ASSERT_EQ(r.status, 0);
  EXPECT_NEAR(r.orbit.a, 7136640.6, 0.1);
  EXPECT_EQ(r.orbit.period, 6000.0);
  r = Parse(With("semi.major.axis = 7136640.6\n"));
  EXPECT_NEAR(r.orbit.period, 6000.0, 1e-4);
  r = Parse(With("semi.major.axis = 7000000\nperiod = 6500\n"));
  EXPECT_EQ(r.orbit.a, 7000000.0);
  EXPECT_EQ(r.orbit.period, 6500.0);
  const double R = geodesy::MeanRadius(geodesy::MakeEllipsoid());
  char buf[64];
  std::snprintf(buf, sizeof buf, "semi.major.axis = %.3f\n", std::ceil(R * 1000) / 1000);
  EXPECT_EQ(Parse(With(buf)).status, 0) << buf;
  std::snprintf(buf, sizeof buf, "semi.major.axis = %.3f\n", std::floor(20 * R * 1000) / 1000);
  EXPECT_EQ(Parse(With(buf)).status, 0) << buf;
  EXPECT_EQ(Parse(With("period = 3600\n")).status, 0);
  EXPECT_EQ(Parse(With("period = 12000\n")).status, 0);
  r = Parse(With("period = 6000\neccentricity = 0\n"));
  EXPECT_EQ(r.orbit.c, 0.0);
  r = Parse(With("period = 6000\neccentricity = 0.95\n"));
  EXPECT_NEAR(r.orbit.c / r.orbit.a, 0.95, 1e-12);
  // Limits at -90 and 90, through the sensor's prefix.
  r = Parse(With("period = 6000\nsensor.name = oli\noli.right.limit = -90\noli.left.limit = 90\n"
                 "right.limit = 1\nleft.limit = 2\n"), true);
  ASSERT_EQ(r.status, 1) << r.message;
  EXPECT_NEAR(r.swath.sin_right, -1.0, 1e-15);
  EXPECT_NEAR(r.swath.sin_left, 1.0, 1e-15);
  // Without a sensor key the plain keys are read.
  r = Parse(With("period = 6000\nright.limit = -7.5\nleft.limit = 7.5\n"), true);
  EXPECT_NEAR(r.swath.sin_right, -std::sin(7.5 * kDeg), 1e-15);
  // A sensor whose limit keys are missing is an error, not a fall-back.
  EXPECT_EQ(Parse(With("period = 6000\nsensor = tm\nright.limit = -1\nleft.limit = 1\n"), true).message,
            "Missing or invalid right swath limit ()");
}

TEST(SatelliteFile, EpochKinds) {
  const SatFile asc = Parse(With("period = 6000\n"));
  std::string text = With("period = 6000\n");
  text.replace(text.find("ascending"), 9, "AscENDing");
  EXPECT_EQ(Parse(text).orbit.t0, asc.orbit.t0);
  // Circular, ascending: t0 = -w P / 2 pi (w = 90 degrees).
  EXPECT_NEAR(asc.orbit.t0, -1500.0, 1e-9);
  text.replace(text.find("AscENDing"), 9, "DESCENDING");
  EXPECT_NEAR(Parse(text).orbit.t0, 1500.0, 1e-9);
  text.replace(text.find("DESCENDING"), 10, "123.5");
  EXPECT_EQ(Parse(text).orbit.t0, 123.5);
  text.replace(text.find("123.5"), 5, "");
  EXPECT_EQ(Parse(text).orbit.t0, 0.0);
  EXPECT_EQ(asc.orbit.epoch_seconds, 22 * 3600 + 26 * 60 + 40.2);
  EXPECT_EQ(asc.orbit.orbit_number, 1);
  const interp::ClockTime c = interp::EpochClock(asc.orbit, 86400 + 3600 - 0.25);
  EXPECT_STREQ(c.date, "Thu Aug 14 2025");
  EXPECT_EQ(c.hours, 23);
  EXPECT_EQ(c.minutes, 26);
  EXPECT_EQ(c.seconds, 39);
  EXPECT_EQ(c.tenths, 9);
}

// Times of day come out as written, so a trace to a whole hour stops short
// of it: the radian round trip alone gives 10800.000000000002 for "3:00".
TEST(SatelliteFile, TimesOfDayExact) {
  struct Case {
    const char* text;
    double seconds;
  } cases[] = {{"3:00", 10800.0}, {"0:00", 0.0}, {"23:59:59.9", 86399.9}, {"22:26:40.2", 80800.2},
               {"1:00:05.5", 3605.5}, {"12:30:15.25", 45015.25}};
  for (const Case& c : cases) {
    double s = -1;
    ASSERT_TRUE(interp::ParseTimeOfDay(c.text, &s)) << c.text;
    EXPECT_EQ(s, c.seconds) << c.text;
  }
  double s = 0;
  EXPECT_FALSE(interp::ParseTimeOfDay("", &s));
  EXPECT_FALSE(interp::ParseTimeOfDay("x", &s));
}

TEST(ReceiverFile, LinesAndCounts) {
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  interp::Receiver r;
  EXPECT_EQ(interp::ParseReceiverLine("n67:53 e21:04 1000 85 Kiruna", e, &r), interp::kReceiverOk);
  EXPECT_STREQ(r.name, "Kiruna");
  EXPECT_NEAR(r.cos_zenith, std::cos(85 * kDeg), 1e-15);
  EXPECT_EQ(interp::ParseReceiverLine("  ; a comment", e, &r), interp::kReceiverSkip);
  EXPECT_EQ(interp::ParseReceiverLine("*star", e, &r), interp::kReceiverSkip);
  EXPECT_EQ(interp::ParseReceiverLine("", e, &r), interp::kReceiverSkip);
  EXPECT_EQ(interp::ParseReceiverLine("n95 e21 1000 85 X", e, &r), interp::kReceiverBadCoordinates);
  EXPECT_EQ(interp::ParseReceiverLine("n45", e, &r), interp::kReceiverBadCoordinates);
  EXPECT_EQ(interp::ParseReceiverLine("n45 e21", e, &r), interp::kReceiverMissingElevation);
  EXPECT_EQ(interp::ParseReceiverLine("n45 e21 999 85 X", e, &r), interp::kReceiverBadElevation);
  EXPECT_EQ(interp::ParseReceiverLine("n45 e21 10001 85 X", e, &r), interp::kReceiverBadElevation);
  EXPECT_EQ(interp::ParseReceiverLine("n45 e21 10000 85 X", e, &r), interp::kReceiverOk);
  EXPECT_EQ(interp::ParseReceiverLine("n45 e21 1000", e, &r), interp::kReceiverMissingZenith);
  EXPECT_EQ(interp::ParseReceiverLine("n45 e21 1000 0.5 X", e, &r), interp::kReceiverBadZenith);
  EXPECT_EQ(interp::ParseReceiverLine("n45 e21 1000 101 X", e, &r), interp::kReceiverBadZenith);
  EXPECT_EQ(interp::ParseReceiverLine("n45 e21 1000 100 X", e, &r), interp::kReceiverOk);
  EXPECT_EQ(interp::ParseReceiverLine("n45 e21 1000 85", e, &r), interp::kReceiverMissingName);
  EXPECT_EQ(interp::ParseReceiverLine("n45 e21 1000 85 ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", e, &r),
            interp::kReceiverOk);
  EXPECT_STREQ(r.name, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");

  auto read = [&](const char* text, int64_t* count, int* code, int* line, std::string* shown) {
    std::FILE* f = tmpfile();
    std::fputs(text, f);
    std::rewind(f);
    std::vector<interp::Receiver> list(8);
    const int st = interp::ReadReceiverStream(f, e, list.data(), 8, count, code, line, shown);
    std::fclose(f);
    return st;
  };
  int64_t count = -1;
  int code = 0, line = 0;
  std::string shown;
  EXPECT_EQ(read("; only a comment\n", &count, &code, &line, &shown), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(read("n1 e1 1000 80 A\r\n\n; c\nn2 e2 1000 80 B", &count, &code, &line, &shown), 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(read("n1 e1 1000 80 A\n;\nn2 e2 99 80 B\nn3 e3 1000 80 C\n", &count, &code, &line, &shown), 1);
  EXPECT_EQ(code, interp::kReceiverBadElevation);
  EXPECT_EQ(line, 3);
  EXPECT_EQ(shown, "n2 e2 99 80 B");
  char msg[200];
  std::snprintf(msg, sizeof msg, interp::ReceiverLineFormat(code), line, shown.c_str());
  EXPECT_STREQ(msg, "error (line:3) invalid elevation >n2 e2 99 80 B");
}

TEST(OrbitChain, TimesEndExactlyAtEnd) {
  // 0, 10, ..., 60 and then 65 exactly.
  EXPECT_EQ(orbits::ChainTimeCount(0, 65, 10), 8);
  EXPECT_EQ(orbits::ChainTime(0, 65, 10, 8, 7), 65.0);
  EXPECT_EQ(orbits::ChainTime(0, 65, 10, 8, 6), 60.0);
  // A step landing on end, or within 0.0001 s of it, is not taken twice.
  EXPECT_EQ(orbits::ChainTimeCount(0, 60, 10), 7);
  EXPECT_EQ(orbits::ChainTimeCount(0, 60.00005, 10), 7);
  EXPECT_EQ(orbits::ChainTimeCount(0, 60.0002, 10), 8);
  EXPECT_EQ(orbits::ChainTimeCount(5, 6, 10), 2);
  EXPECT_EQ(orbits::ChainTimeCount(5, 5, 10), 0);
}

TEST(OrbitChain, RingOrderAttributesAndWorkspace) {
  SatFile s = Parse(With("period = 6000\nright.limit = -10\nleft.limit = 10\n"), true);
  ASSERT_EQ(s.status, 1);
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  std::vector<cells::PointNode> heap;
  std::span<cells::PointNode> nodes;
  ASSERT_EQ(orbits::BuildOrbitChain(e, s.orbit, nullptr, 1, 100, 135, 10, nullptr, &heap, &nodes), 0);
  ASSERT_EQ(nodes.size(), 6u);  // 100 110 120 130 135, mark
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(nodes[i].attribute, i);
  EXPECT_TRUE(cells::IsMark(nodes[5]));
  orbits::NadirSwath at_end;
  orbits::SatelliteNadirAndSwath(e, s.orbit, &s.swath, 135, &at_end);
  EXPECT_EQ(nodes[4].p.x, at_end.nadir.x);
  ASSERT_EQ(orbits::BuildOrbitChain(e, s.orbit, &s.swath, 2, 100, 135, 10, nullptr, &heap, &nodes), 0);
  ASSERT_EQ(nodes.size(), 11u);
  orbits::NadirSwath first;
  orbits::SatelliteNadirAndSwath(e, s.orbit, &s.swath, 100, &first);
  EXPECT_EQ(nodes[0].p.x, first.right.x);
  EXPECT_EQ(nodes[4].p.x, at_end.right.x);
  EXPECT_EQ(nodes[5].p.x, at_end.left.x);
  EXPECT_EQ(nodes[9].p.x, first.left.x);
  // The ring turns left: the strip is its inside.
  const geodesy::DirectionCosines a = nodes[0].p, b = nodes[4].p, c = nodes[5].p;
  const geodesy::DirectionCosines ab{b.x - a.x, b.y - a.y, b.z - a.z}, bc{c.x - b.x, c.y - b.y, c.z - b.z};
  EXPECT_GT(geodesy::Dot(geodesy::Cross(ab, bc), b), 0);
  // The chain in the workspace when it fits; 9 when neither holds it.
  alignas(8) static unsigned char block[4096];
  platform::Workspace ws;
  platform::WorkspaceInit(&ws, block, sizeof block);
  ASSERT_EQ(orbits::BuildOrbitChain(e, s.orbit, nullptr, 1, 100, 135, 10, &ws, nullptr, &nodes), 0);
  EXPECT_EQ(static_cast<void*>(nodes.data()), static_cast<void*>(block));
  platform::WorkspaceInit(&ws, block, sizeof block);
  EXPECT_EQ(orbits::BuildOrbitChain(e, s.orbit, nullptr, 1, 0, 86400, 1, &ws, nullptr, &nodes), 9);
  EXPECT_EQ(orbits::BuildOrbitChain(e, s.orbit, nullptr, 2, 0, 86400, 1, &ws, &heap, &nodes), 1);  // no swath
}

// Equal limits see no strip: the ring chain is the end mark alone. Limits
// 180 degrees apart (-90 and 90) also have a zero sine but are the widest
// swath, and a tiny width is still a strip.
TEST(OrbitChain, EqualLimitsGiveAnEmptyRing) {
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  std::vector<cells::PointNode> heap;
  std::span<cells::PointNode> nodes;
  struct Case {
    const char* limits;
    bool empty;
  } cases[] = {{"right.limit = 7.5\nleft.limit = 7:30\n", true},
               {"right.limit = -90\nleft.limit = 90\n", false},
               {"right.limit = 0\nleft.limit = 0.000001\n", false},
               {"right.limit = -3\nleft.limit = -3\n", true}};
  for (const Case& c : cases) {
    SatFile s = Parse(With(std::string("period = 6000\n") + c.limits), true);
    ASSERT_EQ(s.status, 1) << c.limits;
    EXPECT_EQ(orbits::SwathHasNoWidth(s.swath), c.empty) << c.limits;
    ASSERT_EQ(orbits::BuildOrbitChain(e, s.orbit, &s.swath, 2, 100, 135, 10, nullptr, &heap, &nodes), 0);
    ASSERT_EQ(nodes.size(), c.empty ? 1u : 11u) << c.limits;
    EXPECT_TRUE(cells::IsMark(nodes.back()));
    // The line of the same satellite is untouched by its swath.
    ASSERT_EQ(orbits::BuildOrbitChain(e, s.orbit, &s.swath, 1, 100, 135, 10, nullptr, &heap, &nodes), 0);
    EXPECT_EQ(nodes.size(), 6u);
  }
}

TEST(NadirMark, PutsBackEveryPixel) {
  display::DisplaySurface s;
  ASSERT_TRUE(display::CreateDisplaySurface(&s, 40, 30, 0x00ffffff));
  display::DrawState lines;
  ASSERT_EQ(display::OpenLines(&lines, &s, display::ParseLineStyle("Red/w3")), display::kDrawOk);
  display::BeginPolyline(&lines, 0, 0);
  display::AddPolylinePoint(&lines, 39, 29);
  display::FinishPolyline(&lines);
  display::CloseDrawState(&lines);
  std::vector<uint32_t> before;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) before.push_back(display::SurfacePixel(&s, x, y));
  display::DrawState plain;
  ASSERT_EQ(display::OpenPlain(&plain, &s), display::kDrawOk);
  interp::NadirMark mark;
  interp::ShowNadirMark(&plain, &mark, 10, 10, 0x000000ff);
  EXPECT_EQ(display::SurfacePixel(&s, 11, 11), 0x000000ffu);
  EXPECT_EQ(display::SurfacePixel(&s, 9, 9), 0x000000ffu);
  // Moving along the line, over the corners and past the edges.
  for (int p : {11, 12, 0, 39, -1, 29, 40})
    interp::ShowNadirMark(&plain, &mark, p, p * 3 / 4, 0x000000ff);
  interp::HideNadirMark(&plain, &mark);
  display::CloseDrawState(&plain);
  size_t k = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(display::SurfacePixel(&s, x, y), before[k++]) << x << "," << y;
  display::DestroyDisplaySurface(&s);
}

}  // namespace

// ---- the derivation handler on a global block of its own ----

#include "interp/orbit_files.h"
#include "lib/cells/index_file.h"
#include "platform/files.h"
#include "tests/interp/test_support.h"

namespace {

class DeriveHandler : public interp_test::InterpTest {
 protected:
  void SetUp() override {
    InterpTest::SetUp();
    const char* bin = getenv("OMBREL_BIN");
    const std::string vix = std::string(bin ? bin : "bin") + "/isotype.vix";
    std::FILE* f = std::fopen(vix.c_str(), "rb");
    ASSERT_NE(f, nullptr) << vix;
    ASSERT_EQ(cells::LoadVix(f, index_), 0);
    std::fclose(f);
    g_.cell_index = &index_;
    workspace_.resize(1 << 16);
    platform::WorkspaceInit(&g_.workspace, workspace_.data(), static_cast<int64_t>(workspace_.size()));
    Write("sat.sat", std::string(kBase) + "period = 6000\nright.limit = -10\nleft.limit = 10\n");
  }
  void TearDown() override {
    g_.cell_index = nullptr;
    cells::ReleaseIndex(index_);
    InterpTest::TearDown();
  }
  cells::CellIndex index_;
  std::vector<std::uint64_t> workspace_;
};

TEST_F(DeriveHandler, FullOutputLeavesNoFileAndGivesTheWorkspaceBack) {
  uint8_t* const top = g_.workspace.top;
  // Room for 4 KB of sections: a revolution of swath at 1 s does not fit.
  g_.settings.mmf_out_size = 4096;
  interp::CmdDeriveOrbit(g_, "strip sat 1 1", 1, 2);
  std::vector<std::string> texts = Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], dir_ + "/strip.qbo return code = 8");
  EXPECT_EQ(g_.error_level, interp::EL_FAILURE);
  EXPECT_FALSE(platform::FileExists((dir_ + "/strip.qbo").c_str()));
  EXPECT_EQ(g_.workspace.top, top);
  // With room the same derivation is made, and an older object of that name
  // is replaced only then.
  g_.error_level = 0;
  g_.settings.mmf_out_size = 16 << 20;
  interp::CmdDeriveOrbit(g_, "strip sat 1 1", 1, 2);
  EXPECT_TRUE(Texts().empty());
  EXPECT_EQ(g_.error_level, 0);
  EXPECT_TRUE(platform::FileExists((dir_ + "/strip.qbo").c_str()));
  EXPECT_EQ(g_.workspace.top, top);
  // A chain larger than the workspace (one day at 1 s) takes heap memory.
  interp::CmdDeriveOrbit(g_, "trk sat 2025-08-13 22:30 2025-08-14 22:30 1", 2, 1);
  for (const std::string& t : Texts()) ADD_FAILURE() << t;
  EXPECT_EQ(g_.error_level, 0);
  EXPECT_EQ(g_.workspace.top, top);
}

}  // namespace

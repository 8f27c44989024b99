// Runs zonesum on the inputs the build made (build/zonesum) and checks its
// figures: the cell total against the ellipsoid's area, the table's sum, and
// land + sea; then its fatal errors: a missing input and an index whose
// release is not 300.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

struct ProgramRun {
  std::string out;
  int exit_code = -1;
};

ProgramRun RunIn(const fs::path& dir) {
  ProgramRun r;
  const std::string command = "cd '" + dir.string() + "' && '" ZONESUM_PROGRAM "' 2>&1";
  std::FILE* p = popen(command.c_str(), "r");
  if (!p) return r;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) r.out.append(buffer, n);
  const int status = pclose(p);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// The number after a label that begins a line.
double After(const std::string& out, const std::string& label, std::size_t from = 0) {
  const std::size_t at = out.find(label, from);
  if (at == std::string::npos) return std::nan("");
  return std::strtod(out.c_str() + at + label.size(), nullptr);
}

fs::path Scratch(const char* name) {
  const fs::path dir = fs::temp_directory_path() / ("zonesum_test_" + std::string(name) + "_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (const char* f : {"dodeca05.vix", "land0_d5.qbo", "sea0_d5.qbo"}) {
    fs::copy_file(fs::path(ZONESUM_DIR) / f, dir / f);
  }
  return dir;
}

}  // namespace

TEST(Zonesum, ShippedInputsAddUp) {
  const ProgramRun r = RunIn(ZONESUM_DIR);
  std::printf("%s", r.out.c_str());
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.out.find("Ellipsoid: World Geodetic System 1984\n"), 0u);
  EXPECT_NE(r.out.find("Voronoi index: dodeca05.vix\n"), std::string::npos);
  EXPECT_NE(r.out.find("Cells: 10242, duration 0:00:"), std::string::npos);
  const double ellipsoid = After(r.out, "Nominal ellipsoid area:");
  const double cells = After(r.out, "Cell total area:");
  EXPECT_NEAR(ellipsoid, 510065621716336.2, 0.5);
  EXPECT_LT(std::fabs(cells - ellipsoid), 1e-9 * ellipsoid);
  EXPECT_NEAR(After(r.out, "Cell arae array sum:"), 1.0, 1e-15);
  const double both = After(r.out, "Area2 + Area3:");
  EXPECT_LT(std::fabs(both - ellipsoid), 1e-9 * ellipsoid);
  // Land 110m: PolygonArea gives 147 362 664 km2.
  const double land = After(r.out, "land0_d5.qbo: 4997 vertices\nArea:");
  EXPECT_NEAR(land / 1e6, 147362664.0, 150.0);
  EXPECT_NE(r.out.find("[m**2], Perimeter: "), std::string::npos);
}

TEST(Zonesum, MissingSeaStopsBeforeAnyWork) {
  const fs::path dir = Scratch("missing");
  fs::remove(dir / "sea0_d5.qbo");
  const ProgramRun r = RunIn(dir);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("Error zonesum("), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("): Can't find file sea0_d5.qbo\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Ellipsoid:"), std::string::npos) << r.out;
  fs::remove_all(dir);
}

TEST(Zonesum, OnlyRelease300IndexesLoad) {
  const fs::path dir = Scratch("release");
  {
    std::FILE* f = std::fopen((dir / "dodeca05.vix").c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    const unsigned char release360[2] = {360 & 0xFF, 360 >> 8};
    std::fwrite(release360, 1, 2, f);
    std::fclose(f);
  }
  const ProgramRun r = RunIn(dir);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("): Load error 2\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Voronoi index:"), std::string::npos) << r.out;
  fs::remove_all(dir);
}

TEST(Zonesum, ObjectOfAnotherIndexIsFatal) {
  const fs::path dir = Scratch("mismatch");
  {
    std::FILE* f = std::fopen((dir / "land0_d5.qbo").c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, 12, SEEK_SET);  // vix_id
    const unsigned char other[4] = {1, 2, 3, 4};
    std::fwrite(other, 1, 4, f);
    std::fclose(f);
  }
  const ProgramRun r = RunIn(dir);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("): memory mapping error: 6\n"), std::string::npos) << r.out;
  fs::remove_all(dir);
}

// sheeter's output file on a full file system and when the program is killed
// part-way: the old sheet stays as it was and nothing half-written is left
// beside it. (An output that is an input or a directory, and a run that
// fails after the output was opened, are in sheeter_run_test.)
#include "tests/utilities/writer_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using writertest::Entries;

namespace {

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteFile(const fs::path& p, const std::string& text) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << text;
}

class SheeterWriters : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("sheeter_writers_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "tmp");
    fs::copy(fs::path(SHEETER_BIN) / "atlas", dir_ / "atlas");
    // A long sheet: every cell line work of the atlas's index on the world.
    WriteFile(dir_ / "atlas" / "cells.scn",
              "[base]\ntitle = Cells\nunits = km\n[linework]\ncell.boundary = , r1,\ncell.dual = , r2,\n"
              "cell.spokes = , r3,\ncell.centers = , r4,\ngrid = , r4,\ncoast = , r1,\n");
  }
  void TearDown() override { if (!HasFailure()) fs::remove_all(dir_); }

  // sheeter on the world (wwmerc) with the scene and output given, started
  // in the scratch folder; its messages go to out.txt.
  pid_t Start(const std::string& scene, const std::string& output) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(126);
      setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
      const int out = open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int in = open("/dev/null", O_RDONLY);
      dup2(out, 1);
      dup2(out, 2);
      dup2(in, 0);
      execl(SHEETER_PROGRAM, "sheeter", "atlas/plotters.ini", "a4", "atlas", "", "world.atl", scene.c_str(), "N0",
            "E0", "1e8", "wwmerc", "0", output.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }
  static int Wait(pid_t pid) {
    int st = 0;
    waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  }
  fs::path dir_;
};

TEST_F(SheeterWriters, KilledPartWayLeavesTheOldSheet) {
  fs::create_directories(dir_ / "out");
  const fs::path target = dir_ / "out" / "cells.hpg";
  WriteFile(target, "old plot");
  const pid_t pid = Start("cells.scn", target.string());
  // Killed while the sheet is being written: the moment the program holds
  // its part open beside the target.
  bool holding = false;
  for (int i = 0; i < 20000 && !holding; ++i) {
    holding = writertest::HoldsPart(pid, (dir_ / "out").string());
    if (!holding) {
      int st = 0;
      if (waitpid(pid, &st, WNOHANG) == pid) FAIL() << "the sheet was done before it could be killed";
      usleep(100);
    }
  }
  ASSERT_TRUE(holding);
  usleep(20000);  // well inside the line work
  kill(pid, SIGKILL);
  EXPECT_EQ(Wait(pid), 128 + SIGKILL);
  const std::string messages = ReadFile(dir_ / "out.txt");
  EXPECT_EQ(messages.find("SHEETER - End"), std::string::npos) << messages;
  EXPECT_EQ(ReadFile(target), "old plot");
  EXPECT_EQ(Entries((dir_ / "out").string()), std::vector<std::string>{"cells.hpg"});
  EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));
  // The same sheet run to its end replaces the file whole.
  EXPECT_EQ(Wait(Start("cells.scn", target.string())), 0) << ReadFile(dir_ / "out.txt");
  const std::string sheet = ReadFile(target);
  EXPECT_GT(sheet.size(), 1000000u);
  EXPECT_NE(sheet.find("Veltrum(tm) Atlas:"), std::string::npos);
  EXPECT_EQ(Entries((dir_ / "out").string()), std::vector<std::string>{"cells.hpg"});
}

TEST_F(SheeterWriters, SheetFullFileSystem) {
  writertest::SmallDisk disk("64k");
  ASSERT_TRUE(disk.mounted);
  const std::string target = disk.dir + "/world.hpg";
  WriteFile(target, "old plot");
  // The world sheet is some 140 KB.
  const int status = Wait(Start("world.scn", target));
  const std::string messages = ReadFile(dir_ / "out.txt");
  EXPECT_EQ(status, 1) << messages;
  EXPECT_NE(messages.find("SHEETER error: cant open " + target + " for writing\n"), std::string::npos) << messages;
  EXPECT_EQ(messages.find("SHEETER - End"), std::string::npos) << messages;
  EXPECT_EQ(ReadFile(target), "old plot");
  EXPECT_EQ(Entries(disk.dir), std::vector<std::string>{"world.hpg"});
}

}  // namespace

int main(int argc, char** argv) { return writertest::Main(argc, argv); }

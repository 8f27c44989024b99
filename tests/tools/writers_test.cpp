// The files atlas2rgn and plrbuild write, under the rules every writer keeps:
// an output that is an input (or the other output) or a directory is refused
// before anything is read; a full file system is a failure, never a
// half-written file; a program killed part-way leaves the old file as it was
// and nothing beside it.
#include "tests/utilities/util_common.h"
#include "tests/utilities/writer_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>

using namespace utiltest;
using writertest::Entries;
using writertest::Spawn;
using writertest::Wait;

namespace {

std::string Source() {
  const char* s = getenv("OMBREL_SOURCE");
  return s ? s : "..";
}

std::string Package(const std::string& name) { return Source() + "/tests/data/world-atlas/" + name; }

// Runs to the end; the exit status.
int RunIn(const std::string& dir, const std::string& root, std::vector<std::string> args) {
  return Wait(Spawn(dir, root, std::move(args)));
}

// Starts the program, kills it with sig once it holds its output open in
// dir, and returns whether it was caught there.
bool KilledWhileWriting(const std::string& dir, const std::string& root, std::vector<std::string> args, int sig) {
  const pid_t pid = Spawn(dir, root, std::move(args));
  bool caught = false;
  for (int i = 0; i < 200000 && !caught; ++i) {
    if (writertest::HoldsPart(pid, dir)) {
      kill(pid, sig);
      caught = true;
      break;
    }
    int st = 0;
    if (waitpid(pid, &st, WNOHANG) == pid) return false;
    usleep(50);
  }
  if (!caught) kill(pid, SIGKILL);
  Wait(pid);
  return caught;
}

class ToolWriters : public ::testing::Test {
 protected:
  void SetUp() override {
    root = MakeTempDir();
    dir = root + "/work";
    mkdir(dir.c_str(), 0755);
  }
  void TearDown() override { system(("rm -rf " + root).c_str()); }
  std::string Err() { return Slurp(root + "/stderr.txt"); }
  std::string root, dir;
};

TEST_F(ToolWriters, Atlas2rgnRefusesAnInputOrADirectoryAsItsOutput) {
  const std::string json = Slurp(Package("countries-110m.json"));
  ASSERT_GT(json.size(), 1000u);
  Spit(dir + "/c.json", json);
  mkdir((dir + "/d.rgn").c_str(), 0755);
  const std::string a2r = BinDir() + "/atlas2rgn";
  const std::vector<std::vector<std::string>> refused = {
      {a2r, "c.json", "c.json", "110m"},                      // the output is the input
      {a2r, "c.json", "./c.json", "110m"},                    // by another name
      {a2r, "--countries", "c.json", "x.rgn", "c.json"},      // the names are the input
      {a2r, "--countries", "c.json", "x.rgn", "x.rgn"},       // both outputs one file
      {a2r, "c.json", "d.rgn", "110m"},                       // a directory
      {a2r, "--countries", "c.json", "x.rgn", "d.rgn"},
  };
  for (const auto& args : refused) {
    EXPECT_EQ(RunIn(dir, root, args), 1) << args[2] << " " << args[3];
    EXPECT_NE(Err().find("atlas2rgn: cannot write"), std::string::npos) << Err();
    EXPECT_EQ(Slurp(dir + "/c.json"), json);
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"c.json", "d.rgn"}));
  }
  // A symbolic link to the input is the input.
  ASSERT_EQ(symlink("c.json", (dir + "/link.rgn").c_str()), 0);
  EXPECT_EQ(RunIn(dir, root, {a2r, "c.json", "link.rgn", "110m"}), 1);
  EXPECT_EQ(Slurp(dir + "/c.json"), json);
}

TEST_F(ToolWriters, Atlas2rgnKilledPartWayLeavesTheOldFile) {
  const std::string a2r = BinDir() + "/atlas2rgn";
  for (int sig : {SIGTERM, SIGKILL}) {
    Spit(dir + "/land.rgn", "; the previous outline\n");
    ASSERT_TRUE(KilledWhileWriting(dir, root, {a2r, Package("land-10m.json"), "land.rgn", "10m"}, sig))
        << "atlas2rgn ended before it could be stopped";
    EXPECT_EQ(Slurp(dir + "/land.rgn"), "; the previous outline\n") << "signal " << sig;
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"land.rgn"})) << "signal " << sig;
  }
}

TEST_F(ToolWriters, PlrbuildKilledPartWayLeavesTheOldFiles) {
  const std::string plrbuild = BinDir() + "/plrbuild";
  // A first collection of the 110m countries, then the 50m ones (a few
  // seconds of work) stopped while the new collection is being written.
  ASSERT_EQ(RunIn(dir, root, {plrbuild, "c.plr", BinDir() + "/countries110m.rgn"}), 0) << Err();
  const std::string before = Slurp(dir + "/c.plr");
  ASSERT_GT(before.size(), 1000u);
  for (int sig : {SIGTERM, SIGKILL}) {
    ASSERT_TRUE(KilledWhileWriting(dir, root, {plrbuild, "c.plr", BinDir() + "/countries50m.rgn"}, sig))
        << "plrbuild ended before it could be stopped";
    EXPECT_EQ(Slurp(dir + "/c.plr"), before) << "signal " << sig;
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"c.plr"})) << "signal " << sig;
  }
}

TEST_F(ToolWriters, Atlas2rgnFullFileSystem) {
  writertest::SmallDisk disk("64k");
  ASSERT_TRUE(disk.mounted);
  Spit(disk.dir + "/land.rgn", "; the previous outline\n");
  // Land 110m written as text is about 100 KB.
  EXPECT_EQ(RunIn(disk.dir, root, {BinDir() + "/atlas2rgn", Package("land-110m.json"), "land.rgn", "110m"}), 1);
  EXPECT_NE(Err().find("atlas2rgn:"), std::string::npos) << Err();
  EXPECT_EQ(Slurp(disk.dir + "/land.rgn"), "; the previous outline\n");
  EXPECT_EQ(Entries(disk.dir), (std::vector<std::string>{"land.rgn"}));
}

TEST_F(ToolWriters, PlrbuildFullFileSystem) {
  writertest::SmallDisk disk("64k");
  ASSERT_TRUE(disk.mounted);
  Spit(disk.dir + "/c.plr", "the previous collection");
  // The 110m countries' collection is about 2 MB.
  EXPECT_NE(RunIn(disk.dir, root, {BinDir() + "/plrbuild", "c.plr", BinDir() + "/countries110m.rgn"}), 0);
  EXPECT_EQ(Slurp(disk.dir + "/c.plr"), "the previous collection");
  EXPECT_EQ(Entries(disk.dir), (std::vector<std::string>{"c.plr"}));
}

}  // namespace

int main(int argc, char** argv) { return writertest::Main(argc, argv); }

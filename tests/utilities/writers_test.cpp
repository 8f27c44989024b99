// The files tinprobe and lumenlog write, under the rules every writer keeps:
// an output that is an input or a directory is refused before any work; a
// full file system is a failure, never a half-written file; a program killed
// part-way leaves the old file as it was and no temporary file beside it.
#include "platform/window_channel.h"
#include "tests/utilities/util_common.h"
#include "tests/utilities/writer_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <signal.h>

using namespace utiltest;
using writertest::Entries;
using writertest::Spawn;
using writertest::Wait;

namespace {

platform::WindowRequest Req(std::uint32_t number, std::int64_t first = 0, int x = 0, int y = 0, std::string text = "") {
  platform::WindowRequest r;
  r.number = number;
  r.first = first;
  r.second = static_cast<std::int64_t>((static_cast<std::uint32_t>(static_cast<std::uint16_t>(y)) << 16) |
                                       static_cast<std::uint16_t>(x));
  r.text = std::move(text);
  return r;
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

class Writers : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeTempDir();
    run = dir + "/run";  // the window's socket lives apart from the outputs
    mkdir(run.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
  }
  void TearDown() override {
    StopWindow();
    system(("rm -rf " + dir).c_str());
  }
  // A headless lumenlog with the given outputs; 0 when its window listens.
  int StartWindow(std::vector<std::string> outputs = {}) {
    std::vector<std::string> args = {BinDir() + "/lumenlog", "--headless"};
    args.insert(args.end(), outputs.begin(), outputs.end());
    window = Spawn(dir, ".", args);
    for (int i = 0; i < 300 && platform::WindowFind("lumenlog") != 0; ++i) usleep(10000);
    return platform::WindowFind("lumenlog");
  }
  int StopWindow(int sig = SIGTERM) {
    if (window <= 0) return -1;
    kill(window, sig);
    const int status = Wait(window);
    window = -1;
    return status;
  }
  // tinprobe in dir, its console output kept.
  int Tinprobe(const std::string& args, std::string* out = nullptr) {
    const int s = system(("cd " + dir + " && " + BinDir() + "/tinprobe " + args + " > probe.txt 2>&1").c_str());
    if (out) *out = Slurp(dir + "/probe.txt");
    return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  }
  // Posts n drawing requests and waits until the window has taken them.
  void Draw(int n, unsigned seed = 1) {
    platform::WindowClient c;
    ASSERT_EQ(platform::WindowConnect(c, "lumenlog"), 0);
    std::mt19937 rng(seed);
    for (int i = 0; i < n; ++i)
      ASSERT_EQ(platform::WindowSend(c, Req(1024 + 5, rng() & 0xffffff, static_cast<int>(rng() % 320),
                                            static_cast<int>(rng() % 240))), 0);
    int w = 0, h = 0;
    ASSERT_EQ(platform::WindowQueryClient(c, &w, &h), 0);
    platform::WindowDisconnect(c);
  }
  std::string dir, run;
  pid_t window = -1;
};

TEST_F(Writers, TinprobeRefusesADirectoryBeforeReading) {
  ASSERT_EQ(StartWindow(), 0);
  Spit(dir + "/p.ptp", "0 0\n0 0 0\n2 0 0\n0 2 0\n");
  mkdir((dir + "/p.tin").c_str(), 0755);  // the derived name is a folder
  std::string out;
  EXPECT_EQ(Tinprobe("p.ptp", &out), 1);
  EXPECT_NE(out.find("Output file (p.tin) open error\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("input points"), std::string::npos) << "refused only after the work";
  mkdir((dir + "/given").c_str(), 0755);
  EXPECT_EQ(Tinprobe("p.ptp given", &out), 1);
  EXPECT_NE(out.find("Output file (given) open error\n"), std::string::npos) << out;
  EXPECT_EQ(Entries(dir + "/given"), std::vector<std::string>{});
  // A symbolic link to the input is the input.
  ASSERT_EQ(symlink("p.ptp", (dir + "/link.tin").c_str()), 0);
  EXPECT_EQ(Tinprobe("p.ptp link.tin", &out), 1);
  EXPECT_EQ(Slurp(dir + "/p.ptp"), "0 0\n0 0 0\n2 0 0\n0 2 0\n");
}

TEST_F(Writers, TinprobeKilledPartWayLeavesTheOldFile) {
  ASSERT_EQ(StartWindow(), 0);
  Spit(dir + "/k.ptp", RandomPoints(3000, 9));
  Spit(dir + "/k.tin", "old triangles\n");
  // With its pauses the run takes many seconds: killed well inside it.
  const pid_t probe = Spawn(dir, ".", {BinDir() + "/tinprobe", "k.ptp"});
  usleep(600000);
  int st = 0;
  ASSERT_EQ(waitpid(probe, &st, WNOHANG), 0) << "the run ended before it could be killed";
  kill(probe, SIGKILL);
  EXPECT_EQ(Wait(probe), 128 + SIGKILL);
  EXPECT_EQ(Slurp(dir + "/k.tin"), "old triangles\n");
  EXPECT_EQ(Entries(dir), (std::vector<std::string>{"k.ptp", "k.tin", "run", "stderr.txt", "stdout.txt"}));
  // The next run writes the file whole.
  std::string out;
  EXPECT_EQ(Tinprobe("-p=0 k.ptp", &out), 0) << out;
  EXPECT_NE(Slurp(dir + "/k.tin"), "old triangles\n");
}

TEST_F(Writers, LumenlogKilledPartWayLeavesItsOldFiles) {
  Spit(dir + "/old.log", "old log\n");
  Spit(dir + "/old.png", "old picture");
  ASSERT_EQ(StartWindow({"--log", dir + "/old.log", "--snapshot", dir + "/old.png"}), 0);
  Draw(5000);
  EXPECT_TRUE(writertest::HoldsPart(window, dir)) << "the log is not being built beside its target";
  EXPECT_EQ(Slurp(dir + "/old.log"), "old log\n");  // nothing replaced while it runs
  EXPECT_EQ(StopWindow(SIGKILL), 128 + SIGKILL);
  EXPECT_EQ(Slurp(dir + "/old.log"), "old log\n");
  EXPECT_EQ(Slurp(dir + "/old.png"), "old picture");
  EXPECT_EQ(Entries(dir), (std::vector<std::string>{"old.log", "old.png", "run", "stderr.txt", "stdout.txt"}));
  // A SIGTERM ends it properly: both files replaced whole.
  ASSERT_EQ(StartWindow({"--log", dir + "/old.log", "--snapshot", dir + "/old.png"}), 0);  // the stale socket is taken over
  Draw(10);
  EXPECT_EQ(StopWindow(), 0);
  const std::string log = Slurp(dir + "/old.log");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 10);
  EXPECT_EQ(Slurp(dir + "/old.png").compare(0, 4, "\x89PNG"), 0);
}

// ---- a full file system (a small tmpfs; root only, see writer_support.h)

TEST_F(Writers, TinprobeFullFileSystem) {
  writertest::SmallDisk disk("64k");
  ASSERT_TRUE(disk.mounted);
  ASSERT_EQ(StartWindow(), 0);
  Spit(dir + "/f.ptp", RandomPoints(6000, 3));  // some 12 000 lines of triangles, far more than 64 KB
  const std::string target = disk.dir + "/f.tin";
  Spit(target, "old triangles\n");
  std::string out;
  EXPECT_EQ(Tinprobe("-p=0 f.ptp " + target, &out), 1);
  EXPECT_NE(out.find("status: 0, counts 0 0\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Output file (" + target + ") open error\n"), std::string::npos) << out;
  EXPECT_EQ(Slurp(target), "old triangles\n");
  EXPECT_EQ(Entries(disk.dir), std::vector<std::string>{"f.tin"});
}

TEST_F(Writers, LumenlogFullFileSystem) {
  writertest::SmallDisk disk("64k");
  ASSERT_TRUE(disk.mounted);
  const std::string log = disk.dir + "/w.log", png = disk.dir + "/w.png";
  Spit(log, "old log\n");
  Spit(png, "old picture");
  // Both outputs overflow: the log of 8 000 requests and a snapshot of
  // random pixels, each well over the room left.
  Spit(disk.dir + "/filler", std::string(40 * 1024, 'f'));
  ASSERT_EQ(StartWindow({"--log", log, "--snapshot", png}), 0);
  Draw(8000, 7);
  EXPECT_EQ(StopWindow(), 1);
  const std::string err = Slurp(dir + "/stderr.txt");
  EXPECT_NE(err.find("lumenlog: cannot write " + log + ": the file system is full\n"), std::string::npos) << err;
  EXPECT_NE(err.find("lumenlog: cannot write " + png), std::string::npos) << err;
  EXPECT_EQ(Slurp(log), "old log\n");
  EXPECT_EQ(Slurp(png), "old picture");
  EXPECT_EQ(Entries(disk.dir), (std::vector<std::string>{"filler", "w.log", "w.png"}));
}

}  // namespace

int main(int argc, char** argv) { return writertest::Main(argc, argv); }

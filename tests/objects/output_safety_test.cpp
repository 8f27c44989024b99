// The file-writing commands under the conditions that used to destroy data:
// a full file system and a program killed part-way through an import. Runs
// build/bin/ombrel --batch in a working folder of its own; the full-disk
// case mounts a small tmpfs and needs root (skipped otherwise).
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::string BinDir() {
  const char* b = std::getenv("OMBREL_BIN");
  return b ? b : "../bin";
}

std::string NewDir() {
  std::string tmpl = "/tmp/ombrel_outsafe_" + std::string(6, 'X');
  return std::string(mkdtemp(tmpl.data())) + "/";
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::vector<std::string> Parts(const std::string& dir) {
  std::vector<std::string> parts;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n.size() > 5 && n.compare(n.size() - 5, 5, ".part") == 0) parts.push_back(n);
  }
  closedir(d);
  return parts;
}

// Starts ombrel --batch on script (written into dir) with dir as working
// folder; standard output goes to log.
pid_t Start(const std::string& dir, const std::string& script, const std::string& log) {
  WriteAll(dir + "case.omb", script);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    setenv("OMBREL_HOME", BinDir().c_str(), 1);
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(out, 1);
    dup2(null_fd, 2);
    const std::string program = BinDir() + "/ombrel";
    execl(program.c_str(), program.c_str(), "--batch", "case.omb", static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// Runs a script to its end; the exit status, or 128 + signal.
int RunScript(const std::string& dir, const std::string& script, std::string* output) {
  const std::string log = dir + "../" + "run.log";
  pid_t pid = Start(dir, script, log);
  int st = 0;
  waitpid(pid, &st, 0);
  if (output) *output = ReadAll(log);
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

// A coordinate file of n pseudo-random points.
void WritePoints(const std::string& path, int n) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  unsigned s = 12345;
  for (int i = 0; i < n; ++i) {
    s = s * 1103515245u + 12345u;
    const double lat = -80.0 + 160.0 * ((s >> 8) & 0xffff) / 65536.0;
    s = s * 1103515245u + 12345u;
    const double lon = -179.0 + 358.0 * ((s >> 8) & 0xffff) / 65536.0;
    std::fprintf(f, "%.5f %.5f\n", lat, lon);
  }
  std::fclose(f);
}

// True when the program holds open a file of dir that is being built: an
// unnamed file (its link reads "dir/#inode (deleted)") or a named part.
bool HoldsPart(const std::string& dir, pid_t pid) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  char real[4096];
  const std::string base = realpath(dir.c_str(), real) ? std::string(real) + "/" : dir;
  bool found = false;
  if (DIR* d = opendir(fds.c_str())) {
    while (dirent* e = readdir(d)) {
      char link[4096];
      const ssize_t n = readlink((fds + "/" + e->d_name).c_str(), link, sizeof link - 1);
      if (n <= 0) continue;
      const std::string target(link, static_cast<size_t>(n));
      if (target.compare(0, base.size(), base) == 0 &&
          (target.find(" (deleted)") != std::string::npos || target.find(".part") != std::string::npos))
        found = true;
    }
    closedir(d);
  }
  return found;
}

// Waits until the build holds its part in dir (true) or the program ends
// first (false).
bool WaitForPart(const std::string& dir, pid_t pid) {
  for (int i = 0; i < 60000; ++i) {
    if (!Parts(dir).empty() || HoldsPart(dir, pid)) return true;
    int st = 0;
    if (waitpid(pid, &st, WNOHANG) == pid) return false;
    usleep(1000);
  }
  return false;
}

TEST(OutputSafety, KilledImportKeepsTheOldObjectAndLeavesNoPartBehind) {
  // The work folder sits inside a folder of its own, which holds the log.
  const std::string root = NewDir(), dir = root + "work/";
  mkdir(dir.c_str(), 0755);
  WriteAll(dir + "small.pts", "10 10\n20 20\n-30 40\n");
  WritePoints(dir + "big.pts", 1000000);
  std::string out;
  ASSERT_EQ(RunScript(dir, "ImportPset big small\n", &out), 0) << out;
  const std::string before = ReadAll(dir + "big.qbo");
  ASSERT_GT(before.size(), 256u);

  for (int sig : {SIGTERM, SIGINT}) {
    pid_t pid = Start(dir, "ImportPset big big l\n", root + "kill.log");
    ASSERT_TRUE(WaitForPart(dir, pid)) << "the import ended before it could be stopped";
    kill(pid, sig);
    int st = 0;
    waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFSIGNALED(st)) << "signal " << sig;
    EXPECT_EQ(WTERMSIG(st), sig);
    EXPECT_EQ(ReadAll(dir + "big.qbo"), before) << "signal " << sig;
    EXPECT_TRUE(Parts(dir).empty()) << "signal " << sig;
  }

  // kill -9 leaves nothing either: the part had no name yet. (A named part
  // a kill leaves elsewhere is removed by the next build of the same name.)
  pid_t pid = Start(dir, "ImportPset big big l\n", root + "kill.log");
  ASSERT_TRUE(WaitForPart(dir, pid));
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_EQ(ReadAll(dir + "big.qbo"), before);
  EXPECT_TRUE(Parts(dir).empty());
  WriteAll(dir + ".big.qbo.Stale1.part", "left by a kill");
  ASSERT_EQ(RunScript(dir, "ImportPset big small\nExportObject big back.pts\n", &out), 0) << out;
  EXPECT_TRUE(Parts(dir).empty());
  EXPECT_EQ(ReadAll(dir + "back.pts").size(), 3u * 24u) << ReadAll(dir + "back.pts");
}

TEST(OutputSafety, KilledDerivationExportAndDumpKeepTheirOldFiles) {
  // Each writer gets a previous file of its own, then a run on a million
  // points that is stopped while its part file exists.
  const std::string root = NewDir(), dir = root + "work/";
  mkdir(dir.c_str(), 0755);
  WriteAll(dir + "small.pts", "10 10\n20 20\n-30 40\n");
  WritePoints(dir + "big.pts", 1000000);
  std::string out;
  ASSERT_EQ(RunScript(dir,
                "ImportPset big big\n"
                "ImportPset small small\n"
                "DerivePsetUnique u small\n"
                "ExportObject small out.pts\n"
                "DumpObject small big.dmp\n",
                &out),
            0)
      << out;
  struct Writer {
    const char* script;
    const char* file;
  };
  const Writer writers[] = {{"DerivePsetUnique u big\n", "u.qbo"},
                            {"ExportObject big out.pts\n", "out.pts"},
                            {"DumpObject big big.dmp\n", "big.dmp"}};
  for (const Writer& w : writers) {
    const std::string before = ReadAll(dir + w.file);
    ASSERT_FALSE(before.empty()) << w.file;
    for (int sig : {SIGTERM, SIGKILL}) {
      pid_t pid = Start(dir, w.script, root + "kill.log");
      if (!WaitForPart(dir, pid)) {
        ADD_FAILURE() << w.script << " ended before it could be stopped";
        continue;
      }
      kill(pid, sig);
      int st = 0;
      waitpid(pid, &st, 0);
      EXPECT_TRUE(WIFSIGNALED(st)) << w.script << " signal " << sig;
      EXPECT_EQ(ReadAll(dir + w.file), before) << w.script << " signal " << sig;
      // A caught signal removes the part, and kill -9 leaves none: it had
      // no name yet.
      EXPECT_TRUE(Parts(dir).empty()) << w.script << " signal " << sig;
    }
    ASSERT_EQ(RunScript(dir, "DerivePsetUnique u small\nExportObject small out.pts\nDumpObject small big.dmp\n", &out), 0)
        << out;
    EXPECT_TRUE(Parts(dir).empty()) << w.script;
  }
}

struct SmallDisk {
  std::string root, dir;
  bool mounted = false;
  explicit SmallDisk(const char* size) {
    root = NewDir();
    dir = root + "disk/";
    mkdir(dir.c_str(), 0755);
    if (geteuid() != 0) return;
    const std::string opts = std::string("size=") + size;
    mounted = mount("tmpfs", dir.c_str(), "tmpfs", 0, opts.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted) umount2(dir.c_str(), MNT_DETACH);
  }
};

TEST(OutputSafety, EveryWriterOnAFullDiskFailsAtLevel4AndKeepsThePreviousFile) {
  // Room for one object being built (16 MiB of mapping) and little more.
  SmallDisk disk("20m");
  if (!disk.mounted) GTEST_SKIP() << "needs root to mount a small tmpfs";
  const std::string& dir = disk.dir;
  WriteAll(dir + "small.pts", "10 10\n20 20\n-30 40\n");
  std::string out;
  ASSERT_EQ(RunScript(dir,
                "ImportPset a small\n"
                "DumpObject a\n"
                "ExportObject a a_out.pts\n"
                "WriteTextFile t before\n"
                "SaveBitmap pic.png\n"
                "SaveBitmap pic.jpg\n"
                "SaveBitmap pic.bmp\n"
                "Geometry N50 E10 2e7 stereo\n"
                "PlotStart a4 ./plot\n"
                "DrawGrid\n"
                "PlotEnd\n"
                "DerivePsetUnique b a\n",
                &out),
            0)
      << out;
  const char* kept[] = {"a.qbo", "a.dmp", "a_out.pts", "t.txt", "pic.png", "pic.jpg", "pic.bmp", "plot.hpg", "b.qbo"};
  std::vector<std::string> before;
  for (const char* f : kept) {
    before.push_back(ReadAll(dir + f));
    ASSERT_FALSE(before.back().empty()) << f;
  }

  // The script fills the disk itself, after the memory check file is open,
  // so the check file loses lines too.
  const int status = RunScript(dir,
                         "Shell dd if=/dev/zero of=filler bs=65536 2>/dev/null\n"
                         "ImportPset a small\n"
                         "ImportPset n small\n"
                         "DumpObject a\n"
                         "ExportObject a a_out.pts\n"
                         "WriteTextFile t after\n"
                         "SaveBitmap pic.png\n"
                         "SaveBitmap pic.jpg\n"
                         "SaveBitmap pic.bmp\n"
                         "Geometry N50 E10 2e7 stereo\n"
                         "PlotStart a4 ./plot\n"
                         "DrawGrid\n"
                         "PlotEnd\n"
                         "DerivePsetUnique b a\n",
                         &out);
  EXPECT_EQ(status, 4) << out;  // the last command's level, not a crash or an assertion
  EXPECT_NE(out.find("./a.qbo: no space left on the file system"), std::string::npos) << out;
  EXPECT_NE(out.find("./n.qbo: no space left on the file system"), std::string::npos) << out;
  EXPECT_NE(out.find("Dump file ./a.dmp write error"), std::string::npos) << out;
  EXPECT_NE(out.find("Coordinate file write error"), std::string::npos) << out;
  EXPECT_NE(out.find("File (./t.txt) write error"), std::string::npos) << out;
  for (const char* pic : {"png", "jpg", "bmp"})
    EXPECT_NE(out.find(std::string("Image file (./pic.") + pic + ") output error"), std::string::npos) << out;
  EXPECT_NE(out.find("Plot file ./plot.hpg not written:"), std::string::npos) << out;
  EXPECT_NE(out.find("./b.qbo: no space left on the file system"), std::string::npos) << out;
  for (std::size_t i = 0; i < before.size(); ++i)
    EXPECT_EQ(ReadAll(dir + kept[i]), before[i]) << kept[i] << " changed";
  struct stat st;
  EXPECT_NE(stat((dir + "n.qbo").c_str(), &st), 0);
  EXPECT_TRUE(Parts(dir).empty());

  // With the space back, the same commands work again.
  unlink((dir + "filler").c_str());
  EXPECT_EQ(RunScript(dir, "ImportPset n small\nWriteTextFile t after\n", &out), 0) << out;
  EXPECT_EQ(ReadAll(dir + "t.txt"), "after\n");
}

}  // namespace

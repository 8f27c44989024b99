// Safe outputs: the target is replaced only on commit, refusals come before
// anything is touched, a full file system is a status, and signals or kills
// never leave a part behind for long.
#include "platform/safe_output.h"
#include "platform/mapped_file.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::string NewDir() {
  std::string tmpl = "/tmp/ombrel_safe_" + std::string(6, 'X');
  return std::string(mkdtemp(tmpl.data())) + "/";
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = readdir(d))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      names.push_back(e->d_name);
  closedir(d);
  return names;
}

// A small tmpfs, so that "the file system is full" can really happen. Needs
// root; the tests that use it are skipped otherwise.
struct SmallDisk {
  std::string dir;
  bool mounted = false;
  explicit SmallDisk(const char* size) {
    dir = NewDir();
    if (geteuid() != 0) return;
    std::string opts = std::string("size=") + size;
    mounted = mount("tmpfs", dir.c_str(), "tmpfs", 0, opts.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted) umount(dir.c_str());
    rmdir(dir.c_str());
  }
};

TEST(SafeOutput, TargetChangesOnlyOnCommitAndEveryOtherPathLeavesItAsItWas) {
  std::string dir = NewDir(), target = dir + "out.txt";
  WriteAll(target, "old contents");
  {
    platform::SafeOutput out;
    ASSERT_EQ(platform::SafeOpen(out, target.c_str()), 0);
    std::FILE* f = platform::SafeStream(out);
    ASSERT_NE(f, nullptr);
    std::fputs("half", f);
    EXPECT_EQ(ReadAll(target), "old contents");
    EXPECT_EQ(Entries(dir).size(), 1u);  // the part has no name until it is committed
  }  // destructor: abandoned
  EXPECT_EQ(ReadAll(target), "old contents");
  EXPECT_EQ(Entries(dir).size(), 1u);

  // Reserving more than is written: the file is cut to what was written.
  platform::SafeOutput out;
  ASSERT_EQ(platform::SafeOpen(out, target.c_str()), 0);
  ASSERT_EQ(platform::SafeReserve(out, 1 << 20), 0);
  std::fputs("new ", platform::SafeStream(out));
  ASSERT_EQ(platform::SafeWrite(out, "text", 4), 0);
  ASSERT_EQ(platform::SafeCommit(out), 0);
  EXPECT_EQ(ReadAll(target), "new text");
  EXPECT_EQ(Entries(dir).size(), 1u);
  // Nothing left to commit: a failure, and the committed file stays.
  EXPECT_NE(platform::SafeCommit(out), 0);
  EXPECT_EQ(ReadAll(target), "new text");

  // Raw writes without a stream, then an explicit length.
  ASSERT_EQ(platform::SafeOpen(out, target.c_str()), 0);
  ASSERT_EQ(platform::SafeWrite(out, "abcdef", 6), 0);
  ASSERT_EQ(platform::SafeCommit(out, 3), 0);
  EXPECT_EQ(ReadAll(target), "abc");

  // A missing directory cannot be written to.
  EXPECT_EQ(platform::SafeOpen(out, (dir + "no/such/file").c_str()), platform::kSafeCannotCreate);
}

TEST(SafeOutput, KeepsTheModeOfTheFileItReplacesAndTheLinkThatNamesIt) {
  std::string dir = NewDir(), real = dir + "real.txt", link = dir + "link.txt";
  WriteAll(real, "one");
  chmod(real.c_str(), 0600);
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  platform::SafeOutput out;
  ASSERT_EQ(platform::SafeOpen(out, link.c_str()), 0);
  ASSERT_EQ(platform::SafeWrite(out, "two", 3), 0);
  ASSERT_EQ(platform::SafeCommit(out), 0);
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadAll(real), "two");
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(SafeOutput, RefusesAnInputAsOutputAndAnythingButARegularFile) {
  std::string dir = NewDir(), input = dir + "in.qbo", hard = dir + "alias.qbo";
  WriteAll(input, "source");
  ASSERT_EQ(link(input.c_str(), hard.c_str()), 0);
  EXPECT_TRUE(platform::SameFile(input.c_str(), hard.c_str()));
  EXPECT_TRUE(platform::SameFile(input.c_str(), (dir + "./in.qbo").c_str()));
  EXPECT_FALSE(platform::SameFile(input.c_str(), (dir + "absent").c_str()));
  EXPECT_EQ(platform::SafeCheckTarget(hard.c_str(), {nullptr, "", input.c_str()}),
            platform::kSafeSameAsInput);
  EXPECT_EQ(platform::SafeCheckTarget((dir + "new.qbo").c_str(), {input.c_str()}), 0);

  std::string sub = dir + "sub.qbo";
  mkdir(sub.c_str(), 0755);
  EXPECT_EQ(platform::SafeCheckTarget(sub.c_str(), {}), platform::kSafeNotRegular);
  platform::SafeOutput out;
  EXPECT_EQ(platform::SafeOpen(out, sub.c_str()), platform::kSafeNotRegular);
  EXPECT_TRUE(out.temp.empty());
  struct stat st;
  EXPECT_EQ(stat(sub.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_FALSE(platform::IsRegularFile(sub.c_str()));
  EXPECT_FALSE(platform::IsRegularFile("/dev/null"));
  // A device has no directory entry to replace: it is written in place.
  EXPECT_EQ(platform::SafeCheckTarget("/dev/null", {input.c_str()}), 0);
  ASSERT_EQ(platform::SafeOpen(out, "/dev/null"), 0);
  EXPECT_TRUE(out.temp.empty());
  std::fputs("discarded", platform::SafeStream(out));
  EXPECT_EQ(platform::SafeCommit(out), 0);
  if (platform::SafeOpen(out, "/dev/full") == 0) {
    std::fputs("never fits", platform::SafeStream(out));
    EXPECT_EQ(platform::SafeCommit(out), platform::kSafeNoSpace);
  }
  EXPECT_TRUE(platform::IsRegularFile(input.c_str()));
  EXPECT_EQ(ReadAll(input), "source");
}

// The child opens an output, writes, and is ended by sig; returns the status.
int BuildAndSignal(const std::string& target, int sig) {
  pid_t pid = fork();
  if (pid == 0) {
    platform::SafeOutput out;
    if (platform::SafeOpen(out, target.c_str()) != 0) _exit(3);
    platform::SafeWrite(out, "partial", 7);
    raise(sig);
    _exit(4);  // not reached: the signal ends the program
  }
  int st = 0;
  waitpid(pid, &st, 0);
  return st;
}

TEST(SafeOutput, SigtermAndSigintRemoveThePartAndStillEndTheProgram) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    std::string dir = NewDir(), target = dir + "cities.qbo";
    WriteAll(target, "precious");
    int st = BuildAndSignal(target, sig);
    ASSERT_TRUE(WIFSIGNALED(st)) << "signal " << sig;
    EXPECT_EQ(WTERMSIG(st), sig);
    EXPECT_EQ(ReadAll(target), "precious");
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"cities.qbo"}) << "signal " << sig;
  }
}

TEST(SafeOutput, StalePartsOfAKilledBuildGoButLiveOnesStay) {
  std::string dir = NewDir(), target = dir + "land.qbo";
  WriteAll(target, "precious");
  // A build killed without any chance to clean up leaves nothing: its part
  // had no name yet.
  pid_t pid = fork();
  if (pid == 0) {
    platform::SafeOutput out;
    platform::SafeOpen(out, target.c_str());
    platform::SafeWrite(out, "partial", 7);
    _exit(0);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  EXPECT_EQ(Entries(dir), std::vector<std::string>{"land.qbo"});
  // A named part no one holds (a kill in the moment between naming and
  // renaming, or a file system without unnamed files) is swept.
  WriteAll(dir + ".land.qbo.AbC123.part", "stale");
  // A named part that a running build holds under its lock stays.
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t live = fork();
  if (live == 0) {
    const std::string part = dir + ".land.qbo.Live42.part";
    WriteAll(part, "live");
    int fd = open(part.c_str(), O_RDONLY);
    flock(fd, LOCK_EX);
    char c = 1;
    (void)!write(ready[1], &c, 1);
    (void)!read(release[0], &c, 1);
    unlink(part.c_str());
    _exit(0);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  // Unrelated names that look alike are never touched.
  WriteAll(dir + ".land.qbo.keep.part", "x");
  WriteAll(dir + ".other.qbo.ABCDEF.part", "x");
  EXPECT_EQ(Entries(dir).size(), 5u);

  platform::SafeOutput out;
  ASSERT_EQ(platform::SafeOpen(out, target.c_str()), 0);
  // Left: the target, the live part and the two look-alikes.
  EXPECT_EQ(Entries(dir).size(), 4u);
  EXPECT_FALSE(platform::IsRegularFile((dir + ".land.qbo.AbC123.part").c_str()));
  EXPECT_EQ(platform::RemoveStaleParts(target.c_str()), 0);
  c = 1;
  (void)!write(release[1], &c, 1);
  waitpid(live, &st, 0);
  platform::SafeAbandon(out);
  EXPECT_EQ(Entries(dir).size(), 3u);
  EXPECT_EQ(ReadAll(target), "precious");
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

TEST(SafeOutput, AFullFileSystemIsAStatusAndTheOldFileSurvives) {
  SmallDisk disk("64k");
  if (!disk.mounted) GTEST_SKIP() << "needs root to mount a small tmpfs";
  std::string target = disk.dir + "big.out";
  WriteAll(target, "previous");

  platform::SafeOutput out;
  ASSERT_EQ(platform::SafeOpen(out, target.c_str()), 0);
  EXPECT_EQ(platform::SafeReserve(out, 1 << 20), platform::kSafeNoSpace);
  platform::SafeAbandon(out);

  // A stream that overflows the disk: the failure shows at commit.
  ASSERT_EQ(platform::SafeOpen(out, target.c_str()), 0);
  std::string block(4096, 'z');
  std::FILE* f = platform::SafeStream(out);
  for (int i = 0; i < 40; ++i) std::fwrite(block.data(), 1, block.size(), f);
  EXPECT_EQ(platform::SafeCommit(out), platform::kSafeNoSpace);
  EXPECT_EQ(ReadAll(target), "previous");
  EXPECT_EQ(Entries(disk.dir), std::vector<std::string>{"big.out"});

  // A mapped output reserves its blocks before the view exists: no SIGBUS.
  platform::PendingFile pf;
  EXPECT_EQ(platform::PendingCreate(pf, target.c_str(), 1 << 20), 4);
  EXPECT_EQ(pf.map.base, nullptr);
  ASSERT_EQ(platform::PendingCreate(pf, target.c_str(), 16 << 10), 0);
  std::memset(pf.map.base, 'q', 16 << 10);
  ASSERT_EQ(platform::PendingCommit(pf, 5), 0);
  EXPECT_EQ(ReadAll(target), "qqqqq");
  EXPECT_EQ(Entries(disk.dir), std::vector<std::string>{"big.out"});
}

}  // namespace

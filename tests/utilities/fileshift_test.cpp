// fileshift: every way a move can go wrong leaves the source as it was and no
// partial destination, and each case ends as `mv` ends it, never worse.
#include "apps/fileshift/file_move.h"
#include "tests/utilities/util_common.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

using namespace utiltest;

namespace {

std::string FileshiftProgram() { return BinDir() + "/fileshift"; }

class FileshiftTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeTempDir();
    ASSERT_FALSE(dir.empty());
  }
  void TearDown() override {
    if (!dir.empty()) system(("rm -rf " + dir).c_str());
  }
  std::string P(const std::string& name) { return dir + "/" + name; }
  std::string dir;
};

// A folder on another file system than dir, when the machine has one.
std::string OtherFileSystem(const std::string& dir) {
  struct stat a;
  if (stat(dir.c_str(), &a) != 0) return "";
  for (const char* base : {"/dev/shm", "/run", "/tmp", "/var/tmp"}) {
    struct stat b;
    if (stat(base, &b) != 0 || b.st_dev == a.st_dev || access(base, W_OK) != 0) continue;
    std::string t = MakeTempDir(base);
    if (!t.empty()) return t;
  }
  return "";
}

TEST_F(FileshiftTest, ArgumentsAndMissingSource) {
  EXPECT_EQ(utiltest::Run({FileshiftProgram()}), 1);
  EXPECT_EQ(utiltest::Run({FileshiftProgram(), P("a")}), 1);
  Spit(P("b"), "keep");
  EXPECT_EQ(utiltest::Run({FileshiftProgram(), P("missing"), P("b")}), 1);
  EXPECT_EQ(Slurp(P("b")), "keep");
  EXPECT_EQ(ListDir(dir), "b\n");
}

TEST_F(FileshiftTest, MovesAndOverwrites) {
  Spit(P("empty"), "");
  EXPECT_EQ(utiltest::Run({FileshiftProgram(), P("empty"), P("e2")}), 0);
  EXPECT_FALSE(Exists(P("empty")));
  ASSERT_TRUE(Exists(P("e2")));
  EXPECT_EQ(Slurp(P("e2")), "");

  std::string data(300000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + (i >> 9));
  Spit(P("src"), data);
  Spit(P("dst"), "old contents");
  EXPECT_EQ(utiltest::Run({FileshiftProgram(), P("src"), P("dst")}), 0);
  EXPECT_FALSE(Exists(P("src")));
  EXPECT_EQ(Slurp(P("dst")), data);
}

TEST_F(FileshiftTest, RefusesTheSourceItself) {
  Spit(P("a"), "precious");
  // the same path, a second spelling of it, a hard link, a symbolic link
  EXPECT_EQ(utiltest::Run({FileshiftProgram(), P("a"), P("a")}), 1);
  EXPECT_EQ(utiltest::Run({FileshiftProgram(), P("a"), dir + "/./a"}), 1);
  ASSERT_EQ(link(P("a").c_str(), P("hard").c_str()), 0);
  EXPECT_EQ(utiltest::Run({FileshiftProgram(), P("a"), P("hard")}), 1);
  ASSERT_EQ(symlink(P("a").c_str(), P("soft").c_str()), 0);
  EXPECT_EQ(utiltest::Run({FileshiftProgram(), P("a"), P("soft")}), 1);
  EXPECT_EQ(Slurp(P("a")), "precious");
  EXPECT_EQ(Slurp(P("hard")), "precious");
  // mv refuses the same three (it says they are the same file)
  EXPECT_NE(system(("mv " + P("a") + " " + P("hard") + " 2>/dev/null").c_str()), 0);
  EXPECT_EQ(Slurp(P("a")), "precious");
  // The copy path, reached directly, refuses them as well.
  EXPECT_EQ(fileshift::CopyThenDelete(P("a").c_str(), P("soft").c_str()), fileshift::MoveStatus::kSameFile);
  EXPECT_EQ(fileshift::CopyThenDelete(P("a").c_str(), P("a").c_str()), fileshift::MoveStatus::kSameFile);
  EXPECT_EQ(Slurp(P("a")), "precious");
}

TEST_F(FileshiftTest, BadDestinations) {
  Spit(P("a"), "data");
  mkdir(P("folder").c_str(), 0755);
  EXPECT_EQ(utiltest::Run({FileshiftProgram(), P("a"), P("folder")}), 1);           // a directory
  EXPECT_EQ(utiltest::Run({FileshiftProgram(), P("a"), P("none/sub/b")}), 1);       // a folder that does not exist
  EXPECT_NE(system(("mv " + P("a") + " " + P("none/sub/b") + " 2>/dev/null").c_str()), 0);
  EXPECT_EQ(utiltest::Run({FileshiftProgram(), P("folder"), P("b")}), 1);           // a directory as the source
  EXPECT_TRUE(Exists(P("folder")));
  EXPECT_EQ(Slurp(P("a")), "data");
  EXPECT_EQ(ListDir(P("folder")), "");
  EXPECT_EQ(ListDir(dir), "a\nfolder\n");
}

TEST_F(FileshiftTest, CopyPathKeepsModeAndLeavesNoPart) {
  std::string data(2 << 20, 'x');
  Spit(P("a"), data);
  chmod(P("a").c_str(), 0640);
  EXPECT_EQ(fileshift::CopyThenDelete(P("a").c_str(), P("b").c_str()), fileshift::MoveStatus::kMoved);
  EXPECT_FALSE(Exists(P("a")));
  EXPECT_EQ(Slurp(P("b")), data);
  struct stat st;
  ASSERT_EQ(stat(P("b").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ListDir(dir), "b\n");
}

TEST_F(FileshiftTest, AcrossFileSystemsLikeMv) {
  std::string other = OtherFileSystem(dir);
  if (other.empty()) GTEST_SKIP() << "no second writable file system";
  std::string data(5 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i ^ (i >> 11));
  Spit(P("a"), data);
  chmod(P("a").c_str(), 0604);
  EXPECT_EQ(utiltest::Run({FileshiftProgram(), P("a"), other + "/a"}), 0);
  EXPECT_FALSE(Exists(P("a")));
  EXPECT_EQ(Slurp(other + "/a"), data);
  struct stat st;
  ASSERT_EQ(stat((other + "/a").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(ListDir(other), "a\n");
  // and back with mv: the same outcome
  Spit(P("m"), data);
  ASSERT_EQ(system(("mv " + P("m") + " " + other + "/m").c_str()), 0);
  EXPECT_EQ(Slurp(other + "/m"), Slurp(other + "/a"));
  system(("rm -rf " + other).c_str());
}

TEST_F(FileshiftTest, FullFileSystemLeavesTheSource) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  std::string small = MakeTempDir();
  ASSERT_FALSE(small.empty());
  if (mount("omtest", small.c_str(), "tmpfs", 0, "size=256k") != 0) {
    rmdir(small.c_str());
    GTEST_SKIP() << "cannot mount tmpfs here";
  }
  std::string data(1 << 20, 'q');
  Spit(P("big"), data);
  Spit(small + "/big", "the old destination");
  EXPECT_EQ(utiltest::Run({FileshiftProgram(), P("big"), small + "/big"}), 1);
  EXPECT_EQ(Slurp(P("big")), data);
  EXPECT_EQ(Slurp(small + "/big"), "the old destination");
  EXPECT_EQ(ListDir(small), "big\n");  // no partial copy beside it
  umount(small.c_str());
  rmdir(small.c_str());
}

TEST_F(FileshiftTest, KilledPartWayLeavesTheSource) {
  std::string other = OtherFileSystem(dir);
  if (other.empty()) GTEST_SKIP() << "no second writable file system";
  std::string data(256 << 20, 'k');
  Spit(P("big"), data);
  pid_t pid = fork();
  if (pid == 0) {
    execl(FileshiftProgram().c_str(), "fileshift", P("big").c_str(), (other + "/big").c_str(), nullptr);
    _exit(127);
  }
  // Wait until the copy has begun, then end it.
  for (int i = 0; i < 2000 && ListDir(other).empty(); ++i) usleep(1000);
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    // The machine was quicker than the signal: the move must then be whole.
    EXPECT_EQ(Slurp(other + "/big").size(), data.size());
    EXPECT_FALSE(Exists(P("big")));
  } else {
    EXPECT_EQ(Slurp(P("big")).size(), data.size());
    EXPECT_EQ(ListDir(other), "");
  }
  system(("rm -rf " + other).c_str());
}

}  // namespace

// Mapped files: views, cutting on close, and pending files that replace their
// target only when committed.
#include "platform/mapped_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string TestDir() {
  static std::string dir = [] {
    std::string tmpl = "/tmp/ombrel_mapped_" + std::string(6, 'X');
    return std::string(mkdtemp(tmpl.data())) + "/";
  }();
  return dir;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

int CountEntries(const std::string& dir) {
  int n = 0;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = readdir(d))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) ++n;
  closedir(d);
  return n;
}

TEST(MappedFile, ReadViewSeesTheBytesAndMissingFileIsStatus1) {
  std::string p = TestDir() + "read.bin";
  WriteAll(p, "hello mapped");
  platform::MappedFile mf;
  ASSERT_EQ(platform::MapFileRead(mf, p.c_str()), 0);
  ASSERT_EQ(mf.size, 12);
  EXPECT_EQ(std::memcmp(mf.base, "hello mapped", 12), 0);
  EXPECT_FALSE(mf.writable);
  EXPECT_EQ(platform::UnmapFile(mf), 0);
  EXPECT_EQ(mf.fd, -1);
  EXPECT_EQ(platform::MapFileRead(mf, (TestDir() + "absent.bin").c_str()), 1);
  // An empty file is an empty view, not a failure.
  WriteAll(p, "");
  ASSERT_EQ(platform::MapFileRead(mf, p.c_str()), 0);
  EXPECT_EQ(mf.size, 0);
  EXPECT_EQ(mf.base, nullptr);
}

TEST(MappedFile, CreateWritesThroughAndCloseCutsToTruncationSize) {
  std::string p = TestDir() + "create.bin";
  {
    platform::MappedFile mf;
    ASSERT_EQ(platform::MapFileCreate(mf, p.c_str(), 4096), 0);
    EXPECT_EQ(mf.base[100], 0);
    std::memcpy(mf.base, "abcdef", 6);
    mf.truncate_size = 4;
  }  // the destructor closes and cuts
  EXPECT_EQ(ReadAll(p), "abcd");
  platform::MappedFile mf;
  ASSERT_EQ(platform::MapFileUpdate(mf, p.c_str()), 0);
  mf.base[0] = 'X';
  platform::UnmapFile(mf);
  EXPECT_EQ(ReadAll(p), "Xbcd");
  EXPECT_NE(platform::MapFileCreate(mf, (TestDir() + "no/such/dir.bin").c_str(), 64), 0);
}

TEST(PendingFile, TargetIsReplacedOnlyOnCommit) {
  std::string dir = TestDir() + "pending/";
  mkdir(dir.c_str(), 0755);
  std::string target = dir + "obj.qbo";
  WriteAll(target, "old contents");
  {
    platform::PendingFile pf;
    ASSERT_EQ(platform::PendingCreate(pf, target.c_str(), 1 << 20), 0);
    std::memcpy(pf.map.base, "new", 3);
    EXPECT_EQ(ReadAll(target), "old contents");
    EXPECT_EQ(CountEntries(dir), 1);  // the part has no name until it is committed
  }  // abandoned by the destructor: as if the build failed
  EXPECT_EQ(ReadAll(target), "old contents");
  EXPECT_EQ(CountEntries(dir), 1);

  platform::PendingFile pf;
  ASSERT_EQ(platform::PendingCreate(pf, target.c_str(), 1 << 20), 0);
  std::memcpy(pf.map.base, "new", 3);
  ASSERT_EQ(platform::PendingCommit(pf, 3), 0);
  EXPECT_EQ(ReadAll(target), "new");
  EXPECT_EQ(CountEntries(dir), 1);
  // A second commit has nothing to commit.
  EXPECT_EQ(platform::PendingCommit(pf, 3), 1);
  EXPECT_EQ(ReadAll(target), "new");
}

TEST(PendingFile, KilledBuildLeavesTargetIntact) {
  std::string dir = TestDir() + "killed/";
  mkdir(dir.c_str(), 0755);
  std::string target = dir + "a.qbo";
  WriteAll(target, "precious");
  pid_t pid = fork();
  if (pid == 0) {
    platform::PendingFile pf;
    if (platform::PendingCreate(pf, target.c_str(), 1 << 16) == 0) std::memset(pf.map.base, 7, 100);
    _exit(0);  // ends without commit or abandon, like a killed build
  }
  int st = 0;
  waitpid(pid, &st, 0);
  EXPECT_EQ(ReadAll(target), "precious");
}

}  // namespace

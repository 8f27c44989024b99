// Heap blocks through CheckedAlloc/CheckedFree and the leak check that reads
// the check file back at the end of the run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>
#include <string>

#include "platform/memcheck.h"
#include "platform/report.h"

using namespace platform;

namespace {

std::vector<std::string> g_boxes;
bool CaptureBox(const char*, const char* text, BoxKind) {
  g_boxes.push_back(text);
  return true;
}

class MemCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    g_boxes.clear();
    SetBoxHook(CaptureBox);
    path_ = "/tmp/ombrel-memcheck-" + std::to_string(getpid()) + ".mem";
    ASSERT_TRUE(OpenMemoryCheck(path_.c_str(), "; Ombrel as of: test, start at: now\n;\n"));
  }
  void TearDown() override {
    CloseMemoryCheck();
    SetBoxHook(nullptr);
    unlink(path_.c_str());
  }
  std::string path_;
};

TEST_F(MemCheck, AllReleasedEndsSilently) {
  void* a = CheckedAlloc(100);
  void* b = CheckedAlloc(7);
  CheckedFree(a);
  void* c = CheckedAlloc(100);
  CheckedFree(c);
  CheckedFree(b);
  EXPECT_EQ(TheMemoryCheck().count, 6);
  CloseMemoryCheck();
  CheckLeaks();
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(MemCheck, OneUnreleasedBlockShowsTheLeakBox) {
  void* a = CheckedAlloc(16);
  void* kept = CheckedAlloc(32);
  CheckedFree(a);
  CloseMemoryCheck();
  CheckLeaks();
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0], "Possible memory leak or \n improper release detected");
  free(kept);
}

TEST_F(MemCheck, EventNumbersAreEvenForAllocationsAndOddForReleases) {
  void* a = CheckedAlloc(24);
  CheckedFree(a);
  CloseMemoryCheck();
  FILE* f = fopen(path_.c_str(), "r");
  ASSERT_NE(f, nullptr);
  char line[256];
  std::vector<std::string> lines;
  while (fgets(line, sizeof line, f)) lines.push_back(line);
  fclose(f);
  ASSERT_EQ(lines.size(), 4u);  // two header lines, two events
  unsigned long long addr1 = 0, addr2 = 0;
  int e1 = 0, e2 = 0, size = 0;
  ASSERT_EQ(sscanf(lines[2].c_str(), "%llx %d %d", &addr1, &e1, &size), 3);
  ASSERT_EQ(sscanf(lines[3].c_str(), "%llx %d", &addr2, &e2), 2);
  EXPECT_EQ(addr1, addr2);
  EXPECT_EQ(e1, 2);
  EXPECT_EQ(e2, 5);
  EXPECT_EQ(size, 24);
}

TEST_F(MemCheck, ZeroSizeIsReportedButStillAllocated) {
  void* z = CheckedAlloc(0);
  ASSERT_NE(z, nullptr);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0], "0-size memory allocation request detected");
  CheckedFree(z);
  CloseMemoryCheck();
  CheckLeaks();
  EXPECT_EQ(g_boxes.size(), 1u);
}

TEST_F(MemCheck, NoEventsMeansNoCheck) {
  CloseMemoryCheck();
  unlink(path_.c_str());
  CheckLeaks();  // count 0: the missing file is never opened
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(MemCheck, ReleasingNothingLogsNothing) {
  CheckedFree(nullptr);
  EXPECT_EQ(TheMemoryCheck().count, 0);
}

TEST(MemCheckOff, AFileThatCannotBeCreatedTurnsCheckingOff) {
  g_boxes.clear();
  SetBoxHook(CaptureBox);
  // A directory where the check file should be: nothing is logged, and the
  // directory is never read back as if it were this run's log.
  char dir[] = "/tmp/ombrel-memcheck-dir-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  EXPECT_FALSE(OpenMemoryCheck(dir, ";\n"));
  void* kept = CheckedAlloc(8);
  CloseMemoryCheck();
  CheckLeaks();  // an assertion here would end the test program
  EXPECT_TRUE(g_boxes.empty());
  free(kept);
  rmdir(dir);
  SetBoxHook(nullptr);
}

TEST(MemCheckOff, ALogThatLostLinesIsNotChecked) {
  g_boxes.clear();
  SetBoxHook(CaptureBox);
  // A full disk: the writes fail, so the pairs cannot be matched.
  if (!OpenMemoryCheck("/dev/full", ";\n")) GTEST_SKIP() << "no /dev/full";
  std::vector<void*> blocks;
  for (int i = 0; i < 2000; ++i) blocks.push_back(CheckedAlloc(16));
  for (void* b : blocks) CheckedFree(b);
  CloseMemoryCheck();
  CheckLeaks();
  EXPECT_TRUE(g_boxes.empty());
  SetBoxHook(nullptr);
}

TEST(MemCheckDeathTest, MoreLinesThanEventsIsAFatalAssertion) {
  const std::string path = "/tmp/ombrel-memcheck-death-" + std::to_string(getpid()) + ".mem";
  EXPECT_EXIT(
      {
        OpenMemoryCheck(path.c_str(), ";\n");
        void* a = CheckedAlloc(8);
        CheckedFree(a);
        fprintf(TheMemoryCheck().file, "0x1234 99\n");
        CloseMemoryCheck();
        CheckLeaks();
      },
      ::testing::ExitedWithCode(1), "assertion \\(i < osb->memchkCount\\) failed");
  unlink(path.c_str());
}

}  // namespace

// A check file on a full disk loses its lines: the run's heap use cannot be
// judged from it, and the check must neither assert nor cry leak.
TEST(MemCheckFullDisk, LostLinesAreNotCheckedAndDoNotAssert) {
  std::FILE* probe = std::fopen("/dev/full", "w");
  if (!probe) GTEST_SKIP() << "no /dev/full";
  std::fclose(probe);
  g_boxes.clear();
  SetBoxHook(CaptureBox);
  ASSERT_TRUE(OpenMemoryCheck("/dev/full", "; first line\n"));
  void* a = CheckedAlloc(24);
  void* kept = CheckedAlloc(48);  // a real leak, unprovable without the file
  CheckedFree(a);
  CloseMemoryCheck();
  EXPECT_FALSE(TheMemoryCheck().complete);
  CheckLeaks();  // an assertion would end the test program here
  EXPECT_TRUE(g_boxes.empty());
  SetBoxHook(nullptr);
  free(kept);
  // The next check file starts complete again.
  const std::string path = "/tmp/ombrel-memcheck-full-" + std::to_string(getpid()) + ".mem";
  ASSERT_TRUE(OpenMemoryCheck(path.c_str(), nullptr));
  CloseMemoryCheck();
  EXPECT_TRUE(TheMemoryCheck().complete);
  unlink(path.c_str());
}


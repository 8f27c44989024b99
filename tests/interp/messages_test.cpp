// Posting and delivery: trailing line feeds, queued texts never lost to the
// ring, synchronous posts in order, PostLines, and the error box.
#include <gtest/gtest.h>

#include "interp/messages.h"
#include "platform/report.h"
#include "test_support.h"

using namespace interp;
using interp_test::InterpTest;

namespace {

class Messages : public InterpTest {};

TEST_F(Messages, OneTrailingLineFeedIsDropped) {
  PostText(2, "plain");
  PostText(2, "one\n");
  PostText(2, "two\n\n");
  EXPECT_EQ(Texts(), (std::vector<std::string>{"plain", "one", "two\n"}));
}

TEST_F(Messages, FormatsLikePrintf) {
  PostText(4, "Label (%s) not in script file", "x");
  PostText(2, "%d:%02d:%02.3lf", 1, 2, 5.5);
  EXPECT_EQ(Texts(), (std::vector<std::string>{"Label (x) not in script file", "1:02:5.500"}));
}

TEST_F(Messages, QueuedUntilDeliveredThenInOrder) {
  PostText(2, "first");
  PostText(3, "second");
  EXPECT_TRUE(interp_test::Collected().empty());  // nothing drawn before the loop turns
  std::vector<interp_test::Message> m = Take();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].level, 2);
  EXPECT_EQ(m[1].level, 3);
  EXPECT_EQ(m[1].text, "second");
}

// The 2048-byte ring alone would overwrite texts queued but not yet drawn.
TEST_F(Messages, BurstLongerThanTheRingLosesNothing) {
  std::vector<std::string> posted;
  for (int i = 0; i < 200; ++i) {
    char text[128];
    snprintf(text, sizeof text, "message %03d %s", i, std::string(90, static_cast<char>('a' + i % 26)).c_str());
    posted.push_back(text);
    PostText(2, "%s", text);
  }
  EXPECT_EQ(Texts(), posted);
}

TEST_F(Messages, RingOffsetWrapsWithinItsSize) {
  int offset = 0;
  for (int i = 0; i < 100; ++i) {
    offset = PostText(2, "%s", std::string(100, 'r').c_str());
    EXPECT_GE(offset, 0);
    EXPECT_LT(offset, MESSAGE_RING_SIZE);
  }
  // A text longer than the whole ring is stored cut, never past the ring.
  offset = PostText(2, "%s", std::string(3000, 'L').c_str());
  EXPECT_LT(offset, MESSAGE_RING_SIZE);
  Take();
}

TEST_F(Messages, NegativeLevelIsDrawnAtOnceAfterWhatIsQueued) {
  PostText(2, "queued");
  PostText(-2, "press <ESC> to quit...");
  ASSERT_EQ(interp_test::Collected().size(), 2u);
  EXPECT_EQ(interp_test::Collected()[0].text, "queued");
  EXPECT_EQ(interp_test::Collected()[1].text, "press <ESC> to quit...");
  EXPECT_EQ(interp_test::Collected()[1].level, 2);
  interp_test::Collected().clear();
}

TEST_F(Messages, NothingIsShownBeforeTheLoopRuns) {
  g_.loop_running = false;
  PostText(4, "during start-up");
  PostText(-2, "also not");
  PostLines(2, "a\nb\n");
  g_.loop_running = true;
  EXPECT_TRUE(Take().empty());
}

TEST_F(Messages, PostLinesPostsEachTerminatedLine) {
  PostLines(2, "keyword [=] data\nkeywords:\n\n last without line feed");
  std::vector<interp_test::Message> m = Take();
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].text, "keyword [=] data");
  EXPECT_EQ(m[1].text, "keywords:");
  EXPECT_EQ(m[2].text, "");
  for (const auto& x : m) EXPECT_EQ(x.level, 2);
}

TEST_F(Messages, PostLinesWithoutAnyLineFeedPostsNothing) {
  PostLines(2, "no line feed");
  PostLines(2, "");
  EXPECT_TRUE(Take().empty());
}

std::string g_box_title, g_box_text;
bool CaptureBox(const char* title, const char* text, platform::BoxKind) {
  g_box_title = title;
  g_box_text = text;
  return true;
}

TEST(ReportError, BoxTitleNamesTheModuleAndLine) {
  platform::SetBoxHook(CaptureBox);
  const int line = __LINE__ + 1;
  platform::ReportError("0-size memory allocation request detected");
  platform::SetBoxHook(nullptr);
  EXPECT_EQ(g_box_title, "Ombrel error:messages_test(" + std::to_string(line) + ")");
  EXPECT_EQ(g_box_text, "0-size memory allocation request detected");
}

TEST(AssertionFailedDeathTest, ShowsTheConditionAndExitsWithOne) {
  EXPECT_EXIT(platform::AssertionFailed("interp/scripts.cpp", 42, "i < osb->memchkCount"),
              ::testing::ExitedWithCode(1), "scripts \\(42\\) assertion \\(i < osb->memchkCount\\) failed");
}

}  // namespace

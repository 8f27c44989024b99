// The script reader, labels, the call stack, the tick and its pauses.
#include <gtest/gtest.h>

#include "interp/dispatcher.h"
#include "interp/scripts.h"
#include "test_support.h"

using namespace interp;
using interp_test::InterpTest;

namespace {

class Scripts : public InterpTest {
 protected:
  FILE* Open(const std::string& name, const std::string& text) {
    FILE* f = fopen(Write(name, text).c_str(), "r");
    EXPECT_NE(f, nullptr);
    files_.push_back(f);
    return f;
  }
  std::vector<std::string> AllLines(FILE* f) {
    std::vector<std::string> out;
    char line[SCRIPT_LINE_SIZE];
    while (ReadScriptLine(f, line, nullptr)) out.push_back(line);
    return out;
  }
  void TearDown() override {
    for (FILE* f : files_) fclose(f);
    InterpTest::TearDown();
  }
  // Runs ticks until the script ends (at most limit ticks); returns ticks used.
  int RunTicks(int limit) {
    int n = 0;
    while (g_.script.current && n < limit) {
      ScriptTick(g_);
      ++n;
    }
    return n;
  }
  std::vector<FILE*> files_;
};

TEST_F(Scripts, LastLineWithoutLineFeedStillCounts) {
  FILE* f = Open("a.omb", "Echo one\nEcho two");
  EXPECT_EQ(AllLines(f), (std::vector<std::string>{"Echo one", "Echo two"}));
}

TEST_F(Scripts, BackslashJoinsTheNextLineEvenWithBlanksAfterIt) {
  FILE* f = Open("a.omb", "Echo a \\   \n b\\\nc\r\nnext\r\n");
  EXPECT_EQ(AllLines(f), (std::vector<std::string>{"Echo a  bc", "next"}));
}

TEST_F(Scripts, EndOfFileInAContinuationEndsTheScript) {
  FILE* f = Open("a.omb", "Echo first\nEcho cut \\\n");
  EXPECT_EQ(AllLines(f), (std::vector<std::string>{"Echo first"}));
}

TEST_F(Scripts, OverlongLineIsCutAndItsTailSkipped) {
  FILE* f = Open("a.omb", "Echo " + std::string(3000, 'x') + "\nEcho after\n");
  char line[SCRIPT_LINE_SIZE];
  bool cut = false;
  ASSERT_TRUE(ReadScriptLine(f, line, &cut));
  EXPECT_TRUE(cut);
  EXPECT_EQ(strlen(line), static_cast<size_t>(SCRIPT_LINE_SIZE - 1));
  ASSERT_TRUE(ReadScriptLine(f, line, &cut));
  EXPECT_FALSE(cut);
  EXPECT_STREQ(line, "Echo after");
}

TEST_F(Scripts, ContinuationsStopAtTheBufferSize) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += std::string(100, 'c') + "\\\n";
  text += "end\nEcho after\n";
  FILE* f = Open("a.omb", text);
  char line[SCRIPT_LINE_SIZE];
  bool cut = false;
  ASSERT_TRUE(ReadScriptLine(f, line, &cut));
  EXPECT_TRUE(cut);
  EXPECT_LT(strlen(line), static_cast<size_t>(SCRIPT_LINE_SIZE));
}

TEST_F(Scripts, FindLabelMatchesByPrefixFromTheStart) {
  FILE* f = Open("a.omb", "Echo 0\n:loop2\nEcho 2\n  :loop\nEcho 1\n");
  char line[SCRIPT_LINE_SIZE];
  ReadScriptLine(f, line, nullptr);
  ReadScriptLine(f, line, nullptr);
  ReadScriptLine(f, line, nullptr);
  ASSERT_TRUE(FindLabel(f, "loop"));
  ASSERT_TRUE(ReadScriptLine(f, line, nullptr));
  EXPECT_STREQ(line, "Echo 2");
  ASSERT_TRUE(FindLabel(f, ":loop\n"));  // one ":" dropped, cut at the line feed
  ReadScriptLine(f, line, nullptr);
  EXPECT_STREQ(line, "Echo 2");
  EXPECT_TRUE(Take().empty());
}

TEST_F(Scripts, FindLabelIsCaseSensitiveAndKeepsThePlaceWhenMissing) {
  FILE* f = Open("a.omb", "Echo 0\n:Loop\nEcho 1\n");
  char line[SCRIPT_LINE_SIZE];
  ReadScriptLine(f, line, nullptr);
  EXPECT_FALSE(FindLabel(f, "loop"));
  ASSERT_TRUE(ReadScriptLine(f, line, nullptr));
  EXPECT_STREQ(line, ":Loop");
  std::vector<interp_test::Message> m = Take();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].level, 4);
  EXPECT_EQ(m[0].text, "Label (loop) not in script file");
}

TEST_F(Scripts, The32ndNestedCallFailsAndTheScriptGoesOn) {
  Write("deep.omb", "Call deep\nEcho back\n");
  ExecuteCommandLine(g_, "deep");
  int calls = 0;
  while (g_.script.current && calls < 100) {
    ScriptTick(g_);
    ++calls;
    if (g_.script.depth == SCRIPT_STACK_SIZE) break;
  }
  EXPECT_EQ(g_.script.depth, 31);
  Take();
  ScriptTick(g_);  // the 32nd Call
  EXPECT_EQ(g_.script.depth, 31);
  std::vector<interp_test::Message> m = Take();
  ASSERT_FALSE(m.empty());
  EXPECT_EQ(m.back().text, "call failed - nesting level 32");
  EXPECT_EQ(g_.error_level, 4);
  RunTicks(1000);
  int backs = 0;
  for (const auto& x : Take())
    if (x.text == "back") ++backs;
  EXPECT_EQ(backs, 32);
}

TEST_F(Scripts, ReturnAtDepthZeroDoesNothing) {
  Write("top.omb", "Return\nEcho after return\n");
  g_.settings.script_echo = 0;
  ExecuteCommandLine(g_, "top");
  RunTicks(10);
  EXPECT_EQ(Texts(), std::vector<std::string>{"after return"});
}

TEST_F(Scripts, ReturnResumesTheCallerAfterItsCallLine) {
  Write("top.omb", "Call sub\nEcho top again\n");
  Write("sub.omb", "Echo in sub\nReturn\nEcho wrong\n");
  g_.settings.script_echo = 0;
  ExecuteCommandLine(g_, "top");
  RunTicks(10);
  EXPECT_EQ(Texts(), (std::vector<std::string>{"in sub", "top again"}));
}

TEST_F(Scripts, CallAtTheConsoleDoesNothing) {
  Write("sub.omb", "Echo in sub\n");
  ExecuteCommandLine(g_, "Call sub");
  EXPECT_EQ(g_.script.current, nullptr);
  EXPECT_EQ(g_.script.depth, 0);
}

TEST_F(Scripts, FailedCallReportsTheBuiltName) {
  Write("top.omb", "Call missing\nEcho goes on\n");
  g_.settings.script_echo = 0;
  ExecuteCommandLine(g_, "top");
  RunTicks(10);
  EXPECT_EQ(Texts(), (std::vector<std::string>{"Script file (" + dir_ + "/missing.omb) open failed",
                                               "goes on"}));
}

TEST_F(Scripts, EchoedLinesAreDrawnBeforeTheirOutput) {
  Write("top.omb", "Echo x\n");
  ExecuteCommandLine(g_, "top");
  RunTicks(10);
  std::vector<interp_test::Message> m = Take();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].text, "Echo x");
  EXPECT_EQ(m[0].level, 2);
  EXPECT_EQ(m[1].text, "x");
}

TEST_F(Scripts, PaceStretchesPauses) {
  Write("top.omb", "ShowMap 10\nEcho after\n");
  g_.settings.script_echo = 0;
  g_.settings.script_pace = 50;
  ExecuteCommandLine(g_, "top");
  ScriptTick(g_);  // ShowMap
  EXPECT_EQ(g_.script.pause_ms, 10000);
  EXPECT_EQ(Texts(), std::vector<std::string>{"paused 10 seconds"});
  // The tick that brings the pause to 0 runs the next line.
  int ticks = 0;
  while (Take().empty() && ticks < 1000) {
    ScriptTick(g_);
    ++ticks;
  }
  EXPECT_EQ(ticks, 40);  // 40 ticks of 500 ms: 20 s for 10 s at pace 50
}

TEST_F(Scripts, PauseUntilEnterAndTypingHoldTheScript) {
  Write("top.omb", "ShowMap 0\nEcho after\n");
  g_.settings.script_echo = 0;
  ExecuteCommandLine(g_, "top");
  ScriptTick(g_);
  EXPECT_EQ(g_.script.pause_ms, PAUSE_UNTIL_ENTER);
  for (int i = 0; i < 100; ++i) EXPECT_FALSE(ScriptTick(g_));
  g_.script.pause_ms = 0;  // the user pressed Enter
  g_.console_input_length = 3;
  EXPECT_FALSE(ScriptTick(g_));
  g_.console_input_length = 0;
  g_.map_mode = 1;
  EXPECT_FALSE(ScriptTick(g_));
  g_.map_mode = 0;
  EXPECT_TRUE(ScriptTick(g_));
  EXPECT_EQ(Texts(), (std::vector<std::string>{"press <Enter> key or click this message...", "after"}));
}

TEST_F(Scripts, ShowMapOutsideAScriptDoesNothing) {
  ExecuteCommandLine(g_, "ShowMap 5");
  EXPECT_EQ(g_.script.pause_ms, 0);
  EXPECT_TRUE(Take().empty());
}

TEST_F(Scripts, ShowPanelReadsItsStyleAndLines) {
  ExecuteCommandLine(g_, "ShowPanel -4 r255g0b0k7f9j1l-2 \"first\\nsecond\\n\"");
  EXPECT_EQ(g_.script.pause_ms, 4000);
  EXPECT_TRUE(g_.panel.shown);
  EXPECT_TRUE(g_.panel.keep_in_map);
  EXPECT_EQ(g_.panel.colour, "r255g0b0");
  EXPECT_EQ(g_.panel.background, 7);
  EXPECT_EQ(g_.panel.font, 3);  // 9 is no font: the default
  EXPECT_EQ(g_.panel.justification, 1);
  EXPECT_EQ(g_.panel.location, -2);
  ASSERT_EQ(g_.panel.lines.size(), 2u);
  EXPECT_EQ(g_.panel.lines[0], "first");
  EXPECT_EQ(g_.panel.lines[1], "second");
  EXPECT_EQ(Texts(), std::vector<std::string>{"paused -4 seconds"});
}

TEST_F(Scripts, ShowPanelWithoutTextOnlyPauses) {
  ExecuteCommandLine(g_, "ShowPanel 2 c3");
  EXPECT_EQ(g_.script.pause_ms, 2000);
  EXPECT_FALSE(g_.panel.shown);
}

bool RefusePanel(GlobalBlock&) { return false; }

TEST_F(Scripts, PanelThatCannotBeMadeIsLevelTwo) {
  g_.show_text_panel = RefusePanel;
  ExecuteCommandLine(g_, "ShowPanel 1 c3 text");
  EXPECT_EQ(g_.error_level, 2);
  EXPECT_FALSE(g_.panel.shown);
  EXPECT_EQ(Texts(), (std::vector<std::string>{"paused 1 seconds", "Text panel open error"}));
}

TEST_F(Scripts, NextScriptLineRemovesThePanel) {
  Write("top.omb", "ShowPanel 1 c3 hello\nEcho next\n");
  g_.settings.script_echo = 0;
  ExecuteCommandLine(g_, "top");
  ScriptTick(g_);
  EXPECT_TRUE(g_.panel.shown);
  while (g_.script.pause_ms > 0) ScriptTick(g_);
  ScriptTick(g_);
  EXPECT_FALSE(g_.panel.shown);
}

}  // namespace

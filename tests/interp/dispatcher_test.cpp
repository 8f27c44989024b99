// The command table and the dispatcher: order, look-up, error levels, the
// unknown-word fall-back, chaining of If commands and Duration's format.
#include <gtest/gtest.h>
#include <strings.h>

#include <set>
#include <string>

#include "interp/dispatcher.h"
#include "interp/handlers.h"
#include "test_support.h"

using namespace interp;
using interp_test::InterpTest;

namespace {

TEST(CommandTable, HoldsThe135CommandsInTheirOrder) {
  int n = 0;
  while (kCommandTable[n].name) ++n;
  EXPECT_EQ(n, COMMAND_COUNT);
  EXPECT_STREQ(kCommandTable[0].name, "AddCellCenters");
  EXPECT_STREQ(kCommandTable[2].name, "Call");
  EXPECT_STREQ(kCommandTable[52].name, "Duration");
  EXPECT_STREQ(kCommandTable[67].name, "GoTo");
  EXPECT_STREQ(kCommandTable[99].name, "Quit");
  EXPECT_STREQ(kCommandTable[110].name, "Return");
  EXPECT_STREQ(kCommandTable[134].name, "Zzz");
  // Every row has a handler, and Tab completion relies on one row per name.
  std::set<std::string> lower;
  for (int i = 0; i < COMMAND_COUNT; ++i) {
    EXPECT_NE(kCommandTable[i].handler, nullptr) << kCommandTable[i].name;
    std::string s = kCommandTable[i].name;
    for (char& c : s) c = static_cast<char>(tolower(c));
    EXPECT_TRUE(lower.insert(s).second) << s;
  }
}

TEST(CommandTable, SharedHandlersKeepTheirVariants) {
  const int two_operand = LookUpCommand("DerivePsetInside");
  EXPECT_EQ(kCommandTable[two_operand].variant, 3);
  EXPECT_EQ(kCommandTable[two_operand].mode, 1);
  EXPECT_EQ(kCommandTable[LookUpCommand("VerifyRsetIsNull")].variant, 4);
  EXPECT_EQ(kCommandTable[LookUpCommand("OverheadSurface")].variant, 6);
  EXPECT_EQ(kCommandTable[LookUpCommand("EnterRsetOutsideSector")].mode, 2);
}

TEST(CommandTable, LookUpIgnoresCaseAndNeedsTheWholeWord) {
  EXPECT_EQ(LookUpCommand("area"), 1);
  EXPECT_EQ(LookUpCommand("AREA"), 1);
  EXPECT_EQ(LookUpCommand("Are"), COMMAND_COUNT);
  EXPECT_EQ(LookUpCommand("Areas"), COMMAND_COUNT);
  EXPECT_EQ(LookUpCommand(""), COMMAND_COUNT);
  EXPECT_EQ(LookUpCommand(nullptr), COMMAND_COUNT);
}

TEST(Duration, FormatKeepsWholeSecondsUnpadded) {
  char t[64];
  FormatDuration(3725.5, t, sizeof t);
  EXPECT_STREQ(t, "1:02:5.500");
  FormatDuration(0.0, t, sizeof t);
  EXPECT_STREQ(t, "0:00:0.000");
  FormatDuration(59.9999, t, sizeof t);
  EXPECT_STREQ(t, "0:00:60.000");  // seconds are rounded only by the format
  FormatDuration(36000 + 600 + 12.25, t, sizeof t);
  EXPECT_STREQ(t, "10:10:12.250");
}

class Dispatcher : public InterpTest {};

TEST_F(Dispatcher, RegistersTheTableWithNoLine) {
  ExecuteCommandLine(g_, nullptr);
  EXPECT_EQ(g_.command_table, kCommandTable);
  EXPECT_EQ(g_.command_count, 135);
}

TEST_F(Dispatcher, DurationPrintsTheLastCommandTime) {
  g_.last_command_time = 3725.5;
  ExecuteCommandLine(g_, "duration");
  EXPECT_EQ(Texts(), std::vector<std::string>{"1:02:5.500"});
}

TEST_F(Dispatcher, CommentsLabelsAndEmptyLinesLeaveLevelAndTime) {
  for (const char* line : {"   ; a comment", ":label", "\t:label", "", "   ", "\n", ", "}) {
    g_.error_level = 4;
    g_.last_command_time = 12.5;
    ExecuteCommandLine(g_, line);
    EXPECT_EQ(g_.error_level, 4) << "[" << line << "]";
    EXPECT_EQ(g_.last_command_time, 12.5) << "[" << line << "]";
  }
  EXPECT_TRUE(Take().empty());
}

TEST_F(Dispatcher, EveryCommandStartsFromLevelZero) {
  g_.error_level = 4;
  ExecuteCommandLine(g_, "Echo x");
  EXPECT_EQ(g_.error_level, 0);
  EXPECT_EQ(g_.previous_error_level, 4);
}

TEST_F(Dispatcher, UnknownWordIsAnErrorWhenNoScriptHasItsName) {
  ExecuteCommandLine(g_, "Frobnicate 1 2");
  EXPECT_EQ(g_.error_level, 4);
  std::vector<interp_test::Message> m = Take();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].level, 4);
  EXPECT_EQ(m[0].text, "command?=>Frobnicate<=");
}

TEST_F(Dispatcher, ACloseUnknownWordNamesTheCommandOnALevel2Line) {
  ExecuteCommandLine(g_, "Versoin");
  EXPECT_EQ(g_.error_level, 4);
  std::vector<interp_test::Message> m = Take();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].level, 4);
  EXPECT_EQ(m[0].text, "command?=>Versoin<=");
  EXPECT_EQ(m[1].level, 2);
  EXPECT_EQ(m[1].text, "did you mean Version?");
  // "script" alone stops a script: never a slip.
  ExecuteCommandLine(g_, "script nosuchscript");
  m = Take();
  ASSERT_EQ(m.size(), 1u);
}

TEST(Suggestions, EditsCaseAndTies) {
  // One change, insertion, deletion or swap; case does not count.
  EXPECT_EQ(SuggestCommands("versiom"), "Version");
  EXPECT_EQ(SuggestCommands("VERSIONS"), "Version");
  EXPECT_EQ(SuggestCommands("Vrsion"), "Version");
  EXPECT_EQ(SuggestCommands("Vresion"), "Version");
  EXPECT_EQ(SuggestCommands("Aera"), "Area");
  // Only the closest names, at most three, in table order.
  EXPECT_EQ(SuggestCommands("DrawCell"), "DrawCells");
  EXPECT_EQ(SuggestCommands("IfExists"), "IfExist");
  EXPECT_EQ(SuggestCommands("DerivePsetInsde"), "DerivePsetInside");
  EXPECT_EQ(SuggestCommands("ReadXix"), "ReadTix or ReadVix");
  EXPECT_EQ(SuggestCommands("NearestInXset"), "NearestInLset, NearestInPset or NearestInRset");
  EXPECT_EQ(SuggestCommands("NearestInset"), "NearestInLset, NearestInPset or NearestInRset");
  // Short words allow one edit only; words under 3 characters none.
  EXPECT_EQ(SuggestCommands("Sxy"), "");
  EXPECT_EQ(SuggestCommands("Ar"), "");
  EXPECT_EQ(SuggestCommands(""), "");
  EXPECT_EQ(SuggestCommands(nullptr), "");
  EXPECT_EQ(SuggestCommands("frobnicate"), "");
  // A word of the longest length is compared without trouble.
  EXPECT_EQ(SuggestCommands(std::string(259, 'x').c_str()), "");
}

TEST_F(Dispatcher, UnknownWordStartsTheScriptOfThatName) {
  Write("hello.omb", "Echo hi\n:there\nEcho there\n");
  ExecuteCommandLine(g_, "hello there");
  ASSERT_NE(g_.script.current, nullptr);
  EXPECT_EQ(g_.script.last_directory, dir_ + "/");
  EXPECT_EQ(g_.error_level, 0);
  // Positioned after the label: the next line is "Echo there".
  char line[SCRIPT_LINE_SIZE];
  ASSERT_TRUE(ReadScriptLine(g_.script.current, line, nullptr));
  EXPECT_STREQ(line, "Echo there");
  // The word script alone stops it.
  ExecuteCommandLine(g_, "SCRIPT");
  EXPECT_EQ(g_.script.current, nullptr);
  EXPECT_TRUE(Take().empty());
}

TEST_F(Dispatcher, StartingAScriptClosesTheRunningOneAndItsCallers) {
  Write("a.omb", "Echo a\n");
  Write("b.omb", "Echo b\n");
  ExecuteCommandLine(g_, "script a");
  ExecuteCommandLine(g_, "Call b");
  EXPECT_EQ(g_.script.depth, 1);
  g_.script.pause_ms = 5000;
  ExecuteCommandLine(g_, "script data\\b.omb");
  EXPECT_EQ(g_.script.depth, 0);
  EXPECT_EQ(g_.script.pause_ms, 0);
  EXPECT_EQ(g_.script.current_name, dir_ + "/b.omb");
}

TEST_F(Dispatcher, ChainedIfSeesTheZeroTheFirstLeft) {
  g_.error_level = 4;
  ExecuteCommandLine(g_, "IfErrorlevel 4 IfErrorlevel 1 Echo wrong");
  EXPECT_TRUE(Take().empty());
  g_.error_level = 4;
  ExecuteCommandLine(g_, "IfErrorlevel 4 IfNotErrorlevel 1 Echo right");
  EXPECT_EQ(Texts(), std::vector<std::string>{"right"});
  // The chained command keeps its own level.
  g_.error_level = 4;
  ExecuteCommandLine(g_, "IfErrorlevel 2 nosuchword");
  EXPECT_EQ(g_.error_level, 4);
  g_.error_level = 1;
  ExecuteCommandLine(g_, "IfErrorlevel 2 nosuchword");
  EXPECT_EQ(g_.error_level, 0);
}

TEST_F(Dispatcher, IfExistLooksInTheDataDirectoryWithQbo) {
  Write("obj.qbo", "x");
  ExecuteCommandLine(g_, "IfExist obj Echo yes");
  ExecuteCommandLine(g_, "IfNotExist obj Echo no");
  ExecuteCommandLine(g_, "IfNotExist other Echo other is missing");
  ExecuteCommandLine(g_, "IfExist data/obj.qbo Echo alias");
  EXPECT_EQ(Texts(), (std::vector<std::string>{"yes", "other is missing", "alias"}));
}

TEST_F(Dispatcher, LongLinesAreCutAt1024Characters) {
  std::string line = "Echo " + std::string(2000, 'e');
  ExecuteCommandLine(g_, line.c_str());
  std::vector<std::string> t = Texts();
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].size(), 1024u - 5u);
}

TEST_F(Dispatcher, NotImplementedPostsAtLevelTwoOnly) {
  g_.error_level = 0;
  CmdNotImplemented(g_, "1 2 3", 5, 1);
  ExecuteCommandLine(g_, "zzz ?");
  std::vector<interp_test::Message> m = Take();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[1].text, "not implemented");
  m.pop_back();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].level, 2);
  EXPECT_EQ(m[0].text, "not implemented");
  EXPECT_EQ(g_.error_level, 0);
}

TEST_F(Dispatcher, QuitCarriesTheLevelTheLineFound) {
  g_.error_level = 4;
  ExecuteCommandLine(g_, "IfErrorlevel 4 Quit");
  EXPECT_TRUE(g_.quit_requested);
  EXPECT_EQ(g_.exit_code, 4);
}

}  // namespace

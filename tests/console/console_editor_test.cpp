// The console key table: caret keys and their bells, insert and overwrite,
// the 256-character limit, history Up/Down, Tab completion cycles in table
// order, and dropped file names.
#include "interp/console_editor.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using interp::ConsoleAction;
using interp::ConsoleEditor;
using platform::TerminalKey;

// A slice of the command table around the Draw commands, in table order,
// with the first entry so that an empty prefix has a known first match.
const char* const kTable[] = {"AddCellCenters", "Area", "Call", "DisplaySurfaceShade", "DrawCellCenters",
                              "DrawCellDuals", "DrawCellNumbers", "DrawCellOrder", "DrawCells",
                              "DrawCellSpokes", "DrawCoast", "DrawGrid", "DrawHorizon", "DrawText",
                              "DumpObject", "Zzz"};
const int kCount = sizeof kTable / sizeof kTable[0];

struct Editor {
  ConsoleEditor ed;
  Editor() { interp::ConsoleEditorInit(ed, kTable, kCount); }
  void Type(const std::string& s) {
    for (char c : s) interp::ConsoleEditorChar(ed, c);
  }
  ConsoleAction Key(TerminalKey k) { return interp::ConsoleEditorKey(ed, k, &entered); }
  std::string Line() const { return std::string(ed.line, ed.length); }
  std::string Enter(const std::string& s) {
    Type(s);
    Key(TerminalKey::kEnter);
    return entered;
  }
  std::string entered;
};

TEST(ConsoleKeys, CaretMovesAndBellsAtTheEnds) {
  Editor e;
  EXPECT_EQ(e.Key(TerminalKey::kLeft), ConsoleAction::kBell);
  EXPECT_EQ(e.Key(TerminalKey::kHome), ConsoleAction::kBell);
  EXPECT_EQ(e.Key(TerminalKey::kBackspace), ConsoleAction::kBell);
  EXPECT_EQ(e.Key(TerminalKey::kEscape), ConsoleAction::kBell);
  e.Type("abc");
  EXPECT_EQ(e.Key(TerminalKey::kRight), ConsoleAction::kBell);
  EXPECT_EQ(e.Key(TerminalKey::kEnd), ConsoleAction::kBell);
  EXPECT_EQ(e.Key(TerminalKey::kDelete), ConsoleAction::kBell);
  EXPECT_EQ(e.Key(TerminalKey::kHome), ConsoleAction::kNone);
  EXPECT_EQ(e.ed.caret, 0);
  e.Key(TerminalKey::kRight);
  e.Type("X");  // insert mode
  EXPECT_EQ(e.Line(), "aXbc");
  EXPECT_EQ(e.ed.caret, 2);
  e.Key(TerminalKey::kDelete);
  EXPECT_EQ(e.Line(), "aXc");
  e.Key(TerminalKey::kBackspace);
  EXPECT_EQ(e.Line(), "ac");
  EXPECT_EQ(e.ed.caret, 1);
  EXPECT_EQ(e.Key(TerminalKey::kPageUp), ConsoleAction::kNone);
  EXPECT_EQ(e.Line(), "ac");
  EXPECT_EQ(e.Key(TerminalKey::kEscape), ConsoleAction::kNone);
  EXPECT_EQ(e.Line(), "");
  EXPECT_EQ(e.ed.caret, 0);
}

TEST(ConsoleKeys, OverwriteReplacesAndAppendsAtTheEnd) {
  Editor e;
  e.Type("abcd");
  e.Key(TerminalKey::kInsert);
  EXPECT_TRUE(e.ed.overwrite);
  e.Key(TerminalKey::kLeft);
  e.Key(TerminalKey::kLeft);
  e.Type("XYZW");
  EXPECT_EQ(e.Line(), "abXYZW");
  EXPECT_EQ(e.ed.caret, 6);
  e.Key(TerminalKey::kInsert);
  EXPECT_FALSE(e.ed.overwrite);
}

TEST(ConsoleKeys, TheLineHoldsAtMost256Characters) {
  Editor e;
  EXPECT_EQ(interp::ConsoleEditorChar(e.ed, 'a', 300), ConsoleAction::kBell);
  EXPECT_EQ(e.ed.length, 256);
  EXPECT_EQ(interp::ConsoleEditorChar(e.ed, 'b'), ConsoleAction::kBell);
  // Overwrite inside a full line still works; at its end it is refused.
  e.Key(TerminalKey::kInsert);
  e.Key(TerminalKey::kHome);
  EXPECT_EQ(interp::ConsoleEditorChar(e.ed, 'c'), ConsoleAction::kNone);
  EXPECT_EQ(e.ed.line[0], 'c');
  e.Key(TerminalKey::kEnd);
  EXPECT_EQ(interp::ConsoleEditorChar(e.ed, 'd'), ConsoleAction::kBell);
  EXPECT_EQ(e.ed.length, 256);
  EXPECT_EQ(e.ed.line[256], '\0');
}

TEST(ConsoleKeys, ControlCharactersAreRefused) {
  Editor e;
  EXPECT_EQ(interp::ConsoleEditorChar(e.ed, '\x01'), ConsoleAction::kBell);
  EXPECT_EQ(e.ed.length, 0);
}

TEST(ConsoleEnter, EmptyLineOnlyScrolls) {
  Editor e;
  EXPECT_EQ(e.Key(TerminalKey::kEnter), ConsoleAction::kEnter);
  EXPECT_EQ(e.ed.historyUsed, 0);
  e.Type("Version");
  EXPECT_EQ(e.Key(TerminalKey::kEnter), ConsoleAction::kExecute);
  EXPECT_EQ(e.entered, "Version");
  EXPECT_EQ(e.Line(), "");
}

TEST(ConsoleHistory, UpAndDownAfterThreeLines) {
  Editor e;
  EXPECT_EQ(e.Key(TerminalKey::kUp), ConsoleAction::kBell);
  e.Enter("first");
  e.Enter("second");
  e.Enter("third");
  EXPECT_EQ(e.Key(TerminalKey::kDown), ConsoleAction::kBell);
  e.Key(TerminalKey::kUp);
  EXPECT_EQ(e.Line(), "third");
  EXPECT_EQ(e.ed.caret, 5);
  e.Key(TerminalKey::kUp);
  EXPECT_EQ(e.Line(), "second");
  e.Key(TerminalKey::kUp);
  EXPECT_EQ(e.Line(), "first");
  EXPECT_EQ(e.Key(TerminalKey::kUp), ConsoleAction::kBell);
  EXPECT_EQ(e.Line(), "first");
  e.Key(TerminalKey::kDown);
  EXPECT_EQ(e.Line(), "second");
  e.Key(TerminalKey::kDown);
  EXPECT_EQ(e.Line(), "third");
  EXPECT_EQ(e.Key(TerminalKey::kDown), ConsoleAction::kBell);
  // Entering a line puts the cursor past the newest entry again; duplicates stay.
  e.Key(TerminalKey::kEnter);
  e.Key(TerminalKey::kUp);
  EXPECT_EQ(e.Line(), "third");
  e.Key(TerminalKey::kUp);
  EXPECT_EQ(e.Line(), "third");
}

TEST(ConsoleHistory, OldestEntriesAreDroppedToStayUnder2047Bytes) {
  Editor e;
  const std::string line(99, 'x');  // 100 bytes with its NUL
  for (int i = 0; i < 30; ++i) {
    std::string l = line;
    l[0] = static_cast<char>('A' + i);
    e.Enter(l);
    ASSERT_LT(e.ed.historyUsed, 2047);
  }
  EXPECT_EQ(e.ed.historyUsed, 2000);
  int ups = 0;
  while (e.Key(TerminalKey::kUp) == ConsoleAction::kNone) ++ups;
  EXPECT_EQ(ups, 20);
  EXPECT_EQ(e.ed.line[0], 'A' + 10);
  // A full-length line still fits after dropping.
  interp::ConsoleHistoryAdd(e.ed, std::string(256, 'y').c_str());
  EXPECT_LT(e.ed.historyUsed, 2047);
}

TEST(ConsoleCompletion, DraCyclesForwardToTheEndThenBack) {
  Editor e;
  e.Type("dra");
  const char* expected[] = {"DrawCellCenters", "DrawCellDuals", "DrawCellNumbers", "DrawCellOrder",
                            "DrawCells", "DrawCellSpokes", "DrawCoast", "DrawGrid", "DrawHorizon", "DrawText"};
  for (const char* name : expected) {
    EXPECT_EQ(e.Key(TerminalKey::kTab), ConsoleAction::kNone);
    EXPECT_EQ(e.Line(), name);
    EXPECT_EQ(e.ed.caret, e.ed.length);
  }
  EXPECT_EQ(e.Key(TerminalKey::kTab), ConsoleAction::kBell);
  EXPECT_EQ(e.Line(), "DrawText");
  EXPECT_EQ(e.Key(TerminalKey::kShiftTab), ConsoleAction::kNone);
  EXPECT_EQ(e.Line(), "DrawHorizon");
  for (int i = 0; i < 8; ++i) e.Key(TerminalKey::kShiftTab);
  EXPECT_EQ(e.Line(), "DrawCellCenters");
  EXPECT_EQ(e.Key(TerminalKey::kShiftTab), ConsoleAction::kBell);
  EXPECT_EQ(e.Line(), "DrawCellCenters");
}

TEST(ConsoleCompletion, EmptyLineOffersTheFirstEntry) {
  Editor e;
  e.Key(TerminalKey::kTab);
  EXPECT_EQ(e.Line(), "AddCellCenters");
  e.Key(TerminalKey::kTab);
  EXPECT_EQ(e.Line(), "Area");
}

TEST(ConsoleCompletion, ShiftTabFirstAndNoMatchBell) {
  Editor e;
  e.Type("dra");
  EXPECT_EQ(e.Key(TerminalKey::kShiftTab), ConsoleAction::kBell);
  EXPECT_EQ(e.Line(), "dra");
  Editor f;
  f.Type("qq");
  EXPECT_EQ(f.Key(TerminalKey::kTab), ConsoleAction::kBell);
  EXPECT_EQ(f.Line(), "qq");
}

TEST(ConsoleCompletion, AnyOtherKeyStartsANewCycle) {
  Editor e;
  e.Type("dra");
  e.Key(TerminalKey::kTab);
  e.Key(TerminalKey::kTab);
  EXPECT_EQ(e.Line(), "DrawCellDuals");
  // Backspace ends the cycle: the next Tab takes "DrawCellDual" as prefix.
  e.Key(TerminalKey::kBackspace);
  e.Key(TerminalKey::kTab);
  EXPECT_EQ(e.Line(), "DrawCellDuals");
  EXPECT_EQ(e.Key(TerminalKey::kTab), ConsoleAction::kBell);
  // A prefix longer than a name does not match it.
  Editor g;
  g.Type("DrawCellsX");
  EXPECT_EQ(g.Key(TerminalKey::kTab), ConsoleAction::kBell);
}

TEST(ConsoleDrop, FileNamesLoseTheirDefaultDirectory) {
  Editor e;
  interp::ConsoleEditorDropFile(e.ed, "/proj/scripts/demo.omb", "/proj/scripts/", "/proj/data/");
  EXPECT_EQ(e.Line(), "demo.omb ");
  Editor f;
  f.Type("ImportPset out");
  interp::ConsoleEditorDropFile(f.ed, "/proj/data/sub/cities.pts", "/proj/scripts/", "/proj/data/");
  EXPECT_EQ(f.Line(), "ImportPset out sub/cities.pts ");
  interp::ConsoleEditorDropFile(f.ed, "/elsewhere/x.omb", "/proj/scripts/", "/proj/data/");
  EXPECT_EQ(f.Line(), "ImportPset out sub/cities.pts /elsewhere/x.omb ");
}

}  // namespace

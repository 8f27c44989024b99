// The keyed store: the syntax check with its line numbers and messages, and
// the look-up rules (first occurrence, exact keyword, run-time values win,
// continuation lines, CR LF files).
#include "interp/keyed_store.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using interp::KeyedStore;

struct Store {
  KeyedStore* s;
  explicit Store(const std::string& text) : s(interp::OpenKeyedStoreFromText("t.oin", text.data(), text.size())) {}
  ~Store() { interp::CloseKeyedStore(s); }
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
};

std::string Check(const std::string& text, int* line) {
  Store st(text);
  const char* msg = nullptr;
  *line = interp::CheckKeyedStoreSyntax(st.s, &msg);
  return msg ? msg : "";
}

std::string Text(const std::string& text, const char* key, const char* dflt = "none", int* ret = nullptr) {
  Store st(text);
  char buf[256];
  const int n = interp::GetKeyText(st.s, key, dflt, buf, sizeof buf);
  if (ret) *ret = n;
  return buf;
}

TEST(KeyedStoreSyntax, WellFormedFilesPass) {
  int line = -1;
  EXPECT_EQ(Check("", &line), "");
  EXPECT_EQ(line, 0);
  Check("; comment\n[section]\n\na.b_c = 1\n_x=2\n.y   =   3  \nlong = a\\\n b\\\n c\n", &line);
  EXPECT_EQ(line, 0);
  Check("k = v\r\n; c\r\n\r\nk2=w\r\n", &line);
  EXPECT_EQ(line, 0);
}

TEST(KeyedStoreSyntax, EachFaultWithItsLineNumber) {
  int line = 0;
  // The only fault is a tab on line 7.
  EXPECT_EQ(Check("a=1\nb=2\n; c\n\nc=3\nd=4\ne=\t5\nf=6\n", &line), "Tab character found.");
  EXPECT_EQ(line, 7);
  EXPECT_EQ(Check("a=1\n\t; tab in a comment line\n", &line), "Tab character found.");
  EXPECT_EQ(line, 2);
  EXPECT_EQ(Check("a=1\n1abc=2\n", &line), "Unrecognized line.");
  EXPECT_EQ(line, 2);
  EXPECT_EQ(Check("a=1\n=2\n", &line), "Unrecognized line.");
  EXPECT_EQ(line, 2);
  EXPECT_EQ(Check("a=1\n b\n", &line), "Unexpected continuation line.");
  EXPECT_EQ(line, 2);
  EXPECT_EQ(Check("a=1\\\n\nb=2\n", &line), "Continuation line expected.");
  EXPECT_EQ(line, 2);
  EXPECT_EQ(Check("a=1\\\n;c\n", &line), "Continuation line expected.");
  EXPECT_EQ(line, 2);
  EXPECT_EQ(Check("a=1\\\nb=2\n", &line), "Continuation line expected.");
  EXPECT_EQ(line, 2);
  EXPECT_EQ(Check("a=1\\\n", &line), "Continuation line expected.");
  EXPECT_EQ(line, 2);
  EXPECT_EQ(Check("a-b=1\n", &line), "Keyword syntax error.");
  EXPECT_EQ(line, 1);
  EXPECT_EQ(Check("x=0\na b=1\n", &line), "Keyword syntax error.");
  EXPECT_EQ(line, 2);
  EXPECT_EQ(Check("x=0\nnoequals\n", &line), "Keyword syntax error.");
  EXPECT_EQ(line, 2);
  EXPECT_EQ(Check("a=1\nb=2", &line), "Missing line ending.");
  EXPECT_EQ(line, 2);
  EXPECT_EQ(Check("a=1\n;comment", &line), "Missing line ending.");
  EXPECT_EQ(line, 2);
}

TEST(KeyedStoreSyntax, BackslashInsideAValueIsOrdinary) {
  int line = -1;
  Check("path = c:\\x\\y z\nnext = 1\n", &line);
  EXPECT_EQ(line, 0);
  EXPECT_EQ(Text("path = c:\\x\\y z\n", "path"), "c:\\x\\y z");
}

TEST(KeyedStoreLookup, ValueRules) {
  int n = 0;
  EXPECT_EQ(Text("key =   value with trailing  \n", "key", "d", &n), "value with trailing  ");
  EXPECT_EQ(n, 21);
  // Keywords are exact: same characters and same length, case-sensitive.
  EXPECT_EQ(Text("keyx=1\nKey=2\nkey=3\n", "key"), "3");
  EXPECT_EQ(Text("key=1\n", "ke", "dflt", &n), "dflt");
  EXPECT_EQ(n, -1);
  EXPECT_EQ(Text("key=1\n", "other", nullptr, &n), "");
  EXPECT_EQ(n, -1);
  // The first occurrence counts.
  EXPECT_EQ(Text("twice = first\ntwice = second\n", "twice"), "first");
  // Blanks before the "=" are allowed.
  EXPECT_EQ(Text("spaced     = v\n", "spaced"), "v");
  EXPECT_EQ(Text("empty =\n", "empty", "d", &n), "");
  EXPECT_EQ(n, 0);
}

TEST(KeyedStoreLookup, ContinuationJoinsLines) {
  EXPECT_EQ(Text("list = 1,2,\\\n 3,4,\\\n  5\nafter = x\n", "list"), "1,2,3,4, 5");
  EXPECT_EQ(Text("list = 1,2,\\\n 3\nafter = x\n", "after"), "x");
  EXPECT_EQ(Text("crlf = a\\\r\n b\r\n", "crlf"), "ab");
}

TEST(KeyedStoreLookup, CrLfConventionComesFromTheFirstLineEnd) {
  EXPECT_EQ(Text("a = 1\r\nb = 2\r\n", "b"), "2");
  // In a line-feed file a carriage return is an ordinary character.
  EXPECT_EQ(Text("a = 1\nb = 2\r\n", "b"), "2\r");
}

TEST(KeyedStoreLookup, BufferLimitAndIntegers) {
  Store st("k = 123456789\nneg = -42xyz\nempty =\nword = abc\n");
  char buf[5];
  EXPECT_EQ(interp::GetKeyText(st.s, "k", nullptr, buf, sizeof buf), 4);
  EXPECT_STREQ(buf, "1234");
  EXPECT_EQ(interp::GetKeyInteger(st.s, "k", 7), 123456789);
  EXPECT_EQ(interp::GetKeyInteger(st.s, "neg", 7), -42);
  EXPECT_EQ(interp::GetKeyInteger(st.s, "empty", 7), 0);
  EXPECT_EQ(interp::GetKeyInteger(st.s, "word", 7), 0);
  EXPECT_EQ(interp::GetKeyInteger(st.s, "absent", 7), 7);
}

TEST(KeyedStoreLookup, RunTimeValuesWin) {
  Store st("epoch = 1\n");
  interp::SetKeyText(st.s, "epoch", "2");
  interp::SetKeyText(st.s, "added", "3");
  interp::SetKeyText(st.s, "epoch", "4");
  EXPECT_EQ(interp::GetKeyInteger(st.s, "epoch", 0), 4);
  EXPECT_EQ(interp::GetKeyInteger(st.s, "added", 0), 3);
  EXPECT_EQ(st.s->runTime.size(), 2u);
}

TEST(KeyedStoreLookup, BrokenTextsAreQueriedSafely) {
  // A key line without "=", a continuation at the very end, no final line end.
  EXPECT_EQ(Text("bad\nkey = a\\", "key"), "a\\");
  EXPECT_EQ(Text("bad\nkey = a\\\n", "key"), "a\\");
  EXPECT_EQ(Text("bad\n", "bad", "d"), "d");
  EXPECT_EQ(Text(std::string("k = a\0b\n", 8), "k").size(), 1u);
}

TEST(KeyedStoreFile, OpenReadsTheFileAndFailsOnAMissingOne) {
  EXPECT_EQ(interp::OpenKeyedStore("no-such-file.oin"), nullptr);
  const char* name = "keyed_store_test.oin";
  std::FILE* f = std::fopen(name, "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("; test\nwork.space.size = 64000\n", f);
  std::fclose(f);
  KeyedStore* s = interp::OpenKeyedStore(name);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->fileName, name);
  EXPECT_EQ(interp::GetKeyInteger(s, "work.space.size", 0), 64000);
  interp::CloseKeyedStore(s);
  std::remove(name);
}

}  // namespace

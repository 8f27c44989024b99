// NextWord, SplitFileName, BuildFileName and ExpandDirectoryAlias: the edge
// cases every handler depends on.
#include <gtest/gtest.h>

#include <string>

#include "interp/words.h"

using namespace interp;

namespace {

// All words of a text, as a handler would read them.
std::vector<std::string> Words(const char* text, int size = WORD_SIZE) {
  std::vector<std::string> out;
  std::vector<char> buf(static_cast<size_t>(size > 0 ? size : 1));
  const char* p = text;
  do {
    p = NextWord(p, buf.data(), size);
    out.push_back(size > 0 ? buf.data() : "");
  } while (p);
  return out;
}

TEST(NextWord, QuotedWordWithBlankThenCommaAndNumber) {
  char buf[WORD_SIZE];
  const char* rest = NextWord("'a b', 5", buf, sizeof buf);
  EXPECT_STREQ(buf, "a b");
  ASSERT_NE(rest, nullptr);
  EXPECT_STREQ(rest, "5");
}

TEST(NextWord, CommaAfterBlanksGivesEmptyWord) {
  EXPECT_EQ(Words("one , two"), (std::vector<std::string>{"one", "", "two"}));
  EXPECT_EQ(Words("one,two"), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(Words("one,,two"), (std::vector<std::string>{"one", "", "two"}));
  EXPECT_EQ(Words("  one \t two  "), (std::vector<std::string>{"one", "two"}));
}

TEST(NextWord, QuotesKeepBlanksAndCommasAndOtherQuotes) {
  EXPECT_EQ(Words("\"a, 'b' c\" d"), (std::vector<std::string>{"a, 'b' c", "d"}));
  EXPECT_EQ(Words("'it\"s' x"), (std::vector<std::string>{"it\"s", "x"}));
  // A quote inside an unquoted word is an ordinary character.
  EXPECT_EQ(Words("ab'c d"), (std::vector<std::string>{"ab'c", "d"}));
}

TEST(NextWord, UnclosedQuoteRunsToTheLineEnd) {
  char buf[WORD_SIZE];
  EXPECT_EQ(NextWord("'open to the end\nnext", buf, sizeof buf), nullptr);
  EXPECT_STREQ(buf, "open to the end");
}

TEST(NextWord, LineEndsStopTheText) {
  char buf[WORD_SIZE];
  EXPECT_EQ(NextWord("word\r\nmore", buf, sizeof buf), nullptr);
  EXPECT_STREQ(buf, "word");
  EXPECT_EQ(NextWord("word   \n", buf, sizeof buf), nullptr);
  EXPECT_STREQ(buf, "word");
  EXPECT_EQ(NextWord("'q'  ", buf, sizeof buf), nullptr);
  EXPECT_STREQ(buf, "q");
}

TEST(NextWord, NoSourceAndEmptyText) {
  char buf[WORD_SIZE] = "junk";
  EXPECT_EQ(NextWord(nullptr, buf, sizeof buf), nullptr);
  EXPECT_STREQ(buf, "");
  strcpy(buf, "junk");
  EXPECT_EQ(NextWord("   ", buf, sizeof buf), nullptr);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(NextWord("abc", buf, 0), nullptr);  // no room: nothing written
  EXPECT_STREQ(buf, "");
}

TEST(NextWord, LongWordIsCutAt259AndTheRestDropped) {
  std::string text(300, 'w');
  text += " next";
  char buf[WORD_SIZE];
  EXPECT_EQ(NextWord(text.c_str(), buf, sizeof buf), nullptr);
  EXPECT_EQ(strlen(buf), 259u);
  // Exactly 259 characters fit and the rest of the line is kept.
  std::string fits = std::string(259, 'f') + " next";
  const char* rest = NextWord(fits.c_str(), buf, sizeof buf);
  EXPECT_EQ(strlen(buf), 259u);
  ASSERT_NE(rest, nullptr);
  EXPECT_STREQ(rest, "next");
  // A quoted word is cut the same way.
  std::string quoted = "'" + std::string(400, 'q') + "' tail";
  EXPECT_EQ(NextWord(quoted.c_str(), buf, 10), nullptr);
  EXPECT_STREQ(buf, "qqqqqqqqq");
}

TEST(SplitFileName, FourParts) {
  std::string d, dir, s, e;
  SplitFileName("C:\\data\\coast.sgm", &d, &dir, &s, &e);
  EXPECT_EQ(d, "C");
  EXPECT_EQ(dir, "\\data");
  EXPECT_EQ(s, "coast");
  EXPECT_EQ(e, "sgm");
  SplitFileName("/home/u/a.b.c", &d, &dir, &s, &e);
  EXPECT_EQ(d, "");
  EXPECT_EQ(dir, "/home/u");
  EXPECT_EQ(s, "a.b");
  EXPECT_EQ(e, "c");
  SplitFileName("/root", &d, &dir, &s, &e);
  EXPECT_EQ(dir, "/");
  EXPECT_EQ(s, "root");
  SplitFileName("C:", &d, &dir, &s, &e);
  EXPECT_EQ(d, "C");
  EXPECT_EQ(dir + s + e, "");
  // A dot in a directory is not an extension.
  SplitFileName("v1.2/name", &d, &dir, &s, &e);
  EXPECT_EQ(dir, "v1.2");
  EXPECT_EQ(s, "name");
  EXPECT_EQ(e, "");
}

TEST(BuildFileName, DefaultsFillWhatTheNameLacks) {
  char r[FILE_NAME_SIZE];
  EXPECT_STREQ(BuildFileName("coast", "C:\\data\\", ".qbo", r), "C:/data/coast.qbo");
  EXPECT_STREQ(BuildFileName("sub\\coast", "C:\\data\\", ".qbo", r), "sub/coast.qbo");
  EXPECT_STREQ(BuildFileName("coast", "/srv/data/", "qbo", r), "/srv/data/coast.qbo");
  EXPECT_STREQ(BuildFileName("coast.pts", "/srv/data/", ".qbo", r), "/srv/data/coast.pts");
  EXPECT_STREQ(BuildFileName("coast", "./", "", r), "./coast");
  EXPECT_STREQ(BuildFileName("/abs/x", "./", ".omb", r), "/abs/x.omb");
  // The default path's stem stands in for a missing one; its extension never counts.
  EXPECT_STREQ(BuildFileName("", "/d/default.xyz", ".qbo", r), "/d/default.qbo");
}

TEST(BuildFileName, NoStemGivesQuestionMarks) {
  char r[FILE_NAME_SIZE];
  EXPECT_STREQ(BuildFileName("", "C:\\data\\", ".qbo", r), ".???");
  EXPECT_STREQ(BuildFileName(nullptr, nullptr, nullptr, r), ".???");
  // A text that begins with white space has no parts at all.
  EXPECT_STREQ(BuildFileName(" coast", "/d/", ".qbo", r), ".???");
  EXPECT_STREQ(BuildFileName("dir/", "/d/", ".qbo", r), ".???");
}

TEST(BuildFileName, StaysWithin260Characters) {
  char r[FILE_NAME_SIZE];
  std::string dir = "/" + std::string(250, 'd') + "/";
  // Directory (252) + stem (5) fits; ".qbo" would pass 260 and is left off.
  EXPECT_STREQ(BuildFileName("coast", dir.c_str(), ".qbo", r), (dir + "coast").c_str());
  std::string longdir = "/" + std::string(300, 'd') + "/";
  BuildFileName("coast", longdir.c_str(), ".qbo", r);
  EXPECT_LE(strlen(r), 260u);
}

TEST(ExpandDirectoryAlias, BothSeparatorsAndCaseSensitive) {
  GlobalBlock g;
  g.dirs.temp = "/tmp/";
  g.dirs.data = "/srv/data/";
  g.dirs.script = "/srv/scripts/";
  g.dirs.veltrum = "/opt/veltrum/";
  char name[WORD_SIZE];
  strcpy(name, "data\\coast");
  ExpandDirectoryAlias(g, name);
  EXPECT_STREQ(name, "/srv/data/coast");
  strcpy(name, "script/run.omb");
  ExpandDirectoryAlias(g, name);
  EXPECT_STREQ(name, "/srv/scripts/run.omb");
  strcpy(name, "veltrum\\a\\b");
  ExpandDirectoryAlias(g, name);
  EXPECT_STREQ(name, "/opt/veltrum/a\\b");
  strcpy(name, "Data\\coast");  // not an alias: case matters
  ExpandDirectoryAlias(g, name);
  EXPECT_STREQ(name, "Data\\coast");
  strcpy(name, "database");
  ExpandDirectoryAlias(g, name);
  EXPECT_STREQ(name, "database");
}

TEST(ExpandDirectoryAlias, TooLongLeavesTheNameAlone) {
  GlobalBlock g;
  g.dirs.temp = "/" + std::string(250, 't') + "/";
  char name[WORD_SIZE];
  strcpy(name, "temp\\0123456789");
  EXPECT_FALSE(ExpandDirectoryAlias(g, name, 20));
  EXPECT_STREQ(name, "temp\\0123456789");
}

}  // namespace

// The terminal key decoder: the escape sequences of the common terminals,
// modifiers ignored, a lone Escape only after the timeout, CR LF as one Enter.
#include "platform/terminal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::TerminalEvent;
using platform::TerminalKey;

std::vector<TerminalEvent> Decode(const std::string& bytes, bool flush = true) {
  platform::TerminalDecoder d;
  std::vector<TerminalEvent> out;
  TerminalEvent ev[2];
  for (unsigned char b : bytes) {
    const int n = platform::TerminalDecoderFeed(d, b, ev);
    for (int i = 0; i < n; ++i) out.push_back(ev[i]);
  }
  if (flush && platform::TerminalDecoderFlush(d, ev)) out.push_back(ev[0]);
  return out;
}

TerminalKey OnlyKey(const std::string& bytes) {
  const auto ev = Decode(bytes);
  EXPECT_EQ(ev.size(), 1u) << bytes.substr(1);
  return ev.empty() ? TerminalKey::kNone : ev[0].key;
}

TEST(TerminalDecoder, KeySequencesOfCommonTerminals) {
  EXPECT_EQ(OnlyKey("\x1b[A"), TerminalKey::kUp);
  EXPECT_EQ(OnlyKey("\x1b[B"), TerminalKey::kDown);
  EXPECT_EQ(OnlyKey("\x1b[C"), TerminalKey::kRight);
  EXPECT_EQ(OnlyKey("\x1b[D"), TerminalKey::kLeft);
  EXPECT_EQ(OnlyKey("\x1bOA"), TerminalKey::kUp);
  for (const char* home : {"\x1b[H", "\x1b[1~", "\x1b[7~", "\x1bOH"}) EXPECT_EQ(OnlyKey(home), TerminalKey::kHome);
  for (const char* end : {"\x1b[F", "\x1b[4~", "\x1b[8~", "\x1bOF"}) EXPECT_EQ(OnlyKey(end), TerminalKey::kEnd);
  EXPECT_EQ(OnlyKey("\x1b[2~"), TerminalKey::kInsert);
  EXPECT_EQ(OnlyKey("\x1b[3~"), TerminalKey::kDelete);
  EXPECT_EQ(OnlyKey("\x1b[5~"), TerminalKey::kPageUp);
  EXPECT_EQ(OnlyKey("\x1b[6~"), TerminalKey::kPageDown);
  EXPECT_EQ(OnlyKey("\x1b[Z"), TerminalKey::kShiftTab);
  EXPECT_EQ(OnlyKey("\x1b[1;5D"), TerminalKey::kLeft);
  EXPECT_EQ(OnlyKey("\t"), TerminalKey::kTab);
  EXPECT_EQ(OnlyKey("\x7f"), TerminalKey::kBackspace);
  EXPECT_EQ(OnlyKey("\x08"), TerminalKey::kBackspace);
}

TEST(TerminalDecoder, EnterAndCharacters) {
  auto ev = Decode("ab\r\nc\n");
  ASSERT_EQ(ev.size(), 5u);
  EXPECT_EQ(ev[0].ch, 'a');
  EXPECT_EQ(ev[1].ch, 'b');
  EXPECT_EQ(ev[2].key, TerminalKey::kEnter);
  EXPECT_EQ(ev[3].ch, 'c');
  EXPECT_EQ(ev[4].key, TerminalKey::kEnter);
  // Two carriage returns are two Enters.
  EXPECT_EQ(Decode("\r\r").size(), 2u);
}

TEST(TerminalDecoder, LoneEscapeNeedsTheTimeout) {
  EXPECT_TRUE(Decode("\x1b", false).empty());
  EXPECT_EQ(OnlyKey("\x1b"), TerminalKey::kEscape);
  // Escape followed by a letter: the Escape, then the letter.
  auto ev = Decode("\x1bx");
  ASSERT_EQ(ev.size(), 2u);
  EXPECT_EQ(ev[0].key, TerminalKey::kEscape);
  EXPECT_EQ(ev[1].ch, 'x');
  // Two Escapes in a row.
  ev = Decode("\x1b\x1b");
  ASSERT_EQ(ev.size(), 2u);
  EXPECT_EQ(ev[1].key, TerminalKey::kEscape);
}

TEST(TerminalDecoder, UnknownAndOverlongSequencesAreDropped) {
  EXPECT_TRUE(Decode("\x1b[99~").empty());
  EXPECT_TRUE(Decode("\x1b[Q").empty());
  EXPECT_TRUE(Decode("\x1b[" + std::string(40, '1') + "~").empty());
  auto ev = Decode("\x1b[" + std::string(40, '1') + "~z");
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].ch, 'z');
  EXPECT_TRUE(Decode("\x1b[").empty());
}

}  // namespace

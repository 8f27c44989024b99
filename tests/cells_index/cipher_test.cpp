// Encrypted index files: round trips with a key and a pass phrase, wrong
// secrets, damaged bytes, and the tool that seals them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "index_support.h"
#include "lib/cells/index_cipher.h"
#include "lib/cells/index_file.h"

namespace cells {
namespace {

const char* kKey = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
const char* kOtherKey = "10112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

std::vector<unsigned char> Shipped() { return test::ReadBytes(test::BinDir() + "dodeca05.vix"); }

TEST(Cipher, KeyRoundTripGivesTheSameIndex) {
  const std::vector<unsigned char> vix = Shipped();
  ASSERT_FALSE(vix.empty());
  std::vector<unsigned char> sealed, plain;
  ASSERT_EQ(SealIndexBytes(vix.data(), vix.size(), kKey, CIX_KEY_HEX, sealed), 0);
  EXPECT_EQ(sealed.size(), vix.size() + CIX_HEADER_SIZE + 16);
  int detail = -1;
  ASSERT_EQ(OpenCixBytes(sealed.data(), sealed.size(), kKey, plain, &detail), CIX_OK);
  EXPECT_EQ(plain, vix);
  CellIndex idx;
  EXPECT_EQ(LoadVixBytes(plain.data(), plain.size(), idx, 1), 0);
  EXPECT_EQ(idx.cell_count, 10242);
  ReleaseIndex(idx);
}

TEST(Cipher, WrongSecretsAndDamageAreRefused) {
  const std::vector<unsigned char> vix = Shipped();
  std::vector<unsigned char> sealed, plain;
  ASSERT_EQ(SealIndexBytes(vix.data(), vix.size(), kKey, CIX_KEY_HEX, sealed), 0);
  int detail = 0;
  EXPECT_EQ(OpenCixBytes(sealed.data(), sealed.size(), kOtherKey, plain, &detail), CIX_BAD_HEADER);
  EXPECT_EQ(detail, 4);
  EXPECT_TRUE(plain.empty());
  EXPECT_EQ(OpenCixBytes(sealed.data(), sealed.size(), "not hex", plain, &detail), CIX_BAD_SECRET);
  for (std::size_t at : {std::size_t{30}, std::size_t{100}, sealed.size() - 1}) {
    std::vector<unsigned char> bad = sealed;
    bad[at] ^= 0x20;
    EXPECT_EQ(OpenCixBytes(bad.data(), bad.size(), kKey, plain, &detail), CIX_BAD_HEADER) << "byte " << at;
  }
  std::vector<unsigned char> cut(sealed.begin(), sealed.end() - 1);
  EXPECT_EQ(OpenCixBytes(cut.data(), cut.size(), kKey, plain, &detail), CIX_BAD_HEADER);
  EXPECT_EQ(detail, 2);
  EXPECT_EQ(OpenCixBytes(vix.data(), vix.size(), kKey, plain, &detail), CIX_BAD_HEADER) << "a plain .vix";
  EXPECT_EQ(detail, 1);
  std::vector<unsigned char> other = sealed;
  other[10] = 2;
  EXPECT_EQ(OpenCixBytes(other.data(), other.size(), kKey, plain, &detail), CIX_CLASS);
  EXPECT_EQ(detail, 2);
  other = sealed;
  other[8] = 0x2B;  // release 299
  other[9] = 0x01;
  EXPECT_EQ(OpenCixBytes(other.data(), other.size(), kKey, plain, &detail), CIX_CLASS);
  EXPECT_EQ(detail, 299);
}

TEST(Cipher, PassPhraseRoundTripAndBoundedLimits) {
  const std::vector<unsigned char> vix = Shipped();
  std::vector<unsigned char> sealed, plain;
  ASSERT_EQ(SealIndexBytes(vix.data(), vix.size(), "correct horse", CIX_KEY_PASS_PHRASE, sealed), 0);
  int detail = 0;
  ASSERT_EQ(OpenCixBytes(sealed.data(), sealed.size(), "correct horse", plain, &detail), CIX_OK);
  EXPECT_EQ(plain, vix);
  EXPECT_EQ(OpenCixBytes(sealed.data(), sealed.size(), "correct horsE", plain, &detail), CIX_BAD_HEADER);
  EXPECT_EQ(detail, 4);
  // A file asking for an absurd amount of key-derivation memory is refused
  // before any work is done.
  std::vector<unsigned char> greedy = sealed;
  test::Put32(greedy, 20, 0x7FFFFFFFu);
  EXPECT_EQ(OpenCixBytes(greedy.data(), greedy.size(), "correct horse", plain, &detail), CIX_BAD_HEADER);
  EXPECT_EQ(detail, 3);
}

TEST(Cipher, TheSealingToolWritesWhatTheReaderOpens) {
  test::TempDir dir;
  const std::string tool = test::BinDir() + "cixseal";
  const std::string out = dir.File("d.cix");
  const std::string cmd = "'" + tool + "' '" + test::BinDir() + "dodeca05.vix' '" + out + "' --key " + kKey;
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::vector<unsigned char> sealed = test::ReadBytes(out);
  std::vector<unsigned char> plain;
  int detail = 0;
  ASSERT_EQ(OpenCixBytes(sealed.data(), sealed.size(), kKey, plain, &detail), CIX_OK);
  EXPECT_EQ(plain, Shipped());
  const std::string bad = "'" + tool + "' '" + out + "' '" + dir.File("e.cix") + "' --key " + kKey + " 2>/dev/null";
  EXPECT_NE(std::system(bad.c_str()), 0) << "a file that is not a .vix is not sealed";
}

}  // namespace
}  // namespace cells

// Encrypted cell index files (.cix): a .vix file sealed with libsodium.
//
// Layout, little-endian, 72-byte header then the sealed bytes:
//   0  8  magic "OMBRCIX1"
//   8  2  release of the sealed index (300 ... 360)
//  10  2  data class: 1 = cell index
//  12  1  key kind: 1 = pass phrase (Argon2id), 2 = 32-byte key given in hex
//  13  3  reserved, zero
//  16  4  Argon2id operations limit (kind 1; 0 for kind 2)
//  20  4  Argon2id memory limit in KiB (kind 1; 0 for kind 2)
//  24 16  Argon2id salt (kind 1; zero for kind 2)
//  40 24  XChaCha20-Poly1305 nonce
//  64  8  length of the .vix bytes
//  72 ..  the .vix bytes encrypted, followed by the 16-byte tag
// The whole header is authenticated with the contents, so a changed byte
// anywhere, a wrong pass phrase and a wrong key all fail the same way.
// Argon2id limits read from a file are accepted only within a fixed range,
// so a file cannot make the reader spend unbounded time or memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lib/cells/cell_index.h"

namespace cells {

inline constexpr std::size_t CIX_HEADER_SIZE = 72;
inline constexpr int CIX_DATA_CLASS_INDEX = 1;
inline constexpr int CIX_KEY_PASS_PHRASE = 1;
inline constexpr int CIX_KEY_HEX = 2;

// Statuses of opening a .cix.
enum CixStatus : int {
  CIX_OK = 0,
  CIX_BAD_HEADER = 1,  // detail: 1 magic, 2 too short, 3 key kind or limits, 4 bad key or damaged data
  CIX_CLASS = 2,       // data class or release mismatch; detail: the value found
  CIX_BAD_SECRET = 3,  // the key text is not 64 hex digits although the file needs a key
  CIX_NO_MEMORY = 8,
};

// A 32-byte key from 64 hexadecimal digits.
bool ParseHexKey(const char* text, unsigned char key[32]);

// Seals .vix bytes. With key_kind CIX_KEY_HEX the secret is 64 hex digits;
// with CIX_KEY_PASS_PHRASE it is a pass phrase (Argon2id, interactive
// limits, a random salt). Returns 0, 1 (the release in the bytes is not
// 300 ... 360 or they are shorter than a header), 3 (bad hex key), 8 (key
// derivation or memory failed).
int SealIndexBytes(const unsigned char* vix, std::size_t size, const char* secret, int key_kind,
                   std::vector<unsigned char>& out);

// Opens sealed bytes: plain gets the .vix bytes. detail as above.
int OpenCixBytes(const unsigned char* data, std::size_t size, const char* secret, std::vector<unsigned char>& plain,
                 int* detail);

}  // namespace cells

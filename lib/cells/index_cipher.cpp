// Sealing and opening .cix files with libsodium: Argon2id turns a pass
// phrase into a key (or the key is given directly), XChaCha20-Poly1305
// encrypts the .vix bytes with the 72-byte header as associated data.
#include "lib/cells/index_cipher.h"

#include <cstring>
#include <new>

#include <sodium.h>

#include "lib/geodesy/constants.h"

namespace cells {

namespace {

const unsigned char kMagic[8] = {'O', 'M', 'B', 'R', 'C', 'I', 'X', '1'};
// Accepted Argon2id limits: what interactive sealing writes, up to a few
// times more.
constexpr std::uint32_t kMinOps = 1, kMaxOps = 16;
constexpr std::uint32_t kMinMemKiB = 8, kMaxMemKiB = 256 * 1024;

std::uint16_t U16(const unsigned char* b) { return static_cast<std::uint16_t>(b[0] | (b[1] << 8)); }
std::uint32_t U32(const unsigned char* b) {
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}
void Put16(unsigned char* b, std::uint16_t v) {
  b[0] = static_cast<unsigned char>(v);
  b[1] = static_cast<unsigned char>(v >> 8);
}
void Put32(unsigned char* b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}
void Put64(unsigned char* b, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}
std::uint64_t U64(const unsigned char* b) {
  return static_cast<std::uint64_t>(U32(b)) | (static_cast<std::uint64_t>(U32(b + 4)) << 32);
}

// Key from the secret for the header's key kind; 0, or a CixStatus.
int DeriveKey(const unsigned char* header, const char* secret, unsigned char key[32]) {
  const int kind = header[12];
  if (kind == CIX_KEY_HEX) return ParseHexKey(secret, key) ? 0 : CIX_BAD_SECRET;
  const std::uint32_t ops = U32(header + 16), mem = U32(header + 20);
  if (crypto_pwhash(key, 32, secret, std::strlen(secret), header + 24, ops,
                    static_cast<std::size_t>(mem) * 1024, crypto_pwhash_ALG_ARGON2ID13) != 0)
    return CIX_NO_MEMORY;
  return 0;
}

}  // namespace

bool ParseHexKey(const char* text, unsigned char key[32]) {
  if (text == nullptr || std::strlen(text) != 64) return false;
  std::size_t len = 0;
  return sodium_hex2bin(key, 32, text, 64, nullptr, &len, nullptr) == 0 && len == 32;
}

int SealIndexBytes(const unsigned char* vix, std::size_t size, const char* secret, int key_kind,
                   std::vector<unsigned char>& out) {
  if (sodium_init() < 0) return CIX_NO_MEMORY;
  if (vix == nullptr || size < 72 || secret == nullptr) return 1;
  const std::uint16_t release = U16(vix);
  if (release < geodesy::OLDEST_RELEASE || release > geodesy::LIBRARY_RELEASE) return 1;
  unsigned char header[CIX_HEADER_SIZE] = {};
  std::memcpy(header, kMagic, 8);
  Put16(header + 8, release);
  Put16(header + 10, CIX_DATA_CLASS_INDEX);
  header[12] = static_cast<unsigned char>(key_kind == CIX_KEY_HEX ? CIX_KEY_HEX : CIX_KEY_PASS_PHRASE);
  if (header[12] == CIX_KEY_PASS_PHRASE) {
    Put32(header + 16, static_cast<std::uint32_t>(crypto_pwhash_OPSLIMIT_INTERACTIVE));
    Put32(header + 20, static_cast<std::uint32_t>(crypto_pwhash_MEMLIMIT_INTERACTIVE / 1024));
    randombytes_buf(header + 24, 16);
  }
  randombytes_buf(header + 40, 24);
  Put64(header + 64, size);
  unsigned char key[32];
  const int ks = DeriveKey(header, secret, key);
  if (ks != 0) return ks == CIX_BAD_SECRET ? 3 : CIX_NO_MEMORY;
  try {
    out.assign(CIX_HEADER_SIZE + size + crypto_aead_xchacha20poly1305_ietf_ABYTES, 0);
  } catch (const std::bad_alloc&) {
    sodium_memzero(key, sizeof key);
    return CIX_NO_MEMORY;
  }
  std::memcpy(out.data(), header, CIX_HEADER_SIZE);
  unsigned long long clen = 0;
  crypto_aead_xchacha20poly1305_ietf_encrypt(out.data() + CIX_HEADER_SIZE, &clen, vix, size, header, CIX_HEADER_SIZE,
                                             nullptr, header + 40, key);
  sodium_memzero(key, sizeof key);
  out.resize(CIX_HEADER_SIZE + clen);
  return 0;
}

int OpenCixBytes(const unsigned char* data, std::size_t size, const char* secret, std::vector<unsigned char>& plain,
                 int* detail) {
  int dummy = 0;
  if (detail == nullptr) detail = &dummy;
  *detail = 0;
  plain.clear();
  if (sodium_init() < 0) return CIX_NO_MEMORY;
  if (data == nullptr || size < 8 || std::memcmp(data, kMagic, 8) != 0) {
    *detail = 1;
    return CIX_BAD_HEADER;
  }
  if (size < CIX_HEADER_SIZE + crypto_aead_xchacha20poly1305_ietf_ABYTES) {
    *detail = 2;
    return CIX_BAD_HEADER;
  }
  const std::uint16_t release = U16(data + 8), data_class = U16(data + 10);
  if (data_class != CIX_DATA_CLASS_INDEX) {
    *detail = data_class;
    return CIX_CLASS;
  }
  if (release < geodesy::OLDEST_RELEASE || release > geodesy::LIBRARY_RELEASE) {
    *detail = release;
    return CIX_CLASS;
  }
  const int kind = data[12];
  const std::uint32_t ops = U32(data + 16), mem = U32(data + 20);
  if ((kind != CIX_KEY_HEX && kind != CIX_KEY_PASS_PHRASE) ||
      (kind == CIX_KEY_PASS_PHRASE && (ops < kMinOps || ops > kMaxOps || mem < kMinMemKiB || mem > kMaxMemKiB))) {
    *detail = 3;
    return CIX_BAD_HEADER;
  }
  const std::uint64_t length = U64(data + 64);
  if (length != size - CIX_HEADER_SIZE - crypto_aead_xchacha20poly1305_ietf_ABYTES) {
    *detail = 2;
    return CIX_BAD_HEADER;
  }
  if (secret == nullptr) secret = "";
  unsigned char key[32];
  const int ks = DeriveKey(data, secret, key);
  if (ks != 0) {
    if (ks == CIX_BAD_SECRET) *detail = 4;
    return ks;
  }
  try {
    plain.assign(static_cast<std::size_t>(length), 0);
  } catch (const std::bad_alloc&) {
    sodium_memzero(key, sizeof key);
    return CIX_NO_MEMORY;
  }
  unsigned long long mlen = 0;
  const int rc = crypto_aead_xchacha20poly1305_ietf_decrypt(plain.data(), &mlen, nullptr, data + CIX_HEADER_SIZE,
                                                            size - CIX_HEADER_SIZE, data, CIX_HEADER_SIZE,
                                                            data + 40, key);
  sodium_memzero(key, sizeof key);
  if (rc != 0) {
    plain.clear();
    *detail = 4;
    return CIX_BAD_HEADER;
  }
  plain.resize(static_cast<std::size_t>(mlen));
  return CIX_OK;
}

}  // namespace cells

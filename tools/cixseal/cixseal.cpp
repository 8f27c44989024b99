// cixseal: encrypts a cell index file (.vix) into a .cix that ReadDecryptVix
// reads.
//
//   cixseal IN.vix OUT.cix --pass PHRASE   key from the pass phrase (Argon2id)
//   cixseal IN.vix OUT.cix --key HEX       a 32-byte key as 64 hex digits
//   cixseal IN.vix OUT.cix --new-key       a fresh random key, printed in hex
//
// The input must load as a cell index; the output is written whole to a
// temporary file and renamed into place.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <sodium.h>

#include "lib/cells/cell_index.h"
#include "lib/cells/index_cipher.h"
#include "lib/cells/index_file.h"

namespace {

bool ReadFile(const char* path, std::vector<unsigned char>& out) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  unsigned char buf[65536];
  std::size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + got);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool WriteFile(const char* path, const std::vector<unsigned char>& data) {
  const std::string temp = std::string(path) + ".part";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  if (std::fclose(f) != 0 || !ok || std::rename(temp.c_str(), path) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

int Usage() {
  std::fprintf(stderr, "usage: cixseal IN.vix OUT.cix (--pass PHRASE | --key HEX | --new-key)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Usage();
  const char* in = argv[1];
  const char* out = argv[2];
  std::string secret;
  int kind;
  if (std::strcmp(argv[3], "--pass") == 0 && argc == 5) {
    secret = argv[4];
    kind = cells::CIX_KEY_PASS_PHRASE;
    if (secret.empty()) return Usage();
  } else if (std::strcmp(argv[3], "--key") == 0 && argc == 5) {
    secret = argv[4];
    kind = cells::CIX_KEY_HEX;
  } else if (std::strcmp(argv[3], "--new-key") == 0 && argc == 4) {
    if (sodium_init() < 0) return 1;
    unsigned char key[32];
    randombytes_buf(key, sizeof key);
    char hex[65];
    sodium_bin2hex(hex, sizeof hex, key, sizeof key);
    secret = hex;
    kind = cells::CIX_KEY_HEX;
  } else {
    return Usage();
  }
  std::vector<unsigned char> vix;
  if (!ReadFile(in, vix)) {
    std::fprintf(stderr, "cixseal: cannot read %s\n", in);
    return 1;
  }
  cells::CellIndex idx;
  const int ls = cells::LoadVixBytes(vix.data(), vix.size(), idx);
  cells::ReleaseIndex(idx);
  if (ls != 0) {
    std::fprintf(stderr, "cixseal: error loading index (%s), status %d\n", in, ls);
    return 1;
  }
  std::vector<unsigned char> sealed;
  const int ss = cells::SealIndexBytes(vix.data(), vix.size(), secret.c_str(), kind, sealed);
  if (ss == 3) {
    std::fprintf(stderr, "cixseal: the key must be 64 hexadecimal digits\n");
    return 2;
  }
  if (ss != 0) {
    std::fprintf(stderr, "cixseal: sealing failed (status %d)\n", ss);
    return 1;
  }
  if (!WriteFile(out, sealed)) {
    std::fprintf(stderr, "cixseal: cannot write %s\n", out);
    return 1;
  }
  if (std::strcmp(argv[3], "--new-key") == 0) std::printf("%s\n", secret.c_str());
  return 0;
}

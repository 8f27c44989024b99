// What the cell index tests share: the shipped indexes, small hand-made
// indexes, file bytes and scratch files.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "lib/cells/cell_index.h"
#include "lib/cells/index_file.h"

namespace cells::test {

inline std::string BinDir() {
  const char* b = std::getenv("OMBREL_BIN");
  return b ? std::string(b) + "/" : std::string("../bin/");
}

inline bool Sanitized() { return std::getenv("OMBREL_SANITIZED") != nullptr; }

inline std::vector<unsigned char> ReadBytes(const std::string& path) {
  std::vector<unsigned char> out;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  unsigned char buf[65536];
  std::size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + got);
  std::fclose(f);
  return out;
}

inline bool WriteBytes(const std::string& path, const void* data, std::size_t n) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, n, f) == n;
  return std::fclose(f) == 0 && ok;
}

// Loads bin/<name> in storage mode 1; the loader status.
inline int LoadShipped(const char* name, CellIndex& idx) {
  const std::vector<unsigned char> b = ReadBytes(BinDir() + name);
  if (b.empty()) return -1;
  return LoadVixBytes(b.data(), b.size(), idx, 1);
}

// A fresh scratch directory under the working directory, removed at the end.
struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "cells_index_XXXXXX";
    const char* d = mkdtemp(tmpl);
    path = d ? d : ".";
  }
  ~TempDir() {
    if (path != ".") {
      const std::string cmd = "rm -rf '" + path + "'";
      if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", path.c_str());
    }
  }
  std::string File(const char* name) const { return path + "/" + name; }
};

inline void Put16(std::vector<unsigned char>& b, std::size_t at, unsigned v) {
  b[at] = static_cast<unsigned char>(v);
  b[at + 1] = static_cast<unsigned char>(v >> 8);
}
inline void Put32(std::vector<unsigned char>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace cells::test

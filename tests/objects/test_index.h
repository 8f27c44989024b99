// Loading the shipped cell indexes for the object tests.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "lib/cells/cell_index.h"
#include "lib/cells/index_file.h"

namespace cells::testing {

inline std::string BinDir() {
  const char* b = std::getenv("OMBREL_BIN");
  return b ? std::string(b) + "/" : std::string("../bin/");
}

inline std::string SourceDir() {
  const char* s = std::getenv("OMBREL_SOURCE");
  return s ? std::string(s) + "/" : std::string("/work/main/");
}

inline std::string TestData() {
  const char* s = std::getenv("OMBREL_TEST_DATA");
  return s ? std::string(s) + "/" : SourceDir() + "tests/data/";
}

// Loads bin/<name>; false when it is missing or bad.
inline bool LoadShippedIndex(const char* name, CellIndex& idx) {
  std::FILE* f = std::fopen((BinDir() + name).c_str(), "rb");
  if (!f) return false;
  int status = LoadVix(f, idx, 1);
  std::fclose(f);
  return status == 0;
}

inline bool Sanitized() { return std::getenv("OMBREL_SANITIZED") != nullptr; }

}  // namespace cells::testing

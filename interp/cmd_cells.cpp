// The cell index commands.
//
// Each loads into a fresh index and makes it current only when it loaded
// completely: a failed load leaves the current index as it was. The map
// geometry is then set anew from the current map settings, since it keeps
// cell numbers of the old index.
#include "interp/cmd_cells.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "interp/cmd_map.h"
#include "interp/handlers.h"
#include "interp/messages.h"
#include "interp/words.h"
#include "lib/cells/cell_index.h"
#include "lib/cells/index_cipher.h"
#include "lib/cells/index_file.h"

namespace interp {

namespace {

cells::SecondaryTable* g_secondary = nullptr;

// Makes `fresh` the current index and rebuilds the map geometry.
void MakeCurrent(GlobalBlock& g, cells::CellIndex& fresh) {
  if (g.cell_index == nullptr) g.cell_index = new cells::CellIndex;
  cells::ReplaceIndex(*g.cell_index, fresh);
  const int code = ApplyMapGeometry(g, CurrentGeometryRequest(g));
  if (code != 0) {
    PostText(4, "New map geometry error: %d", code);
    g.error_level = EL_FAILURE;
  }
}

// The file name of the first argument word, completed with the data
// directory and the extension; false when there is no word.
bool FileArgument(GlobalBlock& g, const char*& args, const char* extension, char* path) {
  char word[WORD_SIZE];
  args = NextWord(args, word, sizeof word);
  if (word[0] == '\0') return false;
  ExpandDirectoryAlias(g, word, sizeof word);
  BuildFileName(word, g.dirs.data.c_str(), extension, path);
  return true;
}

bool ReadWholeFile(std::FILE* f, std::vector<unsigned char>& out) {
  unsigned char buf[65536];
  std::size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + got);
  return !std::ferror(f);
}

}  // namespace

cells::SecondaryTable& SecondaryIndexTable() {
  if (g_secondary == nullptr) g_secondary = new cells::SecondaryTable;
  return *g_secondary;
}

void ReleaseSecondaryIndexTable() {
  if (g_secondary == nullptr) return;
  cells::ReleaseSecondaryTable(*g_secondary);
  delete g_secondary;
  g_secondary = nullptr;
}

void CmdReadVix(GlobalBlock& g, const char* args, int variant, int /*mode*/) {
  if (IsUsageRequest(args)) {
    PostText(2, "[ixFileName]");
    return;
  }
  const bool text = variant == 1;
  char path[FILE_NAME_SIZE];
  if (!FileArgument(g, args, text ? ".tix" : ".vix", path)) {
    std::snprintf(path, sizeof path, "%sisotype.vix", g.dirs.program.c_str());
  }
  std::FILE* f = std::fopen(path, text ? "r" : "rb");
  if (f == nullptr) {
    PostText(4, "Index file (%s) open error", path);
    g.error_level = EL_FAILURE;
    return;
  }
  cells::CellIndex fresh;
  const int status = text ? cells::LoadTix(f, fresh, 1) : cells::LoadVix(f, fresh, 1);
  std::fclose(f);
  if (status != 0) {
    cells::ReleaseIndex(fresh);
    PostText(4, "error loading index (%s), status %d", path, status);
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  MakeCurrent(g, fresh);
}

void CmdReadDecryptVix(GlobalBlock& g, const char* args, int /*variant*/, int /*mode*/) {
  if (IsUsageRequest(args)) {
    PostText(2, "ixFileName, passPhrase | key");
    return;
  }
  char path[FILE_NAME_SIZE];
  if (!FileArgument(g, args, ".cix", path)) {
    PostText(4, "Encrypted index file name not given");
    g.error_level = EL_FAILURE;
    return;
  }
  char secret[WORD_SIZE];
  NextWord(args, secret, sizeof secret);
  if (secret[0] == '\0') {
    PostText(4, "Encryption key or pass_phrase not given");
    g.error_level = EL_FAILURE;
    return;
  }
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) {
    std::memset(secret, 0, sizeof secret);
    PostText(4, "Index file (%s) open error", path);
    g.error_level = EL_FAILURE;
    return;
  }
  std::vector<unsigned char> sealed, plain;
  const bool read = ReadWholeFile(f, sealed);
  std::fclose(f);
  int detail = 0;
  const int opened = read ? cells::OpenCixBytes(sealed.data(), sealed.size(), secret, plain, &detail)
                          : static_cast<int>(cells::CIX_BAD_HEADER);
  std::memset(secret, 0, sizeof secret);
  if (opened == cells::CIX_CLASS) {
    PostText(4, "Index data-class or release (%d) mis-match!", detail);
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  if (opened == cells::CIX_NO_MEMORY) {
    PostText(4, "error loading index (%s), status %d", path, 8);
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  if (opened != cells::CIX_OK) {
    PostText(4, "Invalid file header data (%d);\n(not an encrypted index file, or a bad key!)",
             opened == cells::CIX_BAD_SECRET ? 4 : detail);
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  cells::CellIndex fresh;
  const int status = cells::LoadVixBytes(plain.data(), plain.size(), fresh, 1);
  if (status != 0) {
    cells::ReleaseIndex(fresh);
    PostText(4, "error loading index (%s), status %d", path, status);
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  MakeCurrent(g, fresh);
}

}  // namespace interp

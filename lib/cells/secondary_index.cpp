// The secondary index table: finding, mapping and releasing entries.
//
// The directory search reads only headers; the matching file is mapped
// read-only and handed to the binary loader's checks on the mapped bytes,
// which copy the records into an aligned block as they check them.
#include "lib/cells/secondary_index.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include <dirent.h>

#include "lib/cells/index_file.h"
#include "platform/mapped_file.h"

namespace cells {

namespace {

std::string DirectoryOf(const char* path) {
  std::string p = path != nullptr ? path : "";
  std::replace(p.begin(), p.end(), '\\', '/');
  const std::size_t slash = p.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

bool HasVixExtension(const char* name) {
  const std::size_t n = std::strlen(name);
  if (n < 5) return false;
  const char* e = name + n - 4;
  return e[0] == '.' && (e[1] == 'v' || e[1] == 'V') && (e[2] == 'i' || e[2] == 'I') && (e[3] == 'x' || e[3] == 'X');
}

bool HeaderId(const std::string& path, std::uint32_t& id) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  unsigned char hb[VIX_HEADER_SIZE];
  const bool ok = std::fread(hb, 1, sizeof hb, f) == sizeof hb;
  std::fclose(f);
  if (!ok) return false;
  id = DecodeVixHeader(hb).index_id;
  return true;
}

}  // namespace

int MapSecondaryIndex(const char* path, CellIndex& idx) {
  platform::MappedFile mf;
  if (path == nullptr || platform::MapFileRead(mf, path) != 0) return 5;
  CellIndex built;
  const int st = LoadVixBytes(mf.base, static_cast<std::size_t>(mf.size), built, 1);
  platform::UnmapFile(mf);
  if (st != 0) return st;
  built.storage_mode = 4;
  ReplaceIndex(idx, built);
  return 0;
}

int FindSecondaryIndex(SecondaryTable& table, const char* object_path, std::uint32_t wanted, CellIndex** found) {
  if (found != nullptr) *found = nullptr;
  if (wanted == 0) return SECONDARY_NOT_FOUND;
  for (SecondaryEntry& e : table.entries) {
    if (e.index.index_id == wanted && e.index.cell_count > 0) {
      e.last_use = ++table.use_counter;
      if (found != nullptr) *found = &e.index;
      return SECONDARY_FOUND;
    }
  }
  SecondaryEntry* slot = nullptr;
  for (SecondaryEntry& e : table.entries) {
    if (e.index.index_id == 0) {
      slot = &e;
      break;
    }
  }
  if (slot == nullptr) return SECONDARY_TABLE_FULL;
  const std::string dir = DirectoryOf(object_path);
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* ent = readdir(d)) {
      if (HasVixExtension(ent->d_name)) names.emplace_back(ent->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = dir == "/" ? "/" + name : dir + "/" + name;
    std::uint32_t id = 0;
    if (!HeaderId(path, id) || id != wanted) continue;
    if (MapSecondaryIndex(path.c_str(), slot->index) != 0) {
      ReleaseIndex(slot->index);
      return SECONDARY_MAP_ERROR;
    }
    slot->path = path;
    slot->last_use = ++table.use_counter;
    if (found != nullptr) *found = &slot->index;
    return SECONDARY_FOUND;
  }
  return SECONDARY_NOT_FOUND;
}

void ReleaseSecondaryTable(SecondaryTable& table) {
  for (SecondaryEntry& e : table.entries) {
    ReleaseIndex(e.index);
    e.path.clear();
    e.last_use = 0;
  }
  table.use_counter = 0;
}

}  // namespace cells

// Object files on top of platform mapped files.
//
// Opening maps the whole file, parses the header and then runs ObjectValid
// over the sections, so nothing past the file end is ever read. Creating
// maps a temporary file beside the target (platform::PendingFile) and lays an
// arena over it from byte 256; the builder's sections follow one another from
// there. CloseObject writes the header and commits the file at its cut
// length.
#include "lib/cells/object_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cells {

int CheckObjectName(const std::string& path, int max_len) {
  std::size_t start = path.find_last_of("/\\");
  start = start == std::string::npos ? 0 : start + 1;
  std::size_t end = path.find('.', start);
  if (end == std::string::npos) end = path.size();
  const std::size_t len = end - start;
  if (len == 0) return 1;
  if (len > static_cast<std::size_t>(max_len - 1)) return 2;
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!letter(path[start])) return 3;
  for (std::size_t i = start + 1; i < end; ++i) {
    char c = path[i];
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '_') return 4;
  }
  return 0;
}

int CheckNewObjectName(const std::string& path) {
  if (CheckObjectName(path) != 0) return 1;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    // An existing object will be replaced by rename: the directory must be
    // writable and the name must be a plain file.
    std::size_t slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    if (!S_ISREG(st.st_mode) || access(dir.c_str(), W_OK) != 0) return 2;
    return 0;
  }
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return 2;
  close(fd);
  unlink(path.c_str());
  return 0;
}

int ReadObjectKind(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return -2;
  std::uint8_t head[kObjectMinFile];
  std::size_t got = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  if (got < sizeof head) return -1;
  return Load<std::uint16_t>(head + 2);
}

int ParseObject(const std::uint8_t* base, std::int64_t file_size, Object& obj,
                std::uint32_t index_id, std::int64_t cell_limit, bool for_update) {
  obj = Object{};
  if (!base || file_size < kObjectMinFile) return 2;
  const int kind = Load<std::uint16_t>(base + 2);
  if (kind != kPset && kind != kLset && kind != kRset && (kind != kTinPset || for_update))
    return 4;
  const int release = Load<std::uint16_t>(base);
  if (release < geodesy::OLDEST_RELEASE || release > geodesy::LIBRARY_RELEASE) return 5;
  obj.release = static_cast<std::uint16_t>(release);
  obj.kind = static_cast<std::uint16_t>(kind);
  obj.id = Load<std::uint32_t>(base + 4);
  obj.klass = Load<std::uint32_t>(base + 8);
  obj.vix_id = Load<std::uint32_t>(base + 12);
  obj.res = Load<std::uint16_t>(base + 16);
  obj.prec = Load<std::uint16_t>(base + 18);
  if (index_id != 0 && obj.vix_id != index_id) return 6;

  std::uint8_t** addr[3] = {&obj.env, &obj.structure, &obj.coords};
  std::uint32_t* size[3] = {&obj.env_size, &obj.struct_size, &obj.coord_size};
  for (int s = 0; s < 3; ++s) {
    std::int64_t off = Load<std::uint32_t>(base + 20 + 8 * s);
    std::int64_t len = Load<std::uint32_t>(base + 24 + 8 * s);
    if (len > 0 && (off < kObjectHeaderArea || off % 8 != 0)) return 2;
    if (off > file_size || len > file_size - off) return 2;
    *addr[s] = const_cast<std::uint8_t*>(base) + off;
    *size[s] = static_cast<std::uint32_t>(len);
  }
  for (int k = 0; k < KindFieldCount(kind); ++k) {
    std::int64_t v = Load<std::int32_t>(base + 48 + 4 * k);
    obj.kfield[k] = v < 0 ? -v : v;
  }
  if (!ObjectValid(obj, cell_limit)) return 2;
  return 0;
}

static int OpenObject(ObjectHandle& h, const std::string& path, std::uint32_t index_id,
                      std::int64_t cell_limit, bool update) {
  AbandonObject(h);
  int status = update ? platform::MapFileUpdate(h.map, path.c_str())
                      : platform::MapFileRead(h.map, path.c_str());
  if (status != 0) return status;
  status = ParseObject(h.map.base, h.map.size, h.obj, index_id, cell_limit, update);
  if (status != 0) {
    platform::UnmapFile(h.map);
    h.obj = Object{};
    return status;
  }
  h.base = h.map.base;
  h.data_base = nullptr;
  h.is_open = true;
  return 0;
}

int OpenObjectRead(ObjectHandle& h, const std::string& path, std::uint32_t index_id,
                   std::int64_t cell_limit) {
  return OpenObject(h, path, index_id, cell_limit, false);
}

int OpenObjectUpdate(ObjectHandle& h, const std::string& path, std::uint32_t index_id,
                     std::int64_t cell_limit) {
  return OpenObject(h, path, index_id, cell_limit, true);
}

int CreateObject(ObjectHandle& h, const std::string& path, int kind, std::int64_t mapping_size) {
  AbandonObject(h);
  if (mapping_size <= 0) return 2;
  int status = platform::PendingCreate(h.pending, path.c_str(), mapping_size + 1024);
  if (status != 0) return status;
  h.base = h.pending.map.base;
  h.data_base = h.base + kObjectHeaderArea;
  platform::WorkspaceInit(&h.arena, h.data_base, mapping_size);
  h.obj = Object{};
  h.obj.kind = static_cast<std::uint16_t>(kind);
  h.is_open = true;
  return 0;
}

void WriteObjectHeader(std::uint8_t* base, const Object& obj) {
  std::memset(base, 0, kObjectHeaderArea);
  Store<std::uint16_t>(base, obj.release);
  Store<std::uint16_t>(base + 2, obj.kind);
  Store<std::uint32_t>(base + 4, obj.id);
  Store<std::uint32_t>(base + 8, obj.klass);
  Store<std::uint32_t>(base + 12, obj.vix_id);
  Store<std::uint16_t>(base + 16, obj.res);
  Store<std::uint16_t>(base + 18, obj.prec);
  const std::uint8_t* addr[3] = {obj.env, obj.structure, obj.coords};
  const std::uint32_t size[3] = {obj.env_size, obj.struct_size, obj.coord_size};
  for (int s = 0; s < 3; ++s) {
    std::uint32_t off = addr[s] ? static_cast<std::uint32_t>(addr[s] - base) : kObjectHeaderArea;
    Store<std::uint32_t>(base + 20 + 8 * s, off);
    Store<std::uint32_t>(base + 24 + 8 * s, size[s]);
  }
  for (int k = 0; k < KindFieldCount(obj.kind); ++k)
    Store<std::int32_t>(base + 48 + 4 * k, static_cast<std::int32_t>(obj.kfield[k]));
}

int CloseObject(ObjectHandle& h) {
  int status = 0;
  if (!h.pending.temp.empty()) {
    WriteObjectHeader(h.base, h.obj);
    std::int64_t length = std::int64_t{kObjectHeaderArea} + h.obj.env_size + h.obj.struct_size +
                          h.obj.coord_size;
    status = platform::PendingCommit(h.pending, length);
  } else {
    platform::UnmapFile(h.map);
  }
  h.obj = Object{};
  h.base = h.data_base = nullptr;
  h.arena = platform::Workspace{};
  h.is_open = false;
  return status;
}

void AbandonObject(ObjectHandle& h) {
  platform::PendingAbandon(h.pending);
  platform::UnmapFile(h.map);
  h.obj = Object{};
  h.base = h.data_base = nullptr;
  h.arena = platform::Workspace{};
  h.is_open = false;
}

int EraseObjectFile(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return 1;
  // Only files are erased: remove(3) would also take an empty directory.
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return 2;
  return unlink(path.c_str()) == 0 ? 0 : 2;
}

}  // namespace cells

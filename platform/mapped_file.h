// Memory-mapped views of whole files, and files that are built in place.
//
// A MappedFile is a view of a whole file: read-only (MapFileRead), writable
// over an existing file (MapFileUpdate), or writable over a new file of a
// chosen size (MapFileCreate). Closing it releases the view and, when
// truncate_size is not -1, cuts the file to that many bytes.
//
// A PendingFile is a new file built in place under a temporary name in the
// target's directory: the target is replaced (by rename) only by
// PendingCommit, so a failed or interrupted build never touches an existing
// file of that name and leaves no half-built file behind. The temporary name
// is ".<name>.<random>.part" beside the target. It is a SafeOutput
// (safe_output.h): its space is reserved with posix_fallocate before it is
// mapped, it is removed on SIGINT/SIGTERM, and stale parts of the same target
// are cleaned up when the next one is created.
//
// Statuses: 0 done, 1 the file cannot be opened or created, 2 mapping failed
// (or the file cannot be sized), 3 the view failed, 4 (PendingCreate,
// PendingCommit) the file system is full, 5 (PendingCreate) the target exists
// and is not a regular file. An empty file maps as an empty view (base null,
// size 0) without error.
#pragma once

#include <cstdint>
#include <string>

#include "platform/safe_output.h"

namespace platform {

struct MappedFile {
  std::uint8_t* base = nullptr;  // first byte of the view, null for an empty file
  std::int64_t size = 0;         // bytes in the view (the file size when mapped)
  std::int64_t truncate_size = -1;  // length to cut the file to on close, -1 none
  int fd = -1;                   // the file descriptor, -1 when closed
  bool writable = false;

  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  ~MappedFile();
};

// Maps an existing file read-only (shared with other readers).
int MapFileRead(MappedFile& mf, const char* path);
// Maps an existing file read-write; changes reach the file.
int MapFileUpdate(MappedFile& mf, const char* path);
// Creates (or replaces) path, sizes it to size bytes (all zero) and maps it
// read-write. On failure nothing is left behind that this call made.
int MapFileCreate(MappedFile& mf, const char* path, std::int64_t size);
// Releases the view; cuts the file to truncate_size when that is not -1.
// Returns 0, or 1 when the cut failed.
int UnmapFile(MappedFile& mf);

struct PendingFile {
  std::string target;  // the name the file gets when it is committed
  std::string temp;    // where it is built, empty when there is none
  MappedFile map;      // the view, over its own descriptor of the file
  SafeOutput out;      // the temporary file and its replacement of the target

  PendingFile() = default;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile();  // an uncommitted file is abandoned
};

// Creates a temporary file of size bytes beside target and maps it writable.
// The target itself is not touched. Statuses as for MapFileCreate.
int PendingCreate(PendingFile& pf, const char* target, std::int64_t size);
// Cuts the temporary file to length bytes, flushes it and renames it over the
// target. Returns 0, or 1 (the temporary file is then removed and the target
// left as it was), or 4 when the file system is full.
int PendingCommit(PendingFile& pf, std::int64_t length);
// Releases and removes the temporary file; the target stays as it was.
void PendingAbandon(PendingFile& pf);

// True when a file (or anything else) exists at path.
bool PathExists(const char* path);

}  // namespace platform

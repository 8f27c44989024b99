// Mapped files on Linux: open(2), fstat(2), mmap(2) with MAP_SHARED, and
// ftruncate(2) for sizing a new file and cutting it on close.
//
// A new file is sized with ftruncate (a sparse file of zeros) before it is
// mapped, so the view never reaches past the end of the file. Pending files
// are SafeOutputs: their blocks are reserved with posix_fallocate first, so
// touching a page of the view can never fault on a full file system.
#include "platform/mapped_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {

MappedFile::MappedFile(MappedFile&& other) noexcept { *this = std::move(other); }

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    UnmapFile(*this);
    base = other.base;
    size = other.size;
    truncate_size = other.truncate_size;
    fd = other.fd;
    writable = other.writable;
    other.base = nullptr;
    other.size = 0;
    other.truncate_size = -1;
    other.fd = -1;
    other.writable = false;
  }
  return *this;
}

MappedFile::~MappedFile() { UnmapFile(*this); }

static int MapOpenFile(MappedFile& mf, int fd, bool writable) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return 2;
  }
  mf.fd = fd;
  mf.writable = writable;
  mf.size = static_cast<std::int64_t>(st.st_size);
  mf.truncate_size = -1;
  mf.base = nullptr;
  if (mf.size == 0) return 0;
  int prot = writable ? (PROT_READ | PROT_WRITE) : PROT_READ;
  void* p = mmap(nullptr, static_cast<size_t>(mf.size), prot, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) {
    close(fd);
    mf.fd = -1;
    mf.size = 0;
    return 3;
  }
  mf.base = static_cast<std::uint8_t*>(p);
  return 0;
}

int MapFileRead(MappedFile& mf, const char* path) {
  UnmapFile(mf);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 1;
  return MapOpenFile(mf, fd, false);
}

int MapFileUpdate(MappedFile& mf, const char* path) {
  UnmapFile(mf);
  int fd = open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return 1;
  return MapOpenFile(mf, fd, true);
}

static int MapNewFile(MappedFile& mf, int fd, std::int64_t size) {
  if (size <= 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
    return 2;
  }
  void* p = mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) {
    close(fd);
    return 3;
  }
  mf.base = static_cast<std::uint8_t*>(p);
  mf.size = size;
  mf.truncate_size = -1;
  mf.fd = fd;
  mf.writable = true;
  return 0;
}

int MapFileCreate(MappedFile& mf, const char* path, std::int64_t size) {
  UnmapFile(mf);
  int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return 1;
  int status = MapNewFile(mf, fd, size);
  if (status != 0) unlink(path);
  return status;
}

int UnmapFile(MappedFile& mf) {
  int status = 0;
  if (mf.base != nullptr) munmap(mf.base, static_cast<size_t>(mf.size));
  if (mf.fd >= 0) {
    if (mf.truncate_size >= 0 && ftruncate(mf.fd, static_cast<off_t>(mf.truncate_size)) != 0)
      status = 1;
    close(mf.fd);
  }
  mf.base = nullptr;
  mf.size = 0;
  mf.truncate_size = -1;
  mf.fd = -1;
  mf.writable = false;
  return status;
}

PendingFile::~PendingFile() { PendingAbandon(*this); }

static int PendingStatus(int safe_status, int otherwise) {
  if (safe_status == kSafeNoSpace) return 4;
  if (safe_status == kSafeNotRegular) return 5;
  return otherwise;
}

int PendingCreate(PendingFile& pf, const char* target, std::int64_t size) {
  PendingAbandon(pf);
  pf.target = target;
  if (size <= 0) return 2;
  int status = SafeOpen(pf.out, target);
  if (status != kSafeOk) return PendingStatus(status, 1);
  status = SafeReserve(pf.out, size);
  if (status != kSafeOk) {
    SafeAbandon(pf.out);
    return PendingStatus(status, 2);
  }
  int fd = fcntl(pf.out.fd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    SafeAbandon(pf.out);
    return 2;
  }
  status = MapNewFile(pf.map, fd, size);
  if (status != 0) {
    SafeAbandon(pf.out);
    return status;
  }
  // An unnamed file (the usual case) has no name of its own yet: the target's
  // stands for it.
  pf.temp = pf.out.temp.empty() ? pf.out.target : pf.out.temp;
  return 0;
}

int PendingCommit(PendingFile& pf, std::int64_t length) {
  if (pf.temp.empty() || pf.map.fd < 0) return 1;
  if (length < 0 || length > pf.map.size) {
    PendingAbandon(pf);
    return 1;
  }
  UnmapFile(pf.map);
  pf.temp.clear();
  int status = SafeCommit(pf.out, length);
  return status == kSafeOk ? 0 : PendingStatus(status, 1);
}

void PendingAbandon(PendingFile& pf) {
  UnmapFile(pf.map);
  SafeAbandon(pf.out);
  pf.temp.clear();
}

bool PathExists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0;
}

}  // namespace platform

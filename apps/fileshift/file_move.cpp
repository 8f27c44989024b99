#include "apps/fileshift/file_move.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>  // sync_file_range (GNU)
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fileshift {
namespace {

// The temporary file being written, removed by the signal handler when the
// move is interrupted. A fixed buffer: the handler may only call unlink.
char g_partial[4096];
volatile sig_atomic_t g_partial_set = 0;

void RemovePartialAndDie(int sig) {
  if (g_partial_set) unlink(g_partial);
  signal(sig, SIG_DFL);
  raise(sig);
}

void GuardPartial(const std::string& path) {
  if (path.size() >= sizeof(g_partial)) return;
  memcpy(g_partial, path.c_str(), path.size() + 1);
  g_partial_set = 1;
  struct sigaction sa {};
  sa.sa_handler = RemovePartialAndDie;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(sig, &sa, nullptr);
}

void ReleasePartial() { g_partial_set = 0; }

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string FolderOf(const char* path) {
  const char* slash = strrchr(path, '/');
  if (!slash) return ".";
  if (slash == path) return "/";
  return std::string(path, slash - path);
}

std::string BaseOf(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash ? std::string(slash + 1) : std::string(path);
}

bool WriteAll(int fd, const char* data, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Common checks of both paths: what the source is, and that the destination
// is neither the source nor a directory.
MoveStatus Examine(const char* source, const char* destination, struct stat* link_info,
                   struct stat* file_info) {
  if (lstat(source, link_info) != 0) return MoveStatus::kSourceMissing;
  bool is_link = S_ISLNK(link_info->st_mode);
  if (!is_link && !S_ISREG(link_info->st_mode)) return MoveStatus::kSourceMissing;
  // A link's target is what a copy reads; a dangling link cannot be copied.
  if (stat(source, file_info) != 0) {
    if (!is_link) return MoveStatus::kSourceMissing;
    *file_info = *link_info;
  } else if (!S_ISREG(file_info->st_mode)) {
    return MoveStatus::kSourceMissing;
  }
  struct stat dest_info;
  if (stat(destination, &dest_info) == 0) {
    if (S_ISDIR(dest_info.st_mode)) return MoveStatus::kDestinationBad;
    if (SameFile(dest_info, *file_info) || SameFile(dest_info, *link_info)) return MoveStatus::kSameFile;
  }
  struct stat dest_link;
  if (lstat(destination, &dest_link) == 0 && SameFile(dest_link, *link_info)) return MoveStatus::kSameFile;
  return MoveStatus::kMoved;
}

}  // namespace

MoveStatus CopyThenDelete(const char* source, const char* destination) {
  struct stat link_info, file_info;
  MoveStatus st = Examine(source, destination, &link_info, &file_info);
  if (st != MoveStatus::kMoved) return st;

  std::string partial = FolderOf(destination) + "/." + BaseOf(destination) + ".XXXXXX";
  std::string buffer(partial);
  // Block the signals while the name is created and registered, so that an
  // interruption cannot leave a temporary file nobody knows of.
  sigset_t block, old;
  sigemptyset(&block);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&block, sig);
  sigprocmask(SIG_BLOCK, &block, &old);
  int out = mkstemp(buffer.data());
  if (out >= 0) GuardPartial(buffer);
  sigprocmask(SIG_SETMASK, &old, nullptr);
  if (out < 0) return MoveStatus::kDestinationBad;

  auto fail = [&](int in) {
    if (in >= 0) close(in);
    close(out);
    unlink(buffer.c_str());
    ReleasePartial();
    return MoveStatus::kCopyFailed;
  };

  if (S_ISLNK(link_info.st_mode) && stat(source, &file_info) != 0) {
    // A dangling link moves as a link, as mv moves it.
    char target[4096];
    ssize_t n = readlink(source, target, sizeof(target) - 1);
    if (n < 0) return fail(-1);
    target[n] = 0;
    close(out);
    unlink(buffer.c_str());
    if (symlink(target, buffer.c_str()) != 0) {
      ReleasePartial();
      return MoveStatus::kCopyFailed;
    }
    out = open("/dev/null", O_RDONLY);
  } else {
    int in = open(source, O_RDONLY | O_CLOEXEC);
    if (in < 0) return fail(-1);
    struct stat opened;
    if (fstat(in, &opened) != 0 || !S_ISREG(opened.st_mode)) return fail(in);
    // Large, aligned chunks: the copy runs at the disk's pace, not the call's.
    std::string chunk(1 << 20, '\0');
    // Writeback starts behind the copy, chunk by chunk, so the final flush
    // finds little left to do and the copy runs at the disk's own pace.
    off_t written = 0, flushed = 0;
    const off_t kFlushStep = 8 << 20;
    for (;;) {
      ssize_t n = read(in, chunk.data(), chunk.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return fail(in);
      }
      if (n == 0) break;
      if (!WriteAll(out, chunk.data(), static_cast<size_t>(n))) return fail(in);
      written += n;
      if (written - flushed >= kFlushStep) {
        sync_file_range(out, flushed, written - flushed, SYNC_FILE_RANGE_WRITE);
        flushed = written;
      }
    }
    close(in);
    if (fchmod(out, opened.st_mode & 07777) != 0) return fail(-1);
    if (fsync(out) != 0) return fail(-1);
  }
  if (close(out) != 0) {
    unlink(buffer.c_str());
    ReleasePartial();
    return MoveStatus::kCopyFailed;
  }
  // The destination may have become the source meanwhile; look once more.
  struct stat again;
  if (stat(destination, &again) == 0 && SameFile(again, file_info)) {
    unlink(buffer.c_str());
    ReleasePartial();
    return MoveStatus::kSameFile;
  }
  if (rename(buffer.c_str(), destination) != 0) {
    unlink(buffer.c_str());
    ReleasePartial();
    return MoveStatus::kCopyFailed;
  }
  ReleasePartial();
  // Make the new name durable before the old file goes.
  int dir = open(FolderOf(destination).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  unlink(source);
  return MoveStatus::kMoved;
}

MoveStatus MoveFile(const char* source, const char* destination) {
  struct stat link_info, file_info;
  MoveStatus st = Examine(source, destination, &link_info, &file_info);
  if (st != MoveStatus::kMoved) return st;
  if (rename(source, destination) == 0) return MoveStatus::kMoved;
  switch (errno) {
    case EXDEV:   // another file system
    case EACCES:  // the source's folder refuses the removal: copy, then try to delete
    case EPERM:
    case EROFS:
    case EBUSY:
      return CopyThenDelete(source, destination);
    default:
      return MoveStatus::kDestinationBad;
  }
}

}  // namespace fileshift

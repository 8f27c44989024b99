// Safe outputs on Linux: an unnamed O_TMPFILE file beside the target (named
// through /proc/self/fd at commit), or mkostemps where that is not to be
// had; flock(2) to mark a part as live, posix_fallocate for space, fsync +
// rename(2) on commit.
//
// The signal handler may run at any moment, so the live temporary names are
// kept in a fixed table of absolute paths that it can read without locks or
// allocation; unlink(2), sigaction(2) and raise(3) are async-signal-safe.
#include "platform/safe_output.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

namespace platform {

namespace {

// Live temporary files for the signal handler. A slot is 0 free, 1 being
// filled or emptied, 2 live (path complete).
constexpr int kSlots = 64;
struct Slot {
  std::atomic<int> state{0};
  char path[PATH_MAX];
};
Slot g_slots[kSlots];

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];

void OnSignal(int sig) {
  for (Slot& s : g_slots)
    if (s.state.load(std::memory_order_acquire) == 2) unlink(s.path);
  for (int i = 0; i < 3; ++i)
    if (kSignals[i] == sig) sigaction(sig, &g_previous[i], nullptr);
  raise(sig);  // delivered when this handler returns, under the previous action
}

void InstallHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int i = 0; i < 3; ++i) {
      struct sigaction now;
      if (sigaction(kSignals[i], nullptr, &now) != 0) continue;
      if (now.sa_handler == SIG_IGN) continue;  // an ignored signal stays ignored
      struct sigaction sa;
      std::memset(&sa, 0, sizeof sa);
      sa.sa_handler = OnSignal;
      sigemptyset(&sa.sa_mask);
      for (int s : kSignals) sigaddset(&sa.sa_mask, s);
      sigaction(kSignals[i], &sa, &g_previous[i]);
    }
  });
}

int Register(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (g_slots[i].state.compare_exchange_strong(expected, 1)) {
      std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
      g_slots[i].state.store(2, std::memory_order_release);
      return i;
    }
  }
  return -1;  // table full: the file is still removed on every ordinary path
}

void Unregister(const std::string& path) {
  for (Slot& s : g_slots) {
    int expected = 2;
    if (s.state.load() == 2 && std::strcmp(s.path, path.c_str()) == 0 &&
        s.state.compare_exchange_strong(expected, 1)) {
      s.path[0] = '\0';
      s.state.store(0, std::memory_order_release);
      return;
    }
  }
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char buf[PATH_MAX];
  if (!getcwd(buf, sizeof buf)) return path;
  return std::string(buf) + "/" + path;
}

void SplitPath(const std::string& path, std::string& dir, std::string& name) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    dir.clear();
    name = path;
  } else {
    dir = path.substr(0, slash + 1);
    name = path.substr(slash + 1);
  }
}

// Devices and pipes are written in place; anything else that is not a
// regular file is refused.
bool WrittenInPlace(const struct stat& st) { return S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode); }

int NoSpaceOr(int err, int otherwise) {
  return (err == ENOSPC || err == EDQUOT || err == EFBIG) ? kSafeNoSpace : otherwise;
}

mode_t NewFileMode() {
  static const mode_t mode = [] {
    mode_t mask = umask(022);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

// Closes the stream or descriptor; false when the close reported a failure.
bool CloseOutput(SafeOutput& out) {
  bool ok = true;
  if (out.stream) {
    ok = std::fclose(out.stream) == 0;
    if (!ok && out.error == 0) out.error = errno;
  } else if (out.fd >= 0) {
    ok = close(out.fd) == 0;
    if (!ok && out.error == 0) out.error = errno;
  }
  out.stream = nullptr;
  out.fd = -1;
  return ok;
}

// Unnamed files need /proc to be given a name without privileges.
bool UnnamedFilesUsable() {
  static const bool usable = access("/proc/self/fd", X_OK) == 0;
  return usable;
}

// Six characters for a part's name, different on every call.
void RandomSix(char* out) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::atomic<unsigned long> counter{0};
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  unsigned long v = static_cast<unsigned long>(ts.tv_nsec) * 2654435761u ^ static_cast<unsigned long>(getpid()) << 20 ^
                    counter.fetch_add(0x9e3779b9u);
  for (int i = 0; i < 6; ++i) {
    out[i] = kChars[v % 62];
    v = v / 62 + static_cast<unsigned long>(ts.tv_sec) * 31 + i;
  }
}

// Gives the unnamed file its part name beside the target (registered for
// the signal handler like any named part); 0, or the status of the failure.
int NameUnnamed(SafeOutput& out) {
  std::string dir, name;
  SplitPath(out.target, dir, name);
  char proc[64];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", out.fd);
  sigset_t block, old;
  sigemptyset(&block);
  for (int s : kSignals) sigaddset(&block, s);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  int status = kSafeWriteFailed;
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string part = dir + "." + name + ".XXXXXX.part";
    RandomSix(part.data() + part.size() - 11);
    if (linkat(AT_FDCWD, proc, AT_FDCWD, part.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      out.temp = Absolute(part);
      Register(out.temp);
      out.unnamed = false;
      status = kSafeOk;
      break;
    }
    if (errno == EEXIST) continue;
    if (out.error == 0) out.error = errno;
    status = NoSpaceOr(errno, kSafeWriteFailed);
    break;
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return status;
}

}  // namespace

SafeOutput::~SafeOutput() { SafeAbandon(*this); }

bool SameFile(const char* a, const char* b) {
  if (!a || !b || !*a || !*b) return false;
  struct stat sa, sb;
  if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool IsRegularFile(const char* path) {
  struct stat st;
  return path && stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

int SafeCheckTarget(const char* target, std::initializer_list<const char*> inputs) {
  struct stat st;
  if (stat(target, &st) == 0 && !S_ISREG(st.st_mode) && !WrittenInPlace(st)) return kSafeNotRegular;
  for (const char* in : inputs)
    if (SameFile(target, in)) return kSafeSameAsInput;
  return kSafeOk;
}

int RemoveStaleParts(const char* target) {
  std::string dir, name;
  SplitPath(target, dir, name);
  if (name.empty()) return 0;
  const std::string prefix = "." + name + ".";
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return 0;
  int removed = 0;
  while (dirent* e = readdir(d)) {
    const std::size_t len = std::strlen(e->d_name);
    // ".<name>." + six random characters + ".part"
    if (len != prefix.size() + 6 + 5 || std::strncmp(e->d_name, prefix.c_str(), prefix.size()) != 0 ||
        std::strcmp(e->d_name + len - 5, ".part") != 0)
      continue;
    const std::string path = dir + e->d_name;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat st;
    // A live build holds its part under an exclusive lock.
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0) {
      if (unlink(path.c_str()) == 0) ++removed;
    }
    close(fd);
  }
  closedir(d);
  return removed;
}

int SafeOpen(SafeOutput& out, const char* target) {
  SafeAbandon(out);
  out.error = 0;
  out.direct = false;
  out.unnamed = false;
  if (!target || !*target) return kSafeCannotCreate;
  std::string final_name = target;
  struct stat st;
  mode_t mode = NewFileMode();
  if (lstat(target, &st) == 0 && S_ISLNK(st.st_mode)) {
    // Replace the file the link points to, and keep the link.
    char resolved[PATH_MAX];
    if (realpath(target, resolved)) final_name = resolved;
  }
  if (stat(final_name.c_str(), &st) == 0) {
    if (WrittenInPlace(st)) {
      int fd = open(final_name.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd < 0) {
        out.error = errno;
        return kSafeCannotCreate;
      }
      out.fd = fd;
      out.direct = true;
      out.target = final_name;
      return kSafeOk;
    }
    if (!S_ISREG(st.st_mode)) return kSafeNotRegular;
    mode = st.st_mode & 07777;
  }
  InstallHandlers();
  RemoveStaleParts(final_name.c_str());
  std::string dir, name;
  SplitPath(final_name, dir, name);
  if (UnnamedFilesUsable()) {
    const std::string where = dir.empty() ? std::string(".") : dir;
    const int fd = open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (fd >= 0) {
      flock(fd, LOCK_EX | LOCK_NB);  // live from the moment it has a name
      fchmod(fd, mode);
      out.fd = fd;
      out.unnamed = true;
      out.target = final_name;
      return kSafeOk;
    }
    // A file system without unnamed files takes a named part.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      out.error = errno;
      return NoSpaceOr(out.error, kSafeCannotCreate);
    }
  }
  std::string tmpl = dir + "." + name + "." + std::string(6, 'X') + ".part";
  // Block the cleanup signals between creating the file and registering it,
  // so that no signal can leave an unregistered part behind.
  sigset_t block, old;
  sigemptyset(&block);
  for (int s : kSignals) sigaddset(&block, s);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  int fd = -1;
  for (int attempt = 0; attempt < 4 && fd < 0; ++attempt) {
    std::memcpy(tmpl.data() + tmpl.size() - 11, "XXXXXX", 6);
    fd = mkostemps(tmpl.data(), 5, O_CLOEXEC);
    if (fd < 0) {
      out.error = errno;
      pthread_sigmask(SIG_SETMASK, &old, nullptr);
      return NoSpaceOr(out.error, kSafeCannotCreate);
    }
    flock(fd, LOCK_EX | LOCK_NB);
    // Another program's stale-part sweep may have taken the file in the
    // moment before it was locked: then it is gone, and a new one is made.
    struct stat made;
    if (fstat(fd, &made) == 0 && made.st_nlink == 0) {
      close(fd);
      fd = -1;
    }
  }
  if (fd < 0) {
    out.error = EEXIST;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return kSafeCannotCreate;
  }
  out.temp = Absolute(tmpl);
  Register(out.temp);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  fchmod(fd, mode);
  out.fd = fd;
  out.target = final_name;
  return kSafeOk;
}

int SafeReserve(SafeOutput& out, std::int64_t bytes) {
  if (out.fd < 0) return kSafeWriteFailed;
  if (bytes <= 0 || out.direct) return kSafeOk;
  int err = posix_fallocate(out.fd, 0, static_cast<off_t>(bytes));
  if (err != 0) {
    if (out.error == 0) out.error = err;
    return NoSpaceOr(err, kSafeWriteFailed);
  }
  return kSafeOk;
}

int SafeWrite(SafeOutput& out, const void* data, std::size_t n) {
  if (out.fd < 0) return kSafeWriteFailed;
  if (out.stream) {
    if (std::fwrite(data, 1, n, out.stream) != n) {
      if (out.error == 0) out.error = errno;
      return NoSpaceOr(out.error, kSafeWriteFailed);
    }
    return kSafeOk;
  }
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t w = write(out.fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (out.error == 0) out.error = w < 0 ? errno : ENOSPC;
      return NoSpaceOr(out.error, kSafeWriteFailed);
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return kSafeOk;
}

std::FILE* SafeStream(SafeOutput& out) {
  if (out.stream || out.fd < 0) return out.stream;
  out.stream = fdopen(out.fd, "w");
  if (!out.stream && out.error == 0) out.error = errno;
  return out.stream;
}

int SafeCommit(SafeOutput& out, std::int64_t length) {
  if (out.direct && out.fd >= 0) {
    int status = kSafeOk;
    if (out.stream && (std::fflush(out.stream) != 0 || std::ferror(out.stream))) {
      if (out.error == 0) out.error = errno;
      status = NoSpaceOr(out.error, kSafeWriteFailed);
    }
    if (!CloseOutput(out) && status == kSafeOk) status = NoSpaceOr(out.error, kSafeWriteFailed);
    out.direct = false;
    return status;
  }
  if ((out.temp.empty() && !out.unnamed) || out.fd < 0) {
    SafeAbandon(out);
    return kSafeWriteFailed;
  }
  int status = kSafeOk;
  if (out.stream) {
    if (std::fflush(out.stream) != 0 || std::ferror(out.stream)) {
      if (out.error == 0) out.error = errno;
      status = kSafeWriteFailed;
    }
  }
  if (status == kSafeOk && length < 0) {
    off_t at = lseek(out.fd, 0, SEEK_CUR);
    if (at < 0) {
      out.error = errno;
      status = kSafeWriteFailed;
    }
    length = at;
  }
  if (status == kSafeOk && ftruncate(out.fd, static_cast<off_t>(length)) != 0) {
    out.error = errno;
    status = kSafeWriteFailed;
  }
  if (status == kSafeOk && fsync(out.fd) != 0) {
    out.error = errno;
    status = kSafeWriteFailed;
  }
  if (out.unnamed) {
    // Whole and on disk: only now does it get a name, then the target's.
    // A failure leaves it unnamed: closing it below is all the cleaning up.
    if (status == kSafeOk) status = NameUnnamed(out);
    out.unnamed = false;
  }
  if (!CloseOutput(out) && status == kSafeOk) status = kSafeWriteFailed;
  if (status == kSafeOk && rename(out.temp.c_str(), out.target.c_str()) != 0) {
    out.error = errno;
    status = kSafeWriteFailed;
  }
  if (status != kSafeOk) {
    if (!out.temp.empty()) unlink(out.temp.c_str());
    if (out.error == 0) {
      // A stream that failed earlier lost its errno: a full disk still shows.
      struct statvfs vs;
      std::string dir, name;
      SplitPath(out.target, dir, name);
      if (statvfs(dir.empty() ? "." : dir.c_str(), &vs) == 0 && vs.f_bavail == 0) out.error = ENOSPC;
    }
    status = NoSpaceOr(out.error, kSafeWriteFailed);
  }
  Unregister(out.temp);
  out.temp.clear();
  return status;
}

void SafeAbandon(SafeOutput& out) {
  CloseOutput(out);
  out.direct = false;
  out.unnamed = false;
  if (!out.temp.empty()) {
    unlink(out.temp.c_str());
    Unregister(out.temp);
    out.temp.clear();
  }
}

const char* SafeStatusText(int status) {
  switch (status) {
    case kSafeOk: return "done";
    case kSafeCannotCreate: return "cannot create the file";
    case kSafeNoSpace: return "the file system is full";
    case kSafeWriteFailed: return "cannot write the file";
    case kSafeSameAsInput: return "the output is the same file as an input";
    case kSafeNotRegular: return "the output is not a regular file";
  }
  return "unknown failure";
}

}  // namespace platform

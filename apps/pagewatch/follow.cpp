#include "apps/pagewatch/follow.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pagewatch {
namespace {

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Copies from the current offset to the end of the open file.
long long CopyToEnd(Follower& f, int out_fd) {
  char buf[65536];
  long long total = 0;
  for (;;) {
    ssize_t n = pread(f.fd, buf, sizeof(buf), f.offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return total;  // a read error ends this pass; the next one tries again
    }
    if (n == 0) return total;
    if (!WriteAll(out_fd, buf, static_cast<size_t>(n))) return -1;
    f.offset += n;
    total += n;
  }
}

}  // namespace

bool FollowerOpen(Follower& f) {
  int fd = open(f.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return false;
  }
  f.fd = fd;
  f.offset = 0;
  f.dev = st.st_dev;
  f.ino = st.st_ino;
  return true;
}

void FollowerClose(Follower& f) {
  if (f.fd >= 0) close(f.fd);
  f.fd = -1;
}

long long FollowerPump(Follower& f, int out_fd) {
  if (f.fd < 0 && !FollowerOpen(f)) return 0;
  struct stat st;
  if (fstat(f.fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < f.offset) f.offset = 0;  // truncated
  long long total = CopyToEnd(f, out_fd);
  if (total < 0) return -1;
  // Replaced: the name now leads to another file. The old one has been read
  // to its end above; the new one is read from its start.
  struct stat named;
  if (stat(f.path.c_str(), &named) == 0 && (named.st_dev != f.dev || named.st_ino != f.ino)) {
    FollowerClose(f);
    if (FollowerOpen(f)) {
      long long more = CopyToEnd(f, out_fd);
      if (more < 0) return -1;
      total += more;
    }
  }
  return total;
}

}  // namespace pagewatch

// pltcopy FILE DEVICE: copies a plot file to a device.
//
//   prn         the default printer, raw: lp -o raw FILE
//   lpt1..lpt3  the parallel ports /dev/lp0../dev/lp2
//   com1..com4  the serial ports /dev/ttyS0../dev/ttyS3
//
// Device names may end in ":" and are read in any case. OMBREL_DEVICE_DIR
// replaces "/dev/" (tests copy into a folder). Failures are told on standard
// error and by the exit status: 1 wrong arguments or device, 2 the file cannot
// be read, 3 the device cannot be opened or written, 4 lp could not be run or
// failed.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern char** environ;

namespace {

int Fail(int status, const char* what, const std::string& name) {
  fprintf(stderr, "pltcopy: %s %s: %s\n", what, name.c_str(), errno ? strerror(errno) : "");
  return status;
}

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= (size_t)w;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: pltcopy FILE DEVICE (prn, lpt1-lpt3, com1-com4)\n");
    return 1;
  }
  const std::string file = argv[1];
  std::string dev = argv[2];
  if (!dev.empty() && dev.back() == ':') dev.pop_back();
  for (char& c : dev) c = (char)tolower((unsigned char)c);
  if (dev == "prn") {
    char lp[] = "lp", o[] = "-o", raw[] = "raw";
    std::string f = file;
    char* args[] = {lp, o, raw, f.data(), nullptr};
    pid_t pid;
    errno = posix_spawnp(&pid, "lp", nullptr, nullptr, args, environ);
    if (errno != 0) return Fail(4, "cannot run lp for", file);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      errno = 0;
      return Fail(4, "lp failed for", file);
    }
    return 0;
  }
  std::string target;
  const char* dir = getenv("OMBREL_DEVICE_DIR");
  std::string base = dir && *dir ? dir : "/dev/";
  if (base.back() != '/') base += '/';
  if (dev.size() == 4 && dev.compare(0, 3, "lpt") == 0 && dev[3] >= '1' && dev[3] <= '3')
    target = base + "lp" + std::to_string(dev[3] - '1');
  else if (dev.size() == 4 && dev.compare(0, 3, "com") == 0 && dev[3] >= '1' && dev[3] <= '4')
    target = base + "ttyS" + std::to_string(dev[3] - '1');
  else {
    fprintf(stderr, "pltcopy: unknown device %s\n", argv[2]);
    return 1;
  }
  const int in = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Fail(2, "cannot read", file);
  // A real device is never created: a missing port is a failure, not a
  // new file in /dev. A test folder gets its file.
  const int create = dir && *dir ? O_CREAT | O_APPEND : 0;
  const int out = open(target.c_str(), O_WRONLY | create | O_CLOEXEC | O_NOCTTY, 0644);
  if (out < 0) return Fail(3, "cannot open", target);
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(2, "cannot read", file);
    if (n == 0) break;
    if (!WriteAll(out, buf, (size_t)n)) return Fail(3, "cannot write", target);
  }
  if (close(out) != 0) return Fail(3, "cannot write", target);
  close(in);
  return 0;
}

// Shared by the writer tests of the programs (tinprobe, lumenlog, sheeter,
// atlas2rgn, plrbuild): a small tmpfs to fill, the parts a running program
// holds open, starting a program and waiting for it, and a main that runs
// the full-file-system tests only where a tmpfs can be mounted.
//
// A writer test program is registered twice with ctest: once for its
// ordinary tests, once with --full-fs for the suites named *FullFileSystem*,
// which ends with 77 (ctest's SKIP_RETURN_CODE) when not running as root or
// when the mount is refused.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace writertest {

inline constexpr int kSkipped = 77;

// A tmpfs of the given size ("64k") on a new folder; removed with the object.
struct SmallDisk {
  std::string dir;
  bool mounted = false;
  explicit SmallDisk(const char* size) {
    std::string t = "/tmp/omwriter.XXXXXX";
    if (!mkdtemp(t.data())) return;
    dir = t;
    if (geteuid() != 0) return;
    mounted = mount("tmpfs", dir.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted) umount2(dir.c_str(), MNT_DETACH);
    if (!dir.empty()) rmdir(dir.c_str());
  }
};

// The names in a folder, without "." and "..", sorted.
inline std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// True when process pid holds open a file in dir that is being built: an
// unnamed file (shown as "(deleted)") or a named part.
inline bool HoldsPart(pid_t pid, const std::string& dir) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  char real[4096];
  const std::string base = realpath(dir.c_str(), real) ? std::string(real) + "/" : dir + "/";
  bool found = false;
  if (DIR* d = opendir(fds.c_str())) {
    while (dirent* e = readdir(d)) {
      char link[4096];
      const ssize_t n = readlink((fds + "/" + e->d_name).c_str(), link, sizeof link - 1);
      if (n <= 0) continue;
      const std::string target(link, static_cast<size_t>(n));
      if (target.compare(0, base.size(), base) == 0 &&
          (target.find(" (deleted)") != std::string::npos || target.find(".part") != std::string::npos))
        found = true;
    }
    closedir(d);
  }
  return found;
}

inline bool CanMountTmpfs() {
  SmallDisk probe("16k");
  return probe.mounted;
}

// The main of a writer test program (see above).
inline int Main(int argc, char** argv) {
  bool full_fs = false;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--full-fs") == 0) full_fs = true;
    else args.push_back(argv[i]);
  }
  int n = static_cast<int>(args.size());
  args.push_back(nullptr);
  ::testing::InitGoogleTest(&n, args.data());
  if (full_fs) {
    if (!CanMountTmpfs()) {
      std::printf("skipped: a full file system needs root to mount a small tmpfs\n");
      return kSkipped;
    }
    GTEST_FLAG_SET(filter, "*FullFileSystem*");
  } else {
    GTEST_FLAG_SET(filter, "-*FullFileSystem*");
  }
  return RUN_ALL_TESTS();
}

// Starts a program in dir with its standard output and error in
// stdout.txt and stderr.txt of out_dir (relative to dir, or absolute).
inline pid_t Spawn(const std::string& dir, const std::string& out_dir, std::vector<std::string> args) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int out = open((out_dir + "/stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open((out_dir + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> v;
    for (auto& a : args) v.push_back(a.data());
    v.push_back(nullptr);
    execv(v[0], v.data());
    _exit(127);
  }
  return pid;
}

// The exit status, or 128 + the signal that ended it.
inline int Wait(pid_t pid) {
  int st = 0;
  waitpid(pid, &st, 0);
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

}  // namespace writertest

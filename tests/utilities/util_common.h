// Shared by the utilities' tests: scratch folders, whole-file reads and
// running a program.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace utiltest {

inline std::string BinDir() {
  const char* b = getenv("OMBREL_BIN");
  char full[4096];
  // Absolute, so that a program started in another folder is still found.
  if (realpath(b ? b : "../bin", full)) return full;
  return b ? b : "../bin";
}

inline std::string MakeTempDir(const char* base = nullptr) {
  std::string t = std::string(base ? base : (getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp")) + "/omutil.XXXXXX";
  if (!mkdtemp(t.data())) return "";
  return t;
}

inline bool Exists(const std::string& p) {
  struct stat st;
  return lstat(p.c_str(), &st) == 0;
}

inline std::string Slurp(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void Spit(const std::string& p, const std::string& data) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << data;
}

// Runs argv[0] with the arguments and returns its exit status (-1 on a signal).
inline int Run(const std::vector<std::string>& args) {
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> v;
    for (auto& a : args) v.push_back(const_cast<char*>(a.c_str()));
    v.push_back(nullptr);
    execv(v[0], v.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string ListDir(const std::string& dir) {
  std::string cmd = "ls -A " + dir + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[256];
  while (p && fgets(buf, sizeof buf, p)) out += buf;
  if (p) pclose(p);
  return out;
}

}  // namespace utiltest

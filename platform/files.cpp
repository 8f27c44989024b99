// File facts through stat(2), the program's own name through /proc/self/exe,
// terminals through isatty(3).
#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace platform {

bool FileExists(const char* path) {
  struct stat st{};
  return path && *path && stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const char* path) {
  struct stat st{};
  return path && *path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ProgramPath() {
  char buf[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

static std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir.push_back('/');
  return dir;
}

std::string ProgramDirectory() {
  if (const char* home = getenv("OMBREL_HOME"); home && *home) return WithSlash(home);
  std::string exe = ProgramPath();
  size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return "./";
  return exe.substr(0, slash + 1);
}

std::string CurrentDirectory() {
  char buf[PATH_MAX + 1];
  if (!getcwd(buf, sizeof buf)) return ".";
  return buf;
}

std::string TempDirectory() {
  const char* t = getenv("TMPDIR");
  if (t && *t && DirectoryExists(t)) return WithSlash(t);
  return "/tmp/";
}

bool StdinIsTerminal() { return isatty(0) == 1; }
bool StdoutIsTerminal() { return isatty(1) == 1; }

}  // namespace platform

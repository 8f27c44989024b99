// Runs one script-level test case: build/bin/ombrel --batch on <case>.omb in
// a fresh working folder (with --events <case>.events when that file
// exists), then compares the messages printed with <case>.out
// and the files written with those in <case>.expect/. See README.md.
//
//   script_runner <folder>/<case>.omb
//
// Environment: OMBREL_BIN (the folder with ombrel and its data). The case runs
// with OMBREL_HOME=OMBREL_BIN unless OMBREL_HOME is set already.
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kTimeoutSeconds = 120;

bool ReadFile(const std::string& path, std::string* out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::ostringstream s;
  s << f.rdbuf();
  *out = s.str();
  return true;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t lf = text.find('\n', start);
    if (lf == std::string::npos) lf = text.size();
    lines.push_back(text.substr(start, lf - start));
    start = lf + 1;
  }
  return lines;
}

bool IsDirectory(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> ListFiles(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  return names;
}

bool CopyFile(const std::string& from, const std::string& to) {
  std::string data;
  if (!ReadFile(from, &data)) return false;
  std::ofstream f(to, std::ios::binary);
  f << data;
  return static_cast<bool>(f);
}

// Copies a folder's files (and sub-folders) into another.
bool CopyTree(const std::string& from, const std::string& to) {
  for (const std::string& n : ListFiles(from)) {
    const std::string a = from + "/" + n, b = to + "/" + n;
    if (IsDirectory(a)) {
      mkdir(b.c_str(), 0755);
      if (!CopyTree(a, b)) return false;
    } else if (!CopyFile(a, b)) {
      return false;
    }
  }
  return true;
}

void RemoveTree(const std::string& path) {
  if (IsDirectory(path)) {
    for (const std::string& n : ListFiles(path)) RemoveTree(path + "/" + n);
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

struct Expectation {
  std::vector<std::string> lines;   // "#~" lines kept with their marker
  int exit_status = 0;
  std::vector<std::string> args;    // extra command-line words after the script
  bool stdin_mode = false;          // feed the script on standard input instead
  std::vector<std::string> absent;  // files that must not exist afterwards
};

void ParseExpectation(const std::string& text, Expectation* e) {
  for (const std::string& line : SplitLines(text)) {
    if (line.rfind("#~", 0) == 0) {
      e->lines.push_back(line);
    } else if (line.rfind("#=", 0) == 0) {
      e->lines.push_back(line.substr(line.size() > 2 && line[2] == ' ' ? 3 : 2));
    } else if (line.rfind("#", 0) == 0) {
      std::istringstream s(line.substr(1));
      std::string key;
      s >> key;
      if (key == "exit") {
        s >> e->exit_status;
      } else if (key == "args") {
        for (std::string w; s >> w;) e->args.push_back(w);
      } else if (key == "stdin") {
        e->stdin_mode = true;
      } else if (key == "nofile") {
        for (std::string w; s >> w;) e->absent.push_back(w);
      }
      // Any other "#" line is a comment of the case's author.
    } else {
      e->lines.push_back(line);
    }
  }
}

bool LineMatches(const std::string& expected, const std::string& actual) {
  if (expected.rfind("#~", 0) == 0) {
    std::string pattern = expected.substr(expected.size() > 2 && expected[2] == ' ' ? 3 : 2);
    try {
      return std::regex_match(actual, std::regex(pattern));
    } catch (const std::regex_error&) {
      return false;
    }
  }
  return expected == actual;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: script_runner <folder>/<case>.omb\n");
    return 2;
  }
  const std::string script = argv[1];
  const size_t slash = script.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : script.substr(0, slash);
  const std::string file = slash == std::string::npos ? script : script.substr(slash + 1);
  const std::string name = file.substr(0, file.rfind('.'));
  const std::string base = folder + "/" + name;

  const char* bin = getenv("OMBREL_BIN");
  if (!bin || !*bin) {
    fprintf(stderr, "OMBREL_BIN is not set\n");
    return 2;
  }
  std::string expected_text;
  const bool have_out = ReadFile(base + ".out", &expected_text);
  Expectation expect;
  ParseExpectation(expected_text, &expect);

  const char* tmp = getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/ombrel-script-XXXXXX";
  std::vector<char> tbuf(templ.begin(), templ.end());
  tbuf.push_back('\0');
  if (!mkdtemp(tbuf.data())) {
    perror("mkdtemp");
    return 2;
  }
  const std::string work = tbuf.data();
  // <case>.events: the map window's scripted events, given with --events.
  std::string events_text;
  const bool have_events = ReadFile(base + ".events", &events_text);
  if (have_events) {
    std::ofstream ev(work + "/" + name + ".events", std::ios::binary);
    ev << events_text;
  }
  if (!CopyFile(script, work + "/" + file) ||
      (IsDirectory(base + ".in") && !CopyTree(base + ".in", work))) {
    fprintf(stderr, "cannot copy the case into %s\n", work.c_str());
    return 2;
  }

  int out_pipe[2];
  if (pipe(out_pipe) != 0) {
    perror("pipe");
    return 2;
  }
  const std::string program = std::string(bin) + "/ombrel";
  const std::string err_file = work + "/.stderr";
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(work.c_str()) != 0) _exit(127);
    setenv("OMBREL_HOME", bin, 0);
    dup2(out_pipe[1], 1);
    close(out_pipe[0]);
    close(out_pipe[1]);
    FILE* err = fopen(err_file.c_str(), "w");
    if (err) dup2(fileno(err), 2);
    std::vector<std::string> words = {program, "--batch"};
    if (have_events) {
      words.push_back("--events");
      words.push_back(name + ".events");
    }
    if (expect.stdin_mode) {
      FILE* in = fopen(file.c_str(), "r");
      if (!in) _exit(127);
      dup2(fileno(in), 0);
    } else {
      words.push_back(file);
      for (const std::string& a : expect.args) words.push_back(a);
      FILE* in = fopen("/dev/null", "r");
      if (in) dup2(fileno(in), 0);
    }
    std::vector<char*> av;
    for (std::string& w : words) av.push_back(w.data());
    av.push_back(nullptr);
    execv(program.c_str(), av.data());
    _exit(127);
  }
  close(out_pipe[1]);
  std::string output;
  char buf[4096];
  const time_t deadline = time(nullptr) + kTimeoutSeconds;
  bool timed_out = false;
  for (;;) {
    pollfd p{out_pipe[0], POLLIN, 0};
    const int r = poll(&p, 1, 1000);
    if (r > 0) {
      const ssize_t n = read(out_pipe[0], buf, sizeof buf);
      if (n <= 0) break;
      output.append(buf, static_cast<size_t>(n));
    } else if (r < 0 && errno != EINTR) {
      break;
    }
    if (time(nullptr) > deadline) {
      kill(pid, SIGKILL);
      timed_out = true;
      break;
    }
  }
  close(out_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);

  bool ok = true;
  if (timed_out) {
    printf("FAIL: ombrel did not end within %d s\n", kTimeoutSeconds);
    ok = false;
  }
  int exit_status = -1;
  if (WIFEXITED(status)) {
    exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    printf("FAIL: ombrel ended by signal %d\n", WTERMSIG(status));
    ok = false;
  }
  if (!have_out) {
    printf("FAIL: no %s.out; the output was:\n%s# exit %d\n", base.c_str(), output.c_str(), exit_status);
    return 1;
  }
  if (ok && exit_status != expect.exit_status) {
    printf("FAIL: exit status %d, expected %d\n", exit_status, expect.exit_status);
    ok = false;
  }
  const std::vector<std::string> actual = SplitLines(output);
  const size_t n = std::max(actual.size(), expect.lines.size());
  for (size_t i = 0; i < n; ++i) {
    const bool have_e = i < expect.lines.size(), have_a = i < actual.size();
    if (have_e && have_a && LineMatches(expect.lines[i], actual[i])) continue;
    printf("FAIL: line %zu differs\n  expected: %s\n  actual:   %s\n", i + 1,
           have_e ? expect.lines[i].c_str() : "(nothing)", have_a ? actual[i].c_str() : "(nothing)");
    ok = false;
    break;
  }
  if (IsDirectory(base + ".expect")) {
    for (const std::string& f : ListFiles(base + ".expect")) {
      std::string want, got;
      ReadFile(base + ".expect/" + f, &want);
      if (!ReadFile(work + "/" + f, &got)) {
        printf("FAIL: file %s was not written\n", f.c_str());
        ok = false;
      } else if (want != got) {
        printf("FAIL: file %s differs from %s.expect/%s\n", f.c_str(), base.c_str(), f.c_str());
        ok = false;
      }
    }
  }
  for (const std::string& f : expect.absent) {
    struct stat st{};
    if (stat((work + "/" + f).c_str(), &st) == 0) {
      printf("FAIL: file %s exists but should not\n", f.c_str());
      ok = false;
    }
  }
  if (!ok) {
    printf("---- output of the run:\n%s", output.c_str());
    std::string err;
    if (ReadFile(err_file, &err) && !err.empty()) printf("---- standard error:\n%s", err.c_str());
    printf("---- working folder kept: %s\n", work.c_str());
    return 1;
  }
  RemoveTree(work);
  return 0;
}

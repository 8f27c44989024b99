// Settings and environment commands.
//
// Set reads its keyword, one optional "=", and takes the rest of the line as
// the data; each keyword is one branch below that posts its own message and
// error level. Directories are normalised as at start-up and must exist.
// Shell waits for its command; Help starts the browser detached (through an
// intermediate child, so no zombie is left behind), without a shell so that a
// browser that cannot be started is reported, and falls back to a short text
// in the console when no browser command is known.
#include "interp/cmd_settings.h"

#include <spawn.h>
#include <strings.h>
#include <sys/sysinfo.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "interp/handlers.h"
#include "interp/messages.h"
#include "interp/startup.h"
#include "interp/words.h"
#include "lib/geodesy/constants.h"
#include "lib/geodesy/release.h"
#include "platform/files.h"
#include "platform/memcheck.h"
#include "platform/safe_output.h"
#include "platform/terminal.h"
#include "platform/workspace.h"

extern char** environ;

namespace interp {
namespace {

constexpr int kSetDataMax = 1025;

bool Same(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// The data of "[=] data" after the keyword: one "=" (or one comma) and the
// blanks around it are skipped; the data is the rest of the line without its
// line end and trailing blanks, at most dataMax characters.
std::string DataAfter(const char* p, std::size_t dataMax) {
  if (!p) return {};
  while (*p == ' ' || *p == '\t') ++p;
  if (*p == '=' || *p == ',') ++p;
  while (*p == ' ' || *p == '\t') ++p;
  const char* end = p;
  while (*end && *end != '\n' && *end != '\r') ++end;
  while (end > p && (end[-1] == ' ' || end[-1] == '\t')) --end;
  std::size_t n = static_cast<std::size_t>(end - p);
  if (n > dataMax) n = dataMax;
  return std::string(p, n);
}

// The keyword and the data of "keyword [=] data". The keyword is a NextWord
// word: quotes may hold it, and a longer one is cut at 259 characters with
// the rest of the line dropped. An unquoted keyword also ends at an "="
// written against it ("Set script.echo=0").
void KeywordAndData(const char* args, std::string* keyword, std::string* data, std::size_t dataMax) {
  keyword->clear();
  data->clear();
  if (!args) return;
  const char* start = args;
  while (*start == ' ' || *start == '\t') ++start;
  const bool quoted = *start == '"' || *start == '\'';
  char word[WORD_SIZE];
  const char* rest = NextWord(args, word, sizeof word);
  const char* equals = quoted ? nullptr : std::strchr(word, '=');
  if (equals) {
    // The word is the line's own characters up to its end: the data starts
    // right after the "=" in the line.
    keyword->assign(word, static_cast<std::size_t>(equals - word));
    *data = DataAfter(start + (equals - word) + 1, dataMax);
    return;
  }
  keyword->assign(word);
  *data = DataAfter(rest, dataMax);
}

void Fail(GlobalBlock& g, int error, int level, const char* format, const std::string& arg) {
  PostText(level, format, arg.c_str());
  g.error_level = error;
}

// Sets a directory from Set's data; false (message posted) when it does not exist.
bool SetDirectory(GlobalBlock& g, const std::string& data, std::string* out) {
  const std::string dir = NormaliseDirectory(data, g.dirs.home, g.dirs.script);
  if (!platform::DirectoryExists(dir.c_str())) {
    Fail(g, EL_NOT_APPLICABLE, 4, "Non-existing directory %s", dir);
    return false;
  }
  *out = dir;
  return true;
}

void SetWorkspaceSize(GlobalBlock& g, const std::string& data) {
  const int size = std::atoi(data.c_str());
  if (size < 1024) {
    Fail(g, EL_NOT_APPLICABLE, 4, "Invalid size %s", data);
    return;
  }
  void* memory = platform::CheckedAlloc(static_cast<std::size_t>(size));
  if (!memory) {
    Fail(g, EL_NOT_APPLICABLE, 4, "Memory not available %s", data);
    return;
  }
  // Everything held in the old workspace goes with it.
  if (g.workspace_memory) platform::CheckedFree(g.workspace_memory);
  g.workspace_memory = memory;
  g.settings.work_space_size = size;
  platform::WorkspaceInit(&g.workspace, memory, size);
}

void SetCurrentDirectory(GlobalBlock& g, const std::string& data) {
  std::string target;
  if (data.empty()) target = g.script.last_directory;
  else if (Same(data, "veltrum.directory")) target = g.dirs.veltrum;
  else if (Same(data, "temporary.directory")) target = g.dirs.temp;
  else if (Same(data, "data.directory") || Same(data, "project.directory")) target = g.dirs.data;
  else if (Same(data, "script.directory")) target = g.dirs.script;
  else target = NormaliseDirectory(data, g.dirs.home, g.dirs.script);
  if (target.empty() || chdir(target.c_str()) != 0) {
    Fail(g, EL_NOT_APPLICABLE, 4, "Non-existing directory? %s", target);
    return;
  }
  PostText(2, "current directory: %s", platform::CurrentDirectory().c_str());
}

// Runs a command line through /bin/sh and waits for it; -1 when it could not start.
int RunShell(const std::string& command) {
  std::fflush(stdout);
  std::fflush(stderr);
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

// The words of a browser command line, split at blanks outside quotes (the
// quotes are dropped). *open_last is true when the line does not end in a
// blank, so that what is appended to it joins its last word.
std::vector<std::string> CommandWords(const std::string& line, bool* open_last) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (char c : line) {
    if (quote) {
      if (c == quote) quote = 0;
      else word += c;
    } else if (c == '"' || c == '\'') {
      quote = c;
      inWord = true;
    } else if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  *open_last = inWord;
  if (inWord) words.push_back(word);
  return words;
}

// Starts a program without waiting for it: an intermediate child starts it
// in a session of its own with posix_spawnp and ends at once, so the program
// is never left with a zombie; its exit status tells whether the start
// worked. False when the program could not be started.
bool StartDetached(const std::vector<std::string>& words) {
  if (words.empty() || words[0].empty()) return false;
  std::vector<char*> argv;
  for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    setsid();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    _exit(rc == 0 ? 0 : 1);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Bytes from a /proc/meminfo line ("MemAvailable:   123 kB"); -1 when absent.
long long MemInfo(const char* field) {
  std::FILE* f = std::fopen("/proc/meminfo", "r");
  if (!f) return -1;
  char line[256];
  long long value = -1;
  const std::size_t n = std::strlen(field);
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
      value = std::atoll(line + n + 1) * 1024;
      break;
    }
  }
  std::fclose(f);
  return value;
}

void ReportMemory(GlobalBlock& g) {
  platform::Workspace& ws = g.workspace;
  const auto addr = [](const void* p) { return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)); };
  const uint8_t* peek = static_cast<const uint8_t*>(platform::WorkspacePeek(&ws, 0));
  const long long used = ws.base ? ((peek ? peek : ws.end) - ws.base) : 0;
  const long long available = ws.base ? (ws.end - ws.top - 8) : 0;
  PostText(2, "Workspace base: %8llu", addr(ws.base));
  PostText(2, "HWM:  %8llu, max use:   %8llu", addr(ws.high_water),
           ws.base ? static_cast<unsigned long long>(ws.high_water - ws.base) : 0ULL);
  PostText(2, "Used: %8lld, Available: %8lld", used, available < 0 ? 0 : available);
  struct sysinfo si {};
  long long total = 0, load = 0, virtualTotal = 0, virtualFree = 0;
  if (sysinfo(&si) == 0) {
    const long long unit = si.mem_unit ? si.mem_unit : 1;
    total = static_cast<long long>(si.totalram) * unit;
    long long avail = MemInfo("MemAvailable");
    if (avail < 0) avail = static_cast<long long>(si.freeram) * unit;
    load = total > 0 ? (100 * (total - avail)) / total : 0;
    virtualTotal = (static_cast<long long>(si.totalram) + static_cast<long long>(si.totalswap)) * unit;
    virtualFree = (static_cast<long long>(si.freeram) + static_cast<long long>(si.freeswap)) * unit;
  }
  PostText(2, "Total memory: %lld, percent in use: %lld", total, load);
  PostText(2, "Virtual memory: %lld, free: %lld", virtualTotal, virtualFree);
}

void ReportRunEnvironment(GlobalBlock& g) {
  std::string cwd = platform::CurrentDirectory().substr(0, 1024);
  if (!cwd.empty() && cwd.back() == '/') cwd.pop_back();  // the root directory
  PostText(2, "directories...:");
  PostText(2, "exePath:     %s", g.dirs.program.c_str());
  PostText(2, "geoHome:     %s", g.dirs.home.c_str());
  PostText(2, "tempPath:    %s", g.dirs.temp.c_str());
  PostText(2, "dataPath:    %s", g.dirs.data.c_str());
  PostText(2, "scriptPath:  %s", g.dirs.script.c_str());
  PostText(2, "veltrumPath: %s", g.dirs.veltrum.c_str());
  PostText(2, "(current):   %s/", cwd.c_str());
  PostText(2, "files...:");
  PostText(2, "oinFn:       %s", g.dirs.ini_file.c_str());
  PostText(2, "memchk file: %s/%s", cwd.c_str(), "ombrel.mem");
}

}  // namespace

void CmdSet(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostLines(2,
              "keyword [=] data\nkeywords:\n ellipsoid.number, ellipsoid.semiaxes,\n gravity.parameters, "
              "angle.sexagesimal,\n boundary.fuzz, boundary.indicator,\n coordinate.resolution,\n script.echo, "
              "script.pace, time.scale,\n data.directory, script.directory,\n project.directory, "
              "veltrum.directory,\n temporary.directory, current.directory,\n work.space.size.\n");
    return;
  }
  std::string keyword, data;
  KeywordAndData(args, &keyword, &data, kSetDataMax);
  const bool mayBeEmpty =
      Same(keyword, "project.directory") || Same(keyword, "script.directory") || Same(keyword, "current.directory");
  if (data.empty() && !mayBeEmpty) {
    PostText(4, "Missing data/parameter string");
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  const char* d = data.c_str();

  if (Same(keyword, "ellipsoid.number")) {
    const int number = std::atoi(d);
    if (number < 1 || number > 34 || !SelectEllipsoid(g, number)) {
      PostText(4, "Invalid ellipsoid number: %d", number);
      g.error_level = EL_NOT_APPLICABLE;
      return;
    }
    PostText(2, "Ellipsoid changed to %s", g.startup->ellipsoid_name.c_str());
  } else if (Same(keyword, "ellipsoid.semiaxes")) {
    char w1[WORD_SIZE], w2[WORD_SIZE];
    const char* rest = NextWord(d, w1, sizeof w1);
    NextWord(rest, w2, sizeof w2);
    // A missing value is "not given" and shows as such in the refusal.
    const double a = w1[0] ? std::atof(w1) : geodesy::NOVALUE;
    const double b = w2[0] ? std::atof(w2) : geodesy::NOVALUE;
    const bool ok = w1[0] && w2[0] && a >= 100.0 && a <= 1.428e8 && b >= 100.0 && b <= 1.428e8;
    if (!ok || !SelectEllipsoid(g, 0, a, b)) {
      // A value not given shows as the no-value double in its short form,
      // not as the 309 digits %f would give it.
      char ta[64], tb[64];
      auto show = [](double v, char* text, std::size_t size) {
        if (v == geodesy::NOVALUE)
          std::snprintf(text, size, "-1.79769313486231e308");
        else
          std::snprintf(text, size, "%f", v);
      };
      show(a, ta, sizeof ta);
      show(b, tb, sizeof tb);
      PostText(4, "Invalid ellipsoid semi-axis value(s) %s %s", ta, tb);
      g.error_level = EL_NOT_APPLICABLE;
      return;
    }
    PostText(2, "User ellipsoid: %lf %lf", a, b);
  } else if (Same(keyword, "gravity.parameters")) {
    char w1[WORD_SIZE], w2[WORD_SIZE];
    const char* rest = NextWord(d, w1, sizeof w1);
    NextWord(rest, w2, sizeof w2);
    if (w1[0]) g.settings.gravity_gm = std::atof(w1);
    if (w2[0]) g.settings.gravity_j2 = std::atof(w2);
  } else if (Same(keyword, "boundary.fuzz")) {
    const double metres = std::atof(d);
    if (!(metres >= 0.0 && metres <= 10.0)) {
      PostText(4, "Fuzz range error (0m < %g < 10m)", metres);
      g.error_level = EL_NOT_APPLICABLE;
      return;
    }
    g.fuzz_angle = FuzzAngle(g, metres);
    g.settings.boundary_fuzz = g.fuzz_angle;
  } else if (Same(keyword, "boundary.indicator")) {
    g.settings.boundary_indicator = std::atoi(d);
  } else if (Same(keyword, "coordinate.resolution")) {
    g.settings.coordinate_resolution = std::atoi(d);
  } else if (Same(keyword, "angle.sexagesimal")) {
    g.settings.angle_sexagesimal = std::atoi(d);
  } else if (Same(keyword, "script.echo")) {
    g.settings.script_echo = std::atoi(d);
  } else if (Same(keyword, "script.pace")) {
    g.settings.script_pace = std::atoi(d);
  } else if (Same(keyword, "time.scale")) {
    g.settings.time_scale = std::atoi(d);
  } else if (Same(keyword, "data.directory")) {
    if (SetDirectory(g, data, &g.dirs.data)) PostText(2, "data directory: %s", g.dirs.data.c_str());
  } else if (Same(keyword, "script.directory")) {
    if (data.empty()) {
      if (g.script.last_directory.empty()) return;
      g.dirs.script = NormaliseDirectory(g.script.last_directory, g.dirs.home, g.dirs.script);
      PostText(2, "script directory: %s", g.dirs.script.c_str());
    } else if (SetDirectory(g, data, &g.dirs.script)) {
      PostText(2, "script directory: %s", g.dirs.script.c_str());
    }
  } else if (Same(keyword, "project.directory")) {
    std::string dir;
    if (data.empty()) {
      if (g.script.last_directory.empty()) return;
      dir = NormaliseDirectory(g.script.last_directory, g.dirs.home, g.dirs.script);
    } else if (!SetDirectory(g, data, &dir)) {
      return;
    }
    g.dirs.data = dir;
    g.dirs.script = dir;
    PostText(2, "project (data/script) directory: %s", dir.c_str());
  } else if (Same(keyword, "veltrum.directory")) {
    if (SetDirectory(g, data, &g.dirs.veltrum)) PostText(2, "veltrum directory: %s", g.dirs.veltrum.c_str());
  } else if (Same(keyword, "temporary.directory")) {
    SetDirectory(g, data, &g.dirs.temp);
  } else if (Same(keyword, "current.directory")) {
    SetCurrentDirectory(g, data);
  } else if (Same(keyword, "work.space.size")) {
    SetWorkspaceSize(g, data);
  } else {
    PostText(4, "Unrecognized keyword %s", keyword.c_str());
    g.error_level = EL_FAILURE;
  }
}

void CmdSetEnv(GlobalBlock& g, const char* args, int, int) {
  (void)g;
  if (IsUsageRequest(args)) {
    PostLines(2, "variableName [=] value\n");
    return;
  }
  std::string name, rest;
  KeywordAndData(args, &name, &rest, LINE_SIZE);
  // setenv refuses a name with "=" in it (a quoted one may hold one).
  if (name.empty() || name.find('=') != std::string::npos) return;
  char value[1024];
  NextWord(rest.c_str(), value, sizeof value);
  if (value[0] == '\0') unsetenv(name.c_str());
  else setenv(name.c_str(), value, 1);
}

void CmdShell(GlobalBlock&, const char* args, int, int) {
  if (!args) return;
  std::string command = args;
  while (!command.empty() && (command.back() == '\n' || command.back() == '\r')) command.pop_back();
  if (command.find_first_not_of(" \t") == std::string::npos) return;
  // The command's own output appears in the terminal's colours, not in the
  // colour of the console's input line.
  if (platform::StdoutIsTerminal()) platform::TerminalWrite(platform::kTerminalReset);
  const bool wasRaw = platform::TerminalSuspend();
  RunShell(command);
  platform::TerminalResume(wasRaw);
}

void CmdHelp(GlobalBlock& g, const char*, int, int) {
  if (g.dirs.browser_command.empty()) {
    PostLines(2,
              "For a list of all valid commands, use <tab> and <shift-tab>.\nTo obtain help for any one command, "
              "enter \"command-name ?\"\nFor comprehensive Ombrel help notes please view the HTML\ndocument "
              "\"ombrel.html\" using your Internet Web browser.\n");
    PostText(2, "The help page is %s", g.dirs.help_document.c_str());
    return;
  }
  // The help viewer beside the program wins over the browser; it is given
  // the page as a file URL.
  std::vector<std::string> words;
  const std::string viewer = g.dirs.program + "ob1.exe";
  if (platform::FileExists(viewer.c_str())) {
    words = {viewer, "file://" + g.dirs.help_document};
  } else {
    // The page is appended to the command as it stands: a new word after a
    // final blank, else the end of its last word.
    bool openLast = false;
    words = CommandWords(g.dirs.browser_command, &openLast);
    if (openLast) words.back() += g.dirs.help_document;
    else words.push_back(g.dirs.help_document);
  }
  if (!StartDetached(words)) {
    PostText(4, "Browser process startup failed?");
    g.error_level = EL_FAILURE;
  }
}

void CmdVersion(GlobalBlock& g, const char*, int, int) {
  const StartupValues* v = g.startup;
  const std::string toolchain = v && !v->toolchain.empty() ? v->toolchain : "(unknown)";
  const geodesy::ReleaseInfo lib = geodesy::QueryLibraryRelease();
  PostText(2, "%s (as-of %s UTC, tc:%s) \n", g.program_name.c_str(), g.build_date.c_str(), toolchain.c_str());
  PostText(2, "Quorra Library:\n");
  PostText(2, " version: QUORVRSN_H%02d\n", 33);
  PostText(2, " release (quorra.h): %d\n", 360);
  PostText(2, " release (linked):     %d\n", lib.release);
  PostText(2, " library build date:   %s\n", lib.build_stamp);
  if (v) {
    const std::string name = v->system_name + " " + v->system_release;
    if (v->compatibility_layer)
      PostText(2, "Running under Linux/wine simulating %s (%d.%d.%d:%d)\n", name.c_str(), v->platform_id, v->major,
               v->minor, v->build);
    else
      PostText(2, "Running under %s (%d.%d.%d:%d)\n", name.c_str(), v->platform_id, v->major, v->minor, v->build);
  }
  PostText(2, "Tracing %s, memory checking %s\n", "disabled",
           platform::TheMemoryCheck().file ? "enabled" : "disabled");
}

void CmdReport(GlobalBlock& g, const char* args, int variant, int mode) {
  if (variant == REPORT_MEMORY) ReportMemory(g);
  else if (variant == REPORT_RUN_ENVIRONMENT) ReportRunEnvironment(g);
  else CmdNotImplemented(g, args, variant, mode);
}

void CmdWriteTextFile(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "file \"text...\"");
    return;
  }
  char name[1024];
  const char* rest = NextWord(args, name, sizeof name);
  if (name[0] == '\0') {
    PostText(4, "No text file name given");
    g.error_level = EL_FAILURE;
    return;
  }
  ExpandDirectoryAlias(g, name, sizeof name);
  char built[FILE_NAME_SIZE];
  BuildFileName(name, g.dirs.data.c_str(), ".txt", built);
  // Written beside the target and renamed over it when complete: a failed
  // write keeps an older file of that name as it was.
  platform::SafeOutput out;
  std::FILE* f = platform::SafeOpen(out, built) == platform::kSafeOk ? platform::SafeStream(out) : nullptr;
  if (!f) {
    PostText(4, "Unable to open (%s) for writing", built);
    g.error_level = EL_FAILURE;
    return;
  }
  std::string text = rest ? rest : "";
  const std::size_t lineEnd = text.find_first_of("\r\n");
  if (lineEnd != std::string::npos) text.erase(lineEnd);
  if (text.size() > 1024) text.resize(1024);
  if (text.empty()) {
    // The file is made, empty, as the command was asked to.
    if (platform::SafeCommit(out) != platform::kSafeOk) {
      PostText(4, "File (%s) write error", built);
      g.error_level = EL_NOT_APPLICABLE;
      return;
    }
    PostText(4, "No text given");
    g.error_level = EL_EMPTY;
    return;
  }
  if (text.size() < 2 || text.compare(text.size() - 2, 2, "\\n") != 0) text += "\\n";
  // Each piece before a backslash-n pair is one line.
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t pair = text.find("\\n", start);
    if (pair == std::string::npos) break;
    std::fwrite(text.data() + start, 1, pair - start, f);
    std::fputc('\n', f);
    start = pair + 2;
  }
  if (std::ferror(f) || platform::SafeCommit(out) != platform::kSafeOk) {
    PostText(4, "File (%s) write error", built);
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
}

}  // namespace interp

// Fuzzes the command-line reader: NextWord over the whole input, the file-name
// splitter and builder, the script-line reader and label search on the input
// as a script file, and ExecuteCommandLine on each of its lines.
//
// Only the interpreter's own commands (and unknown words, which look for a
// script in an empty scratch folder) are executed: a line that names any other
// command anywhere in it is skipped, so the fuzzer never runs a shell, writes
// files or erases objects.
#include <stdlib.h>
#include <strings.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "interp/dispatcher.h"
#include "interp/global.h"
#include "interp/handlers.h"
#include "interp/messages.h"
#include "interp/scripts.h"
#include "interp/words.h"

using namespace interp;

namespace {

void Discard(int, const char*) {}

std::string g_scratch;  // the scratch folder, removed when the fuzzer ends

void RemoveScratch() {
  if (g_scratch.empty()) return;
  unlink((g_scratch + "fuzz.omb").c_str());
  rmdir(g_scratch.c_str());
}

GlobalBlock& Block() {
  static GlobalBlock* g = [] {
    auto* b = new GlobalBlock();
    char templ[] = "/tmp/ombrel-fuzz-XXXXXX";
    const char* dir = mkdtemp(templ);
    const std::string d = std::string(dir ? dir : "/tmp") + "/";
    if (dir) {
      g_scratch = d;
      atexit(RemoveScratch);
    }
    b->dirs.data = b->dirs.script = b->dirs.temp = b->dirs.veltrum = d;
    b->sink = Discard;
    b->loop_running = true;
    b->batch = true;
    ExecuteCommandLine(*b, nullptr);
    return b;
  }();
  return *g;
}

bool SafeHandler(CommandHandler h) {
  return h == CmdDuration || h == CmdEcho || h == CmdGoTo || h == CmdIf || h == CmdQuit ||
         h == CmdZzz || h == CmdCall || h == CmdReturn || h == CmdShowMap || h == CmdShowPanel;
}

// True when every word of the line is harmless to run.
bool SafeLine(const char* line) {
  char word[WORD_SIZE];
  const char* p = line;
  do {
    p = NextWord(p, word, sizeof word);
    const int i = LookUpCommand(word);
    if (i < COMMAND_COUNT && !SafeHandler(kCommandTable[i].handler)) return false;
    if (strchr(word, '/') || strchr(word, '\\') || word[0] == '.' || strchr(word, ':')) return false;
  } while (p);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  GlobalBlock& g = Block();
  osb = &g;
  std::string text(reinterpret_cast<const char*>(data), size);

  // Words of the whole text, with a few buffer sizes.
  for (int bufsize : {0, 1, 2, 16, WORD_SIZE}) {
    char word[WORD_SIZE];
    const char* p = text.c_str();
    int guard = 0;
    while ((p = NextWord(p, word, bufsize)) && ++guard < 100000) {}
  }
  char built[FILE_NAME_SIZE];
  const size_t half = text.size() / 2;
  std::string a = text.substr(0, half), b = text.substr(half);
  BuildFileName(a.c_str(), b.c_str(), ".qbo", built);
  BuildFileName(b.c_str(), a.c_str(), a.c_str(), built);
  char alias[WORD_SIZE];
  snprintf(alias, sizeof alias, "%s", text.c_str());
  ExpandDirectoryAlias(g, alias, sizeof alias);

  // The text as a script file: lines, continuations and labels.
  const std::string path = g.dirs.temp + "fuzz.omb";
  if (FILE* f = fopen(path.c_str(), "wb")) {
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
    if (FILE* s = fopen(path.c_str(), "r")) {
      char line[SCRIPT_LINE_SIZE];
      bool cut = false;
      int n = 0;
      while (ReadScriptLine(s, line, &cut) && ++n < 2000) {
        if (n == 3) FindLabel(s, line);
      }
      fclose(s);
    }
  }

  // Each line through the dispatcher.
  size_t start = 0;
  while (start <= text.size()) {
    size_t lf = text.find('\n', start);
    if (lf == std::string::npos) lf = text.size();
    std::string line = text.substr(start, lf - start);
    if (SafeLine(line.c_str())) ExecuteCommandLine(g, line.c_str());
    DeliverMessages(g);
    start = lf + 1;
  }
  StopScript(g);
  g.quit_requested = false;
  g.panel = TextPanel();
  g.ring.queue.clear();
  return 0;
}

// Boxes end up on standard error unless a hook takes them. The hook is how the
// window code shows real boxes and how tests observe ReportError.
#include "platform/report.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

static BoxHook g_box_hook = nullptr;

void SetBoxHook(BoxHook hook) { g_box_hook = hook; }

void MessageBox(const char* title, const char* text, BoxKind kind) {
  if (g_box_hook && g_box_hook(title, text, kind)) return;
  fflush(stdout);
  fprintf(stderr, "%s: %s\n", title ? title : PROGRAM_NAME, text ? text : "");
  fflush(stderr);
}

void Beep() {
  if (isatty(2) == 1) {
    fputc('\a', stderr);
    fflush(stderr);
  }
}

void ModuleName(const char* file, char* out, int size) {
  if (size < 1) return;
  out[0] = '\0';
  if (!file) return;
  const char* base = file;
  for (const char* p = file; *p; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  const char* dot = strrchr(base, '.');
  int n = dot ? static_cast<int>(dot - base) : static_cast<int>(strlen(base));
  if (n > size - 1) n = size - 1;
  memcpy(out, base, static_cast<size_t>(n));
  out[n] = '\0';
}

void ReportError(const char* text, int line, const char* module) {
  char name[128];
  ModuleName(module, name, sizeof name);
  char title[256];
  snprintf(title, sizeof title, "%s error:%s(%d)", PROGRAM_NAME, name, line);
  Beep();
  MessageBox(title, text, BoxKind::Error);
}

void AssertionFailed(const char* module, int line, const char* expression) {
  char name[128];
  ModuleName(module, name, sizeof name);
  char body[1024];
  snprintf(body, sizeof body, "%s (%d) assertion (%s) failed", name, line, expression ? expression : "");
  Beep();
  MessageBox(PROGRAM_NAME, body, BoxKind::Stop);
  fflush(stdout);
  _exit(1);
}

}  // namespace platform

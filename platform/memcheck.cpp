// The check file is the whole record of heap use: CheckLeaks does not keep a
// table during the run, it reads the file back, sorts the events by address
// and then by event number, and expects them to come in allocation/release
// pairs.
#include "platform/memcheck.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/report.h"

namespace platform {

MemoryCheck& TheMemoryCheck() {
  static MemoryCheck check;
  return check;
}

bool OpenMemoryCheck(const char* path, const char* first_line) {
  MemoryCheck& mc = TheMemoryCheck();
  if (mc.file) fclose(mc.file);
  mc.file = fopen(path, "w");
  mc.count = 0;
  mc.complete = false;
  // A check file that cannot be created (a directory of that name, a file
  // that may not be written) turns checking off for the run: nothing is
  // logged and nothing is read back at the end, so whatever happens to lie
  // under that name is never taken for this run's log.
  mc.path.clear();
  if (!mc.file) return false;
  mc.path = path;
  if (first_line) fputs(first_line, mc.file);
  return true;
}

void CloseMemoryCheck() {
  MemoryCheck& mc = TheMemoryCheck();
  if (!mc.file) return;
  // A log that lost lines (a full disk) cannot be paired up: it is not
  // checked rather than taken for a leak or a broken invariant.
  const bool written = !ferror(mc.file);
  mc.complete = fclose(mc.file) == 0 && written;
  mc.file = nullptr;
}

void* CheckedAlloc(size_t size) {
  if (size == 0) ReportError("0-size memory allocation request detected");
  void* block = malloc(size ? size : 1);
  if (!block) return nullptr;
  MemoryCheck& mc = TheMemoryCheck();
  ++mc.count;
  if (mc.file) fprintf(mc.file, "%8p %4d %zu\n", block, 2 * mc.count, size);
  return block;
}

void CheckedFree(void* block) {
  if (!block) return;  // nothing was handed out, so nothing is logged
  MemoryCheck& mc = TheMemoryCheck();
  ++mc.count;
  // Logged before the release: the address must not be used once freed.
  if (mc.file) fprintf(mc.file, "%p %4d\n", block, 2 * mc.count + 1);
  free(block);
}

namespace {
struct Event {
  unsigned long long address;
  long event;
};
}  // namespace

void CheckLeaks() {
  MemoryCheck& mc = TheMemoryCheck();
  if (mc.count <= 0 || mc.path.empty() || !mc.complete) return;
  FILE* f = fopen(mc.path.c_str(), "r");
  if (!f) return;
  std::vector<Event> events;
  try {
    events.resize(static_cast<size_t>(mc.count));
  } catch (...) {
    fclose(f);
    ReportError("No memory for memory allocation check?");
    return;
  }
  char line[1026];
  int32_t i = 0;
  while (fgets(line, sizeof line, f)) {
    size_t len = strlen(line);
    // A line longer than the buffer: its rest is not a line of its own.
    if (len == sizeof line - 1 && line[len - 1] != '\n') {
      int c;
      while ((c = fgetc(f)) != EOF && c != '\n') {}
    }
    if (line[0] == ';') continue;
    char* p = line;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\n' || *p == '\0') continue;
    if (i >= mc.count) {
      fclose(f);
      AssertionFailed(__FILE__, __LINE__, "i < osb->memchkCount");
    }
    char* rest = nullptr;
    events[static_cast<size_t>(i)].address = strtoull(p, &rest, 16);
    events[static_cast<size_t>(i)].event = strtol(rest, nullptr, 10);
    ++i;
  }
  fclose(f);
  if (i != mc.count) AssertionFailed(__FILE__, __LINE__, "i == osb->memchkCount");
  std::sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
    return a.address != b.address ? a.address < b.address : a.event < b.event;
  });
  bool matched = events.size() % 2 == 0;
  for (size_t k = 0; matched && k + 1 < events.size(); k += 2) {
    const Event& a = events[k];
    const Event& b = events[k + 1];
    // An allocation (even) followed by its release (odd) of the same address.
    matched = a.address == b.address && a.event < b.event && a.event % 2 == 0 && b.event % 2 == 1;
  }
  if (!matched) ReportError("Possible memory leak or \n improper release detected");
}

}  // namespace platform

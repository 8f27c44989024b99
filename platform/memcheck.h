// Heap blocks with memory checking.
//
// Every CheckedAlloc and CheckedFree is counted, and while the check file is
// open each event is logged as one line: "<address> <event>" plus the size for
// an allocation. Event numbers are 2 * count for allocations (even) and
// 2 * count + 1 for releases (odd), so they are unique and increase with time.
// At the end of the run the file is closed and CheckLeaks reads it back,
// pairs the events by address and shows the error box
// "Possible memory leak or \n improper release detected" when a block was
// not released (or released twice). Lines that begin with ";" are comments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

struct MemoryCheck {
  FILE* file = nullptr;    // open from start-up until the end of the run
  std::string path;        // the check file, read back by CheckLeaks
  int32_t count = 0;       // logged allocation and release events (memchkCount)
  bool complete = false;   // the log was closed with every line written
};

// The process's one memory check record.
MemoryCheck& TheMemoryCheck();

// Creates the check file and writes its first line; false (checking off) when
// it cannot be created.
bool OpenMemoryCheck(const char* path, const char* first_line);
void CloseMemoryCheck();

void* CheckedAlloc(size_t size);
void CheckedFree(void* block);

// Run once after CloseMemoryCheck; does nothing when checking was off or the
// log could not be written whole.
void CheckLeaks();

}  // namespace platform

// Workspace: a bump-allocated arena for short-lived scratch memory, and the
// type of the output arena an object file is built in.
//
// Four pointers: base <= top <= end, and the high-water mark (the highest top
// ever reached, or asked for by a peek, since set-up or the last reset).
// Chunks are rounded up to multiples of 8 bytes and carry no header, so they
// are 8-byte aligned whenever base is. An allocation that would end exactly at
// end fails: the last byte is never handed out. A negative count takes
// nothing and returns the current top.
//
// Typical use: WorkspaceMark guard(ws); take chunks; the guard puts the top
// back on every path out of the scope.
#pragma once

#include <cstdint>

namespace platform {

struct Workspace {
  uint8_t* base = nullptr;
  uint8_t* top = nullptr;
  uint8_t* end = nullptr;
  uint8_t* high_water = nullptr;
};

void WorkspaceInit(Workspace* arena, void* base, int64_t size);
// A chunk of n bytes rounded up to 8, or nullptr when it does not fit.
void* WorkspaceAlloc(Workspace* arena, int32_t n);
// The address WorkspaceAlloc would return, without moving the top; it still
// raises the high-water mark. n = 0 gives the top, or nullptr when full.
void* WorkspacePeek(Workspace* arena, int32_t n);
void* WorkspaceResetHighWater(Workspace* arena);
void WorkspaceSetTop(Workspace* arena, void* mark);

// Notes the top on construction and restores it on destruction.
struct WorkspaceMark {
  explicit WorkspaceMark(Workspace* a) : arena(a), mark(a ? a->top : nullptr) {}
  ~WorkspaceMark() {
    if (arena) WorkspaceSetTop(arena, mark);
  }
  WorkspaceMark(const WorkspaceMark&) = delete;
  WorkspaceMark& operator=(const WorkspaceMark&) = delete;
  Workspace* arena;
  uint8_t* mark;
};

}  // namespace platform

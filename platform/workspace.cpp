// The arena is four pointers; allocation is one bounds check and a pointer
// bump. Sizes are compared as byte counts (end - top) rather than by forming a
// pointer past the end, so a huge request cannot overflow the address.
#include "platform/workspace.h"

namespace platform {

void WorkspaceInit(Workspace* arena, void* base, int64_t size) {
  uint8_t* b = static_cast<uint8_t*>(base);
  arena->base = b;
  arena->top = b;
  arena->high_water = b;
  arena->end = b ? b + (size > 0 ? size : 0) : b;
}

// n rounded up to a multiple of 8 for n >= 0, 0 for n < 0:
// (n + |n| + 14) / 16 * 8, done in 64 bits so n near 2^31 cannot overflow.
static int64_t ChunkSize(int32_t n) {
  int64_t v = n;
  return (v + (v < 0 ? -v : v) + 14) / 16 * 8;
}

// Steps shared by alloc and peek: the fit test and the high-water mark.
static uint8_t* Reserve(Workspace* arena, int32_t n, uint8_t** new_top) {
  if (!arena || !arena->base) return nullptr;
  const int64_t chunk = ChunkSize(n);
  if (chunk >= arena->end - arena->top) return nullptr;  // would end at or past end
  uint8_t* t = arena->top + chunk;
  if (t > arena->high_water) arena->high_water = t;
  *new_top = t;
  return arena->top;
}

void* WorkspaceAlloc(Workspace* arena, int32_t n) {
  uint8_t* new_top = nullptr;
  uint8_t* old_top = Reserve(arena, n, &new_top);
  if (old_top) arena->top = new_top;
  return old_top;
}

void* WorkspacePeek(Workspace* arena, int32_t n) {
  uint8_t* new_top = nullptr;
  return Reserve(arena, n, &new_top);
}

void* WorkspaceResetHighWater(Workspace* arena) {
  arena->high_water = arena->base;
  return arena->base;
}

void WorkspaceSetTop(Workspace* arena, void* mark) {
  uint8_t* m = static_cast<uint8_t*>(mark);
  // A mark from another arena (or none) would corrupt every later chunk.
  if (m && m >= arena->base && m <= arena->end) arena->top = m;
}

}  // namespace platform

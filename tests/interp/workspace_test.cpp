// Workspace rounding, the "ends exactly at the end" rule, peeks and the
// high-water mark, and the scope guard.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/workspace.h"

using namespace platform;

namespace {

struct Arena {
  alignas(8) uint8_t memory[64];
  Workspace ws;
  Arena() { WorkspaceInit(&ws, memory, sizeof memory); }
};

TEST(Workspace, OneByteTakesEightAndTheLastByteIsNeverHandedOut) {
  Arena a;
  EXPECT_EQ(WorkspaceAlloc(&a.ws, 1), a.memory);
  EXPECT_EQ(a.ws.top, a.memory + 8);
  EXPECT_EQ(WorkspaceAlloc(&a.ws, 56), nullptr);  // would end exactly at the end
  EXPECT_EQ(a.ws.top, a.memory + 8);               // a failure changes nothing
  EXPECT_EQ(WorkspaceAlloc(&a.ws, 48), a.memory + 8);
  EXPECT_EQ(a.ws.top, a.memory + 56);
  EXPECT_EQ(WorkspaceAlloc(&a.ws, 8), nullptr);
  EXPECT_EQ(WorkspaceAlloc(&a.ws, 7), nullptr);
}

TEST(Workspace, RoundingToMultiplesOfEight) {
  for (int n : {0, 1, 7, 8, 9, 15, 16, 17, 40}) {
    Arena a;
    WorkspaceAlloc(&a.ws, n);
    EXPECT_EQ(a.ws.top - a.ws.base, (n + 7) / 8 * 8) << n;
  }
}

TEST(Workspace, NegativeCountReturnsTheTopWithoutMoving) {
  Arena a;
  WorkspaceAlloc(&a.ws, 16);
  EXPECT_EQ(WorkspaceAlloc(&a.ws, -5), a.memory + 16);
  EXPECT_EQ(WorkspaceAlloc(&a.ws, INT32_MIN), a.memory + 16);
  EXPECT_EQ(a.ws.top, a.memory + 16);
}

TEST(Workspace, HugeCountsFailWithoutOverflow) {
  Arena a;
  EXPECT_EQ(WorkspaceAlloc(&a.ws, INT32_MAX), nullptr);
  EXPECT_EQ(WorkspacePeek(&a.ws, INT32_MAX), nullptr);
  EXPECT_EQ(a.ws.high_water, a.ws.base);
}

TEST(Workspace, PeekRaisesTheHighWaterMarkOnly) {
  Arena a;
  EXPECT_EQ(WorkspacePeek(&a.ws, 40), a.memory);
  EXPECT_EQ(a.ws.top, a.memory);
  EXPECT_EQ(a.ws.high_water, a.memory + 40);
  EXPECT_EQ(WorkspacePeek(&a.ws, 0), a.memory);
  WorkspaceAlloc(&a.ws, 8);
  EXPECT_EQ(a.ws.high_water, a.memory + 40);  // the mark only rises
  EXPECT_EQ(WorkspaceResetHighWater(&a.ws), a.memory);
  EXPECT_EQ(a.ws.high_water, a.memory);
}

TEST(Workspace, PeekOfZeroOnAFullArenaFails) {
  alignas(8) uint8_t memory[16];
  Workspace ws;
  WorkspaceInit(&ws, memory, 16);
  ASSERT_NE(WorkspaceAlloc(&ws, 8), nullptr);
  EXPECT_EQ(WorkspacePeek(&ws, 0), memory + 8);
  // Fill it to the end by hand: nothing more, not even zero bytes.
  ws.top = ws.end;
  EXPECT_EQ(WorkspacePeek(&ws, 0), nullptr);
  EXPECT_EQ(WorkspaceAlloc(&ws, 0), nullptr);
}

TEST(Workspace, SetTopReleasesAndTheGuardRestores) {
  Arena a;
  WorkspaceAlloc(&a.ws, 8);
  {
    WorkspaceMark mark(&a.ws);
    WorkspaceAlloc(&a.ws, 24);
    EXPECT_EQ(a.ws.top, a.memory + 32);
  }
  EXPECT_EQ(a.ws.top, a.memory + 8);
  EXPECT_EQ(a.ws.high_water, a.memory + 32);
  // A mark from elsewhere is refused rather than corrupting the arena.
  uint8_t other[8];
  WorkspaceSetTop(&a.ws, other);
  EXPECT_EQ(a.ws.top, a.memory + 8);
  WorkspaceSetTop(&a.ws, a.memory);
  EXPECT_EQ(a.ws.top, a.memory);
}

}  // namespace

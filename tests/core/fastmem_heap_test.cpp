// The runner checks the global count after every test; these check it between.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/fastmem_heap.h"
#include "dspfx/dspfx.h"

namespace {

bool aligned(const void* p) { return reinterpret_cast<uintptr_t>(p) % 16 == 0; }

TEST(FastmemHeap, BlocksAreAlignedCountTheirSlackAndOnlyTheyAreFreed) {
  const uint32_t base = fastmemGetAllocatedSize();
  std::vector<void*> blocks;
  uint32_t expected = base;
  for (uint32_t size = 0; size <= 64; ++size) {
    void* p = fastmemAlloc(size);
    ASSERT_TRUE(p && aligned(p)) << "size " << size;
    std::memset(p, 0xAB, size);  // every requested byte is usable (ASan checks)
    expected += size + 15;
    blocks.push_back(p);
  }
  EXPECT_EQ(fastmemGetAllocatedSize(), expected);
  // Null, foreign and interior pointers are not blocks: left alone.
  int local = 0;
  auto* inside = static_cast<char*>(blocks[40]) + 16;
  EXPECT_EQ(fastmemFree(nullptr) + fastmemFree(&local) + fastmemFree(inside), 0u);
  EXPECT_EQ(fastmemRealloc(nullptr, 100), nullptr);
  EXPECT_EQ(fastmemRealloc(&local, 100), &local);
  EXPECT_EQ(fastmemRealloc(inside, 8), inside);
  EXPECT_EQ(fastmemGetAllocatedSize(), expected);
  for (void* p : blocks) EXPECT_EQ(fastmemFree(p), 1u);
  EXPECT_EQ(fastmemFree(blocks[7]), 0u) << "a second free";
}

TEST(FastmemHeap, ReallocChangesTotalByTheDifferenceAndKeepsContents) {
  const uint32_t base = fastmemGetAllocatedSize();
  EXPECT_EQ(fastmemAlloc(UINT32_MAX), nullptr);
  auto* q = static_cast<uint8_t*>(fastmemAlloc(100));
  for (int i = 0; i < 100; ++i) q[i] = static_cast<uint8_t>(i);
  for (uint32_t size : {5000u, 10u}) {
    q = static_cast<uint8_t*>(fastmemRealloc(q, size));
    ASSERT_TRUE(q && aligned(q));
    EXPECT_EQ(fastmemGetAllocatedSize() - base, size + 15);
    for (uint32_t i = 0; i < std::min(size, 100u); ++i) ASSERT_EQ(q[i], i) << "byte " << i << " after " << size;
  }
  // An impossible size fails and the old block survives.
  EXPECT_EQ(fastmemRealloc(q, UINT32_MAX), nullptr);
  EXPECT_EQ(fastmemGetAllocatedSize() - base, 25u);
  EXPECT_EQ(fastmemFree(q), 1u);
}

TEST(FastmemHeap, FreesInAnyOrderKeepTheRestFindable) {
  dspfx::FastmemHeap heap;  // a private tracker, so the count is exact
  const int orders[3][5] = {{0, 1, 2, 3, 4}, {4, 3, 2, 1, 0}, {2, 0, 4, 1, 3}};
  for (const auto& order : orders) {
    void* blocks[5];
    for (auto& b : blocks) b = heap.allocate(32);
    uint32_t live = 5;
    for (int k : order) {
      EXPECT_EQ(heap.release(blocks[k]), 1u);
      --live;
      EXPECT_TRUE(heap.blockCount() == live && heap.allocatedSize() == live * 47u) << "after freeing " << k;
    }
  }
}

}  // namespace

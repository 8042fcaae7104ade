#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/fastmem_heap.h"
#include "dspfx/dspfx.h"

namespace {

TEST(FastmemHeap, BlocksAreAlignedAndCountTheirSlack) {
  const uint32_t base = fastmemGetAllocatedSize();
  std::vector<void*> blocks;
  uint32_t expected = base;
  for (uint32_t size = 0; size <= 64; ++size) {
    void* p = fastmemAlloc(size);
    ASSERT_NE(p, nullptr) << "size " << size;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << "size " << size;
    std::memset(p, 0xAB, size);  // every requested byte is usable (ASan checks)
    expected += size + 15;
    blocks.push_back(p);
  }
  EXPECT_EQ(fastmemGetAllocatedSize(), expected);
  for (void* p : blocks) EXPECT_EQ(fastmemFree(p), 1u);
  EXPECT_EQ(fastmemFree(blocks[7]), 0u) << "a second free";
  EXPECT_EQ(fastmemGetAllocatedSize(), base);
}

TEST(FastmemHeap, UnknownPointersAreLeftAlone) {
  const uint32_t base = fastmemGetAllocatedSize();
  int local = 0;
  EXPECT_EQ(fastmemFree(nullptr), 0u);
  EXPECT_EQ(fastmemFree(&local), 0u);
  EXPECT_EQ(fastmemRealloc(nullptr, 100), nullptr);
  EXPECT_EQ(fastmemRealloc(&local, 100), &local);
  // An address inside a tracked block is not the block.
  auto* p = static_cast<char*>(fastmemAlloc(64));
  EXPECT_EQ(fastmemFree(p + 16), 0u);
  EXPECT_EQ(fastmemRealloc(p + 16, 8), p + 16);
  EXPECT_EQ(fastmemFree(p), 1u);
  EXPECT_EQ(fastmemGetAllocatedSize(), base);
}

TEST(FastmemHeap, ReallocChangesTotalByTheDifferenceAndKeepsContents) {
  const uint32_t base = fastmemGetAllocatedSize();
  EXPECT_EQ(fastmemAlloc(UINT32_MAX), nullptr);
  auto* p = static_cast<uint8_t*>(fastmemAlloc(100));
  for (int i = 0; i < 100; ++i) p[i] = static_cast<uint8_t>(i);
  auto* q = static_cast<uint8_t*>(fastmemRealloc(p, 5000));
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(q) % 16, 0u);
  EXPECT_EQ(fastmemGetAllocatedSize() - base, 5015u);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(q[i], i) << "byte " << i;
  q = static_cast<uint8_t*>(fastmemRealloc(q, 10));
  EXPECT_EQ(fastmemGetAllocatedSize() - base, 25u);
  for (int i = 0; i < 10; ++i) ASSERT_EQ(q[i], i) << "byte " << i;
  // An impossible size fails and the old block survives.
  EXPECT_EQ(fastmemRealloc(q, UINT32_MAX), nullptr);
  EXPECT_EQ(fastmemGetAllocatedSize() - base, 25u);
  EXPECT_EQ(fastmemFree(q), 1u);
  EXPECT_EQ(fastmemGetAllocatedSize(), base);
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
      EXPECT_EQ(heap.blockCount(), live);
      EXPECT_EQ(heap.allocatedSize(), live * 47u);
    }
  }
}

}  // namespace

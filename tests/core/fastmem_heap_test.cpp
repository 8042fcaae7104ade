#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/fastmem_heap.h"
#include "dspfx/dspfx.h"

namespace {

TEST(FastmemHeap, EveryBlockIsAlignedAndCountsItsSlack) {
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
  EXPECT_EQ(fastmemGetAllocatedSize(), base);
}

TEST(FastmemHeap, TotalsAndDoubleFree) {
  const uint32_t base = fastmemGetAllocatedSize();
  void* a = fastmemAlloc(100);
  void* b = fastmemAlloc(200);
  EXPECT_EQ(fastmemGetAllocatedSize() - base, 330u);
  EXPECT_EQ(fastmemFree(a), 1u);
  EXPECT_EQ(fastmemFree(a), 0u);
  EXPECT_EQ(fastmemGetAllocatedSize() - base, 215u);
  EXPECT_EQ(fastmemFree(b), 1u);
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
  EXPECT_EQ(fastmemFree(q), 1u);
  EXPECT_EQ(fastmemGetAllocatedSize(), base);
}

TEST(FastmemHeap, FreesInAnyOrderKeepTheRestFindable) {
  dspfx::FastmemHeap heap;  // a private tracker, so the count is exact
  for (int victim = 0; victim < 3; ++victim) {
    void* blocks[5];
    for (auto& b : blocks) b = heap.allocate(32);
    const int order[3][5] = {{0, 1, 2, 3, 4}, {4, 3, 2, 1, 0}, {2, 0, 4, 1, 3}};
    uint32_t live = 5;
    for (int k : order[victim]) {
      EXPECT_EQ(heap.release(blocks[k]), 1u);
      --live;
      EXPECT_EQ(heap.blockCount(), live);
      EXPECT_EQ(heap.allocatedSize(), live * 47u);
    }
  }
}

TEST(FastmemHeap, ImpossibleSizesFailCleanly) {
  const uint32_t base = fastmemGetAllocatedSize();
  EXPECT_EQ(fastmemAlloc(UINT32_MAX), nullptr);
  void* p = fastmemAlloc(16);
  EXPECT_EQ(fastmemRealloc(p, UINT32_MAX), nullptr);
  EXPECT_EQ(fastmemGetAllocatedSize() - base, 31u);  // the old block survives
  EXPECT_EQ(fastmemFree(p), 1u);
  EXPECT_EQ(fastmemGetAllocatedSize(), base);
}

}  // namespace

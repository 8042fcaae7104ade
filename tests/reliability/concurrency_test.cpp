// Distinct objects may be created, used and destroyed on different threads
// at once. Four threads each run a whole host's workload through every
// family and a chain while the main thread allocates from fastmem and
// writes the processor switches. Under ThreadSanitizer (make test-tsan) any
// unguarded shared state shows up as a race; in every build the outputs
// must match the same work done on one thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "dspfx/dspfx.h"
#include "reliability/workload.h"

namespace {

using dspfx::reliability::runWorkload;
using dspfx::reliability::WorkloadResult;

constexpr uint32_t kThreads = 4;
constexpr uint32_t kBlocks = 200;

std::string scratch(uint32_t seed) {
  return testing::TempDir() + "dspfx_concurrency_" + std::to_string(getpid()) + "_" + std::to_string(seed) + ".wav";
}

void setSwitches(int32_t mmx, int32_t amd3dnow, int32_t sse) {
  dspEnableMmx(mmx);
  dspEnable3dnow(amd3dnow);
  dspEnableSse(sse);
}

// The main thread's share: blocks of many sizes allocated, written, grown
// and freed through the exports, and the switches written, until the
// workers are done. flip = false writes the scalar setting again and again
// (to a race detector a store is a store, whatever its value); flip = true
// changes the switches for real.
void hostLoop(const std::atomic<uint32_t>& running, bool flip) {
  std::vector<void*> blocks;
  uint32_t step = 0;
  while (running.load(std::memory_order_acquire) != 0) {
    const uint32_t size = 16 + (step * 2654435761u) % 20000;
    if (void* p = fastmemAlloc(size)) {
      std::memset(p, 0xA5, size);
      blocks.push_back(p);
    }
    if (blocks.size() > 32) {
      void* grown = fastmemRealloc(blocks.front(), size + 100);
      EXPECT_NE(grown, nullptr);
      EXPECT_EQ(fastmemFree(grown ? grown : blocks.front()), 1u);
      blocks.erase(blocks.begin());
    }
    EXPECT_GT(fastmemGetAllocatedSize(), 0u);
    if (flip) {
      setSwitches(step & 1, step & 2, step & 4);
    } else {
      setSwitches(0, 0, 0);
    }
    ++step;
    std::this_thread::yield();
  }
  for (void* p : blocks) EXPECT_EQ(fastmemFree(p), 1u);
  setSwitches(0, 0, 0);
}

std::vector<WorkloadResult> runConcurrently(bool flip) {
  std::vector<WorkloadResult> results(kThreads);
  std::atomic<uint32_t> running{kThreads};
  std::vector<std::thread> workers;
  for (uint32_t t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      results[t] = runWorkload(t, kBlocks, scratch(t));
      running.fetch_sub(1, std::memory_order_release);
    });
  }
  hostLoop(running, flip);
  for (auto& w : workers) w.join();
  return results;
}

TEST(Concurrency, FourHostsGiveTheirSingleThreadedResults) {
  setSwitches(0, 0, 0);
  const uint32_t before = fastmemGetAllocatedSize();
  std::vector<WorkloadResult> reference;
  for (uint32_t t = 0; t < kThreads; ++t) {
    reference.push_back(runWorkload(t, kBlocks, scratch(t)));
    ASSERT_EQ(reference[t].failures, 0u) << "seed " << t;
    ASSERT_EQ(reference[t].nonFinite, 0u) << "seed " << t;
    ASSERT_FALSE(reference[t].digests.empty());
  }
  // Different seeds really do different work.
  EXPECT_NE(reference[0].digests, reference[1].digests);

  // The switches stay scalar while outputs are compared: the SIMD forms
  // may round differently, so a real flip would change correct results.
  const std::vector<WorkloadResult> concurrent = runConcurrently(false);
  for (uint32_t t = 0; t < kThreads; ++t) {
    EXPECT_EQ(concurrent[t].failures, 0u) << "thread " << t;
    EXPECT_EQ(concurrent[t].digests, reference[t].digests) << "thread " << t << " differs from one thread alone";
  }
  EXPECT_EQ(fastmemGetAllocatedSize(), before);
}

TEST(Concurrency, SwitchesFlippedMidRunLeaveEveryOutputFinite) {
  // The forms change under the workers' feet: results may differ from the
  // scalar ones in the last bits, but every call succeeds and every float
  // written stays finite.
  const std::vector<WorkloadResult> flipped = runConcurrently(true);
  for (uint32_t t = 0; t < kThreads; ++t) {
    EXPECT_EQ(flipped[t].failures, 0u) << "thread " << t;
    EXPECT_EQ(flipped[t].nonFinite, 0u) << "thread " << t;
  }
}

}  // namespace

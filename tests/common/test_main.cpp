// Test entry point: every test must leave the allocation tracker where it
// found it. A test that leaks fails the run even when its assertions passed.
#include <gtest/gtest.h>

#include <cstdio>

#include "dspfx/dspfx.h"

namespace {

struct LeakListener : testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override { before = fastmemGetAllocatedSize(); }
  void OnTestEnd(const testing::TestInfo& info) override {
    const uint32_t after = fastmemGetAllocatedSize();
    if (after == before) return;
    std::fprintf(stderr, "LEAK in %s.%s: fastmem %u bytes before, %u after\n", info.test_suite_name(), info.name(),
                 before, after);
    leaked = true;
  }
  uint32_t before = 0;
  bool leaked = false;
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  auto* leaks = new LeakListener;
  testing::UnitTest::GetInstance()->listeners().Append(leaks);
  const int rc = RUN_ALL_TESTS();
  return (rc != 0 || leaks->leaked) ? 1 : 0;
}

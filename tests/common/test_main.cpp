// Test entry point: every test must leave the allocation tracker where it
// found it. A test that leaks fails the run even when its assertions passed.
#include <gtest/gtest.h>

#include <cstdio>

#include "dspfx/dspfx.h"

namespace {

class LeakListener : public testing::EmptyTestEventListener {
 public:
  void OnTestStart(const testing::TestInfo&) override { before_ = fastmemGetAllocatedSize(); }
  void OnTestEnd(const testing::TestInfo& info) override {
    const uint32_t after = fastmemGetAllocatedSize();
    if (after != before_) {
      std::fprintf(stderr, "LEAK in %s.%s: fastmem %u bytes before, %u after\n",
                   info.test_suite_name(), info.name(), before_, after);
      leaked = true;
    }
  }
  bool leaked = false;

 private:
  uint32_t before_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  auto* leaks = new LeakListener;
  testing::UnitTest::GetInstance()->listeners().Append(leaks);
  const int rc = RUN_ALL_TESTS();
  return (rc != 0 || leaks->leaked) ? 1 : 0;
}

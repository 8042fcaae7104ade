// Defects found by the API fuzzer in the rate-changing families, each kept
// as the shortest sequence of exports that showed it.
#include <gtest/gtest.h>

#include <vector>

#include "common/test_support.h"
#include "dspfx/dspfx.h"

namespace {

// A chain whose channel count is neither 1 nor 2 handles its blocks as mono;
// an upsampler set up by it once reported outChannels * 2 * frames bytes with
// the raw count, a wrapped 32-bit number far beyond the block it wrote.
TEST(RateRegression, HqupsInChainWithOddChannelCountReportsMonoBytes) {
  DspEffect* h = initHqupsBySrcsize(2509, 2, 1, 11025, 0.5f, 13, 18000, 1, 75, 120, 0, 1);
  ASSERT_NE(h, nullptr);
  DspChain* chain = dspCreate(3609, 0xFFFFFFFFu, 160683);
  ASSERT_NE(chain, nullptr);
  ASSERT_EQ(dspAdd(chain, h, 4), 1u);

  const uint32_t frames = 2840;
  std::vector<int16_t> in = dspfx::test::sinePcm(1000, 160683, frames, 1);
  const uint32_t dstFrames = getHqupsDstSize(h, frames);
  ASSERT_GT(dstFrames, 0u);
  dspfx::test::Guarded<int16_t> out(dstFrames, 0x1234);
  EXPECT_EQ(doHqups(h, in.data(), out.get(), frames * 2), dstFrames * 2);
  EXPECT_TRUE(out.intact());

  // The chain path agrees: mono in, mono out.
  std::vector<int16_t> chained(size_t{dspGetDstSize(chain, frames)} + 1);
  EXPECT_EQ(dspSend(chain, in.data(), chained.data(), frames * 2), dstFrames * 2);
  dspDestroy(chain);
}

}  // namespace

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/fft_frame.h"
#include "common/test_support.h"

namespace {

using dspfx::BlockSpectrumFrame;
using dspfx::SpectrumFrame;

TEST(SpectrumFrame, SetupRejections) {
  SpectrumFrame f;
  std::vector<float> out(8, 7.0f);
  EXPECT_EQ(f.magnitudesDb(out.data()), 0u);  // unusable before setup
  EXPECT_FALSE(f.setup(16, 64, 48, 120.0f));   // not a power of two
  EXPECT_FALSE(f.setup(16, 64, 65536, 120.0f));
  EXPECT_FALSE(f.setup(128, 64, 64, 120.0f));  // hop beyond the history
  EXPECT_FALSE(f.setup(16, 64, 64, NAN));
  EXPECT_FALSE(f.allocated);
  EXPECT_EQ(out[0], 7.0f);
}

TEST(SpectrumFrame, SmallerSizeKeepsArraysAndTables) {
  BlockSpectrumFrame big;
  ASSERT_TRUE(big.setup(576, 1344, 2048, 120.0f));
  std::vector<float> in(2048, 0.0f);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<float>(std::sin(0.05 * i) + 0.1 * std::cos(1.3 * i));
  big.analyse(in.data());
  const float* work = big.work;
  const float* history = big.history;
  ASSERT_TRUE(big.setup(576, 1000, 1024, 100.0f));
  EXPECT_EQ(big.work, work);
  EXPECT_EQ(big.history, history);
  EXPECT_EQ(big.bitReverseWork[0], 2048 / 4);  // tables kept
  big.analyse(in.data());

  BlockSpectrumFrame fresh;
  ASSERT_TRUE(fresh.setup(576, 1344, 1024, 100.0f));
  fresh.analyse(in.data());
  std::vector<float> a(512), b(512);
  EXPECT_EQ(big.magnitudesDb(a.data()), 512u);
  fresh.magnitudesDb(b.data());
  EXPECT_EQ(a, b);

  ASSERT_TRUE(big.setup(576, 1344, 4096, 100.0f));  // growth rebuilds
  EXPECT_EQ(big.bitReverseWork[0], 0);
}

TEST(SpectrumFrame, ShorterHistoryKeepsTheNewestSamples) {
  // After the history shrinks, the frame must see what a frame set up with
  // the short history and fed the same input sees: the newest samples.
  std::vector<float> input(36);
  for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<float>(std::sin(0.7 * i) + 0.01 * i);
  SpectrumFrame shrunk, fresh;
  ASSERT_TRUE(shrunk.setup(4, 32, 16, 120.0f) && fresh.setup(4, 16, 16, 120.0f));
  for (size_t at = 0; at < 32; at += 4) shrunk.analyse(input.data() + at);
  for (size_t at = 16; at < 32; at += 4) fresh.analyse(input.data() + at);
  ASSERT_TRUE(shrunk.setup(4, 16, 16, 120.0f));
  shrunk.analyse(input.data() + 32);
  fresh.analyse(input.data() + 32);
  for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(shrunk.work[i], fresh.work[i]) << "bin part " << i;
}

}  // namespace

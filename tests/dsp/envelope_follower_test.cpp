#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/envelope_follower.h"
#include "common/test_support.h"
#include "dspfx/dspfx.h"
#include "dsp/biquad_cascade.h"

namespace {

using dspfx::EnvelopeFollower;

void setUpLikeTheAnalyser(EnvelopeFollower& f, uint32_t capacity, float rate) {
  ASSERT_TRUE(f.setup(capacity, rate, 2, 33.0f, 1.0f, false, 1.0f));
}

// What the follower must give for a peak signal: the same smoother run
// over it, so the comparison can be exact.
std::vector<float> smoothed(std::vector<float> peak, float rate) {
  dspfx::ButterworthCascade s;
  s.setOrder(2, dspfx::kLowPass);
  s.design(rate, 33.0f);
  s.run(peak.data(), peak.data(), static_cast<uint32_t>(peak.size()));
  return peak;
}

TEST(EnvelopeFollower, PeakHoldsForOneMillisecondAtLeastOneSample) {
  // Truncated, but never below one sample.
  for (auto [rate, window] : {std::pair{44999.0f, 44u}, {500.0f, 1u}}) {
    EnvelopeFollower f;
    ASSERT_TRUE(f.setup(64, rate, 2, 33.0f, 1.0f, false, 1.0f));
    EXPECT_EQ(f.windowLength, window) << rate << " Hz";
  }
  EnvelopeFollower bad;
  EXPECT_FALSE(bad.setup(64, 44100.0f, 2, 30000.0f, 1.0f, false, 1.0f));  // cutoff above half the rate
  EXPECT_FALSE(bad.setup(64, NAN, 2, 33.0f, 1.0f, false, 1.0f));
  EXPECT_FALSE(bad.setup(64, 44100.0f, 0, 33.0f, 1.0f, false, 1.0f));
  std::vector<float> x(8, 1.0f);
  EXPECT_EQ(bad.process(x.data(), x.data(), 8), 0);  // never set up

  // An impulse holds its magnitude for exactly the 44-sample window.
  EnvelopeFollower one;
  setUpLikeTheAnalyser(one, 256, 44100.0f);
  std::vector<float> in(256, 0.0f), out(256), peak(256, 0.0f);
  in[100] = -0.5f;
  ASSERT_EQ(one.process(in.data(), out.data(), 256), 1);
  for (uint32_t j = 100; j < 100 + 44; ++j) peak[j] = 0.5f;
  EXPECT_EQ(out, smoothed(peak, 44100.0f));
}

TEST(EnvelopeFollower, BlockSizesDoNotChangeTheResult) {
  std::vector<float> in = dspfx::test::noiseFloat(3000, 3);
  for (size_t i = 0; i < in.size(); ++i) in[i] *= static_cast<float>(std::fabs(std::sin(i * 0.004)));
  EnvelopeFollower whole;
  setUpLikeTheAnalyser(whole, 3000, 48000.0f);
  std::vector<float> expected(3000), got(3000);
  whole.process(in.data(), expected.data(), 3000);

  EnvelopeFollower pieces;
  setUpLikeTheAnalyser(pieces, 700, 48000.0f);
  size_t at = 0;
  for (uint32_t len : {1u, 47u, 48u, 700u, 13u, 700u, 491u, 700u, 300u}) {
    ASSERT_EQ(pieces.process(in.data() + at, got.data() + at, len), 1);
    at += len;
  }
  ASSERT_EQ(at, in.size());
  EXPECT_EQ(got, expected);
  EXPECT_EQ(pieces.process(in.data(), got.data(), 701), 0);  // above capacity
}

TEST(EnvAnalyze, SilenceAndConstantLevels) {
  DspEffect* h = initEnvAnalyze(4410, 2, 44100);
  ASSERT_NE(h, nullptr);
  std::vector<int16_t> pcm(2 * 4410);
  for (size_t i = 0; i < 4410; ++i) {
    pcm[2 * i] = static_cast<int16_t>(i % 2 ? 12000 : -12000);  // constant magnitude
    pcm[2 * i + 1] = 0;
  }
  dspfx::test::Guarded<float> out(2 * 4410, -1.0f);
  for (int block = 0; block < 10; ++block) ASSERT_EQ(doEnvAnalyze(h, pcm.data(), out.get(), 4 * 4410), 1u);
  EXPECT_TRUE(out.intact());
  // After a second the smoother has settled on the rectified level, within
  // one step of the truncated value.
  const float level = std::trunc(32767.0f * static_cast<float>(12000 * (1.0 / 32767.0)));
  EXPECT_NEAR(out.data[4409], level, 1.0f);
  EXPECT_EQ(out.data[4409], std::trunc(out.data[4409]));  // whole numbers
  for (size_t j = 4410; j < 2 * 4410; ++j) ASSERT_EQ(out.data[j], 0.0f) << "silent right channel at " << j;
  EXPECT_EQ(termEnvAnalyze(h), 1u);
}

TEST(EnvAnalyze, NullOutputStillAdvances) {
  DspEffect* a = initEnvAnalyze(256, 1, 48000);
  DspEffect* b = initEnvAnalyze(256, 1, 48000);
  ASSERT_TRUE(a && b);
  std::vector<int16_t> first(256), second(256);
  for (int i = 0; i < 256; ++i) {
    first[i] = static_cast<int16_t>(i == 255 ? 30000 : 300 * (i % 5));
    second[i] = static_cast<int16_t>(-40 * (i % 3));
  }
  std::vector<float> ignored(256), outA(256), outB(256);
  EXPECT_EQ(doEnvAnalyze(a, first.data(), nullptr, 512), 1u);
  EXPECT_EQ(doEnvAnalyze(b, first.data(), ignored.data(), 512), 1u);
  EXPECT_EQ(doEnvAnalyze(a, second.data(), outA.data(), 512), 1u);
  EXPECT_EQ(doEnvAnalyze(b, second.data(), outB.data(), 512), 1u);
  EXPECT_EQ(outA, outB);
  EXPECT_GT(outA[0], 0.0f);  // the loud last sample reaches into the second block
  EXPECT_EQ(termEnvAnalyze(a), 1u);
  EXPECT_EQ(termFft(b), 1u);
}

}  // namespace

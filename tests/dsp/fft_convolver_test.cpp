// Fast convolution against a plain sum in double.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/test_support.h"
#include "dsp/fft_convolver.h"

namespace {

using dspfx::FftConvolver;
using dspfx::test::noiseFloat;

// y[n] = sum h[k] x[n - k] with silence before x[0].
std::vector<double> directSum(const std::vector<float>& h, const std::vector<float>& x) {
  std::vector<double> y(x.size(), 0.0);
  for (size_t n = 0; n < x.size(); ++n) {
    for (size_t k = 0; k < h.size() && k <= n; ++k) y[n] += double{h[k]} * x[n - k];
  }
  return y;
}

// Rounding model: every stage on an output's way (log2 2P butterfly levels
// in each of the two transforms, the K spectral products summed, the
// unpacking, the gain) adds about one unit of float rounding of
// sum |h| x max |x|, the largest value an output can reach once the
// transforms' scaling is taken out. The transform errors spread over the
// whole frame rather than pile up on one sample, so this holds in practice
// (measured worst cases stay below half of it; a single-tap filter comes
// closest), while a tap out of place misses it by orders of magnitude.
double bound(const FftConvolver& c, const std::vector<float>& h, float peak) {
  double l1 = 0;
  for (float t : h) l1 += std::fabs(t);
  const double levels = std::log2(2.0 * c.partitionSize());
  return (2 * levels + c.partitionCount() + 2) * 0x1p-24 * l1 * peak;
}

TEST(FftConvolver, MatchesTheDirectSumForAnyTapCountAndBlockPattern) {
  for (uint32_t taps : {1u, 16u, 17u, 63u, 64u, 65u, 511u, 2047u}) {
    const std::vector<float> h = noiseFloat(taps, taps);
    const std::vector<float> x = noiseFloat(6000, 99 + taps);
    const std::vector<double> ref = directSum(h, x);
    for (uint32_t pattern : {1u, 3u, 64u, 700u}) {
      FftConvolver c;
      ASSERT_TRUE(c.prepare(taps));
      c.setTaps(h.data(), taps);
      std::vector<float> y(x.size());
      // Block lengths cycle around the pattern so blocks start at every
      // phase of the partition, in place (in == out) as well.
      size_t done = 0;
      for (uint32_t i = 0; done < x.size(); ++i) {
        const size_t n = std::min<size_t>(pattern + (i % 3) * (pattern / 2 + 1), x.size() - done);
        std::copy_n(x.begin() + done, n, y.begin() + done);
        c.process(y.data() + done, y.data() + done, static_cast<uint32_t>(n), 1.0f);
        done += n;
      }
      const double tol = bound(c, h, 1.0f);
      double worst = 0;
      for (size_t n = 0; n < x.size(); ++n) worst = std::max(worst, std::fabs(y[n] - ref[n]));
      EXPECT_LE(worst, tol) << taps << " taps, blocks around " << pattern;
      EXPECT_EQ(c.pastInput(0), x.back());
      EXPECT_EQ(c.pastInput(taps > 1 ? taps - 2 : 0), x[x.size() - (taps > 1 ? taps - 1 : 1)]);
    }
  }
}

TEST(FftConvolver, NewTapsAndAGivenHistoryApplyFromTheNextSample) {
  const uint32_t taps = 300;
  const std::vector<float> h1 = noiseFloat(taps, 1), h2 = noiseFloat(taps, 2);
  const std::vector<float> x = noiseFloat(4000, 3);
  FftConvolver c;
  ASSERT_TRUE(c.prepare(taps));
  c.setTaps(h1.data(), taps);
  std::vector<float> y(x.size());
  // New taps in the middle of a partition, then a history handed over as a
  // different object would: the output goes on as one filter would give it.
  c.process(x.data(), y.data(), 1234, 1.0f);
  c.setTaps(h2.data(), taps);
  c.process(x.data() + 1234, y.data() + 1234, 1000, 0.5f);
  FftConvolver d;
  ASSERT_TRUE(d.prepare(taps));
  d.setTaps(h2.data(), taps);
  std::vector<float> past(taps - 1);
  for (uint32_t k = 0; k < taps - 1; ++k) past[taps - 2 - k] = c.pastInput(k);
  d.setHistory(past.data(), taps - 1);
  d.process(x.data() + 2234, y.data() + 2234, 1766, 0.5f);

  const std::vector<double> ref1 = directSum(h1, x), ref2 = directSum(h2, x);
  const double tol = bound(c, h2, 1.0f);
  for (size_t n = 0; n < x.size(); ++n) {
    const double want = n < 1234 ? ref1[n] : 0.5 * ref2[n];
    ASSERT_NEAR(y[n], want, tol) << "at " << n;
  }
  EXPECT_FALSE(c.prepare(0));
  EXPECT_FALSE(c.prepare(32768));
  EXPECT_FALSE(c.allocated);
}

}  // namespace

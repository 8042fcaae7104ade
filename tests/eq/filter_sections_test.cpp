#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <random>
#include <thread>
#include <vector>

#include "dsp/complex_fft.h"
#include "eq/fir_band_filter.h"
#include "eq/resonator_bank.h"
#include "eq/resonator_section.h"
#include "eq_test_util.h"

namespace {

using namespace dspfx;
using namespace dspfx::test;

TEST(ComplexFft, MatchesNaiveDftForEverySize) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-1, 1);
  // 16 and 8 again after 1024: a smaller size rebuilds in the grown blocks.
  for (int32_t n : {1, 2, 4, 8, 16, 64, 1024, 16, 8}) {
    std::vector<float> re(n), im(n);
    for (int32_t i = 0; i < n; ++i) re[i] = u(rng), im[i] = u(rng);
    std::vector<std::complex<double>> expected(n);
    for (int32_t k = 0; k < n; ++k) {
      for (int32_t m = 0; m < n; ++m)
        expected[k] += std::complex<double>(re[m], im[m]) * std::polar(1.0, -2 * kPi * k * m / n) / double(n);
    }
    ASSERT_EQ(complexFft(n, re.data(), im.data()), 0);
    EXPECT_EQ(complexFftCachedSize(), n);
    for (int32_t k = 0; k < n; ++k) {
      // Float storage through log2(n) stages of unit-magnitude rotations.
      EXPECT_NEAR(re[k], expected[k].real(), 2e-6) << "n " << n << " bin " << k;
      EXPECT_NEAR(im[k], expected[k].imag(), 2e-6) << "n " << n << " bin " << k;
    }
  }
}

TEST(ComplexFft, ReleaseAndRefusal) {
  const int32_t n = 32;
  std::vector<float> re(n, 1.0f), im(n, 0.0f);
  EXPECT_EQ(complexFft(0, nullptr, nullptr), 0);
  EXPECT_EQ(complexFftCachedSize(), 0);
  ASSERT_EQ(complexFft(n, re.data(), im.data()), 0);  // rebuilt after the release
  EXPECT_EQ(complexFftCachedSize(), n);
  EXPECT_FLOAT_EQ(re[0], 1.0f);
  for (int32_t k = 1; k < n; ++k) EXPECT_NEAR(re[k], 0.0f, 1e-7) << k;

  // Sizes that are not powers of two would index past the arrays: refused.
  std::vector<float> three = {1, 2, 3};
  EXPECT_EQ(complexFft(3, three.data(), three.data()), 1);
  EXPECT_EQ(complexFft(-4, three.data(), three.data()), 1);
  EXPECT_EQ(three, (std::vector<float>{1, 2, 3}));
}

TEST(ComplexFft, DesignsOnSeveralThreadsAgreeWithOneThread) {
  auto design = [](int32_t n, int round) {
    std::vector<float> re(n), im(n, 0.0f);
    for (int32_t i = 0; i < n; ++i) re[i] = static_cast<float>((i * 37 + round) % 11) - 5.0f;
    complexFft(n, re.data(), im.data());
    return re;
  };
  std::vector<std::vector<float>> alone;
  for (int t = 0; t < 4; ++t) alone.push_back(design(64 << t, 0));
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  // Each thread keeps switching the shared tables to its own size.
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int r = 0; r < 1000; ++r) mismatches[t] += design(64 << t, 0) != alone[t];
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(mismatches[t], 0) << "size " << (64 << t);
}

TEST(ResonatorSection, StatedDesignAndMeasuredResponse) {
  ResonatorSection s;
  s.init(44100, GraphicEqBand{1000.0f, 6.0f, 0.9f, 0.99f});
  EXPECT_NEAR(sectionDb(s, 1000), 6.0, 1e-4);
  EXPECT_LT(sectionDb(s, 4000), 0.0);  // a peak, not a shelf

  const auto x = sineFloat(1000, 44100, 44100);
  std::vector<float> y(x.size());
  s.run(x.data(), y.data(), static_cast<uint32_t>(x.size()), false);
  // After 2000 samples the transient (pole radius 0.99) is below -80 dB.
  EXPECT_NEAR(toneLevelDb(y.data(), y.size(), 1000, 44100, 2000) - toneLevelDb(x.data(), x.size(), 1000, 44100, 2000),
              6.0, 0.01);

  // Only the shape moves: the gain in dB holds at the new frequency.
  s.design(2500.0f, 0.5f, 0.95f);
  EXPECT_FLOAT_EQ(s.linearGain, static_cast<float>(std::pow(10.0, 0.3)));
  EXPECT_NEAR(sectionDb(s, 2500), 6.0, 1e-4);
}

// The sections one after another over the block, each added to out with a
// float rounding: the plain form every faster grouping must reproduce.
void plainSum(std::vector<ResonatorSection>& s, const float* in, float* out, size_t n) {
  for (size_t k = 0; k < s.size(); ++k) {
    ResonatorSection& q = s[k];
    for (size_t i = 0; i < n; ++i) {
      const double w = in[i] + double{q.a1} * q.w1 + double{q.a2} * q.w2;
      const double y = q.effectiveGain * (q.b0 * w + double{q.b1} * q.w1 + double{q.b2} * q.w2);
      q.w2 = q.w1;
      q.w1 = static_cast<float>(w);
      out[i] = k == 0 ? static_cast<float>(y) : static_cast<float>(out[i] + y);
    }
  }
}

TEST(ResonatorBank, SumsSectionsInOrderInPlaceOrNotAndRefusesMisuse) {
  // The bank runs its sections in groups, two to a vector and two samples at
  // a time; none of that may change a bit of the section-by-section sum, for
  // odd and even counts, one group or several, odd block lengths.
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-0.5f, 0.5f), unit(0.0f, 1.0f);
  for (uint32_t count : {1u, 2u, 7u, 14u, 31u}) {
    SCOPED_TRACE(count);
    std::vector<GraphicEqBand> bands(count);
    for (GraphicEqBand& b : bands) {
      b = {30.0f + 15000.0f * unit(rng) * unit(rng), 12.0f * unit(rng) - 6.0f, 0.9f * unit(rng),
           0.9f + 0.099f * unit(rng)};
    }
    ResonatorBank a, b;
    ASSERT_TRUE(a.design(512, 44100, count, bands.data(), -2.0f));
    ASSERT_TRUE(b.design(512, 44100, count, bands.data(), -2.0f));
    std::vector<ResonatorSection> plain(count);
    for (uint32_t k = 0; k < count; ++k) plain[k].init(44100, bands[k]);
    std::vector<float> in(512), out(512), inplace(512), expected(512);
    for (size_t n : {size_t{512}, size_t{301}, size_t{1}}) {  // state carried across blocks
      for (float& v : in) v = u(rng);
      std::copy(in.begin(), in.end(), inplace.begin());
      a.process(in.data(), out.data(), static_cast<uint32_t>(n));
      b.process(inplace.data(), inplace.data(), static_cast<uint32_t>(n));
      plainSum(plain, in.data(), expected.data(), n);
      for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(out[i], expected[i] * a.masterGain) << "block of " << n << ", sample " << i;
        ASSERT_EQ(out[i], inplace[i]) << "block of " << n << ", sample " << i;
      }
    }
  }

  // A section whose b0 is not the designed 1 still has it multiplied in.
  const GraphicEqBand band{1000, 3, 0.5f, 0.98f};
  ResonatorSection odd[3];
  std::vector<ResonatorSection> plain(3);
  for (int k = 0; k < 3; ++k) {
    odd[k].init(44100, band);
    plain[k].init(44100, band);
  }
  odd[1].b0 = plain[1].b0 = 0.5f;
  std::vector<float> in(64), out(64), expected(64);
  for (float& v : in) v = u(rng);
  ResonatorSection::runSum(odd, 3, in.data(), out.data(), 64);
  plainSum(plain, in.data(), expected.data(), 64);
  EXPECT_EQ(out, expected);

  ResonatorBank a;
  ASSERT_TRUE(a.design(64, 44100, 1, &band, -2.0f));
  EXPECT_EQ(a.setBandGain(1, 1.0f), 0);
  EXPECT_EQ(a.remakeBand(1, 100.0f, 0.1f, 0.2f), 0);
  EXPECT_EQ(a.setBandGain(0, 1.0f), 1);

  ResonatorBank empty;
  ASSERT_TRUE(empty.design(16, 44100, 0, nullptr, 0.0f));
  std::vector<float> ones(16, 1.0f);
  empty.process(ones.data(), ones.data(), 16);
  EXPECT_EQ(ones, std::vector<float>(16, 0.0f));  // the sum of no bands
}

// Direct convolution with the filter's own taps, summed in the same order.
std::vector<float> convolve(const FirBandFilter& f, const std::vector<float>& x, size_t from, size_t to) {
  std::vector<float> y;
  for (size_t n = from; n < to; ++n) {
    double acc = 0;
    for (uint32_t j = 0; j < f.tapCount() && j <= n; ++j) acc += double{f.taps()[j]} * x[n - j];
    y.push_back(static_cast<float>(f.level() * acc));
  }
  return y;
}

TEST(FirBandFilter, MatchesDirectConvolutionForAnyBlockingAndKeepsItsLineOnGainChanges) {
  FirBandFilter f;
  ASSERT_TRUE(f.allocate(8));
  const float gains[8] = {3, -2, 0, 5, -6, 1, 0, 2};
  f.designAll(gains, -1.5f);
  const std::vector<float> x = noiseFloat(2000, 11);
  std::vector<float> y(x.size());
  // Block sizes below, at and across the internal chunk and the 8-tap unroll.
  size_t at = 0;
  for (size_t len : {1, 7, 8, 9, 255, 256, 257, 300}) {
    f.process(x.data() + at, y.data() + at, static_cast<uint32_t>(len));
    at += len;
  }
  EXPECT_EQ(std::vector<float>(y.begin(), y.begin() + at), convolve(f, x, 0, at));

  const float before = f.pastInput(5);
  EXPECT_TRUE(f.setBandGain(3, -12.0f));
  EXPECT_FALSE(f.setBandGain(8, 0.0f));
  EXPECT_FALSE(f.setBandGain(-1, 0.0f));
  EXPECT_EQ(f.pastInput(5), before);
  // The new taps act on the running input at once, in place as well.
  std::vector<float> tail(x.begin() + at, x.end());
  f.process(tail.data(), tail.data(), static_cast<uint32_t>(tail.size()));
  EXPECT_EQ(tail, convolve(f, x, at, x.size()));
}

}  // namespace

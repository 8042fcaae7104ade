// The exciter's band-split FIR and dry-path delay.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "common/test_support.h"
#include "dspfx/dspfx.h"
#include "rate/allpass_delay.h"
#include "rate/kaiser_fir.h"

namespace {

using dspfx::AllpassDelay;
using dspfx::KaiserFir;
using dspfx::test::kPi;

std::vector<float> noise(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (auto& x : v) x = d(gen);
  return v;
}

// Closed-form magnitude of the designed coefficients at f Hz.
double responseDb(const KaiserFir& f, double hz, double fs) {
  std::complex<double> h = 0;
  for (uint32_t m = 0; m <= f.order; ++m) h += double{f.coef[m]} * std::polar(1.0, -2 * kPi * hz / fs * m);
  return 20 * std::log10(std::abs(h));
}

TEST(KaiserFir, BetaRuleAndSeriesAtNamedPoints) {
  EXPECT_NEAR(KaiserFir::kaiserBeta(100), 10.06126, 1e-12);
  EXPECT_NEAR(KaiserFir::kaiserBeta(50), 0.1102 * 41.3, 1e-12);
  EXPECT_NEAR(KaiserFir::kaiserBeta(30), 0.5842 * std::pow(9.0, 0.4) + 0.07886 * 9, 1e-12);
  EXPECT_NEAR(KaiserFir::kaiserBeta(21), 0.0, 1e-12);
  EXPECT_EQ(KaiserFir::kaiserBeta(20.9), 0.0);
  // Near zero the series is exact to double rounding; further out it falls
  // short of the library Bessel function by exactly the terms from j = 20 on,
  // which pins the term count.
  EXPECT_EQ(KaiserFir::besselI0(0), 1.0);
  for (double z : {0.5, 1.0, 2.5}) EXPECT_NEAR(KaiserFir::besselI0(z) / std::cyl_bessel_i(0.0, z), 1.0, 1e-15) << z;
  for (double z : {10.0, 10.06126, 14.0}) {
    double tail = 0;
    for (int j = 20; j < 60; ++j) tail += std::exp(2 * (j * std::log(z / 2) - std::lgamma(j + 1.0)));
    const double shortfall = std::cyl_bessel_i(0.0, z) - KaiserFir::besselI0(z);
    EXPECT_NEAR(shortfall / tail, 1.0, 0.01) << "z=" << z;
  }
  KaiserFir f;
  ASSERT_TRUE(f.prepare(100, 16, KaiserFir::kHighpass));
  EXPECT_EQ(f.half, 8u);
  EXPECT_EQ(f.mask, 15u);
  EXPECT_DOUBLE_EQ(f.window[0], 1.0);
  EXPECT_NEAR(f.window[8], 1.0 / KaiserFir::besselI0(10.06126), 1e-18);
  EXPECT_NEAR(f.window[8], 3.3509609768e-4, 1e-13);
  EXPECT_NEAR(f.window[4], std::cyl_bessel_i(0.0, 10.06126 * std::sqrt(0.75)) / std::cyl_bessel_i(0.0, 10.06126), 1e-12);
}

TEST(KaiserFir, RefusesOrdersThatAreNotPowersOfTwo) {
  KaiserFir f;
  for (uint32_t n : {0u, 1u, 3u, 24u, 2048u}) EXPECT_FALSE(f.prepare(100, n, KaiserFir::kLowpass)) << n;
  EXPECT_FALSE(f.allocated);
  float x[4] = {1, 2, 3, 4};
  f.run(x, x, 4);  // unusable filter leaves the block alone
  EXPECT_EQ(x[3], 4.0f);
  ASSERT_TRUE(f.prepare(100, 2, KaiserFir::kLowpass));
  f.design(48000, 6000, 0);
  EXPECT_EQ(f.log2Order, 1u);
}

TEST(KaiserFir, SplitFilterIsSymmetricWithUnityGainAtNyquist) {
  KaiserFir f;
  ASSERT_TRUE(f.prepare(100, 16, KaiserFir::kHighpass));
  f.design(48000, 6000, 0);
  EXPECT_EQ(f.log2Order, 4u);
  EXPECT_FLOAT_EQ(f.cutoff, 18000.0f);  // low-pass prototype mirrored
  double alternating = 0;
  for (uint32_t m = 0; m <= 16; ++m) {
    EXPECT_EQ(f.coef[m], f.coef[16 - m]) << m;
    alternating += (m % 2 ? -1.0 : 1.0) * f.coef[m];
  }
  EXPECT_NEAR(alternating, 1.0, 1e-6);  // float coefficients, 17 of them
  // Rows of the table are the taps 1..N rotated by the row index.
  for (uint32_t i = 0; i < 16; ++i)
    for (uint32_t j = 0; j < 16; ++j) ASSERT_EQ(f.table[i * 16 + j], f.coef[1 + ((16 - i + j) & 15)]);

  KaiserFir lp;
  ASSERT_TRUE(lp.prepare(100, 32, KaiserFir::kLowpass));
  lp.design(48000, 4000, 0);
  double sum = 0;
  for (uint32_t m = 0; m <= 32; ++m) sum += lp.coef[m];
  EXPECT_NEAR(sum, 1.0, 1e-6);
  EXPECT_GT(lp.coef[16], lp.coef[15]);  // peak at the centre tap
}

TEST(KaiserFir, ImpulseResponseIsTheCoefficientsFromAnyHistoryPosition) {
  for (uint32_t order : {16u, 32u}) {
    KaiserFir f;
    ASSERT_TRUE(f.prepare(100, order, KaiserFir::kHighpass));
    f.design(48000, 9000, 0);
    // Leading zeros move the circular position through every row.
    for (uint32_t lead : {0u, 1u, 5u, order - 1}) {
      std::vector<float> x(lead + 2 * order + 1, 0.0f), y(x.size(), -9.0f);
      x[lead] = 1.0f;
      f.run(x.data(), y.data(), static_cast<uint32_t>(x.size()));
      for (uint32_t m = 0; m <= order; ++m) ASSERT_EQ(y[lead + m], f.coef[m]) << "order " << order << " lead " << lead;
      for (uint32_t m = order + 1; m < 2 * order; ++m) ASSERT_EQ(y[lead + m], 0.0f);
    }
  }
}

TEST(KaiserFir, MeasuredSineGainMatchesTheDesignedResponse) {
  constexpr double fs = 48000;
  KaiserFir f;
  ASSERT_TRUE(f.prepare(100, 32, KaiserFir::kHighpass));
  f.design(static_cast<float>(fs), 16000, 0);
  for (double hz : {2000.0, 12000.0, 15000.0, 17000.0, 20000.0, 23000.0}) {
    ASSERT_TRUE(f.prepare(100, 32, KaiserFir::kHighpass));
    f.design(static_cast<float>(fs), 16000, 0);
    const uint32_t n = 9600;
    std::vector<float> x(n), y(n);
    for (uint32_t i = 0; i < n; ++i) x[i] = static_cast<float>(0.5 * std::sin(2 * kPi * hz * i / fs));
    f.run(x.data(), y.data(), n);
    // After the 33-tap transient the output is a steady sine.
    const double gainDb = 20 * std::log10(dspfx::test::rms(y.data() + 64, n - 64) / dspfx::test::rms(x.data() + 64, n - 64));
    const double want = responseDb(f, hz, fs);
    EXPECT_NEAR(gainDb, want, want > -40 ? 0.01 : 0.5) << hz << " Hz";
  }
  EXPECT_LT(responseDb(f, 2000, fs), -60.0);
  EXPECT_NEAR(responseDb(f, 22000, fs), 0.0, 0.1);
}

TEST(KaiserFir, VariantsDifferOnlyBySummationOrder) {
  const auto x = noise(4000, 7);
  for (uint32_t order : {8u, 16u, 32u, 64u}) {
    KaiserFir a, b, c;
    for (KaiserFir* f : {&a, &b, &c}) {
      ASSERT_TRUE(f->prepare(100, order, KaiserFir::kHighpass));
      f->design(48000, 11000, 0);
    }
    std::vector<float> ya(x.size()), yb(x.size()), yc(x.size());
    a.runScalar(x.data(), ya.data(), 4000);
    b.runSse(x.data(), yb.data(), 1000);  // split blocks: the state carries over
    b.runSse(x.data() + 1000, yb.data() + 1000, 3000);
    c.run3dnow(x.data(), yc.data(), 4000);
    for (size_t i = 0; i < x.size(); ++i) {
      // A few float roundings over |taps| <= 1 and |x| <= 1.
      ASSERT_NEAR(yb[i], ya[i], 2e-6) << "order " << order << " at " << i;
      ASSERT_NEAR(yc[i], ya[i], 2e-6) << "order " << order << " at " << i;
    }
  }
  // The processor switches select the forms.
  KaiserFir s, t;
  ASSERT_TRUE(s.prepare(100, 16, KaiserFir::kHighpass));
  ASSERT_TRUE(t.prepare(100, 16, KaiserFir::kHighpass));
  s.design(48000, 11000, 0);
  t.design(48000, 11000, 0);
  std::vector<float> ys(4000), yt(4000);
  dspEnableSse(1);
  s.run(x.data(), ys.data(), 4000);
  dspEnableSse(0);
  t.runSse(x.data(), yt.data(), 4000);
  EXPECT_EQ(ys, yt);
}

TEST(KaiserFir, InPlaceAndRedesignKeepTheHistory) {
  const auto x = noise(600, 3);
  KaiserFir f, g;
  ASSERT_TRUE(f.prepare(100, 16, KaiserFir::kHighpass));
  ASSERT_TRUE(g.prepare(100, 16, KaiserFir::kHighpass));
  f.design(48000, 8000, 0);
  g.design(48000, 8000, 0);
  std::vector<float> y(x.size());
  std::vector<float> inPlace = x;
  f.run(x.data(), y.data(), 300);
  g.run(inPlace.data(), inPlace.data(), 300);
  for (size_t i = 0; i < 300; ++i) ASSERT_EQ(inPlace[i], y[i]);
  // A new cutoff mid-stream filters the old input with the new taps: the
  // first outputs after the redesign equal a direct convolution.
  f.design(48000, 14000, 0);
  f.run(x.data() + 300, y.data() + 300, 300);
  for (size_t t = 300; t < 320; ++t) {
    double ref = 0;
    for (uint32_t m = 0; m <= 16; ++m) ref += double{f.coef[m]} * x[t - m];
    ASSERT_NEAR(y[t], ref, 2e-6) << t;
  }
  // prepare clears the history.
  ASSERT_TRUE(f.prepare(100, 16, KaiserFir::kHighpass));
  f.design(48000, 14000, 0);
  float z[17] = {}, out[17];
  f.run(z, out, 17);
  for (float v : out) EXPECT_EQ(v, 0.0f);
}

TEST(AllpassDelay, GainZeroDelaysAcrossBlocks) {
  AllpassDelay d;
  ASSERT_TRUE(d.configure(8, 0));
  std::vector<float> x(40), y(40);
  for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(i + 1);
  d.run(x.data(), y.data(), 5);
  d.run(x.data() + 5, y.data() + 5, 35);
  for (size_t i = 0; i < y.size(); ++i) EXPECT_EQ(y[i], i < 8 ? 0.0f : x[i - 8]) << i;
  // Reconfiguring clears the line, also when it gets longer.
  ASSERT_TRUE(d.configure(16, 0));
  d.run(x.data(), y.data(), 20);
  for (size_t i = 0; i < 20; ++i) EXPECT_EQ(y[i], i < 16 ? 0.0f : x[i - 16]) << i;
  ASSERT_TRUE(d.configure(0, 0));
  d.run(x.data(), y.data(), 3);  // no line: a copy
  EXPECT_EQ(y[2], 3.0f);
}

TEST(AllpassDelay, NonZeroGainIsTheAllpassImpulseResponse) {
  AllpassDelay d;
  ASSERT_TRUE(d.configure(3, 0.5f));
  std::vector<float> x(10, 0.0f), y(10);
  x[0] = 1;
  d.run(x.data(), y.data(), 10);
  // (g + z^-3) / (1 + g z^-3) = g + (1 - g^2) z^-3 - g (1 - g^2) z^-6 + ...
  const float want[10] = {0.5f, 0, 0, 0.75f, 0, 0, -0.375f, 0, 0, 0.1875f};
  for (int i = 0; i < 10; ++i) EXPECT_FLOAT_EQ(y[i], want[i]) << i;
}

}  // namespace

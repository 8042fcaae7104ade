// The exciter's band-split FIR and dry-path delay.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "common/test_support.h"
#include "dspfx/dspfx.h"
#include "rate/allpass_delay.h"
#include "dsp/kaiser_fir.h"

namespace {

using dspfx::AllpassDelay;
using dspfx::KaiserFir;
using dspfx::test::kPi;

void make(KaiserFir& f, uint32_t order, float f1, int32_t kind = KaiserFir::kHighpass) {
  ASSERT_TRUE(f.prepare(100, order, kind));
  f.design(48000, f1, 0);
}

TEST(KaiserFir, BetaRuleSeriesAndSplitDesign) {
  EXPECT_NEAR(KaiserFir::kaiserBeta(100), 10.06126, 1e-12);
  EXPECT_NEAR(KaiserFir::kaiserBeta(30), 2.11662486114098, 1e-12);  // the middle branch
  EXPECT_EQ(KaiserFir::kaiserBeta(20.9), 0.0);
  // The series stops after 20 terms, ample for the betas in use.
  EXPECT_EQ(KaiserFir::besselI0(0), 1.0);
  for (double z : {0.5, 2.5, 10.06126}) {
    EXPECT_NEAR(KaiserFir::besselI0(z) / std::cyl_bessel_i(0.0, z), 1.0, 1e-11) << z;
  }

  // The high-pass is the low-pass mirrored: symmetric, unity gain at Nyquist.
  KaiserFir f;
  make(f, 16, 6000);
  EXPECT_NEAR(f.window[8], 3.3509609768e-4, 1e-13);  // 1 / I0(beta)
  double alternating = 0;
  for (uint32_t m = 0; m <= 16; ++m) {
    EXPECT_EQ(f.coef[m], f.coef[16 - m]) << m;
    alternating += (m % 2 ? -1.0 : 1.0) * f.coef[m];
  }
  EXPECT_NEAR(alternating, 1.0, 1e-6);
  // A new prepare forgets the design: the same arguments give the low-pass.
  make(f, 16, 6000, KaiserFir::kLowpass);
  double sum = 0;
  for (uint32_t m = 0; m <= 16; ++m) sum += f.coef[m];
  EXPECT_NEAR(sum, 1.0, 1e-6);

  KaiserFir bad;
  for (uint32_t n : {0u, 3u, 24u, 2048u}) EXPECT_FALSE(bad.prepare(100, n, KaiserFir::kLowpass)) << n;
  float x[2] = {1, 2};
  bad.run(x, x, 2);  // an unusable filter leaves the block alone
  EXPECT_EQ(x[1], 2.0f);
}

TEST(KaiserFir, DesignedResponseStopsTheLowBand) {
  KaiserFir f;
  make(f, 32, 16000);
  std::complex<double> h = 0;
  for (uint32_t m = 0; m <= 32; ++m) h += double{f.coef[m]} * std::polar(1.0, -2 * kPi * 2000.0 / 48000 * m);
  EXPECT_LT(20 * std::log10(std::abs(h)), -60.0);
}

TEST(KaiserFir, FormsDifferOnlyBySummationOrderAndRedesignKeepsHistory) {
  const auto x = dspfx::test::noiseFloat(4000, 7);
  for (uint32_t order : {8u, 16u, 32u, 64u}) {
    KaiserFir a, b, c;
    for (KaiserFir* f : {&a, &b, &c}) make(*f, order, 11000);
    std::vector<float> ya(x.size()), yb(x.size()), yc(x.size());
    a.runScalar(x.data(), ya.data(), 4000);
    b.runSse(x.data(), yb.data(), 1000);  // split blocks: the state carries over
    b.runSse(x.data() + 1000, yb.data() + 1000, 3000);
    dspEnable3dnow(1);
    c.run(x.data(), yc.data(), 4000);
    dspEnable3dnow(0);
    for (size_t i = 0; i < x.size(); ++i) {
      // A few float roundings over |taps| <= 1 and |x| <= 1.
      ASSERT_NEAR(yb[i], ya[i], 2e-6) << "order " << order << " at " << i;
      ASSERT_NEAR(yc[i], ya[i], 2e-6) << "order " << order << " at " << i;
    }
    // A new cutoff filters the past input with the new taps, in place.
    a.design(48000, 14000, 0);
    std::vector<float> z(x.begin(), x.begin() + 20);
    a.run(z.data(), z.data(), 20);
    for (size_t t = 0; t < 20; ++t) {
      double ref = 0;
      for (uint32_t m = 0; m <= order; ++m) ref += double{a.coef[m]} * (t >= m ? x[t - m] : x[4000 + t - m]);
      ASSERT_NEAR(z[t], ref, 2e-6) << t;
    }
  }
}

// Long blocks run many outputs side by side; one sample per call never does.
// Each form must give the same bits either way, in place too, and leave the
// history where the next call finds it.
TEST(KaiserFir, WholeBlocksMatchSampleBySampleExactly) {
  const auto x = dspfx::test::noiseFloat(3000, 11);
  using Run = void (KaiserFir::*)(const float*, float*, uint32_t);
  for (Run run : {&KaiserFir::runScalar, &KaiserFir::runSse, &KaiserFir::run3dnow}) {
    for (uint32_t order : {4u, 16u, 32u, 128u}) {
      KaiserFir whole, single;
      make(whole, order, 7000);
      make(single, order, 7000);
      std::vector<float> a(x), b(x.size());
      (whole.*run)(a.data(), a.data(), 37);
      (whole.*run)(a.data() + 37, a.data() + 37, 2963);
      for (size_t i = 0; i < x.size(); ++i) (single.*run)(&x[i], &b[i], 1);
      ASSERT_EQ(a, b) << "order " << order;
      ASSERT_EQ(whole.position, single.position);
    }
  }
}

TEST(AllpassDelay, PureDelayAcrossBlocksAndTheAllpassResponse) {
  AllpassDelay d;
  ASSERT_TRUE(d.configure(8, 0));
  std::vector<float> x(40), y(40);
  for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(i + 1);
  d.run(x.data(), y.data(), 5);
  d.run(x.data() + 5, y.data() + 5, 35);
  for (size_t i = 0; i < y.size(); ++i) EXPECT_EQ(y[i], i < 8 ? 0.0f : x[i - 8]) << i;
  // (g + z^-3) / (1 + g z^-3) = g + (1 - g^2) z^-3 - g (1 - g^2) z^-6 + ...;
  // reconfiguring clears the line.
  ASSERT_TRUE(d.configure(3, 0.5f));
  std::fill(x.begin(), x.end(), 0.0f);
  x[0] = 1;
  d.run(x.data(), y.data(), 10);
  const float want[10] = {0.5f, 0, 0, 0.75f, 0, 0, -0.375f, 0, 0, 0.1875f};
  for (int i = 0; i < 10; ++i) EXPECT_FLOAT_EQ(y[i], want[i]) << i;
}

}  // namespace

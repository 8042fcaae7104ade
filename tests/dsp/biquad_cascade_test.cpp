#include "dsp/biquad_cascade.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <tuple>
#include <utility>
#include <vector>

#include "common/test_support.h"

namespace dspfx {
namespace {

// |H(e^jw)| of the stored sections at freq Hz (feedback stored negated).
double magnitude(const BiquadCascade& c, double freq, double rate) {
  const std::complex<double> z1 = std::polar(1.0, -2.0 * test::kPi * freq / rate), z2 = z1 * z1;
  std::complex<double> h = 1.0;
  for (int i = 0; i < c.sections; ++i) {
    h *= (c.b0[i] + c.b1[i] * z1 + c.b2[i] * z2) / (1.0 - c.a1[i] * z1 - c.a2[i] * z2);
  }
  return std::abs(h);
}

double db(double gain) { return 20.0 * std::log10(gain); }

std::vector<float> noise(size_t n, uint32_t seed) { return test::noiseFloat(n, seed); }

TEST(BiquadCascade, NonsenseOrdersLeaveNoSections) {
  ChebyshevCascade c;
  for (auto [order, sections] : {std::pair{5, 3}, {0, 0}, {-7, 0}}) {
    c.setOrder(order, kLowPass);
    c.design(44100.0f, 1000.0f);
    EXPECT_EQ(c.sections, sections) << order;
  }
}

TEST(BiquadCascade, GainsAtDcAndHalfRate) {
  const double fs = 44100.0, fc = 3000.0, evenCheb = std::pow(10.0, -1.0 / 20.0);
  for (int order : {3, 4, 5, 8}) {
    SCOPED_TRACE(order);
    const bool odd = order % 2 != 0;
    for (int32_t kind : {kLowPass, kHighPass}) {
      ChebyshevCascade cheb;
      ButterworthCascade butter;
      cheb.setOrder(order, kind);
      cheb.design(fs, fc);
      butter.setOrder(order, kind);
      butter.design(fs, fc);
      const double pass = kind == kLowPass ? 0.0 : fs / 2, stop = fs / 2 - pass;
      EXPECT_NEAR(magnitude(cheb, pass, fs), odd ? 1.0 : evenCheb, 1e-9);
      EXPECT_NEAR(magnitude(cheb, stop, fs), 0.0, 1e-9);
      // The cutoff is the edge of the 1 dB ripple band, for the mirrored
      // high-pass too; the double design leaves far less than 1e-3 dB.
      EXPECT_NEAR(db(magnitude(cheb, fc, fs)), -1.0, 1e-3);
      // The odd Butterworth section forms b1 in single precision.
      EXPECT_NEAR(magnitude(butter, pass, fs), 1.0, 1e-7);
      EXPECT_NEAR(magnitude(butter, stop, fs), 0.0, 1e-9);
      EXPECT_NEAR(db(magnitude(butter, fc, fs)), -3.0103, 1e-3);
    }
  }
}

TEST(BiquadCascade, ChebyshevRippleSpansExactlyItsBand) {
  const double fs = 48000.0, fc = 6000.0;
  for (auto [ripple, order] : {std::pair{0.1f, 4}, {3.0f, 7}}) {
    SCOPED_TRACE(::testing::Message() << ripple << " dB, order " << order);
    ChebyshevCascade c;
    c.setOrder(order, kLowPass);
    c.designChebyshev(fs, fc, ripple);
    double lowest = 0, highest = -1000;
    for (int k = 0; k <= 4000; ++k) {
      const double g = db(magnitude(c, fc * k / 4000.0, fs));
      lowest = std::min(lowest, g);
      highest = std::max(highest, g);
    }
    // Never outside [-ripple, 0] dB; the grid may miss an extreme by 1e-5 dB.
    EXPECT_TRUE(highest <= 1e-9 && highest > -1e-4) << highest;
    EXPECT_TRUE(lowest >= -ripple - 1e-9 && lowest < -ripple + 1e-4) << lowest;
    EXPECT_LT(db(magnitude(c, fc * 1.05, fs)), -ripple);
  }
}

// Each section over the whole block in double before the next, the plain
// way; state kept in the caller's arrays.
std::vector<double> plainRun(const BiquadCascade& c, std::vector<double>& w1, std::vector<double>& w2,
                             const float* in, size_t n) {
  std::vector<double> x(in, in + n);
  for (int32_t k = 0; k < c.sections; ++k) {
    for (double& v : x) {
      const double w = (c.a2[k] * w2[k] + c.a1[k] * w1[k]) + v;
      v = c.b0[k] * w + (c.b2[k] * w2[k] + c.b1[k] * w1[k]);
      w2[k] = w1[k];
      w1[k] = w;
    }
  }
  return x;
}

TEST(BiquadCascade, RunIsTheSectionBySectionFilterBitForBit) {
  // run interleaves the sections (a pipeline of pairs for many); no bit may
  // differ from the plain order, in short blocks, in place or via runAdd.
  const std::vector<float> x = noise(700, 11);
  for (int order = 1; order <= 27; ++order) {
    SCOPED_TRACE(::testing::Message() << "order " << order);
    ChebyshevCascade c;
    c.setOrder(order, order % 3 == 0 ? kHighPass : kLowPass);
    c.designChebyshev(44100.0f, 2000.0f + 300.0f * order, 0.5f);
    std::vector<double> w1(c.sections, 0.0), w2(c.sections, 0.0);
    size_t at = 0;
    for (size_t n : {0, 1, 3, 5, 11, 64, 301, 4, 2}) {
      const std::vector<double> y = plainRun(c, w1, w2, x.data() + at, n);
      std::vector<float> out(x.begin() + at, x.begin() + at + n);
      const int mode = static_cast<int>(n % 3);
      if (mode == 0) c.run(out.data(), out.data(), static_cast<uint32_t>(n));
      if (mode == 1) c.run(x.data() + at, out.data(), static_cast<uint32_t>(n));
      if (mode == 2) c.runAdd(x.data() + at, out.data(), static_cast<uint32_t>(n));
      for (size_t i = 0; i < n; ++i) {
        const float want = mode == 2 ? static_cast<float>(y[i] + x[at + i]) : static_cast<float>(y[i]);
        ASSERT_EQ(out[i], want) << "block of " << n << ", sample " << i;
      }
      at += n;
    }
    for (int32_t k = 0; k < c.sections; ++k) {
      EXPECT_EQ(c.w1[k], w1[k]) << "section " << k;
      EXPECT_EQ(c.w2[k], w2[k]) << "section " << k;
    }
  }
}

TEST(BiquadCascade, PairRunsAreTheTwoSingleRunsBitForBit) {
  // Side by side for up to eight sections, one after the other beyond that
  // or when the section counts differ.
  const std::vector<float> xl = noise(900, 5), xr = noise(900, 6);
  for (auto [orderL, orderR] : {std::pair{1, 1}, {2, 2}, {7, 7}, {8, 8}, {16, 16}, {17, 17}, {20, 20}, {6, 9}}) {
    SCOPED_TRACE(::testing::Message() << "orders " << orderL << "/" << orderR);
    ChebyshevCascade pl, pr, sl, sr;
    for (auto [c, order, kind] : {std::tuple{&pl, orderL, kLowPass}, {&sl, orderL, kLowPass},
                                  {&pr, orderR, kHighPass}, {&sr, orderR, kHighPass}}) {
      c->setOrder(order, kind);
      c->design(48000.0f, 5000.0f);
    }
    std::vector<float> outL(xl.size()), outR(xr.size()), wantL(xl.size()), wantR(xr.size());
    size_t at = 0;
    for (uint32_t n : {0u, 1u, 3u, 250u, 17u, 400u}) {
      sl.run(xl.data() + at, wantL.data() + at, n);
      sr.run(xr.data() + at, wantR.data() + at, n);
      if (n % 2 != 0) {
        runCascadePair(pl, pr, xl.data() + at, xr.data() + at, outL.data() + at, outR.data() + at, n);
      } else {
        std::copy_n(xl.begin() + at, n, outL.begin() + at);
        std::copy_n(xr.begin() + at, n, outR.begin() + at);
        runCascadePair(pl, pr, outL.data() + at, outR.data() + at, outL.data() + at, outR.data() + at, n);
      }
      at += n;
    }
    EXPECT_EQ(outL, wantL);
    EXPECT_EQ(outR, wantR);
    for (int32_t k = 0; k < pr.sections; ++k) EXPECT_EQ(pr.w1[k], sr.w1[k]) << "section " << k;
  }
}

TEST(BiquadCascade, RedesignKeepsStateSetOrderClearsIt) {
  const std::vector<float> x = noise(512, 2);
  ChebyshevCascade a, b;
  for (auto* c : {&a, &b}) {
    c->setOrder(6, kLowPass);
    c->design(44100.0f, 4000.0f);
  }
  std::vector<float> ya(512), yb(x);
  a.run(x.data(), ya.data(), 256);
  b.run(yb.data(), yb.data(), 256);
  b.design(44100.0f, 4000.0f);  // between blocks: the state runs on
  a.run(x.data() + 256, ya.data() + 256, 256);
  b.run(yb.data() + 256, yb.data() + 256, 256);
  EXPECT_EQ(ya, yb);
  EXPECT_EQ(a.run(x.data(), ya.data(), 0), 0u);
  EXPECT_EQ(b.runAdd(x.data(), yb.data(), 8), 8u);

  // A smaller order keeps the larger arrays, every section a cleared
  // pass-through again.
  const double* arrays = a.a1;
  a.setOrder(2, kLowPass);
  EXPECT_EQ(a.a1, arrays);
  EXPECT_TRUE(a.w1[0] == 0.0 && a.w2[0] == 0.0);
  a.run(x.data(), ya.data(), 64);
  EXPECT_EQ(std::vector<float>(ya.begin(), ya.begin() + 64), std::vector<float>(x.begin(), x.begin() + 64));
}

}  // namespace
}  // namespace dspfx

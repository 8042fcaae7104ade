#include "rate/biquad_cascade.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "common/test_support.h"

namespace dspfx {
namespace {

using test::kPi;

// |H(e^jw)| of the stored sections at freq Hz. Feedback coefficients are
// stored negated, hence the minus signs in the denominator.
double magnitude(const BiquadCascade& c, double freq, double rate) {
  const std::complex<double> z1 = std::polar(1.0, -2.0 * kPi * freq / rate);
  const std::complex<double> z2 = z1 * z1;
  std::complex<double> h = 1.0;
  for (int i = 0; i < c.sections; ++i) {
    h *= (c.b0[i] + c.b1[i] * z1 + c.b2[i] * z2) / (1.0 - c.a1[i] * z1 - c.a2[i] * z2);
  }
  return std::abs(h);
}

double db(double gain) { return 20.0 * std::log10(gain); }

TEST(BiquadCascade, SectionLayoutFollowsOrder) {
  ChebyshevCascade c;
  c.setOrder(1, kLowPass);
  c.design(44100.0f, 1000.0f);
  ASSERT_EQ(c.sections, 1);
  // A first-order section: no second-order terms.
  EXPECT_EQ(c.a2[0], 0.0);
  EXPECT_EQ(c.b2[0], 0.0);

  c.setOrder(2, kLowPass);
  c.design(44100.0f, 1000.0f);
  ASSERT_EQ(c.sections, 1);
  EXPECT_NE(c.a2[0], 0.0);
  EXPECT_NE(c.b2[0], 0.0);

  c.setOrder(5, kLowPass);
  c.design(44100.0f, 1000.0f);
  ASSERT_EQ(c.sections, 3);
  EXPECT_NE(c.a2[0], 0.0);
  EXPECT_NE(c.a2[1], 0.0);
  EXPECT_EQ(c.a2[2], 0.0);
  EXPECT_EQ(c.b2[2], 0.0);
  EXPECT_FLOAT_EQ(c.rippleDb, 1.0f);  // design means 1 dB
}

TEST(BiquadCascade, GainsAtDcAndHalfRate) {
  const double fs = 44100.0, fc = 3000.0, tol = 1e-9;
  const double evenChebyshevDc = std::pow(10.0, -1.0 / 20.0);  // 1 dB ripple
  for (int order : {3, 4, 5, 8}) {
    SCOPED_TRACE(order);
    const bool odd = order % 2 != 0;
    ChebyshevCascade cheb;
    ButterworthCascade butter;

    cheb.setOrder(order, kLowPass);
    cheb.design(fs, fc);
    butter.setOrder(order, kLowPass);
    butter.design(fs, fc);
    EXPECT_NEAR(magnitude(cheb, 0, fs), odd ? 1.0 : evenChebyshevDc, tol);
    EXPECT_NEAR(magnitude(cheb, fs / 2, fs), 0.0, tol);
    // The odd Butterworth section forms b1 in single precision: a float's
    // relative epsilon away from 1.
    EXPECT_NEAR(magnitude(butter, 0, fs), 1.0, 1e-7);
    EXPECT_NEAR(magnitude(butter, fs / 2, fs), 0.0, tol);
    // Butterworth: -3.01 dB at the cutoff whatever the order.
    EXPECT_NEAR(db(magnitude(butter, fc, fs)), -3.0103, 1e-3);

    cheb.setOrder(order, kHighPass);
    cheb.design(fs, fc);
    butter.setOrder(order, kHighPass);
    butter.design(fs, fc);
    EXPECT_NEAR(magnitude(cheb, 0, fs), 0.0, tol);
    EXPECT_NEAR(magnitude(cheb, fs / 2, fs), odd ? 1.0 : evenChebyshevDc, tol);
    EXPECT_NEAR(magnitude(butter, 0, fs), 0.0, tol);
    EXPECT_NEAR(magnitude(butter, fs / 2, fs), 1.0, 1e-7);
    EXPECT_NEAR(db(magnitude(butter, fc, fs)), -3.0103, 1e-3);
  }
}

TEST(BiquadCascade, ChebyshevRippleStaysWithinItsBandAndEvenDcGain) {
  const double fs = 48000.0, fc = 6000.0;
  for (float ripple : {0.1f, 0.5f, 1.0f, 3.0f}) {
    for (int order : {4, 7, 10}) {
      SCOPED_TRACE(::testing::Message() << "ripple " << ripple << " dB, order " << order);
      ChebyshevCascade c;
      c.setOrder(order, kLowPass);
      c.designChebyshev(fs, fc, ripple);
      double lowest = 0, highest = -1000;
      for (int k = 0; k <= 4000; ++k) {
        const double g = db(magnitude(c, fc * k / 4000.0, fs));
        lowest = std::min(lowest, g);
        highest = std::max(highest, g);
      }
      // Equal ripple: the pass band spans exactly [-ripple, 0] dB; the grid
      // can miss an extreme by a few 1e-6 dB.
      EXPECT_NEAR(highest, 0.0, 1e-4);
      EXPECT_LE(highest, 1e-9);
      EXPECT_NEAR(lowest, -ripple, 1e-4);
      EXPECT_GE(lowest, -ripple - 1e-9);
      EXPECT_NEAR(db(magnitude(c, fc, fs)), -ripple, 1e-6);
      EXPECT_LT(db(magnitude(c, fc * 1.05, fs)), -ripple);
      if (order % 2 == 0) {
        EXPECT_NEAR(magnitude(c, 0, fs), std::pow(10.0, -ripple / 20.0), 1e-9);
      }
    }
  }
  ChebyshevCascade c;
  c.setOrder(8, kLowPass);
  c.designChebyshev(44100.0f, 5512.5f, 0.1f);
  EXPECT_NEAR(magnitude(c, 0, 44100.0), 0.98855, 1e-5);
}

TEST(BiquadCascade, HighPassIsTheMirroredLowPass) {
  const float fs = 44100.0f, fc = 2500.0f;
  auto check = [&](BiquadCascade& hp, BiquadCascade& lp) {
    ASSERT_EQ(hp.sections, lp.sections);
    EXPECT_FLOAT_EQ(hp.cutoff, fs / 2 - fc);
    for (int i = 0; i < hp.sections; ++i) {
      EXPECT_DOUBLE_EQ(hp.a1[i], -lp.a1[i]);
      EXPECT_DOUBLE_EQ(hp.b1[i], -lp.b1[i]);
      EXPECT_DOUBLE_EQ(hp.a2[i], lp.a2[i]);
      EXPECT_DOUBLE_EQ(hp.b0[i], lp.b0[i]);
      EXPECT_DOUBLE_EQ(hp.b2[i], lp.b2[i]);
    }
  };
  for (int order : {1, 4, 5}) {
    SCOPED_TRACE(order);
    ChebyshevCascade chp, clp;
    chp.setOrder(order, kHighPass);
    chp.design(fs, fc);
    clp.setOrder(order, kLowPass);
    clp.design(fs, fs / 2 - fc);
    check(chp, clp);
    ButterworthCascade bhp, blp;
    bhp.setOrder(order, kHighPass);
    bhp.design(fs, fc);
    blp.setOrder(order, kLowPass);
    blp.design(fs, fs / 2 - fc);
    check(bhp, blp);
  }
}

TEST(BiquadCascade, RunStateRedesignAndReuse) {
  std::vector<float> x(512);
  for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(std::sin(0.07 * i) + 0.3);

  ChebyshevCascade a, b;
  for (auto* c : {&a, &b}) {
    c->setOrder(6, kLowPass);
    c->design(44100.0f, 4000.0f);
  }
  std::vector<float> ya(512), yb(x);
  a.run(x.data(), ya.data(), 256);
  b.run(yb.data(), yb.data(), 256);  // in place
  // A redesign with the same parameters between blocks must not disturb the
  // running state.
  b.design(44100.0f, 4000.0f);
  a.run(x.data() + 256, ya.data() + 256, 256);
  b.run(yb.data() + 256, yb.data() + 256, 256);
  EXPECT_EQ(ya, yb);

  EXPECT_EQ(a.run(x.data(), ya.data(), 0), 0u);
  std::vector<float> acc(8, 1.0f), plain(8);
  ChebyshevCascade c1, c2;
  for (auto* c : {&c1, &c2}) {
    c->setOrder(3, kHighPass);
    c->design(44100.0f, 300.0f);
  }
  EXPECT_EQ(c1.runAdd(x.data(), acc.data(), 8), 8u);
  c2.run(x.data(), plain.data(), 8);
  for (int i = 0; i < 8; ++i) EXPECT_FLOAT_EQ(acc[i], plain[i] + 1.0f);

  // setOrder clears the state and the coefficients. A smaller
  // order keeps the larger arrays and starts from pass-through sections.
  const double* arrays = a.a1;
  a.setOrder(4, kLowPass);
  EXPECT_EQ(a.a1, arrays);
  EXPECT_EQ(a.sections, 2);
  for (int i = 0; i < a.sections; ++i) {
    EXPECT_EQ(a.w1[i], 0.0);
    EXPECT_EQ(a.w2[i], 0.0);
    EXPECT_EQ(a.b0[i], 1.0);
  }
  std::vector<float> same(64);
  a.run(x.data(), same.data(), 64);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(same[i], x[i]);
}

TEST(BiquadCascade, OrdersBelowOneArePassThrough) {
  ButterworthCascade c;
  c.setOrder(0, kLowPass);
  c.design(44100.0f, 1000.0f);
  EXPECT_EQ(c.sections, 0);
  c.setOrder(-7, kHighPass);
  c.design(44100.0f, 1000.0f);
  EXPECT_EQ(c.sections, 0);
  float v[3] = {0.25f, -1.0f, 0.5f};
  float out[3] = {};
  c.run(v, out, 3);
  EXPECT_EQ(out[1], -1.0f);
}

}  // namespace
}  // namespace dspfx

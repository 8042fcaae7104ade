#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "core/exports/export_call.h"
#include "dspfx/dspfx.h"
#include "eq/shelving_eq_effect.h"
#include "eq_test_util.h"

namespace {

using namespace dspfx;
using namespace dspfx::test;

ShelvingEqEffect& object(DspEffect* h) { return *dspfx::effectOf<ShelvingEqEffect>(h); }

// Flat bands leave the window's middle tap: a delay of 2N - 1 frames and
// a scale just under one.
TEST(ShelvingEq, FlatBandsDelayAndScaleTheInput) {
  for (auto [n, scale] : {std::pair{4u, 0.9890738}, {8u, 0.9974347}, {16u, 0.9993785}}) {
    const std::vector<float> flat(n, 0.0f);
    DspEffect* h = initShelvingEQ(1024, 2, 44100, n, flat.data(), 0.0f);
    ASSERT_NE(h, nullptr);
    const auto in = noisePcm(2048, n, 30000);
    std::vector<int16_t> out(in.size());
    ASSERT_EQ(doShelvingEQ(h, in.data(), out.data(), 4096), 1u);
    const size_t delay = 2 * n - 1;
    for (size_t i = 0; i < out.size(); ++i) {
      // One 16-bit step, plus the scale's seven digits.
      ASSERT_NEAR(out[i], i < 2 * delay ? 0.0 : in[i - 2 * delay] * scale, 1.01) << "N " << n << " at " << i;
    }
    EXPECT_EQ(termShelvingEQ(h), 1u);
  }
}

TEST(ShelvingEq, MeasuredSineGainsFollowTheBandsAndTheLevel) {
  const std::vector<float> flat(8, 0.0f);
  DspEffect* h = initShelvingEQ(8192, 1, 44100, 8, flat.data(), 0.0f);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(setShelvingEQGain(h, 3, 12.0f), 1u);
  const FirBandFilter& f = object(h).filters[0];
  auto measure = [&](double hz) {
    const auto in = sinePcm(hz, 44100, 8192, 1, 0.25);
    std::vector<int16_t> out(in.size());
    EXPECT_EQ(doShelvingEQ(h, in.data(), out.data(), 16384), 1u);
    return toneLevelDb(out.data(), out.size(), hz, 44100, 64) - toneLevelDb(in.data(), in.size(), hz, 44100, 64);
  };
  // Band 3 of 8 spans 3/16 ... 4/16 of the rate; its middle is lifted by
  // about 8 dB, a band two away from it stays flat.
  const double mid3 = 3.5 / 16 * 44100, mid0 = 0.5 / 16 * 44100;
  const double lifted = measure(mid3);
  EXPECT_NEAR(lifted, firResponseDb(f.taps(), f.tapCount(), mid3, 44100), 0.02);
  EXPECT_NEAR(lifted, 8.0, 0.6);
  EXPECT_NEAR(measure(mid0), 0.0, 0.2);
  for (double mid : {1.5, 5.5, 6.5, 7.5}) EXPECT_NEAR(firResponseDb(f.taps(), f.tapCount(), mid / 16 * 44100, 44100), 0.0, 0.2) << mid;

  const std::vector<float> taps(f.taps(), f.taps() + f.tapCount());
  ASSERT_EQ(setShelvingEQOutputLevel(h, -6.0f), 1u);
  EXPECT_NEAR(measure(mid3), lifted - 6.0, 0.02);
  EXPECT_EQ(std::vector<float>(f.taps(), f.taps() + f.tapCount()), taps);
  EXPECT_EQ(termShelvingEQ(h), 1u);
}

TEST(ShelvingEq, MonoKeepsTheSecondFilterCurrent) {
  const float gains[4] = {1, 2, 3, 4};
  DspEffect* h = initShelvingEQ(64, 1, 22050, 4, gains, 1.0f);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(setShelvingEQGain(h, 2, -9.0f), 1u);
  ASSERT_EQ(setShelvingEQOutputLevel(h, -3.0f), 1u);
  const ShelvingEqEffect& e = object(h);
  const FirBandFilter& a = e.filters[0];
  const FirBandFilter& b = e.filters[1];
  EXPECT_EQ(std::vector<float>(a.taps(), a.taps() + a.tapCount()), std::vector<float>(b.taps(), b.taps() + b.tapCount()));
  EXPECT_EQ(a.level(), b.level());
  EXPECT_EQ(termShelvingEQ(h), 1u);
}

// The rounding model of the fast convolution (see the convolver's suite):
// about one float unit of sum |h| x level x peak per stage on an output's
// way, log2 2P levels in each of two transforms, K spectral products, and
// the unpacking, gain and the direct form's own final rounding.
double fftTolerance(const ShelvingEqEffect& e, float peak) {
  const FirBandFilter& f = e.filters[0];
  double l1 = 0;
  for (uint32_t m = 0; m < f.tapCount(); ++m) l1 += std::fabs(f.taps()[m]);
  const FftConvolver& c = e.convolvers[0];
  return (2 * std::log2(2.0 * c.partitionSize()) + c.partitionCount() + 2) * 0x1p-24 * l1 * f.level() * peak;
}

// Both forms in a chain on the float path, fed the same blocks: before and
// after a redesign halfway (band gain and level), mono and stereo, blocks
// of one frame, odd lengths and the full capacity.
TEST(ShelvingEq, FftConvolutionGivesTheDirectFormsOutputInAChain) {
  const uint32_t capacity = 1024;
  for (uint32_t n : {4u, 128u}) {
    for (uint32_t channels : {1u, 2u}) {
      for (uint32_t block : {1u, 7u, 333u, capacity}) {
        std::vector<float> gains(n);
        for (uint32_t i = 0; i < n; ++i) gains[i] = static_cast<float>(i % 5) * 3.0f - 6.0f;
        DspChain* chains[2];
        for (uint32_t mode : {0u, 1u}) {
          chains[mode] = dspCreate(capacity, channels, 44100);
          DspEffect* h = initShelvingEQ(capacity, channels, 44100, n, gains.data(), 2.0f);
          ASSERT_EQ(setShelvingEQMode(h, mode), 1u);
          ASSERT_EQ(dspAdd(chains[mode], h, 0), 1u);
        }
        const uint32_t frames = 3000;
        const std::vector<float> in = noiseFloat(size_t{frames} * channels, n + block, 0.9f);
        std::vector<float> out[2] = {std::vector<float>(in.size()), std::vector<float>(in.size())};
        double tol = 0;
        for (uint32_t done = 0; done < frames;) {
          const uint32_t count = std::min(block, frames - done);
          if (done <= frames / 2 && done + count > frames / 2) {
            for (DspChain* c : chains) {
              ASSERT_EQ(setShelvingEQGain(dspGetHandle(c, 0), 1, 9.0f), 1u);
              ASSERT_EQ(setShelvingEQOutputLevel(dspGetHandle(c, 0), -1.0f), 1u);
            }
          }
          for (uint32_t mode : {0u, 1u}) {
            const size_t at = size_t{done} * channels;
            ASSERT_EQ(dspSendFloat(chains[mode], in.data() + at, out[mode].data() + at, count), count);
          }
          tol = std::max(tol, fftTolerance(object(dspGetHandle(chains[1], 0)), 0.9f));
          done += count;
        }
        for (size_t i = 0; i < in.size(); ++i) {
          ASSERT_NEAR(out[1][i], out[0][i], tol) << "N " << n << ", " << channels << " ch, blocks of " << block << ", at " << i;
        }
        for (DspChain* c : chains) dspDestroy(c);
      }
    }
  }
}

// A switch either way carries the past input over: back in the direct form
// the output is that of an equaliser never switched, to the bit.
TEST(ShelvingEq, ModeSwitchesKeepThePastAndTheDirectFormExact) {
  const std::vector<float> gains = {6, -3, 0, 2, -8, 1, 0, 4};
  DspEffect* plain = initShelvingEQ(512, 2, 48000, 8, gains.data(), 0.0f);
  DspEffect* switched = initShelvingEQ(512, 2, 48000, 8, gains.data(), 0.0f);
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(switched, nullptr);
  const auto in = noisePcm(3 * 2 * 500, 5, 20000);
  std::vector<int16_t> a(in.size()), b(in.size());
  for (uint32_t part = 0; part < 3; ++part) {
    if (part > 0) {
      ASSERT_EQ(setShelvingEQMode(switched, part == 1 ? 1 : 0), 1u);
    }
    const size_t at = size_t{part} * 1000;
    ASSERT_EQ(doShelvingEQ(plain, in.data() + at, a.data() + at, 2000), 1u);
    ASSERT_EQ(doShelvingEQ(switched, in.data() + at, b.data() + at, 2000), 1u);
  }
  for (size_t i = 0; i < in.size(); ++i) {
    // Rounding to 16 bits may land one step apart while the forms differ.
    if (i >= 1000 && i < 2000) {
      ASSERT_NEAR(b[i], a[i], 1) << i;
    } else {
      ASSERT_EQ(b[i], a[i]) << i;
    }
  }
  EXPECT_EQ(setShelvingEQMode(switched, 2), 0u);
  EXPECT_EQ(object(switched).mode, 0u);
  EXPECT_EQ(termShelvingEQ(plain), 1u);
  EXPECT_EQ(termShelvingEQ(switched), 1u);
}

TEST(ShelvingEq, MisuseIsRefusedAndNothingIsWrittenOutOfBounds) {
  const std::vector<float> gains(16384, 0.0f);
  for (uint32_t n : {0u, 3u, 6u, 12u, 16384u}) EXPECT_EQ(initShelvingEQ(64, 2, 44100, n, gains.data(), 0.0f), nullptr) << n;
  EXPECT_EQ(initShelvingEQ(64, 2, 44100, 4, nullptr, 0.0f), nullptr);
  EXPECT_EQ(initShelvingEQ(0x7FFFFFFF, 2, 44100, 4, gains.data(), 0.0f), nullptr);

  DspEffect* h = initShelvingEQ(64, 2, 44100, 2, gains.data(), 0.0f);
  ASSERT_NE(h, nullptr);
  const std::vector<float> taps(object(h).filters[0].taps(), object(h).filters[0].taps() + 7);
  EXPECT_EQ(setShelvingEQGain(h, 2, 6.0f), 0u);
  EXPECT_EQ(setShelvingEQGain(h, -1, 6.0f), 0u);
  EXPECT_EQ(std::vector<float>(object(h).filters[0].taps(), object(h).filters[0].taps() + 7), taps);

  std::vector<int16_t> in(130, 1000);
  Guarded<int16_t> out(128, 777);
  EXPECT_EQ(doShelvingEQ(h, in.data(), out.get(), 65 * 4), 0u);  // above capacity
  EXPECT_EQ(out.get()[0], 0);
  EXPECT_EQ(doShelvingEQ(h, nullptr, out.get(), 8), 0u);
  EXPECT_EQ(doShelvingEQ(h, in.data(), out.get(), 0), 1u);
  EXPECT_EQ(doShelvingEQ(h, in.data(), out.get(), 64 * 4), 1u);
  EXPECT_TRUE(out.intact());
  Guarded<int16_t> odd(3, 777);  // 7 bytes: one whole stereo frame
  EXPECT_EQ(doShelvingEQ(h, in.data(), odd.get(), 7), 1u);
  EXPECT_EQ(odd.get()[2], 0);
  EXPECT_TRUE(odd.intact());

  const GraphicEqBand band{1000, 0, 0.5f, 0.5f};
  DspEffect* other = initGraphicEQ(64, 2, 44100, 1, &band, 0.0f);
  ASSERT_NE(other, nullptr);
  ASSERT_EQ(termShelvingEQ(h), 1u);
  expectAllRefuse<DspEffect>({nullptr, other, h}, [&](DspEffect* e) { return doShelvingEQ(e, in.data(), out.get(), 8); },
                             [](DspEffect* e) { return setShelvingEQGain(e, 0, 1.0f); },
                             [](DspEffect* e) { return setShelvingEQOutputLevel(e, 1.0f); },
                             [](DspEffect* e) { return setShelvingEQMode(e, 1); },
                             [](DspEffect* e) { return termShelvingEQ(e); });
  EXPECT_EQ(termGraphicEQ(other), 1u);
}

}  // namespace

// The per-channel exciter: band-edge scan, delay alignment, harmonics.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "common/test_support.h"
#include "rate/harmonic_exciter.h"

namespace {

using dspfx::HarmonicExciter;
using dspfx::test::kPi;

constexpr uint32_t kRate = 48000;

// Amplitude of the hz component of x, by a single-bin DFT over whole
// samples with a Hann window (x long enough for the bins to separate).
double toneLevelDb(const std::vector<float>& x, size_t from, double hz) {
  std::complex<double> s = 0;
  double wsum = 0;
  const size_t n = x.size() - from;
  for (size_t i = 0; i < n; ++i) {
    const double w = 0.5 * (1 - std::cos(2 * kPi * i / n));
    s += w * double{x[from + i]} * std::polar(1.0, -2 * kPi * hz * i / kRate);
    wsum += w;
  }
  return 20 * std::log10(2 * std::abs(s) / wsum + 1e-30);
}

std::vector<float> sine(double hz, size_t n, double amp = 0.5) { return dspfx::test::sineFloat(hz, kRate, n, amp); }

// Runs x through the exciter in blocks of 1024 with a fixed band edge.
std::vector<float> run(HarmonicExciter& e, const std::vector<float>& x, float edgeHz = 0) {
  std::vector<float> y(x.size()), in(e.capacity);
  for (size_t at = 0; at < x.size(); at += 1024) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(1024, x.size() - at));
    std::copy(x.begin() + at, x.begin() + at + n, in.begin());
    e.processWithEdge(in.data(), y.data() + at, n, edgeHz);
  }
  return y;
}

TEST(HarmonicExciterEdge, ScanFindsTheRiseAboveTheFloor) {
  std::vector<float> level(128, -50.0f);
  EXPECT_EQ(HarmonicExciter::bandEdgeBin(level.data(), 128), 127u);  // flat: no rise

  // A step from below down to -120 dB at bin `from`.
  const struct {
    uint32_t from;
    float below;
    uint32_t edge;
  } steps[] = {
      {107, -60, 105},  // the rise shows at bin 106 and is confirmed one bin lower
      {86, -60, 127},   // confirmation would be bin 84
      {87, -60, 85},    // the lowest bin scanned
      {100, -96, 127},  // 24 dB is not enough,
      {100, -95, 98},   // 25 dB is
  };
  for (const auto& c : steps) {
    for (uint32_t k = 0; k < 128; ++k) level[k] = k >= c.from ? -120.0f : c.below;
    EXPECT_EQ(HarmonicExciter::bandEdgeBin(level.data(), 128), c.edge) << c.from << " " << c.below;
  }

  // A dip resets the floor: the rise counts from the lowest level of the
  // falling stretch just above it (-110 dB here, not -120 dB).
  std::fill(level.begin(), level.end(), -120.0f);
  level[109] = -100;
  level[108] = -110;
  for (uint32_t k = 100; k <= 107; ++k) level[k] = -92;  // 18 dB above the dip
  for (uint32_t k = 0; k < 100; ++k) level[k] = -80;
  EXPECT_EQ(HarmonicExciter::bandEdgeBin(level.data(), 128), 99u);
}

TEST(HarmonicExciterEdge, MeasuresWhereTheSpectrumEnds) {
  // A tone centred on a bin fills only its three-bin main lobe: the rise
  // shows one bin above it and is confirmed on the tone's own bin.
  const auto edgeOf = [](double hz, uint32_t capacity, int blocks) {
    HarmonicExciter f;
    EXPECT_TRUE(f.configure(capacity, kRate, 0.3f, 100, 6000, 1, 16));
    const auto tone = sine(hz, size_t{capacity} * blocks, 0.25);
    float edge = 0;
    for (int b = 0; b < blocks; ++b) edge = f.detectBandEdge(tone.data() + size_t{capacity} * b);
    return edge;
  };
  EXPECT_EQ(edgeOf(0, 1024, 1), 23812.5f);  // silence: every bin at the floor
  EXPECT_EQ(edgeOf(96 * 187.5, 1024, 1), 18000.0f);
  // Short blocks: the history is kept at one transform, four blocks fill it.
  EXPECT_EQ(edgeOf(112 * 187.5, 64, 4), 21000.0f);
  // Between bins the window's leakage skirt lifts off a few bins higher.
  const float skirt = edgeOf(20000, 1024, 1) / 187.5f;
  EXPECT_TRUE(skirt > 20000 / 187.5 && skirt < 20000 / 187.5 + 10) << skirt;
}

TEST(HarmonicExciter, AddsOddHarmonicsOfTheHighBandOnly) {
  auto excite = [](double hz, float mix, uint32_t split) {
    HarmonicExciter e;
    EXPECT_TRUE(e.configure(1024, kRate, 0.5f, mix, split, 0, 16));
    return run(e, sine(hz, 8192, 0.5));
  };
  const auto y = excite(6000, 100, 4000);
  // The curve is odd: a third harmonic, no second.
  EXPECT_GT(toneLevelDb(y, 64, 18000), -40.0);
  EXPECT_LT(toneLevelDb(y, 64, 12000), -100.0);
  // A tone far below the split frequency is left almost alone.
  EXPECT_LT(toneLevelDb(excite(1000, 100, 12000), 64, 3000), -80.0);
  // Mix scales the added signal linearly: 50 % is 6 dB below 100 %.
  EXPECT_NEAR(toneLevelDb(excite(6000, 50, 4000), 64, 18000), toneLevelDb(y, 64, 18000) - 20 * std::log10(2.0), 0.01);
}

TEST(HarmonicExciter, EdgeFilterActsInTheAdaptiveModeOnly) {
  const auto x = sine(7000, 8192, 0.5);  // third harmonic at 21 kHz
  auto level = [&](int32_t mode, float edge) {
    HarmonicExciter e;
    EXPECT_TRUE(e.configure(1024, kRate, 0.5f, 100, 4000, mode, 16));
    const auto y = run(e, x, edge);
    EXPECT_EQ(e.detectedHz, edge);
    return toneLevelDb(y, 64, 21000);
  };
  EXPECT_EQ(level(0, 16000), level(0, 23000));
  // The 33-tap high-pass is gentle, but moving its edge from 16 kHz up past
  // 21 kHz must take a clear bite out of the 21 kHz harmonic.
  EXPECT_GT(level(1, 16000) - level(1, 23000), 6.0);
}

TEST(HarmonicExciter, ConfigureClearsTheStateAndGuardsBlockSizes) {
  HarmonicExciter e;
  ASSERT_TRUE(e.configure(256, kRate, 0.5f, 100, 4000, 1, 16));
  const auto x = sine(7000, 256);
  std::vector<float> y(300, 7.0f), zeros(300, 0.0f);
  e.processDetect(x.data(), y.data(), 256);
  ASSERT_TRUE(e.configure(256, kRate, 0.5f, 100, 4000, 1, 16));
  e.processDetect(zeros.data(), y.data(), 256);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(y[i], 0.0f);  // no filter or delay history survived
  y[0] = 7.0f;
  e.processDetect(zeros.data(), y.data(), 300);  // above capacity: refused
  EXPECT_EQ(y[0], 7.0f);
  HarmonicExciter bad;
  EXPECT_FALSE(bad.configure(256, kRate, 0.5f, 100, 4000, 0, 12));  // order not a power of two
  bad.processWithEdge(zeros.data(), y.data(), 10, 0);
  EXPECT_EQ(y[0], 7.0f);
}

}  // namespace

// The band-limited streaming converter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "common/test_support.h"
#include "core/processor_flags.h"
#include "dsp/polyphase_resampler.h"

namespace {

using dspfx::PolyphaseResampler;
using dspfx::test::fitSine;
using dspfx::test::kPi;

struct SseSwitch {
  explicit SseSwitch(bool on) : was(dspfx::processorFlags().sseEnabled.load()) {
    dspfx::processorFlags().sseEnabled = on ? 1 : 0;
  }
  ~SseSwitch() { dspfx::processorFlags().sseEnabled = was; }
  uint8_t was;
};

// Streams x through r in blocks whose sizes come from next(), one channel
// or both (the pair path) alike; checks every block against maxOutput.
template <class Sizes>
std::vector<float> stream(PolyphaseResampler& r, const std::vector<float>& x, Sizes next, bool pair = false) {
  std::vector<float> out, a(r.maxOutput(r.maxFrames())), b(a.size());
  for (size_t at = 0; at < x.size();) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(next(), x.size() - at));
    uint32_t k;
    if (pair) {
      const float* in[2] = {x.data() + at, x.data() + at};
      float* o[2] = {a.data(), b.data()};
      k = r.process(in, n, o, static_cast<uint32_t>(a.size()));
      EXPECT_TRUE(std::equal(a.begin(), a.begin() + k, b.begin()));
    } else {
      k = r.processChannel(0, x.data() + at, n, a.data(), static_cast<uint32_t>(a.size()));
    }
    EXPECT_LE(k, r.maxOutput(n)) << "block of " << n;
    out.insert(out.end(), a.begin(), a.begin() + k);
    at += n;
  }
  return out;
}

// Every rate pair with its own rows and an odd one that interpolates rows.
struct Rates {
  uint32_t src, dst;
};
const Rates kPairs[] = {{44100, 48000}, {48000, 44100}, {48000, 22050}, {8000, 44100}, {44101, 48000}};

TEST(PolyphaseResampler, BlocksNeverChangeTheStreamAndTotalsKeepTheRatio) {
  const std::vector<float> x = dspfx::test::noiseFloat(20000, 7, 0.8f);
  for (const Rates& p : kPairs) {
    for (bool sse : {false, true}) {
      SseSwitch flags(sse);
      PolyphaseResampler r;
      ASSERT_TRUE(r.configure(p.src, p.dst, 2, 4096));
      EXPECT_EQ(r.exactPhases(), p.src != 44101);
      const std::vector<float> whole = stream(r, x, [] { return 4096; });
      // After n input frames exactly ceil(n * dst / src) outputs exist.
      const uint64_t want = (uint64_t{x.size()} * p.dst + p.src - 1) / p.src;
      EXPECT_EQ(whole.size(), want) << p.src << " -> " << p.dst;
      r.reset();
      EXPECT_EQ(stream(r, x, [] { return 16; }), whole) << p.src << " -> " << p.dst << " sse " << sse;
      r.reset();
      std::mt19937 rng(3);
      std::uniform_int_distribution<uint32_t> size(0, 4096);
      EXPECT_EQ(stream(r, x, [&] { return size(rng); }, true), whole) << p.src << " -> " << p.dst;
    }
  }
}

TEST(PolyphaseResampler, PassBandToneKeepsFrequencyLevelAndPurity) {
  // A 5 s tone at 0.9 of the lower Nyquist frequency (the pass band's
  // promise) and one at 1 kHz; the Kaiser design holds the pass band within
  // about 10^(-100/20) of unity, float sums add ~1e-7 of noise.
  for (const Rates& p : {Rates{44100, 48000}, Rates{48000, 22050}, Rates{44101, 48000}}) {
    const double nyquist = 0.5 * std::min(p.src, p.dst);
    for (double f : {1000.0, 0.9 * nyquist}) {
      PolyphaseResampler r;
      ASSERT_TRUE(r.configure(p.src, p.dst, 1, 4096));
      const std::vector<float> x = dspfx::test::sineFloat(f, p.src, size_t{p.src} * 5, 0.5);
      const std::vector<float> y = stream(r, x, [] { return 1000; });
      const size_t skip = p.dst / 10;
      const auto fit = fitSine(y.data() + skip, y.size() - skip, f, p.dst);
      EXPECT_NEAR(dspfx::test::toDb(fit.amplitude / 0.5), 0.0, 0.001) << p.src << " -> " << p.dst << " at " << f;
      EXPECT_LT(dspfx::test::toDb(fit.residualRms / (0.5 / std::sqrt(2.0))), -100.0)
          << p.src << " -> " << p.dst << " at " << f;
      const double measured = dspfx::test::toneFrequency(y.data() + skip, y.size() - skip, p.dst, f);
      EXPECT_NEAR(measured / f, 1.0, 1e-9) << p.src << " -> " << p.dst << " at " << f;
    }
  }
}

TEST(PolyphaseResampler, DownSamplingLetsNothingFoldBack) {
  // Full-scale tones between the new Nyquist frequency (11025 Hz) and the
  // old one: whatever comes out is alias, and must stay below -90 dBFS.
  for (double f : {11100.0, 12000.0, 16000.0, 23900.0}) {
    PolyphaseResampler r;
    ASSERT_TRUE(r.configure(48000, 22050, 1, 4096));
    const std::vector<float> x = dspfx::test::sineFloat(f, 48000, 96000, 1.0);
    const std::vector<float> y = stream(r, x, [] { return 4096; });
    const size_t skip = 2 * r.taps();
    float peak = 0;
    for (size_t i = skip; i < y.size(); ++i) peak = std::max(peak, std::fabs(y[i]));
    EXPECT_LT(dspfx::test::toDb(peak), -90.0) << f << " Hz";
  }
}

TEST(PolyphaseResampler, SseAndPortableSumsAgreeWithinFloatRounding) {
  // The portable form sums in double; the SSE form in float over 8 lanes of
  // at most n / 8 + 1 terms each, then 3 levels of lane sums, then the final
  // rounding. Each float operation rounds by at most 2^-24 of a magnitude
  // that never exceeds sum |c * x| (the products too), so the difference is
  // bounded by (n / 8 + 5) * 2^-24 * sum |c * x| plus half a unit of the
  // result.
  PolyphaseResampler r;
  ASSERT_TRUE(r.configure(48000, 22050, 1, 64));
  const uint32_t n = r.taps();
  const std::vector<float> x = dspfx::test::noiseFloat(n, 11, 1.0f);
  for (uint32_t row = 0; row + 1 < r.rows(); ++row) {
    const float* c = r.row(row);
    const float* c1 = r.row(row + 1);
    double mag = 0, mag1 = 0;
    for (uint32_t m = 0; m < n; ++m) mag += std::fabs(double{c[m]} * x[m]), mag1 += std::fabs(double{c1[m]} * x[m]);
    const double bound = (n / 8.0 + 5) * std::ldexp(1.0, -24) * std::max(mag, mag1);
    const float a = PolyphaseResampler::dotScalar(c, x.data(), n);
    const float b = PolyphaseResampler::dotSse(c, x.data(), n);
    EXPECT_LE(std::fabs(double{a} - b), bound + std::ldexp(std::fabs(a), -24)) << "row " << row;
    float pa = 0, pb = 0;
    PolyphaseResampler::dotPairSse(c, x.data(), x.data() + 0, n, &pa, &pb);
    EXPECT_EQ(pa, b);  // the pair path sums in dotSse's order
    // The blend takes two such sums and one difference: three bounds.
    const float ba = PolyphaseResampler::blendScalar(c, c1, x.data(), n, 0.3f);
    const float bb = PolyphaseResampler::blendSse(c, c1, x.data(), n, 0.3f);
    EXPECT_LE(std::fabs(double{ba} - bb), 3 * bound + std::ldexp(std::fabs(ba), -23)) << "row " << row;
  }
  EXPECT_GT(r.rows(), 100u);
}

TEST(PolyphaseResampler, EqualRatesCopyAndBadSetupsRefuse) {
  PolyphaseResampler r;
  ASSERT_TRUE(r.configure(44100, 44100, 1, 16));
  const std::vector<float> x = dspfx::test::noiseFloat(16, 1);
  std::vector<float> y(16);
  EXPECT_EQ(r.processChannel(0, x.data(), 16, y.data(), 16), 16u);
  EXPECT_EQ(y, x);
  EXPECT_EQ(r.latency(), 0.0);

  EXPECT_FALSE(r.configure(0, 48000, 1, 16));
  EXPECT_EQ(r.processChannel(0, x.data(), 16, y.data(), 16), 0u);
  EXPECT_FALSE(r.configure(44100, 48000, 3, 16));
  EXPECT_FALSE(r.configureRatio(0.0, 1, 16));
  EXPECT_FALSE(r.configureRatio(std::nan(""), 1, 16));

  // A free ratio keeps exact time over its 2^24 denominator: pitch 2^(1/12).
  ASSERT_TRUE(r.configureRatio(std::pow(2.0, -1.0 / 12), 1, 512));
  const std::vector<float> tone = dspfx::test::sineFloat(440, 44100, 44100 * 4, 0.5);
  const std::vector<float> out = stream(r, tone, [] { return 300; });
  const double want = 440 * std::pow(2.0, 1.0 / 12);
  EXPECT_NEAR(dspfx::test::toneFrequency(out.data() + 1000, out.size() - 1000, 44100, want) / want, 1.0, 1e-6);
}

}  // namespace

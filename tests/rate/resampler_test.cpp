#include "rate/resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "common/test_support.h"
#include "dspfx/dspfx.h"
#include "rate/rate_converter.h"

namespace dspfx {
namespace {

constexpr float kNan = std::numeric_limits<float>::quiet_NaN();

Resampler& object(DspEffect* h) { return *reinterpret_cast<Resampler*>(h); }

std::vector<float> ramp(uint32_t n, float first = 0.0f) {
  std::vector<float> x(n);
  for (uint32_t k = 0; k < n; ++k) x[k] = first + static_cast<float>(k);
  return x;
}

// A converter without anti-alias filter, so outputs are pure interpolation.
struct Plain {
  Plain(uint32_t capacity, uint32_t src, uint32_t dst, int32_t mode) {
    maxDst = c.configure(capacity, src, dst, mode, 60.0f, 60.0f, false, 0.1f);
  }
  RateConverter c;
  uint32_t maxDst;
};

TEST(Resampler, CubicWeightIsTheKernelWithMinusOne) {
  EXPECT_EQ(cubicWeight(0.0f), 1.0);
  EXPECT_EQ(cubicWeight(1.0f), 0.0);
  EXPECT_EQ(cubicWeight(2.0f), 0.0);
  EXPECT_EQ(cubicWeight(7.5f), 0.0);
  EXPECT_EQ(cubicWeight(0.5f), 0.625);
  EXPECT_EQ(cubicWeight(-0.5f), 0.625);
  EXPECT_EQ(cubicWeight(1.5f), -0.125);
  EXPECT_EQ(cubicWeight(kNan), 0.0);
  // The four weights of any fraction sum to 1 (a constant passes unchanged).
  for (float f : {0.1f, 0.25f, 0.7f, 0.91875f}) {
    EXPECT_NEAR(cubicWeight(1 + f) + cubicWeight(f) + cubicWeight(f - 1) + cubicWeight(f - 2), 1.0,
                1e-7);
  }
}

TEST(Resampler, SizesFollowTheDivisionFirstRule) {
  DspEffect* h = initResampler(4410, 2, 2, 44100, 48000, 0, 60.0f, 60.0f, 1);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(getResamplerDstSize(h, 4410), 4800u);
  EXPECT_EQ(getResamplerDstSize(h, 1024), 1114u);
  EXPECT_EQ(getResamplerDstSize(h, 0), 0u);
  EXPECT_EQ(object(h).outFrames, 4800u);
  EXPECT_EQ(termResampler(h), 1u);

  h = initResampler(64, 1, 1, 44100, 44100, 0, 60.0f, 60.0f, 1);
  ASSERT_NE(h, nullptr);
  // (15 / 44100) * 44100 is 14.999999999999998.
  EXPECT_EQ(getResamplerDstSize(h, 15), 14u);
  std::vector<int16_t> in(15);
  for (int i = 0; i < 15; ++i) in[i] = static_cast<int16_t>(1000 * i - 7000);
  test::Guarded<int16_t> out(15, 999);
  EXPECT_EQ(doResampler(h, in.data(), out.get(), 30), 28u);
  for (int i = 0; i < 14; ++i) EXPECT_EQ(out.data[i], in[i]) << i;
  EXPECT_TRUE(out.intact());
  EXPECT_EQ(termResampler(h), 1u);

  EXPECT_EQ(scaleCount(100, 0, 48000), 0u);
  EXPECT_EQ(scaleCount(4294967295.0, 1, 48000), UINT32_MAX);
}

TEST(Resampler, LinearTwoToOneRamp) {
  Plain p(1024, 22050, 44100, 0);
  const auto x = ramp(1024);
  std::vector<float> out(p.maxDst + 1, -1.0f);
  ASSERT_EQ(p.c.convert(x.data(), out.data(), 1024), 2048u);
  for (uint32_t i = 0; i <= 2045; ++i) ASSERT_EQ(out[i], 0.5f * i) << i;
  // The left index stops at chunk - 2, with fraction 0 there.
  EXPECT_EQ(out[2046], 1022.0f);
  EXPECT_EQ(out[2047], 1023.0f);
  EXPECT_EQ(out[2048], -1.0f);
}

TEST(Resampler, ChunksRestartTheirPositionAndEndOnTheirLastSample) {
  struct Case {
    uint32_t src, dst, chunkDst;
  };
  for (Case c : {Case{44100, 48000, 4458}, Case{48000, 44100, 3763}, Case{22050, 48000, 8916}}) {
    SCOPED_TRACE(::testing::Message() << c.src << " -> " << c.dst);
    for (int32_t mode : {0, 1}) {
      Plain p(8192, c.src, c.dst, mode);
      const auto x = ramp(8192, 1.0f);
      std::vector<float> out(p.maxDst, kNan);
      const uint32_t total = p.c.convert(x.data(), out.data(), 8192);
      ASSERT_EQ(total, scaleCount(8192, c.src, c.dst));
      if (mode == 0) {
        EXPECT_EQ(out[0], 1.0f);
        EXPECT_EQ(out[c.chunkDst - 1], x[4095]);
        EXPECT_EQ(out[c.chunkDst], x[4096]);
      } else {
        // Cubic: history zeros first, and the chunk ends on x[chunk - 3].
        EXPECT_EQ(out[0], 0.0f);
        EXPECT_EQ(out[c.chunkDst - 1], x[4093]);
        // The second chunk starts from the carried samples: h[1] = x[4094].
        EXPECT_EQ(out[c.chunkDst], x[4094]);
      }
      EXPECT_EQ(out[total - 1], mode == 0 ? x[8191] : x[8189]);
    }
  }
}

TEST(Resampler, CubicTrailsTheInputByTwoSamplesAcrossCalls) {
  Plain p(512, 22050, 44100, 1);
  const auto x = ramp(1024, 1.0f);
  std::vector<float> out(1024);
  ASSERT_EQ(p.c.convert(x.data(), out.data(), 512), 1024u);
  EXPECT_EQ(out[0], 0.0f);
  EXPECT_EQ(out[2], 0.0f);
  // Even outputs land on source samples: out[2i] = x[i - 2].
  for (uint32_t i = 2; i < 511; ++i) ASSERT_EQ(out[2 * i], x[i - 2]) << i;
  EXPECT_EQ(out[1023], x[509]);
  // The next call starts where the history left off.
  ASSERT_EQ(p.c.convert(x.data() + 512, out.data(), 512), 1024u);
  EXPECT_EQ(out[0], x[510]);
  EXPECT_EQ(out[2], x[511]);
  EXPECT_EQ(out[4], x[512]);
  // Between samples the cubic is exact on a ramp.
  EXPECT_FLOAT_EQ(out[5], 0.5f * (x[512] + x[513]));
}

TEST(Resampler, LastChunkTakesEverythingThatRemains) {
  // Five chunks at 4458.23 outputs each: the four truncations leave the last
  // chunk one more frame than chunkDst.
  const uint32_t frames = 5 * 4096;
  Plain p(frames, 44100, 48000, 0);
  const auto x = ramp(frames, 1.0f);
  std::vector<float> out(p.maxDst + 1, kNan);
  const uint32_t total = p.c.convert(x.data(), out.data(), frames);
  ASSERT_EQ(total, 22291u);
  for (uint32_t i = 0; i < total; ++i) ASSERT_FALSE(std::isnan(out[i])) << i;
  EXPECT_EQ(out[total - 1], x[frames - 1]);
  EXPECT_TRUE(std::isnan(out[total]));

  // 4097 frames halved: the one-frame second chunk yields nothing.
  Plain d(4097, 44100, 22050, 0);
  std::vector<float> half(d.maxDst + 1, kNan);
  const auto y = ramp(4097, 1.0f);
  ASSERT_EQ(d.c.convert(y.data(), half.data(), 4097), 2048u);
  EXPECT_EQ(half[2047], y[4095]);
  EXPECT_TRUE(std::isnan(half[2048]));
}

TEST(Resampler, AntiAliasFilterDesign) {
  DspEffect* h = initResampler(1024, 2, 2, 44100, 22050, 0, 60.0f, 60.0f, 1);
  ASSERT_NE(h, nullptr);
  for (const RateConverter& c : object(h).converters) {
    EXPECT_EQ(c.direction, -1);
    EXPECT_EQ(c.filter.order, 8);
    EXPECT_EQ(c.filter.cutoff, 5512.5f);
    EXPECT_EQ(c.filter.sampleRate, 44100.0f);  // runs at the higher rate
    EXPECT_EQ(c.filter.rippleDb, 0.1f);
  }
  EXPECT_EQ(termResampler(h), 1u);

  // A 15 kHz tone cannot exist at 22050 Hz: the filter removes it (60 dB at
  // 11025 Hz and more beyond) instead of folding it down to 7050 Hz.
  const auto tone = test::sinePcm(15000, 44100, 4096, 1, 0.5);
  for (uint8_t aa : {0, 1}) {
    h = initResampler(4096, 1, 1, 44100, 22050, 0, 60.0f, 60.0f, aa);
    ASSERT_NE(h, nullptr);
    std::vector<int16_t> out(2048);
    ASSERT_EQ(doResampler(h, tone.data(), out.data(), 8192), 4096u);
    double energy = 0;
    for (size_t i = 512; i < out.size(); ++i) energy += static_cast<double>(out[i]) * out[i];
    const double rms = std::sqrt(energy / (out.size() - 512)) / 32767.0;
    // Unfiltered, the alias keeps most of the 0.354 rms of the tone.
    if (aa) {
      EXPECT_LT(rms, 0.354 * 1e-3);
    }
    if (!aa) {
      EXPECT_GT(rms, 0.1);
    }
    EXPECT_EQ(termResampler(h), 1u);
  }
}

TEST(Resampler, SineFrequencySurvivesConversion) {
  struct Case {
    uint32_t src, dst;
    double freq;
  };
  for (Case c : {Case{44100, 48000, 1000}, Case{48000, 44100, 2500}, Case{22050, 48000, 440},
                 Case{48000, 22050, 3000}}) {
    for (int32_t mode : {0, 1}) {
      SCOPED_TRACE(::testing::Message()
                   << c.src << " -> " << c.dst << " Hz, " << c.freq << " Hz tone, mode " << mode);
      const uint32_t frames = 4096;
      DspEffect* h = initResampler(frames, 2, 2, c.src, c.dst, mode, 60.0f, 60.0f, 1);
      ASSERT_NE(h, nullptr);
      const auto in = test::sinePcm(c.freq, c.src, 3 * frames, 2, 0.5);
      std::vector<int16_t> out(size_t{3} * (getResamplerDstSize(h, frames) + 1) * 2);
      size_t written = 0;
      for (size_t b = 0; b < 3; ++b) {
        written += doResampler(h, in.data() + b * frames * 2, out.data() + written,
                               frames * 4) / 2;
      }
      EXPECT_EQ(written, size_t{3} * getResamplerDstSize(h, frames) * 2);
      // Block restarts shift the phase by a fraction of a sample at most:
      // 0.1 % of the frequency.
      const double f = test::zeroCrossingFrequency(out.data(), written / 2, c.dst, 2, 256);
      EXPECT_NEAR(f, c.freq, c.freq * 1e-3);
      const double fr = test::zeroCrossingFrequency(out.data() + 1, written / 2, c.dst, 2, 256);
      EXPECT_NEAR(fr, c.freq, c.freq * 1e-3);
      EXPECT_EQ(termResampler(h), 1u);
    }
  }
}

TEST(Resampler, ChannelCountsOnTheWayOut) {
  std::vector<int16_t> mono(1000), stereo(2000);
  for (int i = 0; i < 1000; ++i) {
    mono[i] = static_cast<int16_t>(10 * i);
    stereo[2 * i] = static_cast<int16_t>(10 * i);
    stereo[2 * i + 1] = static_cast<int16_t>(-10 * i);
  }
  DspEffect* up = initResampler(1000, 1, 2, 22050, 44100, 0, 60.0f, 60.0f, 0);
  ASSERT_NE(up, nullptr);
  test::Guarded<int16_t> out(4000, 4242);
  ASSERT_EQ(doResampler(up, mono.data(), out.get(), 2000), 2000u * 4);
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(out.data[2 * i], out.data[2 * i + 1]) << i;
  EXPECT_EQ(out.data[2], 5);  // halfway between 0 and 10
  EXPECT_TRUE(out.intact());

  DspEffect* down = initResampler(1000, 2, 1, 22050, 44100, 0, 60.0f, 60.0f, 0);
  ASSERT_NE(down, nullptr);
  test::Guarded<int16_t> single(2000, 4242);
  ASSERT_EQ(doResampler(down, stereo.data(), single.get(), 4000), 2000u * 2);
  // Written from the left buffer alone.
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(single.data[i], out.data[2 * i]) << i;
  EXPECT_TRUE(single.intact());
  EXPECT_EQ(termResampler(up), 1u);
  EXPECT_EQ(termResampler(down), 1u);
}

TEST(Resampler, FilterStateCarriesAcrossCallsAndSetupResets) {
  const auto in = test::sinePcm(3000, 48000, 512, 2, 0.7);
  auto run = [&](DspEffect* h) {
    std::vector<int16_t> out(2 * getResamplerDstSize(h, 512));
    doResampler(h, in.data(), out.data(), 2048);
    return out;
  };
  DspEffect* a = initResampler(512, 2, 2, 48000, 44100, 1, 80.0f, 100.0f, 1);
  DspEffect* fresh = initResampler(512, 2, 2, 48000, 44100, 1, 80.0f, 100.0f, 1);
  ASSERT_TRUE(a && fresh);
  const auto first = run(fresh);
  EXPECT_EQ(run(a), first);
  // The filter state and the cubic history from the first block shape the
  // second one.
  EXPECT_NE(run(a), first);
  Resampler& e = object(a);
  EXPECT_EQ(e.setup(512, 2, 48000), 48000u);
  EXPECT_EQ(run(a), first);

  // A chain setup to a new format: same destination rate, channels written
  // follow the channels read, buffers big enough for the new maxDst.
  e.setup(2000, 1, 8000);
  EXPECT_EQ(e.outRate, 44100u);
  EXPECT_EQ(e.inRate, 8000u);
  EXPECT_EQ(e.outChannels, 1u);
  EXPECT_EQ(e.outFrames, scaleCount(2000, 8000, 44100));
  const auto tone = test::sinePcm(500, 8000, 2000, 1);
  test::Guarded<int16_t> out(e.outFrames, 31);
  EXPECT_EQ(doResampler(a, tone.data(), out.get(), 4000), e.outFrames * 2);
  EXPECT_TRUE(out.intact());
  EXPECT_EQ(termResampler(a), 1u);
  EXPECT_EQ(termResampler(fresh), 1u);
}

TEST(Resampler, MisuseIsRefused) {
  EXPECT_EQ(initResampler(256, 2, 2, 0, 48000, 0, 60.0f, 60.0f, 1), nullptr);
  EXPECT_EQ(initResampler(256, 2, 2, 44100, 0, 0, 60.0f, 60.0f, 1), nullptr);
  EXPECT_EQ(initResampler(256, 2, 2, 44100, 48000, 0, 60.0f, 0.0f, 1), nullptr);
  EXPECT_EQ(initResampler(256, 2, 2, 44100, 48000, 0, 60.0f, -6.0f, 1), nullptr);
  EXPECT_EQ(initResampler(256, 2, 2, 44100, 48000, 0, 60.0f, kNan, 1), nullptr);
  EXPECT_EQ(initResampler(256, 2, 2, 44100, 48000, 0, 0.1f, 60.0f, 1), nullptr);
  EXPECT_EQ(initResampler(256, 2, 2, 44100, 48000, 0, kNan, 60.0f, 1), nullptr);
  EXPECT_EQ(initResampler(0x7FFFFFFFu, 2, 2, 44100, 48000, 0, 60.0f, 60.0f, 1), nullptr);

  // Absurd but accepted parameters still give a finite, bounded filter.
  const float inf = std::numeric_limits<float>::infinity();
  for (float slope : {1e-6f, 1e6f, inf}) {
    DspEffect* h = initResampler(256, 1, 1, 44100, 8000, 1, 200.0f, slope, 1);
    ASSERT_NE(h, nullptr) << slope;
    EXPECT_LE(object(h).converters[0].filter.order, RateConverter::kMaxFilterOrder);
    const auto in = test::sinePcm(1000, 44100, 256, 1);
    test::Guarded<int16_t> out(getResamplerDstSize(h, 256), 5);
    EXPECT_EQ(doResampler(h, in.data(), out.get(), 512), out.size * 2);
    EXPECT_TRUE(out.intact());
    EXPECT_EQ(termResampler(h), 1u);
  }

  DspEffect* h = initResampler(256, 2, 2, 44100, 48000, 1, 60.0f, 60.0f, 1);
  ASSERT_NE(h, nullptr);
  std::vector<int16_t> in(1024, 100);
  test::Guarded<int16_t> out(1024, 7);
  std::fill(out.data.begin(), out.data.end(), int16_t{7});
  EXPECT_EQ(doResampler(h, in.data(), out.get(), 0), 0u);
  EXPECT_EQ(doResampler(h, nullptr, nullptr, 0), 0u);
  EXPECT_EQ(doResampler(h, in.data(), out.get(), 257 * 4), 0u);  // above capacity
  EXPECT_EQ(doResampler(h, nullptr, out.get(), 64), 0u);
  EXPECT_EQ(doResampler(h, in.data(), nullptr, 64), 0u);
  for (int16_t v : out.data) ASSERT_EQ(v, 7);
  // 7 bytes hold one stereo frame: 1 output frame at this ratio.
  EXPECT_EQ(doResampler(h, in.data(), out.get(), 7), 4u);
  EXPECT_EQ(out.data[2], 7);

  DspEffect* iir = initIirFilter(256, 2, 44100, 2, 1000.0f, 0);
  ASSERT_NE(iir, nullptr);
  EXPECT_EQ(doResampler(iir, in.data(), out.get(), 64), 0u);
  EXPECT_EQ(getResamplerDstSize(iir, 100), 0u);
  EXPECT_EQ(termResampler(iir), 0u);
  EXPECT_EQ(termIirFilter(iir), 1u);
  EXPECT_EQ(getResamplerDstSize(nullptr, 100), 0u);
  EXPECT_EQ(termResampler(h), 1u);
  EXPECT_EQ(termResampler(h), 0u);
  EXPECT_EQ(getResamplerDstSize(h, 100), 0u);
}

}  // namespace
}  // namespace dspfx

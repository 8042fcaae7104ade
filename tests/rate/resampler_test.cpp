#include "rate/resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "common/test_support.h"
#include "core/exports/export_call.h"
#include "dspfx/dspfx.h"

namespace dspfx {
namespace {

constexpr float kNan = std::numeric_limits<float>::quiet_NaN();

Resampler& object(DspEffect* h) { return *dspfx::effectOf<Resampler>(h); }

DspEffect* make(uint32_t frames, uint32_t channels, uint32_t outChannels, uint32_t src, uint32_t dst,
                int32_t mode = 0, float stop = 60.0f, float slope = 60.0f, uint8_t antiAlias = 1) {
  return initResampler(frames, channels, outChannels, src, dst, mode, stop, slope, antiAlias);
}

std::vector<float> ramp(uint32_t n, float first) {
  std::vector<float> x(n);
  for (uint32_t k = 0; k < n; ++k) x[k] = first + static_cast<float>(k);
  return x;
}

// A converter without anti-alias filter: outputs are pure interpolation.
struct Plain {
  Plain(uint32_t capacity, uint32_t src, uint32_t dst, int32_t mode)
      : maxDst(c.configure(capacity, src, dst, mode, 60.0f, 60.0f, false, 0.1f)) {}
  RateConverter c;
  uint32_t maxDst;
};

TEST(Resampler, CubicWeightAndSizeRule) {
  EXPECT_EQ(cubicWeight(-0.5f), 0.625);
  EXPECT_EQ(cubicWeight(1.5f), -0.125);
  EXPECT_EQ(cubicWeight(2.5f) + cubicWeight(kNan), 0.0);
  EXPECT_EQ(scaleCount(100, 0, 48000), 0u);
  EXPECT_EQ(scaleCount(4294967295.0, 1, 48000), UINT32_MAX);

  DspEffect* h = make(4410, 2, 2, 44100, 48000);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(getResamplerDstSize(h, 1024), 1114u);
  EXPECT_EQ(object(h).outFrames, 4800u);
  EXPECT_EQ(termResampler(h), 1u);

  // Equal rates copy, but the count follows the rule: 15 frames report 14.
  h = make(15, 1, 1, 44100, 44100);
  ASSERT_NE(h, nullptr);
  std::vector<int16_t> in(15);
  for (int i = 0; i < 15; ++i) in[i] = static_cast<int16_t>(1000 * i - 7000);
  test::Guarded<int16_t> out(14, 999);
  EXPECT_EQ(doResampler(h, in.data(), out.get(), 30), 28u);
  for (int i = 0; i < 14; ++i) EXPECT_PCM(out.data[i], in[i]);
  EXPECT_TRUE(out.intact());
  EXPECT_EQ(termResampler(h), 1u);
}

TEST(Resampler, ChunksRestartAndEndOnTheirLastSample) {
  struct Case {
    uint32_t src, dst, chunkDst;
  };
  for (Case c : {Case{44100, 48000, 4458}, Case{48000, 44100, 3763}, Case{22050, 44100, 8192}}) {
    for (int32_t mode : {0, 1}) {
      SCOPED_TRACE(::testing::Message() << c.src << " -> " << c.dst << " mode " << mode);
      Plain p(8192, c.src, c.dst, mode);
      const auto x = ramp(8192, 1.0f);
      std::vector<float> out(p.maxDst, kNan);
      const uint32_t total = p.c.convert(x.data(), out.data(), 8192);
      ASSERT_EQ(total, scaleCount(8192, c.src, c.dst));
      // Cubic lags by two samples: zeros first, a chunk ends on x[chunk - 3],
      // the next one starts from the carried x[chunk - 2].
      EXPECT_EQ(out[0], mode == 0 ? 1.0f : 0.0f);
      EXPECT_EQ(out[c.chunkDst - 1], x[mode == 0 ? 4095 : 4093]);
      EXPECT_EQ(out[c.chunkDst], x[mode == 0 ? 4096 : 4094]);
      EXPECT_EQ(out[total - 1], x[mode == 0 ? 8191 : 8189]);
    }
  }
}

// The converter keeps each chunk's indices and weights in a table when they
// fit (44100 -> 48000) and computes them as it goes otherwise (8000 ->
// 48000); either way every output must be the formula's, bit for bit, taken
// from positions summed step by step. At 8000 Hz the last positions pass
// chunk - 2, where the linear form holds its left index.
TEST(Resampler, InterpolationIsTheFormulaBitForBit) {
  const auto x = test::noiseFloat(9000, 3);
  for (uint32_t src : {44100u, 8000u}) {
    for (int32_t mode : {0, 1}) {
      SCOPED_TRACE(::testing::Message() << src << " Hz, mode " << mode);
      Plain p(9000, src, 48000, mode);
      std::vector<float> got(p.maxDst);
      const uint32_t total = p.c.convert(x.data(), got.data(), 9000);
      const double step = src / 48000.0;
      std::vector<float> h(3, 0.0f);  // cubic: the three samples carried in
      uint32_t at = 0;
      for (uint32_t first = 0; first < 9000; first += 4096) {
        const uint32_t chunk = std::min(9000u - first, 4096u);
        const uint32_t count = first + chunk == 9000 ? total - at : scaleCount(4096, src, 48000);
        h.insert(h.end(), x.begin() + first, x.begin() + first + chunk);
        double pos = mode == 0 ? 0.0 : 1.0;
        for (uint32_t i = 0; i + 1 < count; ++i, pos += step) {
          const double whole = std::floor(pos), f = pos - whole;
          const uint32_t j = std::min(static_cast<uint32_t>(whole), chunk - 2 + mode);
          const float want =
              mode == 0 ? static_cast<float>(f * (double{x[first + j + 1]} - x[first + j]) + x[first + j])
                        : static_cast<float>(h[j - 1] * cubicWeight(static_cast<float>(1.0 + f)) +
                                             h[j] * cubicWeight(static_cast<float>(f)) +
                                             h[j + 1] * cubicWeight(static_cast<float>(f - 1.0)) +
                                             h[j + 2] * cubicWeight(static_cast<float>(f - 2.0)));
          ASSERT_EQ(got[at + i], want) << "output " << at + i;
        }
        at += count;
        h.erase(h.begin(), h.end() - 3);
      }
      ASSERT_EQ(at, total);
    }
  }
}

TEST(Resampler, LastChunkTakesEverythingThatRemains) {
  // Five chunks at 4458.23 outputs: the truncations leave the last one more.
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
  ASSERT_EQ(d.c.convert(x.data(), half.data(), 4097), 2048u);
  EXPECT_EQ(half[2047], x[4095]);
  EXPECT_TRUE(std::isnan(half[2048]));
}

TEST(Resampler, AntiAliasFilter) {
  // 15 kHz has no place at 22050 Hz: filtered (60 dB down from 11025 Hz on)
  // rather than folded to 7050 Hz, where it would keep most of its 0.354 rms.
  const auto tone = test::sinePcm(15000, 44100, 4096, 1, 0.5);
  for (uint8_t aa : {0, 1}) {
    DspEffect* h = make(4096, 1, 1, 44100, 22050, 0, 60.0f, 60.0f, aa);
    std::vector<int16_t> out(2048);
    ASSERT_EQ(doResampler(h, tone.data(), out.data(), 8192), 4096u);
    double energy = 0;
    for (size_t i = 512; i < out.size(); ++i) energy += static_cast<double>(out[i]) * out[i];
    const double rms = std::sqrt(energy / (out.size() - 512)) / 32767.0;
    EXPECT_TRUE(aa ? rms < 0.354e-3 : rms > 0.1) << "anti-alias " << int{aa} << " rms " << rms;
    EXPECT_EQ(termResampler(h), 1u);
  }
}

TEST(Resampler, SineFrequencySurvivesConversion) {
  struct Case {
    uint32_t src, dst;
    double freq;
  };
  for (Case c : {Case{44100, 48000, 1000}, Case{48000, 22050, 3000}, Case{22050, 48000, 440}}) {
    for (int32_t mode : {0, 1}) {
      SCOPED_TRACE(::testing::Message() << c.src << " -> " << c.dst << ", " << c.freq << " Hz");
      DspEffect* h = make(4096, 2, 2, c.src, c.dst, mode);
      const auto in = test::sinePcm(c.freq, c.src, 3 * 4096, 2, 0.5);
      std::vector<int16_t> out(size_t{3} * getResamplerDstSize(h, 4096) * 2);
      size_t samples = 0;
      for (size_t b = 0; b < 3; ++b) {
        samples += doResampler(h, in.data() + b * 8192, out.data() + samples, 4096 * 4) / 2;
      }
      ASSERT_EQ(samples, out.size());
      // Block restarts move the phase by under a sample: within 0.1 %.
      for (size_t ch = 0; ch < 2; ++ch) {
        EXPECT_NEAR(test::zeroCrossingFrequency(out.data() + ch, samples / 2, c.dst, 2, 256), c.freq, c.freq * 1e-3);
      }
      EXPECT_EQ(termResampler(h), 1u);
    }
  }
}

TEST(Resampler, ChannelCountsOnTheWayOut) {
  std::vector<int16_t> mono(1000), stereo(2000);
  for (int i = 0; i < 1000; ++i) {
    mono[i] = stereo[2 * i] = static_cast<int16_t>(10 * i);
    stereo[2 * i + 1] = static_cast<int16_t>(-10 * i);
  }
  DspEffect* up = make(1000, 1, 2, 22050, 44100, 0, 60.0f, 60.0f, 0);
  DspEffect* down = make(1000, 2, 1, 22050, 44100, 0, 60.0f, 60.0f, 0);
  test::Guarded<int16_t> two(4000, 4242), one(2000, 4242);
  ASSERT_EQ(doResampler(up, mono.data(), two.get(), 2000), 2000u * 4);
  ASSERT_EQ(doResampler(down, stereo.data(), one.get(), 4000), 2000u * 2);
  EXPECT_PCM(two.data[2], 5);  // halfway between 0 and 10
  for (int i = 0; i < 2000; ++i) {
    ASSERT_EQ(two.data[2 * i], two.data[2 * i + 1]) << i;
    ASSERT_EQ(one.data[i], two.data[2 * i]) << i;  // from the left buffer
  }
  EXPECT_TRUE(two.intact() && one.intact());
  EXPECT_EQ(termResampler(up) + termResampler(down), 2u);
}

TEST(Resampler, StateCarriesAcrossCallsAndSetupResets) {
  const auto in = test::sinePcm(3000, 48000, 512, 2, 0.7);
  auto run = [&](DspEffect* h) {
    std::vector<int16_t> out(2 * getResamplerDstSize(h, 512));
    doResampler(h, in.data(), out.data(), 2048);
    return out;
  };
  DspEffect* a = make(512, 2, 2, 48000, 44100, 1, 80.0f, 100.0f);
  DspEffect* fresh = make(512, 2, 2, 48000, 44100, 1, 80.0f, 100.0f);
  const auto first = run(fresh);
  EXPECT_EQ(run(a), first);
  EXPECT_NE(run(a), first);  // filter state and history of the first block
  Resampler& e = object(a);
  EXPECT_EQ(e.setup(512, 2, 48000), 48000u);
  EXPECT_EQ(run(a), first);

  // A new format: destination kept, channels written follow those read
  // (two bytes a frame), and the outputs grow to the new maxDst.
  e.setup(2000, 1, 8000);
  EXPECT_EQ(e.outRate, 44100u);
  EXPECT_EQ(e.outFrames, scaleCount(2000, 8000, 44100));
  const auto tone = test::sinePcm(500, 8000, 2000, 1);
  test::Guarded<int16_t> out(e.outFrames, 31);
  EXPECT_EQ(doResampler(a, tone.data(), out.get(), 4000), e.outFrames * 2);
  EXPECT_TRUE(out.intact());
  EXPECT_EQ(termResampler(a) + termResampler(fresh), 2u);
}

TEST(Resampler, MisuseIsRefused) {
  const struct {
    uint32_t frames, src, dst;
    float stop, slope;
  } refused[] = {{256, 0, 48000, 60, 60},     {256, 44100, 0, 60, 60},    {256, 44100, 48000, 60, 0},
                 {256, 44100, 48000, 60, -6}, {256, 44100, 48000, 60, kNan}, {256, 44100, 48000, 0.1f, 60},
                 {256, 44100, 48000, kNan, 60}, {0x7FFFFFFFu, 44100, 48000, 60, 60}};
  for (const auto& r : refused) {
    EXPECT_EQ(make(r.frames, 2, 2, r.src, r.dst, 0, r.stop, r.slope), nullptr) << r.src << " " << r.stop << " " << r.slope;
  }
  // Absurd but accepted slopes still give a bounded, finite filter.
  for (float slope : {1e-6f, 1e6f, std::numeric_limits<float>::infinity()}) {
    DspEffect* h = make(256, 1, 1, 44100, 8000, 1, 200.0f, slope);
    ASSERT_NE(h, nullptr) << slope;
    EXPECT_LE(object(h).converters[0].filter.order, RateConverter::kMaxFilterOrder);
    const auto in = test::sinePcm(1000, 44100, 256, 1);
    test::Guarded<int16_t> out(getResamplerDstSize(h, 256), 5);
    EXPECT_EQ(doResampler(h, in.data(), out.get(), 512), out.size * 2);
    EXPECT_TRUE(out.intact());
    EXPECT_EQ(termResampler(h), 1u);
  }

  DspEffect* h = make(256, 2, 2, 44100, 48000, 1);
  std::vector<int16_t> in(1024, 100), out(1024, 7);
  EXPECT_EQ(doResampler(h, in.data(), out.data(), 0), 0u);
  EXPECT_EQ(doResampler(h, nullptr, nullptr, 0), 0u);
  EXPECT_EQ(doResampler(h, in.data(), out.data(), 257 * 4), 0u);  // above capacity
  EXPECT_EQ(doResampler(h, nullptr, out.data(), 64), 0u);
  EXPECT_EQ(doResampler(h, in.data(), nullptr, 64), 0u);
  EXPECT_EQ(std::count(out.begin(), out.end(), 7), 1024);
  EXPECT_EQ(doResampler(h, in.data(), out.data(), 7), 4u);  // one whole frame
  EXPECT_EQ(out[2], 7);

  DspEffect* iir = initIirFilter(256, 2, 44100, 2, 1000.0f, 0);
  ASSERT_EQ(termResampler(h), 1u);
  test::expectAllRefuse<DspEffect>({nullptr, iir, h}, [&](DspEffect* e) { return doResampler(e, in.data(), out.data(), 64); },
                                   [](DspEffect* e) { return getResamplerDstSize(e, 100); },
                                   [](DspEffect* e) { return termResampler(e); });
  EXPECT_EQ(termIirFilter(iir), 1u);
}

}  // namespace
}  // namespace dspfx

// The upsampler family through its exports, and its block paths.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "dsp/real_fft.h"
#include "common/test_support.h"
#include "core/exports/export_call.h"
#include "core/test_effects.h"
#include "dspfx/dspfx.h"
#include "rate/hqups_effect.h"
#include "dsp/rate_converter.h"

namespace {

using dspfx::HqupsEffect;
using dspfx::test::Guarded;
using dspfx::test::kPi;

// Anti-alias low-pass settings that leave 44100 Hz material up to ~18 kHz.
constexpr float kStopDb = 60;
constexpr float kSlope = 240;

DspEffect* bySrc(uint32_t frames, uint32_t channels, uint32_t outChannels, uint32_t rate, float harmonics,
                 float mix, int32_t mode, uint32_t highpass = 6000) {
  return initHqupsBySrcsize(frames, channels, outChannels, rate, harmonics, mix, highpass, 1, kStopDb, kSlope,
                            mode, 1);
}

HqupsEffect& object(DspEffect* h) { return *dspfx::effectOf<HqupsEffect>(h); }

// Interleaved PCM: two different sums of tones below 16 kHz.
std::vector<int16_t> bandLimitedPcm(uint32_t frames, uint32_t channels, double rate) {
  std::vector<int16_t> pcm(size_t{frames} * channels);
  for (uint32_t i = 0; i < frames; ++i) {
    const double t = 2 * kPi * i / rate;
    const double l = 0.2 * std::sin(5000 * t) + 0.2 * std::sin(7300 * t) + 0.1 * std::sin(900 * t);
    const double r = 0.25 * std::sin(6100 * t) + 0.15 * std::sin(15000 * t);
    pcm[size_t{i} * channels] = static_cast<int16_t>(32767 * l);
    if (channels == 2) pcm[size_t{i} * 2 + 1] = static_cast<int16_t>(32767 * r);
  }
  return pcm;
}

// Energy of one channel above hz relative to its whole energy, in dB, from
// Hann-windowed 1024-point transforms.
double energyAboveDb(const std::vector<int16_t>& pcm, uint32_t channel, double hz, double rate) {
  constexpr int32_t n = 1024;
  std::vector<float> table(dspfx::kFftTableFloats), frame(n);
  std::vector<int32_t> work(dspfx::kFftWorkInts, 0);
  double above = 0, total = 0;
  for (size_t at = 0; at + n <= pcm.size() / 2; at += n) {
    for (int32_t i = 0; i < n; ++i) {
      frame[i] = static_cast<float>(pcm[(at + i) * 2 + channel] * 0.5 * (1 - std::cos(2 * kPi * i / n)));
    }
    dspfx::realFft(n, frame.data(), work.data(), table.data());
    for (int32_t k = 1; k < n / 2; ++k) {
      const double p = double{frame[2 * k]} * frame[2 * k] + double{frame[2 * k + 1]} * frame[2 * k + 1];
      total += p;
      if (k * rate / n > hz) above += p;
    }
  }
  return 10 * std::log10(above / total + 1e-30);
}

TEST(Hqups, SizesAndByteCountsFollowTheRuleAndOutputChannels) {
  DspEffect* a = bySrc(4410, 2, 2, 44100, 0.3f, 50, 0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(getHqupsDstSize(a, 4410), 4800u);
  EXPECT_EQ(getHqupsSrcSize(a, 4800), 4410u);
  EXPECT_EQ(getHqupsSrcSize(a, 1000), 919u);
  EXPECT_EQ(getHqupsDstSize(a, UINT32_MAX), UINT32_MAX);  // saturates
  EXPECT_EQ(HqupsEffect::srcSize(1000, 0, 48000), 0u);
  EXPECT_EQ(HqupsEffect::srcSize(UINT32_MAX, 4000000000u, 48000), UINT32_MAX);
  EXPECT_EQ(termHqups(a), 1u);

  const auto in = bandLimitedPcm(1024, 2, 44100);
  const struct {
    uint32_t channels, outChannels, inBytes, outBytes;
  } cases[] = {{2, 2, 4096, 4456}, {1, 2, 2048, 4456}, {2, 1, 4096, 2228}, {1, 1, 2048, 2228},
               {2, 2, 4099, 4456},  // a partial frame is ignored
               {2, 5, 4096, 2228}};  // anything but 2 is one channel
  for (const auto& c : cases) {
    DspEffect* h = bySrc(1024, c.channels, c.outChannels, 44100, 0.4f, 100, 1);
    ASSERT_NE(h, nullptr);
    Guarded<int16_t> out(c.outBytes / 2, 0x5A5A);
    EXPECT_EQ(doHqups(h, in.data(), out.get(), c.inBytes), c.outBytes)
        << c.channels << " -> " << c.outChannels << " channels, " << c.inBytes << " bytes";
    EXPECT_TRUE(out.intact());
    EXPECT_EQ(termHqups(h), 1u);
  }
  // Sized by output frames: 1000 frames at 22050 Hz take 460 input frames,
  // which give 1001 (one correction step); everything holds the extra one.
  DspEffect* h = initHqups(1000, 1, 1, 22050, 0.4f, 100, 6000, 0, kStopDb, kSlope, 1, 1);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(getHqupsSrcSize(h, 1000), 460u);
  EXPECT_EQ(getHqupsDstSize(h, 460), 1001u);
  const auto mono = bandLimitedPcm(460, 1, 22050);
  Guarded<int16_t> out(1001, 0x5A5A);
  EXPECT_EQ(doHqups(h, mono.data(), out.get(), 920), 2002u);
  EXPECT_TRUE(out.intact());
  EXPECT_EQ(doHqups(h, mono.data(), out.get(), 922), 0u);  // 461 frames: above capacity
  EXPECT_EQ(termHqups(h), 1u);
}

// The exciter's own no-effect cases are checked here through the whole
// path: conversion first, then the exciter's delay alone.
TEST(Hqups, WithoutHarmonicsTheOutputIsTheDelayedConversion) {
  const auto pcm = bandLimitedPcm(1024, 1, 44100);
  std::vector<float> in(1024);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<float>(pcm[i] / 32767.0);
  for (int32_t mode : {0, 1, 9}) {
    const size_t delay = mode == 1 ? 16 : 8;  // other modes act as the fixed band
    for (auto [harmonics, mix] : {std::pair{0.0f, 100.0f}, std::pair{0.7f, 0.0f}}) {
      SCOPED_TRACE(testing::Message() << "mode " << mode << " harmonics " << harmonics << " mix " << mix);
      DspEffect* h = bySrc(1024, 1, 1, 44100, harmonics, mix, mode);
      ASSERT_NE(h, nullptr);
      HqupsEffect& e = object(h);
      dspfx::RateConverter ref;
      ref.configure(1024, 44100, 48000, 1, kStopDb, kSlope, true, 0.1f);
      std::vector<float> want(1114), prev;
      for (int block = 0; block < 2; ++block) {
        std::copy(in.begin(), in.end(), e.inL());
        ASSERT_EQ(e.process(e.inL(), e.inR(), e.outL(), e.outR(), 1024), 1114u);
        prev = want;
        ASSERT_EQ(ref.convert(in.data(), want.data(), 1024), 1114u);
        for (size_t i = 0; i < 1114; ++i) {
          const float w = i >= delay ? want[i - delay] : (block ? prev[1114 - delay + i] : 0.0f);
          ASSERT_EQ(e.outL()[i], w) << "block " << block << " at " << i;
        }
      }
      EXPECT_EQ(termHqups(h), 1u);
    }
  }
}

TEST(Hqups, EqualRatesAreCopiedThenExcited) {
  DspEffect* h = bySrc(27, 1, 1, 48000, 0.0f, 100, 0);
  ASSERT_NE(h, nullptr);
  HqupsEffect& e = object(h);
  EXPECT_EQ(e.outFrames, 26u);  // (27 / 48000) * 48000 truncates to 26
  for (size_t i = 0; i < 27; ++i) e.inL()[i] = 0.01f * static_cast<float>(i + 1);
  ASSERT_EQ(e.process(e.inL(), e.inR(), e.outL(), e.outR(), 27), 26u);
  for (size_t i = 0; i < 26; ++i) EXPECT_EQ(e.outL()[i], i < 8 ? 0.0f : 0.01f * static_cast<float>(i - 7)) << i;
  std::vector<int16_t> pcm(27, 1000), out(27, 0);
  EXPECT_EQ(doHqups(h, pcm.data(), out.data(), 54), 52u);
  EXPECT_EQ(termHqups(h), 1u);
}

TEST(Hqups, AddsEnergyAboveTheBandOnlyWithMix) {
  const uint32_t frames = 4096, blocks = 6;
  const auto in = bandLimitedPcm(frames * blocks, 2, 44100);
  ASSERT_LT(energyAboveDb(in, 0, 16000, 44100), -85.0);  // only the 16-bit noise floor
  auto upsample = [&](float mix, int32_t mode) {
    DspEffect* h = bySrc(frames, 2, 2, 44100, 0.5f, mix, mode, 4000);
    EXPECT_NE(h, nullptr);
    std::vector<int16_t> out, block(2 * 4458);
    for (uint32_t b = 0; b < blocks; ++b) {
      const uint32_t bytes = doHqups(h, in.data() + size_t{b} * frames * 2, block.data(), frames * 4);
      out.insert(out.end(), block.begin(), block.begin() + bytes / 2);
    }
    EXPECT_EQ(termHqups(h), 1u);
    return out;
  };
  for (int32_t mode : {0, 1}) {
    const auto dry = upsample(0, mode), wet = upsample(100, mode);
    for (uint32_t ch : {0u, 1u}) {
      const double dryDb = energyAboveDb(dry, ch, 16500, 48000), wetDb = energyAboveDb(wet, ch, 16500, 48000);
      // Dry, the top band holds only the conversion's leftovers (about -60
      // and -49 dB); the harmonics lift it by far more.
      EXPECT_LT(dryDb, -45.0) << "mode " << mode << " channel " << ch;
      EXPECT_GT(wetDb - dryDb, 25.0) << "mode " << mode << " channel " << ch << " dry " << dryDb;
    }
  }
}

TEST(Hqups, StereoSharesOneEdgeWhileTheChannelPathMeasuresEach) {
  // Left reaches 20 kHz, right stops near 6 kHz.
  const uint32_t n = 2048;
  DspEffect* h = bySrc(n, 2, 2, 48000, 0.4f, 100, 1);
  ASSERT_NE(h, nullptr);
  HqupsEffect& e = object(h);
  std::vector<float> avg(e.exciters[0].capacity);
  for (uint32_t i = 0; i < n; ++i) {
    e.inL()[i] = static_cast<float>(0.3 * std::sin(2 * kPi * 20000 * i / 48000.0));
    e.inR()[i] = static_cast<float>(0.3 * std::sin(2 * kPi * 6000 * i / 48000.0));
    avg[i] = (e.inR()[i] + e.inL()[i]) * 0.5f;
  }
  dspfx::HarmonicExciter probe;
  ASSERT_TRUE(probe.configure(e.exciters[0].capacity, 48000, 0.4f, 100, 6000, 1, 16));
  const float shared = probe.detectBandEdge(avg.data());

  ASSERT_EQ(e.process(e.inL(), e.inR(), e.outL(), e.outR(), n), e.exciters[0].capacity);
  EXPECT_EQ(e.exciters[0].detectedHz, shared);
  EXPECT_EQ(e.exciters[1].detectedHz, shared);
  e.processChannel(0, e.inL(), e.outL(), n);
  e.processChannel(1, e.inR(), e.outR(), n);
  EXPECT_GT(e.exciters[0].detectedHz, 20000.0f);
  EXPECT_EQ(e.exciters[1].detectedHz, 23812.5f);  // nothing above 16 kHz on the right
  EXPECT_EQ(termHqups(h), 1u);
}

TEST(Hqups, ModeChangesKeepTheDelayUntilTheNextSetup) {
  DspEffect* h = bySrc(256, 1, 1, 48000, 0.0f, 100, 0);
  ASSERT_NE(h, nullptr);
  HqupsEffect& e = object(h);
  EXPECT_EQ(setHqupsActiveMode(h, -4), 1u);
  EXPECT_EQ(e.exciters[1].activeMode, 0);  // unknown modes are the fixed band
  EXPECT_EQ(setHqupsActiveMode(h, 1), 1u);
  EXPECT_TRUE(e.activeMode == 1 && e.exciters[1].activeMode == 1);
  EXPECT_EQ(e.exciters[0].delay.length, 8);
  EXPECT_EQ(e.setup(256, 1, 48000), 48000u);
  EXPECT_EQ(e.exciters[0].delay.length, 16);
  EXPECT_EQ(setHqupsHarmonics(h, 0.25f) + setHqupsMix(h, 40), 2u);
  EXPECT_EQ(e.exciters[1].harmonics, 0.25f);  // reaches both channels
  EXPECT_FLOAT_EQ(e.exciters[1].mixGain, 0.4f);
  EXPECT_EQ(termHqups(h), 1u);
}

TEST(Hqups, ChainSetupEqualsAFreshObject) {
  const uint32_t frames = 2048;
  const auto in = bandLimitedPcm(frames, 2, 44100);
  DspChain* chain = dspCreate(frames, 2, 44100);
  DspEffect* chained = bySrc(512, 1, 1, 22050, 0.5f, 100, 1);
  DspEffect* fresh = bySrc(frames, 2, 2, 44100, 0.5f, 100, 1);
  ASSERT_TRUE(chain && chained && fresh);
  ASSERT_EQ(dspAdd(chain, chained, 0), 1u);
  EXPECT_EQ(dspGetDstRate(chain), 48000u);
  EXPECT_EQ(dspGetDstChannels(chain), 2u);
  EXPECT_EQ(dspGetDstSize(chain, frames), 2229u);
  std::vector<int16_t> a(2229 * 2), b(2229 * 2);
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(dspSend(chain, in.data(), a.data(), frames * 4), 2229u * 4);
    ASSERT_EQ(doHqups(fresh, in.data(), b.data(), frames * 4), 2229u * 4);
    ASSERT_EQ(a, b) << "round " << round;
  }
  // A smaller format reuses every buffer.
  const uint32_t before = fastmemGetAllocatedSize();
  dspAdjust(chain, 1024, 2, 44100);
  EXPECT_EQ(fastmemGetAllocatedSize(), before);
  EXPECT_EQ(dspSend(chain, in.data(), a.data(), 1024 * 4), 1114u * 4);
  EXPECT_EQ(termHqups(chained), 0u);  // the chain owns it
  dspDestroy(chain);
  EXPECT_EQ(termHqups(fresh), 1u);
}

TEST(Hqups, MisuseIsRefused) {
  EXPECT_EQ(bySrc(1024, 2, 2, 0, 0.3f, 50, 0), nullptr);  // no source rate
  EXPECT_EQ(bySrc(1024, 2, 2, 44100, 0.3f, 50, 0, 0), nullptr);
  EXPECT_EQ(bySrc(1024, 2, 2, 44100, 0.3f, 50, 0, 24000), nullptr);
  EXPECT_EQ(bySrc(0x7FFFFFFF, 2, 2, 44100, 0.3f, 50, 0), nullptr);
  EXPECT_EQ(initHqups(0xFFFFFFFF, 2, 2, 44100, 0.3f, 50, 6000, 1, 60, 60, 0, 1), nullptr);
  EXPECT_EQ(bySrc(1u << 28, 1, 1, 1, 0.3f, 50, 0), nullptr);  // 1 Hz: the output would not fit

  DspEffect* h = bySrc(1024, 2, 2, 44100, 0.3f, 50, 1);
  DspEffect* gone = bySrc(64, 1, 1, 44100, 0.3f, 50, 1);
  DspEffect* other = dspfx::createEffect<dspfx::test::OtherEffect>(
      [](dspfx::test::OtherEffect& e) { return e.setupBuffers(64, 2); });
  ASSERT_TRUE(h && gone && other);
  ASSERT_EQ(termHqups(gone), 1u);
  int notAnEffect[32] = {};
  std::vector<int16_t> in(2048, 1000), out(2 * 1115, 7);
  dspfx::test::expectAllRefuse<DspEffect>(
      {nullptr, other, gone, reinterpret_cast<DspEffect*>(notAnEffect)},
      [&](DspEffect* e) { return doHqups(e, in.data(), out.data(), 4096); },
      [](DspEffect* e) { return setHqupsHarmonics(e, 1); }, [](DspEffect* e) { return setHqupsMix(e, 1); },
      [](DspEffect* e) { return setHqupsActiveMode(e, 1); },
      [](DspEffect* e) { return getHqupsDstSize(e, 1000); }, [](DspEffect* e) { return getHqupsSrcSize(e, 1000); },
      [](DspEffect* e) { return termHqups(e); });
  EXPECT_EQ(doHqups(h, in.data(), out.data(), 0), 0u);
  EXPECT_EQ(doHqups(h, in.data(), out.data(), 3), 0u);  // less than a frame
  EXPECT_EQ(doHqups(h, nullptr, out.data(), 4096), 0u);
  EXPECT_EQ(doHqups(h, in.data(), nullptr, 4096), 0u);
  EXPECT_EQ(doHqups(h, in.data(), out.data(), 4100), 0u);  // 1025 frames
  EXPECT_EQ(out[0], 7);

  // Nonsense values give finite, clamped PCM, never a crash.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(setHqupsHarmonics(h, nan), 1u);
  EXPECT_EQ(setHqupsMix(h, std::numeric_limits<float>::infinity()), 1u);
  EXPECT_EQ(doHqups(h, in.data(), out.data(), 4096), 4456u);
  DspEffect* odd = initHqupsBySrcsize(256, 2, 2, 96000, nan, nan, 1, 7, nan, 0, 3, 1);
  ASSERT_NE(odd, nullptr);
  EXPECT_EQ(doHqups(odd, in.data(), out.data(), 1024), 128u * 4);
  EXPECT_EQ(termHqups(odd) + termHqups(h), 2u);
  EXPECT_EQ(dspfx::destroyEffect<dspfx::test::OtherEffect>(other), 1u);
}

}  // namespace

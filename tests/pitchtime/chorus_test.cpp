#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/sample_convert.h"
#include "pitchtime/chorus_channel.h"
#include "pitchtime/chorus_effect.h"
#include "pitchtime/pitchtime_support.h"

namespace {

using namespace dspfx;
using Chorus = test::Owned<termChorus>;
constexpr uint32_t kRate = test::kRate;

float toFloat(int16_t x) { return static_cast<float>(x * kPcmToFloat); }

// Runs a whole interleaved signal through doChorus in blocks of block frames.
std::vector<int16_t> chorus(DspEffect* h, const std::vector<int16_t>& in, uint32_t channels, uint32_t block) {
  std::vector<int16_t> out(in.size());
  const size_t frames = in.size() / channels;
  for (size_t at = 0; at < frames; at += block) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(block, frames - at));
    EXPECT_EQ(doChorus(h, in.data() + at * channels, out.data() + at * channels, n * channels * 2), 1u);
  }
  return out;
}

std::vector<int16_t> noise(size_t n, uint32_t seed = 7) { return test::noisePcm(n, seed, 16384); }

TEST(ChorusApi, StillOscillatorMixesTheDrySignalWithAFixedDelay) {
  // 10 ms at 44100 Hz is 441 frames; no voice leaves the scaled dry signal.
  const struct {
    uint32_t channels, voices, block;
    float depth, speed, voicePct, dryPct, voice, dry;
  } cases[] = {{2, 0, 1024, 5, 1, 50, 50, 0.0f, 0.5f},
               {2, 1, 1000, 0, 0, 100, 0, 1.0f, 0.0f},
               {1, 1, 5000, 0, 0, 50, 100, 0.5f, 1.0f}};
  const std::vector<int16_t> in = noise(2 * 5000);
  for (const auto& c : cases) {
    Chorus h(initChorus(c.block, c.channels, kRate, c.voices, 10.0f, c.depth, c.speed, c.voicePct, c.dryPct));
    ASSERT_NE(h.h, nullptr);
    const std::vector<int16_t> x(in.begin(), in.begin() + 5000 * c.channels);
    const std::vector<int16_t> out = chorus(h, x, c.channels, c.block);
    for (size_t i = 0; i < x.size(); ++i) {
      const float tap = i < 441 * c.channels ? 0.0f : toFloat(x[i - 441 * c.channels]);
      ASSERT_EQ(out[i], floatToPcmScalar(tap * c.voice + toFloat(x[i]) * c.dry))
          << c.voices << " voices, sample " << i << " of " << c.channels << " channels";
    }
    if (c.speed == 0) {
      EXPECT_EQ(dspfx::effectOf<ChorusEffect>(h.h)->channels[0].time, 0.0f);  // no period to run
    }
  }
}

TEST(ChorusChannel, EachVoiceSweepsItsRangeAheadOfTheOneBefore) {
  // 10 +- 5 ms at 44100 Hz: 220 ... 661 frames once per 0.5 s, three voices
  // 7350 frames apart. A ramp input makes j - out[j] the delay.
  constexpr uint32_t kFrames = 3 * 22050;
  std::vector<float> ramp(kFrames), out(kFrames);
  for (uint32_t n = 0; n < kFrames; ++n) ramp[n] = static_cast<float>(n);
  std::vector<std::vector<int>> delays(3);
  for (uint32_t v = 0; v < 3; ++v) {
    ChorusChannel c;
    ASSERT_TRUE(c.build(kRate, 3, 10.0f, 5.0f, 0.5f, 100.0f, 0.0f));
    for (uint32_t w = 0; w < 3; ++w) c.voiceLevels[w] = w == v ? 1.0f : 0.0f;
    for (uint32_t at = 0; at < kFrames; at += 4000) c.process(&ramp[at], &out[at], std::min(4000u, kFrames - at));
    for (uint32_t j = 700; j < kFrames; ++j) delays[v].push_back(static_cast<int>(j - out[j]));
    EXPECT_EQ(*std::min_element(delays[v].begin(), delays[v].end()), 220) << "voice " << v;
    EXPECT_EQ(*std::max_element(delays[v].begin(), delays[v].end()), 661) << "voice " << v;
    // The float time drifts about a frame per cycle; truncation adds one.
    for (size_t k = 0; k < delays[v].size(); ++k) {
      const double want = 441 + 220.5 * std::sin(2 * test::kPi * ((700.0 + k) / kRate / 0.5 + v / 3.0));
      ASSERT_NEAR(delays[v][k], want, 2.0) << "voice " << v << " frame " << 700 + k;
      if (v > 0 && k + 7350 * v < delays[0].size()) {
        ASSERT_NEAR(delays[v][k], delays[0][k + 7350 * v], 2.0) << "voice " << v << " frame " << 700 + k;
      }
    }
    EXPECT_TRUE(c.time >= 0.0f && c.time < 500.0f) << c.time << " ms";
  }
}

TEST(ChorusApi, VoiceMixAndSetupRestoringTheStoredMix) {
  // A still oscillator leaves the voices at sin 0, 120 and 240 degrees of a
  // 2 ms (88.2 frame) depth: 441, 441 + 76.4 and 441 - 76.4 frames.
  DspEffect* h = initChorus(4096, 1, kRate, 3, 10.0f, 2.0f, 0.0f, 50.0f, 0.0f);
  ASSERT_NE(h, nullptr);
  std::vector<int16_t> impulse(4096, 0);
  impulse[100] = 20000;
  using Echoes = std::vector<std::pair<int, int16_t>>;
  auto echoes = [&] {
    std::vector<int16_t> out(4096);
    EXPECT_EQ(doChorus(h, impulse.data(), out.data(), 8192), 1u);
    Echoes found;
    for (int j = 0; j < 4096; ++j) {
      if (out[j] != 0) found.emplace_back(j - 100, out[j]);
    }
    return found;
  };
  const int16_t half = floatToPcmScalar(toFloat(20000) * 0.5f), third = floatToPcmScalar(toFloat(20000) * 0.3f);
  EXPECT_EQ(echoes(), (Echoes{{364, half}, {441, half}, {517, half}}));
  EXPECT_EQ(setChorusMix(h, 1, 0.0f), 1u);
  EXPECT_EQ(echoes(), (Echoes{{364, half}, {441, half}}));
  EXPECT_EQ(setChorusMix(h, 3, 10.0f) + setChorusMix(h, -1, 10.0f), 0u);
  EXPECT_EQ(setChorusMix(h, 0, 30.0f), 1u);
  EXPECT_EQ(echoes(), (Echoes{{364, half}, {441, third}}));
  // A chain's setup rebuilds the voices with the last mix given, 30 %.
  DspChain* chain = dspCreate(4096, 1, kRate);
  ASSERT_NE(chain, nullptr);
  ASSERT_EQ(dspAdd(chain, h, 0), 1u);
  dspAdjust(chain, 4096, 1, 48000);
  // 48000 Hz: 480 frames, depth 96 frames (+-83.1).
  EXPECT_EQ(echoes(), (Echoes{{396, third}, {480, third}, {563, third}}));
  EXPECT_EQ(setChorusOrgMix(h, 100.0f) + setChorusDelaytime(h, 5.0f) + setChorusDepth(h, 0.0f), 3u);  // 240 frames
  float sum = 0.0f;
  for (int v = 0; v < 3; ++v) sum += toFloat(20000) * 0.3f;
  EXPECT_EQ(echoes(), (Echoes{{0, floatToPcmScalar(toFloat(20000))}, {240, floatToPcmScalar(sum)}}));
  dspDestroy(chain);
}

TEST(ChorusApi, ChannelsAreAlikeAndBlocksDoNotMatter) {
  const uint32_t frames = 20000;
  const std::vector<int16_t> left = noise(frames, 1), right = noise(frames, 2);
  auto make = [](uint32_t channels) { return initChorus(4096, channels, kRate, 3, 12.0f, 4.0f, 0.3f, 40.0f, 80.0f); };
  Chorus h[] = {Chorus(make(2)), Chorus(make(1)), Chorus(make(1)), Chorus(make(1))};
  const std::vector<int16_t> both = chorus(h[0], test::interleave(left, right), 2, 4096);
  const std::vector<int16_t> l = chorus(h[1], left, 1, 4096), r = chorus(h[2], right, 1, 4096);
  const std::vector<int16_t> lSmall = chorus(h[3], left, 1, 777);
  for (uint32_t j = 0; j < frames; ++j) {
    ASSERT_TRUE(both[2 * j] == l[j] && both[2 * j + 1] == r[j] && lSmall[j] == l[j]) << "frame " << j;
  }
}

TEST(ChorusApi, MisuseAndNonsenseParameters) {
  EXPECT_EQ(initChorus(64, 2, kRate, 65, 10.0f, 5.0f, 1.0f, 50.0f, 50.0f), nullptr);
  DspEffect* h = initChorus(64, 2, kRate, 64, 10.0f, 5.0f, 1.0f, 50.0f, 50.0f);
  DspEffect* fader = initFader(64, 2, kRate, 0.0f, 0.0f, 0.0f);
  DspEffect* gone = initChorus(64, 2, kRate, 1, 10.0f, 5.0f, 1.0f, 50.0f, 50.0f);
  ASSERT_TRUE(h && fader && gone);
  ASSERT_EQ(termChorus(gone), 1u);
  const std::vector<int16_t> in = noise(130);
  test::Guarded<int16_t> out(128, 4321);
  EXPECT_EQ(doChorus(h, nullptr, nullptr, 0), 1u);
  EXPECT_EQ(doChorus(h, in.data(), out.get(), 260), 0u);  // 65 frames > 64
  EXPECT_EQ(doChorus(h, nullptr, out.get(), 256), 0u);
  EXPECT_EQ(out.get()[0], 0);
  EXPECT_EQ(doChorus(h, in.data(), out.get(), 255), 1u);  // 63 whole frames
  EXPECT_EQ(out.get()[127], 0);
  EXPECT_TRUE(out.intact());
  test::expectAllRefuse<DspEffect>(
      {fader, nullptr, gone}, [&](DspEffect* e) { return doChorus(e, in.data(), out.get(), 256); },
      [](DspEffect* e) { return setChorusOrgMix(e, 1.0f); }, [](DspEffect* e) { return setChorusMix(e, 0, 1.0f); },
      [](DspEffect* e) { return setChorusSpeed(e, 1.0f); }, [](DspEffect* e) { return setChorusDepth(e, 1.0f); },
      [](DspEffect* e) { return setChorusDelaytime(e, 1.0f); }, [](DspEffect* e) { return termChorus(e); });
  // Nonsense speeds, depths and delays never read outside the line.
  for (float speed : {NAN, 1e-42f, -0.7f, INFINITY, 1e30f}) {
    for (float depth : {NAN, 1e30f, -3.0f}) {
      for (float delay : {-50.0f, 1e12f, NAN}) {
        EXPECT_EQ(setChorusSpeed(h, speed) + setChorusDepth(h, depth) + setChorusDelaytime(h, delay), 3u);
        ASSERT_EQ(doChorus(h, in.data(), out.get(), 256), 1u);
      }
    }
  }
  EXPECT_TRUE(out.intact());
  EXPECT_EQ(termFader(fader) + termChorus(h), 2u);
  // A zero rate builds a chorus whose oscillator never moves.
  Chorus still(initChorus(64, 1, 0, 2, 10.0f, 5.0f, 1.0f, 50.0f, 50.0f));
  ASSERT_NE(still.h, nullptr);
  EXPECT_EQ(doChorus(still, in.data(), out.get(), 128), 1u);
}

}  // namespace

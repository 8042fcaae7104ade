#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "common/test_support.h"
#include "core/sample_convert.h"
#include "dspfx/dspfx.h"
#include "pitchtime/stretch_effect.h"

namespace {

using namespace dspfx;
using namespace dspfx::test;

constexpr uint32_t kRate = 44100;

struct Stretcher {
  Stretcher(uint32_t capacity, uint32_t channels, float scale, float levelDb = 0.0f,
            float grain = 0.04f, float hop = 0.01f, uint32_t rate = kRate)
      : channels(channels),
        h(initStretch(capacity, channels, rate, scale, levelDb, grain, hop)) {}
  ~Stretcher() { termStretch(h); }
  // Runs one block; returns the output samples (interleaved).
  std::vector<int16_t> run(const int16_t* in, uint32_t frames, uint32_t room = 0) {
    std::vector<int16_t> out(size_t{room ? room : frames * 4 + 16} * channels);
    const uint32_t bytes = doStretch(h, in, out.data(), frames * channels * 2);
    out.resize(bytes / 2);
    return out;
  }
  std::vector<int16_t> run(const std::vector<int16_t>& in) {
    return run(in.data(), static_cast<uint32_t>(in.size() / channels));
  }
  uint32_t channels;
  DspEffect* h;
};

// What the PCM -> float -> PCM conversions alone make of a block.
std::vector<int16_t> roundTrip(const std::vector<int16_t>& in, uint32_t channels) {
  const uint32_t frames = static_cast<uint32_t>(in.size() / channels);
  std::vector<float> l(frames), r(frames);
  std::vector<int16_t> out(in.size());
  pcm16ToFloat(in.data(), frames * channels * 2, l.data(), r.data(), channels);
  floatToPcm16(l.data(), r.data(), frames, out.data(), channels);
  return out;
}

TEST(Stretch, ScaleZeroPassesInputThroughUnscaled) {
  for (uint32_t channels : {1u, 2u}) {
    Stretcher s(4096, channels, 0.0f, -12.0f);
    ASSERT_NE(s.h, nullptr);
    for (uint32_t block = 0; block < 4; ++block) {
      const auto in = noisePcm(size_t{4096} * channels, 11 + block);
      EXPECT_EQ(s.run(in), roundTrip(in, channels)) << "channels " << channels << " block " << block;
    }
    EXPECT_EQ(getStretchDstSize(s.h, 4410), 4410u);
  }
}

TEST(Stretch, FrameCountsFollowClampedScale) {
  const auto in = sinePcm(440, kRate, 1000, 2);
  const struct {
    float scale;
    uint32_t frames;
  } cases[] = {{1000, 500}, {-1000, 2000}, {5000, 125}, {-9000, 4000}, {3000, 125}, {-2000, 4000}};
  for (const auto& c : cases) {
    Stretcher s(1000, 2, c.scale);
    ASSERT_NE(s.h, nullptr);
    EXPECT_EQ(s.run(in).size(), c.frames * 2u) << "scale " << c.scale;
    EXPECT_EQ(s.run(in).size(), c.frames * 2u) << "scale " << c.scale << ", second block";
  }
  Stretcher s(4410, 2, 1000.0f);
  EXPECT_EQ(getStretchDstSize(s.h, 4410), 2205u);
  // Odd bytes: the lone trailing bytes do not make a frame.
  std::vector<int16_t> out(4000);
  EXPECT_EQ(doStretch(s.h, in.data(), out.data(), 4003), 2000u);
}

TEST(Stretch, NewScaleAppliesFromTheSecondBlockAndEmptyBlocksDoNotCount) {
  const auto in = sinePcm(440, kRate, 1000, 2);
  Stretcher s(1000, 2, 0.0f);
  ASSERT_EQ(setStretchScale(s.h, 1000.0f), 1u);
  EXPECT_EQ(getStretchDstSize(s.h, 1000), 500u);  // the pending ratio, at once
  std::vector<int16_t> out(4000, 7);
  EXPECT_EQ(doStretch(s.h, in.data(), out.data(), 0), 0u);
  EXPECT_EQ(out[0], 7);
  EXPECT_EQ(s.run(in).size(), 2000u);  // still the old ratio
  EXPECT_EQ(s.run(in).size(), 1000u);
  // Raising the ratio beyond what init sized the outputs for: they grow,
  // and nothing is written past the announced output.
  ASSERT_EQ(setStretchScale(s.h, -2000.0f), 1u);
  EXPECT_EQ(s.run(in).size(), 1000u);
  Guarded<int16_t> room(8000, 0x5A5A);
  EXPECT_EQ(doStretch(s.h, in.data(), room.get(), 4000), 16000u);
  EXPECT_TRUE(room.intact());
}

TEST(Stretch, ConstantInputComesOutAtLevelTimesGain) {
  const int16_t v = 12000;
  const float db = -6.0f;
  const double expected = std::floor(v * std::pow(10.0, 0.05 * db));
  for (float scale : {1000.0f, -1000.0f, 300.0f, -2000.0f, 3000.0f}) {
    Stretcher s(2048, 1, scale, db);
    const std::vector<int16_t> in(2048, v);
    for (int block = 0; block < 24; ++block) {
      const auto out = s.run(in);
      // The first blocks' grains still read the zeroed history: it reaches
      // back at most 8 grains of 2704 frames, about 11 blocks.
      if (block < 11) continue;
      for (size_t i = 0; i < out.size(); ++i) {
        // Float mixing is exact to a few ulp; 16-bit truncation adds 1 LSB.
        ASSERT_NEAR(out[i], expected, 1.0) << "scale " << scale << " block " << block << " frame " << i;
      }
    }
  }
}

TEST(Stretch, HopLongerThanGrainLeavesUncoveredFramesSilent) {
  // 1000 Hz: N = trunc(0.01 * 1000 * 325/212) = 15 frames, hop 50 frames,
  // one slot; the first grain starts where the counter wraps, 15 frames
  // after the pre-roll's hop counter of 15.
  Stretcher s(1000, 1, -1000.0f, 0.0f, 0.01f, 0.05f, 1000);
  ASSERT_NE(s.h, nullptr);
  const std::vector<int16_t> in(1000, 20000);
  const auto out = s.run(in);
  ASSERT_EQ(out.size(), 2000u);
  for (size_t j = 50; j < out.size(); ++j) {
    const bool covered = j % 50 >= 35;
    EXPECT_EQ(out[j] != 0, covered) << "frame " << j << " value " << out[j];
  }
}

// Grain positions follow the ratio alone, so successive grains of a pure
// tone differ in phase by f * hop * (1/ratio - 1) / rate cycles. The overlap
// turns the fractional part of that step into a frequency offset of at most
// half the grain rate; the ratio itself never scales the frequency (as
// playing the input faster or slower would).
double expectedStretchFrequency(double f, double ratio, double hop, double rate) {
  const double cycles = f * hop * (1.0 / ratio - 1.0) / rate;
  return f + (cycles - std::round(cycles)) * rate / hop;
}

TEST(Stretch, StretchedToneKeepsItsPitchUpToTheGrainPhaseStep) {
  const struct {
    double freq;
    float scale;
  } cases[] = {{440, -1000}, {400, -1000}, {440, 1000}, {440, -2000}, {1000, 500}, {200, -300}};
  for (const auto& c : cases) {
    const double ratio = static_cast<float>(std::pow(2.0, -c.scale / 1000.0));
    const double expected = expectedStretchFrequency(c.freq, ratio, 441, kRate);
    Stretcher s(4096, 1, c.scale);
    std::vector<int16_t> all;
    for (uint32_t block = 0; block < 40; ++block) {
      const auto in = sinePcm(c.freq, kRate, 4096, 1, 0.5, 2 * kPi * c.freq * block * 4096.0 / kRate);
      const auto out = s.run(in);
      all.insert(all.end(), out.begin(), out.end());
    }
    EXPECT_NEAR(all.size(), 40 * 4096 * ratio, 40) << "scale " << c.scale;
    const double f = zeroCrossingFrequency(all.data(), all.size(), kRate, 1, 16384);
    // 1 %; zero crossings over seconds of output resolve far finer.
    EXPECT_NEAR(f, expected, 0.01 * expected)
        << c.freq << " Hz at scale " << c.scale << ": expected " << expected << " Hz";
  }
}

TEST(Stretch, PiecesAndBlocksJoinWithoutSeams) {
  // Ratio 2 keeps every grain position an exact integer, so one block of
  // 70000 frames (three internal pieces) must equal the same input fed in
  // blocks of 1000.
  const uint32_t total = 70000;
  const auto in = noisePcm(total * 2, 5);
  Stretcher whole(total, 2, -1000.0f);
  Stretcher blocks(1000, 2, -1000.0f);
  const auto a = whole.run(in.data(), total, total * 2);
  std::vector<int16_t> b;
  for (uint32_t off = 0; off < total; off += 1000) {
    const auto out = blocks.run(in.data() + size_t{off} * 2, 1000);
    b.insert(b.end(), out.begin(), out.end());
  }
  ASSERT_EQ(a.size(), size_t{total} * 4);
  EXPECT_EQ(a, b);
}

TEST(Stretch, StereoChannelsShareTimingAndMonoLeavesTheSecondAlone) {
  const auto mono = noisePcm(3000, 9);
  std::vector<int16_t> stereo(6000);
  for (size_t i = 0; i < mono.size(); ++i) stereo[2 * i] = stereo[2 * i + 1] = mono[i];
  Stretcher s(3000, 2, 700.0f);
  Stretcher m(3000, 1, 700.0f);
  for (int block = 0; block < 3; ++block) {
    const auto out = s.run(stereo);
    const auto outMono = m.run(mono);
    ASSERT_EQ(out.size(), outMono.size() * 2);
    for (size_t i = 0; i < outMono.size(); ++i) {
      ASSERT_EQ(out[2 * i], out[2 * i + 1]) << "frame " << i;
      ASSERT_EQ(out[2 * i], outMono[i]) << "frame " << i;
    }
  }

  StretchEffect e;
  ASSERT_TRUE(e.init(1000, 1, kRate, 500.0f, 0.0f, 0.04f, 0.01f));
  const uint32_t counter = e.channels[1].hopCounter;
  const int32_t phase = e.channels[1].slots[0].phase;
  std::vector<int16_t> out(4000);
  ASSERT_GT(e.processInterleaved(mono.data(), out.data(), 2000), 0u);
  EXPECT_NE(e.channels[0].hopCounter, counter);
  EXPECT_EQ(e.channels[1].hopCounter, counter);
  EXPECT_EQ(e.channels[1].slots[0].phase, phase);
}

TEST(Stretch, BuildNumbersAndChainSetup) {
  StretchEffect e;
  ASSERT_TRUE(e.init(2000, 2, kRate, -1000.0f, 0.0f, 0.04f, 0.01f));
  const StretchChannel& c = e.channels[0];
  EXPECT_EQ(c.grainLength, 2704u);  // trunc(0.04 * 44100 * 325/212)
  EXPECT_EQ(c.hop, 441u);
  EXPECT_EQ(c.slotCount, 7u);
  EXPECT_EQ(c.hopCounter, 2704u - 6 * 441);
  EXPECT_EQ(c.window[1352], 1.0f);
  EXPECT_NEAR(c.window[0], std::exp(-0.25 * 6.5 * 6.5), 1e-9);
  EXPECT_EQ(c.pending.historyLength, 2704u);
  EXPECT_EQ(c.pending.startOffset, 2704u);
  EXPECT_EQ(e.outFrames, 4000u);
  e.setScale(1000.0f);
  EXPECT_EQ(c.pending.historyLength, 5408u);
  EXPECT_EQ(c.pending.startOffset, 0u);
  EXPECT_EQ(c.active.ratio, 2.0f);

  // Same rate: state kept, output capacity from the pending ratio.
  std::vector<int16_t> in(4000, 1000), out(8000);
  e.processInterleaved(in.data(), out.data(), 8000);
  const uint32_t counter = c.hopCounter;
  EXPECT_EQ(e.setup(3000, 2, kRate), kRate);
  EXPECT_EQ(e.outFrames, 1500u);
  EXPECT_EQ(c.hopCounter, counter);
  // New rate: rebuilt from the stored parameters.
  EXPECT_EQ(e.setup(3000, 2, 22050), 22050u);
  EXPECT_EQ(c.grainLength, 1352u);
  EXPECT_EQ(c.hopCounter, 1352u - 6 * 220);
  EXPECT_EQ(e.outRate, 22050u);
  EXPECT_EQ(e.getDstSize(3000), 1500u);
}

TEST(Stretch, RunsInAChainAndStopsRatherThanOverrunTheNextEffect) {
  DspChain* chain = dspCreate(1000, 2, kRate);
  DspEffect* stretch = initStretch(1000, 2, kRate, -1000.0f, 0.0f, 0.04f, 0.01f);
  DspEffect* shift = initPitchShift(1000, 2, kRate, 300.0f, 0.0f, 0.04f, 0.01f, 1, 1);
  ASSERT_EQ(dspAdd(chain, stretch, 0), 1u);
  ASSERT_EQ(dspAdd(chain, shift, 1), 2u);
  EXPECT_EQ(dspGetDstSize(chain, 4000), 8000u);
  const auto in = sinePcm(440, kRate, 1000, 2);
  Guarded<int16_t> out(8000, 0x2222);
  EXPECT_EQ(dspSend(chain, in.data(), out.get(), 4000), 8000u);
  // Faster than the chain was set up for: the pitch shifter behind it has
  // room for 2000 frames, not 4000, and refuses them.
  ASSERT_EQ(setStretchScale(stretch, -2000.0f), 1u);
  EXPECT_EQ(dspSend(chain, in.data(), out.get(), 4000), 8000u);
  EXPECT_EQ(dspSend(chain, in.data(), out.get(), 4000), 0u);
  EXPECT_TRUE(out.intact());
  // Adjusting the chain sets everything up for the new ratio.
  dspAdjust(chain, 1000, 2, 48000);
  dspAdjust(chain, 1000, 2, kRate);
  Guarded<int16_t> wide(16000, 0x2222);
  EXPECT_EQ(dspSend(chain, in.data(), wide.get(), 4000), 16000u);
  EXPECT_TRUE(wide.intact());
  dspDestroy(chain);
}

TEST(Stretch, MisuseIsRefused) {
  const uint32_t before = fastmemGetAllocatedSize();
  EXPECT_EQ(initStretch(1000, 2, kRate, 0, 0, 0.04f, 0.00001f), nullptr);  // hop < 1 frame
  EXPECT_EQ(initStretch(1000, 2, kRate, 0, 0, 0.00001f, 0.01f), nullptr);  // grain < 1 frame
  EXPECT_EQ(initStretch(1000, 2, 0, 0, 0, 0.04f, 0.01f), nullptr);
  EXPECT_EQ(initStretch(1000, 2, kRate, 0, 0, NAN, 0.01f), nullptr);
  EXPECT_EQ(initStretch(1000, 2, kRate, 0, 0, 0.04f, -1.0f), nullptr);
  EXPECT_EQ(initStretch(1000, 2, kRate, 0, 0, 1e9f, 0.01f), nullptr);
  EXPECT_EQ(initStretch(0x7FFFFFFF, 2, kRate, 0, 0, 0.04f, 0.01f), nullptr);
  EXPECT_EQ(fastmemGetAllocatedSize(), before);

  Stretcher s(1000, 2, NAN);  // NaN scale: no tempo change
  ASSERT_NE(s.h, nullptr);
  const auto in = sinePcm(440, kRate, 1001, 2);
  Guarded<int16_t> out(4000, 0x1234);
  EXPECT_EQ(doStretch(s.h, in.data(), out.get(), 4004), 0u);  // 1001 frames > 1000
  EXPECT_EQ(doStretch(s.h, nullptr, out.get(), 400), 0u);
  EXPECT_EQ(doStretch(s.h, in.data(), nullptr, 400), 0u);
  EXPECT_EQ(out.data[0], 0);
  EXPECT_EQ(doStretch(s.h, in.data(), out.get(), 4000), 4000u);
  EXPECT_TRUE(out.intact());
  EXPECT_EQ(setStretchScale(s.h, INFINITY), 1u);
  EXPECT_EQ(getStretchDstSize(s.h, 1000), 125u);

  // A live handle of another kind (the pitch shifter's suite crosses the
  // two granular families).
  DspChain* chain = dspCreate(1000, 2, kRate);
  DspEffect* other = reinterpret_cast<DspEffect*>(chain);
  for (DspEffect* bad : {static_cast<DspEffect*>(nullptr), other}) {
    EXPECT_EQ(doStretch(bad, in.data(), out.get(), 400), 0u);
    EXPECT_EQ(setStretchScale(bad, 0), 0u);
    EXPECT_EQ(setStretchOutLevel(bad, 0), 0u);
    EXPECT_EQ(getStretchDstSize(bad, 100), 0u);
    EXPECT_EQ(termStretch(bad), 0u);
  }
  dspDestroy(chain);
  DspEffect* gone = initStretch(1000, 2, kRate, 0, 0, 0.04f, 0.01f);
  ASSERT_EQ(termStretch(gone), 1u);
  EXPECT_EQ(termStretch(gone), 0u);
  EXPECT_EQ(setStretchScale(gone, 0), 0u);
}

}  // namespace

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "common/test_support.h"
#include "core/sample_convert.h"
#include "dspfx/dspfx.h"
#include "pitchtime/pitch_shift_effect.h"

namespace {

using namespace dspfx;
using namespace dspfx::test;

constexpr uint32_t kRate = 44100;

struct Shifter {
  Shifter(uint32_t capacity, uint32_t channels, float pitch, uint32_t interpolation = 1,
          uint32_t antiAlias = 1, float levelDb = 0.0f, float grain = 0.04f, float hop = 0.01f,
          uint32_t rate = kRate)
      : channels(channels),
        h(initPitchShift(capacity, channels, rate, pitch, levelDb, grain, hop, interpolation,
                         antiAlias)) {}
  ~Shifter() { termPitchShift(h); }
  std::vector<int16_t> run(const std::vector<int16_t>& in) {
    std::vector<int16_t> out(in.size());
    EXPECT_EQ(doPitchShift(h, in.data(), out.data(), static_cast<uint32_t>(in.size() * 2)), 1u);
    return out;
  }
  PitchShiftEffect& effect() { return *reinterpret_cast<PitchShiftEffect*>(h); }
  uint32_t channels;
  DspEffect* h;
};

std::vector<int16_t> roundTrip(const std::vector<int16_t>& in, uint32_t channels) {
  const uint32_t frames = static_cast<uint32_t>(in.size() / channels);
  std::vector<float> l(frames), r(frames);
  std::vector<int16_t> out(in.size());
  pcm16ToFloat(in.data(), frames * channels * 2, l.data(), r.data(), channels);
  floatToPcm16(l.data(), r.data(), frames, out.data(), channels);
  return out;
}

TEST(PitchShift, PitchZeroPassesInputThroughUnscaledAndUnfiltered) {
  for (uint32_t interpolation : {0u, 1u}) {
    for (uint32_t channels : {1u, 2u}) {
      Shifter s(2048, channels, 0.0f, interpolation, 1, -12.0f);
      ASSERT_NE(s.h, nullptr);
      for (uint32_t block = 0; block < 3; ++block) {
        const auto in = noisePcm(size_t{2048} * channels, 3 + block, 20000);
        EXPECT_EQ(s.run(in), roundTrip(in, channels))
            << "interpolation " << interpolation << " channels " << channels;
      }
    }
  }
}

TEST(PitchShift, PitchClampsToAnOctaveAndSetsStartOffset) {
  Shifter s(1024, 2, 2400.0f);
  PitchShiftChannel& c = s.effect().channels[0];
  const int32_t n = static_cast<int32_t>(c.grainLength);
  EXPECT_EQ(n, 2704);
  EXPECT_EQ(c.ringLength, 3u * 2704 + 3);
  EXPECT_EQ(c.pendingPitch, 1200.0f);
  EXPECT_EQ(c.pending.ratio, 2.0f);
  EXPECT_EQ(c.pending.startOffset, -n);
  // Pre-roll: grain s began hop * (s + 1) frames ago, reading from
  // hop * (s + 1) - trunc(N * ratio), ratio * phase frames in.
  EXPECT_EQ(c.slots[0].position, 441 - 2 * n);
  EXPECT_EQ(c.slots[0].phase, n - 441);
  EXPECT_EQ(c.slots[0].readOffset, 2.0f * (n - 441));
  EXPECT_FALSE(c.slots[6].active);
  EXPECT_EQ(c.hopCounter, static_cast<uint32_t>(n - 6 * 441));

  s.effect().setPitch(-5000.0f);
  EXPECT_EQ(s.effect().pitch, -5000.0f);
  EXPECT_EQ(c.pendingPitch, -1200.0f);
  EXPECT_EQ(c.pending.ratio, 0.5f);
  EXPECT_EQ(c.pending.startOffset, 0);
  EXPECT_EQ(c.active.ratio, 2.0f);  // until the next piece ends
  s.effect().setPitch(700.0f);
  EXPECT_EQ(c.pending.startOffset, static_cast<int32_t>(2704.0f - 2704.0f * c.pending.ratio));
  EXPECT_FLOAT_EQ(c.pending.ratio, std::pow(2.0f, 700.0f / 1200.0f));
}

TEST(PitchShift, BlocksKeepTheirLengthAndEmptyBlocksChangeNothing) {
  Shifter s(1000, 2, 500.0f);
  const auto in = sinePcm(440, kRate, 1000, 2);
  Guarded<int16_t> out(2000, 0x7777);
  EXPECT_EQ(doPitchShift(s.h, in.data(), out.get(), 4000), 1u);
  EXPECT_TRUE(out.intact());
  Guarded<int16_t> odd(1000, 0x7777);
  EXPECT_EQ(doPitchShift(s.h, in.data(), odd.get(), 2001), 1u);  // 500 frames, one stray byte
  EXPECT_TRUE(odd.intact());

  PitchShiftChannel& c = s.effect().channels[0];
  s.effect().setPitch(-300.0f);
  const uint32_t counter = c.hopCounter;
  const float ring = c.historyRing[c.ringPosition];
  EXPECT_EQ(doPitchShift(s.h, nullptr, nullptr, 0), 1u);
  out.data[0] = 0x4321;
  EXPECT_EQ(doPitchShift(s.h, in.data(), out.get(), 3), 1u);  // less than a frame
  EXPECT_EQ(out.data[0], 0x4321);
  EXPECT_EQ(c.hopCounter, counter);
  EXPECT_EQ(c.historyRing[c.ringPosition], ring);
  EXPECT_TRUE(c.redesignPending);
  EXPECT_EQ(c.active.ratio, static_cast<float>(std::pow(2.0, 500 / 1200.0)));
}

TEST(PitchShift, ConstantInputComesOutAtLevelTimesGainInBothInterpolations) {
  const int16_t v = -9000;
  const float db = 3.0f;
  const double expected = std::trunc(v * std::pow(10.0, 0.05 * db));
  for (uint32_t interpolation : {0u, 1u}) {
    for (float pitch : {1200.0f, -1200.0f, 700.0f, -250.0f, 30.0f}) {
      Shifter s(4096, 1, pitch, interpolation, 0, db);
      const std::vector<int16_t> in(4096, v);
      for (int block = 0; block < 4; ++block) {
        const auto out = s.run(in);
        if (block == 0) continue;  // the pre-rolled grains read zeroed history
        for (size_t i = 0; i < out.size(); ++i) {
          // Weights (window and cubic) sum exactly enough in double; the
          // 16-bit truncation gives 1 LSB.
          ASSERT_NEAR(out[i], expected, 1.0)
              << "interpolation " << interpolation << " pitch " << pitch << " frame " << i;
        }
      }
    }
  }
}

TEST(PitchShift, HopLongerThanGrainLeavesUncoveredFramesSilent) {
  // 1000 Hz: N = 15 frames, hop 50, one slot; grains start at frames
  // 35, 85, ... (the pre-roll leaves the hop counter at 15).
  Shifter s(1000, 1, 1200.0f, 0, 0, 0.0f, 0.01f, 0.05f, 1000);
  ASSERT_NE(s.h, nullptr);
  const std::vector<int16_t> in(1000, 20000);
  const auto out = s.run(in);
  for (size_t j = 50; j < out.size(); ++j) {
    const bool covered = j % 50 >= 35;
    EXPECT_EQ(out[j] != 0, covered) << "frame " << j << " value " << out[j];
  }
}

// Each grain replays the input ratio times as fast from where it started,
// so successive grains of a pure tone f differ in phase by
// f * (1 - ratio) * hop / rate cycles; the overlap turns the fractional part
// of that step into an offset of at most half the grain rate around
// f * ratio.
double expectedShiftFrequency(double f, double ratio, double hop, double rate) {
  const double cycles = f * (1.0 - ratio) * hop / rate;
  return f * ratio + (cycles - std::round(cycles)) * rate / hop;
}

TEST(PitchShift, ShiftedToneMovesByTheRatioUpToTheGrainPhaseStep) {
  const struct {
    double freq;
    float pitch;
    uint32_t interpolation;
  } cases[] = {{440, 1200, 1}, {440, -1200, 1}, {400, 1200, 0}, {400, -1200, 1},
               {500, 300, 1},  {300, -500, 0},  {1000, 1200, 1}};
  for (const auto& c : cases) {
    const double ratio = static_cast<float>(std::pow(2.0, c.pitch / 1200.0));
    const double expected = expectedShiftFrequency(c.freq, ratio, 441, kRate);
    Shifter s(4096, 1, c.pitch, c.interpolation, 1);
    std::vector<int16_t> all;
    for (uint32_t block = 0; block < 40; ++block) {
      const auto out = s.run(sinePcm(c.freq, kRate, 4096, 1, 0.5, 2 * kPi * c.freq * block * 4096.0 / kRate));
      all.insert(all.end(), out.begin(), out.end());
    }
    const double f = zeroCrossingFrequency(all.data(), all.size(), kRate, 1, 16384);
    // 1 %; zero crossings over seconds of output resolve far finer.
    EXPECT_NEAR(f, expected, 0.01 * expected)
        << c.freq << " Hz at " << c.pitch << " cents: expected " << expected << " Hz";
  }
}

TEST(PitchShift, FilterTakesANewPitchOnePieceBeforeTheGrains) {
  Shifter s(2048, 1, -1200.0f, 1, 1);
  PitchShiftChannel& c = s.effect().channels[0];
  const auto in = noisePcm(2048, 21, 20000);
  s.run(in);
  EXPECT_FLOAT_EQ(c.filter.cutoff, 11025.0f);  // 0.5 * rate * 0.5
  ASSERT_EQ(setPitchShiftPitch(s.h, 1200.0f), 1u);
  EXPECT_TRUE(c.redesignPending);
  s.run(in);
  EXPECT_FALSE(c.redesignPending);
  EXPECT_FLOAT_EQ(c.filter.cutoff, 11025.0f);  // rate * (0.5 / 2)
  EXPECT_EQ(c.active.ratio, 2.0f);              // grains switch only now

  ASSERT_EQ(setPitchShiftPitch(s.h, 600.0f), 1u);
  s.run(in);
  EXPECT_NEAR(c.filter.cutoff, 44100.0 * 0.5 / std::pow(2.0, 0.5), 0.01);
  EXPECT_EQ(c.filter.order, 10);

  // From a bypassed pitch: the next block still passes the input unchanged,
  // the one after shifts it.
  Shifter b(2048, 1, 0.0f, 1, 0);
  b.run(in);
  ASSERT_EQ(setPitchShiftPitch(b.h, -700.0f), 1u);
  EXPECT_EQ(b.run(in), roundTrip(in, 1));
  EXPECT_NE(b.run(in), roundTrip(in, 1));
}

TEST(PitchShift, PiecesAndBlocksJoinWithoutSeams) {
  // One block of 70000 frames is cut into three pieces internally; the same
  // input in blocks of 1000 must give the same output, filter included.
  const uint32_t total = 70000;
  const auto in = noisePcm(size_t{total} * 2, 8, 20000);
  Shifter whole(total, 2, 700.0f, 1, 1);
  Shifter blocks(1000, 2, 700.0f, 1, 1);
  const auto a = whole.run(in);
  std::vector<int16_t> b;
  for (uint32_t off = 0; off < total; off += 1000) {
    const auto out = blocks.run(std::vector<int16_t>(in.begin() + off * 2, in.begin() + (off + 1000) * 2));
    b.insert(b.end(), out.begin(), out.end());
  }
  EXPECT_EQ(a, b);
}

TEST(PitchShift, StereoChannelsShareTimingAndMonoLeavesTheSecondAlone) {
  const auto mono = noisePcm(2000, 4, 20000);
  std::vector<int16_t> stereo(4000);
  for (size_t i = 0; i < mono.size(); ++i) stereo[2 * i] = stereo[2 * i + 1] = mono[i];
  Shifter s(2000, 2, -400.0f);
  Shifter m(2000, 1, -400.0f);
  for (int block = 0; block < 3; ++block) {
    const auto out = s.run(stereo);
    const auto outMono = m.run(mono);
    for (size_t i = 0; i < outMono.size(); ++i) {
      ASSERT_EQ(out[2 * i], out[2 * i + 1]) << "frame " << i;
      ASSERT_EQ(out[2 * i], outMono[i]) << "frame " << i;
    }
  }
  const PitchShiftChannel& second = m.effect().channels[1];
  EXPECT_NE(m.effect().channels[0].hopCounter, second.hopCounter);
  EXPECT_EQ(second.hopCounter, 2704u - 6 * 441);
  EXPECT_EQ(second.slots[0].phase, 2704 - 441);
}

TEST(PitchShift, SetupRebuildsOnlyForANewRate) {
  Shifter s(1024, 2, 500.0f, 1, 1);
  PitchShiftEffect& e = s.effect();
  s.run(noisePcm(2048, 2, 20000));
  const uint32_t counter = e.channels[0].hopCounter;
  const double state = e.channels[0].filter.w1[0];
  EXPECT_EQ(e.setup(4096, 2, kRate), kRate);
  EXPECT_EQ(e.capacityFrames, 4096u);
  EXPECT_EQ(e.outFrames, 4096u);
  EXPECT_EQ(e.channels[0].hopCounter, counter);
  EXPECT_EQ(e.setup(4096, 2, 22050), 22050u);
  EXPECT_EQ(e.channels[0].grainLength, 1352u);
  EXPECT_EQ(e.channels[0].hopCounter, 1352u - 6 * 220);
  EXPECT_EQ(e.channels[0].ringLength, 3u * 2704 + 3);  // the ring keeps its length
  EXPECT_EQ(e.channels[0].filter.w1[0], state);         // and the filter its state
  EXPECT_TRUE(e.channels[0].redesignPending);
  EXPECT_EQ(e.outRate, 22050u);
}

TEST(PitchShift, MisuseIsRefused) {
  const uint32_t before = fastmemGetAllocatedSize();
  EXPECT_EQ(initPitchShift(1000, 2, kRate, 0, 0, 0.04f, 0.00001f, 1, 1), nullptr);
  EXPECT_EQ(initPitchShift(1000, 2, kRate, 0, 0, 0.00001f, 0.01f, 1, 1), nullptr);
  EXPECT_EQ(initPitchShift(1000, 2, 0, 0, 0, 0.04f, 0.01f, 1, 1), nullptr);
  EXPECT_EQ(initPitchShift(1000, 2, kRate, 0, 0, INFINITY, 0.01f, 1, 1), nullptr);
  EXPECT_EQ(initPitchShift(1000, 2, kRate, 0, 0, 0.04f, NAN, 1, 1), nullptr);
  EXPECT_EQ(initPitchShift(0x7FFFFFFF, 2, kRate, 0, 0, 0.04f, 0.01f, 1, 1), nullptr);
  EXPECT_EQ(fastmemGetAllocatedSize(), before);

  // antiAlias looks at the low byte only; NaN pitch counts as 0.
  Shifter s(1000, 2, NAN, 1, 0x100);
  ASSERT_NE(s.h, nullptr);
  EXPECT_FALSE(s.effect().antiAlias);
  EXPECT_TRUE(s.effect().channels[0].pending.bypass);
  const auto in = sinePcm(440, kRate, 1001, 2);
  Guarded<int16_t> out(2002, 0x1234);
  EXPECT_EQ(doPitchShift(s.h, in.data(), out.get(), 4004), 0u);  // above capacity
  EXPECT_EQ(doPitchShift(s.h, nullptr, out.get(), 400), 0u);
  EXPECT_EQ(doPitchShift(s.h, in.data(), nullptr, 400), 0u);
  EXPECT_EQ(out.data[0], 0);
  EXPECT_EQ(setPitchShiftPitch(s.h, -INFINITY), 1u);
  EXPECT_EQ(s.effect().channels[1].pending.ratio, 0.5f);
  EXPECT_EQ(setPitchShiftOutLevel(s.h, -6.0f), 1u);
  EXPECT_EQ(doPitchShift(s.h, in.data(), out.get(), 4000), 1u);
  EXPECT_TRUE(out.intact());

  // The two granular families refuse each other's handles.
  DspEffect* stretch = initStretch(1000, 2, kRate, 0, 0, 0.04f, 0.01f);
  ASSERT_NE(stretch, nullptr);
  for (DspEffect* bad : {static_cast<DspEffect*>(nullptr), stretch}) {
    EXPECT_EQ(doPitchShift(bad, in.data(), out.get(), 400), 0u);
    EXPECT_EQ(setPitchShiftPitch(bad, 100), 0u);
    EXPECT_EQ(setPitchShiftOutLevel(bad, 0), 0u);
    EXPECT_EQ(termPitchShift(bad), 0u);
  }
  EXPECT_EQ(doStretch(s.h, in.data(), out.get(), 400), 0u);
  EXPECT_EQ(setStretchScale(s.h, 100), 0u);
  EXPECT_EQ(getStretchDstSize(s.h, 100), 0u);
  EXPECT_EQ(termStretch(s.h), 0u);
  EXPECT_EQ(termStretch(stretch), 1u);
  DspEffect* gone = initPitchShift(1000, 1, kRate, 0, 0, 0.04f, 0.01f, 0, 0);
  ASSERT_EQ(termPitchShift(gone), 1u);
  EXPECT_EQ(termPitchShift(gone), 0u);
  EXPECT_EQ(setPitchShiftPitch(gone, 0), 0u);
}

}  // namespace

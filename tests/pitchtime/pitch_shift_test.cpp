#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "common/test_support.h"
#include "dspfx/dspfx.h"
#include "pitchtime/pitch_shift_effect.h"

namespace {

using namespace dspfx;
using namespace dspfx::test;

constexpr uint32_t kRate = 44100;

struct Shifter {
  Shifter(uint32_t capacity, uint32_t channels, float pitch, uint32_t antiAlias = 1)
      : h(initPitchShift(capacity, channels, kRate, pitch, 0.0f, 0.04f, 0.01f, 1, antiAlias)) {}
  ~Shifter() { termPitchShift(h); }
  std::vector<int16_t> run(const std::vector<int16_t>& in) {
    std::vector<int16_t> out(in.size());
    EXPECT_EQ(doPitchShift(h, in.data(), out.data(), static_cast<uint32_t>(in.size() * 2)), 1u);
    return out;
  }
  PitchShiftEffect& effect() { return *reinterpret_cast<PitchShiftEffect*>(h); }
  DspEffect* h;
};

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
  // 2^(700/1200) = 1.4983071; trunc(2704 - 2704 * ratio) = trunc(-1347.42).
  EXPECT_FLOAT_EQ(c.pending.ratio, 1.4983071f);
  EXPECT_EQ(c.pending.startOffset, -1347);
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

TEST(PitchShift, FilterTakesANewPitchOnePieceBeforeTheGrains) {
  Shifter s(2048, 1, -1200.0f);
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
  Shifter b(2048, 1, 0.0f, 0);
  b.run(in);
  ASSERT_EQ(setPitchShiftPitch(b.h, -700.0f), 1u);
  EXPECT_EQ(b.run(in), pcmRoundTrip(in, 1));
  EXPECT_NE(b.run(in), pcmRoundTrip(in, 1));
}

TEST(PitchShift, SetupRebuildsOnlyForANewRate) {
  Shifter s(1024, 2, 500.0f);
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
  EXPECT_EQ(initPitchShift(1000, 2, kRate, 0, 0, 0.04f, 0.00001f, 1, 1), nullptr);
  EXPECT_EQ(initPitchShift(1000, 2, kRate, 0, 0, 0.00001f, 0.01f, 1, 1), nullptr);
  EXPECT_EQ(initPitchShift(1000, 2, 0, 0, 0, 0.04f, 0.01f, 1, 1), nullptr);
  EXPECT_EQ(initPitchShift(1000, 2, kRate, 0, 0, INFINITY, 0.01f, 1, 1), nullptr);
  EXPECT_EQ(initPitchShift(1000, 2, kRate, 0, 0, 0.04f, NAN, 1, 1), nullptr);
  EXPECT_EQ(initPitchShift(0x7FFFFFFF, 2, kRate, 0, 0, 0.04f, 0.01f, 1, 1), nullptr);

  // antiAlias looks at the low byte only; NaN pitch counts as 0.
  Shifter s(1000, 2, NAN, 0x100);
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
}

}  // namespace

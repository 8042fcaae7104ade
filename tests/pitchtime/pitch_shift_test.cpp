#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <iterator>
#include <thread>
#include <vector>

#include "pitchtime/pitchtime_support.h"

namespace {

using namespace dspfx;
using namespace dspfx::test;

Granular shifter(uint32_t capacity, uint32_t channels, float pitch, uint32_t antiAlias = 1) {
  return Granular(kShift, capacity, channels, pitch, 0.0f, 0.04f, 0.01f, kRate, antiAlias);
}

TEST(PitchShift, EmptyAndPartialBlocksChangeNothing) {
  Granular s = shifter(1000, 2, 500.0f);
  const auto in = sinePcm(440, kRate, 1000, 2);
  Guarded<int16_t> out(2000, 0x7777), odd(1000, 0x7777);
  EXPECT_EQ(doPitchShift(s.h, in.data(), out.get(), 4000), 1u);
  EXPECT_EQ(doPitchShift(s.h, in.data(), odd.get(), 2001), 1u);  // 500 frames, one stray byte
  EXPECT_TRUE(out.intact() && odd.intact());

  PitchShiftChannel& c = s.shift().channels[0];
  s.shift().setPitch(-300.0f);
  const uint32_t counter = c.hopCounter;
  const float ring = c.historyRing[c.ringPosition];
  EXPECT_EQ(doPitchShift(s.h, nullptr, nullptr, 0), 1u);
  out.data[0] = 0x4321;
  EXPECT_EQ(doPitchShift(s.h, in.data(), out.get(), 3), 1u);  // less than a frame
  EXPECT_TRUE(out.data[0] == 0x4321 && c.hopCounter == counter && c.historyRing[c.ringPosition] == ring);
  EXPECT_EQ(c.active.ratio, static_cast<float>(std::pow(2.0, 500 / 1200.0)));
}

TEST(PitchShift, FilterTakesANewPitchOnePieceBeforeTheGrains) {
  Granular s = shifter(2048, 1, -1200.0f);
  PitchShiftChannel& c = s.shift().channels[0];
  const auto in = noisePcm(2048, 21, 20000);
  s.run(in);
  ASSERT_EQ(setPitchShiftPitch(s.h, 600.0f), 1u);
  s.run(in);
  EXPECT_FALSE(c.redesignPending);
  EXPECT_NEAR(c.filter.cutoff, 44100.0 * 0.5 / std::pow(2.0, 0.5), 0.01);
  EXPECT_FLOAT_EQ(c.active.ratio, static_cast<float>(std::pow(2.0, 0.5)));  // the grains only now

  // From a bypassed pitch: the next block still passes the input unchanged,
  // the one after shifts it.
  Granular b = shifter(2048, 1, 0.0f, 0);
  b.run(in);
  ASSERT_EQ(setPitchShiftPitch(b.h, -700.0f), 1u);
  EXPECT_EQ(b.run(in), pcmRoundTrip(in, 1));
  EXPECT_NE(b.run(in), pcmRoundTrip(in, 1));
}

TEST(PitchShift, TurningStereoAtTheSameRateRunsBothChannelsInStep) {
  // The second shifter sat idle while mono; it takes over the first's
  // grains, history and filter instead of going on from what it last heard.
  Granular s = shifter(1024, 2, 700.0f);
  PitchShiftEffect& e = s.shift();
  s.run(noisePcm(2048, 3));
  ASSERT_EQ(e.setup(1024, 1, kRate), kRate);
  s.run(noisePcm(1024, 4));
  e.setPitch(-500.0f);
  s.run(noisePcm(700, 5));
  ASSERT_EQ(e.setup(1024, 2, kRate), kRate);
  const std::vector<int16_t> mono = noisePcm(1024, 6), out = s.run(interleave(mono, mono));
  for (size_t i = 0; i < out.size(); i += 2) ASSERT_EQ(out[i], out[i + 1]) << "frame " << i / 2;
}

TEST(PitchShift, NonsenseFlagsAndPitchesAreTamed) {
  // antiAlias looks at the low byte only; NaN pitch counts as 0, pitches
  // beyond an octave as an octave. (Refused calls: GrainChannel.MisuseIsRefused.)
  Granular s = shifter(1000, 2, NAN, 0x100);
  ASSERT_NE(s.h, nullptr);
  EXPECT_FALSE(s.shift().antiAlias);
  EXPECT_TRUE(s.shift().channels[0].pending.bypass);
  for (auto [pitch, ratio] : {std::pair{2400.0f, 2.0f}, {-5000.0f, 0.5f}, {INFINITY, 2.0f}, {-INFINITY, 0.5f}}) {
    EXPECT_EQ(setPitchShiftPitch(s.h, pitch), 1u);
    s.run(sinePcm(440, kRate, 10, 2));  // a change waits for the next block
    EXPECT_EQ(s.shift().channels[1].pending.ratio, ratio) << pitch;
  }
  EXPECT_EQ(setPitchShiftOutLevel(s.h, -6.0f), 1u);
  s.run(sinePcm(440, kRate, 1000, 2));
}

}  // namespace

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "pitchtime/pitchtime_support.h"

namespace {

using namespace dspfx;
using namespace dspfx::test;

TEST(Stretch, FrameCountsFollowClampedScaleFromTheSecondBlockOn) {
  const auto in = sinePcm(440, kRate, 1000, 2);
  const struct {
    float scale;
    uint32_t frames;
  } cases[] = {{1000, 500}, {-1000, 2000}, {5000, 125}, {-9000, 4000}, {3000, 125}, {-2000, 4000}, {0, 1000}};
  for (const auto& c : cases) {
    Granular s(kStretch, 1000, 2, c.scale);
    ASSERT_NE(s.h, nullptr);
    EXPECT_EQ(s.run(in).size(), c.frames * 2u) << "scale " << c.scale;
    EXPECT_EQ(s.run(in).size(), c.frames * 2u) << "scale " << c.scale << ", second block";
  }
  Granular s(kStretch, 4410, 2, 1000.0f);
  EXPECT_EQ(getStretchDstSize(s.h, 4410), 2205u);
  EXPECT_EQ(getStretchDstSize(Granular(kStretch, 10, 1, 0.0f).h, 4410), 4410u);
  // Odd bytes: the lone trailing bytes do not make a frame.
  std::vector<int16_t> out(4000, 7);
  EXPECT_EQ(doStretch(s.h, in.data(), out.data(), 4003), 2000u);

  Granular t(kStretch, 1000, 2, 0.0f);
  ASSERT_EQ(setStretchScale(t.h, 1000.0f), 1u);
  EXPECT_EQ(getStretchDstSize(t.h, 1000), 500u);  // the pending ratio, at once
  out.assign(4000, 7);
  EXPECT_EQ(doStretch(t.h, in.data(), out.data(), 0), 0u);
  EXPECT_EQ(out[0], 7);
  EXPECT_EQ(t.run(in).size(), 2000u);  // still the old ratio: an empty block does not count
  EXPECT_EQ(t.run(in).size(), 1000u);
  // Raising the ratio beyond what init sized the outputs for: they grow,
  // and nothing is written past the announced output.
  ASSERT_EQ(setStretchScale(t.h, -2000.0f), 1u);
  EXPECT_EQ(t.run(in).size(), 1000u);
  Guarded<int16_t> room(8000, 0x5A5A);
  EXPECT_EQ(doStretch(t.h, in.data(), room.get(), 4000), 16000u);
  EXPECT_TRUE(room.intact());
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

TEST(Stretch, TurningStereoAtTheSameRateRunsBothChannelsInStep) {
  // Regression: the second stretcher sat idle while mono, still on the
  // build's ratio 4; run as it was it would write four times the block into
  // buffers sized for the first stretcher's half.
  StretchEffect e;
  ASSERT_TRUE(e.init(1000, 1, kRate, -2000.0f, 0.0f, 0.04f, 0.01f));
  e.setScale(1000.0f);
  const auto mono = sinePcm(440, kRate, 1000, 1), stereo = sinePcm(440, kRate, 3000, 2);
  std::vector<int16_t> out(8000);
  EXPECT_EQ(e.processInterleaved(mono.data(), out.data(), 2000), 8000u);
  EXPECT_EQ(e.setup(3000, 2, kRate), kRate);
  out.assign(6000, 0);
  ASSERT_EQ(e.processInterleaved(stereo.data(), out.data(), 12000), 6000u);
  for (size_t i = 0; i < out.size(); i += 2) ASSERT_EQ(out[i], out[i + 1]) << "frame " << i / 2;
}

TEST(Stretch, RunsInAChainAndStopsRatherThanOverrunTheNextEffect) {
  DspChain* chain = dspCreate(1000, 2, kRate);
  DspEffect* stretch = initStretch(1000, 2, kRate, -1000.0f, 0.0f, 0.04f, 0.01f);
  ASSERT_EQ(dspAdd(chain, stretch, 0), 1u);
  ASSERT_EQ(dspAdd(chain, initPitchShift(1000, 2, kRate, 300.0f, 0.0f, 0.04f, 0.01f, 1, 1), 1), 2u);
  EXPECT_EQ(dspGetDstSize(chain, 4000), 8000u);
  const auto in = sinePcm(440, kRate, 1000, 2);
  Guarded<int16_t> out(8000, 0x2222), wide(16000, 0x2222);
  EXPECT_EQ(dspSend(chain, in.data(), out.get(), 4000), 8000u);
  // Faster than the chain was set up for: the pitch shifter behind it has
  // room for 2000 frames, not 4000, and refuses them.
  ASSERT_EQ(setStretchScale(stretch, -2000.0f), 1u);
  EXPECT_EQ(dspSend(chain, in.data(), out.get(), 4000), 8000u);
  EXPECT_EQ(dspSend(chain, in.data(), out.get(), 4000), 0u);
  // Adjusting the chain sets everything up for the new ratio.
  dspAdjust(chain, 1000, 2, 48000);
  dspAdjust(chain, 1000, 2, kRate);
  EXPECT_EQ(dspSend(chain, in.data(), wide.get(), 4000), 16000u);
  EXPECT_TRUE(out.intact() && wide.intact());
  dspDestroy(chain);
}

TEST(Stretch, NonsenseScalesAreTamed) {
  // NaN: no tempo change; infinity: the fastest, a factor 8.
  Granular s(kStretch, 1000, 2, NAN);
  EXPECT_EQ(getStretchDstSize(s.h, 1000), 1000u);
  EXPECT_EQ(setStretchScale(s.h, INFINITY), 1u);
  EXPECT_EQ(getStretchDstSize(s.h, 1000), 125u);
}

}  // namespace

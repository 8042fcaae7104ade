#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "pitchtime/pitchtime_support.h"

namespace {

using namespace dspfx;
using namespace dspfx::test;

TEST(Stretch, FrameCountsFollowClampedScaleFromTheSecondBlockOn) {
  const auto in = sinePcm(440, kRate, 1000, 2);
  // Scales clamp to a factor 8 faster and 4 slower; NaN means no change.
  const struct {
    float scale;
    uint32_t frames;
  } cases[] = {{1000, 500}, {-1000, 2000}, {5000, 125}, {-9000, 4000}, {3000, 125}, {-2000, 4000}, {0, 1000},
               {NAN, 1000}, {INFINITY, 125}};
  for (const auto& c : cases) {
    Granular s(kStretch, 1000, 2, c.scale);
    ASSERT_NE(s.h, nullptr);
    EXPECT_EQ(getStretchDstSize(s.h, 1000), c.frames) << "scale " << c.scale;
    EXPECT_EQ(s.run(in).size(), c.frames * 2u) << "scale " << c.scale;
    EXPECT_EQ(s.run(in).size(), c.frames * 2u) << "scale " << c.scale << ", second block";
  }
  // Odd bytes: the lone trailing bytes do not make a frame.
  Granular s(kStretch, 4410, 2, 1000.0f);
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

}  // namespace

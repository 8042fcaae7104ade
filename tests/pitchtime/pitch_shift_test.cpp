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
  EXPECT_TRUE(c.redesignPending);
  EXPECT_EQ(c.active.ratio, static_cast<float>(std::pow(2.0, 500 / 1200.0)));
}

TEST(PitchShift, FilterTakesANewPitchOnePieceBeforeTheGrains) {
  Granular s = shifter(2048, 1, -1200.0f);
  PitchShiftChannel& c = s.shift().channels[0];
  const auto in = noisePcm(2048, 21, 20000);
  s.run(in);
  ASSERT_EQ(setPitchShiftPitch(s.h, 600.0f), 1u);
  EXPECT_TRUE(c.redesignPending);
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
    EXPECT_EQ(s.shift().channels[1].pending.ratio, ratio) << pitch;
  }
  EXPECT_EQ(setPitchShiftOutLevel(s.h, -6.0f), 1u);
  s.run(sinePcm(440, kRate, 1000, 2));
}

// A host may change the pitch from a control thread while its audio thread
// runs doPitchShift on the same object. Under ThreadSanitizer this reports
// any access the busy flag fails to order; in every build it checks that the
// parameters are never left half-written.
TEST(PitchShiftThreads, PitchChangesFromAnotherThreadApplyBetweenPieces) {
  const uint32_t frames = 4096;
  Granular s = shifter(frames, 2, 300.0f);
  ASSERT_NE(s.h, nullptr);
  const auto in = sinePcm(440, kRate, frames, 2);
  const float pitches[] = {1200, -1200, 0, 700, -350, 2400, 55.5f, -1};
  std::atomic<bool> done{false};
  std::atomic<int> blocks{0}, failures{0};
  std::thread audio([&] {
    std::vector<int16_t> out(in.size());
    while (!done.load(std::memory_order_acquire) || blocks.load() < 20) {
      if (doPitchShift(s.h, in.data(), out.data(), frames * 4) != 1) failures.fetch_add(1);
      blocks.fetch_add(1);
      std::this_thread::sleep_for(std::chrono::microseconds(200));  // a callback's idle time
    }
  });
  for (int set = 0; set < 6 * static_cast<int>(std::size(pitches)); ++set) {
    if (setPitchShiftPitch(s.h, pitches[set % std::size(pitches)]) != 1) failures.fetch_add(1);
    if (setPitchShiftOutLevel(s.h, -0.1f * static_cast<float>(set % 7)) != 1) failures.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  }
  done.store(true, std::memory_order_release);
  audio.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_GE(blocks.load(), 20);

  // Both channels hold the last pitch whole, as an object built with it
  // holds it, and the next block makes it the one in force.
  Granular fresh = shifter(frames, 2, pitches[std::size(pitches) - 1]);
  const PitchParams& want = fresh.shift().channels[0].pending;
  for (const PitchShiftChannel& c : s.shift().channels) {
    EXPECT_EQ(c.pendingPitch, fresh.shift().channels[0].pendingPitch);
    EXPECT_TRUE(c.pending.bypass == want.bypass && c.pending.ratio == want.ratio &&
                c.pending.startOffset == want.startOffset);
    EXPECT_FALSE(c.busy.isSet());
  }
  s.run(in);
  for (const PitchShiftChannel& c : s.shift().channels) {
    EXPECT_TRUE(c.active.ratio == want.ratio && c.active.startOffset == want.startOffset && !c.redesignPending);
  }
}

}  // namespace

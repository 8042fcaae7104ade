// A host may change the pitch from a control thread while its audio thread
// runs doPitchShift on the same object. Run under ThreadSanitizer this
// reports any access the busy flag fails to order; in every build it checks
// that the parameters are never left half-written.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <iterator>
#include <thread>
#include <vector>

#include "common/test_support.h"
#include "dspfx/dspfx.h"
#include "pitchtime/pitch_shift_effect.h"

namespace {

using namespace dspfx;
using namespace dspfx::test;

constexpr uint32_t kRate = 44100;

// The pending fields a pitch of the given cents must produce, whole.
void expectConsistent(const PitchShiftChannel& c, float cents) {
  const float clamped = std::fmax(-1200.0f, std::fmin(1200.0f, cents));
  const auto ratio = static_cast<float>(std::pow(2.0, clamped * 0.0008333333333333334));
  const float n = static_cast<float>(c.grainLength);
  EXPECT_EQ(c.pendingPitch, clamped);
  EXPECT_EQ(c.pending.bypass, cents == 0.0f);
  EXPECT_EQ(c.pending.ratio, ratio);
  EXPECT_EQ(c.pending.startOffset, clamped >= 0 ? static_cast<int32_t>(n - n * ratio) : 0);
}

TEST(PitchShiftThreads, PitchChangesFromAnotherThreadApplyBetweenPieces) {
  const uint32_t frames = 4096;
  DspEffect* h = initPitchShift(frames, 2, kRate, 300.0f, 0.0f, 0.04f, 0.01f, 1, 1);
  ASSERT_NE(h, nullptr);
  auto& effect = *reinterpret_cast<PitchShiftEffect*>(h);
  const auto in = sinePcm(440, kRate, frames, 2);
  const float pitches[] = {1200, -1200, 0, 700, -350, 2400, 55.5f, -1};

  std::atomic<bool> done{false};
  std::atomic<int> blocks{0};
  std::atomic<int> failures{0};
  std::thread audio([&] {
    std::vector<int16_t> out(in.size());
    while (!done.load(std::memory_order_acquire) || blocks.load() < 20) {
      if (doPitchShift(h, in.data(), out.data(), frames * 4) != 1) failures.fetch_add(1);
      blocks.fetch_add(1);
      // An audio callback leaves the object alone between blocks.
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  int sets = 0;
  for (int round = 0; round < 6; ++round) {
    for (float p : pitches) {
      if (setPitchShiftPitch(h, p) != 1) failures.fetch_add(1);
      if (setPitchShiftOutLevel(h, -0.1f * static_cast<float>(sets % 7)) != 1) failures.fetch_add(1);
      ++sets;
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
  }
  done.store(true, std::memory_order_release);
  audio.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_GE(blocks.load(), 20);

  // Both channels hold the last pitch whole, and the next block makes it
  // the one in force.
  const float last = pitches[std::size(pitches) - 1];
  EXPECT_EQ(effect.pitch, last);
  for (const PitchShiftChannel& c : effect.channels) {
    expectConsistent(c, last);
    EXPECT_FALSE(c.busy.isSet());
  }
  std::vector<int16_t> out(in.size());
  ASSERT_EQ(doPitchShift(h, in.data(), out.data(), frames * 4), 1u);
  for (const PitchShiftChannel& c : effect.channels) {
    EXPECT_EQ(c.active.ratio, c.pending.ratio);
    EXPECT_EQ(c.active.startOffset, c.pending.startOffset);
    EXPECT_FALSE(c.redesignPending);
  }
  EXPECT_EQ(termPitchShift(h), 1u);
}

}  // namespace

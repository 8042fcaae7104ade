#pragma once
// What the pitch and time suites share: owned handles whose destruction is
// itself checked, and the two granular families behind one front.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "common/test_support.h"
#include "core/exports/export_call.h"
#include "dspfx/dspfx.h"
#include "pitchtime/pitch_shift_effect.h"
#include "pitchtime/stretch_effect.h"

namespace dspfx::test {

constexpr uint32_t kRate = 44100;

// A handle that must be released successfully when the test lets go of it.
template <uint32_t (*Term)(DspEffect*)>
struct Owned {
  explicit Owned(DspEffect* handle) : h(handle) {}
  Owned(const Owned&) = delete;
  ~Owned() { EXPECT_EQ(Term(h), 1u) << "releasing " << static_cast<void*>(h); }
  operator DspEffect*() const { return h; }
  DspEffect* h;
};

// One granular family: amounts are cents for the pitch shifter and the
// scale for the stretcher.
struct Family {
  const char* name;
  bool stretch;
  uint32_t interpolation;
  float octave;    // the amount that makes the grains' ratio 2
  float seamless;  // an amount whose output does not depend on the blocking
  // Frames before a steady stream: the pre-rolled grains read zeroed
  // history, up to 8 grains of 2704 frames back for the stretcher.
  uint32_t settleFrames;
  float levelAmounts[5];  // amounts whose gain is checked on a constant
};

inline const Family kFamilies[] = {
    {"pitch shift, linear", false, 0, 1200, 700, 4096, {1200, -1200, 700, -250, 30}},
    {"pitch shift, cubic", false, 1, 1200, 700, 4096, {1200, -1200, 700, -250, 30}},
    // Ratio 2 keeps every stretch grain position an exact integer.
    {"stretch", true, 0, -1000, -1000, 11 * 2048, {1000, -1000, 300, -2000, 3000}},
};
inline const Family& kShift = kFamilies[1];
inline const Family& kStretch = kFamilies[2];

// An effect of a family behind its exports, destroyed with the object.
struct Granular {
  Granular(const Family& f, uint32_t capacity, uint32_t channels, float amount, float levelDb = 0,
           float grain = 0.04f, float hop = 0.01f, uint32_t rate = kRate, uint32_t antiAlias = 1)
      : f(f),
        h(f.stretch ? initStretch(capacity, channels, rate, amount, levelDb, grain, hop)
                    : initPitchShift(capacity, channels, rate, amount, levelDb, grain, hop, f.interpolation,
                                     antiAlias)) {}
  Granular(const Granular&) = delete;
  ~Granular() {
    if (h) {
      EXPECT_EQ(f.stretch ? termStretch(h) : termPitchShift(h), 1u) << f.name;
    }
  }
  // One block of interleaved samples in, the samples written out.
  std::vector<int16_t> run(const int16_t* in, size_t samples) {
    std::vector<int16_t> out(4 * samples + 64);  // the stretcher writes at most ratio 4
    const auto bytes = static_cast<uint32_t>(2 * samples);
    if (f.stretch) {
      out.resize(doStretch(h, in, out.data(), bytes) / 2);
    } else {
      EXPECT_EQ(doPitchShift(h, in, out.data(), bytes), 1u);
      out.resize(samples);
    }
    return out;
  }
  std::vector<int16_t> run(const std::vector<int16_t>& in) { return run(in.data(), in.size()); }
  // Consecutive blocks of the given number of samples, the outputs joined.
  std::vector<int16_t> runBlocks(const std::vector<int16_t>& in, size_t block) {
    std::vector<int16_t> all;
    for (size_t at = 0; at < in.size(); at += block) {
      const auto out = run(in.data() + at, std::min(block, in.size() - at));
      all.insert(all.end(), out.begin(), out.end());
    }
    return all;
  }
  PitchShiftEffect& shift() const { return *dspfx::effectOf<PitchShiftEffect>(h); }
  StretchEffect& stretch() const { return *dspfx::effectOf<StretchEffect>(h); }
  // A channel's hop counter and first slot phase.
  std::pair<uint32_t, int32_t> timing(uint32_t channel) const {
    if (f.stretch) return {stretch().channels[channel].hopCounter, stretch().channels[channel].slots[0].phase};
    return {shift().channels[channel].hopCounter, shift().channels[channel].slots[0].phase};
  }
  EffectBase& effect() const { return f.stretch ? static_cast<EffectBase&>(stretch()) : shift(); }
  const Family& f;
  DspEffect* h;
};

}  // namespace dspfx::test

#pragma once
#include <cstdint>

#include "dsp/aligned_grains.h"

namespace dspfx {

// Sequence, seek and overlap in seconds for the aligned engines; a value of
// 0 leaves that length to follow the sample rate and the ratio.
struct AlignedGrainTimes {
  float sequence = 0.0f;
  float seek = 0.0f;
  float overlap = 0.0f;
};

// Times as a host gives them: each 0 (automatic) or up to one second.
// False for anything else (negative, NaN, longer).
bool alignedTimesFrom(float sequence, float seek, float overlap, AlignedGrainTimes& times);

// The lengths in force at sampleRate and ratio: the set times where given,
// the defaults elsewhere (the overlap kept shorter than the sequence).
AlignedGrainLengths alignedLengthsFor(const AlignedGrainTimes& times, float sampleRate,
                                      double ratio);
// The longest lengths any ratio from minRatio to maxRatio can ask for.
AlignedGrainLengths alignedLengthLimit(const AlignedGrainTimes& times, float sampleRate,
                                       double minRatio, double maxRatio);

// Time stretch of one or two channels by aligned grains, with the output
// length exact over the stream: after I input frames at one ratio r the
// output holds floor(I * r) frames, however the input was cut into blocks.
class AlignedStretch {
 public:
  // Most input frames handed to the engine at once.
  static constexpr uint32_t kPushFrames = 4096;
  static constexpr double kMinRatio = 0.125;
  static constexpr double kMaxRatio = 4.0;

  // Sets up (and resets) for channels at sampleRate. False when memory
  // cannot be had.
  bool prepare(uint32_t channels, float sampleRate, const AlignedGrainTimes& times);
  // Silence in, the count of frames restarted.
  void reset();

  // Stretches n input frames by ratio (output / input); right may be null
  // for one channel. Returns the output frames written.
  uint32_t process(const float* inL, const float* inR, float* outL, float* outR, uint32_t n,
                   double ratio);
  // What process would write for n frames at ratio.
  uint32_t outputFrames(uint32_t n, double ratio) const;
  // Input frames between an input frame and the output frame it becomes,
  // counted at the input.
  uint32_t delay() const { return engine_.lead(); }

  bool ready() const { return engine_.allocated; }

 private:
  void follow(double ratio);

  AlignedGrains engine_;
  AlignedGrainTimes times_;
  float sampleRate_ = 0.0f;
  // The ratio the counts refer to; they restart when it changes.
  double ratio_ = 0.0;
  uint64_t in_ = 0;
  uint64_t out_ = 0;
};

}  // namespace dspfx

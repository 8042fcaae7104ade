#pragma once
#include <cstdint>

#include "core/effect_base.h"
#include "dsp/channel_pair.h"
#include "core/param_mailbox.h"
#include "pitchtime/aligned_stretch.h"
#include "pitchtime/stretch_channel.h"

namespace dspfx {

// Time stretch: each block comes out longer or shorter by 2^(-scale/1000)
// at the same pitch. outFrames is the output capacity; outL/outR hold at
// least that many frames.
class StretchEffect : public EffectBase {
 public:
  static constexpr int32_t kTypeId = kTypeStretch;
  StretchEffect() { typeId = kTypeId; }

  // False when the block buffers, the grains or the hop cannot be had.
  bool init(uint32_t capacityFrames, uint32_t channels, uint32_t sampleRate, float scale,
            float outLevelDb, float grainTime, float hopTime);

  // Safe to call from another thread while a block is processed: the
  // change waits in a mailbox and both channels (or the aligned engine)
  // take it at the start of the next block (or the next size query), so
  // they always run one ratio.
  void setScale(float newScale) { scaleBox_.post(newScale); }
  void setOutLevel(float outLevelDb) { levelBox_.post(outLevelDb); }
  // Hands posted changes to both channels, which the aligned engine reads
  // its ratio and gain from too; the processing side calls it before a
  // block (and before anything that reads the parameters).
  void takeChanges();
  // 0: the granular stretcher; 1: aligned grains. Takes effect from the
  // next block; the new mode starts from silence. False for other values
  // or when memory cannot be had (the mode then stays).
  bool setMode(uint32_t newMode);
  // Aligned grain lengths in seconds (0: follow the rate and ratio); the
  // aligned engine restarts from silence.
  bool setAlignedTimes(const AlignedGrainTimes& times);

  uint32_t setup(uint32_t frames, uint32_t channels, uint32_t rate) override;
  uint32_t getDstSize(uint32_t size) override;
  uint32_t processChannel(uint32_t channel, const float* in, float* out,
                          uint32_t frames) override;
  uint32_t process(const float* inL, const float* inR, float* outL, float* outR,
                   uint32_t frames) override;
  uint32_t processInterleaved(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) override;

  ChannelPair<StretchChannel> channels;
  float scale = 0.0f;
  float outputLevel = 0.0f;
  float grainTime = 0.0f;
  float hopTime = 0.0f;
  uint32_t mode = 0;
  AlignedGrainTimes alignedTimes;
  AlignedStretch aligned;

 private:
  bool buildChannels(uint32_t frames, uint32_t rate, uint32_t& outputCapacity);
  // Grows outL/outR when a block of frames would produce more than they
  // hold, which happens only after the ratio was raised since the last
  // setup. False when they cannot grow.
  bool reserveOutput(uint32_t frames);
  bool growOutput(uint32_t outputFrames);
  // The aligned engine over one block; output frames.
  uint32_t processAligned(const float* inL, const float* inR, float* outL, float* outR,
                          uint32_t frames);
  // The ratio the aligned engine runs a piece at: 1 for a scale of 0.
  static double alignedRatio(const StretchParams& p) { return p.bypass ? 1.0 : p.ratio; }

  ParamMailbox<float> scaleBox_;
  ParamMailbox<float> levelBox_;
};

}  // namespace dspfx

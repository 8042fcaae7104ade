#pragma once
#include <cstdint>

#include "core/effect_base.h"
#include "dsp/channel_pair.h"
#include "core/param_mailbox.h"
#include "pitchtime/aligned_pitch.h"
#include "pitchtime/pitch_shift_channel.h"

namespace dspfx {

// Pitch shift by up to an octave either way; blocks keep their length.
class PitchShiftEffect : public EffectBase {
 public:
  static constexpr int32_t kTypeId = kTypePitchShift;
  PitchShiftEffect() { typeId = kTypeId; }

  // False when the block buffers, the grains or the hop cannot be had.
  bool init(uint32_t capacityFrames, uint32_t channels, uint32_t sampleRate, float pitch,
            float outLevelDb, float grainTime, float hopTime, uint32_t interpolationMode,
            bool antiAliasOn);

  // Safe to call from another thread while a block is processed: the
  // change waits in a mailbox and both channels (or the aligned engine)
  // take it at the start of the next block, so they always shift by the
  // same pitch.
  void setPitch(float newPitch) { pitchBox_.post(newPitch); }
  void setOutLevel(float outLevelDb) { levelBox_.post(outLevelDb); }
  // 0: the granular shifter; 1: aligned grains. Takes effect from the next
  // block; the new mode starts from silence. False for other values or
  // when memory cannot be had (the mode then stays).
  bool setMode(uint32_t newMode);
  // Aligned grain lengths in seconds (0: follow the rate and ratio); the
  // aligned engine restarts from silence.
  bool setAlignedTimes(const AlignedGrainTimes& times);

  uint32_t setup(uint32_t frames, uint32_t channels, uint32_t rate) override;
  uint32_t processChannel(uint32_t channel, const float* in, float* out,
                          uint32_t frames) override;
  uint32_t process(const float* inL, const float* inR, float* outL, float* outR,
                   uint32_t frames) override;
  uint32_t processInterleaved(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) override;
  // Hands posted changes to both channels, which the aligned engine reads
  // its ratio and gain from too; the processing side calls it before a
  // block (and before anything that reads the parameters).
  void takeChanges();

  ChannelPair<PitchShiftChannel> channels;
  float pitch = 0.0f;
  float outputLevel = 0.0f;
  float grainTime = 0.0f;
  float hopTime = 0.0f;
  uint32_t interpolation = 0;
  bool antiAlias = false;
  uint32_t mode = 0;
  AlignedGrainTimes alignedTimes;
  AlignedPitch aligned;

 private:
  bool buildChannels(uint32_t rate);
  bool prepareAligned();
  void processAligned(const float* inL, const float* inR, float* outL, float* outR,
                      uint32_t frames);

  ParamMailbox<float> pitchBox_;
  ParamMailbox<float> levelBox_;
};

}  // namespace dspfx

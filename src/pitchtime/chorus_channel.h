#pragma once
#include <cstdint>
#include <vector>

#include "core/dsp_object.h"

namespace dspfx {

// A power-of-two line of past input, written once per frame and read at a
// whole-frame delay behind the write position.
class DelayLine : public DspObject {
 public:
  DelayLine() = default;
  ~DelayLine() override;

  virtual void release();
  // Clears the line to size zeros (size a power of two) and sets the delay
  // from delaytime ms. False when memory cannot be had.
  virtual bool setup(uint32_t rate, float delaytime, uint32_t size);
  void setDelaytime(float delaytime);

  uint32_t size = 0;
  uint32_t mask = 0;
  uint32_t delay = 0;  // frames
  uint32_t writePosition = 0;
  uint32_t sampleRate = 0;
  float* buffer = nullptr;
};

// The sine oscillator that sweeps the delay, and the output levels.
class ModulatedDelay : public DelayLine {
 public:
  ModulatedDelay() = default;
  ~ModulatedDelay() override = default;

  // Seconds per oscillator cycle; 0 stops the oscillator where it is.
  void setSpeed(float speed);
  void setDepth(float depthMs);

  float depth = 0.0f;         // frames
  float rateFactor = 0.0f;    // cycles per ms
  float msPerFrame = 0.0f;
  float period = 0.0f;        // ms per cycle
  float mixLevel = 0.0f;
  float dryLevel = 0.0f;
  float time = 0.0f;          // ms into the cycle
};

// The chorus of one channel: voices read the line at delays swept by the
// one oscillator, each a fixed share of the cycle ahead of the one before.
class ChorusChannel : public ModulatedDelay {
 public:
  static constexpr uint32_t kLineSize = 65536;

  ChorusChannel() = default;
  ~ChorusChannel() override;

  void release() override;
  // Clears the line, restarts the oscillator and gives every voice the mix.
  // False when memory cannot be had.
  bool build(uint32_t rate, uint32_t voices, float delaytime, float depthMs, float speed, float mix,
             float orgMix);
  virtual void process(const float* in, float* out, uint32_t frames);
  // False for a voice at or above the voice count.
  bool setVoiceMix(uint32_t voice, float mix);

  uint32_t voiceCount = 0;
  std::vector<float> phaseOffsets;  // radians
  std::vector<float> voiceLevels;
};

}  // namespace dspfx

#pragma once
#include <cstdint>

#include "core/dsp_object.h"
#include "core/handle_registry.h"
#include "dspfx/dspfx.h"

namespace dspfx {

enum EffectTypeId : int32_t {
  kTypeAnalyser = 1,  // Fft, FftAnalyze, EnvAnalyze
  kTypeFader = 2,
  kTypeIirFilter = 3,
  kTypeWaveSlice = 4,
  kTypeResampler = 5,
  kTypeHqups = 6,
  kTypePitchShift = 7,
  kTypeStretch = 8,
  kTypeChorus = 9,
  kTypeGraphicEq = 11,
  kTypeShelvingEq = 12,
};

// Common base of every effect: six planar buffers of capacityFrames floats
// each (the rate- and length-changing families enlarge their outputs to
// outFrames) and the block format on the way in and out.
class EffectBase : public DspObject {
 public:
  using Handle = ::DspEffect;
  static constexpr HandleKind kHandleKind = HandleKind::kEffect;

  EffectBase() = default;
  ~EffectBase() override;

  virtual void releaseBuffers();
  // Regrows the buffers for a new block format; returns the rate.
  virtual uint32_t setup(uint32_t frames, uint32_t channels, uint32_t rate);
  virtual uint32_t getDstSize(uint32_t size) { return size; }
  virtual uint32_t processChannel(uint32_t channel, const float* in, float* out,
                                  uint32_t frames) = 0;
  virtual uint32_t process(const float* inL, const float* inR, float* outL, float* outR,
                           uint32_t frames) = 0;
  // The whole block on PCM; bytes produced. The default is the shape most
  // families share: convert in, processChannel per channel, convert back.
  virtual uint32_t processInterleaved(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);

  // Keeps the buffers when they are large enough, else grows them. False
  // when memory could not be had (the effect is then unusable: allocated is
  // false and every buffer is null).
  bool setupBuffers(uint32_t frames, uint32_t channels);

  // Grows one of this object's planar buffers to hold frames floats.
  bool growBuffer(float*& buffer, uint32_t frames);

  bool stereo() const { return inChannels == 2; }
  // Frames in a PCM block of this effect's input format.
  uint32_t framesIn(uint32_t bytes) const { return bytes / (stereo() ? 4u : 2u); }

  int32_t typeId = 0;
  float* inL = nullptr;
  float* inR = nullptr;
  float* outL = nullptr;
  float* outR = nullptr;
  float* auxL = nullptr;
  float* auxR = nullptr;
  uint32_t inChannels = 0;
  uint32_t outChannels = 0;
  uint32_t capacityFrames = 0;
  uint32_t outFrames = 0;
  uint32_t inRate = 0;
  uint32_t outRate = 0;

 private:
  float** buffers() { return &inL; }
};

}  // namespace dspfx

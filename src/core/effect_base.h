#pragma once
#include <array>
#include <cstdint>
#include <initializer_list>

#include "core/handle_registry.h"
#include "core/last_error.h"
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
// each (the rate- and length-changing families enlarge their outputs beyond
// that) and the block format on the way in and out.
//
// The buffers, their sizes and the capacity are private: they change only
// through setupBuffers, growBuffers and releaseBuffers, which keep them
// consistent (all six present and at least capacityFrames long, or none;
// only shrinkBuffers makes an output shorter).
class EffectBase {
 public:
  using Handle = ::DspEffect;
  static constexpr HandleKind kHandleKind = HandleKind::kEffect;
  // What a failed init reports.
  static constexpr int32_t kInitError = kErrorBadArgument;

  enum BufferId : int { kInL, kInR, kOutL, kOutR, kAuxL, kAuxR, kBufferCount };

  EffectBase() = default;
  virtual ~EffectBase();
  EffectBase(const EffectBase&) = delete;
  EffectBase& operator=(const EffectBase&) = delete;

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

  // Keeps the buffers when they are large enough, else replaces all six
  // with buffers of exactly frames floats (which also undoes any earlier
  // growBuffers). False when memory could not be had (the effect is then
  // unusable: allocated() is false and every buffer is null).
  bool setupBuffers(uint32_t frames, uint32_t channels);
  // Grows each named buffer that holds fewer than frames floats to exactly
  // frames; the others stay as they are. False when memory ran out.
  bool growBuffers(std::initializer_list<BufferId> which, uint32_t frames);
  // Shrinks each named buffer that holds more than frames floats to exactly
  // frames, for an output that no block fills further (it may then hold
  // fewer than capacityFrames). False when memory ran out.
  bool shrinkBuffers(std::initializer_list<BufferId> which, uint32_t frames);

  bool allocated() const { return allocated_; }
  uint32_t capacityFrames() const { return capacityFrames_; }
  float* buffer(BufferId id) const { return buffers_[id]; }
  // Floats the buffer holds: capacityFrames() or what growBuffers made it.
  uint32_t bufferFrames(BufferId id) const { return bufferFrames_[id]; }
  float* inL() const { return buffers_[kInL]; }
  float* inR() const { return buffers_[kInR]; }
  float* outL() const { return buffers_[kOutL]; }
  float* outR() const { return buffers_[kOutR]; }
  float* auxL() const { return buffers_[kAuxL]; }
  float* auxR() const { return buffers_[kAuxR]; }

  bool stereo() const { return inChannels == 2; }
  // Frames in a PCM block of this effect's input format.
  uint32_t framesIn(uint32_t bytes) const { return bytes / (stereo() ? 4u : 2u); }

  int32_t typeId = 0;
  uint32_t inChannels = 0;
  uint32_t outChannels = 0;
  uint32_t outFrames = 0;
  uint32_t inRate = 0;
  uint32_t outRate = 0;

 private:
  void freeAll();

  std::array<float*, kBufferCount> buffers_{};
  std::array<uint32_t, kBufferCount> bufferFrames_{};
  uint32_t capacityFrames_ = 0;
  bool allocated_ = false;
};

}  // namespace dspfx

#pragma once
#include <cstdint>

#include "dsp/envelope_follower.h"
#include "dsp/fft_frame.h"
#include "core/effect_base.h"
#include "dsp/channel_pair.h"

namespace dspfx {

// The one effect class behind the three analyser families (Fft, FftAnalyze,
// EnvAnalyze). Each init sets up only the members its family uses; the
// object remembers which family made it, and the do calls of the other two
// refuse it. It produces no audio: its processing slots return 0.
class AnalyserEffect : public EffectBase {
 public:
  static constexpr int32_t kTypeId = kTypeAnalyser;
  enum class Family : uint8_t { kNone, kFft, kFftAnalyze, kEnvAnalyze };

  AnalyserEffect() { typeId = kTypeId; }

  // Keeps the buffers at least as long as the family reads them and the
  // spectrum count of an Fft object, whatever format a chain hands down.
  uint32_t setup(uint32_t frames, uint32_t channels, uint32_t rate) override;
  uint32_t processChannel(uint32_t, const float*, float*, uint32_t) override { return 0; }
  uint32_t process(const float*, const float*, float*, float*, uint32_t) override { return 0; }
  uint32_t processInterleaved(const int16_t*, int16_t*, uint32_t) override { return 0; }

  // False when the arguments cannot make a working object (see the header).
  bool initFft(uint32_t frames, uint32_t channels, uint32_t spectrumChannels, uint32_t floorDb);
  bool initFftAnalyze(uint32_t frames, uint32_t channels, uint32_t size, uint32_t historyLength);
  bool initEnvAnalyze(uint32_t frames, uint32_t channels, uint32_t sampleRate);

  // Bins per spectrum, or 0 when this is not an Fft object.
  uint32_t doFft(const int16_t* in, float* out, uint32_t bytes);
  // 1, or 0 when this is not an FftAnalyze object.
  int32_t doFftAnalyze(const int16_t* in, float* out, uint32_t bytes);
  // 1, or 0 when this is not an EnvAnalyze object. out may be null.
  int32_t doEnvAnalyze(const int16_t* in, float* out, uint32_t bytes);

  uint32_t hop = 0;
  uint32_t fftSize = 0;
  ChannelPair<SpectrumFrame> analysisFrames;
  ChannelPair<EnvelopeFollower> envelopes;
  ChannelPair<BlockSpectrumFrame> blockFrames;
  Family family = Family::kNone;

 private:
  // Frames the family's processing reads from the base buffers.
  uint32_t framesNeeded() const;
};

}  // namespace dspfx

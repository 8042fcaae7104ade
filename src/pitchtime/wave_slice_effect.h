#pragma once
#include <cstdint>

#include "core/effect_base.h"
#include "pitchtime/slice_detector.h"

namespace dspfx {

// Cuts a stream into slices at its attacks and hands out their times. An
// analyser: only its exports do anything, its processing slots return 0.
class WaveSliceEffect : public EffectBase {
 public:
  static constexpr int32_t kTypeId = kTypeWaveSlice;

  WaveSliceEffect() { typeId = kTypeId; }

  uint32_t processChannel(uint32_t, const float*, float*, uint32_t) override { return 0; }
  uint32_t process(const float*, const float*, float*, float*, uint32_t) override { return 0; }
  uint32_t processInterleaved(const int16_t*, int16_t*, uint32_t) override { return 0; }

  // False when the detector cannot be built (see SliceDetector::build).
  bool init(uint32_t frames, uint32_t channels, uint32_t sampleRate, float openLevelDb, float closeLevelDb,
            float risePercent, float minSliceTime);
  // Analyses one PCM block, stereo mixed to mono. 1, or 0 (nothing
  // analysed) for more frames than the detector was built for.
  uint32_t doWaveSlice(const int16_t* in, uint32_t bytes);

  SliceDetector detector;
};

}  // namespace dspfx

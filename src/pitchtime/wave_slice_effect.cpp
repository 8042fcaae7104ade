#include "pitchtime/wave_slice_effect.h"

#include "core/sample_convert.h"

namespace dspfx {

bool WaveSliceEffect::init(uint32_t frames, uint32_t channels, uint32_t sampleRate, float openLevelDb,
                           float closeLevelDb, float risePercent, float minSliceTime) {
  if (frames == 0 || !setupBuffers(frames, channels)) return false;
  inRate = sampleRate;
  return detector.build(frames, static_cast<float>(sampleRate), openLevelDb, closeLevelDb, risePercent,
                        minSliceTime);
}

uint32_t WaveSliceEffect::doWaveSlice(const int16_t* in, uint32_t bytes) {
  const uint32_t frames = framesIn(bytes);
  if (frames > detector.capacity) return 0;
  // A null right output mixes a stereo block to mono: (L + R) / 2.
  pcm16ToFloat(in, bytes, inL(), nullptr, inChannels);
  detector.run(inL(), frames);
  return 1;
}

}  // namespace dspfx

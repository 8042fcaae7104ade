#include "core/exports/export_call.h"
#include "dspfx/dspfx.h"
#include "pitchtime/pitch_shift_effect.h"

using namespace dspfx;

extern "C" {

DSPFX_API DspEffect* initPitchShift(uint32_t capacityFrames, uint32_t channels,
                                    uint32_t sampleRate, float pitch, float outLevelDb,
                                    float grainTime, float hopTime, uint32_t interpolation,
                                    uint32_t antiAlias) noexcept {
  return createEffect<PitchShiftEffect>([&](PitchShiftEffect& e) {
    return e.init(capacityFrames, channels, sampleRate, pitch, outLevelDb, grainTime, hopTime,
                  interpolation, (antiAlias & 0xFFu) != 0);
  });
}

DSPFX_API uint32_t doPitchShift(DspEffect* handle, const int16_t* in, int16_t* out,
                                uint32_t bytes) noexcept {
  return withBlock<PitchShiftEffect>(handle, in, out, bytes, [&](PitchShiftEffect& e) {
    if (e.framesIn(bytes) != 0) e.processInterleaved(in, out, bytes);
    return 1u;
  });
}

DSPFX_API uint32_t setPitchShiftPitch(DspEffect* handle, float pitch) noexcept {
  return withEffect<PitchShiftEffect>(handle, 0u, [&](PitchShiftEffect& e) {
    e.setPitch(pitch);
    return 1u;
  });
}

DSPFX_API uint32_t setPitchShiftOutLevel(DspEffect* handle, float outLevelDb) noexcept {
  return withEffect<PitchShiftEffect>(handle, 0u, [&](PitchShiftEffect& e) {
    e.setOutLevel(outLevelDb);
    return 1u;
  });
}

DSPFX_API uint32_t setPitchShiftMode(DspEffect* handle, uint32_t mode) noexcept {
  return withEffect<PitchShiftEffect>(
      handle, 0u, [&](PitchShiftEffect& e) { return e.setMode(mode) ? 1u : 0u; });
}

DSPFX_API uint32_t setPitchShiftAlignedTimes(DspEffect* handle, float sequenceTime,
                                             float seekTime, float overlapTime) noexcept {
  return withEffect<PitchShiftEffect>(handle, 0u, [&](PitchShiftEffect& e) {
    AlignedGrainTimes times;
    if (!alignedTimesFrom(sequenceTime, seekTime, overlapTime, times)) return 0u;
    return e.setAlignedTimes(times) ? 1u : 0u;
  });
}

DSPFX_API uint32_t termPitchShift(DspEffect* handle) noexcept {
  return destroyEffect<PitchShiftEffect>(handle);
}

}  // extern "C"

#include "core/exports/export_call.h"
#include "dspfx/dspfx.h"
#include "pitchtime/stretch_effect.h"

using namespace dspfx;

extern "C" {

DSPFX_API DspEffect* initStretch(uint32_t capacityFrames, uint32_t channels, uint32_t sampleRate,
                                 float scale, float outLevelDb, float grainTime,
                                 float hopTime) noexcept {
  return createEffect<StretchEffect>([&](StretchEffect& e) {
    return e.init(capacityFrames, channels, sampleRate, scale, outLevelDb, grainTime, hopTime);
  });
}

DSPFX_API uint32_t doStretch(DspEffect* handle, const int16_t* in, int16_t* out,
                             uint32_t bytes) noexcept {
  return withBlock<StretchEffect>(handle, in, out, bytes, [&](StretchEffect& e) {
    return e.processInterleaved(in, out, bytes);
  });
}

DSPFX_API uint32_t setStretchScale(DspEffect* handle, float scale) noexcept {
  return withEffect<StretchEffect>(handle, 0u, [&](StretchEffect& e) {
    e.setScale(scale);
    return 1u;
  });
}

DSPFX_API uint32_t setStretchOutLevel(DspEffect* handle, float outLevelDb) noexcept {
  return withEffect<StretchEffect>(handle, 0u, [&](StretchEffect& e) {
    e.setOutLevel(outLevelDb);
    return 1u;
  });
}

DSPFX_API uint32_t getStretchDstSize(DspEffect* handle, uint32_t size) noexcept {
  return withEffect<StretchEffect>(handle, 0u,
                                   [&](StretchEffect& e) { return e.getDstSize(size); });
}

DSPFX_API uint32_t setStretchMode(DspEffect* handle, uint32_t mode) noexcept {
  return withEffect<StretchEffect>(handle, 0u,
                                   [&](StretchEffect& e) { return e.setMode(mode) ? 1u : 0u; });
}

DSPFX_API uint32_t setStretchAlignedTimes(DspEffect* handle, float sequenceTime, float seekTime,
                                          float overlapTime) noexcept {
  return withEffect<StretchEffect>(handle, 0u, [&](StretchEffect& e) {
    AlignedGrainTimes times;
    if (!alignedTimesFrom(sequenceTime, seekTime, overlapTime, times)) return 0u;
    return e.setAlignedTimes(times) ? 1u : 0u;
  });
}

DSPFX_API uint32_t termStretch(DspEffect* handle) noexcept {
  return destroyEffect<StretchEffect>(handle);
}

}  // extern "C"

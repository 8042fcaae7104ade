#include <cstddef>

#include "core/exports/export_call.h"
#include "dspfx/dspfx.h"
#include "pitchtime/wave_slice_effect.h"

using namespace dspfx;

static_assert(offsetof(SliceRecord, next) == 0 && offsetof(SliceRecord, prev) == sizeof(void*) &&
                  offsetof(SliceRecord, start) == 2 * sizeof(void*) &&
                  offsetof(SliceRecord, end) == 2 * sizeof(void*) + 4,
              "SliceRecord crosses the interface as two pointers and two floats");

extern "C" {

DSPFX_API DspEffect* initWaveSlice(uint32_t capacityFrames, uint32_t channels, uint32_t sampleRate,
                                   float openLevelDb, float closeLevelDb, float risePercent,
                                   float minSliceTime) noexcept {
  return createEffect<WaveSliceEffect>([&](WaveSliceEffect& e) {
    return e.init(capacityFrames, channels, sampleRate, openLevelDb, closeLevelDb, risePercent, minSliceTime);
  });
}

DSPFX_API uint32_t doWaveSlice(DspEffect* handle, const int16_t* in, uint32_t bytes) noexcept {
  return withEffect<WaveSliceEffect>(handle, 0u, [&](WaveSliceEffect& e) -> uint32_t {
    if (!e.allocated() || (bytes != 0 && !in) || e.framesIn(bytes) > e.capacityFrames()) return 0;
    return e.doWaveSlice(in, bytes);
  });
}

DSPFX_API const SliceRecord* getWaveSlice(DspEffect* handle, uint32_t index) noexcept {
  return withEffect<WaveSliceEffect>(handle, static_cast<const SliceRecord*>(nullptr),
                                     [&](WaveSliceEffect& e) {
                                       e.detector.close();
                                       return e.detector.slice(index);
                                     });
}

DSPFX_API uint32_t stopWaveSlice(DspEffect* handle) noexcept {
  return withEffect<WaveSliceEffect>(handle, 0u, [](WaveSliceEffect& e) { return e.detector.close(); });
}

DSPFX_API uint32_t termWaveSlice(DspEffect* handle) noexcept { return destroyEffect<WaveSliceEffect>(handle); }

}  // extern "C"

#include "core/exports/export_call.h"
#include "dspfx/dspfx.h"
#include "eq/shelving_eq_effect.h"

using namespace dspfx;

extern "C" {

DSPFX_API DspEffect* initShelvingEQ(uint32_t capacityFrames, uint32_t channels, uint32_t sampleRate,
                                    uint32_t bandCount, const float* bandGainsDb,
                                    float outputLevelDb) noexcept {
  return createEffect<ShelvingEqEffect>([&](ShelvingEqEffect& e) {
    return e.init(capacityFrames, channels, sampleRate, bandCount, bandGainsDb, outputLevelDb);
  });
}

DSPFX_API uint32_t doShelvingEQ(DspEffect* handle, const int16_t* in, int16_t* out,
                                uint32_t bytes) noexcept {
  return withBlock<ShelvingEqEffect>(handle, in, out, bytes, [&](ShelvingEqEffect& e) -> uint32_t {
    e.processInterleaved(in, out, bytes);
    return 1;
  });
}

DSPFX_API uint32_t setShelvingEQGain(DspEffect* handle, int32_t band, float gainDb) noexcept {
  return withEffect<ShelvingEqEffect>(handle, 0u, [&](ShelvingEqEffect& e) -> uint32_t {
    return e.setGain(band, gainDb) ? 1 : 0;
  });
}

DSPFX_API uint32_t setShelvingEQOutputLevel(DspEffect* handle, float outputLevelDb) noexcept {
  return withEffect<ShelvingEqEffect>(handle, 0u, [&](ShelvingEqEffect& e) -> uint32_t {
    e.setOutputLevel(outputLevelDb);
    return 1;
  });
}

DSPFX_API uint32_t setShelvingEQMode(DspEffect* handle, uint32_t mode) noexcept {
  return withEffect<ShelvingEqEffect>(handle, 0u, [&](ShelvingEqEffect& e) -> uint32_t {
    return e.setMode(mode) ? 1 : 0;
  });
}

DSPFX_API uint32_t termShelvingEQ(DspEffect* handle) noexcept {
  return destroyEffect<ShelvingEqEffect>(handle);
}

}  // extern "C"

#include <cstddef>

#include "core/exports/export_call.h"
#include "dspfx/dspfx.h"
#include "eq/graphic_eq_effect.h"

using namespace dspfx;

static_assert(offsetof(GraphicEqBand, frequency) == 0 && offsetof(GraphicEqBand, gainDb) == 4 &&
                  offsetof(GraphicEqBand, zeroRadius) == 8 && offsetof(GraphicEqBand, poleRadius) == 12,
              "GraphicEqBand crosses the interface as four packed floats");

extern "C" {

DSPFX_API DspEffect* initGraphicEQ(uint32_t capacityFrames, uint32_t channels, uint32_t sampleRate,
                                   uint32_t bandCount, const GraphicEqBand* bands,
                                   float masterGainDb) noexcept {
  return createEffect<GraphicEqEffect>([&](GraphicEqEffect& e) {
    return e.init(capacityFrames, channels, sampleRate, bandCount, bands, masterGainDb);
  });
}

DSPFX_API uint32_t doGraphicEQ(DspEffect* handle, const int16_t* in, int16_t* out,
                               uint32_t bytes) noexcept {
  return withBlock<GraphicEqEffect>(handle, in, out, bytes, [&](GraphicEqEffect& e) -> uint32_t {
    e.processInterleaved(in, out, bytes);
    return 1;
  });
}

DSPFX_API uint32_t setGraphicEQGain(DspEffect* handle, uint32_t band, float gainDb) noexcept {
  return withEffect<GraphicEqEffect>(handle, 0u, [&](GraphicEqEffect& e) -> uint32_t {
    return static_cast<uint32_t>(e.setGain(band, gainDb));
  });
}

DSPFX_API uint32_t setGraphicEQMasterGain(DspEffect* handle, float masterGainDb) noexcept {
  return withEffect<GraphicEqEffect>(handle, 0u, [&](GraphicEqEffect& e) -> uint32_t {
    e.setMasterGain(masterGainDb);
    return 1;
  });
}

DSPFX_API uint32_t remakeGraphicEQBand(DspEffect* handle, uint32_t band, float frequency,
                                       float zeroRadius, float poleRadius) noexcept {
  return withEffect<GraphicEqEffect>(handle, 0u, [&](GraphicEqEffect& e) -> uint32_t {
    return static_cast<uint32_t>(e.remakeBand(band, frequency, zeroRadius, poleRadius));
  });
}

DSPFX_API uint32_t termGraphicEQ(DspEffect* handle) noexcept {
  return destroyEffect<GraphicEqEffect>(handle);
}

}  // extern "C"

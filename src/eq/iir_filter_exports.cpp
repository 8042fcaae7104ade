#include "core/exports/export_call.h"
#include "dspfx/dspfx.h"
#include "eq/iir_filter.h"

using namespace dspfx;

extern "C" {

DSPFX_API DspEffect* initIirFilter(uint32_t capacityFrames, uint32_t channels, uint32_t sampleRate,
                                   int32_t order, float cutoff, int32_t kind) noexcept {
  return createEffect<IirFilterEffect>([&](IirFilterEffect& e) {
    return e.init(capacityFrames, channels, sampleRate, order, cutoff, kind);
  });
}

DSPFX_API uint32_t doIirFilter(DspEffect* handle, const int16_t* in, int16_t* out,
                               uint32_t bytes) noexcept {
  return withBlock<IirFilterEffect>(handle, in, out, bytes, [&](IirFilterEffect& e) -> uint32_t {
    e.processInterleaved(in, out, bytes);
    return 1;
  });
}

DSPFX_API uint32_t termIirFilter(DspEffect* handle) noexcept {
  return destroyEffect<IirFilterEffect>(handle);
}

}  // extern "C"

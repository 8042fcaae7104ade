#include "core/exports/export_call.h"
#include "dspfx/dspfx.h"
#include "rate/chain_follow.h"
#include "rate/resampler.h"

using namespace dspfx;

extern "C" {

DSPFX_API DspEffect* initResampler(uint32_t capacityFrames, uint32_t channels,
                                   uint32_t outChannels, uint32_t srcRate, uint32_t dstRate,
                                   int32_t interpolation, float stopbandDb, float slopeDbPerOctave,
                                   uint8_t antiAlias) noexcept {
  return createEffect<Resampler>([&](Resampler& e) {
    return e.init(capacityFrames, channels, outChannels, srcRate, dstRate, interpolation,
                  stopbandDb, slopeDbPerOctave, antiAlias != 0);
  });
}

DSPFX_API uint32_t doResampler(DspEffect* handle, const int16_t* in, int16_t* out,
                               uint32_t bytes) noexcept {
  return withBlock<Resampler>(handle, in, out, bytes, [&](Resampler& e) -> uint32_t {
    return e.processInterleaved(in, out, bytes);
  });
}

DSPFX_API uint32_t getResamplerDstSize(DspEffect* handle, uint32_t size) noexcept {
  return withEffect<Resampler>(handle, 0u,
                               [&](Resampler& e) -> uint32_t { return e.getDstSize(size); });
}

DSPFX_API uint32_t setResamplerQuality(DspEffect* handle, uint32_t quality) noexcept {
  return withEffect<Resampler>(handle, 0u, [&](Resampler& e) -> uint32_t {
    if (quality > static_cast<uint32_t>(RateConverter::kQualityBandLimited)) return 0;
    if (!e.setQuality(static_cast<int32_t>(quality))) return 0;
    followInChain(e);
    return 1;
  });
}

DSPFX_API uint32_t termResampler(DspEffect* handle) noexcept {
  return destroyEffect<Resampler>(handle);
}

}  // extern "C"

#include "core/exports/export_call.h"
#include "rate/chain_follow.h"
#include "rate/hqups_effect.h"

using dspfx::HqupsEffect;
using dspfx::HqupsParams;

namespace {

HqupsParams params(float harmonics, float mix, uint32_t highpassHz, int32_t interpolation,
                   float stopbandDb, float slopeDbPerOctave, int32_t activeMode, uint8_t antiAlias) {
  HqupsParams p;
  p.harmonics = harmonics;
  p.mix = mix;
  p.highpassHz = highpassHz;
  p.interpolation = interpolation;
  p.stopbandDb = stopbandDb;
  p.slopeDbPerOctave = slopeDbPerOctave;
  p.activeMode = activeMode;
  p.antiAlias = antiAlias != 0;
  return p;
}

}  // namespace

extern "C" {

DSPFX_API DspEffect* initHqups(uint32_t dstFrames, uint32_t channels, uint32_t outChannels,
                               uint32_t srcRate, float harmonics, float mix, uint32_t highpassHz,
                               int32_t interpolation, float stopbandDb, float slopeDbPerOctave,
                               int32_t activeMode, uint8_t antiAlias) noexcept {
  const HqupsParams p =
      params(harmonics, mix, highpassHz, interpolation, stopbandDb, slopeDbPerOctave, activeMode, antiAlias);
  return dspfx::createEffect<HqupsEffect>(
      [&](HqupsEffect& e) { return e.initByDst(dstFrames, channels, outChannels, srcRate, p); });
}

DSPFX_API DspEffect* initHqupsBySrcsize(uint32_t capacityFrames, uint32_t channels,
                                        uint32_t outChannels, uint32_t srcRate, float harmonics,
                                        float mix, uint32_t highpassHz, int32_t interpolation,
                                        float stopbandDb, float slopeDbPerOctave,
                                        int32_t activeMode, uint8_t antiAlias) noexcept {
  const HqupsParams p =
      params(harmonics, mix, highpassHz, interpolation, stopbandDb, slopeDbPerOctave, activeMode, antiAlias);
  return dspfx::createEffect<HqupsEffect>(
      [&](HqupsEffect& e) { return e.initBySrc(capacityFrames, channels, outChannels, srcRate, p); });
}

DSPFX_API uint32_t doHqups(DspEffect* handle, const int16_t* in, int16_t* out,
                           uint32_t bytes) noexcept {
  return dspfx::withBlock<HqupsEffect>(handle, in, out, bytes, [&](HqupsEffect& e) -> uint32_t {
    if (e.framesIn(bytes) == 0) return 0;
    return e.processInterleaved(in, out, bytes);
  });
}

DSPFX_API uint32_t setHqupsHarmonics(DspEffect* handle, float harmonics) noexcept {
  return dspfx::withEffect<HqupsEffect>(handle, 0u, [&](HqupsEffect& e) {
    e.setHarmonics(harmonics);
    return 1u;
  });
}

DSPFX_API uint32_t setHqupsMix(DspEffect* handle, float mix) noexcept {
  return dspfx::withEffect<HqupsEffect>(handle, 0u, [&](HqupsEffect& e) {
    e.setMix(mix);
    return 1u;
  });
}

DSPFX_API uint32_t setHqupsActiveMode(DspEffect* handle, int32_t activeMode) noexcept {
  return dspfx::withEffect<HqupsEffect>(handle, 0u, [&](HqupsEffect& e) {
    e.setActiveMode(activeMode);
    return 1u;
  });
}

DSPFX_API uint32_t setHqupsQuality(DspEffect* handle, uint32_t quality) noexcept {
  return dspfx::withEffect<HqupsEffect>(handle, 0u, [&](HqupsEffect& e) -> uint32_t {
    if (quality > static_cast<uint32_t>(dspfx::RateConverter::kQualityBandLimited)) return 0;
    if (!e.setQuality(static_cast<int32_t>(quality))) return 0;
    dspfx::followInChain(e);
    return 1;
  });
}

DSPFX_API uint32_t getHqupsDstSize(DspEffect* handle, uint32_t frames) noexcept {
  return dspfx::withEffect<HqupsEffect>(handle, 0u, [&](HqupsEffect& e) { return e.getDstSize(frames); });
}

DSPFX_API uint32_t getHqupsSrcSize(DspEffect* handle, uint32_t frames) noexcept {
  return dspfx::withEffect<HqupsEffect>(handle, 0u, [&](HqupsEffect& e) { return e.getSrcSize(frames); });
}

DSPFX_API uint32_t termHqups(DspEffect* handle) noexcept {
  return dspfx::destroyEffect<HqupsEffect>(handle);
}

}  // extern "C"

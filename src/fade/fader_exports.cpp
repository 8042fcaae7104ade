#include "core/exports/export_call.h"
#include "dspfx/dspfx.h"
#include "fade/fader_effect.h"

using namespace dspfx;

namespace {
// Any value other than 0 or 1 is no fader: a negative index becomes a large
// unsigned one and is refused with the rest.
uint32_t faderIndex(int32_t index) { return static_cast<uint32_t>(index); }
}  // namespace

extern "C" {

DSPFX_API DspEffect* initFader(uint32_t frames, uint32_t channels, uint32_t rate,
                               float initialPosition, float initialLevel0,
                               float initialLevel1) noexcept {
  return createEffect<FaderEffect>([&](FaderEffect& e) {
    return e.init(frames, channels, rate, initialPosition, initialLevel0, initialLevel1);
  });
}

DSPFX_API uint32_t doFade(DspEffect* handle, int32_t fader, const int16_t* in, int16_t* out,
                          uint32_t bytes) noexcept {
  return withBlock<FaderEffect>(handle, in, out, bytes, [&](FaderEffect& e) -> uint32_t {
    return e.fade(faderIndex(fader), in, out, bytes) ? 1u : 0u;
  });
}

DSPFX_API uint32_t doCrossFade(DspEffect* handle, const int16_t* inA, const int16_t* inB,
                               int16_t* out, uint32_t bytes) noexcept {
  return withBlock<FaderEffect>(handle, inA, out, bytes, [&](FaderEffect& e) -> uint32_t {
    if (bytes != 0 && !inB) return 0;
    e.crossFade(inA, inB, out, bytes);
    return 1;
  });
}

DSPFX_API uint32_t setFaderAction(DspEffect* handle, int32_t fader, float start, float end,
                                  float target) noexcept {
  return withEffect<FaderEffect>(handle, 0u, [&](FaderEffect& e) -> uint32_t {
    return e.setFaderAction(faderIndex(fader), start, end, target) ? 1u : 0u;
  });
}

DSPFX_API uint32_t delFaderAction(DspEffect* handle, int32_t fader, float start,
                                  float end) noexcept {
  return withEffect<FaderEffect>(handle, 0u, [&](FaderEffect& e) -> uint32_t {
    return e.delFaderAction(faderIndex(fader), start, end) ? 1u : 0u;
  });
}

DSPFX_API uint32_t setCrossFaderAction(DspEffect* handle, float start, float end,
                                       float target) noexcept {
  return withEffect<FaderEffect>(handle, 0u, [&](FaderEffect& e) -> uint32_t {
    return e.setCrossFaderAction(start, end, target) ? 1u : 0u;
  });
}

DSPFX_API uint32_t delCrossFaderAction(DspEffect* handle, float start, float end) noexcept {
  return withEffect<FaderEffect>(handle, 0u, [&](FaderEffect& e) -> uint32_t {
    return e.delCrossFaderAction(start, end) ? 1u : 0u;
  });
}

DSPFX_API uint32_t setCrossFaderCurve(DspEffect* handle, float a, float b, float c,
                                      float d) noexcept {
  return withEffect<FaderEffect>(handle, 0u, [&](FaderEffect& e) -> uint32_t {
    return e.setCrossFaderCurve(a, b, c, d) ? 1u : 0u;
  });
}

DSPFX_API uint32_t termFader(DspEffect* handle) noexcept { return destroyEffect<FaderEffect>(handle); }

}  // extern "C"

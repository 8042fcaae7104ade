#include "core/exports/export_call.h"
#include "dspfx/dspfx.h"
#include "pitchtime/chorus_effect.h"

using namespace dspfx;

extern "C" {

DSPFX_API DspEffect* initChorus(uint32_t frames, uint32_t channels, uint32_t sampleRate,
                                uint32_t voices, float delaytime, float depth, float speed,
                                float mix, float orgMix) noexcept {
  return createEffect<ChorusEffect>([&](ChorusEffect& e) {
    return e.init(frames, channels, sampleRate, voices, delaytime, depth, speed, mix, orgMix);
  });
}

DSPFX_API uint32_t doChorus(DspEffect* handle, const int16_t* in, int16_t* out,
                            uint32_t bytes) noexcept {
  return withBlock<ChorusEffect>(handle, in, out, bytes, [&](ChorusEffect& e) -> uint32_t {
    const uint32_t frames = e.framesIn(bytes);
    if (frames == 0) return 1;
    e.processInterleaved(in, out, bytes);
    return 1;
  });
}

DSPFX_API uint32_t setChorusOrgMix(DspEffect* handle, float orgMix) noexcept {
  return withEffect<ChorusEffect>(handle, 0u, [&](ChorusEffect& e) -> uint32_t {
    e.setOrgMix(orgMix);
    return 1;
  });
}

DSPFX_API uint32_t setChorusMix(DspEffect* handle, int32_t voice, float mix) noexcept {
  return withEffect<ChorusEffect>(handle, 0u, [&](ChorusEffect& e) -> uint32_t {
    return e.setMix(voice, mix) ? 1u : 0u;
  });
}

DSPFX_API uint32_t setChorusSpeed(DspEffect* handle, float speed) noexcept {
  return withEffect<ChorusEffect>(handle, 0u, [&](ChorusEffect& e) -> uint32_t {
    e.setSpeed(speed);
    return 1;
  });
}

DSPFX_API uint32_t setChorusDepth(DspEffect* handle, float depth) noexcept {
  return withEffect<ChorusEffect>(handle, 0u, [&](ChorusEffect& e) -> uint32_t {
    e.setDepth(depth);
    return 1;
  });
}

DSPFX_API uint32_t setChorusDelaytime(DspEffect* handle, float delaytime) noexcept {
  return withEffect<ChorusEffect>(handle, 0u, [&](ChorusEffect& e) -> uint32_t {
    e.setDelaytime(delaytime);
    return 1;
  });
}

DSPFX_API uint32_t termChorus(DspEffect* handle) noexcept { return destroyEffect<ChorusEffect>(handle); }

}  // extern "C"

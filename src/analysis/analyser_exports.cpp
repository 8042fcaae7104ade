#include "analysis/analyser_effect.h"
#include "core/exports/export_call.h"
#include "dspfx/dspfx.h"

using namespace dspfx;

namespace {

// The do calls whose output is required: a spectrum is written even for an
// empty block (it is the spectrum of silence), so out must exist.
template <class F>
uint32_t withSpectrumBlock(DspEffect* handle, const int16_t* in, float* out, uint32_t bytes, F&& f) {
  if (!out) return 0;
  return withBlock<AnalyserEffect>(handle, in, out, bytes, f);
}

}  // namespace

extern "C" {

DSPFX_API DspEffect* initFft(uint32_t capacityFrames, uint32_t channels, uint32_t spectrumChannels,
                             uint32_t floorDb) noexcept {
  return createEffect<AnalyserEffect>(
      [&](AnalyserEffect& e) { return e.initFft(capacityFrames, channels, spectrumChannels, floorDb); });
}

DSPFX_API uint32_t doFft(DspEffect* handle, const int16_t* in, float* out, uint32_t bytes) noexcept {
  return withSpectrumBlock(handle, in, out, bytes, [&](AnalyserEffect& e) { return e.doFft(in, out, bytes); });
}

DSPFX_API DspEffect* initFftAnalyze(uint32_t capacityFrames, uint32_t channels, uint32_t fftSize,
                                    uint32_t historyLength) noexcept {
  return createEffect<AnalyserEffect>(
      [&](AnalyserEffect& e) { return e.initFftAnalyze(capacityFrames, channels, fftSize, historyLength); });
}

DSPFX_API uint32_t doFftAnalyze(DspEffect* handle, const int16_t* in, float* out, uint32_t bytes) noexcept {
  return withSpectrumBlock(handle, in, out, bytes, [&](AnalyserEffect& e) {
    return static_cast<uint32_t>(e.doFftAnalyze(in, out, bytes));
  });
}

DSPFX_API DspEffect* initEnvAnalyze(uint32_t capacityFrames, uint32_t channels, uint32_t sampleRate) noexcept {
  return createEffect<AnalyserEffect>(
      [&](AnalyserEffect& e) { return e.initEnvAnalyze(capacityFrames, channels, sampleRate); });
}

DSPFX_API uint32_t doEnvAnalyze(DspEffect* handle, const int16_t* in, float* out, uint32_t bytes) noexcept {
  // out may be null: the envelopes still advance.
  return withEffect<AnalyserEffect>(handle, 0u, [&](AnalyserEffect& e) -> uint32_t {
    if (!e.allocated() || (bytes != 0 && !in) || e.framesIn(bytes) > e.capacityFrames()) return 0;
    return static_cast<uint32_t>(e.doEnvAnalyze(in, out, bytes));
  });
}

DSPFX_API uint32_t termFft(DspEffect* handle) noexcept { return destroyEffect<AnalyserEffect>(handle); }

// One destroy function under three names.
#if defined(__ELF__)
DSPFX_API uint32_t termFftAnalyze(DspEffect* handle) noexcept __attribute__((alias("termFft")));
DSPFX_API uint32_t termEnvAnalyze(DspEffect* handle) noexcept __attribute__((alias("termFft")));
#else
DSPFX_API uint32_t termFftAnalyze(DspEffect* handle) noexcept { return termFft(handle); }
DSPFX_API uint32_t termEnvAnalyze(DspEffect* handle) noexcept { return termFft(handle); }
#endif

}  // extern "C"

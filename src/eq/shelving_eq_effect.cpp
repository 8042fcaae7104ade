#include "eq/shelving_eq_effect.h"

#include <memory>
#include <new>

namespace dspfx {

bool ShelvingEqEffect::validBandCount(uint32_t count) {
  return count >= 1 && count <= kMaxBandCount && (count & (count - 1)) == 0;
}

bool ShelvingEqEffect::init(uint32_t frames, uint32_t channels, uint32_t rate, uint32_t count,
                            const float* gainsDb, float levelDb) {
  if (!validBandCount(count) || !gainsDb) return false;
  if (!setupBuffers(frames, channels)) return false;
  inRate = rate;
  outRate = rate;
  for (FirBandFilter& f : filters) {
    if (!f.allocate(static_cast<int32_t>(count))) return false;
    f.designAll(gainsDb, levelDb);
  }
  bandGainsDb.assign(gainsDb, gainsDb + count);
  bandCount = count;
  outputLevelDb = levelDb;
  return true;
}

bool ShelvingEqEffect::setGain(int32_t band, float gainDb) {
  if (band < 0 || static_cast<uint32_t>(band) >= bandCount) return false;
  filters[0].setBandGain(band, gainDb);
  filters[1].setBandGain(band, gainDb);
  for (int c = 0; c < 2; ++c) convolvers[c].setTaps(filters[c].taps(), filters[c].tapCount());
  bandGainsDb[static_cast<size_t>(band)] = gainDb;
  return true;
}

void ShelvingEqEffect::setOutputLevel(float levelDb) {
  filters.apply([&](FirBandFilter& f) { f.setOutputLevel(levelDb); });
  outputLevelDb = levelDb;
}

bool ShelvingEqEffect::setMode(uint32_t newMode) {
  if (newMode != kDirect && newMode != kFftConvolution) return false;
  if (newMode == mode) return true;
  const uint32_t past = filters[0].tapCount() - 1;
  if (newMode == kFftConvolution) {
    if (!convolvers[0].allocated || !convolvers[1].allocated) {
      if (!convolvers[0].prepare(filters[0].tapCount()) || !convolvers[1].prepare(filters[1].tapCount())) {
        return false;
      }
    }
    std::unique_ptr<float[]> history(new (std::nothrow) float[past + 1]);
    if (!history) return false;
    for (int c = 0; c < 2; ++c) {
      for (uint32_t i = 0; i < past; ++i) history[i] = filters[c].pastInput(past - 1 - i);
      convolvers[c].setTaps(filters[c].taps(), filters[c].tapCount());
      convolvers[c].setHistory(history.get(), past);
    }
  } else {
    for (int c = 0; c < 2; ++c) {
      for (uint32_t k = 0; k < past; ++k) filters[c].setPastInput(k, convolvers[c].pastInput(k));
    }
  }
  mode = newMode;
  return true;
}

uint32_t ShelvingEqEffect::run(uint32_t channel, const float* in, float* out, uint32_t frames) {
  if (mode == kDirect) return filters[channel].process(in, out, frames);
  convolvers[channel].process(in, out, frames, filters[channel].level());
  return frames;
}

uint32_t ShelvingEqEffect::processChannel(uint32_t channel, const float* in, float* out,
                                          uint32_t frames) {
  if (channel > 1) return 0;
  return run(channel, in, out, frames);
}

uint32_t ShelvingEqEffect::process(const float* inL, const float* inR, float* outL, float* outR,
                                   uint32_t frames) {
  const uint32_t produced = run(0, inL, outL, frames);
  if (stereo()) run(1, inR, outR, frames);
  return produced;
}

}  // namespace dspfx

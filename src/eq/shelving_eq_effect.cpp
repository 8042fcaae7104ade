#include "eq/shelving_eq_effect.h"

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
  filters.apply([&](FirBandFilter& f) { f.setBandGain(band, gainDb); });
  bandGainsDb[static_cast<size_t>(band)] = gainDb;
  return true;
}

void ShelvingEqEffect::setOutputLevel(float levelDb) {
  filters.apply([&](FirBandFilter& f) { f.setOutputLevel(levelDb); });
  outputLevelDb = levelDb;
}

uint32_t ShelvingEqEffect::processChannel(uint32_t channel, const float* in, float* out,
                                          uint32_t frames) {
  if (channel > 1) return 0;
  return filters[channel].process(in, out, frames);
}

uint32_t ShelvingEqEffect::process(const float* inL, const float* inR, float* outL, float* outR,
                                   uint32_t frames) {
  return filters.run(stereo(), [&](FirBandFilter& f, uint32_t ch) {
    return ch == 0 ? f.process(inL, outL, frames) : f.process(inR, outR, frames);
  });
}

}  // namespace dspfx

#include "eq/graphic_eq_effect.h"

namespace dspfx {

bool GraphicEqEffect::init(uint32_t frames, uint32_t channels, uint32_t rate, uint32_t count,
                           const GraphicEqBand* layout, float masterDb) {
  if (count != 0 && !layout) return false;
  // Band frequencies are in Hz: without a rate there is nothing to design.
  if (rate == 0) return false;
  if (!setupBuffers(frames, channels)) return false;
  inRate = rate;
  outRate = rate;
  if (!banks.allOf([&](ResonatorBank& b) { return b.design(frames, rate, count, layout, masterDb); })) {
    return false;
  }
  bands.assign(layout, layout + count);
  bandCount = count;
  masterGainDb = masterDb;
  return true;
}

int GraphicEqEffect::setGain(uint32_t band, float gainDb) {
  const int done = banks.apply([&](ResonatorBank& b) { return b.setBandGain(band, gainDb); });
  if (done) bands[band].gainDb = gainDb;
  return done;
}

int GraphicEqEffect::remakeBand(uint32_t band, float frequency, float zeroRadius, float poleRadius) {
  const int done =
      banks.apply([&](ResonatorBank& b) { return b.remakeBand(band, frequency, zeroRadius, poleRadius); });
  if (done) {
    bands[band].frequency = frequency;
    bands[band].zeroRadius = zeroRadius;
    bands[band].poleRadius = poleRadius;
  }
  return done;
}

void GraphicEqEffect::setMasterGain(float masterDb) {
  banks.apply([&](ResonatorBank& b) { b.setMasterGain(masterDb); });
  masterGainDb = masterDb;
}

uint32_t GraphicEqEffect::setup(uint32_t frames, uint32_t channels, uint32_t rate) {
  if (!setupBuffers(frames, channels)) return 0;
  inRate = rate;
  // A redesign clears every state, so it happens only for a new rate; a
  // larger block still needs room for in-place processing. A zero rate
  // cannot place the bands: the last design stays and outRate keeps naming
  // its rate.
  const bool redesign = rate != 0 && rate != outRate;
  for (ResonatorBank& b : banks) {
    const bool ok = redesign ? b.design(frames, rate, bandCount, bands.data(), masterGainDb)
                             : b.reserve(frames);
    if (!ok) {
      releaseBuffers();
      return 0;
    }
  }
  if (rate != 0) outRate = inRate;
  return rate;
}

uint32_t GraphicEqEffect::processChannel(uint32_t channel, const float* in, float* out,
                                         uint32_t frames) {
  if (channel > 1) return 0;
  return banks[channel].process(in, out, frames);
}

uint32_t GraphicEqEffect::process(const float* inL, const float* inR, float* outL, float* outR,
                                  uint32_t frames) {
  const uint32_t produced = banks[0].process(inL, outL, frames);
  if (stereo()) banks[1].process(inR, outR, frames);
  return produced;
}

}  // namespace dspfx

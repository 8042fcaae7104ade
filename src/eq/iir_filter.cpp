#include "eq/iir_filter.h"

namespace dspfx {
namespace {

bool cutoffFits(float cutoff, uint32_t rate) {
  return cutoff > 0.0f && static_cast<double>(cutoff) < 0.5 * rate;
}

}  // namespace

bool IirFilterEffect::init(uint32_t capacityFrames, uint32_t channels, uint32_t sampleRate,
                           int32_t filterOrder, float cutoffHz, int32_t filterKind) {
  if (filterOrder < 1 || filterOrder > kMaxOrder || !cutoffFits(cutoffHz, sampleRate)) return false;
  if (!setupBuffers(capacityFrames, channels)) return false;
  inRate = outRate = sampleRate;
  order = filterOrder;
  cutoff = cutoffHz;
  kind = filterKind;
  redesign(sampleRate);
  return true;
}

void IirFilterEffect::redesign(uint32_t rate) {
  cascades.apply([&](ChebyshevCascade& c) {
    c.setOrder(order, kind);
    // A cutoff the new rate can no longer carry leaves the sections
    // pass-throughs: the design would otherwise produce NaN or Inf.
    if (cutoffFits(cutoff, rate)) c.design(static_cast<float>(rate), cutoff);
  });
}

uint32_t IirFilterEffect::setup(uint32_t frames, uint32_t channels, uint32_t rate) {
  const uint32_t result = EffectBase::setup(frames, channels, rate);
  // outRate is the rate of the last design; an unchanged rate keeps the
  // cascades running.
  if (rate != outRate) redesign(rate);
  outRate = inRate;
  return result;
}

uint32_t IirFilterEffect::processChannel(uint32_t channel, const float* in, float* out,
                                         uint32_t frames) {
  return cascades[channel != 0 ? 1 : 0].run(in, out, frames);
}

uint32_t IirFilterEffect::process(const float* inLeft, const float* inRight, float* outLeft,
                                  float* outRight, uint32_t frames) {
  if (stereo()) {
    runCascadePair(cascades[0], cascades[1], inLeft, inRight, outLeft, outRight, frames);
  } else {
    cascades[0].run(inLeft, outLeft, frames);
  }
  return frames;
}

}  // namespace dspfx

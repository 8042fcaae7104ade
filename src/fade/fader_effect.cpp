#include "fade/fader_effect.h"

#include <cmath>

#include "core/sample_convert.h"

namespace dspfx {

FaderEffect::FaderEffect() { typeId = kTypeId; }

bool FaderEffect::init(uint32_t frames, uint32_t channels, uint32_t rate, float position,
                       float level0, float level1) {
  if (!std::isfinite(position) || !std::isfinite(level0) || !std::isfinite(level1)) return false;
  if (!setupBuffers(frames, channels)) return false;
  inRate = outRate = rate;
  initialPosition = position;
  initialLevel0 = level0;
  initialLevel1 = level1;
  curveSet = false;
  initUnits();
  return true;
}

void FaderEffect::initUnits() {
  const auto r = static_cast<float>(inRate);
  for (uint32_t c = 0; c < 2; ++c) {
    fader(0, c).init(capacityFrames(), r, initialLevel0);
    fader(1, c).init(capacityFrames(), r, initialLevel1);
    crossUnits[c].init(capacityFrames(), r, initialPosition);
  }
}

uint32_t FaderEffect::setup(uint32_t frames, uint32_t channels, uint32_t rate) {
  if (!setupBuffers(frames, channels)) return 0;
  inRate = outRate = rate;
  for (FadeRamp& u : faderUnits) u.clearActions();
  crossUnits.apply([&](CrossFadeRamp& u) { u.clearActions(); });
  initUnits();
  if (curveSet) {
    crossUnits.apply([&](CrossFadeRamp& u) { u.setCurve(curveA, curveB, curveC, curveD); });
  }
  return rate;
}

uint32_t FaderEffect::processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) {
  fader(0, channel == 1 ? 1 : 0).run(in, out, frames);
  return frames;
}

uint32_t FaderEffect::process(const float* inL, const float* inR, float* outL, float* outR,
                              uint32_t frames) {
  fader(0, 0).run(inL, outL, frames);
  if (stereo()) fader(0, 1).run(inR, outR, frames);
  return frames;
}

bool FaderEffect::fade(uint32_t index, const int16_t* in, int16_t* out, uint32_t bytes) {
  if (index >= kFaders) return false;
  const uint32_t frames = framesIn(bytes);
  if (frames == 0) return true;
  pcm16ToFloat(in, bytes, inL(), stereo() ? inR() : nullptr, inChannels);
  fader(index, 0).run(inL(), outL(), frames);
  if (stereo()) fader(index, 1).run(inR(), outR(), frames);
  floatToPcm16(outL(), stereo() ? outR() : nullptr, frames, out, inChannels);
  return true;
}

void FaderEffect::crossFade(const int16_t* a, const int16_t* b, int16_t* out, uint32_t bytes) {
  const uint32_t frames = framesIn(bytes);
  if (frames == 0) return;
  // Each input is read in full before the next buffer is written, so a, b
  // and out may share memory.
  pcm16ToFloat(a, bytes, inL(), stereo() ? inR() : nullptr, inChannels);
  fader(0, 0).run(inL(), auxL(), frames);
  if (stereo()) fader(0, 1).run(inR(), auxR(), frames);
  pcm16ToFloat(b, bytes, inL(), stereo() ? inR() : nullptr, inChannels);
  fader(1, 0).run(inL(), outL(), frames);
  if (stereo()) fader(1, 1).run(inR(), outR(), frames);
  crossUnits[0].mix(auxL(), outL(), outL(), frames);
  if (stereo()) crossUnits[1].mix(auxR(), outR(), outR(), frames);
  floatToPcm16(outL(), stereo() ? outR() : nullptr, frames, out, inChannels);
}

bool FaderEffect::apply(FadeRamp& left, FadeRamp& right, bool withAction, float start, float end,
                        float target) {
  if (std::isnan(start) || std::isnan(end) || !std::isfinite(target)) return false;
  ActionSpares l, r;
  if (!l.make(withAction) || !r.make(withAction)) return false;
  if (withAction) {
    left.schedule(start, end, target, l);
    right.schedule(start, end, target, r);
  } else {
    left.clear(start, end, l);
    right.clear(start, end, r);
  }
  return true;
}

bool FaderEffect::setFaderAction(uint32_t index, float start, float end, float target) {
  if (index >= kFaders) return false;
  return apply(fader(index, 0), fader(index, 1), true, start, end, target);
}

bool FaderEffect::delFaderAction(uint32_t index, float start, float end) {
  if (index >= kFaders) return false;
  return apply(fader(index, 0), fader(index, 1), false, start, end, 0.0f);
}

bool FaderEffect::setCrossFaderAction(float start, float end, float target) {
  return apply(crossUnits[0], crossUnits[1], true, start, end, target);
}

bool FaderEffect::delCrossFaderAction(float start, float end) {
  return apply(crossUnits[0], crossUnits[1], false, start, end, 0.0f);
}

bool FaderEffect::setCrossFaderCurve(float a, float b, float c, float d) {
  if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c) || !std::isfinite(d)) return false;
  curveA = a;
  curveB = b;
  curveC = c;
  curveD = d;
  curveSet = true;
  crossUnits.apply([&](CrossFadeRamp& u) { u.setCurve(a, b, c, d); });
  return true;
}

}  // namespace dspfx

#include "effect_instance.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "effects.h"

namespace dspfx::plugins {

namespace {

// What a live control does when it moves.
enum Setter : int {
  kNone, kEqLevel, kGeqMaster, kGainLevel, kChorusDelay, kChorusDepth, kChorusPeriod,
  kChorusMix, kChorusDry, kPitchShift, kPitchLevel,
};

Setter setterOf(const char* effect, const char* param) {
  struct Row { const char* effect; const char* param; Setter setter; };
  static const Row rows[] = {
      {"eq", "level", kEqLevel},          {"geq", "master", kGeqMaster},
      {"fade", "level", kGainLevel},      {"chorus", "delay", kChorusDelay},
      {"chorus", "depth", kChorusDepth},  {"chorus", "period", kChorusPeriod},
      {"chorus", "mix", kChorusMix},      {"chorus", "dry", kChorusDry},
      {"pitch", "cents", kPitchShift},    {"pitch", "semitones", kPitchShift},
      {"pitch", "level", kPitchLevel},
  };
  for (const Row& r : rows) {
    if (std::strcmp(r.effect, effect) == 0 && std::strcmp(r.param, param) == 0) return r.setter;
  }
  return kNone;
}

int findControl(const PluginInfo& info, const char* name) {
  for (size_t i = 0; i < info.controls.size(); ++i) {
    if (std::strcmp(info.controls[i].param->name, name) == 0) return static_cast<int>(i);
  }
  return -1;
}

bool isEffect(const PluginInfo& info, const char* name) { return std::strcmp(info.effect->name, name) == 0; }

// The tool's combined shift, held inside the octave the library takes
// instead of refused: a host may set both controls to their ends.
float pitchCents(const PluginInfo& info, const float* values) {
  const int c = findControl(info, "cents"), s = findControl(info, "semitones");
  const double cents = (c >= 0 ? values[c] : 0.0) + 100.0 * (s >= 0 ? values[s] : 0.0);
  return static_cast<float>(std::clamp(cents, -1200.0, 1200.0));
}

void destroyLoose(const PluginInfo& info, DspEffect* e) {
  const std::string n = info.effect->name;
  if (n == "eq") termShelvingEQ(e);
  else if (n == "geq") termGraphicEQ(e);
  else if (n == "lowpass" || n == "highpass") termIirFilter(e);
  else if (n == "fade") termFader(e);
  else if (n == "chorus") termChorus(e);
  else if (n == "pitch") termPitchShift(e);
}


}  // namespace

BuiltEffect::~BuiltEffect() { dspDestroy(chain); }

EffectInstance::EffectInstance(const PluginInfo& info, double rate, uint32_t capacity)
    : info_(info), rate_(rate), capacity_(capacity), ports_(info.portCount(), nullptr),
      applied_(info.controls.size(), 0.0f),
      scratch_(size_t{capacity} * info.channels), fadeScratch_(size_t{capacity} * info.channels) {}

EffectInstance::~EffectInstance() { delete retired_; }

void EffectInstance::connect(uint32_t port, float* data) {
  if (port < ports_.size()) ports_[port] = data;
}

float EffectInstance::controlValue(uint32_t i) const {
  const tool::ParamInfo& p = *info_.controls[i].param;
  const float* port = ports_[i];
  if (!port || std::isnan(*port)) return static_cast<float>(p.def);
  return static_cast<float>(std::clamp(static_cast<double>(*port), p.min, p.max));
}

void EffectInstance::snapshot(float* values) const {
  for (uint32_t i = 0; i < info_.controls.size(); ++i) values[i] = controlValue(i);
}

BuiltEffect* EffectInstance::make(const PluginInfo& info, const float* values, double rate, uint32_t capacity) {
  auto built = std::make_unique<BuiltEffect>();
  built->values.assign(values, values + info.controls.size());
  const auto hz = static_cast<uint32_t>(std::lround(rate));
  built->chain = dspCreate(capacity, info.channels, hz);
  if (!built->chain) return nullptr;
  DspEffect* e = nullptr;
  const tool::StreamFormat format{capacity, info.channels, hz, 1e9};
  try {
    if (isEffect(info, "fade")) {
      e = initFader(capacity, info.channels, hz, 1.0f, values[findControl(info, "level")], 0.0f);
    } else {
      tool::EffectArg arg;
      arg.info = info.effect;
      for (size_t i = 0; i < info.controls.size(); ++i) arg.values[info.controls[i].param->name] = values[i];
      if (isEffect(info, "pitch")) {
        arg.values["cents"] = pitchCents(info, values);
        arg.values["semitones"] = 0.0;
      }
      // The stream's length only matters to the tool's whole-stream fades.
      e = tool::makeEffect(arg, format);
      const int64_t latency = e ? tool::effectLatency(arg, format) : 0;
      // The aligned pitch shift's delay depends on the rate and ratio; it is
      // measured here, off the audio thread, on a twin of the object.
      built->latency = latency == tool::kMeasureLatency ? tool::measureLatency(arg, format, 1.0)
                       : latency > 0                    ? static_cast<uint32_t>(latency)
                                                        : 0;
    }
  } catch (...) {
    if (e) destroyLoose(info, e);
    return nullptr;
  }
  if (!e) return nullptr;
  if (dspAdd(built->chain, e, 0) != 1) {
    destroyLoose(info, e);
    return nullptr;
  }
  built->effect = e;
  return built.release();
}

void EffectInstance::activate() {
  std::vector<float> values(info_.controls.size());
  snapshot(values.data());
  fading_.reset();
  delete retired_;
  retired_ = nullptr;
  current_.reset(make(info_, values.data(), rate_, capacity_));
  applied_ = values;
}

bool EffectInstance::shapes(uint32_t i) const {
  if (info_.controls[i].live == Live::no) return true;
  // The fader's own ramp is a scheduled action, which allocates: a level
  // change is a cross-fade to a new object where a worker can build one, and
  // otherwise waits for the next activation, so run() never allocates.
  return setterOf(info_.effect->name, info_.controls[i].param->name) == kGainLevel;
}

bool EffectInstance::wantsRebuild() const {
  for (uint32_t i = 0; i < info_.controls.size(); ++i) {
    if (!shapes(i)) continue;
    const float made = current_ ? current_->values[i] : applied_[i];
    if (controlValue(i) != made) return true;
  }
  return false;
}

void EffectInstance::install(BuiltEffect* fresh) {
  // A fade still running keeps its old object; the one it was fading to is
  // dropped without a fade of its own, which is rare (two rebuilds within
  // the fade time).
  if (fading_) {
    delete retired_;
    retired_ = current_.release();
  } else {
    fading_ = std::move(current_);
    fadeDone_ = 0;
  }
  current_.reset(fresh);
  // A cross-fade to a gain object is the ramp to its level.
  const int ramp = isEffect(info_, "fade") ? findControl(info_, "ramp") : -1;
  const double seconds = ramp >= 0 && fresh ? fresh->values[ramp] : 0.02;
  fadeFrames_ = std::max<uint32_t>(1, static_cast<uint32_t>(rate_ * seconds));
  if (fresh) {
    applied_ = fresh->values;
  } else {
    // Remember what was asked for, so the same refusal is not asked again.
    for (uint32_t i = 0; i < info_.controls.size(); ++i) applied_[i] = controlValue(i);
  }
}

BuiltEffect* EffectInstance::takeRetired() {
  BuiltEffect* r = retired_;
  retired_ = nullptr;
  return r;
}

void EffectInstance::applyLiveControls() {
  if (!current_) return;
  DspEffect* e = current_->effect;
  bool shift = false;
  for (uint32_t i = 0; i < info_.controls.size(); ++i) {
    if (shapes(i)) continue;
    const float v = controlValue(i);
    if (v == applied_[i]) continue;
    applied_[i] = v;
    switch (setterOf(info_.effect->name, info_.controls[i].param->name)) {
      case kEqLevel: setShelvingEQOutputLevel(e, v); break;
      case kGeqMaster: setGraphicEQMasterGain(e, v); break;
      case kChorusDelay: setChorusDelaytime(e, v); break;
      case kChorusDepth: setChorusDepth(e, v); break;
      case kChorusPeriod: setChorusSpeed(e, v); break;
      case kChorusMix: {
        const int n = findControl(info_, "voices");
        const auto voices = static_cast<int32_t>(n >= 0 ? current_->values[n] : 1);
        for (int32_t voice = 0; voice < voices; ++voice) setChorusMix(e, voice, v);
        break;
      }
      case kChorusDry: setChorusOrgMix(e, v); break;
      case kPitchShift: shift = true; break;
      case kPitchLevel: setPitchShiftOutLevel(e, v); break;
      case kGainLevel:  // rebuilt, never set in place: see shapes()
      case kNone: break;
    }
  }
  if (shift) setPitchShiftPitch(e, pitchCents(info_, applied_.data()));
}

void EffectInstance::process(BuiltEffect* b, const float* const* in, uint32_t offset, uint32_t n,
                             std::vector<float>& scratch) {
  const uint32_t ch = info_.channels;
  float* buf = scratch.data();
  for (uint32_t c = 0; c < ch; ++c) {
    const float* src = in[c] + offset;
    for (uint32_t i = 0; i < n; ++i) buf[i * ch + c] = src[i];
  }
  // A host block that the chain refuses (it cannot happen with pieces of at
  // most the capacity) leaves the input as it is rather than garbage.
  if (b) dspSendFloat(b->chain, buf, buf, n);
}

void EffectInstance::run(uint32_t frames) {
  const uint32_t ch = info_.channels;
  const float* in[2];
  float* out[2];
  for (uint32_t c = 0; c < ch; ++c) {
    in[c] = ports_[info_.audioInIndex() + c];
    out[c] = ports_[info_.audioOutIndex() + c];
    if (!in[c] || !out[c]) return;
  }
  applyLiveControls();
  if (info_.latencyPort && ports_[info_.latencyIndex()]) {
    *ports_[info_.latencyIndex()] = current_ ? static_cast<float>(current_->latency) : 0.0f;
  }
  // A new object replaces the old one over about 20 ms: it starts with empty
  // filter state and delay lines, which would otherwise be heard.
  const uint32_t fadeFrames = fadeFrames_;
  for (uint32_t offset = 0; offset < frames;) {
    const uint32_t n = std::min(capacity_, frames - offset);
    if (fading_) process(fading_.get(), in, offset, n, fadeScratch_);
    process(current_.get(), in, offset, n, scratch_);
    for (uint32_t c = 0; c < ch; ++c) {
      float* dst = out[c] + offset;
      for (uint32_t i = 0; i < n; ++i) dst[i] = scratch_[i * ch + c];
      if (fading_) {
        for (uint32_t i = 0; i < n; ++i) {
          const uint32_t k = fadeDone_ + i;
          const float w = k >= fadeFrames ? 1.0f : static_cast<float>(k) / static_cast<float>(fadeFrames);
          dst[i] = w * dst[i] + (1.0f - w) * fadeScratch_[i * ch + c];
        }
      }
    }
    if (fading_) {
      fadeDone_ += n;
      if (fadeDone_ >= fadeFrames) {
        delete retired_;  // only reached when the host never collected it
        retired_ = fading_.release();
      }
    }
    offset += n;
  }
}

}  // namespace dspfx::plugins

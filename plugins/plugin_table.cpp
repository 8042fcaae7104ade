#include "plugin_table.h"

#include <cmath>
#include <cstring>

#include "effects.h"

namespace dspfx::plugins {

namespace {

struct EffectPlan {
  const char* name;
  std::vector<const char*> live;
  bool latency;
};

// The real-time effects whose output keeps the input's length and rate, and
// which of their parameters have a setter that neither allocates nor locks.
// The shelving gains, band layouts and filter designs are rebuilt instead.
const std::vector<EffectPlan>& plans() {
  static const std::vector<EffectPlan> p = {
      {"eq", {"level"}, true},
      {"geq", {"master"}, false},
      {"lowpass", {}, false},
      {"highpass", {}, false},
      {"fade", {"level", "ramp"}, false},
      {"chorus", {"delay", "depth", "period", "mix", "dry"}, false},
      {"pitch", {"cents", "semitones", "level"}, false},
  };
  return p;
}

bool whole(double v) { return v == std::floor(v); }

const tool::EffectInfo* findEffect(const char* name) {
  if (std::strcmp(name, "fade") == 0) return &gainEffectInfo();
  for (const tool::EffectInfo& e : tool::effectTable()) {
    if (std::strcmp(e.name, name) == 0) return &e;
  }
  return nullptr;
}

std::vector<PluginInfo> build() {
  std::vector<PluginInfo> out;
  for (const EffectPlan& plan : plans()) {
    const tool::EffectInfo* effect = findEffect(plan.name);
    if (!effect) continue;
    std::vector<ControlPort> controls;
    for (const tool::ParamInfo& p : effect->params) {
      bool live = false;
      for (const char* l : plan.live) live = live || std::strcmp(l, p.name) == 0;
      const bool toggled = std::strcmp(p.unit, "0/1") == 0;
      // Counts and orders carry no unit in the tables; their bounds and
      // default are whole.
      const bool integer = !toggled && p.unit[0] == '\0' && whole(p.min) && whole(p.max) && whole(p.def);
      controls.push_back({&p, integer, toggled, live ? Live::yes : Live::no});
    }
    for (uint32_t channels : {2u, 1u}) out.push_back({effect, channels, controls, plan.latency});
  }
  return out;
}

}  // namespace

const tool::EffectInfo& gainEffectInfo() {
  // Bounds of the fader's level: the floor the tool fades from, and the
  // headroom the other level parameters allow.
  static const tool::EffectInfo info = {
      "fade", "gain that ramps to each new level",
      {{"level", "dB", -50, 20, 0, "gain"},
       {"ramp", "s", 0, 60, 0.05, "time taken to reach a new level"}}};
  return info;
}

const std::vector<PluginInfo>& pluginTable() {
  static const std::vector<PluginInfo> table = build();
  return table;
}

std::string PluginInfo::label() const { return std::string(effect->name) + (channels == 1 ? "-mono" : ""); }

std::string PluginInfo::ladspaLabel() const {
  return std::string("dspfx_") + effect->name + (channels == 1 ? "_mono" : "");
}

std::string PluginInfo::uri() const { return "urn:dspfx:lv2:" + label(); }

std::string PluginInfo::name() const {
  return std::string("dspfx ") + effect->name + (channels == 1 ? " (mono)" : " (stereo)");
}

unsigned long PluginInfo::ladspaId() const {
  // A private block of ids; the position in the table is stable because new
  // effects are appended to the plan.
  const std::vector<PluginInfo>& t = pluginTable();
  for (size_t i = 0; i < t.size(); ++i) {
    if (&t[i] == this) return 4930 + static_cast<unsigned long>(i);
  }
  return 0;
}

const char* PluginInfo::audioSymbol(uint32_t port) const {
  static const char* mono[2] = {"audio_in", "audio_out"};
  static const char* stereo[4] = {"left_in", "right_in", "left_out", "right_out"};
  const uint32_t k = port - audioInIndex();
  if (channels == 1) return mono[k];
  return stereo[k];
}

}  // namespace dspfx::plugins

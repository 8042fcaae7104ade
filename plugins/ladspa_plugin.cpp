// The LADSPA entry point. LADSPA has no worker thread and no block-length
// negotiation: controls that shape the object take effect at activation, and
// run() cuts long host blocks into pieces of the fallback size.
#include <ladspa.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "cli.h"
#include "effect_instance.h"

namespace dspfx::plugins {
namespace {

constexpr uint32_t kCapacity = 4096;

struct Strings {
  std::string label, name;
  std::vector<std::string> portNames;
  std::vector<const char*> portNamePointers;
  std::vector<LADSPA_PortDescriptor> portDescriptors;
  std::vector<LADSPA_PortRangeHint> hints;
};

const PluginInfo* infoOf(const LADSPA_Descriptor* d);

// LADSPA states a default only as one of a few points of the range; the
// nearest is taken (exact wherever the table's default is one of them).
LADSPA_PortRangeHintDescriptor defaultHint(double lo, double hi, double def, bool log) {
  struct Choice { LADSPA_PortRangeHintDescriptor hint; double value; };
  auto between = [&](double w) {
    return log ? std::exp(std::log(lo) * (1 - w) + std::log(hi) * w) : lo * (1 - w) + hi * w;
  };
  const Choice choices[] = {
      {LADSPA_HINT_DEFAULT_MINIMUM, lo},   {LADSPA_HINT_DEFAULT_MAXIMUM, hi},
      {LADSPA_HINT_DEFAULT_0, 0},          {LADSPA_HINT_DEFAULT_1, 1},
      {LADSPA_HINT_DEFAULT_100, 100},      {LADSPA_HINT_DEFAULT_440, 440},
      {LADSPA_HINT_DEFAULT_LOW, between(0.25)}, {LADSPA_HINT_DEFAULT_MIDDLE, between(0.5)},
      {LADSPA_HINT_DEFAULT_HIGH, between(0.75)},
  };
  // Nearness as a host's slider shows it: by ratio on a logarithmic port.
  auto distance = [&](double v) { return log ? std::fabs(std::log(v / def)) : std::fabs(v - def); };
  Choice best = choices[0];
  for (const Choice& c : choices) {
    if (c.value < lo || c.value > hi || (log && c.value <= 0)) continue;
    if (distance(c.value) < distance(best.value)) best = c;
  }
  return best.hint;
}

LADSPA_Handle instantiate(const LADSPA_Descriptor* d, unsigned long rate) {
  const PluginInfo* info = infoOf(d);
  if (!info || rate == 0) return nullptr;
  tool::applySimd("sse");
  try {
    return new EffectInstance(*info, static_cast<double>(rate), kCapacity);
  } catch (...) {
    return nullptr;
  }
}

void connectPort(LADSPA_Handle h, unsigned long port, LADSPA_Data* data) {
  static_cast<EffectInstance*>(h)->connect(static_cast<uint32_t>(port), data);
}

void activate(LADSPA_Handle h) {
  try {
    static_cast<EffectInstance*>(h)->activate();
  } catch (...) {
    // No memory: the plugin passes its input through until the next activation.
  }
}

void run(LADSPA_Handle h, unsigned long frames) {
  EffectInstance* p = static_cast<EffectInstance*>(h);
  // Hosts count frames in unsigned long; pieces keep every call in range.
  while (frames > 0) {
    const auto n = static_cast<uint32_t>(std::min<unsigned long>(frames, 1u << 30));
    p->run(n);
    frames -= n;
  }
}

void cleanup(LADSPA_Handle h) { delete static_cast<EffectInstance*>(h); }

struct Table {
  std::vector<Strings> strings;
  std::vector<LADSPA_Descriptor> descriptors;
};

Table& table() {
  static Table t = [] {
    Table t;
    const auto& plugins = pluginTable();
    t.strings.resize(plugins.size());
    for (size_t k = 0; k < plugins.size(); ++k) {
      const PluginInfo& info = plugins[k];
      Strings& s = t.strings[k];
      s.label = info.ladspaLabel();
      s.name = info.name();
      for (const ControlPort& c : info.controls) {
        const tool::ParamInfo& p = *c.param;
        s.portNames.push_back(std::string(p.name) + (p.unit[0] ? std::string(" (") + p.unit + ")" : ""));
        s.portDescriptors.push_back(LADSPA_PORT_INPUT | LADSPA_PORT_CONTROL);
        const bool log = std::string(p.unit) == "Hz" && p.min > 0;
        LADSPA_PortRangeHintDescriptor hint = LADSPA_HINT_BOUNDED_BELOW | LADSPA_HINT_BOUNDED_ABOVE |
                                              defaultHint(p.min, p.max, p.def, log);
        if (c.toggled) hint = LADSPA_HINT_TOGGLED | (p.def != 0 ? LADSPA_HINT_DEFAULT_1 : LADSPA_HINT_DEFAULT_0);
        if (c.integer) hint |= LADSPA_HINT_INTEGER;
        if (log) hint |= LADSPA_HINT_LOGARITHMIC;
        s.hints.push_back({hint, static_cast<LADSPA_Data>(p.min), static_cast<LADSPA_Data>(p.max)});
      }
      if (info.latencyPort) {
        s.portNames.push_back("latency");
        s.portDescriptors.push_back(LADSPA_PORT_OUTPUT | LADSPA_PORT_CONTROL);
        // A default lets hosts that ask a value for every control port (sox)
        // run the plugin without one for this output.
        s.hints.push_back({LADSPA_HINT_DEFAULT_0, 0, 0});
      }
      for (uint32_t port = info.audioInIndex(); port < info.portCount(); ++port) {
        s.portNames.push_back(info.audioSymbol(port));
        s.portDescriptors.push_back((port < info.audioOutIndex() ? LADSPA_PORT_INPUT : LADSPA_PORT_OUTPUT) |
                                    LADSPA_PORT_AUDIO);
        s.hints.push_back({0, 0, 0});
      }
      for (const std::string& n : s.portNames) s.portNamePointers.push_back(n.c_str());
      LADSPA_Descriptor d{};
      d.UniqueID = info.ladspaId();
      d.Label = s.label.c_str();
      d.Properties = LADSPA_PROPERTY_HARD_RT_CAPABLE;
      d.Name = s.name.c_str();
      d.Maker = "dspfx";
      d.Copyright = "see the dspfx distribution";
      d.PortCount = info.portCount();
      d.PortDescriptors = s.portDescriptors.data();
      d.PortNames = s.portNamePointers.data();
      d.PortRangeHints = s.hints.data();
      d.instantiate = instantiate;
      d.connect_port = connectPort;
      d.activate = activate;
      d.run = run;
      d.cleanup = cleanup;
      t.descriptors.push_back(d);
    }
    return t;
  }();
  return t;
}

const PluginInfo* infoOf(const LADSPA_Descriptor* d) {
  const size_t index = static_cast<size_t>(d - table().descriptors.data());
  return index < pluginTable().size() ? &pluginTable()[index] : nullptr;
}

}  // namespace
}  // namespace dspfx::plugins

extern "C" __attribute__((visibility("default"))) const LADSPA_Descriptor* ladspa_descriptor(unsigned long index) {
  try {
    const auto& d = dspfx::plugins::table().descriptors;
    return index < d.size() ? &d[index] : nullptr;
  } catch (...) {
    return nullptr;
  }
}

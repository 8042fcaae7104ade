#pragma once
// What each plugin is: which effect, how many channels, which ports in which
// order. The Turtle generator and both plugin binaries read this one list, and
// the control ports come straight from the tool's parameter tables, so a host
// shows the names, units, ranges and defaults that `dspfx help` prints.
#include <cstdint>
#include <string>
#include <vector>

#include "cli.h"

namespace dspfx::plugins {

// Parameters a host may move while audio runs; each is handed to one of the
// library's setters between blocks. Every other parameter shapes the object
// and only takes effect when the object is made again.
enum class Live : uint8_t { no, yes };

struct ControlPort {
  const tool::ParamInfo* param;
  bool integer;   // whole numbers only (orders, counts)
  bool toggled;   // 0/1 switches
  Live live;
};

struct PluginInfo {
  const tool::EffectInfo* effect;
  uint32_t channels;               // 1 or 2
  std::vector<ControlPort> controls;
  bool latencyPort;                // linear-phase designs delay their output

  std::string uri() const;         // urn:dspfx:lv2:<effect>[-mono]
  std::string label() const;       // <effect>[-mono]
  // dspfx_<effect>[_mono]: hosts such as sox read the label among their own
  // effect names, several of which (lowpass, chorus, fade) are ours too.
  std::string ladspaLabel() const;
  std::string name() const;        // what a host lists
  unsigned long ladspaId() const;

  // Port order: controls, then the latency output, then audio in, audio out.
  uint32_t latencyIndex() const { return static_cast<uint32_t>(controls.size()); }
  uint32_t audioInIndex() const { return latencyIndex() + (latencyPort ? 1u : 0u); }
  uint32_t audioOutIndex() const { return audioInIndex() + channels; }
  uint32_t portCount() const { return audioOutIndex() + channels; }
  const char* audioSymbol(uint32_t port) const;
};

// Every plugin, stereo then mono variant of each effect; stable order (the
// LADSPA index and unique id follow it).
const std::vector<PluginInfo>& pluginTable();

// The fader as a plugin: a level that moves to each new value along a ramp.
// The tool's fade schedules whole-stream fades, which a host stream lacks.
const tool::EffectInfo& gainEffectInfo();

}  // namespace dspfx::plugins

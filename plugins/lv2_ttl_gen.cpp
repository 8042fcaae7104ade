// Writes the bundle's manifest.ttl and dspfx.ttl from the plugin table, so
// the ports a host reads are the parameters the tool parses.
#include <cstdio>
#include <cstring>
#include <string>

#include "plugin_table.h"

namespace dspfx::plugins {
namespace {

std::string number(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.9g", v);
  std::string s = buf;
  // Turtle reads "250" as an integer and "250.0" as a decimal; ranges and
  // defaults of float ports should be decimals.
  if (s.find_first_of(".en") == std::string::npos) s += ".0";
  return s;
}

std::string quoted(const char* text) {
  std::string s = "\"";
  for (const char* p = text; *p; ++p) {
    if (*p == '"' || *p == '\\') s += '\\';
    s += *p;
  }
  return s + "\"";
}

const char* unitOf(const char* unit) {
  static const char* const map[][2] = {
      {"Hz", "units:hz"}, {"dB", "units:db"}, {"ms", "units:ms"}, {"s", "units:s"},
      {"%", "units:pc"},  {"cents", "units:cent"}, {"st", "units:semitone12TET"},
  };
  for (const auto& m : map) {
    if (std::strcmp(m[0], unit) == 0) return m[1];
  }
  return nullptr;
}

const char* classOf(const char* effect) {
  static const char* const map[][2] = {
      {"eq", "lv2:EQPlugin"},         {"geq", "lv2:EQPlugin"},     {"lowpass", "lv2:LowpassPlugin"},
      {"highpass", "lv2:HighpassPlugin"}, {"fade", "lv2:AmplifierPlugin"}, {"chorus", "lv2:ChorusPlugin"},
      {"pitch", "lv2:PitchPlugin"},
  };
  for (const auto& m : map) {
    if (std::strcmp(m[0], effect) == 0) return m[1];
  }
  return "lv2:Plugin";
}

void writePlugin(FILE* f, const PluginInfo& info) {
  std::fprintf(f, "<%s>\n  a lv2:Plugin, %s ;\n", info.uri().c_str(), classOf(info.effect->name));
  std::fprintf(f, "  doap:name %s ;\n", quoted(info.name().c_str()).c_str());
  std::fprintf(f, "  rdfs:comment %s ;\n", quoted(info.effect->summary).c_str());
  std::fprintf(f, "  lv2:optionalFeature lv2:hardRTCapable, opts:options, work:schedule, urid:map ;\n");
  std::fprintf(f, "  opts:supportedOption bufsz:maxBlockLength ;\n");
  std::fprintf(f, "  lv2:extensionData work:interface ;\n");
  const uint32_t count = info.portCount();
  for (uint32_t i = 0; i < count; ++i) {
    std::fprintf(f, "  lv2:port [\n");
    if (i < info.controls.size()) {
      const ControlPort& c = info.controls[i];
      const tool::ParamInfo& p = *c.param;
      std::fprintf(f, "    a lv2:InputPort, lv2:ControlPort ;\n    lv2:index %u ;\n", i);
      std::fprintf(f, "    lv2:symbol \"%s\" ;\n    lv2:name \"%s\" ;\n", p.name, p.name);
      std::fprintf(f, "    rdfs:comment %s ;\n", quoted(p.help).c_str());
      std::fprintf(f, "    lv2:default %s ;\n    lv2:minimum %s ;\n    lv2:maximum %s ;\n", number(p.def).c_str(),
                   number(p.min).c_str(), number(p.max).c_str());
      if (const char* u = unitOf(p.unit)) std::fprintf(f, "    units:unit %s ;\n", u);
      if (c.toggled) std::fprintf(f, "    lv2:portProperty lv2:toggled ;\n");
      if (c.integer) std::fprintf(f, "    lv2:portProperty lv2:integer ;\n");
      if (std::strcmp(p.unit, "Hz") == 0 && p.min > 0) std::fprintf(f, "    lv2:portProperty pprops:logarithmic ;\n");
      if (c.live == Live::no) {
        std::fprintf(f, "    lv2:portProperty pprops:expensive ;\n");
      }
    } else if (info.latencyPort && i == info.latencyIndex()) {
      std::fprintf(f, "    a lv2:OutputPort, lv2:ControlPort ;\n    lv2:index %u ;\n", i);
      std::fprintf(f, "    lv2:symbol \"latency\" ;\n    lv2:name \"latency\" ;\n");
      std::fprintf(f, "    lv2:designation lv2:latency ;\n");
      std::fprintf(f, "    lv2:portProperty lv2:reportsLatency, lv2:integer ;\n    units:unit units:frame ;\n");
    } else {
      const bool input = i < info.audioOutIndex();
      std::fprintf(f, "    a lv2:%s, lv2:AudioPort ;\n    lv2:index %u ;\n", input ? "InputPort" : "OutputPort", i);
      std::fprintf(f, "    lv2:symbol \"%s\" ;\n    lv2:name \"%s\" ;\n", info.audioSymbol(i), info.audioSymbol(i));
    }
    std::fprintf(f, "  ]%s\n", i + 1 < count ? " ;" : " .");
  }
  std::fprintf(f, "\n");
}

const char* kPrefixes =
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
    "@prefix opts: <http://lv2plug.in/ns/ext/options#> .\n"
    "@prefix bufsz: <http://lv2plug.in/ns/ext/buf-size#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n"
    "@prefix work: <http://lv2plug.in/ns/ext/worker#> .\n\n";

}  // namespace
}  // namespace dspfx::plugins

int main(int argc, char** argv) {
  using namespace dspfx::plugins;
  if (argc != 3) {
    std::fprintf(stderr, "usage: dspfx_lv2_ttl BUNDLE_DIR BINARY_NAME\n");
    return 2;
  }
  const std::string dir = argv[1];
  FILE* manifest = std::fopen((dir + "/manifest.ttl").c_str(), "w");
  FILE* plugins = std::fopen((dir + "/dspfx.ttl").c_str(), "w");
  if (!manifest || !plugins) {
    std::fprintf(stderr, "dspfx_lv2_ttl: cannot write into %s\n", dir.c_str());
    return 1;
  }
  std::fputs(kPrefixes, manifest);
  std::fputs(kPrefixes, plugins);
  for (const PluginInfo& info : pluginTable()) {
    std::fprintf(manifest, "<%s>\n  a lv2:Plugin ;\n  lv2:binary <%s> ;\n  rdfs:seeAlso <dspfx.ttl> .\n\n",
                 info.uri().c_str(), argv[2]);
    writePlugin(plugins, info);
  }
  const bool ok = std::fclose(manifest) == 0 && std::fclose(plugins) == 0;
  return ok ? 0 : 1;
}

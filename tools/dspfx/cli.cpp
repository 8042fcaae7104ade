#include "cli.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "dspfx/dspfx.h"

namespace dspfx::tool {

double parseNumber(const std::string& text, const std::string& what) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(v)) {
    throw UsageError(what + ": '" + text + "' is not a number");
  }
  return v;
}

EffectArg parseEffect(const std::string& text, const std::vector<EffectInfo>& table) {
  const size_t colon = text.find(':');
  const std::string name = text.substr(0, colon);
  EffectArg arg;
  for (const EffectInfo& s : table) {
    if (name == s.name) arg.info = &s;
  }
  if (!arg.info) throw UsageError("unknown effect '" + name + "' (see: dspfx help effects)");
  for (const ParamInfo& p : arg.info->params) arg.values[p.name] = p.def;
  if (colon == std::string::npos) return arg;
  size_t pos = colon + 1;
  while (pos <= text.size()) {
    size_t comma = text.find(',', pos);
    if (comma == std::string::npos) comma = text.size();
    const std::string item = text.substr(pos, comma - pos);
    pos = comma + 1;
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    if (eq == std::string::npos) throw UsageError(name + ": '" + item + "' should be key=value");
    const std::string key = item.substr(0, eq);
    const ParamInfo* param = nullptr;
    for (const ParamInfo& p : arg.info->params) {
      if (key == p.name) param = &p;
    }
    if (!param) throw UsageError(name + ": unknown parameter '" + key + "' (see: dspfx help " + name + ")");
    const double v = parseNumber(item.substr(eq + 1), name + "." + key);
    if (v < param->min || v > param->max) {
      char range[96];
      std::snprintf(range, sizeof range, "%g ... %g %s", param->min, param->max, param->unit);
      throw UsageError(name + "." + key + " = " + item.substr(eq + 1) + " is outside " + range);
    }
    arg.values[key] = v;
  }
  return arg;
}

std::string effectHelp(const EffectInfo& info) {
  std::string out = std::string(info.name) + ": " + info.summary + "\n";
  for (const ParamInfo& p : info.params) {
    char line[256];
    std::snprintf(line, sizeof line, "  %-10s %-8s %8g ... %-8g default %-8g %s\n", p.name, p.unit, p.min,
                  p.max, p.def, p.help);
    out += line;
  }
  return out;
}

bool takeOption(std::vector<std::string>& args, const std::string& name, std::string& value) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
      value = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      return true;
    }
    if (args[i].rfind(name + "=", 0) == 0) {
      value = args[i].substr(name.size() + 1);
      args.erase(args.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

bool takeFlag(std::vector<std::string>& args, const std::string& name) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      args.erase(args.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

GlobalOptions takeGlobalOptions(std::vector<std::string>& args) {
  GlobalOptions o;
  std::string v;
  if (takeOption(args, "--block", v)) {
    const double b = parseNumber(v, "--block");
    if (b < 16 || b > 1048576 || b != std::floor(b)) throw UsageError("--block must be a whole number of frames, 16 ... 1048576");
    o.blockFrames = static_cast<uint32_t>(b);
  }
  if (takeOption(args, "--simd", v)) {
    if (v != "off" && v != "sse" && v != "3dnow") throw UsageError("--simd must be off, sse or 3dnow");
    o.simd = v;
  }
  o.quiet = takeFlag(args, "--quiet") || takeFlag(args, "-q");
  return o;
}

void applySimd(const std::string& simd) {
  dspEnableMmx(simd != "off");
  dspEnableSse(simd == "sse");
  dspEnable3dnow(simd == "3dnow");
}

}  // namespace dspfx::tool

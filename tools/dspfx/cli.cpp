#include "cli.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "dspfx/dspfx.h"

namespace dspfx::tool {

double parseNumber(const std::string& text, const std::string& what) {
  std::string digits = text;
  double scale = 1;
  if (!digits.empty() && (digits.back() == 'k' || digits.back() == 'K')) {
    digits.pop_back();
    scale = 1000;
  }
  char* end = nullptr;
  const double v = std::strtod(digits.c_str(), &end) * scale;
  // strtod also takes hex, "inf" and "nan", none of which a person means here.
  const bool plain = digits.find_first_not_of("0123456789.+-eE") == std::string::npos;
  if (digits.empty() || *end != '\0' || !plain || !std::isfinite(v)) {
    throw UsageError(what + ": '" + text + "' is not a number");
  }
  return v;
}

namespace {

// Edit distance counting a swap of neighbours as one edit, the commonest slip.
size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                                  std::tolower(static_cast<unsigned char>(b[j - 1]))
                              ? 0
                              : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

std::string didYouMean(const std::string& word, const std::vector<std::string>& candidates) {
  std::string best;
  size_t bestDistance = std::string::npos;
  for (const std::string& c : candidates) {
    size_t d = editDistance(word, c);
    // A word cut short ("spec", "env") is as good as one slip.
    if (word.size() >= 3 && c.compare(0, word.size(), word) == 0) d = std::min<size_t>(d, 1);
    if (d < bestDistance) {
      bestDistance = d;
      best = c;
    }
  }
  // Beyond a third of the word the guess is more often wrong than right.
  const size_t allowed = std::max<size_t>(1, (word.size() + 1) / 3);
  if (best.empty() || bestDistance > allowed) return "";
  return " (did you mean '" + best + "'?)";
}

EffectArg parseEffect(const std::string& text, const std::vector<EffectInfo>& table) {
  const size_t colon = text.find(':');
  const std::string name = text.substr(0, colon);
  EffectArg arg;
  std::vector<std::string> names;
  for (const EffectInfo& s : table) {
    if (name == s.name) arg.info = &s;
    names.push_back(s.name);
  }
  if (!arg.info) {
    throw UsageError("unknown effect '" + name + "'" + didYouMean(name, names) + " (see: dspfx help effects)");
  }
  for (const ParamInfo& p : arg.info->params) arg.values[p.name] = p.def;
  if (colon == std::string::npos) return arg;
  std::vector<std::string> keys, given;
  for (const ParamInfo& p : arg.info->params) keys.push_back(p.name);
  size_t pos = colon + 1;
  while (pos <= text.size()) {
    size_t comma = text.find(',', pos);
    if (comma == std::string::npos) comma = text.size();
    const std::string item = text.substr(pos, comma - pos);
    pos = comma + 1;
    if (item.empty()) {
      throw UsageError(name + ": empty setting in '" + text + "' (a stray or trailing comma?)");
    }
    const size_t eq = item.find('=');
    if (eq == std::string::npos) throw UsageError(name + ": '" + item + "' should be key=value");
    const std::string key = item.substr(0, eq);
    const ParamInfo* param = nullptr;
    for (const ParamInfo& p : arg.info->params) {
      if (key == p.name) param = &p;
    }
    if (!param) {
      throw UsageError(name + ": unknown parameter '" + key + "'" + didYouMean(key, keys) + " (see: dspfx help " +
                       name + ")");
    }
    if (std::find(given.begin(), given.end(), key) != given.end()) {
      throw UsageError(name + ": '" + key + "' is given twice");
    }
    given.push_back(key);
    const double v = parseNumber(item.substr(eq + 1), name + "." + key);
    if (v < param->min || v > param->max) {
      char range[96];
      std::snprintf(range, sizeof range, "%g ... %g %s", param->min, param->max, param->unit);
      throw UsageError(name + "." + key + " = " + item.substr(eq + 1) + " is outside " + range);
    }
    arg.values[key] = v;
  }
  if (arg.info->check) {
    const std::string why = arg.info->check(arg);
    if (!why.empty()) throw UsageError(name + ": " + why);
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

#pragma once
// Argument handling shared by the commands: usage errors, effect arguments with
// their parameter tables, and the global options.
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace dspfx::tool {

// Exit codes: 2 for usage errors, 1 for file and processing errors.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct FileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One parameter of an effect: described once, used by the parser, the range
// check and the help text.
struct ParamInfo {
  const char* name;
  const char* unit;
  double min, max, def;
  const char* help;
};

struct EffectArg;

struct EffectInfo {
  const char* name;
  const char* summary;
  std::vector<ParamInfo> params;
  // Rules that tie parameters together or go beyond a range (a power of
  // two, one edge below another): the reason a value is refused, or "".
  std::string (*check)(const EffectArg& arg) = nullptr;
};

// name or name:key=value,key=value with every value checked against its
// table; unknown keys and out-of-range values are usage errors.
struct EffectArg {
  const EffectInfo* info = nullptr;
  std::map<std::string, double> values;
  double operator[](const std::string& key) const { return values.at(key); }
};

// Keys may not repeat and every item between commas must be key=value, so a
// slip of the keyboard is refused rather than half applied.
EffectArg parseEffect(const std::string& text, const std::vector<EffectInfo>& table);
// A decimal number, optionally with a k suffix for thousands (2k, 1.5k).
double parseNumber(const std::string& text, const std::string& what);
// The closest candidate to a mistyped word, as " (did you mean 'x'?)", or ""
// when nothing is close enough to be a likely intent.
std::string didYouMean(const std::string& word, const std::vector<std::string>& candidates);
std::string effectHelp(const EffectInfo& info);

struct GlobalOptions {
  uint32_t blockFrames = 4096;
  std::string simd = "sse";
  bool quiet = false;
};

// Removes the global options from args wherever they stand.
GlobalOptions takeGlobalOptions(std::vector<std::string>& args);
void applySimd(const std::string& simd);

// Pops "--name value" from args; false when absent.
bool takeOption(std::vector<std::string>& args, const std::string& name, std::string& value);
bool takeFlag(std::vector<std::string>& args, const std::string& name);

}  // namespace dspfx::tool

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

struct EffectInfo {
  const char* name;
  const char* summary;
  std::vector<ParamInfo> params;
};

// name or name:key=value,key=value with every value checked against its
// table; unknown keys and out-of-range values are usage errors.
struct EffectArg {
  const EffectInfo* info = nullptr;
  std::map<std::string, double> values;
  double operator[](const std::string& key) const { return values.at(key); }
};

EffectArg parseEffect(const std::string& text, const std::vector<EffectInfo>& table);
double parseNumber(const std::string& text, const std::string& what);
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

// dspfx: runs the library's effects on audio files.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "commands.h"
#include "dspfx_version.h"
#include "effects.h"
#include "help.h"

namespace {

using namespace dspfx::tool;

std::vector<std::string> helpTopics() {
  std::vector<std::string> topics = {"effects", "spectrum"};
  for (const CommandHelp& c : commandHelp()) topics.push_back(c.name);
  for (const EffectInfo& e : effectTable()) topics.push_back(e.name);
  return topics;
}

int help(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::fputs(overviewText().c_str(), stdout);
    return 0;
  }
  if (args.size() > 1) throw UsageError("help takes one topic");
  if (args[0] == "effects") {
    std::puts("Effects for 'dspfx process', each with its keys: unit, range, default.\n");
    for (const EffectInfo& s : effectTable()) std::printf("%s\n", effectHelp(s).c_str());
    return 0;
  }
  for (const EffectInfo& s : effectTable()) {
    if (args[0] == s.name) {
      std::fputs(effectHelp(s).c_str(), stdout);
      return 0;
    }
  }
  if (const CommandHelp* c = findCommand(args[0])) {
    std::fputs(commandText(*c).c_str(), stdout);
    return 0;
  }
  throw UsageError("no help for '" + args[0] + "'" + didYouMean(args[0], helpTopics()));
}

// Every word that looks like an option must be one the command knows; a
// mistyped option would otherwise surface as a puzzling extra argument.
void checkOptions(const CommandHelp& c, const std::vector<std::string>& args) {
  std::vector<std::string> names;
  std::vector<bool> valued;
  for (const std::vector<const char*>* list : {&kGlobalOptions, &c.options}) {
    for (const char* o : *list) {
      const std::string spec = o;
      names.push_back(spec.substr(0, spec.find(' ')));
      valued.push_back(spec.find(' ') != std::string::npos);
    }
  }
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() < 3 || a.compare(0, 2, "--") != 0) continue;
    const std::string name = a.substr(0, a.find('='));
    const auto at = std::find(names.begin(), names.end(), name);
    if (at == names.end()) {
      throw UsageError(std::string(c.name) + ": unknown option '" + name + "'" + didYouMean(name, names) +
                       " (see: dspfx help " + c.name + ")");
    }
    // The word after a valued option is its value, whatever it looks like.
    if (valued[static_cast<size_t>(at - names.begin())] && a.find('=') == std::string::npos) ++i;
  }
}

int run(std::vector<std::string> args) {
  // Help first: a page should come even when the rest of the line is wrong.
  const bool wantsHelp = std::find_if(args.begin(), args.end(), [](const std::string& a) {
                           return a == "--help" || a == "-h";
                         }) != args.end();
  const GlobalOptions g = wantsHelp ? GlobalOptions{} : takeGlobalOptions(args);
  applySimd(g.simd);
  if (args.empty()) throw UsageError("no command given");
  const std::string cmd = args[0];
  args.erase(args.begin());
  if (cmd == "--help" || cmd == "-h") return help(args);
  if (cmd == "help") return help(wantsHelp ? std::vector<std::string>{"help"} : args);
  if (cmd == "--version") {
    std::printf("dspfx %s\n", DSPFX_VERSION_STRING);
    return 0;
  }
  const CommandHelp* c = findCommand(cmd);
  if (!c) {
    std::vector<std::string> names = {"spectrum"};
    for (const CommandHelp& h : commandHelp()) names.push_back(h.name);
    throw UsageError("unknown command '" + cmd + "'" + didYouMean(cmd, names));
  }
  if (wantsHelp) return help({c->name});
  checkOptions(*c, args);
  const std::string name = c->name;
  if (name == "demo") return cmdDemo(args, g);
  if (name == "info") return cmdInfo(args, g);
  if (name == "process") return cmdProcess(args, g);
  if (name == "crossfade") return cmdCrossfade(args, g);
  if (name == "spectrogram") return cmdSpectrogram(args, g);
  if (name == "envelope") return cmdEnvelope(args, g);
  if (name == "slices") return cmdSlices(args, g);
  return help(args);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& e) {
    const bool pointsToHelp = std::strstr(e.what(), "dspfx help") != nullptr;
    std::fprintf(stderr, pointsToHelp ? "dspfx: %s\n" : "dspfx: %s\n(try 'dspfx help')\n", e.what());
    return 2;
  } catch (const FileError& e) {
    std::fprintf(stderr, "dspfx: %s\n", e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dspfx: %s\n", e.what());
    return 1;
  }
}

// dspfx: runs the library's effects on WAV files.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "commands.h"
#include "dspfx_version.h"
#include "effects.h"

namespace {

using namespace dspfx::tool;

constexpr const char* kUsage =
    "usage: dspfx COMMAND [ARGS] [--block FRAMES] [--simd off|sse|3dnow] [--quiet]\n"
    "\n"
    "commands:\n"
    "  demo [--out DIR]                       run every effect on a built-in test piece\n"
    "  info FILE.wav                          format, duration, peak and RMS per channel\n"
    "  process IN.wav OUT.wav EFFECT...       run effects in order as one chain\n"
    "  crossfade A.wav B.wav OUT.wav --at S --length S [--curve a,b,c,d]\n"
    "  spectrum IN.wav [--fft N] [--png FILE] [--csv FILE]\n"
    "  envelope IN.wav [--csv FILE] [--png FILE]\n"
    "  slices IN.wav [--open DB] [--close DB] [--rise PERCENT] [--min S] [--json|--csv] [--split DIR]\n"
    "  help [COMMAND | EFFECT | effects]      more about a command or an effect\n"
    "\n"
    "EFFECT is name or name:key=value,key=value; see 'dspfx help effects'.\n";

int help(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args[0] == "effects") {
    for (const EffectInfo& s : effectTable()) std::printf("%s\n", effectHelp(s).c_str());
    return 0;
  }
  for (const EffectInfo& s : effectTable()) {
    if (args[0] == s.name) {
      std::fputs(effectHelp(s).c_str(), stdout);
      return 0;
    }
  }
  const char* lines = std::strstr(kUsage, ("  " + args[0] + " ").c_str());
  if (!lines) throw UsageError("no help for '" + args[0] + "'");
  const char* end = std::strchr(lines, '\n');
  std::printf("usage: dspfx%.*s\n", static_cast<int>(end - lines), lines + 1);
  return 0;
}

int run(std::vector<std::string> args) {
  const GlobalOptions g = takeGlobalOptions(args);
  applySimd(g.simd);
  if (args.empty()) throw UsageError("no command given");
  const std::string cmd = args[0];
  args.erase(args.begin());
  if (cmd == "--help" || cmd == "-h" || cmd == "help") return help(args);
  if (cmd == "--version") {
    std::printf("dspfx %s\n", DSPFX_VERSION_STRING);
    return 0;
  }
  if (cmd == "demo") return cmdDemo(args, g);
  if (cmd == "info") return cmdInfo(args, g);
  if (cmd == "process") return cmdProcess(args, g);
  if (cmd == "crossfade") return cmdCrossfade(args, g);
  if (cmd == "spectrum") return cmdSpectrum(args, g);
  if (cmd == "envelope") return cmdEnvelope(args, g);
  if (cmd == "slices") return cmdSlices(args, g);
  throw UsageError("unknown command '" + cmd + "'");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& e) {
    std::fprintf(stderr, "dspfx: %s\n(try 'dspfx help')\n", e.what());
    return 2;
  } catch (const FileError& e) {
    std::fprintf(stderr, "dspfx: %s\n", e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dspfx: %s\n", e.what());
    return 1;
  }
}

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "analysis_runs.h"
#include "commands.h"

namespace dspfx::tool {

int cmdSlices(Args args, const GlobalOptions& g) {
  SliceOptions o;
  std::string v, split;
  if (takeOption(args, "--open", v)) o.openDb = parseNumber(v, "--open");
  if (takeOption(args, "--close", v)) o.closeDb = parseNumber(v, "--close");
  if (takeOption(args, "--rise", v)) o.risePercent = parseNumber(v, "--rise");
  if (takeOption(args, "--min", v)) o.minSeconds = parseNumber(v, "--min");
  const bool json = takeFlag(args, "--json"), csv = takeFlag(args, "--csv");
  const bool wantSplit = takeOption(args, "--split", split);
  if (args.size() != 1 || (json && csv)) {
    throw UsageError("usage: dspfx slices IN.wav [--open DB] [--close DB] [--rise PERCENT] [--min SECONDS] [--json | --csv] [--split DIR]");
  }
  if (o.openDb > 0 || o.closeDb > 0) throw UsageError("--open and --close are dBFS levels, at most 0");
  if (o.risePercent < 0 || o.risePercent > 100) throw UsageError("--rise must lie in 0 ... 100 percent");
  if (o.minSeconds < 0 || o.minSeconds > 3600) throw UsageError("--min must lie in 0 ... 3600 seconds");

  const Audio a = readWav(args[0]);
  const std::vector<Slice> slices = slicesOf(a, o, g.blockFrames);
  if (json) {
    std::printf("{\"file\": \"%s\", \"rate\": %u, \"slices\": [", args[0].c_str(), a.format.rate);
    for (size_t i = 0; i < slices.size(); ++i) {
      std::printf("%s{\"start\": %.6f, \"end\": %.6f}", i ? ", " : "", slices[i].start, slices[i].end);
    }
    std::printf("]}\n");
  } else if (csv) {
    std::printf("index,start_s,end_s\n");
    for (size_t i = 0; i < slices.size(); ++i) std::printf("%zu,%.6f,%.6f\n", i, slices[i].start, slices[i].end);
  } else {
    std::printf("%zu slices in %s\n", slices.size(), args[0].c_str());
    for (size_t i = 0; i < slices.size(); ++i) {
      std::printf("%4zu  %10.4f s  ... %10.4f s  (%.4f s)\n", i, slices[i].start, slices[i].end,
                  slices[i].end - slices[i].start);
    }
  }
  if (wantSplit) {
    if (::mkdir(split.c_str(), 0777) != 0 && errno != EEXIST) {
      throw FileError(split + ": cannot create directory (" + std::strerror(errno) + ")");
    }
    for (size_t i = 0; i < slices.size(); ++i) {
      Audio part;
      part.format = a.format;
      const uint64_t s = static_cast<uint64_t>(slices[i].start * a.format.rate);
      const uint64_t e = std::min<uint64_t>(a.frames(), static_cast<uint64_t>(slices[i].end * a.format.rate));
      if (e <= s) continue;
      part.samples.assign(a.samples.begin() + static_cast<long>(s * a.format.channels),
                          a.samples.begin() + static_cast<long>(e * a.format.channels));
      char name[32];
      std::snprintf(name, sizeof name, "/slice_%03zu.wav", i);
      writeWav(split + name, part);
    }
  }
  return 0;
}

}  // namespace dspfx::tool

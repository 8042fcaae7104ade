#include <sys/stat.h>

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "analysis_runs.h"
#include "commands.h"
#include "dspfx/dspfx.h"
#include "output_file.h"
#include "wav.h"

namespace dspfx::tool {
namespace {

// Thresholds left to the file: below its own peak rather than at fixed
// levels, so a quiet recording slices like a loud one, and the rise large
// enough that the slow beating of a held chord is not taken for attacks.
constexpr double kAutoOpenBelowPeakDb = 20;
constexpr double kCloseBelowOpenDb = 15;
constexpr double kAutoRiseOfPeak = 0.3;

// The mono mix the slicer follows, as 16-bit PCM.
void monoPcm(const float* in, uint32_t frames, uint32_t channels, std::vector<int16_t>& out) {
  out.resize(frames);
  for (uint32_t i = 0; i < frames; ++i) {
    double sum = 0;
    for (uint32_t c = 0; c < channels; ++c) sum += in[size_t{i} * channels + c];
    const double v = std::floor(sum / channels * 32768.0 + 0.5);
    out[i] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
  }
}

const char* extensionFor(const Encoding& e) {
  switch (e.container) {
    case SF_FORMAT_FLAC:
      return "flac";
    case SF_FORMAT_AIFF:
      return "aiff";
    case SF_FORMAT_OGG:
      return "ogg";
    default:
      return "wav";
  }
}

}  // namespace

int cmdSlices(Args args, const GlobalOptions& g) {
  SliceOptions o;
  std::string open = "auto", close, rise = "auto", v, split;
  takeOption(args, "--open", open);
  const bool haveClose = takeOption(args, "--close", close);
  takeOption(args, "--rise", rise);
  if (takeOption(args, "--min", v)) o.minSeconds = parseNumber(v, "--min");
  const bool json = takeFlag(args, "--json"), csv = takeFlag(args, "--csv");
  const bool wantSplit = takeOption(args, "--split", split);
  if (args.size() != 1 || (json && csv)) {
    throw UsageError(
        "usage: dspfx slices IN [--open DB|auto] [--close DB] [--rise PERCENT|auto] [--min SECONDS] [--json | --csv] [--split DIR]\n"
        "By default (auto) a slice opens 20 dB below the file's peak, closes 15 dB below the opening level, and\n"
        "needs a rise of 30 % of the peak level; --min defaults to 0.05 s.");
  }
  const bool autoOpen = open == "auto", autoRise = rise == "auto";
  if (!autoOpen) o.openDb = parseNumber(open, "--open");
  if (haveClose) o.closeDb = parseNumber(close, "--close");
  if (!autoRise) o.risePercent = parseNumber(rise, "--rise");
  if ((!autoOpen && o.openDb > 0) || (haveClose && o.closeDb > 0)) throw UsageError("--open and --close are dBFS levels, at most 0");
  if (!autoRise && (o.risePercent < 0 || o.risePercent > 100)) throw UsageError("--rise must lie in 0 ... 100 percent");
  if (o.minSeconds < 0 || o.minSeconds > 3600) throw UsageError("--min must lie in 0 ... 3600 seconds");

  // Read up to three times: for the level, the slices and the split.
  SoundReader r(args[0], true);
  const AudioFormat f = r.format();
  std::vector<float> block(size_t{g.blockFrames} * f.channels);
  std::vector<int16_t> mono;
  if (autoOpen || autoRise) {
    double peak = 0;
    while (const uint32_t n = r.read(block.data(), g.blockFrames)) {
      monoPcm(block.data(), n, f.channels, mono);
      for (int16_t s : mono) peak = std::max(peak, std::fabs(s / 32768.0));
    }
    r.rewind();
    const double peakDb = peak > 0 ? 20 * std::log10(peak) : -96;
    if (autoOpen) o.openDb = peakDb - kAutoOpenBelowPeakDb;
    if (autoRise) o.risePercent = 100 * kAutoRiseOfPeak * peak;
  }
  if (!haveClose) o.closeDb = o.openDb - kCloseBelowOpenDb;

  DspEffect* slicer = initWaveSlice(g.blockFrames, 1, f.rate, static_cast<float>(o.openDb),
                                    static_cast<float>(o.closeDb), static_cast<float>(o.risePercent),
                                    static_cast<float>(o.minSeconds));
  if (!slicer) throw FileError(args[0] + ": the slicer refused these settings at " + std::to_string(f.rate) + " Hz");
  while (const uint32_t n = r.read(block.data(), g.blockFrames)) {
    monoPcm(block.data(), n, f.channels, mono);
    doWaveSlice(slicer, mono.data(), n * 2);
  }
  std::vector<Slice> slices;
  const uint32_t count = stopWaveSlice(slicer);
  for (uint32_t i = 0; i < count; ++i) {
    const SliceRecord* s = getWaveSlice(slicer, i);
    slices.push_back({s->start, s->end});
  }
  termWaveSlice(slicer);

  if (json) {
    std::printf("{\"file\": \"%s\", \"rate\": %u, \"open_db\": %.2f, \"close_db\": %.2f, \"rise_percent\": %.3f, \"slices\": [",
                args[0].c_str(), f.rate, o.openDb, o.closeDb, o.risePercent);
    for (size_t i = 0; i < slices.size(); ++i) {
      std::printf("%s{\"start\": %.6f, \"end\": %.6f}", i ? ", " : "", slices[i].start, slices[i].end);
    }
    std::printf("]}\n");
  } else if (csv) {
    std::printf("index,start_s,end_s\n");
    for (size_t i = 0; i < slices.size(); ++i) std::printf("%zu,%.6f,%.6f\n", i, slices[i].start, slices[i].end);
  } else {
    std::printf("%zu slices in %s (open %.1f dBFS, close %.1f dBFS, rise %.2f %%)\n", slices.size(), args[0].c_str(),
                o.openDb, o.closeDb, o.risePercent);
    for (size_t i = 0; i < slices.size(); ++i) {
      std::printf("%4zu  %10.4f s  ... %10.4f s  (%.4f s)\n", i, slices[i].start, slices[i].end,
                  slices[i].end - slices[i].start);
    }
  }
  if (!wantSplit || slices.empty()) return 0;
  if (::mkdir(split.c_str(), 0777) != 0 && errno != EEXIST) throw FileError(systemError(split, "cannot create directory"));
  // One more pass, copying each slice's frames unchanged in the input's
  // own encoding.
  r.rewind();
  const Encoding enc = outputEncoding(std::string("x.") + extensionFor(r.encoding()), r.encoding(), WriteOptions{});
  uint64_t pos = 0;
  size_t next = 0;
  std::unique_ptr<SoundWriter> out;
  uint64_t outEnd = 0;
  while (const uint32_t n = r.read(block.data(), g.blockFrames)) {
    uint32_t at = 0;
    while (at < n) {
      const uint64_t here = pos + at;
      if (!out && next < slices.size()) {
        const auto s = static_cast<uint64_t>(slices[next].start * f.rate);
        const auto e = static_cast<uint64_t>(slices[next].end * f.rate);
        if (e <= std::max(s, here)) {
          ++next;
          continue;
        }
        if (here >= s) {
          char name[40];
          std::snprintf(name, sizeof name, "/slice_%03zu.%s", next, extensionFor(enc));
          out = std::make_unique<SoundWriter>(split + name, f, enc, false);
          outEnd = e;
          ++next;
          continue;
        }
        at += static_cast<uint32_t>(std::min<uint64_t>(n - at, s - here));
        continue;
      }
      if (!out) break;
      const auto take = static_cast<uint32_t>(std::min<uint64_t>(n - at, outEnd - here));
      out->write(block.data() + size_t{at} * f.channels, take);
      at += take;
      if (pos + at >= outEnd) {
        out->close();
        out.reset();
      }
    }
    pos += n;
  }
  if (out) out->close();
  return 0;
}

}  // namespace dspfx::tool

#include <cmath>
#include <cstdio>

#include "commands.h"
#include "wav.h"

namespace dspfx::tool {

Levels measureLevels(const int16_t* samples, uint64_t frames, uint32_t channels, uint32_t channel) {
  double peak = 0, sum = 0;
  for (uint64_t i = 0; i < frames; ++i) {
    const double v = samples[i * channels + channel] / 32768.0;
    peak = std::max(peak, std::fabs(v));
    sum += v * v;
  }
  const double rms = frames ? std::sqrt(sum / static_cast<double>(frames)) : 0;
  return {20 * std::log10(peak), 20 * std::log10(rms)};
}

int cmdInfo(Args args, const GlobalOptions& g) {
  if (args.size() != 1) throw UsageError("usage: dspfx info FILE");
  SoundReader r(args[0]);
  const AudioFormat f = r.format();
  std::vector<double> peak(f.channels, 0.0), sum(f.channels, 0.0);
  std::vector<float> block(size_t{g.blockFrames} * f.channels);
  uint64_t frames = 0;
  while (const uint32_t n = r.read(block.data(), g.blockFrames)) {
    for (uint32_t i = 0; i < n; ++i) {
      for (uint32_t c = 0; c < f.channels; ++c) {
        const double v = block[size_t{i} * f.channels + c];
        peak[c] = std::max(peak[c], std::fabs(v));
        sum[c] += v * v;
      }
    }
    frames += n;
  }
  const std::string layout = f.channels == 1 ? "mono" : f.channels == 2 ? "stereo" : std::to_string(f.channels) + " channels";
  std::printf("file:      %s\n", args[0].c_str());
  std::printf("format:    %s, %u Hz, %s\n", describe(r.encoding()).c_str(), f.rate, layout.c_str());
  std::printf("duration:  %.3f s\n", static_cast<double>(frames) / f.rate);
  std::printf("frames:    %llu\n", static_cast<unsigned long long>(frames));
  for (uint32_t c = 0; c < f.channels; ++c) {
    const std::string label = f.channels == 1 ? "mono:" : f.channels == 2 ? (c ? "right:" : "left:")
                                                                           : "ch " + std::to_string(c + 1) + ":";
    const double rms = frames ? std::sqrt(sum[c] / static_cast<double>(frames)) : 0;
    std::printf("%-10s peak %7.2f dBFS   rms %7.2f dBFS\n", label.c_str(), 20 * std::log10(peak[c]),
                20 * std::log10(rms));
  }
  return 0;
}

}  // namespace dspfx::tool

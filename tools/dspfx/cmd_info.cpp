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

int cmdInfo(Args args, const GlobalOptions&) {
  if (args.size() != 1) throw UsageError("usage: dspfx info FILE.wav");
  const Audio a = readWav(args[0]);
  const uint64_t frames = a.frames();
  std::printf("file:      %s\n", args[0].c_str());
  std::printf("format:    16-bit PCM, %u Hz, %s\n", a.format.rate, a.format.channels == 2 ? "stereo" : "mono");
  std::printf("duration:  %.3f s\n", static_cast<double>(frames) / a.format.rate);
  std::printf("frames:    %llu\n", static_cast<unsigned long long>(frames));
  for (uint32_t c = 0; c < a.format.channels; ++c) {
    const Levels l = measureLevels(a.samples.data(), frames, a.format.channels, c);
    std::printf("%-10s peak %7.2f dBFS   rms %7.2f dBFS\n", a.format.channels == 2 ? (c ? "right:" : "left:") : "mono:",
                l.peakDb, l.rmsDb);
  }
  return 0;
}

}  // namespace dspfx::tool

#include <algorithm>
#include <cmath>

#include "commands.h"
#include "output_file.h"
#include "wav.h"

namespace dspfx::tool {

Audio crossfadeAudio(const Audio& a, const Audio& b, double start, double len, const float* curve,
                     uint32_t blockFrames) {
  const uint32_t channels = a.format.channels, rate = a.format.rate;
  const uint64_t frames = std::max(a.frames(), b.frames());
  DspEffect* fader = initFader(blockFrames, channels, rate, 1.0f, 0.0f, 0.0f);
  if (!fader) throw FileError("out of memory");
  if (curve) setCrossFaderCurve(fader, curve[0], curve[1], curve[2], curve[3]);
  // The timeline can only schedule after its first frame.
  const float begin = std::max(static_cast<float>(start), 1.5f / static_cast<float>(rate));
  setCrossFaderAction(fader, begin, static_cast<float>(start + len), -1.0f);

  Audio out;
  out.format = a.format;
  out.samples.resize(frames * channels);
  std::vector<int16_t> blockA(size_t{blockFrames} * channels), blockB(blockA.size());
  for (uint64_t f = 0; f < frames; f += blockFrames) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(blockFrames, frames - f));
    // The shorter stream is continued with silence.
    std::fill(blockA.begin(), blockA.end(), 0);
    std::fill(blockB.begin(), blockB.end(), 0);
    if (f < a.frames()) std::copy_n(a.samples.begin() + static_cast<long>(f * channels), std::min<uint64_t>(n, a.frames() - f) * channels, blockA.begin());
    if (f < b.frames()) std::copy_n(b.samples.begin() + static_cast<long>(f * channels), std::min<uint64_t>(n, b.frames() - f) * channels, blockB.begin());
    doCrossFade(fader, blockA.data(), blockB.data(), out.samples.data() + f * channels, n * 2 * channels);
  }
  termFader(fader);
  return out;
}

int cmdCrossfade(Args args, const GlobalOptions& g) {
  std::string at, length, curve;
  if (!takeOption(args, "--at", at) || !takeOption(args, "--length", length)) {
    throw UsageError("usage: dspfx crossfade A.wav B.wav OUT.wav --at SECONDS --length SECONDS [--curve a,b,c,d]");
  }
  const bool haveCurve = takeOption(args, "--curve", curve);
  if (args.size() != 3) throw UsageError("crossfade needs A.wav B.wav OUT.wav");
  const double start = parseNumber(at, "--at"), len = parseNumber(length, "--length");
  if (start < 0 || len <= 0) throw UsageError("--at must be >= 0 and --length > 0");
  float law[4] = {0, 0, 0, 0};
  if (haveCurve) {
    size_t pos = 0;
    for (int k = 0; k < 4; ++k) {
      const size_t comma = curve.find(',', pos);
      if ((comma == std::string::npos) != (k == 3)) throw UsageError("--curve needs four numbers a,b,c,d");
      law[k] = static_cast<float>(parseNumber(curve.substr(pos, comma - pos), "--curve"));
      pos = comma + 1;
    }
    if (law[0] < -50 || law[0] > 50 || law[1] < -50 || law[1] > 50) throw UsageError("--curve a and b are dB in -50 ... 50");
  }
  if (sameFile(args[2], args[0]) || sameFile(args[2], args[1])) {
    throw UsageError(args[2] + ": the output must not be an input file");
  }
  const Audio a = readWav(args[0]), b = readWav(args[1]);
  if (a.format.rate != b.format.rate || a.format.channels != b.format.channels) {
    throw UsageError(args[1] + ": must have the same rate and channel count as " + args[0]);
  }
  if (start + len > static_cast<double>(std::max(a.frames(), b.frames())) / a.format.rate) {
    throw UsageError("--at + --length runs past the end of both files");
  }
  writeWav(args[2], crossfadeAudio(a, b, start, len, haveCurve ? law : nullptr, g.blockFrames));
  return 0;
}

}  // namespace dspfx::tool

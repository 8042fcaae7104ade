#include "analysis_runs.h"

#include <algorithm>

#include "cli.h"
#include "dspfx/dspfx.h"

namespace dspfx::tool {

Spectrogram spectrogramOf(const Audio& audio, uint32_t fftSize) {
  const uint32_t hop = fftSize / 4;
  const uint32_t ch = audio.format.channels;
  DspEffect* fft = initFftAnalyze(hop, ch, fftSize, fftSize);
  if (!fft) throw UsageError("--fft must be a power of two, 16 ... 32768");
  Spectrogram s;
  s.binCount = fftSize / 2;
  s.rate = audio.format.rate;
  s.secondsPerFrame = static_cast<double>(hop) / audio.format.rate;
  std::vector<float> out(size_t{s.binCount} * 2);
  std::vector<int16_t> block(size_t{hop} * ch);
  for (uint64_t f = 0; f < audio.frames(); f += hop) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(hop, audio.frames() - f));
    std::copy_n(audio.samples.begin() + static_cast<long>(f * ch), size_t{n} * ch, block.begin());
    doFftAnalyze(fft, block.data(), out.data(), n * 2 * ch);
    for (uint32_t b = 0; b < s.binCount; ++b) {
      s.db.push_back(ch == 2 ? 0.5f * (out[b] + out[s.binCount + b]) : out[b]);
    }
    ++s.frameCount;
  }
  termFftAnalyze(fft);
  return s;
}

EnvelopePlot envelopeOf(const Audio& audio, uint32_t blockFrames) {
  const uint32_t ch = audio.format.channels;
  DspEffect* env = initEnvAnalyze(blockFrames, ch, audio.format.rate);
  if (!env) throw FileError("the envelope analyser refused a " + std::to_string(audio.format.rate) + " Hz stream");
  EnvelopePlot e;
  e.rate = audio.format.rate;
  std::vector<float> out(size_t{blockFrames} * 2);
  for (uint64_t f = 0; f < audio.frames(); f += blockFrames) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(blockFrames, audio.frames() - f));
    doEnvAnalyze(env, audio.samples.data() + f * ch, out.data(), n * 2 * ch);
    e.left.insert(e.left.end(), out.begin(), out.begin() + n);
    if (ch == 2) e.right.insert(e.right.end(), out.begin() + n, out.begin() + 2 * n);
  }
  termEnvAnalyze(env);
  return e;
}

}  // namespace dspfx::tool

namespace dspfx::tool {

std::vector<Slice> slicesOf(const Audio& audio, const SliceOptions& o, uint32_t blockFrames) {
  const uint32_t ch = audio.format.channels;
  DspEffect* slicer = initWaveSlice(blockFrames, ch, audio.format.rate, static_cast<float>(o.openDb),
                                    static_cast<float>(o.closeDb), static_cast<float>(o.risePercent),
                                    static_cast<float>(o.minSeconds));
  if (!slicer) throw FileError("the slicer refused these settings");
  for (uint64_t f = 0; f < audio.frames(); f += blockFrames) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(blockFrames, audio.frames() - f));
    doWaveSlice(slicer, audio.samples.data() + f * ch, n * 2 * ch);
  }
  std::vector<Slice> slices;
  const uint32_t count = stopWaveSlice(slicer);
  for (uint32_t i = 0; i < count; ++i) {
    const SliceRecord* r = getWaveSlice(slicer, i);
    slices.push_back({r->start, r->end});
  }
  termWaveSlice(slicer);
  return slices;
}

}  // namespace dspfx::tool

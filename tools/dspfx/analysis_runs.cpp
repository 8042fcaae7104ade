#include "analysis_runs.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "cli.h"
#include "dspfx/dspfx.h"
#include "progress.h"

namespace dspfx::tool {
namespace {

struct AnalyserDeleter {
  void operator()(DspEffect* e) const { termFft(e); }
};
using Analyser = std::unique_ptr<DspEffect, AnalyserDeleter>;

// Fills a whole block unless the stream ends; the rest stays silent.
uint32_t readBlock(const BlockSource& source, std::vector<int16_t>& block, uint32_t frames, uint32_t channels) {
  uint32_t got = 0;
  while (got < frames) {
    const uint32_t n = source(block.data() + size_t{got} * channels, frames - got);
    if (n == 0) break;
    got += n;
  }
  std::fill(block.begin() + static_cast<long>(size_t{got} * channels), block.end(), 0);
  return got;
}

// One channel of an interleaved block.
void pick(const std::vector<int16_t>& block, uint32_t frames, uint32_t channels, uint32_t ch,
          std::vector<int16_t>& mono) {
  for (uint32_t i = 0; i < frames; ++i) mono[i] = block[size_t{i} * channels + ch];
}

}  // namespace

BlockSource blocksOf(const Audio& audio) {
  auto at = std::make_shared<uint64_t>(0);
  return [&audio, at](int16_t* dst, uint32_t maxFrames) {
    const uint32_t ch = audio.format.channels;
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(maxFrames, audio.frames() - *at));
    std::copy_n(audio.samples.begin() + static_cast<long>(*at * ch), size_t{n} * ch, dst);
    *at += n;
    return n;
  };
}

SpectraShape spectraShape(uint32_t fftSize) { return {fftSize, fftSize / 4, fftSize / 2}; }

void spectraOf(const BlockSource& source, const AudioFormat& format, uint32_t fftSize,
               const std::function<void(uint64_t, const float*)>& each, Progress* progress) {
  const SpectraShape shape = spectraShape(fftSize);
  const uint32_t channels = format.channels;
  // One mono analyser per channel: any channel count, and each channel's
  // power is known before they are averaged.
  std::vector<Analyser> analysers;
  for (uint32_t c = 0; c < channels; ++c) {
    analysers.emplace_back(initFftAnalyze(shape.hop, 1, fftSize, fftSize));
    if (!analysers.back()) throw UsageError("--fft must be a power of two, 16 ... 32768");
  }
  // The analyser reads a raised-cosine window without scaling it: a sine of
  // amplitude 1 peaks at fftSize/4.
  const double offset = 20 * std::log10(fftSize / 4.0);
  constexpr double kDbToLn = 0.23025850929940458;  // ln(10) / 10
  std::vector<int16_t> block(size_t{shape.hop} * channels), mono(shape.hop);
  std::vector<float> spectrum(shape.binCount), dbfs(shape.binCount);
  std::vector<double> power(shape.binCount);
  // After block r the window ends at (r + 1) hop, so its centre reaches
  // frame 0 after `lead` blocks. Past the end the blocks are silence, fed
  // until the centre has passed the last frame.
  const uint32_t lead = fftSize / 2 / shape.hop - 1;
  uint64_t read = 0;
  bool ended = false;
  for (uint64_t r = 0;; ++r) {
    if (!ended) {
      const uint32_t got = readBlock(source, block, shape.hop, channels);
      read += got;
      ended = got < shape.hop;
    } else {
      std::fill(block.begin(), block.end(), 0);
    }
    for (uint32_t c = 0; c < channels; ++c) {
      pick(block, shape.hop, channels, c, mono);
      doFftAnalyze(analysers[c].get(), mono.data(), spectrum.data(), shape.hop * 2);
      if (channels == 1) break;
      for (uint32_t b = 0; b < shape.binCount; ++b) {
        const double p = std::exp(spectrum[b] * kDbToLn);
        power[b] = c ? power[b] + p : p;
      }
    }
    if (progress) progress->update(read);
    if (r < lead) continue;
    const uint64_t centre = (r - lead) * shape.hop;
    if (ended && centre > read) break;
    for (uint32_t b = 0; b < shape.binCount; ++b) {
      const double db = channels == 1 ? spectrum[b] : 10 * std::log10(power[b] / channels);
      dbfs[b] = static_cast<float>(db - offset);
    }
    each(centre, dbfs.data());
  }
}

void envelopeOf(const BlockSource& source, const AudioFormat& format, uint32_t blockFrames,
                const std::function<void(uint64_t, const std::vector<const float*>&, uint32_t)>& each,
                Progress* progress) {
  const uint32_t channels = format.channels;
  std::vector<Analyser> analysers;
  for (uint32_t c = 0; c < channels; ++c) {
    analysers.emplace_back(initEnvAnalyze(blockFrames, 1, format.rate));
    if (!analysers.back()) {
      throw FileError("the envelope analyser refused a " + std::to_string(format.rate) + " Hz stream");
    }
  }
  std::vector<int16_t> block(size_t{blockFrames} * channels), mono(blockFrames);
  std::vector<std::vector<float>> levels(channels, std::vector<float>(blockFrames));
  std::vector<const float*> views;
  for (const auto& l : levels) views.push_back(l.data());
  uint64_t done = 0;
  while (const uint32_t n = readBlock(source, block, blockFrames, channels)) {
    for (uint32_t c = 0; c < channels; ++c) {
      pick(block, n, channels, c, mono);
      doEnvAnalyze(analysers[c].get(), mono.data(), levels[c].data(), n * 2);
      for (uint32_t i = 0; i < n; ++i) levels[c][i] /= 32767.0f;
    }
    each(done, views, n);
    done += n;
    if (progress) progress->update(done);
    if (n < blockFrames) break;
  }
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

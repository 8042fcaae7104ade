#include <algorithm>
#include <cmath>
#include <functional>

#include "commands.h"
#include "dspfx/dspfx.h"
#include "output_file.h"
#include "wav.h"

namespace dspfx::tool {
namespace {

using Source = std::function<uint32_t(float* dst, uint32_t frames)>;
using Sink = std::function<void(const float* frames, uint32_t count)>;

// The cross-fader's gain for one stream, frame by frame, so the mix itself
// can stay in float at the sources' resolution: a fader fed a constant on
// that stream and silence on the other gives the gain times the constant.
// Full scale resolves the gain finely up to unity; a law that boosts the
// middle saturates it, and a small constant then measures the boost.
class FadeGain {
 public:
  FadeGain(bool streamA, uint32_t block, uint32_t rate, double seconds, const float* curve)
      : fine_(make(block, rate, seconds, curve)), coarse_(make(block, rate, seconds, curve)), zero_(block, 0),
        full_(block, kFine), small_(block, kCoarse), outFine_(block), outCoarse_(block), streamA_(streamA) {}
  ~FadeGain() {
    termFader(fine_);
    termFader(coarse_);
  }
  FadeGain(const FadeGain&) = delete;
  FadeGain& operator=(const FadeGain&) = delete;

  // n (at most the block) gains into dst.
  void next(float* dst, uint32_t n) {
    run(fine_, full_, outFine_, n);
    run(coarse_, small_, outCoarse_, n);
    for (uint32_t i = 0; i < n; ++i) {
      dst[i] = outFine_[i] < kFine ? outFine_[i] / static_cast<float>(kFine) : outCoarse_[i] / static_cast<float>(kCoarse);
    }
  }

 private:
  static constexpr int16_t kFine = 32767, kCoarse = 128;

  static DspEffect* make(uint32_t block, uint32_t rate, double seconds, const float* curve) {
    DspEffect* f = initFader(block, 1, rate, 1.0f, 0.0f, 0.0f);
    if (!f) throw FileError("out of memory");
    if (curve) setCrossFaderCurve(f, curve[0], curve[1], curve[2], curve[3]);
    // The timeline can only schedule after its first frame.
    setCrossFaderAction(f, 1.5f / static_cast<float>(rate), static_cast<float>(seconds), -1.0f);
    return f;
  }
  void run(DspEffect* f, const std::vector<int16_t>& probe, std::vector<int16_t>& out, uint32_t n) {
    doCrossFade(f, (streamA_ ? probe : zero_).data(), (streamA_ ? zero_ : probe).data(), out.data(), n * 2);
  }

  DspEffect* fine_;
  DspEffect* coarse_;
  std::vector<int16_t> zero_, full_, small_, outFine_, outCoarse_;
  bool streamA_;
};

// a up to start, the mix over length frames with b's beginning, then the
// rest of b. A source that runs out continues as silence.
void crossfade(const Source& a, const Source& b, uint32_t channels, uint32_t rate, uint64_t start,
               uint64_t length, const float* curve, uint32_t block, const Sink& sink) {
  std::vector<float> bufA(size_t{block} * channels), bufB(bufA.size()), gainA(block), gainB(block);
  auto fill = [&](const Source& s, std::vector<float>& buf, uint32_t n) {
    uint32_t got = 0;
    while (got < n) {
      const uint32_t r = s(buf.data() + size_t{got} * channels, n - got);
      if (r == 0) break;
      got += r;
    }
    std::fill(buf.begin() + static_cast<long>(size_t{got} * channels), buf.begin() + static_cast<long>(size_t{n} * channels), 0.0f);
    return got;
  };
  for (uint64_t f = 0; f < start; f += block) {
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(block, start - f));
    fill(a, bufA, n);
    sink(bufA.data(), n);
  }
  FadeGain ga(true, block, rate, static_cast<double>(length) / rate, curve);
  FadeGain gb(false, block, rate, static_cast<double>(length) / rate, curve);
  for (uint64_t f = 0; f < length; f += block) {
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(block, length - f));
    fill(a, bufA, n);
    fill(b, bufB, n);
    ga.next(gainA.data(), n);
    gb.next(gainB.data(), n);
    for (uint32_t i = 0; i < n; ++i) {
      for (uint32_t c = 0; c < channels; ++c) {
        const size_t k = size_t{i} * channels + c;
        bufA[k] = gainA[i] * bufA[k] + gainB[i] * bufB[k];
      }
    }
    sink(bufA.data(), n);
  }
  while (const uint32_t n = fill(b, bufB, block)) sink(bufB.data(), n);
}

}  // namespace

Audio crossfadeAudio(const Audio& a, const Audio& b, double start, double len, const float* curve,
                     uint32_t blockFrames) {
  const uint32_t ch = a.format.channels;
  auto source = [ch](const Audio& x) {
    return [&x, ch, at = uint64_t{0}](float* dst, uint32_t n) mutable {
      const auto got = static_cast<uint32_t>(std::min<uint64_t>(n, x.frames() - std::min(at, x.frames())));
      for (size_t i = 0; i < size_t{got} * ch; ++i) dst[i] = x.samples[at * ch + i] / 32768.0f;
      at += got;
      return got;
    };
  };
  Audio out;
  out.format = a.format;
  const auto frames = [&](double s) { return static_cast<uint64_t>(std::llround(s * a.format.rate)); };
  crossfade(source(a), source(b), ch, a.format.rate, frames(start), frames(len), curve, blockFrames,
            [&](const float* f, uint32_t n) {
              for (size_t i = 0; i < size_t{n} * ch; ++i) {
                const double v = std::floor(static_cast<double>(f[i]) * 32768.0 + 0.5);
                out.samples.push_back(static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0)));
              }
            });
  return out;
}

int cmdCrossfade(Args args, const GlobalOptions& g) {
  const WriteOptions options = takeWriteOptions(args);
  std::string at, length, curve;
  if (!takeOption(args, "--at", at) || !takeOption(args, "--length", length)) {
    throw UsageError(
        "usage: dspfx crossfade A B OUT --at SECONDS --length SECONDS [--curve a,b,c,d]\n"
        "OUT is A up to --at, then the overlap, then the rest of B. The position runs from +1 (A alone) to -1\n"
        "(B alone) over the overlap; --curve sets the law: at position 0 both streams at a dB; the stream\n"
        "fading out at b dB at position d, silent past it; the stream fading in at 0 dB from position c on\n"
        "(default -1,-40,0.05,0.8)");
  }
  const bool haveCurve = takeOption(args, "--curve", curve);
  if (args.size() != 3) throw UsageError("crossfade needs A B OUT");
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
    if (law[2] < 0 || law[2] > 1 || law[3] < 0 || law[3] > 1) throw UsageError("--curve c and d are positions in 0 ... 1");
  }
  if (sameFile(args[2], args[0]) || sameFile(args[2], args[1])) {
    throw UsageError(args[2] + ": the output must not be an input file");
  }
  if (args[0] == "-" && args[1] == "-") throw UsageError("only one input can be standard input");
  SoundReader a(args[0]), b(args[1]);
  const AudioFormat f = a.format();
  if (b.format().rate != f.rate || b.format().channels != f.channels) {
    throw UsageError(args[1] + ": must have the same rate and channel count as " + args[0]);
  }
  const auto startFrame = static_cast<uint64_t>(std::llround(start * f.rate));
  const auto lenFrames = static_cast<uint64_t>(std::llround(len * f.rate));
  if (a.lengthKnown() && startFrame >= a.frames()) {
    throw UsageError("--at " + at + " is past the end of " + args[0]);
  }
  if (lenFrames == 0) throw UsageError("--length is shorter than one frame");
  SoundWriter out(args[2], f, outputEncoding(args[2], a.encoding(), options), options.dither);
  crossfade([&](float* d, uint32_t n) { return a.read(d, n); }, [&](float* d, uint32_t n) { return b.read(d, n); },
            f.channels, f.rate, startFrame, lenFrames, haveCurve ? law : nullptr, g.blockFrames,
            [&](const float* d, uint32_t n) { out.write(d, n); });
  out.close();
  return 0;
}

}  // namespace dspfx::tool

#include "dsp/polyphase_resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/processor_flags.h"
#include "dsp/kaiser_fir.h"

#if (defined(__SSE2__) || defined(_M_X64)) && !defined(DSPFX_PORTABLE_SIMD)
#include <emmintrin.h>
#define DSPFX_POLYPHASE_SSE2 1
#endif

namespace dspfx {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr uint64_t kRatioDenominator = uint64_t{1} << 24;
// The exact table stays below this many floats (4 MiB); an odd rate pair
// that would need more interpolates instead.
constexpr uint64_t kMaxExactFloats = uint64_t{1} << 20;
constexpr uint64_t kMaxInterpolatedFloats = uint64_t{1} << 21;

uint64_t gcd(uint64_t a, uint64_t b) {
  while (b != 0) {
    const uint64_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

float* alignedFloats(size_t n) {
  return static_cast<float*>(::operator new[](n * sizeof(float), std::align_val_t{16}, std::nothrow));
}

double sinc(double x) { return x == 0.0 ? 1.0 : std::sin(kPi * x) / (kPi * x); }

}  // namespace

bool PolyphaseResampler::configure(uint32_t srcRate, uint32_t dstRate, uint32_t channels,
                                   uint32_t maxFrames) {
  if (srcRate == 0 || dstRate == 0) {
    ready_ = false;
    return false;
  }
  const uint64_t g = gcd(srcRate, dstRate);
  return build(srcRate / g, dstRate / g, static_cast<double>(dstRate) / srcRate, channels, maxFrames);
}

bool PolyphaseResampler::configureRatio(double dstPerSrc, uint32_t channels, uint32_t maxFrames) {
  if (!(dstPerSrc >= 1.0 / 65536.0 && dstPerSrc <= 65536.0)) {
    ready_ = false;
    return false;
  }
  const double step = std::round(static_cast<double>(kRatioDenominator) / dstPerSrc);
  const uint64_t s = static_cast<uint64_t>(step);
  const uint64_t g = gcd(s, kRatioDenominator);
  return build(s / g, kRatioDenominator / g, dstPerSrc, channels, maxFrames);
}

bool PolyphaseResampler::build(uint64_t step, uint64_t den, double dstPerSrc, uint32_t channels,
                               uint32_t maxFrames) {
  ready_ = false;
  if (channels == 0 || channels > kMaxChannels || maxFrames > UINT32_MAX / 2) return false;
  channels_ = channels;
  maxFrames_ = maxFrames;
  den_ = den;
  step_ = step;
  stepWhole_ = step / den;
  stepRest_ = step % den;
  copy_ = step == den;
  if (copy_) {
    taps_ = rows_ = 0;
    ready_ = true;
    return true;
  }

  // Edges in cycles per input sample. Up-sampling lets the transition run
  // past the input's Nyquist frequency up to where the images of the pass
  // band start: what lies between is the image of the transition band
  // alone, and it folds no lower than the pass-band edge.
  double pass = 0.0;
  double stop = 0.0;
  if (dstPerSrc >= 1.0) {
    pass = kPassband * 0.5;
    stop = 1.0 - pass;
  } else {
    stop = 0.5 * dstPerSrc;
    pass = kPassband * stop;
  }
  const double order = (kStopbandDb - 7.95) / (2.285 * 2.0 * kPi * (stop - pass));
  uint64_t taps = static_cast<uint64_t>(std::ceil(order / 4.0)) * 4;
  taps = std::clamp<uint64_t>(taps, 8, kMaxTaps);
  // A capped filter keeps its stop band and gives up pass band.
  pass = std::max(stop - (kStopbandDb - 7.95) / (2.285 * 2.0 * kPi * static_cast<double>(taps)), 0.5 * stop);
  taps_ = static_cast<uint32_t>(taps);

  exact_ = den <= kMaxExactPhases && den * taps <= kMaxExactFloats;
  if (exact_) {
    rows_ = static_cast<uint32_t>(den);
  } else {
    // A long filter belongs to a strong down-sampling, whose kernel is
    // smooth over one input sample: fewer rows interpolate as well.
    uint32_t phases = kInterpolatedPhases;
    while (phases > 16 && (uint64_t{phases} + 1) * taps > kMaxInterpolatedFloats) phases /= 2;
    rows_ = phases + 1;
  }

  coef_.reset(alignedFloats(size_t{rows_} * taps_));
  historyCapacity_ = taps_ + maxFrames;
  bool ok = coef_ != nullptr;
  for (uint32_t c = 0; c < kMaxChannels; ++c) {
    streams_[c].history.reset(ok && c < channels ? alignedFloats(historyCapacity_) : nullptr);
    if (c < channels && !streams_[c].history) ok = false;
  }
  if (!ok) {
    coef_.reset();
    for (Stream& s : streams_) s.history.reset();
    return false;
  }
  design(pass, stop);
  ready_ = true;
  reset();
  return true;
}

void PolyphaseResampler::design(double pass, double stop) {
  const double fc = 0.5 * (pass + stop);
  const double half = 0.5 * taps_;
  const double beta = KaiserFir::kaiserBeta(kStopbandDb);
  const double i0Beta = KaiserFir::besselI0(beta);
  const uint32_t phases = exact_ ? rows_ : rows_ - 1;
  for (uint32_t r = 0; r < rows_; ++r) {
    // Exact rows are stored in the order the outputs visit their phases, so
    // consecutive outputs read consecutive memory.
    const uint64_t numerator = exact_ ? (uint64_t{r} * stepRest_) % den_ : r;
    const double phase = static_cast<double>(numerator) / phases;
    float* c = coef_.get() + size_t{r} * taps_;
    double sum = 0.0;
    for (uint32_t m = 0; m < taps_; ++m) {
      // Tap m reads the sample this far before the output's position.
      const double t = phase + half - 1.0 - m;
      const double u = t / half;
      // The window is lowered to reach zero at the ends, so the kernel has
      // no step there that an odd phase could sample.
      const double w = u * u < 1.0 ? (KaiserFir::besselI0(beta * std::sqrt(1.0 - u * u)) - 1.0) / (i0Beta - 1.0) : 0.0;
      const double tap = 2.0 * fc * sinc(2.0 * fc * t) * w;
      c[m] = static_cast<float>(tap);
      sum += tap;
    }
    // Every phase passes DC at exactly unit gain: a gain that varied with
    // the phase would modulate a steady tone.
    for (uint32_t m = 0; m < taps_; ++m) c[m] = static_cast<float>(c[m] / sum);
  }
}

void PolyphaseResampler::reset() {
  if (!ready_) return;
  for (uint32_t c = 0; c < channels_; ++c) {
    Stream& s = streams_[c];
    if (copy_) continue;
    // The filter starts over a full length of silence, so the first output
    // already has every tap it reads.
    std::fill(s.history.get(), s.history.get() + taps_, 0.0f);
    s.fill = taps_ - 1;
    s.index = 0;
    s.phase = 0;
    s.cycle = 0;
  }
}

uint32_t PolyphaseResampler::maxOutput(uint32_t frames) const {
  if (!ready_) return 0;
  if (copy_) return frames;
  // ceil(frames * den / step) without a product that can pass 64 bits.
  const uint64_t whole = (frames / step_) * den_;
  const uint64_t rest = ((frames % step_) * den_ + step_ - 1) / step_;
  return static_cast<uint32_t>(std::min<uint64_t>(whole + rest, UINT32_MAX));
}

uint32_t PolyphaseResampler::processChannel(uint32_t channel, const float* in, uint32_t frames,
                                            float* out, uint32_t outCapacity) {
  if (!ready_ || channel >= channels_) return 0;
  frames = std::min(frames, maxFrames_);
  if (copy_) {
    const uint32_t n = std::min(frames, outCapacity);
    if (n > 0) std::memcpy(out, in, size_t{n} * sizeof(float));
    return n;
  }
  Stream& s = streams_[channel];
  if (frames > 0) std::memcpy(s.history.get() + s.fill, in, size_t{frames} * sizeof(float));
  s.fill += frames;
#ifdef DSPFX_POLYPHASE_SSE2
  const uint32_t n = run(s, out, outCapacity, sseOn());
#else
  const uint32_t n = run(s, out, outCapacity, false);
#endif
  const uint32_t used = std::min(s.index, s.fill);
  std::memmove(s.history.get(), s.history.get() + used, size_t{s.fill - used} * sizeof(float));
  s.fill -= used;
  s.index -= used;
  return n;
}

uint32_t PolyphaseResampler::process(const float* const* in, uint32_t frames, float* const* out,
                                     uint32_t outCapacity) {
  if (!ready_) return 0;
  if (channels_ == 2 && inStep(streams_[0], streams_[1])) {
    return runTwins(streams_[0], streams_[1], in[0], in[1], frames, out[0], out[1], outCapacity);
  }
  uint32_t n = 0;
  for (uint32_t c = 0; c < channels_; ++c) n = processChannel(c, in[c], frames, out[c], outCapacity);
  return n;
}

uint32_t PolyphaseResampler::processTwins(PolyphaseResampler& right, const float* inLeft,
                                          const float* inRight, uint32_t frames, float* outLeft,
                                          float* outRight, uint32_t outCapacity) {
  const bool twins = ready_ && right.ready_ && channels_ == 1 && right.channels_ == 1 &&
                     den_ == right.den_ && step_ == right.step_ && taps_ == right.taps_ &&
                     maxFrames_ == right.maxFrames_ && inStep(streams_[0], right.streams_[0]);
  if (!twins) {
    const uint32_t n = processChannel(0, inLeft, frames, outLeft, outCapacity);
    right.processChannel(0, inRight, frames, outRight, outCapacity);
    return n;
  }
  return runTwins(streams_[0], right.streams_[0], inLeft, inRight, frames, outLeft, outRight, outCapacity);
}

bool PolyphaseResampler::inStep(const Stream& a, const Stream& b) const {
  return !copy_ && exact_ && a.fill == b.fill && a.index == b.index && a.cycle == b.cycle;
}

// Two streams in step read the same row at the same place: one pass loads
// each coefficient once for both.
uint32_t PolyphaseResampler::runTwins(Stream& a, Stream& b, const float* inA, const float* inB,
                                      uint32_t frames, float* outA, float* outB, uint32_t outCapacity) {
  frames = std::min(frames, maxFrames_);
  if (frames > 0) {
    std::memcpy(a.history.get() + a.fill, inA, size_t{frames} * sizeof(float));
    std::memcpy(b.history.get() + b.fill, inB, size_t{frames} * sizeof(float));
  }
  a.fill += frames;
  b.fill = a.fill;
#ifdef DSPFX_POLYPHASE_SSE2
  const bool sse = sseOn();
#else
  const bool sse = false;
#endif
  const float* xa = a.history.get();
  const float* xb = b.history.get();
  uint32_t written = 0;
  while (uint64_t{a.index} + taps_ <= a.fill) {
    if (written < outCapacity) {
      const float* c = row(a.cycle);
      if (sse) {
        dotPairSse(c, xa + a.index, xb + a.index, taps_, outA + written, outB + written);
      } else {
        outA[written] = dotScalar(c, xa + a.index, taps_);
        outB[written] = dotScalar(c, xb + a.index, taps_);
      }
      ++written;
    }
    a.phase += stepRest_;
    uint64_t advance = stepWhole_;
    if (a.phase >= den_) {
      a.phase -= den_;
      ++advance;
    }
    a.index = static_cast<uint32_t>(a.index + advance);
    if (++a.cycle == rows_) a.cycle = 0;
  }
  b.phase = a.phase;
  b.cycle = a.cycle;
  b.index = a.index;
  for (Stream* s : {&a, &b}) {
    const uint32_t used = std::min(s->index, s->fill);
    std::memmove(s->history.get(), s->history.get() + used, size_t{s->fill - used} * sizeof(float));
    s->fill -= used;
    s->index -= used;
  }
  return written;
}

uint32_t PolyphaseResampler::run(Stream& s, float* out, uint32_t outCapacity, bool sse) {
  const float* x = s.history.get();
  uint32_t written = 0;
  const uint32_t phases = rows_ - 1;
  while (uint64_t{s.index} + taps_ <= s.fill) {
    if (written < outCapacity) {
      float y;
      if (exact_) {
        const float* c = row(s.cycle);
        y = sse ? dotSse(c, x + s.index, taps_) : dotScalar(c, x + s.index, taps_);
      } else {
        const uint64_t scaled = s.phase * phases;
        const uint32_t r = static_cast<uint32_t>(scaled / den_);
        const float f = static_cast<float>(static_cast<double>(scaled % den_) / static_cast<double>(den_));
        y = sse ? blendSse(row(r), row(r + 1), x + s.index, taps_, f)
                : blendScalar(row(r), row(r + 1), x + s.index, taps_, f);
      }
      out[written++] = y;
    }
    s.phase += stepRest_;
    uint64_t advance = stepWhole_;
    if (s.phase >= den_) {
      s.phase -= den_;
      ++advance;
    }
    s.index = static_cast<uint32_t>(s.index + advance);
    if (exact_ && ++s.cycle == rows_) s.cycle = 0;
  }
  return written;
}

float PolyphaseResampler::dotScalar(const float* c, const float* x, uint32_t n) {
  double sum = 0.0;
  for (uint32_t m = 0; m < n; ++m) sum += static_cast<double>(c[m]) * x[m];
  return static_cast<float>(sum);
}

float PolyphaseResampler::blendScalar(const float* c0, const float* c1, const float* x, uint32_t n,
                                      float f) {
  double s0 = 0.0;
  double s1 = 0.0;
  for (uint32_t m = 0; m < n; ++m) {
    s0 += static_cast<double>(c0[m]) * x[m];
    s1 += static_cast<double>(c1[m]) * x[m];
  }
  return static_cast<float>(s0 + f * (s1 - s0));
}

#ifdef DSPFX_POLYPHASE_SSE2
namespace {
inline float horizontalSum(__m128 v) {
  const __m128 pairs = _mm_add_ps(v, _mm_movehl_ps(v, v));
  return _mm_cvtss_f32(_mm_add_ss(pairs, _mm_shuffle_ps(pairs, pairs, 1)));
}
}  // namespace

// n is a multiple of 4 and c is aligned; two accumulators keep the adds
// from waiting on each other.
float PolyphaseResampler::dotSse(const float* c, const float* x, uint32_t n) {
  __m128 a = _mm_setzero_ps();
  __m128 b = _mm_setzero_ps();
  uint32_t m = 0;
  for (; m + 8 <= n; m += 8) {
    a = _mm_add_ps(a, _mm_mul_ps(_mm_load_ps(c + m), _mm_loadu_ps(x + m)));
    b = _mm_add_ps(b, _mm_mul_ps(_mm_load_ps(c + m + 4), _mm_loadu_ps(x + m + 4)));
  }
  if (m < n) a = _mm_add_ps(a, _mm_mul_ps(_mm_load_ps(c + m), _mm_loadu_ps(x + m)));
  return horizontalSum(_mm_add_ps(a, b));
}

void PolyphaseResampler::dotPairSse(const float* c, const float* xa, const float* xb, uint32_t n,
                                    float* ya, float* yb) {
  __m128 a0 = _mm_setzero_ps();
  __m128 a1 = _mm_setzero_ps();
  __m128 b0 = _mm_setzero_ps();
  __m128 b1 = _mm_setzero_ps();
  uint32_t m = 0;
  for (; m + 8 <= n; m += 8) {
    const __m128 c0 = _mm_load_ps(c + m);
    const __m128 c1 = _mm_load_ps(c + m + 4);
    a0 = _mm_add_ps(a0, _mm_mul_ps(c0, _mm_loadu_ps(xa + m)));
    b0 = _mm_add_ps(b0, _mm_mul_ps(c0, _mm_loadu_ps(xb + m)));
    a1 = _mm_add_ps(a1, _mm_mul_ps(c1, _mm_loadu_ps(xa + m + 4)));
    b1 = _mm_add_ps(b1, _mm_mul_ps(c1, _mm_loadu_ps(xb + m + 4)));
  }
  if (m < n) {
    const __m128 c0 = _mm_load_ps(c + m);
    a0 = _mm_add_ps(a0, _mm_mul_ps(c0, _mm_loadu_ps(xa + m)));
    b0 = _mm_add_ps(b0, _mm_mul_ps(c0, _mm_loadu_ps(xb + m)));
  }
  // Both lane sums at once, in horizontalSum's order for each.
  const __m128 a = _mm_add_ps(a0, a1);
  const __m128 b = _mm_add_ps(b0, b1);
  const __m128 halves = _mm_add_ps(_mm_unpacklo_ps(a, b), _mm_unpackhi_ps(a, b));
  const __m128 sums = _mm_add_ps(halves, _mm_movehl_ps(halves, halves));
  _mm_store_ss(ya, sums);
  _mm_store_ss(yb, _mm_shuffle_ps(sums, sums, 1));
}

float PolyphaseResampler::blendSse(const float* c0, const float* c1, const float* x, uint32_t n,
                                   float f) {
  __m128 a = _mm_setzero_ps();
  __m128 b = _mm_setzero_ps();
  for (uint32_t m = 0; m < n; m += 4) {
    const __m128 v = _mm_loadu_ps(x + m);
    a = _mm_add_ps(a, _mm_mul_ps(_mm_load_ps(c0 + m), v));
    b = _mm_add_ps(b, _mm_mul_ps(_mm_load_ps(c1 + m), v));
  }
  const float s0 = horizontalSum(a);
  const float s1 = horizontalSum(b);
  return s0 + f * (s1 - s0);
}
#else
void PolyphaseResampler::dotPairSse(const float* c, const float* xa, const float* xb, uint32_t n,
                                    float* ya, float* yb) {
  *ya = dotScalar(c, xa, n);
  *yb = dotScalar(c, xb, n);
}
float PolyphaseResampler::dotSse(const float* c, const float* x, uint32_t n) { return dotScalar(c, x, n); }
float PolyphaseResampler::blendSse(const float* c0, const float* c1, const float* x, uint32_t n, float f) {
  return blendScalar(c0, c1, x, n, f);
}
#endif

}  // namespace dspfx

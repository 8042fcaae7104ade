#include "dsp/rate_converter.h"

#include <algorithm>
#include <cmath>

#include "core/fastmem_heap.h"
#include "core/sample_convert.h"

#include "core/simd_detect.h"

#if DSPFX_SIMD_SSE2
#include <emmintrin.h>
#endif

namespace dspfx {
namespace {

double acoshByLog(double x) { return std::log(x + std::sqrt(x * x - 1.0)); }

// Chebyshev type I order that keeps rippleDb up to fp and reaches stopbandDb
// at lo / 2.
int32_t estimateOrder(float stopbandDb, float rippleDb, double fp, uint32_t lo) {
  const double a = std::sqrt((std::pow(10.0, 0.1 * stopbandDb) - 1.0) /
                             (std::pow(10.0, 0.1 * rippleDb) - 1.0));
  const double b = (0.5 / fp) * lo;
  const double estimate = acoshByLog(a) / acoshByLog(b) + 1.0;
  if (!(estimate >= 1.0)) return 1;
  if (!(estimate < RateConverter::kMaxFilterOrder + 1.0)) return RateConverter::kMaxFilterOrder;
  return static_cast<int32_t>(estimate);
}

template <class T>
T* alignedArray(size_t count) {
  return static_cast<T*>(::operator new[](count * sizeof(T), std::align_val_t{16}, std::nothrow));
}

bool growFloats(float*& buffer, uint32_t count) {
  void* grown = buffer ? fastmemHeap().reallocate(buffer, count * 4u)
                       : fastmemHeap().allocate(count * 4u);
  if (!grown) return false;
  buffer = static_cast<float*>(grown);
  return true;
}

}  // namespace

uint32_t scaleCount(double count, uint32_t fromRate, uint32_t toRate) {
  if (fromRate == 0) return 0;
  const double v = (count / fromRate) * toRate;
  if (!(v >= 0.0)) return 0;
  if (v >= 4294967295.0) return UINT32_MAX;
  return static_cast<uint32_t>(v);
}

RateConverter::~RateConverter() { releaseBuffers(); }

void RateConverter::releaseBuffers() {
  freeFloats(scratch);
  freeFloats(history);
  allocated = false;
}

uint32_t RateConverter::configure(uint32_t newCapacity, uint32_t src, uint32_t dst,
                                  int32_t mode, float stopbandDb, float slopeDbPerOctave,
                                  bool filterOn, float rippleDb) {
  dstRate = dst;
  interpolation = mode;
  antiAlias = filterOn;
  srcRate = src;
  lastStopbandDb = stopbandDb;
  lastSlopeDbPerOctave = slopeDbPerOctave;
  lastRippleDb = rippleDb;

  const bool fresh = !scratch || !history;
  if (fresh || newCapacity > capacity) {
    if (newCapacity > UINT32_MAX / 4 - 3 || !growFloats(scratch, newCapacity) ||
        !growFloats(history, newCapacity + 3)) {
      releaseBuffers();
      capacity = maxDst = lastChunk = 0;
      return 0;
    }
  }
  capacity = newCapacity;

  maxDst = scaleCount(capacity, srcRate, dstRate);
  direction = srcRate < dstRate ? 1 : (srcRate > dstRate ? -1 : 0);
  const uint32_t lo = std::min(srcRate, dstRate);
  const uint32_t hi = std::max(srcRate, dstRate);

  const double fp = (0.5 / std::pow(2.0, static_cast<double>(stopbandDb) / slopeDbPerOctave)) * lo;
  filter.setOrder(estimateOrder(stopbandDb, rippleDb, fp, lo), kLowPass);
  // Parameters without a meaningful low-pass (a zero rate, an edge at or
  // past half the higher rate, no ripple) leave the filter a pass-through
  // rather than filling it with NaN.
  if (fp > 0.0 && fp < 0.5 * hi && rippleDb > 0.0f && std::isfinite(rippleDb)) {
    filter.designChebyshev(static_cast<float>(hi), static_cast<float>(fp), rippleDb);
  }

  std::fill(history, history + capacity + 3, 0.0f);
  allocated = true;
  lastChunk = capacity;
  if (quality == kQualityDesign) {
    buildPlan();
    return maxDst;
  }
  if (!prepareStreaming()) {
    releaseBuffers();
    capacity = maxDst = lastChunk = 0;
    return 0;
  }
  return maxDst;
}

bool RateConverter::setQuality(int32_t value) {
  if (value < kQualityDesign || value > kQualityBandLimited) return false;
  quality = value;
  if (!allocated) return true;
  configure(capacity, srcRate, dstRate, interpolation, lastStopbandDb, lastSlopeDbPerOctave, antiAlias,
            lastRippleDb);
  return allocated;
}

uint32_t RateConverter::streamCount(uint32_t size) const {
  if (srcRate == 0 || dstRate == 0) return 0;
  // ceil(size * den / step) without a product that can pass 64 bits.
  const uint64_t step = stepWhole * phaseDen + stepRest;
  const uint64_t whole = (size / step) * phaseDen;
  const uint64_t rest = ((size % step) * phaseDen + step - 1) / step;
  return static_cast<uint32_t>(std::min<uint64_t>(whole + rest, UINT32_MAX));
}

bool RateConverter::prepareStreaming() {
  if (srcRate == 0 || dstRate == 0) return false;
  uint64_t a = srcRate, b = dstRate;
  while (b != 0) {
    const uint64_t t = a % b;
    a = b;
    b = t;
  }
  phaseDen = dstRate / a;
  const uint64_t step = srcRate / a;
  stepWhole = step / phaseDen;
  stepRest = step % phaseDen;
  maxDst = streamCount(capacity);

  if (quality == kQualityBandLimited) {
    return band.configure(srcRate, dstRate, 1, capacity);
  }
  // The interpolation reads this many samples per output and starts over
  // silence, so its first output already has them all.
  streamTaps = interpolation == 0 ? 2 : 4;
  streamFill = streamTaps - 1;
  streamIndex = 0;
  streamPhase = 0;
  if (direction == 0 || phaseDen > kMaxStreamPhases) {
    pairTable.reset();
    pairTableCapacity = 0;
    return true;
  }
  const size_t width = interpolation == 0 ? 2 : 8;
  const size_t values = phaseDen * width;
  if (values > pairTableCapacity) {
    pairTable.reset(alignedArray<double>(values));
    pairTableCapacity = pairTable ? values : 0;
  }
  if (!pairTable) return true;
  for (uint64_t p = 0; p < phaseDen; ++p) {
    const uint64_t next = (p + stepRest) % phaseDen;
    double* row = pairTable.get() + p * width;
    for (int k = 0; k < 2; ++k) {
      const double f = static_cast<double>(k == 0 ? p : next) / static_cast<double>(phaseDen);
      if (interpolation == 0) {
        row[k] = f;
      } else {
        row[k] = cubicWeight(static_cast<float>(1.0 + f));
        row[2 + k] = cubicWeight(static_cast<float>(f));
        row[4 + k] = cubicWeight(static_cast<float>(f - 1.0));
        row[6 + k] = cubicWeight(static_cast<float>(f - 2.0));
      }
    }
  }
  return true;
}

void RateConverter::buildPlan() {
  planOutputs = 0;
  if (direction == 0 || srcRate == 0 || dstRate == 0) return;
  // The last chunk of a block also takes what the truncated counts of the
  // chunks before it left over, less than one frame per chunk; a chunk
  // beyond the plan computes its numbers as it goes.
  const uint64_t full = uint64_t{scaleCount(kChunkFrames, srcRate, dstRate)} + 1;
  if (full > kMaxPlanOutputs) return;
  const uint64_t wanted = std::min<uint64_t>(full + capacity / kChunkFrames + 1, kMaxPlanOutputs);
  // Whole pairs, for the paired weights.
  const uint32_t outputs = static_cast<uint32_t>((wanted + 1) & ~uint64_t{1});
  const uint32_t values = interpolation == 0 ? outputs : 4 * outputs;
  if (outputs > planWholeCapacity) {
    planWhole.reset(alignedArray<uint32_t>(outputs));
    planWholeCapacity = planWhole ? outputs : 0;
  }
  if (values > planValueCapacity) {
    planValues.reset(alignedArray<double>(values));
    planValueCapacity = planValues ? values : 0;
  }
  if (!planWhole || !planValues) return;

  const double step = static_cast<double>(srcRate) / dstRate;
  double pos = interpolation == 0 ? 0.0 : 1.0;
  for (uint32_t i = 0; i < outputs; ++i) {
    // pos is never negative, so truncation is also the linear form's floor.
    const uint32_t whole = static_cast<uint32_t>(pos);
    const double f = pos - static_cast<double>(whole);
    planWhole[i] = whole;
    if (interpolation == 0) {
      planValues[i] = f;
    } else {
      double* w = planValues.get() + 4 * (i & ~1u) + (i & 1u);
      w[0] = cubicWeight(static_cast<float>(1.0 + f));
      w[2] = cubicWeight(static_cast<float>(f));
      w[4] = cubicWeight(static_cast<float>(f - 1.0));
      w[6] = cubicWeight(static_cast<float>(f - 2.0));
    }
    pos += step;
  }
  planOutputs = outputs;
}

uint32_t RateConverter::convert(const float* in, float* out, uint32_t frames) {
  if (!allocated) return 0;
  frames = std::min(frames, capacity);
  if (quality == kQualityBandLimited) return band.processChannel(0, in, frames, out, maxDst);
  if (quality == kQualityStreaming) return convertStreaming(in, out, frames);
  const uint32_t total = scaleCount(frames, srcRate, dstRate);

  if (direction == 0) {
    copyBytes(in, out, frames * 4u);
    return total;
  }
  if (direction < 0) {
    const float* src = in;
    if (antiAlias) {
      filter.run(in, scratch, frames);
      src = scratch;
    }
    interpolate(src, out, frames, total);
    return total;
  }
  interpolate(in, out, frames, total);
  if (antiAlias) filter.run(out, out, total);
  return total;
}

uint32_t RateConverter::convertPair(RateConverter& right, const float* inL, const float* inR,
                                   float* outL, float* outR, uint32_t frames) {
  if (allocated && right.allocated && quality == kQualityBandLimited &&
      right.quality == kQualityBandLimited) {
    frames = std::min(frames, capacity);
    return band.processTwins(right.band, inL, inR, frames, outL, outR, maxDst);
  }
  // Only twins share the filter pass; anything else converts channel by
  // channel.
  if (!allocated || !right.allocated || !antiAlias || !right.antiAlias || direction == 0 ||
      direction != right.direction || srcRate != right.srcRate || dstRate != right.dstRate ||
      capacity != right.capacity || quality != right.quality ||
      interpolation != right.interpolation) {
    const uint32_t n = convert(inL, outL, frames);
    right.convert(inR, outR, frames);
    return n;
  }
  frames = std::min(frames, capacity);
  if (quality == kQualityStreaming) {
    uint32_t n = 0;
    if (direction < 0) {
      runCascadePair(filter, right.filter, inL, inR, scratch, right.scratch, frames);
      n = interpolateStreaming(scratch, outL, frames);
      right.interpolateStreaming(right.scratch, outR, frames);
    } else {
      n = interpolateStreaming(inL, outL, frames);
      right.interpolateStreaming(inR, outR, frames);
      runCascadePair(filter, right.filter, outL, outR, outL, outR, n);
    }
    return n;
  }
  const uint32_t total = scaleCount(frames, srcRate, dstRate);
  if (direction < 0) {
    runCascadePair(filter, right.filter, inL, inR, scratch, right.scratch, frames);
    interpolate(scratch, outL, frames, total);
    right.interpolate(right.scratch, outR, frames, total);
  } else {
    interpolate(inL, outL, frames, total);
    right.interpolate(inR, outR, frames, total);
    runCascadePair(filter, right.filter, outL, outR, outL, outR, total);
  }
  return total;
}

void RateConverter::interpolate(const float* src, float* out, uint32_t frames, uint32_t total) {
  const double step = dstRate != 0 ? static_cast<double>(srcRate) / dstRate : 0.0;
  const uint32_t chunkDst = scaleCount(kChunkFrames, srcRate, dstRate);
  uint32_t remaining = total;
  while (frames > 0) {
    const uint32_t chunk = std::min(frames, kChunkFrames);
    // The last chunk takes whatever the per-chunk truncations left over, so
    // the frames written always add up to the count returned.
    const uint32_t count = frames <= kChunkFrames ? remaining : std::min(remaining, chunkDst);
    const uint32_t written = interpolation == 0 ? linearChunk(src, chunk, out, count, step)
                                                : cubicChunk(src, chunk, out, count, step);
    src += chunk;
    out += written;
    remaining -= written;
    frames -= chunk;
  }
}

uint32_t RateConverter::linearChunk(const float* x, uint32_t chunk, float* out, uint32_t count,
                                    double step) {
  if (count == 0) return 0;
  if (count <= planOutputs) {
    linearPlanned(x, chunk, out, count);
    return count;
  }
  // Both interpolation points stay inside the chunk; a one-frame chunk uses
  // its frame for both.
  const uint32_t lastLeft = chunk >= 2 ? chunk - 2 : 0;
  const uint32_t lastRight = chunk - 1;
  double pos = 0.0;
  for (uint32_t i = 0; i + 1 < count; ++i) {
    // pos is never negative and stays below the chunk length, so its floor
    // is the truncation, which needs no rounding-mode work.
    const uint32_t whole = static_cast<uint32_t>(pos);
    const uint32_t j = std::min(whole, lastLeft);
    const double x0 = x[j];
    const double x1 = x[std::min(j + 1, lastRight)];
    out[i] = static_cast<float>((pos - static_cast<double>(whole)) * (x1 - x0) + x0);
    pos += step;
  }
  out[count - 1] = x[chunk - 1];
  return count;
}

namespace {

// The kernel's two pieces. Between them the weights of a fraction f in
// [0, 1) are fixed: |1 + f| lies in [1, 2], |f| and |f - 1| in [0, 1] and
// |f - 2| in [1, 2], even after the rounding to single precision, and at the
// shared ends 1 and 2 both pieces and the zero piece give +0. So every
// output can use the two polynomials without cubicWeight's tests.
#if DSPFX_SIMD_SSE2
inline __m128d innerPiece(__m128d x) {
  const __m128d sq = _mm_mul_pd(_mm_mul_pd(_mm_sub_pd(_mm_set1_pd(2.0), x), x), x);
  return _mm_sub_pd(_mm_set1_pd(1.0), sq);
}

inline __m128d outerPiece(__m128d x) {
  const __m128d t = _mm_mul_pd(_mm_sub_pd(_mm_set1_pd(5.0), x), x);
  return _mm_sub_pd(_mm_set1_pd(4.0), _mm_mul_pd(_mm_sub_pd(_mm_set1_pd(8.0), t), x));
}

// |t| of t rounded to single precision, back in double.
inline __m128d roundedDistance(__m128d t) {
  const __m128d sign = _mm_set1_pd(-0.0);
  return _mm_andnot_pd(sign, _mm_cvtps_pd(_mm_cvtpd_ps(t)));
}

// Samples h[j - 1] .. h[j + 2] of two outputs as four pairs of doubles.
inline void tapPairs(const float* a, const float* b, __m128d taps[4]) {
  const __m128 va = _mm_loadu_ps(a);
  const __m128 vb = _mm_loadu_ps(b);
  const __m128 lo = _mm_unpacklo_ps(va, vb);
  const __m128 hi = _mm_unpackhi_ps(va, vb);
  taps[0] = _mm_cvtps_pd(lo);
  taps[1] = _mm_cvtps_pd(_mm_movehl_ps(lo, lo));
  taps[2] = _mm_cvtps_pd(hi);
  taps[3] = _mm_cvtps_pd(_mm_movehl_ps(hi, hi));
}
#endif

}  // namespace

uint32_t RateConverter::cubicChunk(const float* x, uint32_t chunk, float* out, uint32_t count,
                                   double step) {
  // history[k] holds source position k - 3: three samples carried from the
  // previous chunk (or call), then this chunk.
  float* h = history;
  for (uint32_t k = 0; k < 3; ++k) h[k] = h[lastChunk + k];
  lastChunk = chunk;
  std::copy(x, x + chunk, h + 3);
  if (count == 0) return 0;

  // The four taps h[j - 1] .. h[j + 2] stay inside the history even for a
  // one-frame chunk.
  if (count <= planOutputs) {
    cubicPlanned(h, chunk, out, count);
    return count;
  }
  const uint32_t lastCentre = std::max(chunk - 1, 1u);
  double pos = 1.0;
  uint32_t i = 0;
#if DSPFX_SIMD_SSE2
  // Two outputs at a time, each with exactly the operations of the loop
  // below; only the positions are still summed one after the other.
  for (; i + 2 < count; i += 2) {
    const double posB = pos + step;
    const uint32_t wholeA = static_cast<uint32_t>(pos);
    const uint32_t wholeB = static_cast<uint32_t>(posB);
    const __m128d f = _mm_sub_pd(_mm_set_pd(posB, pos),
                                 _mm_set_pd(static_cast<double>(wholeB), static_cast<double>(wholeA)));
    const __m128d w0 = outerPiece(roundedDistance(_mm_add_pd(_mm_set1_pd(1.0), f)));
    const __m128d w1 = innerPiece(roundedDistance(f));
    const __m128d w2 = innerPiece(roundedDistance(_mm_sub_pd(f, _mm_set1_pd(1.0))));
    const __m128d w3 = outerPiece(roundedDistance(_mm_sub_pd(f, _mm_set1_pd(2.0))));
    __m128d taps[4];
    tapPairs(h + std::min(wholeA, lastCentre) - 1, h + std::min(wholeB, lastCentre) - 1, taps);
    __m128d sum = _mm_add_pd(_mm_mul_pd(taps[0], w0), _mm_mul_pd(taps[1], w1));
    sum = _mm_add_pd(sum, _mm_mul_pd(taps[2], w2));
    sum = _mm_add_pd(sum, _mm_mul_pd(taps[3], w3));
    _mm_storel_pi(reinterpret_cast<__m64*>(out + i), _mm_cvtpd_ps(sum));
    pos = posB + step;
  }
#endif
  for (; i + 1 < count; ++i) {
    const double whole = std::trunc(pos);
    const uint32_t j = std::min(static_cast<uint32_t>(whole), lastCentre);
    const double f = pos - whole;
    const double sum = h[j - 1] * cubicWeight(static_cast<float>(1.0 + f)) +
                       h[j] * cubicWeight(static_cast<float>(f)) +
                       h[j + 1] * cubicWeight(static_cast<float>(f - 1.0)) +
                       h[j + 2] * cubicWeight(static_cast<float>(f - 2.0));
    out[i] = static_cast<float>(sum);
    pos += step;
  }
  out[count - 1] = h[chunk];
  return count;
}

void RateConverter::linearPlanned(const float* x, uint32_t chunk, float* out, uint32_t count) const {
  const uint32_t lastLeft = chunk >= 2 ? chunk - 2 : 0;
  const uint32_t lastRight = chunk - 1;
  const uint32_t* whole = planWhole.get();
  const double* fraction = planValues.get();
  uint32_t i = 0;
#if DSPFX_SIMD_SSE2
  // With two frames or more the right point is always the one after the
  // left, so both come in one load.
  if (chunk >= 2) {
    for (; i + 2 < count; i += 2) {
      const float* a = x + std::min(whole[i], lastLeft);
      const float* b = x + std::min(whole[i + 1], lastLeft);
      const __m128d pa = _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a))));
      const __m128d pb = _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(b))));
      const __m128d x0 = _mm_unpacklo_pd(pa, pb);
      const __m128d x1 = _mm_unpackhi_pd(pa, pb);
      const __m128d y = _mm_add_pd(_mm_mul_pd(_mm_load_pd(fraction + i), _mm_sub_pd(x1, x0)), x0);
      _mm_storel_pi(reinterpret_cast<__m64*>(out + i), _mm_cvtpd_ps(y));
    }
  }
#endif
  for (; i + 1 < count; ++i) {
    const uint32_t j = std::min(whole[i], lastLeft);
    const double x0 = x[j];
    const double x1 = x[std::min(j + 1, lastRight)];
    out[i] = static_cast<float>(fraction[i] * (x1 - x0) + x0);
  }
  out[count - 1] = x[chunk - 1];
}

void RateConverter::cubicPlanned(const float* h, uint32_t chunk, float* out, uint32_t count) const {
  const uint32_t lastCentre = std::max(chunk - 1, 1u);
  const uint32_t* whole = planWhole.get();
  const double* weights = planValues.get();
  uint32_t i = 0;
#if DSPFX_SIMD_SSE2
  for (; i + 2 < count; i += 2) {
    const double* w = weights + 4 * i;
    __m128d taps[4];
    tapPairs(h + std::min(whole[i], lastCentre) - 1, h + std::min(whole[i + 1], lastCentre) - 1, taps);
    __m128d sum = _mm_add_pd(_mm_mul_pd(taps[0], _mm_load_pd(w)), _mm_mul_pd(taps[1], _mm_load_pd(w + 2)));
    sum = _mm_add_pd(sum, _mm_mul_pd(taps[2], _mm_load_pd(w + 4)));
    sum = _mm_add_pd(sum, _mm_mul_pd(taps[3], _mm_load_pd(w + 6)));
    _mm_storel_pi(reinterpret_cast<__m64*>(out + i), _mm_cvtpd_ps(sum));
  }
#endif
  for (; i + 1 < count; ++i) {
    const uint32_t j = std::min(whole[i], lastCentre);
    const double* w = weights + 4 * (i & ~1u) + (i & 1u);
    const double sum = h[j - 1] * w[0] + h[j] * w[2] + h[j + 1] * w[4] + h[j + 2] * w[6];
    out[i] = static_cast<float>(sum);
  }
  out[count - 1] = h[chunk];
}

uint32_t RateConverter::convertStreaming(const float* in, float* out, uint32_t frames) {
  if (direction == 0) {
    copyBytes(in, out, frames * 4u);
    return frames;
  }
  if (direction < 0) {
    const float* src = in;
    if (antiAlias) {
      filter.run(in, scratch, frames);
      src = scratch;
    }
    return interpolateStreaming(src, out, frames);
  }
  const uint32_t n = interpolateStreaming(in, out, frames);
  if (antiAlias) filter.run(out, out, n);
  return n;
}

uint32_t RateConverter::interpolateStreaming(const float* src, float* out, uint32_t frames) {
  float* h = history;
  std::copy(src, src + frames, h + streamFill);
  streamFill += frames;
  const uint32_t n = interpolation == 0 ? linearStreaming(h, out) : cubicStreaming(h, out);
  // Keep only what later outputs still read (fewer than streamTaps samples).
  const uint32_t used = std::min(streamIndex, streamFill);
  std::copy(h + used, h + streamFill, h);
  streamFill -= used;
  streamIndex -= used;
  return n;
}

// Output k interpolates between h[index] and h[index + 1] at the phase's
// fraction: the source one sample behind the output's exact time.
uint32_t RateConverter::linearStreaming(const float* h, float* out) {
  const double* table = pairTable.get();
  uint64_t phase = streamPhase;
  uint32_t index = streamIndex;
  uint32_t i = 0;
#ifdef DSPFX_CUBIC_SSE2
  if (table) {
    for (;;) {
      uint64_t phaseB = phase;
      uint32_t indexB = index;
      advance(phaseB, indexB);
      if (uint64_t{indexB} + 2 > streamFill) break;
      const __m128d pa = _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(h + index))));
      const __m128d pb = _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(h + indexB))));
      const __m128d x0 = _mm_unpacklo_pd(pa, pb);
      const __m128d x1 = _mm_unpackhi_pd(pa, pb);
      const __m128d y = _mm_add_pd(_mm_mul_pd(_mm_load_pd(table + 2 * phase), _mm_sub_pd(x1, x0)), x0);
      _mm_storel_pi(reinterpret_cast<__m64*>(out + i), _mm_cvtpd_ps(y));
      i += 2;
      phase = phaseB;
      index = indexB;
      advance(phase, index);
    }
  }
#endif
  for (; uint64_t{index} + 2 <= streamFill; ++i) {
    const double f = table ? table[2 * phase] : static_cast<double>(phase) / static_cast<double>(phaseDen);
    const double x0 = h[index];
    const double x1 = h[index + 1];
    out[i] = static_cast<float>(f * (x1 - x0) + x0);
    advance(phase, index);
  }
  streamPhase = phase;
  streamIndex = index;
  return i;
}

// Output k weighs h[index] .. h[index + 3] around the point between
// h[index + 1] and h[index + 2]: two samples behind the output's exact time,
// as in the block-wise form.
uint32_t RateConverter::cubicStreaming(const float* h, float* out) {
  const double* table = pairTable.get();
  uint64_t phase = streamPhase;
  uint32_t index = streamIndex;
  uint32_t i = 0;
#ifdef DSPFX_CUBIC_SSE2
  if (table && uint64_t{index} + 4 <= streamFill) {
    for (;;) {
      uint64_t phaseB = phase;
      uint32_t indexB = index;
      advance(phaseB, indexB);
      if (uint64_t{indexB} + 4 > streamFill) break;
      const double* w = table + 8 * phase;
      __m128d taps[4];
      tapPairs(h + index, h + indexB, taps);
      __m128d sum = _mm_add_pd(_mm_mul_pd(taps[0], _mm_load_pd(w)), _mm_mul_pd(taps[1], _mm_load_pd(w + 2)));
      sum = _mm_add_pd(sum, _mm_mul_pd(taps[2], _mm_load_pd(w + 4)));
      sum = _mm_add_pd(sum, _mm_mul_pd(taps[3], _mm_load_pd(w + 6)));
      _mm_storel_pi(reinterpret_cast<__m64*>(out + i), _mm_cvtpd_ps(sum));
      i += 2;
      phase = phaseB;
      index = indexB;
      advance(phase, index);
    }
  }
#endif
  for (; uint64_t{index} + 4 <= streamFill; ++i) {
    double w0, w1, w2, w3;
    if (table) {
      const double* w = table + 8 * phase;
      w0 = w[0], w1 = w[2], w2 = w[4], w3 = w[6];
    } else {
      const double f = static_cast<double>(phase) / static_cast<double>(phaseDen);
      w0 = cubicWeight(static_cast<float>(1.0 + f));
      w1 = cubicWeight(static_cast<float>(f));
      w2 = cubicWeight(static_cast<float>(f - 1.0));
      w3 = cubicWeight(static_cast<float>(f - 2.0));
    }
    const double sum = h[index] * w0 + h[index + 1] * w1 + h[index + 2] * w2 + h[index + 3] * w3;
    out[i] = static_cast<float>(sum);
    advance(phase, index);
  }
  streamPhase = phase;
  streamIndex = index;
  return i;
}

}  // namespace dspfx

#include "pitchtime/pitch_shift_channel.h"

#include <cmath>

#include "core/simd_kernels.h"
#include "dsp/rate_converter.h"

#if DSPFX_SIMD_SSE2
#include <emmintrin.h>
#endif

namespace dspfx {

void PitchShiftChannel::applyPitch(float pitch) {
  // NaN has no meaningful ratio; it is taken as no shift.
  if (pitch != pitch) pitch = 0.0f;
  pending.bypass = (pitch == 0.0f);
  pitch = std::clamp(pitch, -1200.0f, 1200.0f);
  pendingPitch = pitch;
  pending.ratio = static_cast<float>(std::pow(2.0, pitch * 0.0008333333333333334));
  const float n = static_cast<float>(grainLength);
  pending.startOffset = pitch >= 0.0f ? truncToInt32(n - n * pending.ratio) : 0;
  redesignPending = true;
}

bool PitchShiftChannel::build(uint32_t sampleRate, float pitch, float outLevelDb,
                              float grainTime, float hopTime, uint32_t interpolationMode,
                              bool antiAliasOn) {
  const float rate = static_cast<float>(sampleRate);
  const uint32_t n = grainLengthFor(grainTime, rate);
  const uint32_t h = hopFor(rate, hopTime);
  if (n == 0 || h == 0) {
    allocated = false;
    return false;
  }
  this->sampleRate = rate;
  grainLength = n;
  interpolation = interpolationMode;
  antiAlias = antiAliasOn;
  // Only the first build orders the filter: setOrder would clear a running
  // filter's state.
  if (!filter.allocated) filter.setOrder(kFilterOrder, kLowPass);
  applyPitch(pitch);
  setOutputLevel(outLevelDb);
  hop = h;
  slotCount = n / h + 1;
  // The ring keeps the length it was last allocated with when N shrinks.
  const uint32_t ringFrames = std::max(ringLength, 3 * n + 3);
  if (!prepareStorage(n, ringFrames, slotCount)) return false;
  // Without its table the shifter only runs slower.
  if (n <= kMaxTableFrames) table_.allocate(n + 1);
  table_.valid = false;

  const int32_t lead = pendingPitch >= 0.0f
                           ? truncToInt32(static_cast<float>(n) * pending.ratio)
                           : static_cast<int32_t>(n);
  const float ratio = pending.ratio;
  preRoll(static_cast<int32_t>(h), lead,
          [ratio](PitchGrainSlot& s) { s.readOffset = ratio * static_cast<float>(s.phase); });
  active = pending;
  allocated = true;
  return true;
}

void PitchShiftChannel::setPitch(float pitch) { applyPitch(pitch); }

void PitchShiftChannel::setOutLevel(float outLevelDb) { setOutputLevel(outLevelDb); }

namespace {

// Positions within this of 0 add to a table offset exactly (see PhaseTable).
constexpr int32_t kMaxTablePosition = 1 << 27;

// The weights of the four taps around a position whose fractional part
// is f, the newest tap last.
inline void cubicWeightsAt(double f, double& w0, double& w1, double& w2, double& w3) {
  w0 = cubicWeight(static_cast<float>(1.0 + f));
  w1 = cubicWeight(static_cast<float>(f));
  w2 = cubicWeight(static_cast<float>(1.0 - f));
  w3 = cubicWeight(static_cast<float>(2.0 - f));
}

}  // namespace

double PitchShiftChannel::inputAt(const float* in, uint32_t n, double x) const {
  // The offsets of one frame (linear) and two (cubic) keep the newest frame
  // read at floor(x): a grain never reads ahead of the frame it produces.
  if (interpolation == 0) {
    const double q = x - 1.0;
    const double fi = std::floor(q);
    const auto i = static_cast<int64_t>(fi);
    float a, b;
    if (i >= 0 && i + 1 < static_cast<int64_t>(n)) {
      a = in[i];
      b = in[i + 1];
    } else {
      a = frameAt(in, n, i);
      b = frameAt(in, n, i + 1);
    }
    return a + (q - fi) * (b - a);
  }
  const double q = x - 2.0;
  const double fi = std::floor(q);
  const auto i = static_cast<int64_t>(fi);
  float p0, p1, p2, p3;
  if (i >= 1 && i + 2 < static_cast<int64_t>(n)) {
    p0 = in[i - 1];
    p1 = in[i];
    p2 = in[i + 1];
    p3 = in[i + 2];
  } else {
    p0 = frameAt(in, n, i - 1);
    p1 = frameAt(in, n, i);
    p2 = frameAt(in, n, i + 1);
    p3 = frameAt(in, n, i + 2);
  }
  double w0, w1, w2, w3;
  cubicWeightsAt(q - fi, w0, w1, w2, w3);
  return p0 * w0 + p1 * w1 + p2 * w2 + p3 * w3;
}

bool PitchShiftChannel::PhaseTable::allocate(uint32_t frames) {
  valid = false;
  if (frames <= capacity) return true;
  capacity = 0;
  offset.reset(new (std::nothrow) float[frames]);
  anchor.reset(new (std::nothrow) int32_t[frames]);
  bool ok = offset && anchor;
  for (auto& w : weight) {
    w.reset(new (std::nothrow) double[frames]);
    ok = ok && w;
  }
  if (ok) capacity = frames;
  return ok;
}

void PitchShiftChannel::PhaseTable::fill(float newRatio, uint32_t frames,
                                         uint32_t interpolation) {
  // Offsets below 1/2 other than 0 would not add exactly to a position.
  valid = frames < capacity && newRatio >= 0.5f;
  if (!valid) return;
  ratio = newRatio;
  float r = 0.0f;
  for (uint32_t p = 0; p < frames; ++p) {
    offset[p] = r;
    // The grain's own arithmetic at position 0.
    const double x = static_cast<double>(r);
    if (interpolation == 0) {
      const double q = x - 1.0;
      const double fi = std::floor(q);
      anchor[p] = static_cast<int32_t>(fi);
      weight[0][p] = q - fi;
    } else {
      const double q = x - 2.0;
      const double fi = std::floor(q);
      anchor[p] = static_cast<int32_t>(fi);
      cubicWeightsAt(q - fi, weight[0][p], weight[1][p], weight[2][p], weight[3][p]);
    }
    r += newRatio;
  }
  offset[frames] = r;
}

bool PitchShiftChannel::mixFromTable(const PieceSource& src, const PitchGrainSlot& g,
                                     uint32_t phase, uint32_t frames, double* sum,
                                     double* weight) const {
  const PhaseTable& tab = table_;
  if (!tab.valid || phase + frames > grainLength || g.readOffset != tab.offset[phase] ||
      g.position >= kMaxTablePosition || g.position <= -kMaxTablePosition) {
    return false;
  }
  const int32_t* anchor = tab.anchor.get() + phase;
  const bool cubic = interpolation != 0;
  const int64_t first = static_cast<int64_t>(g.position) + anchor[0] - (cubic ? 1 : 0);
  const int64_t last = static_cast<int64_t>(g.position) + anchor[frames - 1] + (cubic ? 2 : 1);
  const float* taps = src.span(first, last);
  if (!taps) return false;
  const float* w = g.window + phase;
  const int32_t a0 = anchor[0];
  if (cubic) {
    const double* w0 = tab.weight[0].get() + phase;
    const double* w1 = tab.weight[1].get() + phase;
    const double* w2 = tab.weight[2].get() + phase;
    const double* w3 = tab.weight[3].get() + phase;
    uint32_t t = 0;
#if DSPFX_SIMD_SSE2
    // Two frames at a time, each lane doing the scalar loop's double
    // operations in its order: the same bits.
    for (; t + 2 <= frames; t += 2) {
      const __m128 a = _mm_loadu_ps(taps + (anchor[t] - a0));
      const __m128 b = _mm_loadu_ps(taps + (anchor[t + 1] - a0));
      const __m128 low = _mm_unpacklo_ps(a, b);
      const __m128 high = _mm_unpackhi_ps(a, b);
      __m128d v = _mm_mul_pd(_mm_cvtps_pd(low), _mm_loadu_pd(w0 + t));
      v = _mm_add_pd(v, _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(low, low)), _mm_loadu_pd(w1 + t)));
      v = _mm_add_pd(v, _mm_mul_pd(_mm_cvtps_pd(high), _mm_loadu_pd(w2 + t)));
      v = _mm_add_pd(v, _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(high, high)), _mm_loadu_pd(w3 + t)));
      const __m128d wt = _mm_cvtps_pd(
          _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(w + t))));
      _mm_storeu_pd(sum + t, _mm_add_pd(_mm_loadu_pd(sum + t), _mm_mul_pd(v, wt)));
      _mm_storeu_pd(weight + t, _mm_add_pd(_mm_loadu_pd(weight + t), wt));
    }
#endif
    for (; t < frames; ++t) {
      const float* x = taps + (anchor[t] - a0);
      const double v = x[0] * w0[t] + x[1] * w1[t] + x[2] * w2[t] + x[3] * w3[t];
      sum[t] += v * w[t];
      weight[t] += w[t];
    }
  } else {
    const double* fraction = tab.weight[0].get() + phase;
    for (uint32_t t = 0; t < frames; ++t) {
      const float* x = taps + (anchor[t] - a0);
      const double v = x[0] + fraction[t] * (x[1] - x[0]);
      sum[t] += v * w[t];
      weight[t] += w[t];
    }
  }
  return true;
}

void PitchShiftChannel::mixGrains(const PieceSource& src, float* out, uint32_t frames,
                                  const uint32_t* list, uint32_t count) {
  double sum[kMixChunk];
  double weight[kMixChunk];
  const float ratio = active.ratio;
  for (uint32_t done = 0; done < frames; done += kMixChunk) {
    const uint32_t c = std::min(kMixChunk, frames - done);
    std::fill(sum, sum + c, 0.0);
    std::fill(weight, weight + c, 0.0);
    // Grain by grain, each adding to every frame's sums in slot order as a
    // frame-by-frame mix would.
    for (uint32_t k = 0; k < count; ++k) {
      PitchGrainSlot& g = slots[list[k]];
      const uint32_t phase = static_cast<uint32_t>(g.phase) + done;
      if (mixFromTable(src, g, phase, c, sum, weight)) {
        g.readOffset = table_.offset[phase + c];
        continue;
      }
      // Off the table (pre-rolled grains, grains that lived through a change
      // of ratio) or reading across the ring's reach: frame by frame.
      const float* w = g.window + phase;
      float r = g.readOffset;
      for (uint32_t t = 0; t < c; ++t) {
        // Formed in double so the fractional part survives large positions.
        const double v = inputAt(src.in, src.n, g.position + static_cast<double>(r));
        r += ratio;
        sum[t] += v * w[t];
        weight[t] += w[t];
      }
      g.readOffset = r;
    }
    normalise(out + done, sum, weight, c);
  }
}

void PitchShiftChannel::runGrains(const float* in, float* out, uint32_t n) {
  const PitchParams p = active;
  auto place = [&](PitchGrainSlot& g, uint32_t j) {
    g.position = static_cast<int32_t>(j) + p.startOffset;
    g.readOffset = 0.0f;
  };
  if (p.bypass) {
    for (uint32_t j = 0; j < n; ++j) {
      if (PitchGrainSlot* g = scheduleGrain()) place(*g, j);
      ageGrains();
      out[j] = in[j];
    }
  } else {
    if (!table_.valid || table_.ratio != p.ratio) {
      table_.fill(p.ratio, grainLength, interpolation);
    }
    // Read offsets only grow, and a new grain first reads around its start
    // offset: that bounds the history the piece reads (with the taps below
    // the read position to spare).
    int64_t lowest = static_cast<int64_t>(p.startOffset) - 4;
    for (uint32_t i = 0; i < slotCount; ++i) {
      const PitchGrainSlot& g = slots[i];
      if (g.active) {
        lowest = std::min(lowest, static_cast<int64_t>(g.position) +
                                      static_cast<int64_t>(std::floor(g.readOffset)) - 4);
      }
    }
    const PieceSource src = stagePiece(in, n, lowest);
    mixPiece(out, n, place,
             [&](float* runOut, uint32_t frames, const uint32_t* list, uint32_t count) {
               mixGrains(src, runOut, frames, list, count);
             });
  }
  finishPiece(in, n);
}

void PitchShiftChannel::processPiece(const float* in, float* out, uint32_t n) {
  // The filter follows the pending pitch, one piece ahead of the grains.
  if (pending.bypass || !antiAlias) {
    runGrains(in, out, n);
  } else if (pending.ratio > 1.0f) {
    if (redesignPending) {
      filter.designChebyshev(sampleRate, static_cast<float>(sampleRate * (0.5 / pending.ratio)),
                             1.0f);
      redesignPending = false;
    }
    filter.run(in, scratch.data(), n);
    runGrains(scratch.data(), out, n);
  } else {
    if (redesignPending) {
      filter.designChebyshev(sampleRate, static_cast<float>(0.5 * sampleRate * pending.ratio),
                             1.0f);
      redesignPending = false;
    }
    runGrains(in, out, n);
    filter.run(out, out, n);
  }
}

void PitchShiftChannel::adoptPending() { active = pending; }

void PitchShiftChannel::followState(const PitchShiftChannel& other) {
  GrainChannel::followState(other);
  filter.followState(other.filter);
  pendingPitch = other.pendingPitch;
  redesignPending = other.redesignPending;
}

uint32_t PitchShiftChannel::process(const float* in, float* out, uint32_t frames) {
  if (!allocated) return 0;
  return forEachPiece(frames, [&](uint32_t offset, uint32_t n, uint32_t) {
    processPiece(in + offset, out + offset, n);
    return n;
  });
}

}  // namespace dspfx

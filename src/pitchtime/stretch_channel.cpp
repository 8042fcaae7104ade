#include "pitchtime/stretch_channel.h"

#include <cmath>

namespace dspfx {
namespace {

// The output frames of one piece of n input frames under p.
uint32_t pieceOutputFrames(uint32_t n, const StretchParams& p) {
  if (p.bypass) return n;
  return truncToUint32(static_cast<float>(n) * p.ratio);
}

}  // namespace

void StretchChannel::setScale(float scale) {
  // NaN has no meaningful ratio; it is taken as no change of tempo.
  if (scale != scale) scale = 0.0f;
  pending.bypass = (scale == 0.0f);
  scale = std::clamp(scale, -2000.0f, 3000.0f);
  pending.ratio = static_cast<float>(std::pow(2.0, -scale * 0.001));
  pending.inverseRatio = static_cast<float>(1.0 / pending.ratio);
  if (pending.ratio < 1.0f) {
    pending.historyLength = truncToUint32(static_cast<float>(grainLength) * pending.inverseRatio);
    pending.startOffset = 0;
  } else {
    // Lengthening starts every grain one grain length in the past, so no
    // grain reads input that has not arrived yet.
    pending.historyLength = grainLength;
    pending.startOffset = grainLength;
  }
}

uint32_t StretchChannel::build(uint32_t capacityFrames, uint32_t sampleRate, float scale,
                               float outLevelDb, float grainTime, float hopTime) {
  const float rate = static_cast<float>(sampleRate);
  const uint32_t n = grainLengthFor(grainTime, rate);
  const uint32_t h = hopFor(rate, hopTime);
  if (n == 0 || h == 0) {
    allocated = false;
    return 0;
  }
  this->sampleRate = rate;
  pieceFrames = capacityFrames;
  grainLength = n;
  setScale(scale);
  hop = h;
  slotCount = n / h + 1;
  setOutputLevel(outLevelDb);
  // Eight grains of history whatever the ratio: the ratio never falls below
  // 1/8, and keeping the whole ring current lets the ratio change freely.
  if (!prepareStorage(n, 8 * n, slotCount)) return 0;

  const uint32_t lead =
      pending.ratio >= 1.0f ? n : truncToUint32(static_cast<float>(n) * pending.inverseRatio);
  const int32_t step = truncToInt32(static_cast<float>(h) * pending.inverseRatio);
  preRoll(step, static_cast<int32_t>(lead), [](GrainSlot&) {});
  active = pending;
  allocated = true;
  return truncToUint32(static_cast<float>(capacityFrames) * pending.ratio);
}

void StretchChannel::mixGrains(const PieceSource& src, float* out, uint32_t frames,
                               const uint32_t* list, uint32_t count) {
  float sum[kMixChunk];
  float weight[kMixChunk];
  for (uint32_t done = 0; done < frames; done += kMixChunk) {
    const uint32_t c = std::min(kMixChunk, frames - done);
    std::fill(sum, sum + c, 0.0f);
    std::fill(weight, weight + c, 0.0f);
    // Grain by grain, each adding to every frame's sums in slot order as a
    // frame-by-frame mix would.
    for (uint32_t k = 0; k < count; ++k) {
      const GrainSlot& g = slots[list[k]];
      const int32_t phase = g.phase + static_cast<int32_t>(done);
      const float* w = g.window + phase;
      const int64_t first = static_cast<int64_t>(g.position) + phase;
      if (const float* v = src.span(first, first + c - 1)) {
        for (uint32_t t = 0; t < c; ++t) {
          sum[t] += v[t] * w[t];
          weight[t] += w[t];
        }
      } else {
        for (uint32_t t = 0; t < c; ++t) {
          sum[t] += frameAt(src.in, src.n, first + t) * w[t];
          weight[t] += w[t];
        }
      }
    }
    normalise(out + done, sum, weight, c);
  }
}

uint32_t StretchChannel::processPiece(const float* in, float* out, uint32_t n) {
  pieceFrames = n;
  const StretchParams p = active;
  const uint32_t m = pieceOutputFrames(n, p);
  // A grain due at output frame j reads from the input frame that output
  // frame maps to, taken startOffset frames early for ratios of 1 and above.
  auto place = [&](GrainSlot& g, uint32_t j) {
    g.position = truncToInt32(static_cast<float>(j + p.startOffset) * p.inverseRatio) -
                 static_cast<int32_t>(p.startOffset);
  };
  if (p.bypass) {
    for (uint32_t j = 0; j < n; ++j) {
      if (GrainSlot* g = scheduleGrain()) place(*g, j);
      ageGrains();
      out[j] = in[j];
    }
  } else if (m > 0) {
    // Grains only move forward, and a new one reads first from where the
    // first output frame maps to: that bounds the history the piece reads.
    int64_t lowest = static_cast<int64_t>(truncToInt32(static_cast<float>(p.startOffset) *
                                                       p.inverseRatio)) -
                     static_cast<int64_t>(p.startOffset);
    for (uint32_t i = 0; i < slotCount; ++i) {
      if (slots[i].active) {
        lowest = std::min(lowest, static_cast<int64_t>(slots[i].position) + slots[i].phase);
      }
    }
    const PieceSource src = stagePiece(in, n, lowest);
    mixPiece(out, m, place,
             [&](float* runOut, uint32_t frames, const uint32_t* list, uint32_t count) {
               mixGrains(src, runOut, frames, list, count);
             });
  }
  finishPiece(in, n);
  return m;
}

uint32_t StretchChannel::process(const float* in, float* out, uint32_t frames) {
  if (!allocated) return 0;
  return forEachPiece(frames, [&](uint32_t offset, uint32_t n, uint32_t produced) {
    return processPiece(in + offset, out + produced, n);
  });
}

uint32_t StretchChannel::blockOutputFrames(uint32_t frames) const {
  StretchParams p = active;
  return forEachPiece(frames, [&](uint32_t, uint32_t n, uint32_t) {
    const uint32_t m = pieceOutputFrames(n, p);
    p = pending;
    return m;
  });
}

}  // namespace dspfx

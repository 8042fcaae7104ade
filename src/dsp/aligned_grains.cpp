#include "dsp/aligned_grains.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "core/fastmem_heap.h"
#include "core/simd_kernels.h"

#if DSPFX_SIMD_SSE2
#include <emmintrin.h>
#endif

namespace dspfx {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Frames kept beyond the lengths themselves: the callers' rounding of how
// much input a pull may assume (a transposer holds back a few frames).
constexpr uint32_t kLeadMargin = 16;

// An onset is a frame whose square exceeds this many times the running mean
// square (17 dB): far above the crest of tones, noise and voiced speech.
constexpr double kOnsetRatio = 50.0;
// ... and this absolute square (-50 dBFS on the sum of two channels).
constexpr double kOnsetFloor = 4e-5;
// Time constant of the running mean, seconds.
constexpr double kOnsetTime = 0.02;

// Step of the coarse seek, in offsets.
constexpr uint32_t kCoarse = 4;
// Peaks of the coarse seek refined offset by offset.
constexpr uint32_t kPeaks = 12;

// Dot product in eight independent partial sums, added up in a fixed
// order: the lanes do not wait on one chain of additions, and the SSE2 form
// (two registers of four lanes) gives the same bits as the portable one.
inline float dot(const float* a, const float* b, uint32_t n) {
  float lane[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  uint32_t i = 0;
#if DSPFX_SIMD_SSE2
  __m128 low = _mm_setzero_ps();
  __m128 high = _mm_setzero_ps();
  for (; i + 8 <= n; i += 8) {
    low = _mm_add_ps(low, _mm_mul_ps(_mm_loadu_ps(a + i), _mm_loadu_ps(b + i)));
    high = _mm_add_ps(high, _mm_mul_ps(_mm_loadu_ps(a + i + 4), _mm_loadu_ps(b + i + 4)));
  }
  _mm_storeu_ps(lane, low);
  _mm_storeu_ps(lane + 4, high);
#else
  for (; i + 8 <= n; i += 8) {
    for (uint32_t l = 0; l < 8; ++l) lane[l] += a[i + l] * b[i + l];
  }
#endif
  for (; i < n; ++i) lane[0] += a[i] * b[i];
  return ((lane[0] + lane[1]) + (lane[2] + lane[3])) + ((lane[4] + lane[5]) + (lane[6] + lane[7]));
}

}  // namespace

uint32_t alignedFrames(float seconds, float sampleRate) {
  const double frames = static_cast<double>(seconds) * static_cast<double>(sampleRate);
  if (!(frames >= 1.0)) return 1;
  if (frames >= 16777216.0) return 16777216u;
  return static_cast<uint32_t>(frames);
}

AlignedGrainLengths defaultAlignedLengths(float sampleRate, double ratio) {
  // Slowing down repeats input at every splice and speeding up skips it;
  // longer grains splice less often, at the cost of smearing attacks, so
  // the grain grows gently with the amount of change either way.
  const double change = std::fabs(std::log2(ratio > 0.0 ? ratio : 1.0));
  const double sequence = 0.050 + 0.020 * std::min(change, 2.0);
  AlignedGrainLengths l;
  l.sequence = alignedFrames(static_cast<float>(sequence), sampleRate);
  // Wider than the period of a 50 Hz tone, so a low note can always be
  // matched a whole period away.
  l.seek = alignedFrames(0.020f, sampleRate);
  l.overlap = alignedFrames(0.010f, sampleRate);
  return l;
}

AlignedGrains::~AlignedGrains() { release(); }

void AlignedGrains::release() {
  for (float*& p : input_) freeFloats(p);
  for (float*& p : grain_) freeFloats(p);
  freeFloats(sum_);
  freeFloats(onset_);
  freeFloats(fade_);
  delete[] energy_;
  energy_ = nullptr;
  delete[] blocked_;
  blocked_ = nullptr;
  capacity_ = 0;
  allocated = false;
}

bool AlignedGrains::prepare(uint32_t channels, const AlignedGrainLengths& limit,
                            uint32_t maxPush, double minRatio, float sampleRate) {
  release();
  if (limit.sequence == 0 || limit.seek == 0 || limit.overlap == 0 ||
      limit.overlap >= limit.sequence || !(minRatio > 0.0)) {
    return false;
  }
  channels_ = channels == 2 ? 2u : 1u;
  limit_ = limit;
  lengths_ = limit;
  minRatio_ = minRatio;
  ratio_ = 1.0;
  // A splice moved past an onset may start up to a grain beyond the seek
  // window, so one more grain of input is kept waiting.
  lead_ = limit.seek / 2 + limit.seek % 2 + 2 * limit.sequence + limit.overlap + kLeadMargin;
  // What a grain may still need lies at most a seek window and one grain's
  // worth of input behind the nominal position; a lazily run grain leaves
  // the nominal position up to another grain behind the newest input.
  const double grainInput = std::ceil(limit.sequence / minRatio);
  const double span = 3.0 * limit.seek + 2.0 * grainInput + lead_ + maxPush;
  const double total = 2.0 * span + maxPush + 64.0;
  if (total >= 268435456.0) return false;
  capacity_ = static_cast<uint32_t>(total);
  for (uint32_t c = 0; c < channels_; ++c) {
    input_[c] = allocFloats(capacity_);
    grain_[c] = allocFloats(limit.sequence);
  }
  sum_ = allocFloats(capacity_);
  onset_ = allocFloats(capacity_);
  fade_ = allocFloats(limit.overlap);
  energy_ = new (std::nothrow) double[limit.seek];
  blocked_ = new (std::nothrow) uint8_t[limit.seek];
  levelWeight_ = 1.0 / std::max(1.0, kOnsetTime * sampleRate);
  bool ok = sum_ && onset_ && fade_ && energy_ && blocked_;
  for (uint32_t c = 0; c < channels_; ++c) ok = ok && input_[c] && grain_[c];
  if (!ok) {
    release();
    return false;
  }
  allocated = true;
  reset();
  return true;
}

void AlignedGrains::reset() {
  if (!allocated) return;
  // Zeros reaching back half a seek window behind the first nominal
  // position, and the lead in front of it.
  const uint32_t zeros = limit_.seek / 2 + lead_;
  for (uint32_t c = 0; c < channels_; ++c) std::fill(input_[c], input_[c] + zeros, 0.0f);
  std::fill(sum_, sum_ + zeros, 0.0f);
  std::fill(onset_, onset_ + zeros, 0.0f);
  level_ = 0.0;
  base_ = 0;
  end_ = zeros;
  nominal_ = limit_.seek / 2;
  continuation_ = static_cast<int64_t>(nominal_);
  grainFill_ = grainRead_ = 0;
  fadeFrames_ = 0;
}

void AlignedGrains::setLengths(const AlignedGrainLengths& l) {
  AlignedGrainLengths c;
  c.sequence = std::clamp<uint32_t>(l.sequence, 2, limit_.sequence);
  c.seek = std::clamp<uint32_t>(l.seek, 1, limit_.seek);
  c.overlap = std::clamp<uint32_t>(l.overlap, 1, std::min(limit_.overlap, c.sequence - 1));
  lengths_ = c;
}

void AlignedGrains::setRatio(double ratio) {
  ratio_ = ratio >= minRatio_ ? ratio : minRatio_;
}

void AlignedGrains::makeRoom(uint32_t frames) {
  if (end_ - base_ + frames <= capacity_) return;
  // Keep what the next grain may read: its seek window and the previous
  // grain's continuation, with a seek window to spare below both for a
  // splice moved back before an onset.
  int64_t keep = std::min<int64_t>(continuation_, static_cast<int64_t>(std::floor(nominal_))) -
                 2 * static_cast<int64_t>(limit_.seek);
  keep = std::max(keep, base_);
  // A stream pushed far ahead of its pulls loses its oldest input; the
  // positions that pointed there move up with it.
  keep = std::max<int64_t>(keep, end_ + frames - capacity_);
  const auto kept = static_cast<size_t>(end_ - keep);
  const auto from = static_cast<size_t>(keep - base_);
  for (uint32_t c = 0; c < channels_; ++c) {
    std::memmove(input_[c], input_[c] + from, kept * sizeof(float));
  }
  std::memmove(sum_, sum_ + from, kept * sizeof(float));
  std::memmove(onset_, onset_ + from, kept * sizeof(float));
  base_ = keep;
  continuation_ = std::max(continuation_, base_);
  nominal_ = std::max(nominal_, static_cast<double>(base_ + limit_.seek / 2));
}

void AlignedGrains::push(const float* left, const float* right, uint32_t frames) {
  if (!allocated || frames == 0) return;
  makeRoom(frames);
  const auto at = static_cast<size_t>(end_ - base_);
  std::copy(left, left + frames, input_[0] + at);
  if (channels_ == 2) {
    std::copy(right, right + frames, input_[1] + at);
    for (uint32_t i = 0; i < frames; ++i) sum_[at + i] = left[i] + right[i];
  } else {
    std::copy(left, left + frames, sum_ + at);
  }
  for (uint32_t i = 0; i < frames; ++i) {
    const double square = static_cast<double>(sum_[at + i]) * sum_[at + i];
    onset_[at + i] = square > kOnsetFloor && square > kOnsetRatio * level_ ? 1.0f : 0.0f;
    level_ += levelWeight_ * (square - level_);
  }
  end_ += frames;
}

bool AlignedGrains::blockOnsetsAhead(int64_t lowest, int64_t highest) {
  const int64_t sequence = lengths_.sequence;
  const int64_t overlap = lengths_.overlap;
  const auto count = static_cast<uint32_t>(highest - lowest + 1);
  // Onsets in [p + sequence, p + sequence + overlap), slid along p.
  const float* on = onset_ + (lowest + sequence - base_);
  uint32_t inside = 0;
  for (int64_t t = 0; t < overlap; ++t) inside += on[t] != 0.0f;
  bool any = false;
  for (uint32_t k = 0; k < count; ++k) {
    if (k > 0) inside += (on[k + overlap - 1] != 0.0f) - (on[k - 1] != 0.0f);
    blocked_[k] = inside != 0;
    any = any || inside != 0;
  }
  return any;
}

int64_t AlignedGrains::bestOffset(int64_t nominal, int64_t lowest, int64_t highest,
                                  bool skipBlocked) {
  const uint32_t overlap = lengths_.overlap;
  const float* target = sum_ + (continuation_ - base_);
  const float* x = sum_ + (lowest - base_);
  const auto count = static_cast<uint32_t>(highest - lowest + 1);
  // Energies of every candidate window, slid one frame at a time.
  double e = 0.0;
  for (uint32_t t = 0; t < overlap; ++t) e += static_cast<double>(x[t]) * x[t];
  energy_[0] = e;
  for (uint32_t k = 1; k < count; ++k) {
    const double in = x[k + overlap - 1];
    const double out = x[k - 1];
    e += in * in - out * out;
    energy_[k] = e;
  }
  // A floor far below any audible signal keeps silence from dividing by
  // zero and leaves silent candidates at a score of 0.
  const double floor = 1e-12 * overlap;
  double bestScore = -2.0;
  int64_t best = -1;
  int64_t bestDistance = INT64_MAX;
  auto score = [&](uint32_t k) {
    if (skipBlocked && blocked_[k]) return -2.0;
    const double corr = dot(target, x + k, overlap);
    return corr / std::sqrt(std::max(energy_[k], 0.0) + floor);
  };
  auto consider = [&](uint32_t k, double score) {
    if (skipBlocked && blocked_[k]) return;
    const int64_t p = lowest + k;
    const int64_t distance = p > nominal ? p - nominal : nominal - p;
    // Equal scores (silence, exact repeats) go to the nominal position.
    if (score > bestScore || (score == bestScore && distance < bestDistance)) {
      bestScore = score;
      best = p;
      bestDistance = distance;
    }
  };
  // Every kCoarse-th offset first, then every offset next to the best
  // peaks of that grid. The correlation of what lies below an eighth of the
  // sample rate (where the energy of music and speech is) is smooth on that
  // grid. A tone repeats its peak once a period and which of those is the
  // exact best depends on where the samples fall, so several are refined.
  uint32_t peaks[kPeaks];
  double peakScores[kPeaks];
  uint32_t found = 0;
  double previous = -2.0;
  double current = -2.0;
  for (uint32_t k = 0;; k += kCoarse) {
    const double next = k < count ? score(k) : -2.0;
    // current (at k - kCoarse) is a peak of the grid: keep the best few.
    if (k >= kCoarse && current >= previous && current > next) {
      uint32_t at = found < kPeaks ? found++ : kPeaks;
      while (at > 0 && peakScores[at - 1] < current) {
        if (at < kPeaks) {
          peaks[at] = peaks[at - 1];
          peakScores[at] = peakScores[at - 1];
        }
        --at;
      }
      if (at < kPeaks) {
        peaks[at] = k - kCoarse;
        peakScores[at] = current;
      }
    }
    if (k >= count) break;
    previous = current;
    current = next;
  }
  if (found == 0) {
    // A flat grid (silence): the nominal position.
    peaks[0] = static_cast<uint32_t>(std::clamp<int64_t>(nominal - lowest, 0, count - 1));
    found = 1;
  }
  for (uint32_t i = 0; i < found; ++i) {
    const uint32_t from = peaks[i] >= kCoarse ? peaks[i] - (kCoarse - 1) : 0;
    const uint32_t to = std::min(count - 1, peaks[i] + (kCoarse - 1));
    for (uint32_t k = from; k <= to; ++k) consider(k, score(k));
  }
  // Every refined offset blocked: the first open one nearest the nominal.
  for (uint32_t d = 0; best < 0 && d < count; ++d) {
    for (const int64_t k : {nominal - lowest - d, nominal - lowest + d}) {
      if (best < 0 && k >= 0 && k < count && !(skipBlocked && blocked_[k])) best = lowest + k;
    }
  }
  return best;
}

bool AlignedGrains::avoidOnsets(int64_t& lowest, int64_t& highest, int64_t reach) const {
  const int64_t c = continuation_;
  // Input beyond reach may not have arrived yet on some blocking of the
  // same stream; it bounds every choice so the result does not depend on
  // that.
  const int64_t top = std::min(std::max(highest, c), reach);
  const int64_t overlap = lengths_.overlap;
  // The last onset before the continuation that a splice at lowest would
  // play again, and the first at or after it that a splice up to highest
  // (its cross-fade included) would jump over.
  int64_t before = INT64_MIN;
  for (int64_t k = c - 1; k >= std::max(lowest, base_); --k) {
    if (onset_[k - base_] != 0.0f) {
      before = k;
      break;
    }
  }
  int64_t after = INT64_MAX;
  const int64_t scanEnd = std::min(end_, std::max(top, c) + overlap + 1);
  for (int64_t k = std::max(c, base_); k < scanEnd; ++k) {
    if (onset_[k - base_] != 0.0f) {
      after = k;
      break;
    }
  }
  if (before == INT64_MIN && after == INT64_MAX) return true;
  // An onset inside the fading-out continuation is heard whole only if the
  // new grain is that very continuation.
  if (after < c + overlap) return false;
  // The flags mark where an onset starts; its peak may come a little later
  // (a band-limited click rings up over a few frames), so a splice after
  // an onset keeps a quarter of a cross-fade clear of it.
  const int64_t low = before == INT64_MIN ? INT64_MIN : before + 1 + overlap / 4;
  const int64_t high = after == INT64_MAX ? INT64_MAX : after - overlap;
  if (low > high) return false;
  const int64_t seek = lengths_.seek;
  if (highest < low) {
    lowest = low;
    highest = std::min(high, low + seek - 1);
  } else if (lowest > high) {
    highest = high;
    lowest = std::max(low, high - seek + 1);
  } else {
    lowest = std::max(lowest, low);
    highest = std::min(highest, high);
  }
  lowest = std::max(lowest, base_);
  highest = std::min(highest, top);
  return lowest <= highest;
}

void AlignedGrains::runGrain() {
  const uint32_t sequence = lengths_.sequence;
  const uint32_t overlap = lengths_.overlap;
  const uint32_t seek = lengths_.seek;
  if (fadeFrames_ != overlap) {
    for (uint32_t t = 0; t < overlap; ++t) {
      const double s = std::sin(kPi * (t + 0.5) / (2.0 * overlap));
      fade_[t] = static_cast<float>(s * s);
    }
    fadeFrames_ = overlap;
  }
  // The window must fit the input that has arrived. When it does not (the
  // ratio dropped and the stream has not caught up), the nominal position
  // moves back for good: a little more delay instead of a forced splice.
  const int64_t room = end_ - sequence - overlap;
  int64_t centre = static_cast<int64_t>(std::floor(nominal_));
  int64_t lowest = centre - seek / 2;
  int64_t highest = lowest + seek - 1;
  if (highest > room) {
    const int64_t excess = highest - room;
    nominal_ -= static_cast<double>(excess);
    centre -= excess;
    lowest -= excess;
    highest = room;
  }
  lowest = std::max(lowest, base_);
  int64_t p = lowest;
  if (highest >= lowest) {
    int64_t low = lowest;
    int64_t high = highest;
    // Onsets first shape the window, then the splices whose own
    // continuation would fade one out are skipped, when any other is open.
    const int64_t reach = std::min(room, highest + sequence);
    if (avoidOnsets(low, high, reach)) {
      p = blockOnsetsAhead(low, high) ? bestOffset(centre, low, high, true) : -1;
      if (p < 0) p = bestOffset(centre, low, high, false);
    } else if (continuation_ <= reach) {
      p = continuation_;
    } else {
      p = bestOffset(centre, lowest, highest, false);
    }
  } else {
    p = std::max(base_, std::min(room, centre));
  }

  // A window moved back before an onset, or a nominal position moved back
  // for want of input, can reach below what the store still holds: the
  // splice and the continuation stay inside it.
  p = std::clamp(p, base_, std::max(base_, room));
  continuation_ = std::clamp(continuation_, base_, std::max(base_, end_ - static_cast<int64_t>(overlap)));
  const auto from = static_cast<size_t>(p - base_);
  const auto cont = static_cast<size_t>(continuation_ - base_);
  for (uint32_t c = 0; c < channels_; ++c) {
    const float* in = input_[c];
    float* g = grain_[c];
    for (uint32_t t = 0; t < overlap; ++t) {
      const float a = in[cont + t];
      g[t] = a + fade_[t] * (in[from + t] - a);
    }
    std::copy(in + from + overlap, in + from + sequence, g + overlap);
  }
  grainFill_ = sequence;
  grainRead_ = 0;
  continuation_ = p + sequence;
  nominal_ += sequence / ratio_;
}

void AlignedGrains::pull(float* left, float* right, uint32_t frames) {
  if (!allocated) {
    std::fill(left, left + frames, 0.0f);
    if (channels_ == 2 && right) std::fill(right, right + frames, 0.0f);
    return;
  }
  uint32_t done = 0;
  while (done < frames) {
    if (grainRead_ == grainFill_) runGrain();
    const uint32_t n = std::min(frames - done, grainFill_ - grainRead_);
    std::copy(grain_[0] + grainRead_, grain_[0] + grainRead_ + n, left + done);
    if (channels_ == 2) std::copy(grain_[1] + grainRead_, grain_[1] + grainRead_ + n, right + done);
    grainRead_ += n;
    done += n;
  }
}

}  // namespace dspfx

#pragma once
// The grain machinery shared by the time stretcher and the pitch shifter:
// Gaussian-windowed grains started every hop output frames, pre-rolled so a
// fresh channel sounds as if the stream had been running, mixed as the
// window-weighted average of the active grains, with the recent input kept
// in a reversed ring so grains may reach back across piece boundaries.
//
// What differs between the two families is supplied by them: where a new
// grain starts reading, how long the ring is, how a run of grains turns into
// samples (integer frames for the stretcher, interpolated fractional
// positions for the pitch shifter) and which parameters change between
// pieces (the Params record, held once pending and once active).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>

#include "core/dsp_object.h"
#include "core/fastmem_heap.h"

namespace dspfx {

// Longest run of input one grain pass handles at once; longer blocks are cut.
inline constexpr uint32_t kMaxPieceFrames = 32768;

// Frames a mixing kernel accumulates at once; its sums live on the stack.
inline constexpr uint32_t kMixChunk = 256;

// Frames of the piece staged behind the history: enough for any span of
// kMixChunk frames read at up to twice the input speed, plus the four taps
// of cubic interpolation, so a span that starts in the history always ends
// inside the staged copy.
inline constexpr uint32_t kStageHead = 2 * kMixChunk + 8;

// Grains longer than this are refused: the ring of the stretcher is eight
// grains long and must stay addressable by the 32-bit allocator.
inline constexpr uint32_t kMaxGrainFrames = 1u << 22;

// Conversion toward zero that never invokes undefined behaviour: NaN gives
// 0, values beyond the range saturate.
inline int32_t truncToInt32(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

inline uint32_t truncToUint32(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= 4294967295.0) return UINT32_MAX;
  return static_cast<uint32_t>(v);
}

// trunc(grainTime * rate * 325/212), formed in double; 0 when the grain
// would be shorter than one frame or longer than kMaxGrainFrames.
uint32_t grainLengthFor(float grainTime, float sampleRate);

// trunc(rate * hopTime), formed in single precision like the stored rate;
// 0 when below one frame or beyond the longest grain (the hop only matters
// relative to the grain).
uint32_t hopFor(float sampleRate, float hopTime);

// window[i] = exp(-0.25 x^2) with x = 13 i / n - 6.5: 1.0 in the middle,
// about 2.6e-5 at the edges.
void fillGaussianWindow(float* window, uint32_t n);

// One grain. position is the input frame of the grain's first frame,
// relative to the first frame of the current piece.
struct GrainSlot {
  uint8_t active = 0;
  int32_t position = 0;
  int32_t phase = 0;
  const float* window = nullptr;
  int32_t length = 0;
};

// A grain that replays its input at a speed other than 1: it has advanced
// readOffset input frames after phase output frames.
struct PitchGrainSlot : GrainSlot {
  float readOffset = 0.0f;
};

// The input a piece's grains read, frame k relative to the piece's first
// frame. Frames inside the piece are read where they are; the history the
// ring holds is staged in frame order in front of the piece's first frames,
// so a grain can read across the start of the piece without the ring's
// modular indexing.
struct PieceSource {
  const float* in = nullptr;
  uint32_t n = 0;
  // staged[k - stagedFirst] is frame k for stagedFirst <= k < stagedEnd.
  const float* staged = nullptr;
  int64_t stagedFirst = 0;
  int64_t stagedEnd = 0;

  // The frames first .. last as one array, or null when they are neither
  // all inside the piece nor all staged (the caller then reads frame by
  // frame through frameAt).
  const float* span(int64_t first, int64_t last) const {
    if (first >= 0 && last < static_cast<int64_t>(n)) return in + first;
    if (first >= stagedFirst && last < stagedEnd) return staged + (first - stagedFirst);
    return nullptr;
  }
};

template <class Slot, class Params>
class GrainChannel : public DspObject {
 public:
  GrainChannel() = default;
  ~GrainChannel() override { releaseStorage(); }

  // Takes effect from the next frame mixed; there is no pending copy.
  void setOutputLevel(float outLevelDb) {
    outputGain = static_cast<float>(std::pow(10.0, 0.05 * outLevelDb));
  }

  // Takes over other's grains, hop counter, parameters and history, so the
  // two run in step from here. Both must have been built with the same
  // grain, hop and ring lengths.
  void followState(const GrainChannel& other) {
    hopCounter = other.hopCounter;
    ringPosition = other.ringPosition;
    std::copy(other.historyRing, other.historyRing + ringLength, historyRing);
    for (uint32_t i = 0; i < slotCount; ++i) {
      slots[i] = other.slots[i];
      slots[i].window = window;
    }
    pending = other.pending;
    active = other.active;
  }

  float sampleRate = 0.0f;
  float outputGain = 1.0f;
  uint32_t hop = 0;
  uint32_t grainLength = 0;
  uint32_t slotCount = 0;
  uint32_t hopCounter = 0;
  uint32_t ringPosition = 0;
  // Entries of historyRing in use: the ring invariant holds modulo this.
  uint32_t ringLength = 0;
  float* historyRing = nullptr;
  float* window = nullptr;
  Slot* slots = nullptr;
  Params pending{};
  Params active{};

 protected:
  // Makes room for a grain of n frames, a ring of ringFrames entries and
  // count slots, keeping what is already large enough; clears the ring and
  // draws the window. False (and nothing held) when memory cannot be had.
  bool prepareStorage(uint32_t n, uint32_t ringFrames, uint32_t count) {
    if (ringFrames > ringCapacity_) {
      freeFloats(historyRing);
      freeFloats(staging_);
      ringCapacity_ = 0;
      historyRing = allocFloats(ringFrames);
      staging_ = allocFloats(ringFrames + kStageHead);
      if (!historyRing || !staging_) return failStorage();
      ringCapacity_ = ringFrames;
    }
    if (n > windowCapacity_) {
      freeFloats(window);
      windowCapacity_ = 0;
      window = allocFloats(n);
      if (!window) return failStorage();
      windowCapacity_ = n;
    }
    if (count > slotCapacity_) {
      delete[] slots;
      delete[] mixList_;
      slotCapacity_ = 0;
      slots = new (std::nothrow) Slot[count];
      mixList_ = new (std::nothrow) uint32_t[count];
      if (!slots || !mixList_) return failStorage();
      slotCapacity_ = count;
    }
    ringLength = ringFrames;
    std::fill(historyRing, historyRing + ringFrames, 0.0f);
    fillGaussianWindow(window, n);
    return true;
  }

  // Starts grains 0 .. N/hop - 1 where a running stream would have them:
  // grain s began hop * (s + 1) output frames ago and reads from
  // positionStep * (s + 1) - lead. init(slot) adds what the family's grain
  // carries beyond the common fields.
  template <class Init>
  void preRoll(int32_t positionStep, int32_t lead, Init&& init) {
    const uint32_t k = grainLength / hop;
    for (uint32_t s = 0; s < slotCount; ++s) {
      Slot& slot = slots[s];
      slot = Slot{};
      if (s >= k) continue;
      slot.active = 1;
      slot.position = positionStep * static_cast<int32_t>(s + 1) - lead;
      slot.phase = static_cast<int32_t>(grainLength - hop * (s + 1));
      slot.length = static_cast<int32_t>(grainLength);
      slot.window = window;
      init(slot);
    }
    hopCounter = grainLength - hop * k;
    ringPosition = 0;
  }

  // One tick of the hop counter. When a grain is due, the free slot with the
  // lowest index starts at phase 0 and is returned for the caller to place;
  // with every slot busy the grain is skipped.
  Slot* scheduleGrain() {
    Slot* started = nullptr;
    if (hopCounter == 0) {
      for (uint32_t i = 0; i < slotCount; ++i) {
        if (!slots[i].active) {
          started = &slots[i];
          started->active = 1;
          started->phase = 0;
          started->length = static_cast<int32_t>(grainLength);
          started->window = window;
          break;
        }
      }
    }
    if (++hopCounter >= hop) hopCounter = 0;
    return started;
  }

  // Bypass keeps the grains ageing so they are where they should be when
  // processing resumes.
  void ageGrains() {
    for (uint32_t i = 0; i < slotCount; ++i) {
      Slot& s = slots[i];
      if (s.active && ++s.phase >= s.length) s.active = 0;
    }
  }

  // Grain scheduling and mixing for output frames 0 .. m - 1 of a piece.
  // Frame by frame, a due grain starts (place(slot, j) sets where it reads
  // from) and then every active grain contributes its frame. Between two
  // starts or ends the set of active grains does not change, so the frames
  // are handed out in such runs: mix(out, frames, list, count) adds up the
  // slots list[0 .. count - 1] (ascending, as frame by frame) over the run,
  // starting at each slot's current phase, and advances whatever the family
  // keeps beyond the phase. Output frames no grain covers are 0.
  template <class Place, class Mix>
  void mixPiece(float* out, uint32_t m, Place&& place, Mix&& mix) {
    for (uint32_t j = 0; j < m;) {
      if (Slot* g = scheduleGrain()) place(*g, j);
      // The frame whose tick finds the counter at 0 starts the next grain.
      uint32_t frames = std::min(m - j, hopCounter == 0 ? 1u : hop - hopCounter + 1);
      uint32_t count = 0;
      for (uint32_t i = 0; i < slotCount; ++i) {
        const Slot& s = slots[i];
        if (!s.active) continue;
        mixList_[count++] = i;
        const int64_t left = static_cast<int64_t>(s.length) - s.phase;
        frames = static_cast<uint32_t>(std::clamp<int64_t>(left, 1, frames));
      }
      if (count == 0) {
        std::fill(out + j, out + j + frames, 0.0f);
      } else {
        mix(out + j, frames, static_cast<const uint32_t*>(mixList_), count);
        for (uint32_t k = 0; k < count; ++k) {
          Slot& s = slots[mixList_[k]];
          s.phase += static_cast<int32_t>(frames);
          if (s.phase >= s.length) s.active = 0;
        }
      }
      // The frames after the first tick without starting a grain.
      hopCounter += frames - 1;
      if (hopCounter >= hop) hopCounter = 0;
      j += frames;
    }
  }

  // The output frames of a run from the grains' sums. Dividing by the summed
  // window keeps the level independent of how many grains overlap.
  template <class Acc>
  void normalise(float* out, const Acc* sum, const Acc* weight, uint32_t frames) const {
    const float gain = outputGain;
    for (uint32_t t = 0; t < frames; ++t) {
      out[t] = weight[t] > 0 ? static_cast<float>(sum[t] * (gain / weight[t])) : 0.0f;
    }
  }

  // Stages the history a piece of n frames may read, back to frame lowest
  // (and no further than the ring reaches), with the piece's first frames
  // after it.
  PieceSource stagePiece(const float* in, uint32_t n, int64_t lowest) const {
    const uint32_t back =
        lowest < 0 ? static_cast<uint32_t>(std::min<int64_t>(-lowest, ringLength)) : 0;
    float* dst = staging_;
    uint32_t idx = ringPosition;
    for (uint32_t m = back; m-- > 0;) {
      dst[m] = historyRing[idx];
      if (++idx == ringLength) idx = 0;
    }
    dst += back;
    PieceSource src;
    src.in = in;
    src.n = n;
    src.staged = staging_;
    src.stagedFirst = -static_cast<int64_t>(back);
    const uint32_t head = std::min(n, kStageHead);
    std::copy(in, in + head, dst);
    src.stagedEnd = head;
    return src;
  }

  // Input frame k of the current piece of n frames: the ring before it,
  // the last frame beyond it (a grain may run ahead by rounding or after a
  // ratio change).
  float frameAt(const float* in, uint32_t n, int64_t k) const {
    if (k < 0) {
      const uint64_t back = static_cast<uint64_t>(-k - 1);
      return historyRing[(ringPosition + back) % ringLength];
    }
    if (k < static_cast<int64_t>(n)) return in[k];
    return in[n - 1];
  }

  // End of a piece: the pending parameters take over, grain positions move
  // to the next piece's frame numbers and the piece enters the ring.
  void finishPiece(const float* in, uint32_t n) {
    active = pending;
    for (uint32_t i = 0; i < slotCount; ++i) {
      if (slots[i].active) slots[i].position -= static_cast<int32_t>(n);
    }
    const uint32_t L = ringLength;
    uint32_t count = n;
    if (L > n) {
      ringPosition = (ringPosition + (L - n)) % L;
    } else {
      count = L;
    }
    uint32_t idx = ringPosition;
    for (uint32_t k = 1; k <= count; ++k) {
      historyRing[idx] = in[n - k];
      if (++idx == L) idx = 0;
    }
  }

  void releaseStorage() {
    freeFloats(historyRing);
    freeFloats(staging_);
    freeFloats(window);
    delete[] slots;
    slots = nullptr;
    delete[] mixList_;
    mixList_ = nullptr;
    ringCapacity_ = windowCapacity_ = slotCapacity_ = 0;
    ringLength = 0;
    allocated = false;
  }

 private:
  bool failStorage() {
    releaseStorage();
    return false;
  }

  // The history in frame order and the head of the piece (stagePiece).
  float* staging_ = nullptr;
  // The slots of one run (mixPiece).
  uint32_t* mixList_ = nullptr;
  uint32_t ringCapacity_ = 0;
  uint32_t windowCapacity_ = 0;
  uint32_t slotCapacity_ = 0;
};

// Runs f(offset, frames, producedSoFar) over consecutive pieces of at most
// kMaxPieceFrames; returns the sum of what the pieces produced.
template <class F>
uint32_t forEachPiece(uint32_t frames, F&& f) {
  uint32_t produced = 0;
  for (uint32_t offset = 0; offset < frames;) {
    const uint32_t n = std::min(kMaxPieceFrames, frames - offset);
    produced += f(offset, n, produced);
    offset += n;
  }
  return produced;
}

}  // namespace dspfx

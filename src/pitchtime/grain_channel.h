#pragma once
// The grain machinery shared by the time stretcher and the pitch shifter:
// Gaussian-windowed grains started every hop output frames, pre-rolled so a
// fresh channel sounds as if the stream had been running, mixed as the
// window-weighted average of the active grains, with the recent input kept
// in a reversed ring so grains may reach back across piece boundaries.
//
// What differs between the two families is supplied by them: where a new
// grain starts reading, how long the ring is, how a grain turns its phase
// into a sample (integer frames for the stretcher, interpolated fractional
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

template <class Slot, class Params>
class GrainChannel : public DspObject {
 public:
  GrainChannel() = default;
  ~GrainChannel() override { releaseStorage(); }

  // Takes effect from the next frame mixed; there is no pending copy.
  void setOutputLevel(float outLevelDb) {
    outputGain = static_cast<float>(std::pow(10.0, 0.05 * outLevelDb));
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
      ringCapacity_ = 0;
      historyRing = allocFloats(ringFrames);
      if (!historyRing) return failStorage();
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
      slotCapacity_ = 0;
      slots = new (std::nothrow) Slot[count];
      if (!slots) return failStorage();
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

  // One output frame: sample(slot) gives the grain's input at its current
  // phase. Dividing by the summed window keeps the level independent of how
  // many grains overlap.
  template <class Acc, class Sample>
  float mixFrame(Sample&& sample) {
    Acc sum = 0;
    Acc weight = 0;
    for (uint32_t i = 0; i < slotCount; ++i) {
      Slot& s = slots[i];
      if (!s.active) continue;
      const Acc v = sample(s);
      const float w = s.window[s.phase];
      sum += v * w;
      weight += w;
      if (++s.phase >= s.length) s.active = 0;
    }
    if (weight > 0) return static_cast<float>(sum * (outputGain / weight));
    return 0.0f;
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
    freeFloats(window);
    delete[] slots;
    slots = nullptr;
    ringCapacity_ = windowCapacity_ = slotCapacity_ = 0;
    ringLength = 0;
    allocated = false;
  }

 private:
  bool failStorage() {
    releaseStorage();
    return false;
  }

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

#pragma once
#include <cstdint>

#include "pitchtime/grain_channel.h"

namespace dspfx {

// What a scale change alters; held pending until the piece in progress ends.
struct StretchParams {
  bool bypass = false;
  // Frames of past input the grains may reach back to.
  uint32_t historyLength = 0;
  // Output length over input length.
  float ratio = 1.0f;
  float inverseRatio = 1.0f;
  uint32_t startOffset = 0;
};

// Granular time stretcher for one channel: grains read input at its own
// speed but start at input positions spaced by hop / ratio, so the output
// is longer or shorter than the input at the same pitch.
class StretchChannel : public GrainChannel<GrainSlot, StretchParams> {
 public:
  // Builds (or rebuilds, resetting grains and history) the stretcher.
  // Returns the output capacity trunc(capacityFrames * ratio), or 0 with
  // allocated false when the grain or hop is below one frame or memory
  // cannot be had.
  uint32_t build(uint32_t capacityFrames, uint32_t sampleRate, float scale, float outLevelDb,
                 float grainTime, float hopTime);

  // Scale in thousandths of an octave, clamped to -2000 .. 3000; exactly 0
  // passes the input through. Writes only the pending parameters.
  void setScale(float scale);

  // Stretches frames input frames in pieces; returns the output frames.
  uint32_t process(const float* in, float* out, uint32_t frames);

  // The frames process() will produce for a block of frames input frames:
  // the first piece runs with the active ratio, later ones with the pending.
  uint32_t blockOutputFrames(uint32_t frames) const;

  uint32_t dstSize(uint32_t size) const {
    return truncToUint32(static_cast<float>(size) * pending.ratio);
  }

  uint32_t pieceFrames = 0;

 private:
  uint32_t processPiece(const float* in, float* out, uint32_t n);
  // Adds up the listed grains over one run of output frames.
  void mixGrains(const PieceSource& src, float* out, uint32_t frames, const uint32_t* list,
                 uint32_t count);
};

}  // namespace dspfx

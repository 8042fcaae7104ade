#pragma once
// Time scaling by waveform-similarity overlap-add. Output is written in
// grains of `sequence` frames; each grain copies input starting near the
// position the ratio asks for, at the offset inside a seek window where the
// input best continues what the previous grain was playing (normalised
// cross-correlation over the overlap, on the sum of the channels so that
// both channels splice at the same point and the stereo image stays put).
// The first `overlap` frames of a grain are cross-faded with that
// continuation by complementary raised-cosine halves whose sum is 1, so a
// steady tone keeps its level and, being aligned, its phase.
//
// A sharp onset (a click, a drum hit: a frame far above the recent level)
// is never played twice nor skipped: a splice that would repeat or jump
// over one moves to the nearest position that does not, and the nominal
// position stays where it was, so later grains make up the difference.
//
// The engine is streamed: push input, then pull exactly the output wanted.
// A grain runs only when its first output frame is pulled, and the nominal
// read position starts `lead()` frames behind the input, so any pull
// schedule that keeps output / input near the ratio finds the input it
// needs and the output does not depend on how the stream was cut.
#include <cstdint>

#include "core/dsp_object.h"

namespace dspfx {

struct AlignedGrainLengths {
  uint32_t sequence = 0;  // output frames per grain, overlap included
  uint32_t seek = 0;      // offsets tried, centred on the nominal position
  uint32_t overlap = 0;   // frames cross-faded at each splice
};

// Lengths for a stream at sampleRate scaled by ratio (output / input):
// grains long enough that a splice is rare, a seek window wider than the
// period of any voice or bass note, an overlap of a few periods.
AlignedGrainLengths defaultAlignedLengths(float sampleRate, double ratio);

// Frames for a length in seconds at sampleRate (truncated), at least 1.
uint32_t alignedFrames(float seconds, float sampleRate);

class AlignedGrains : public DspObject {
 public:
  AlignedGrains() = default;
  ~AlignedGrains() override;

  // Room for channels (1 or 2) and grains up to limit (each length at
  // most limit's), pushes of at most maxPush frames and ratios down to
  // minRatio, at sampleRate. False (nothing held) when memory cannot be had
  // or a length is 0 or the overlap is not shorter than the sequence.
  bool prepare(uint32_t channels, const AlignedGrainLengths& limit, uint32_t maxPush,
               double minRatio, float sampleRate);
  // Silence in, nothing out yet: as if a stream of zeros had been running.
  void reset();

  // Lengths from the next grain on; clamped to the prepared limit, the
  // overlap kept below the sequence.
  void setLengths(const AlignedGrainLengths& lengths);
  const AlignedGrainLengths& lengths() const { return lengths_; }
  // Output frames per input frame from the next grain on (clamped to the
  // prepared minimum).
  void setRatio(double ratio);

  // frames <= maxPush; right is ignored (may be null) for one channel.
  void push(const float* left, const float* right, uint32_t frames);
  // Exactly frames output frames, grains run as needed.
  void pull(float* left, float* right, uint32_t frames);

  // Input frames between the newest input and the nominal read position.
  uint32_t lead() const { return lead_; }

 private:
  void runGrain();
  // The best splice in [lowest, highest], skipping the offsets marked in
  // blocked_ when skipBlocked; -1 when every offset was skipped.
  int64_t bestOffset(int64_t nominal, int64_t lowest, int64_t highest, bool skipBlocked);
  // Marks in blocked_ the splices in [lowest, highest] whose own
  // continuation (where the next splice fades out) holds an onset; true
  // when any is marked.
  bool blockOnsetsAhead(int64_t lowest, int64_t highest);
  // Narrows [lowest, highest] to the splices up to reach that neither
  // repeat nor skip an onset; false when only the plain continuation does.
  bool avoidOnsets(int64_t& lowest, int64_t& highest, int64_t reach) const;
  // Makes room for frames more at the end of the input store.
  void makeRoom(uint32_t frames);
  void release();

  uint32_t channels_ = 0;
  AlignedGrainLengths limit_;
  AlignedGrainLengths lengths_;
  uint32_t lead_ = 0;
  uint32_t capacity_ = 0;
  double ratio_ = 1.0;
  double minRatio_ = 1.0;

  // Input store: stream frame base_ + i at index i, end_ the stream frame
  // after the newest. sum_ is left + right (or the one channel).
  float* input_[2] = {nullptr, nullptr};
  float* sum_ = nullptr;
  // 1 at frames that start an onset, else 0; the running mean square the
  // detector compares each frame with.
  float* onset_ = nullptr;
  double level_ = 0.0;
  double levelWeight_ = 0.0;
  int64_t base_ = 0;
  int64_t end_ = 0;
  // Nominal stream position of the next grain, and where the previous
  // grain's natural continuation starts.
  double nominal_ = 0.0;
  int64_t continuation_ = 0;
  uint32_t continuationFrames_ = 0;

  // Output of the last grain not yet pulled.
  float* grain_[2] = {nullptr, nullptr};
  uint32_t grainFill_ = 0;
  uint32_t grainRead_ = 0;

  // Seek scratch: candidate energies; the fade-in curve of the overlap.
  double* energy_ = nullptr;
  uint8_t* blocked_ = nullptr;
  float* fade_ = nullptr;
  uint32_t fadeFrames_ = 0;
};

}  // namespace dspfx

#pragma once
#include <cstdint>

#include "dsp/envelope_follower.h"
#include "core/dsp_object.h"
#include "dspfx/dspfx.h"

namespace dspfx {

// Finds attacks in the envelope of a mono stream and keeps the slices
// between them as a doubly linked list of records (times in seconds). A
// slice opens when the envelope, above the opening level, has risen by at
// least `rise` from the last valley; it closes when the envelope drops
// below the closing level after the minimum length, or is cut at the valley
// before a new attack.
class SliceDetector : public DspObject {
 public:
  SliceDetector() = default;
  // Frees the records, last to first, and the envelope array.
  ~SliceDetector() override;

  // Levels in dB of envelope amplitude, rise in percent of full scale,
  // minSliceTime in seconds (negative or NaN: no minimum). False, leaving
  // the detector unbuilt, when the envelope follower cannot be set up at
  // sampleRate (see EnvelopeFollower::setup), capacityFrames is 0 or memory
  // is short.
  bool build(uint32_t capacityFrames, float sampleRate, float openLevelDb, float closeLevelDb,
             float risePercent, float minSliceTime);

  // Analyses frames samples (at most the capacity; a longer run is refused
  // and changes nothing) and returns the slice count.
  uint32_t run(const float* x, uint32_t frames);

  // Ends an open slice at the current position; returns the slice count.
  uint32_t close();

  // Record number index, the last one when index is beyond it, null when
  // there is none.
  const SliceRecord* slice(uint32_t index) const;

  float sampleRate = 0.0f;
  float framePeriod = 0.0f;
  float openLevel = 0.0f;
  float closeLevel = 0.0f;
  float rise = 0.0f;
  uint32_t minimumLength = 0;
  uint32_t capacity = 0;
  bool open = false;
  float valleyLevel = 1.0f;
  uint32_t valleyPosition = 0;
  bool armed = false;
  float peakLevel = 0.0f;
  uint32_t peakPosition = 0;
  bool seekingValley = true;
  uint32_t sliceStart = 0;
  uint32_t sliceEnd = 0;
  uint32_t position = 0;
  EnvelopeFollower envelopeFollower;
  float* envelope = nullptr;
  SliceRecord* firstSlice = nullptr;
  SliceRecord* lastSlice = nullptr;
  uint32_t sliceCount = 0;

 private:
  void sliceStep(float e, uint32_t p);
  void trackerStep(float e, uint32_t p);
  void append(uint32_t start, uint32_t end);
};

}  // namespace dspfx

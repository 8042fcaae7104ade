#pragma once
// One step of the tool's processing pipeline: interleaved float frames
// (full scale +-1.0) in, its own frames out to the next step.
#include <cstdint>

#include "wav.h"

namespace dspfx::tool {

// What reaches a step: its format and, when the input's length is known,
// how many frames will arrive in all.
struct StreamInfo {
  AudioFormat format;
  uint64_t frames = 0;
  bool lengthKnown = true;
};

class Stage {
 public:
  virtual ~Stage() = default;
  // Any number of frames; the stage passes on what it can.
  virtual void put(const float* in, uint32_t frames) = 0;
  // The input has ended: pass on everything still held, then finish the
  // next stage.
  virtual void finish() = 0;
  void connect(Stage* next) { next_ = next; }

 protected:
  Stage* next_ = nullptr;
};

}  // namespace dspfx::tool

#pragma once
#include <cstdint>
#include <memory>

#include "core/dsp_object.h"

namespace dspfx {

// Schroeder all-pass (g + z^-L) / (1 + g z^-L); with gain 0 a pure delay of
// length samples.
class AllpassDelay : public DspObject {
 public:
  AllpassDelay() = default;

  // Clears the line. A length below 1 makes run a plain copy. False when
  // memory cannot be had (the line then delays nothing).
  bool configure(int32_t length, float gain);
  // in and out may be the same buffer.
  void run(const float* in, float* out, uint32_t n);

  int32_t length = 0;
  std::unique_ptr<float[]> buffer;
  int32_t position = 0;
  float gain = 0.0f;

 private:
  int32_t bufferSize = 0;
};

}  // namespace dspfx

#include "rate/allpass_delay.h"

#include <cstring>
#include <new>

namespace dspfx {

bool AllpassDelay::configure(int32_t newLength, float newGain) {
  gain = newGain;
  position = 0;
  if (newLength < 1) {
    length = 0;
    return true;
  }
  if (!buffer || newLength > bufferSize) {
    buffer.reset(new (std::nothrow) float[static_cast<size_t>(newLength)]);
    if (!buffer) {
      bufferSize = 0;
      length = 0;
      allocated = false;
      return false;
    }
    bufferSize = newLength;
  }
  length = newLength;
  std::memset(buffer.get(), 0, static_cast<size_t>(length) * sizeof(float));
  allocated = true;
  return true;
}

void AllpassDelay::run(const float* in, float* out, uint32_t n) {
  if (length < 1) {
    if (in != out && n != 0) std::memmove(out, in, size_t{n} * sizeof(float));
    return;
  }
  float* const b = buffer.get();
  for (uint32_t i = 0; i < n; ++i) {
    const float x = in[i];
    position = (position + 1) % length;
    const float d = b[position];
    b[position] = x - gain * b[position];
    out[i] = gain * b[position] + d;
  }
}

}  // namespace dspfx

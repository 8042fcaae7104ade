#include "rate/allpass_delay.h"

#include <algorithm>
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
  const float g = gain;
  const uint32_t len = static_cast<uint32_t>(length);
  // The slots run round the line in order, so a stretch up to the end of
  // the line touches each slot once and its samples do not depend on one
  // another.
  uint32_t slot = static_cast<uint32_t>(position);
  uint32_t done = 0;
  while (done < n) {
    slot = slot + 1 == len ? 0 : slot + 1;
    const uint32_t stretch = std::min(n - done, len - slot);
    float* line = b + slot;
    const float* x = in + done;
    float* y = out + done;
    for (uint32_t i = 0; i < stretch; ++i) {
      const float d = line[i];
      const float w = x[i] - g * d;
      line[i] = w;
      y[i] = g * w + d;
    }
    slot += stretch - 1;
    done += stretch;
  }
  position = static_cast<int32_t>(slot);
}

}  // namespace dspfx

#include "core/sample_convert.h"

#include <cstring>

#include "core/processor_flags.h"

namespace dspfx {
namespace {

void pcmStereo(const int16_t* in, float* left, float* right, uint32_t frames) {
  for (uint32_t i = 0; i < frames; ++i) {
    left[i] = static_cast<float>(in[2 * i] * kPcmToFloat);
    right[i] = static_cast<float>(in[2 * i + 1] * kPcmToFloat);
  }
}

void pcmDownmix(const int16_t* in, float* left, uint32_t frames) {
  for (uint32_t i = 0; i < frames; ++i) {
    // Arithmetic shift: the halving rounds toward minus infinity.
    const int32_t sum = int32_t{in[2 * i]} + int32_t{in[2 * i + 1]};
    left[i] = static_cast<float>((sum >> 1) * kPcmToFloat);
  }
}

void pcmMono(const int16_t* in, float* left, uint32_t samples) {
  for (uint32_t i = 0; i < samples; ++i) left[i] = static_cast<float>(in[i] * kPcmToFloat);
}

void toPcmStereo(const float* left, const float* right, int16_t* out, uint32_t frames) {
  for (uint32_t i = 0; i < frames; ++i) {
    out[2 * i] = floatToPcmScalar(left[i]);
    out[2 * i + 1] = floatToPcmScalar(right[i]);
  }
}

void toPcmDuplicate(const float* left, int16_t* out, uint32_t frames) {
  for (uint32_t i = 0; i < frames; ++i) {
    const int16_t v = floatToPcmScalar(left[i]);
    out[2 * i] = v;
    out[2 * i + 1] = v;
  }
}

void toPcmMono(const float* left, int16_t* out, uint32_t samples) {
  for (uint32_t i = 0; i < samples; ++i) out[i] = floatToPcmScalar(left[i]);
}

void encode(const float* in, int16_t* out, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    float x = in[i];
    if (x < -32767.0f) x = -32767.0f;
    if (!(x <= 32767.0f)) x = 32767.0f;  // also catches NaN
    out[i] = static_cast<int16_t>(static_cast<int32_t>(x));
  }
}

void mix(float* y, const float* x, float g, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    y[i] = static_cast<float>(double{y[i]} + double{g} * double{x[i]});
  }
}

void subtract(const float* a, float* b, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    b[i] = static_cast<float>(double{a[i]} - double{b[i]});
  }
}

}  // namespace

const ConvertKernels kScalarKernels = {pcmStereo, pcmDownmix,  pcmMono, toPcmStereo, toPcmDuplicate,
                                       toPcmMono, encode,      mix,     subtract};

int16_t floatToPcmScalar(float x) {
  if (x < -1.0f) x = -1.0f;
  if (!(x <= 1.0f)) x = 1.0f;  // also catches NaN
  // The product is formed in double, so a value that came from PCM may land
  // just below its integer and truncate one step toward zero; the clamped
  // product lies in -32767..32767, so the cast is always defined.
  return static_cast<int16_t>(static_cast<int32_t>(double{x} * kFloatToPcm));
}

const ConvertKernels& activeKernels() {
  if (amd3dnowOn()) return kAmd3dnowKernels;
  if (sseOn()) return kSseKernels;
  return kScalarKernels;
}

uint32_t pcm16ToFloat(const int16_t* in, uint32_t bytes, float* left, float* right,
                      uint32_t channels) {
  const ConvertKernels& k = activeKernels();
  if (channels == 2) {
    const uint32_t frames = bytes / 4;
    if (right) {
      k.pcmStereo(in, left, right, frames);
    } else {
      k.pcmDownmix(in, left, frames);
    }
    return frames;
  }
  const uint32_t samples = bytes / 2;
  k.pcmMono(in, left, samples);
  return samples;
}

uint32_t floatToPcm16(const float* left, const float* right, uint32_t frames, int16_t* out,
                      uint32_t channels) {
  const ConvertKernels& k = activeKernels();
  if (channels == 2) {
    if (right) {
      k.toPcmStereo(left, right, out, frames);
    } else {
      k.toPcmDuplicate(left, out, frames);
    }
    return frames * 4;
  }
  k.toPcmMono(left, out, frames);
  return frames * 2;
}

uint32_t pcmEncode(const float* in, int16_t* out, uint32_t count) {
  activeKernels().pcmEncode(in, out, count);
  return count * 2;
}

uint32_t interleaveFloat(const float* left, const float* right, uint32_t frames, float* out,
                         uint32_t channels) {
  if (channels != 2) {
    copyBytes(left, out, frames * 4);
    return frames;
  }
  for (uint32_t i = 0; i < frames; ++i) {
    out[2 * i] = left[i];
    out[2 * i + 1] = right ? right[i] : left[i];
  }
  return frames;
}

uint32_t deinterleaveFloat(const float* in, uint32_t frames, float* left, float* right,
                           uint32_t channels) {
  if (channels != 2) {
    copyBytes(in, left, frames * 4);
    return frames;
  }
  for (uint32_t i = 0; i < frames; ++i) {
    if (right) {
      left[i] = in[2 * i];
      right[i] = in[2 * i + 1];
    } else {
      left[i] = (in[2 * i] + in[2 * i + 1]) * 0.5f;
    }
  }
  return frames;
}

void copyBytes(const void* src, void* dst, uint32_t bytes) {
  if (bytes == 0) return;
  // The block form and the byte loop give identical bytes; memcpy is both.
  std::memcpy(dst, src, bytes);
}

void mixScaled(float* y, const float* x, float g, uint32_t count) {
  activeKernels().mixScaled(y, x, g, count);
}

void subtractFrom(const float* a, float* b, uint32_t count) {
  activeKernels().subtractFrom(a, b, count);
}

}  // namespace dspfx

#include <cstdint>

#include "core/sample_convert.h"
#include "core/simd_kernels.h"

// The 3DNow! forms: two- or four-element blocks, float-to-PCM truncating
// toward zero with saturation, remainders through the scalar kernels at the
// same offsets. No alignment head.
namespace dspfx {
namespace {

using simd::ToInt;

constexpr uint32_t wholeBlocks(uint32_t count, uint32_t block) { return count / block * block; }

void pcmStereo(const int16_t* in, float* left, float* right, uint32_t frames) {
  const uint32_t n = wholeBlocks(frames, 2);
  simd::pcmStereoRun(in, left, right, n);
  kScalarKernels.pcmStereo(in + 2 * n, left + n, right + n, frames - n);
}

void pcmDownmix(const int16_t* in, float* left, uint32_t frames) {
  const uint32_t n = wholeBlocks(frames, 4);
  simd::pcmDownmixRun(in, left, n);
  kScalarKernels.pcmDownmix(in + 2 * n, left + n, frames - n);
}

void pcmMono(const int16_t* in, float* left, uint32_t samples) {
  const uint32_t n = wholeBlocks(samples, 4);
  simd::pcmMonoRun(in, left, n);
  kScalarKernels.pcmMono(in + n, left + n, samples - n);
}

void toPcmStereo(const float* left, const float* right, int16_t* out, uint32_t frames) {
  const uint32_t n = wholeBlocks(frames, 2);
  simd::toPcmStereoRun(ToInt::kTruncate, left, right, out, n);
  kScalarKernels.toPcmStereo(left + n, right + n, out + 2 * n, frames - n);
}

void toPcmDuplicate(const float* left, int16_t* out, uint32_t frames) {
  const uint32_t n = wholeBlocks(frames, 4);
  simd::toPcmDuplicateRun(ToInt::kTruncate, left, out, n);
  kScalarKernels.toPcmDuplicate(left + n, out + 2 * n, frames - n);
}

void toPcmMono(const float* left, int16_t* out, uint32_t samples) {
  const uint32_t n = wholeBlocks(samples, 4);
  simd::toPcmMonoRun(ToInt::kTruncate, left, out, n);
  kScalarKernels.toPcmMono(left + n, out + n, samples - n);
}

void encode(const float* in, int16_t* out, uint32_t count) {
  const uint32_t n = wholeBlocks(count, 4);
  simd::encodeRun(ToInt::kTruncate, in, out, n);
  kScalarKernels.pcmEncode(in + n, out + n, count - n);
}

void mix(float* y, const float* x, float g, uint32_t count) {
  const uint32_t n = wholeBlocks(count, 4);
  simd::mixRun(y, x, g, n);
  kScalarKernels.mixScaled(y + n, x + n, g, count - n);
}

void subtract(const float* a, float* b, uint32_t count) {
  const uint32_t n = wholeBlocks(count, 4);
  simd::subtractRun(a, b, n);
  kScalarKernels.subtractFrom(a + n, b + n, count - n);
}

}  // namespace

const ConvertKernels kAmd3dnowKernels = {pcmStereo,   pcmDownmix, pcmMono, toPcmStereo,
                                         toPcmDuplicate, toPcmMono, encode, mix, subtract};

}  // namespace dspfx

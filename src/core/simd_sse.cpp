#include <algorithm>
#include <cstdint>

#include "core/sample_convert.h"
#include "core/simd_kernels.h"

// The SSE forms: four-frame or eight-sample blocks, rounding float-to-PCM,
// remainders through the scalar kernels at the same offsets.
namespace dspfx {
namespace {

using simd::ToInt;

constexpr uint32_t wholeBlocks(uint32_t count, uint32_t block) { return count / block * block; }

// Frames before the left array reaches a 16-byte boundary; they take the
// scalar path so the blocks after them start aligned. Computed from the
// address even where the blocks load unaligned, because it decides which
// frames round and which truncate.
uint32_t alignmentHead(const float* left, uint32_t frames) {
  const auto offset = static_cast<uint32_t>(reinterpret_cast<std::uintptr_t>(left) & 15u);
  return std::min((16u - offset) % 16u / 4u, frames);
}

void pcmStereo(const int16_t* in, float* left, float* right, uint32_t frames) {
  const uint32_t n = wholeBlocks(frames, 4);
  simd::pcmStereoRun(in, left, right, n);
  kScalarKernels.pcmStereo(in + 2 * n, left + n, right + n, frames - n);
}

void pcmDownmix(const int16_t* in, float* left, uint32_t frames) {
  const uint32_t n = wholeBlocks(frames, 4);
  simd::pcmDownmixRun(in, left, n);
  kScalarKernels.pcmDownmix(in + 2 * n, left + n, frames - n);
}

void pcmMono(const int16_t* in, float* left, uint32_t samples) {
  const uint32_t n = wholeBlocks(samples, 8);
  simd::pcmMonoRun(in, left, n);
  kScalarKernels.pcmMono(in + n, left + n, samples - n);
}

void toPcmStereo(const float* left, const float* right, int16_t* out, uint32_t frames) {
  const uint32_t head = alignmentHead(left, frames);
  kScalarKernels.toPcmStereo(left, right, out, head);
  const uint32_t n = head + wholeBlocks(frames - head, 4);
  simd::toPcmStereoRun(ToInt::kNearest, left + head, right + head, out + 2 * head, n - head);
  kScalarKernels.toPcmStereo(left + n, right + n, out + 2 * n, frames - n);
}

// There is no SSE block form for writing one array to both channels.
void toPcmDuplicate(const float* left, int16_t* out, uint32_t frames) {
  kScalarKernels.toPcmDuplicate(left, out, frames);
}

void toPcmMono(const float* left, int16_t* out, uint32_t samples) {
  const uint32_t head = alignmentHead(left, samples);
  kScalarKernels.toPcmMono(left, out, head);
  const uint32_t n = head + wholeBlocks(samples - head, 8);
  simd::toPcmMonoRun(ToInt::kNearest, left + head, out + head, n - head);
  kScalarKernels.toPcmMono(left + n, out + n, samples - n);
}

void encode(const float* in, int16_t* out, uint32_t count) {
  const uint32_t n = wholeBlocks(count, 8);
  simd::encodeRun(ToInt::kNearest, in, out, n);
  kScalarKernels.pcmEncode(in + n, out + n, count - n);
}

void mix(float* y, const float* x, float g, uint32_t count) {
  const uint32_t n = wholeBlocks(count, 8);
  simd::mixRun(y, x, g, n);
  kScalarKernels.mixScaled(y + n, x + n, g, count - n);
}

void subtract(const float* a, float* b, uint32_t count) {
  const uint32_t n = wholeBlocks(count, 8);
  simd::subtractRun(a, b, n);
  kScalarKernels.subtractFrom(a + n, b + n, count - n);
}

}  // namespace

const ConvertKernels kSseKernels = {pcmStereo, pcmDownmix, pcmMono, toPcmStereo, toPcmDuplicate,
                                    toPcmMono, encode,     mix,     subtract};

}  // namespace dspfx

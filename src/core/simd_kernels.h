#pragma once
#include <bit>
#include <cstdint>

// Element formulas of the SIMD conversion forms, applied to whole runs.
//
// The SSE and 3DNow! forms differ from the scalar ones in their arithmetic,
// not only in speed, so the same formulas must hold wherever they run: with
// SSE2 intrinsics on x86, and as plain loops elsewhere (or when
// DSPFX_PORTABLE_SIMD asks for them). Both give identical bits. The forms
// themselves (simd_sse.cpp, simd_3dnow.cpp) decide which elements fall into
// their blocks and hand the rest to the scalar kernels.
#include "core/simd_detect.h"

namespace dspfx::simd {

// 1/(32767 * 65536) and 1/65534 rounded to single precision. The first scales
// a sample held in the upper half of a 32-bit integer, the second the 32-bit
// sum of a left and right sample.
inline constexpr float kUpperHalfScale = std::bit_cast<float>(0x30000100u);
inline constexpr float kPairSumScale = std::bit_cast<float>(0x37800100u);

// How a vector form turns a float into a 32-bit integer.
enum class ToInt {
  // Current rounding mode (nearest even unless the host changed it); NaN
  // and anything outside the int32 range become INT32_MIN.
  kNearest,
  // Toward zero, saturating at both ends; NaN becomes INT32_MIN.
  kTruncate,
};

// Every run converts all of its elements with the vector formula; counts
// need not be multiples of any block. No alignment is required of any array.
void pcmStereoRun(const int16_t* in, float* left, float* right, uint32_t frames);
void pcmDownmixRun(const int16_t* in, float* left, uint32_t frames);
void pcmMonoRun(const int16_t* in, float* left, uint32_t samples);
void toPcmStereoRun(ToInt rule, const float* left, const float* right, int16_t* out,
                    uint32_t frames);
void toPcmDuplicateRun(ToInt rule, const float* left, int16_t* out, uint32_t frames);
void toPcmMonoRun(ToInt rule, const float* left, int16_t* out, uint32_t samples);
// PCM-scale input: no multiplication, same rounding and saturation.
void encodeRun(ToInt rule, const float* in, int16_t* out, uint32_t count);
// Single precision throughout, unlike the scalar forms' double.
void mixRun(float* y, const float* x, float g, uint32_t count);
void subtractRun(const float* a, float* b, uint32_t count);

}  // namespace dspfx::simd

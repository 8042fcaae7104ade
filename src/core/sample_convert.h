#pragma once
#include <cstdint>

// Conversions between interleaved 16-bit PCM and planar float, and the small
// vector routines the effects share. Each routine picks its form from the
// processor flags on every call (3DNow! first, then SSE, then scalar); the
// scalar forms define the results.
namespace dspfx {

// Frames written (stereo: bytes / 4) or samples (mono: bytes / 2). A null
// right output with two channels downmixes into left.
uint32_t pcm16ToFloat(const int16_t* in, uint32_t bytes, float* left, float* right,
                      uint32_t channels);
// Bytes written: frames * channels * 2. A null right input with two channels
// writes left to both.
uint32_t floatToPcm16(const float* left, const float* right, uint32_t frames, int16_t* out,
                      uint32_t channels);
// PCM-scale floats to 16-bit; bytes written.
uint32_t pcmEncode(const float* in, int16_t* out, uint32_t count);
uint32_t interleaveFloat(const float* left, const float* right, uint32_t frames, float* out,
                         uint32_t channels);
uint32_t deinterleaveFloat(const float* in, uint32_t frames, float* left, float* right,
                           uint32_t channels);
void copyBytes(const void* src, void* dst, uint32_t bytes);
// y[i] += g * x[i]
void mixScaled(float* y, const float* x, float g, uint32_t count);
// b[i] = a[i] - b[i]
void subtractFrom(const float* a, float* b, uint32_t count);

constexpr double kPcmToFloat = 1.0 / 32767.0;
constexpr float kFloatToPcm = 32767.0f;

// One set of kernels per processor form, each handling a whole run of
// elements. The SIMD forms finish their remainders with the scalar ones.
struct ConvertKernels {
  void (*pcmStereo)(const int16_t* in, float* left, float* right, uint32_t frames);
  void (*pcmDownmix)(const int16_t* in, float* left, uint32_t frames);
  void (*pcmMono)(const int16_t* in, float* left, uint32_t samples);
  void (*toPcmStereo)(const float* left, const float* right, int16_t* out, uint32_t frames);
  void (*toPcmDuplicate)(const float* left, int16_t* out, uint32_t frames);
  void (*toPcmMono)(const float* left, int16_t* out, uint32_t samples);
  void (*pcmEncode)(const float* in, int16_t* out, uint32_t count);
  void (*mixScaled)(float* y, const float* x, float g, uint32_t count);
  void (*subtractFrom)(const float* a, float* b, uint32_t count);
};

extern const ConvertKernels kScalarKernels;
extern const ConvertKernels kSseKernels;
extern const ConvertKernels kAmd3dnowKernels;

// The form the flags select now.
const ConvertKernels& activeKernels();

// Scalar float-to-PCM of one value: clamp (NaN to +1), scale, truncate.
int16_t floatToPcmScalar(float x);

}  // namespace dspfx

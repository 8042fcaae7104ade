#pragma once
#include <cstdint>

namespace dspfx {

// Largest transform, in real samples.
constexpr int32_t kFftMaxSize = 32768;
// Sizes of the caller-owned areas of realFft.
constexpr uint32_t kFftTableFloats = 20480;
constexpr uint32_t kFftWorkInts = 66;

// Forward transform of n real samples in place, n a power of two from 2 to
// kFftMaxSize, unscaled, packed as
//   data[0] = sum x[j], data[1] = sum x[j] (-1)^j,
//   data[2k] = sum x[j] cos(2 pi j k / n), data[2k+1] = sum x[j] sin(2 pi j k / n)
// for 0 < k < n/2 (note the + sign of the sine terms).
//
// table (kFftTableFloats floats) and work (kFftWorkInts ints) belong to the
// caller. Set work[0] to 0 before the first call; the transform then builds
// its tables for the size it is asked for and keeps using them for every
// size up to that one, rebuilding only when a larger size comes. Any other
// n, or a null pointer, leaves everything untouched.
void realFft(int32_t n, float* data, int32_t* work, float* table);

}  // namespace dspfx

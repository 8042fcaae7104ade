#pragma once
#include <cstdint>

namespace dspfx {

// In-place forward transform of n complex points (n a power of two), scaled
// by 1/n: X[k] = (1/n) sum x[m] e^(-j 2 pi k m / n). The sine and
// bit-reversal tables are cached process-wide for the last size and rebuilt
// when the size changes; n = 0 releases them. Returns 0 on success, 1 when
// the tables cannot be had or n is not a power of two (the arrays are then
// untouched). Safe to call from several threads: the tables are locked for
// the whole call.
int complexFft(int32_t n, float* re, float* im);

// Size the cached tables were last built for; 0 after a release.
int32_t complexFftCachedSize();

}  // namespace dspfx

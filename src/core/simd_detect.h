#pragma once
// The one place that decides whether SSE2 intrinsics are compiled in. Every
// kernel with an SSE2 form (sample conversion here in core, the vector and
// filter kernels in dsp) tests DSPFX_SIMD_SSE2 and nothing else; its
// portable form is always compiled and gives the same bits, and
// DSPFX_PORTABLE_SIMD selects it everywhere so the whole suite can run it.
#if !defined(DSPFX_PORTABLE_SIMD) && \
    (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#define DSPFX_SIMD_SSE2 1
#else
#define DSPFX_SIMD_SSE2 0
#endif

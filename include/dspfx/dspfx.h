/*
 * dspfx — audio effects with a flat C interface.
 *
 * Conventions for every export in this header:
 *  - PCM blocks are interleaved signed 16-bit little-endian samples, left
 *    before right, sized in bytes. A channel count of exactly 2 means stereo;
 *    any other value is handled as one channel. A frame is one sample per
 *    channel; bytes that do not make a whole frame are ignored.
 *  - Inside an effect samples are 32-bit floats, full scale +-1.0.
 *  - Levels are in dB, times in seconds unless a name says ms, rates in Hz.
 *  - Every effect is an opaque DspEffect* made by its init<Effect> call and
 *    destroyed by its term<Effect> call. Every call first checks its handle:
 *    null, destroyed and other families' handles get the failure value
 *    (0 or null) and nothing is touched. Nothing is ever thrown or logged.
 *  - A do<Effect> call whose block holds more frames than the capacity given
 *    at init (or at the last setup by a chain) returns 0 and writes nothing.
 *  - The caller owns every buffer it passes. Unless an export says
 *    otherwise, input and output PCM may be the same buffer.
 *  - Threads: distinct objects may be created, used and destroyed on
 *    different threads at once; one object is used by one thread at a time.
 */
#ifndef DSPFX_DSPFX_H
#define DSPFX_DSPFX_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(DSPFX_BUILDING)
#    define DSPFX_API __declspec(dllexport)
#  else
#    define DSPFX_API __declspec(dllimport)
#  endif
#else
#  define DSPFX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#  define DSPFX_NOEXCEPT noexcept
extern "C" {
#else
#  define DSPFX_NOEXCEPT
#endif

/** Opaque handle of every effect object. */
typedef struct DspEffect DspEffect;
/** Opaque handle of a processing chain. */
typedef struct DspChain DspChain;

/* ======================================================================
 * Aligned memory
 *
 * Blocks start on a 16-byte boundary and are tracked, so a host can make
 * buffers for the float interfaces with the same alignment. Each block
 * reserves its size plus 15 bytes. Thread-safe.
 * ====================================================================== */

/** Allocates size bytes (0 allowed), 16-byte aligned; null when no memory. */
DSPFX_API void* fastmemAlloc(uint32_t size) DSPFX_NOEXCEPT;
/** Frees a block from fastmemAlloc/fastmemRealloc: 1, or 0 for any other
 *  pointer (null, already freed, foreign), which is left alone. */
DSPFX_API uint32_t fastmemFree(void* ptr) DSPFX_NOEXCEPT;
/** Resizes a tracked block to size bytes and returns its new address; the
 *  leading min(old, new) bytes are kept. An untracked pointer (null included)
 *  is returned unchanged and nothing is allocated. On failure returns null
 *  and the old block stays valid and tracked. */
DSPFX_API void* fastmemRealloc(void* ptr, uint32_t size) DSPFX_NOEXCEPT;
/** Bytes reserved by all live blocks, 15 extra bytes per block included. */
DSPFX_API uint32_t fastmemGetAllocatedSize(void) DSPFX_NOEXCEPT;

/* ======================================================================
 * Processor switches and conversions
 *
 * The host allows SIMD forms of the inner loops; the library never probes
 * the processor. All off (the default) selects the scalar forms, which
 * define the results; SIMD forms may differ in the last bit of PCM-to-float
 * results and round float-to-PCM to nearest (SSE) instead of truncating.
 * Any non-zero low byte enables. Safe to call from any thread at any time.
 * ====================================================================== */

DSPFX_API void dspEnableMmx(int32_t enable) DSPFX_NOEXCEPT;
DSPFX_API void dspEnable3dnow(int32_t enable) DSPFX_NOEXCEPT;
DSPFX_API void dspEnableSse(int32_t enable) DSPFX_NOEXCEPT;
/** Converts count floats in PCM scale (+-32767.0) to 16-bit samples,
 *  clamping (NaN becomes 32767) and truncating toward zero. Returns the bytes
 *  written (count * 2), 0 when a pointer is null. */
DSPFX_API uint32_t dspPcmEncode(const float* in, int16_t* out, uint32_t count) DSPFX_NOEXCEPT;
/** Kept for compatibility: does nothing and returns 0. */
DSPFX_API uint32_t dspPcmDecode(void) DSPFX_NOEXCEPT;

/* @@section chain@@ */

/* @@section eq@@ */

/* @@section iir@@ */

/* @@section fade@@ */

/* @@section resampler@@ */

/* @@section hqups@@ */

/* @@section stretch@@ */

/* @@section pitchshift@@ */

/* @@section chorus@@ */

/* @@section waveslice@@ */

/* @@section analysis@@ */

/* @@section wavefile@@ */

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* DSPFX_DSPFX_H */

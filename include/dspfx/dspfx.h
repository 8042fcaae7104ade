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
/* ======================================================================
 * Processing chain
 *
 * Runs several effects one after another on one block without converting
 * to PCM in between. Effects are kept sorted by the order number given to
 * dspAdd (equal numbers keep the order they came in) and every effect is set
 * up again whenever the format reaching it changes (the chain's own format
 * for the first effect, the previous effect's output format for the rest).
 * Effects added to a chain belong to it: dspClear and dspDestroy destroy
 * them, their term<Effect> call refuses them (returns 0), and their set and
 * get calls keep working. Input and output may be the same buffer only when
 * the chain does not change the block length or channel count.
 * ====================================================================== */

/** New empty chain for blocks of up to frames frames of channels channels
 *  at rate Hz; null when no memory. */
DSPFX_API DspChain* dspCreate(uint32_t frames, uint32_t channels, uint32_t rate) DSPFX_NOEXCEPT;
/** Hands effect to the chain at position order; returns the new count. An
 *  effect without buffers, one that already belongs to a chain, or an
 *  invalid handle is not added (the unchanged count is returned); 0 for an
 *  invalid chain. */
DSPFX_API uint32_t dspAdd(DspChain* chain, DspEffect* effect, uint32_t order) DSPFX_NOEXCEPT;
/** Destroys every effect in the chain; the chain stays usable and keeps its
 *  format. */
DSPFX_API void dspClear(DspChain* chain) DSPFX_NOEXCEPT;
/** Sets a new input format and sets up again every effect whose input
 *  format changes as a result (nothing happens for an unchanged format). */
DSPFX_API void dspAdjust(DspChain* chain, uint32_t frames, uint32_t channels, uint32_t rate) DSPFX_NOEXCEPT;
/** The index-th effect (0 = first); null when index >= count. */
DSPFX_API DspEffect* dspGetHandle(DspChain* chain, uint32_t index) DSPFX_NOEXCEPT;
/** Output rate of the last effect in Hz; the chain's own rate when empty. */
DSPFX_API uint32_t dspGetDstRate(DspChain* chain) DSPFX_NOEXCEPT;
/** Output channel count of the last effect; the chain's own when empty. */
DSPFX_API uint32_t dspGetDstChannels(DspChain* chain) DSPFX_NOEXCEPT;
/** Output size for an input of size (frames or bytes, as the effects count
 *  it), passed through every effect; size itself when empty. */
DSPFX_API uint32_t dspGetDstSize(DspChain* chain, uint32_t size) DSPFX_NOEXCEPT;
/** Runs one PCM block through the chain; returns the bytes written to out
 *  (which must hold dspGetDstSize-many frames of dspGetDstChannels). An empty
 *  chain copies the block. 0 when the block holds more frames than the chain
 *  was set up for, or a buffer is null. */
DSPFX_API uint32_t dspSend(DspChain* chain, const int16_t* in, int16_t* out, uint32_t bytes) DSPFX_NOEXCEPT;
/** As dspSend on interleaved floats (full scale +-1.0), sized in frames;
 *  returns frames written. An empty chain copies frames * channels floats. */
DSPFX_API uint32_t dspSendFloat(DspChain* chain, const float* in, float* out, uint32_t frames) DSPFX_NOEXCEPT;
/** Destroys the chain and its effects; null and invalid chains are ignored. */
DSPFX_API void dspDestroy(DspChain* chain) DSPFX_NOEXCEPT;

/* @@section eq@@ */

/* ----------------------------------------------------------------------
 * ShelvingEQ: N bands of equal width from 0 Hz to half the sample rate,
 * each with a gain in dB, plus an output level in dB. Linear phase: the
 * output is delayed by 2N - 1 frames. Both channels are filtered alike.
 * Init and gain changes redesign through a process-wide table guarded by a
 * lock, so effects on different threads may do so at once.
 * ---------------------------------------------------------------------- */

/** Creates a shelving equaliser for blocks of up to capacityFrames frames
 *  (channels 2 = stereo, else mono; sampleRate in Hz, unused by the
 *  design). bandCount N is 1, 2, 4, ... 8192; bandGainsDb points to N gains
 *  in dB, copied. Null for any other N, a null gains pointer or no memory. */
DSPFX_API DspEffect* initShelvingEQ(uint32_t capacityFrames, uint32_t channels, uint32_t sampleRate,
                                    uint32_t bandCount, const float* bandGainsDb,
                                    float outputLevelDb) DSPFX_NOEXCEPT;
/** Equalises one PCM block of bytes (whole frames only); in and out may be
 *  the same buffer. 1, also for 0 bytes; 0 for a bad handle, a null buffer
 *  or a block above capacity (nothing written). */
DSPFX_API uint32_t doShelvingEQ(DspEffect* handle, const int16_t* in, int16_t* out,
                                uint32_t bytes) DSPFX_NOEXCEPT;
/** Sets band 0 ... N-1 to gainDb from the next sample on, keeping the
 *  filter's past input. 1, or 0 (nothing changed) for a bad handle or band. */
DSPFX_API uint32_t setShelvingEQGain(DspEffect* handle, int32_t band, float gainDb) DSPFX_NOEXCEPT;
/** Sets the output level in dB. 1, or 0 for a bad handle. */
DSPFX_API uint32_t setShelvingEQOutputLevel(DspEffect* handle, float outputLevelDb) DSPFX_NOEXCEPT;
/** Destroys the equaliser. 1, or 0 for a bad handle. */
DSPFX_API uint32_t termShelvingEQ(DspEffect* handle) DSPFX_NOEXCEPT;

/* ----------------------------------------------------------------------
 * GraphicEQ: freely placed resonant bands run in parallel and summed, then
 * scaled by a master gain. There is no dry path: the output is the sum of
 * the bands only (a band with zeroRadius == poleRadius passes its input
 * scaled by its gain). Both channels are filtered alike.
 * ---------------------------------------------------------------------- */

/** One band, 16 bytes: centre frequency in Hz, gain in dB at that
 *  frequency, radius of the zero pair (0 gives a plain two-pole resonator)
 *  and of the pole pair (below 1 for a stable band). */
typedef struct GraphicEqBand {
  float frequency;
  float gainDb;
  float zeroRadius;
  float poleRadius;
} GraphicEqBand;
#ifdef __cplusplus
static_assert(sizeof(GraphicEqBand) == 16, "GraphicEqBand is 16 bytes");
#else
_Static_assert(sizeof(GraphicEqBand) == 16, "GraphicEqBand is 16 bytes");
#endif

/** Creates a graphic equaliser for blocks of up to capacityFrames frames
 *  (channels 2 = stereo, else mono) at sampleRate Hz (> 0). bands points to
 *  bandCount records, copied; bandCount 0 gives silence. masterGainDb in
 *  dB. Null for a zero rate, a null bands pointer with bandCount > 0 or no
 *  memory. */
DSPFX_API DspEffect* initGraphicEQ(uint32_t capacityFrames, uint32_t channels, uint32_t sampleRate,
                                   uint32_t bandCount, const GraphicEqBand* bands,
                                   float masterGainDb) DSPFX_NOEXCEPT;
/** Equalises one PCM block of bytes (whole frames only); in and out may be
 *  the same buffer. 1, also for 0 bytes; 0 for a bad handle, a null buffer
 *  or a block above capacity (nothing written). */
DSPFX_API uint32_t doGraphicEQ(DspEffect* handle, const int16_t* in, int16_t* out,
                               uint32_t bytes) DSPFX_NOEXCEPT;
/** Sets the gain in dB of band 0 ... bandCount-1; its shape and running
 *  state stay. 1, or 0 (nothing changed) for a bad handle or band. */
DSPFX_API uint32_t setGraphicEQGain(DspEffect* handle, uint32_t band, float gainDb) DSPFX_NOEXCEPT;
/** Sets the master gain in dB. 1, or 0 for a bad handle. */
DSPFX_API uint32_t setGraphicEQMasterGain(DspEffect* handle, float masterGainDb) DSPFX_NOEXCEPT;
/** Moves band 0 ... bandCount-1 to frequency Hz with new radii, keeping its
 *  gain in dB and its running state. 1, or 0 (nothing changed) for a bad
 *  handle or band. */
DSPFX_API uint32_t remakeGraphicEQBand(DspEffect* handle, uint32_t band, float frequency,
                                       float zeroRadius, float poleRadius) DSPFX_NOEXCEPT;
/** Destroys the equaliser. 1, or 0 for a bad handle. */
DSPFX_API uint32_t termGraphicEQ(DspEffect* handle) DSPFX_NOEXCEPT;

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

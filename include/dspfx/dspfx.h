/*
 * dspfx — audio effects with a flat C interface.
 *
 * Contents, in the order they appear below; each family opens with what it
 * does, its units and its block rules:
 *   Aligned memory                      fastmem*
 *   Processor switches and conversions  dspEnable*, dspPcm*
 *   Processing chain                    dspCreate ... dspDestroy
 *   ShelvingEQ                          *ShelvingEQ*
 *   GraphicEQ                           *GraphicEQ*
 *   IIR filter                          *IirFilter
 *   Fader and cross-fader               *Fader*, doFade, doCrossFade
 *   Resampler                           *Resampler*
 *   High-quality upsampler              *Hqups*
 *   Stretch                             *Stretch*
 *   PitchShift                          *PitchShift*
 *   Chorus                              *Chorus*
 *   WaveSlice                           *WaveSlice
 *   Analysers                           *Fft, *FftAnalyze, *EnvAnalyze
 *   Wave files                          *WavefileIn, *WavefileOut
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
 *    (0 or null) and nothing is touched. A handle is a token, not the
 *    object's address, and no value is handed out twice in a process, so
 *    a destroyed handle stays refused for good (the same holds for
 *    DspChain*, WavefileIn* and WavefileOut*). Nothing is ever thrown or
 *    logged.
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
/** Converts count floats in PCM scale (+-32767.0) to 16-bit samples. The
 *  scalar form clamps (NaN becomes 32767) and truncates toward zero; with SSE
 *  enabled values round to nearest and saturate to -32768 ... 32767 (NaN
 *  becomes -32768), with 3DNow! they truncate and saturate. Returns the bytes
 *  written (count * 2), 0 when a pointer is null. */
DSPFX_API uint32_t dspPcmEncode(const float* in, int16_t* out, uint32_t count) DSPFX_NOEXCEPT;
/** Kept for compatibility: does nothing and returns 0. */
DSPFX_API uint32_t dspPcmDecode(void) DSPFX_NOEXCEPT;

/** Extension: the library's version as (major << 16) | (minor << 8) |
 *  patch, for a host that must tell builds apart at run time. Any thread. */
DSPFX_API uint32_t dspGetVersion(void) DSPFX_NOEXCEPT;

/* Extension: why a call failed. Every return value above stays as it is;
 * in addition each call that takes a handle or makes an object records on
 * the calling thread why it returned its failure value (DSP_ERROR_NONE
 * when it did not). Calls without a handle leave the record alone. */
#define DSP_ERROR_NONE 0
/** Null, destroyed or never-issued handle. */
#define DSP_ERROR_BAD_HANDLE 1
/** Live handle of another kind (a chain for an effect) or effect family. */
#define DSP_ERROR_WRONG_FAMILY 2
/** Argument out of its range, missing buffer, a block above capacity or
 *  a format the object cannot take (also: a do call on 0 bytes that
 *  returns 0). */
#define DSP_ERROR_BAD_ARGUMENT 3
#define DSP_ERROR_NO_MEMORY 4
/** A term call on an effect a chain owns, or dspAdd of an effect that
 *  already belongs to a chain. */
#define DSP_ERROR_CHAIN_OWNED 5
/** A wave file that cannot be opened, read, written or understood. */
#define DSP_ERROR_FILE 6
/** Anything else that went wrong inside; the call had no effect. */
#define DSP_ERROR_INTERNAL 7
/** The DSP_ERROR_* code of the calling thread's last call that took a
 *  handle or made an object. */
DSPFX_API int32_t dspGetLastError(void) DSPFX_NOEXCEPT;
/** A static English sentence for a DSP_ERROR_* code (any value gives a
 *  sentence; never null). Any thread. */
DSPFX_API const char* dspErrorString(int32_t code) DSPFX_NOEXCEPT;

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
 *  format changes as a result (nothing happens for an unchanged format).
 *  When an effect cannot take what reaches it (no memory for the frames),
 *  dspSend and dspSendFloat return 0 until an adjust that every effect can
 *  take. */
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
 *  returns frames written. An empty chain copies frames floats per channel
 *  (two channels for a stereo chain, one otherwise) and returns frames, or
 *  0 when that many bytes would not fit in 32 bits. */
DSPFX_API uint32_t dspSendFloat(DspChain* chain, const float* in, float* out, uint32_t frames) DSPFX_NOEXCEPT;
/** Destroys the chain and its effects; null and invalid chains are ignored. */
DSPFX_API void dspDestroy(DspChain* chain) DSPFX_NOEXCEPT;


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
/** Extension: how the filter runs; default 0. 0 is the direct form above,
 *  whose results are the reference. 1 is fast convolution of the same taps:
 *  the same delay of 2N - 1 frames and the same output up to float rounding
 *  (a few units of float rounding of the sum of |taps| x the input's peak,
 *  far below one 16-bit step at ordinary gains). It pays from about N = 32;
 *  at N = 128 it costs about a sixth of the direct form, and its cost per
 *  frame hardly grows with N; blocks of max(N, 64) frames or more run
 *  fastest. The first switch to 1 allocates (about 80 KB plus 110 N bytes
 *  per channel); a switch either way keeps the past input; no block
 *  allocates. Gains, level and chain setups act in both modes alike. 1, or
 *  0 for a bad handle, a mode other than 0 or 1, or no memory (the mode
 *  then stays). */
DSPFX_API uint32_t setShelvingEQMode(DspEffect* handle, uint32_t mode) DSPFX_NOEXCEPT;
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

/* ======================================================================
 * IIR filter
 *
 * Chebyshev type I low- or high-pass with 1 dB pass-band ripple, applied to
 * each channel with double-precision state. Order, cutoff and kind are fixed
 * at creation; when a chain sets the filter up at a new rate it is designed
 * again for that rate with cleared state (a cutoff at or above half the new
 * rate then passes the signal unchanged); the same rate keeps it running.
 * ====================================================================== */

/** New filter for blocks of up to capacityFrames frames of channels channels
 *  at sampleRate Hz. order 1 ... 64; cutoff in Hz, strictly between 0 and
 *  sampleRate / 2 (the ripple band ends there); kind 1 = high-pass, any other
 *  value = low-pass. Null for parameters outside these ranges or no memory. */
DSPFX_API DspEffect* initIirFilter(uint32_t capacityFrames, uint32_t channels, uint32_t sampleRate,
                                   int32_t order, float cutoff, int32_t kind) DSPFX_NOEXCEPT;
/** Filters one PCM block of bytes bytes from in to out (same length; may be
 *  the same buffer). 1, also for 0 bytes; 0 for a bad handle or block. */
DSPFX_API uint32_t doIirFilter(DspEffect* handle, const int16_t* in, int16_t* out,
                               uint32_t bytes) DSPFX_NOEXCEPT;
/** Destroys the filter. 1, or 0 for a bad handle. */
DSPFX_API uint32_t termIirFilter(DspEffect* handle) DSPFX_NOEXCEPT;

/* ======================================================================
 * Fader and cross-fader (one object: two faders and one cross-fader)
 *
 * Each fader scales a stream by a level in dB that moves along straight
 * ramps (actions) scheduled in seconds on the object's own timeline: the
 * frames processed since initFader or since the last setup by a chain. A
 * time t becomes frame trunc(t * rate) (computed in 32-bit float). The
 * cross-fader mixes stream A (fader 0) and stream B (fader 1) by a position
 * in -1 ... +1 (+1: A alone, -1: B alone), scheduled the same way and turned
 * into two gains by the cross-fade law. Levels and the law's a and b are dB
 * in -50 ... +50; positions beyond +-1 are clamped when played.
 * A scheduled range that starts at or before the current frame or is empty
 * (start >= end) is ignored; actions never overlap: a new one cuts older
 * ones where they meet it (the cut one ends at the level its ramp reached
 * there) and removes those inside its range. When an action completes, the
 * level stays there until the next one starts. When a chain sets the object
 * up again, the timeline restarts at 0 with the initial values and every
 * scheduled action is dropped (a curve set earlier is kept).
 * ====================================================================== */

/** New fader for blocks of up to frames frames of channels channels at rate
 *  Hz; the cross-fader starts at initialPosition, fader 0 at initialLevel0
 *  dB, fader 1 at initialLevel1 dB. The cross-fade law starts as a = -1 dB,
 *  b = -40 dB, c = 0.05, d = 0.8. Null when a value is not finite or there
 *  is no memory. */
DSPFX_API DspEffect* initFader(uint32_t frames, uint32_t channels, uint32_t rate, float initialPosition, float initialLevel0, float initialLevel1) DSPFX_NOEXCEPT;
/** Runs fader 0 or 1 over a PCM block of bytes bytes (in and out may be the
 *  same buffer) and advances that fader's timeline only. 1; 0 for another
 *  index (nothing runs). */
DSPFX_API uint32_t doFade(DspEffect* fader, int32_t index, const int16_t* in, int16_t* out, uint32_t bytes) DSPFX_NOEXCEPT;
/** Fader 0 on inA, fader 1 on inB, then the cross-fader mixes both into out;
 *  inA, inB and out each hold bytes bytes, all owned by the caller; any of
 *  them may be the same buffer. 1; 0 when inB is null. */
DSPFX_API uint32_t doCrossFade(DspEffect* fader, const int16_t* inA, const int16_t* inB, int16_t* out, uint32_t bytes) DSPFX_NOEXCEPT;
/** Ramps fader index (0 or 1) linearly in dB to target dB from start to end
 *  seconds, on both channels. 1, also for an ignored range; 0 for another
 *  index, a NaN time, a non-finite target or no memory (nothing changes). */
DSPFX_API uint32_t setFaderAction(DspEffect* fader, int32_t index, float start, float end, float target) DSPFX_NOEXCEPT;
/** Clears start ... end seconds of fader index: actions inside are removed,
 *  those reaching into it are cut. 1 (also for an ignored range); 0 for
 *  another index, a NaN time or no memory. */
DSPFX_API uint32_t delFaderAction(DspEffect* fader, int32_t index, float start, float end) DSPFX_NOEXCEPT;
/** Ramps the cross-fader position to target from start to end seconds.
 *  Results as setFaderAction. */
DSPFX_API uint32_t setCrossFaderAction(DspEffect* fader, float start, float end, float target) DSPFX_NOEXCEPT;
/** Clears start ... end seconds of the cross-fader. Results as
 *  delFaderAction. */
DSPFX_API uint32_t delCrossFaderAction(DspEffect* fader, float start, float end) DSPFX_NOEXCEPT;
/** Sets the cross-fade law: both streams at a dB at position 0; the stream
 *  being faded out at b dB at |d| and silent beyond; the other at 0 dB from
 *  |c| on. The gains follow from the next frame the cross-fader computes
 *  (during an action). 1; 0 when a value is not finite. */
DSPFX_API uint32_t setCrossFaderCurve(DspEffect* fader, float a, float b, float c, float d) DSPFX_NOEXCEPT;
/** Destroys the fader: 1; 0 for an invalid handle or one owned by a chain. */
DSPFX_API uint32_t termFader(DspEffect* fader) DSPFX_NOEXCEPT;

/* ======================================================================
 * Resampler
 *
 * Converts PCM from one sample rate to another, block by block, optionally
 * writing another channel count than it reads. Each block is cut into
 * chunks of at most 4096 input frames; the interpolation restarts at every
 * chunk and ends on the chunk's last input sample. Only the anti-alias
 * filter state and, in cubic mode, the last three input samples carry over
 * from one block to the next (cubic output trails the input by two samples).
 * Every output count is trunc((count / srcRate) * dstRate) in double
 * precision, so it can be one below the exact quotient (15 frames at equal
 * rates give 14). A chain setup resets the converters, keeps the destination
 * rate and makes the channel count written equal to the one read.
 * ====================================================================== */

/** New resampler for blocks of up to capacityFrames frames of channels
 *  channels at srcRate Hz, writing outChannels channels at dstRate Hz.
 *  interpolation 0 = linear, any other value = four-point cubic. The
 *  anti-alias low-pass (run when antiAlias is not 0, at the higher rate) has
 *  0.1 dB ripple and reaches stopbandDb (> 0.1) at half the lower rate,
 *  falling slopeDbPerOctave (> 0) dB per octave towards it. Null for a zero
 *  rate, a parameter outside these ranges, or no memory. */
DSPFX_API DspEffect* initResampler(uint32_t capacityFrames, uint32_t channels, uint32_t outChannels,
                                   uint32_t srcRate, uint32_t dstRate, int32_t interpolation,
                                   float stopbandDb, float slopeDbPerOctave,
                                   uint8_t antiAlias) DSPFX_NOEXCEPT;
/** Converts one PCM block of bytes bytes. out must hold
 *  getResamplerDstSize(frames) frames of outChannels channels; in and out may
 *  be the same buffer when it is that large. Returns the bytes written (0 for
 *  0 bytes), 0 for a bad handle or block. */
DSPFX_API uint32_t doResampler(DspEffect* handle, const int16_t* in, int16_t* out,
                               uint32_t bytes) DSPFX_NOEXCEPT;
/** size (frames, or bytes of one channel layout) scaled from the source to
 *  the destination rate by the rule above; 0 for a bad handle. */
DSPFX_API uint32_t getResamplerDstSize(DspEffect* handle, uint32_t size) DSPFX_NOEXCEPT;
/** Extension: picks the converter. 0 (the default) = the block-wise
 *  conversion described above. 1 = streaming: the same interpolation and
 *  anti-alias filter, but the read position and the remainder of the size
 *  rule carry over from block to block, so the long-run ratio is exact
 *  whatever the block sizes (cubic output trails the input by two samples,
 *  linear by one). 2 = band-limited: a polyphase windowed-sinc (Kaiser)
 *  converter, pass band to 0.91 of the lower Nyquist frequency, images and
 *  aliases at least 90 dB down (down-sampling stops at the new Nyquist
 *  frequency), output trailing the input by about 36 frames at 44100 ->
 *  48000; the interpolation and filter settings are not used. In 1 and 2
 *  a block's count may be one above the rule above: getResamplerDstSize and
 *  a chain then announce the most a block can give (ceil(frames * dstRate /
 *  srcRate)), and the total over any number of blocks is within one frame of
 *  input * dstRate / srcRate. Resets the converters' history (call it
 *  between blocks); a chain holding the resampler sets the effects after it
 *  up for the new count. 1; 0 for a bad handle, another value or no memory
 *  (the resampler is then unusable). */
DSPFX_API uint32_t setResamplerQuality(DspEffect* handle, uint32_t quality) DSPFX_NOEXCEPT;
/** Destroys the resampler. 1, or 0 for a bad handle. */
DSPFX_API uint32_t termResampler(DspEffect* handle) DSPFX_NOEXCEPT;

/* ======================================================================
 * High-quality upsampler (Hqups)
 *
 * Converts any rate to 48000 Hz and adds synthetic odd harmonics in the top
 * octave: per channel the upsampled signal's high band (above highpassHz) is
 * bent through a curve, and what the bending adds is mixed onto the signal
 * delayed by 8 samples (activeMode 0, fixed band) or 16 (activeMode 1,
 * adaptive: the added harmonics are kept only above the edge where the
 * block's spectrum ends, measured on the average of both channels).
 * Arguments shared by both init calls:
 *  channels 1 or 2 (2 = stereo, else mono); outChannels of the PCM written
 *  (2 = stereo, else mono; a mono input is written to both sides);
 *  srcRate in Hz (> 0); harmonics: curve displacement, 0 = none, about
 *  -0.7 .. 0.7 useful; mix: harmonic level in percent (0 = dry);
 *  highpassHz: 1 .. 23999, cut-off of the band that is bent; interpolation
 *  0 = linear, other = cubic; stopbandDb (> 0.1) and slopeDbPerOctave (> 0):
 *  the anti-alias low-pass; activeMode 1 = adaptive, anything else fixed;
 *  antiAlias non-zero runs that low-pass.
 * Null when srcRate is 0, highpassHz is outside 1 .. 23999, a size is too
 * large or memory cannot be had.
 * ====================================================================== */

/** New upsampler for blocks that give up to dstFrames output frames; the
 *  input capacity is getHqupsSrcSize(dstFrames) frames. */
DSPFX_API DspEffect* initHqups(uint32_t dstFrames, uint32_t channels, uint32_t outChannels,
                               uint32_t srcRate, float harmonics, float mix, uint32_t highpassHz,
                               int32_t interpolation, float stopbandDb, float slopeDbPerOctave,
                               int32_t activeMode, uint8_t antiAlias) DSPFX_NOEXCEPT;
/** New upsampler for blocks of up to capacityFrames input frames. */
DSPFX_API DspEffect* initHqupsBySrcsize(uint32_t capacityFrames, uint32_t channels,
                                        uint32_t outChannels, uint32_t srcRate, float harmonics,
                                        float mix, uint32_t highpassHz, int32_t interpolation,
                                        float stopbandDb, float slopeDbPerOctave,
                                        int32_t activeMode, uint8_t antiAlias) DSPFX_NOEXCEPT;
/** Upsamples one PCM block of bytes bytes; returns the bytes written to out:
 *  outChannels * 2 * getHqupsDstSize(frames in the block). out must hold
 *  that many; it may be the same buffer as in if it is large enough. 0 for
 *  an empty or over-capacity block, a null buffer or an invalid handle. */
DSPFX_API uint32_t doHqups(DspEffect* handle, const int16_t* in, int16_t* out,
                           uint32_t bytes) DSPFX_NOEXCEPT;
/** Sets the curve displacement for both channels; 1, or 0 for an invalid
 *  handle. */
DSPFX_API uint32_t setHqupsHarmonics(DspEffect* handle, float harmonics) DSPFX_NOEXCEPT;
/** Sets the harmonic level in percent; 1, or 0 for an invalid handle. */
DSPFX_API uint32_t setHqupsMix(DspEffect* handle, float mix) DSPFX_NOEXCEPT;
/** 1 = adaptive band edge, anything else fixed band, from the next block on;
 *  the dry delay keeps the length of the mode at init (or the last chain
 *  setup). 1, or 0 for an invalid handle. */
DSPFX_API uint32_t setHqupsActiveMode(DspEffect* handle, int32_t activeMode) DSPFX_NOEXCEPT;
/** Extension: picks the rate converters' quality, with the values and
 *  effects of setResamplerQuality: 0 (the default) block-wise, 1 streaming,
 *  2 band-limited. Resets the converters, and the exciters too when a block
 *  can then give another count. 1; 0 for an invalid handle, another value
 *  or no memory (the upsampler is then unusable). */
DSPFX_API uint32_t setHqupsQuality(DspEffect* handle, uint32_t quality) DSPFX_NOEXCEPT;
/** Output frames for an input of frames frames: trunc(frames / srcRate *
 *  48000) (quality 0; with setHqupsQuality 1 or 2 the most a block can
 *  give, one more at most); 0 for an invalid handle. */
DSPFX_API uint32_t getHqupsDstSize(DspEffect* handle, uint32_t frames) DSPFX_NOEXCEPT;
/** Input frames that give about frames output frames (within one frame);
 *  0 for an invalid handle. */
DSPFX_API uint32_t getHqupsSrcSize(DspEffect* handle, uint32_t frames) DSPFX_NOEXCEPT;
/** Destroys the upsampler: 1, or 0 for an invalid or chain-owned handle. */
DSPFX_API uint32_t termHqups(DspEffect* handle) DSPFX_NOEXCEPT;


/* ----------------------------------------------------------------------
 * Stretch: granular time stretch. Each block comes out 2^(-scale/1000)
 * times as long at the same pitch (scale in thousandths of an octave:
 * 1000 halves the duration, -1000 doubles it). Grains of about
 * 1.53 x grainTime seconds, Gaussian-windowed, start every hopTime seconds
 * of output. A new scale applies from the second block after the call
 * (blocks of up to 32768 frames); grains and history carry across blocks.
 * ---------------------------------------------------------------------- */

/** Creates a stretcher for input blocks of up to capacityFrames frames
 *  (channels 2 = stereo, else mono; sampleRate in Hz). scale is clamped to
 *  -2000 .. 3000 (exactly 0 passes the input through unchanged, level
 *  included; NaN counts as 0); outLevelDb in dB; grainTime and hopTime in
 *  seconds. Null when sampleRate x hopTime or the grain is below one frame,
 *  the grain exceeds 4194304 frames, or memory cannot be had. */
DSPFX_API DspEffect* initStretch(uint32_t capacityFrames, uint32_t channels, uint32_t sampleRate,
                                 float scale, float outLevelDb, float grainTime,
                                 float hopTime) DSPFX_NOEXCEPT;
/** Stretches one PCM block of bytes (whole frames only) into out and
 *  returns the bytes written: trunc(frames x ratio) frames with the ratio
 *  in force, for one block after setStretchScale still the old one (while
 *  getStretchDstSize reports the new one at once). out must hold that
 *  much (in and out may be the same buffer if it does). 0 for
 *  0 bytes, a bad handle, a null buffer or a block above capacity (nothing
 *  written). After the scale was lowered below the one at init, the
 *  internal output buffers grow here once; 0 when that memory is lacking. */
DSPFX_API uint32_t doStretch(DspEffect* handle, const int16_t* in, int16_t* out,
                             uint32_t bytes) DSPFX_NOEXCEPT;
/** Sets the scale (clamped as at init) for the block after the next.
 *  May be called from another thread while doStretch runs on the same
 *  object: it never waits, and both channels take the change at the start
 *  of the same block. 1, or 0 for a bad handle. */
DSPFX_API uint32_t setStretchScale(DspEffect* handle, float scale) DSPFX_NOEXCEPT;
/** Sets the output level in dB from the next block on; may be called from
 *  another thread like setStretchScale. 1, or 0 for a bad handle. */
DSPFX_API uint32_t setStretchOutLevel(DspEffect* handle, float outLevelDb) DSPFX_NOEXCEPT;
/** size x the latest scale's ratio, truncated: the output size to expect
 *  for an input of size (bytes or frames). Called from the thread that
 *  runs doStretch. 0 for a bad handle. */
DSPFX_API uint32_t getStretchDstSize(DspEffect* handle, uint32_t size) DSPFX_NOEXCEPT;
/** Extension: the grain engine. 0 = the granular stretcher above (the
 *  default); 1 = aligned grains: each grain starts where, inside a seek
 *  window around the position the ratio asks for, the input best continues
 *  the previous grain (normalised cross-correlation on the sum of the
 *  channels, so both splice together), cross-faded with a window whose
 *  overlapped sum is 1, so steady tones keep their pitch and level. In mode
 *  1 a block gives floor(I x ratio) minus what earlier blocks gave, I the
 *  input frames since the ratio last changed, so the total length is exact
 *  whatever the block size; a block gives at most ceil(frames x ratio),
 *  which getStretchDstSize then reports. The output lags the input by
 *  about 0.2 s of input; scale 0 runs as ratio 1 with the same lag.
 *  grainTime and hopTime do not apply; the scale and level rules above
 *  hold. Takes effect from the next block, the new engine starting from
 *  silence; in a chain, call dspAdjust afterwards so the next effect learns
 *  the new block size. 1, or 0 for a bad handle, a mode other than 0 or 1
 *  or lacking memory (the mode then stays). Not while doStretch runs. */
DSPFX_API uint32_t setStretchMode(DspEffect* handle, uint32_t mode) DSPFX_NOEXCEPT;
/** Extension: the lengths of mode 1 in seconds, each 0 (the default: from
 *  the sample rate and the ratio, about 50-90 ms grains, a 20 ms seek
 *  window and a 10 ms cross-fade) or up to 1: sequenceTime the output per
 *  grain, seekTime the width of the seek window, overlapTime the
 *  cross-fade (kept below the grain). Restarts the aligned engine from
 *  silence. 1, or 0 for a bad handle, a value outside 0 .. 1 or lacking
 *  memory (the lengths then stay). Not while doStretch runs. */
DSPFX_API uint32_t setStretchAlignedTimes(DspEffect* handle, float sequenceTime, float seekTime,
                                          float overlapTime) DSPFX_NOEXCEPT;
/** Destroys the stretcher. 1, or 0 for a bad handle. */
DSPFX_API uint32_t termStretch(DspEffect* handle) DSPFX_NOEXCEPT;


/* ----------------------------------------------------------------------
 * PitchShift: granular pitch shift by up to an octave either way; every
 * block keeps its length. Grains of about 1.53 x grainTime seconds replay
 * the input 2^(cents/1200) times as fast, read by linear or four-point
 * cubic interpolation; an optional order-10 Chebyshev low-pass against
 * aliasing runs before the grains when the pitch goes up and after them
 * when it goes down. The output lags the input by about one grain.
 * ---------------------------------------------------------------------- */

/** Creates a pitch shifter for blocks of up to capacityFrames frames
 *  (channels 2 = stereo, else mono; sampleRate in Hz). pitch in cents,
 *  clamped to -1200 .. 1200 (exactly 0 passes the input through unchanged,
 *  level included; NaN counts as 0); outLevelDb in dB; grainTime and
 *  hopTime in seconds; interpolation 0 = linear, else cubic; the low byte
 *  of antiAlias non-zero runs the low-pass. Null when sampleRate x hopTime
 *  or the grain is below one frame, the grain exceeds 4194304 frames, or
 *  memory cannot be had. */
DSPFX_API DspEffect* initPitchShift(uint32_t capacityFrames, uint32_t channels,
                                    uint32_t sampleRate, float pitch, float outLevelDb,
                                    float grainTime, float hopTime, uint32_t interpolation,
                                    uint32_t antiAlias) DSPFX_NOEXCEPT;
/** Shifts one PCM block of bytes (whole frames only) into out, the same
 *  number of frames; in and out may be the same buffer. 1, also for 0
 *  bytes; 0 for a bad handle, a null buffer or a block above capacity
 *  (nothing written). */
DSPFX_API uint32_t doPitchShift(DspEffect* handle, const int16_t* in, int16_t* out,
                                uint32_t bytes) DSPFX_NOEXCEPT;
/** Sets the pitch in cents (clamped as at init). The low-pass follows from
 *  the next block, the grains from the block after (blocks of up to 32768
 *  frames; longer ones count as several). May be called from another
 *  thread while doPitchShift runs on the same object: it never waits, and
 *  both channels take the change at the start of the same block. 1, or 0
 *  for a bad handle. */
DSPFX_API uint32_t setPitchShiftPitch(DspEffect* handle, float pitch) DSPFX_NOEXCEPT;
/** Sets the output level in dB from the next block processed; may be
 *  called from another thread like setPitchShiftPitch. 1, or 0 for a bad
 *  handle. */
DSPFX_API uint32_t setPitchShiftOutLevel(DspEffect* handle, float outLevelDb) DSPFX_NOEXCEPT;
/** Extension: the grain engine. 0 = the granular shifter above (the
 *  default); 1 = aligned grains: the input (low-passed below the new
 *  Nyquist frequency when antiAlias is set and the pitch goes up) is read
 *  2^(cents/1200) times as fast by four-point cubic interpolation and then
 *  stretched back to its length by the aligned grains of setStretchMode
 *  (when antiAlias is set and the pitch goes down, the result is low-passed
 *  below the scaled band). Steady tones keep their level and land on the
 *  shifted frequency. Both channels change pitch at the same frame. The
 *  output lags the input by about 0.2 s; pitch 0 runs unshifted with the
 *  same lag. grainTime, hopTime and interpolation do not apply; the pitch
 *  and level rules above hold (the low-pass follows the grains' pitch).
 *  Takes effect from the next block, the new engine starting from silence.
 *  1, or 0 for a bad handle, a mode other than 0 or 1 or lacking memory
 *  (the mode then stays). Not while doPitchShift runs. */
DSPFX_API uint32_t setPitchShiftMode(DspEffect* handle, uint32_t mode) DSPFX_NOEXCEPT;
/** Extension: the lengths of mode 1 in seconds, as setStretchAlignedTimes
 *  (each 0, the default, or up to 1). 1, or 0 for a bad handle, a value
 *  outside 0 .. 1 or lacking memory (the lengths then stay). Not while
 *  doPitchShift runs. */
DSPFX_API uint32_t setPitchShiftAlignedTimes(DspEffect* handle, float sequenceTime,
                                             float seekTime, float overlapTime) DSPFX_NOEXCEPT;
/** Destroys the pitch shifter (not while another thread uses it). 1, or 0
 *  for a bad handle. */
DSPFX_API uint32_t termPitchShift(DspEffect* handle) DSPFX_NOEXCEPT;

/* ======================================================================
 * Chorus
 *
 * Adds to the dry input several delayed copies of it (voices). One sine
 * oscillator sweeps every voice's delay between delaytime - depth and
 * delaytime + depth ms, once per speed seconds, voice v running v / voices
 * of a cycle ahead of voice 0; delays are whole frames (truncated). Each
 * channel has its own delay line and oscillator. The swept delay should stay
 * within 1 ... 65535 frames: positions are taken modulo 65536 frames, so a
 * delay of 0 or below reads the oldest part of the line. Set calls take
 * effect from the next frame and clear nothing; a setup by a chain clears
 * the lines, restarts the oscillator and gives every voice the last mix.
 * ====================================================================== */

/** New chorus for blocks of up to frames frames of channels channels at
 *  sampleRate Hz: voices (0 ... 64) voices at delaytime ms, swept by depth
 *  ms once per speed seconds (0: no sweep), each at mix percent, the dry
 *  signal at orgMix percent. Null for more than 64 voices or no memory. */
DSPFX_API DspEffect* initChorus(uint32_t frames, uint32_t channels, uint32_t sampleRate, uint32_t voices, float delaytime, float depth, float speed, float mix, float orgMix) DSPFX_NOEXCEPT;
/** Processes bytes bytes of PCM from in into the same number of bytes in out
 *  (in and out may be the same buffer). 1, also for 0 bytes. */
DSPFX_API uint32_t doChorus(DspEffect* chorus, const int16_t* in, int16_t* out, uint32_t bytes) DSPFX_NOEXCEPT;
/** Level of the dry signal in percent. 1. */
DSPFX_API uint32_t setChorusOrgMix(DspEffect* chorus, float orgMix) DSPFX_NOEXCEPT;
/** Level of voice (0 ... voices - 1) in percent; a later setup gives this
 *  level to every voice. 1; 0 for a voice outside the range (nothing
 *  changes). */
DSPFX_API uint32_t setChorusMix(DspEffect* chorus, int32_t voice, float mix) DSPFX_NOEXCEPT;
/** Seconds per sweep cycle; 0 holds every voice at its own fixed point of
 *  the cycle. The current place in the cycle is kept. 1. */
DSPFX_API uint32_t setChorusSpeed(DspEffect* chorus, float speed) DSPFX_NOEXCEPT;
/** Sweep depth in ms either side of the base delay. 1. */
DSPFX_API uint32_t setChorusDepth(DspEffect* chorus, float depth) DSPFX_NOEXCEPT;
/** Base delay in ms. 1. */
DSPFX_API uint32_t setChorusDelaytime(DspEffect* chorus, float delaytime) DSPFX_NOEXCEPT;
/** Destroys the chorus: 1; 0 for an invalid handle or one owned by a chain. */
DSPFX_API uint32_t termChorus(DspEffect* chorus) DSPFX_NOEXCEPT;

/* ----------------------------------------------------------------------
 * WaveSlice: cuts a stream into slices at its attacks. It follows the
 * envelope of the mono-mixed input (1 ms peak hold, 33 Hz smoothing), opens
 * a slice at the last valley when the envelope, at or above the opening
 * level, has risen by the rise from that valley; closes it when the
 * envelope falls below the closing level once the slice is longer than the
 * minimum; and cuts it at the valley when a new attack comes while it is
 * open. Positions count frames since init. Produces no audio.
 * ---------------------------------------------------------------------- */

/** One finished slice, in a doubly linked list owned by the slicer: next
 *  and prev are null at the ends; start and end in seconds since init.
 *  16 bytes on 32-bit targets. Read-only for the host. */
typedef struct SliceRecord {
  struct SliceRecord* next;
  struct SliceRecord* prev;
  float start;
  float end;
} SliceRecord;
#ifdef __cplusplus
static_assert(sizeof(void*) != 4 || sizeof(SliceRecord) == 16, "SliceRecord is 16 bytes on 32-bit targets");
static_assert(sizeof(void*) != 8 || sizeof(SliceRecord) == 24, "SliceRecord is 24 bytes on 64-bit targets");
#else
_Static_assert(sizeof(void*) != 4 || sizeof(SliceRecord) == 16, "SliceRecord is 16 bytes on 32-bit targets");
_Static_assert(sizeof(void*) != 8 || sizeof(SliceRecord) == 24, "SliceRecord is 24 bytes on 64-bit targets");
#endif

/** Creates a slicer for blocks of up to capacityFrames (>= 1) frames at
 *  sampleRate Hz (> 66); channels 2 = stereo (mixed to mono), else mono.
 *  openLevelDb and closeLevelDb are envelope levels in dB of full scale,
 *  risePercent the rise in percent of full scale, minSliceTime the minimum
 *  length in seconds (0, negative or NaN: none). Null for other rates or
 *  capacities, or when memory is short. */
DSPFX_API DspEffect* initWaveSlice(uint32_t capacityFrames, uint32_t channels, uint32_t sampleRate,
                                   float openLevelDb, float closeLevelDb, float risePercent,
                                   float minSliceTime) DSPFX_NOEXCEPT;
/** Analyses one PCM block of bytes (whole frames only). 1; 0 for a bad
 *  handle, null in with bytes > 0 or a block above capacity (nothing
 *  analysed). */
DSPFX_API uint32_t doWaveSlice(DspEffect* handle, const int16_t* in, uint32_t bytes) DSPFX_NOEXCEPT;
/** Closes an open slice as stopWaveSlice does, then returns slice number
 *  index (0 = first), or the last one when index is beyond it; null when
 *  there are no slices or for a bad handle. Records stay valid until
 *  termWaveSlice. */
DSPFX_API const SliceRecord* getWaveSlice(DspEffect* handle, uint32_t index) DSPFX_NOEXCEPT;
/** Ends an open slice at the current position and returns the number of
 *  slices; calling it again changes nothing. 0 for a bad handle. */
DSPFX_API uint32_t stopWaveSlice(DspEffect* handle) DSPFX_NOEXCEPT;
/** Destroys the slicer and all its records. 1, or 0 for a bad handle. */
DSPFX_API uint32_t termWaveSlice(DspEffect* handle) DSPFX_NOEXCEPT;

/* ----------------------------------------------------------------------
 * Analysers: Fft, FftAnalyze and EnvAnalyze. They produce no audio; their
 * results go to a float array of the caller's. Spectra hold fftSize/2
 * values per spectrum, bin k at k * sampleRate / fftSize Hz, each
 * 20 log10 of the unscaled magnitude of the raised-cosine windowed frame
 * (a full-scale sine on a bin reads about 20 log10(fftSize / 4) dB), never
 * below the floor; bin 0 combines 0 Hz and half the rate. A second
 * spectrum follows the first. The three families share one destroy
 * function (termFft = termFftAnalyze = termEnvAnalyze), but each do call
 * refuses (0) an object made by another family's init.
 * ---------------------------------------------------------------------- */

/** Creates a block spectrum analyser: each doFft windows and transforms one
 *  block, zero-padded to capacityFrames, which is the transform size (a
 *  power of two, 4 ... 32768). channels 2 = stereo, else mono.
 *  spectrumChannels 1 analyses the (stereo: averaged) input, 2 gives the
 *  left then the right spectrum (mono: the same one twice), any other value
 *  the left channel alone. floorDb: the lowest value reported is -floorDb
 *  dB. Null for any other size or no memory. */
DSPFX_API DspEffect* initFft(uint32_t capacityFrames, uint32_t channels, uint32_t spectrumChannels,
                             uint32_t floorDb) DSPFX_NOEXCEPT;
/** Writes the spectra of one PCM block of bytes (up to capacityFrames
 *  frames, 0 allowed: silence) to out, which must hold capacityFrames/2
 *  floats per spectrum. Returns capacityFrames/2, the bins per spectrum; 0
 *  for a bad handle, null out, null in with bytes > 0 or a block above
 *  capacity (nothing written). Keeps no state between calls. */
DSPFX_API uint32_t doFft(DspEffect* handle, const int16_t* in, float* out, uint32_t bytes) DSPFX_NOEXCEPT;
/** Creates a sliding spectrum analyser: each call appends capacityFrames
 *  frames (a short block padded with silence) to a history of
 *  historyLength frames per channel, starting silent, and transforms its
 *  newest fftSize frames, so spectra may overlap. fftSize is a power of two
 *  4 ... 32768; historyLength >= fftSize and >= capacityFrames >= 1; floor
 *  -120 dB. channels 2 = stereo (two spectra), else mono. Null otherwise or
 *  when memory is short. */
DSPFX_API DspEffect* initFftAnalyze(uint32_t capacityFrames, uint32_t channels, uint32_t fftSize,
                                    uint32_t historyLength) DSPFX_NOEXCEPT;
/** Advances the history by one block of bytes and writes fftSize/2 floats
 *  per channel to out. 1; 0 for a bad handle, null out, null in with
 *  bytes > 0 or a block above capacity (nothing written or advanced). */
DSPFX_API uint32_t doFftAnalyze(DspEffect* handle, const int16_t* in, float* out, uint32_t bytes) DSPFX_NOEXCEPT;
/** Creates an envelope analyser for blocks of up to capacityFrames (>= 1)
 *  frames at sampleRate Hz (> 66): per channel the peak of the rectified
 *  signal over the last trunc(sampleRate / 1000) frames (at least 1),
 *  reaching back across blocks, smoothed by a second-order 33 Hz
 *  Butterworth low-pass. Null otherwise or when memory is short. */
DSPFX_API DspEffect* initEnvAnalyze(uint32_t capacityFrames, uint32_t channels, uint32_t sampleRate) DSPFX_NOEXCEPT;
/** Follows one PCM block of bytes and, when out is not null, writes one
 *  value per frame, planar (all left frames, then all right ones): the
 *  envelope times 32767 truncated toward zero, stored as a float (0 ...
 *  32767, a little beyond where the smoother overshoots). The envelopes
 *  advance also when out is null. 1; 0 for a bad handle, null in with
 *  bytes > 0 or a block above capacity (nothing written or advanced). */
DSPFX_API uint32_t doEnvAnalyze(DspEffect* handle, const int16_t* in, float* out, uint32_t bytes) DSPFX_NOEXCEPT;
/** Destroys an analyser of any of the three families. 1, or 0 for a bad
 *  handle (nothing touched). termFftAnalyze and termEnvAnalyze are the
 *  same function. */
DSPFX_API uint32_t termFft(DspEffect* handle) DSPFX_NOEXCEPT;
DSPFX_API uint32_t termFftAnalyze(DspEffect* handle) DSPFX_NOEXCEPT;
DSPFX_API uint32_t termEnvAnalyze(DspEffect* handle) DSPFX_NOEXCEPT;

/* ======================================================================
 * Wave files
 *
 * A reader hands out the sample data of a RIFF WAVE file block by block; a
 * writer creates one. Reader sizes count 16-bit samples: a frame is
 * 2 * channels bytes whatever the file's bits per sample, and the bytes are
 * passed on as they lie in the file. File names are 8-bit strings given to
 * the C library unchanged. A reader or writer is used by one thread at a
 * time; distinct ones may live on different threads. Null, destroyed and
 * foreign handles get 0 (null from the pointer calls) and nothing happens.
 * ====================================================================== */

/** Opaque handle of an open wave file reader. */
typedef struct WavefileIn WavefileIn;
/** Opaque handle of an open wave file writer. */
typedef struct WavefileOut WavefileOut;

#pragma pack(push, 1)
/** The 18-byte format record of a "fmt " chunk, little-endian, packed. Its
 *  fields, widths and order are those of the Windows WAVEFORMATEX, so a
 *  pointer to one may be cast to the other; the record has a name of its
 *  own so that both can be declared in one translation unit. */
typedef struct WavefileFormat {
  uint16_t formatTag;      /* 1: integer PCM */
  uint16_t channels;
  uint32_t samplesPerSec;  /* Hz */
  uint32_t avgBytesPerSec;
  uint16_t blockAlign;     /* bytes per frame */
  uint16_t bitsPerSample;
  uint16_t extraSize;      /* bytes of format data following these 18 */
} WavefileFormat;

/** State of an open reader, read by the host through getHeaderWavefileIn.
 *  Packed: 38 bytes with 4-byte pointers, 42 with 8-byte pointers. */
typedef struct WavefileInHeader {
  void* buffer;            /* current block buffer, see readWavefileIn */
  uint32_t dataBytes;      /* bytes of sample data the file holds */
  int32_t bytesRead;       /* result of the last read; 0 after open */
  uint32_t reserved0;      /* not used by the library */
  uint32_t reserved1;      /* 0 */
  uint32_t reserved2;      /* 0 */
  uint8_t reserved3[10];   /* not used by the library */
  float seconds;           /* (dataBytes / (2 * channels)) / samplesPerSec */
} WavefileInHeader;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(WavefileFormat) == 18, "WavefileFormat must match WAVEFORMATEX");
static_assert(sizeof(void*) != 4 || sizeof(WavefileInHeader) == 38, "38-byte header");
static_assert(sizeof(void*) != 8 || sizeof(WavefileInHeader) == 42, "42-byte header");
#else
_Static_assert(sizeof(WavefileFormat) == 18, "WavefileFormat must match WAVEFORMATEX");
_Static_assert(sizeof(void*) != 4 || sizeof(WavefileInHeader) == 38, "38-byte header");
_Static_assert(sizeof(void*) != 8 || sizeof(WavefileInHeader) == 42, "42-byte header");
#endif

/** Opens fileName for reading with a zero-filled block buffer of frames
 *  frames (frames * 2 * channels bytes, 0 allowed) and positions it at the
 *  first sample byte. Null when the file is missing or unreadable, has no
 *  RIFF "WAVE" form, no "fmt " (of at least 16 bytes) or "data" chunk, 0
 *  channels or 0 samples per second, or the buffer would exceed 2^31-1
 *  bytes. A chunk declared longer than the file ends where the file does,
 *  and a RIFF size of 0 (a writer never closed) means up to the end. */
DSPFX_API WavefileIn* initWavefileIn(const char* fileName, uint32_t frames) DSPFX_NOEXCEPT;
/** The reader's copy of the file's format (extraSize 0 when the chunk has
 *  16 or 17 bytes); owned by the reader, valid until termWavefileIn. */
DSPFX_API WavefileFormat* getFormatWavefileIn(WavefileIn* reader) DSPFX_NOEXCEPT;
/** The reader's header; owned by the reader, valid until termWavefileIn. */
DSPFX_API WavefileInHeader* getHeaderWavefileIn(WavefileIn* reader) DSPFX_NOEXCEPT;
/** Reads frames frames (frames * 2 * channels bytes) from the current
 *  position; returns the bytes read (0 at the end of the file, -1 on an I/O
 *  error), also stored in the header's bytesRead. With buffer non-null the
 *  bytes go there and buffer becomes the header's buffer: it is lent, stays
 *  the caller's, and later reads with null fill it, at most as many bytes as
 *  the read that lent it. With null they go to the current buffer, at most
 *  its size. Reads do not stop at the end of the "data" chunk: a host stops
 *  at dataBytes. */
DSPFX_API int32_t readWavefileIn(WavefileIn* reader, void* buffer, uint32_t frames) DSPFX_NOEXCEPT;
/** Moves offset bytes from the current position (mode 0: from the first
 *  sample byte). Returns the new position from the start of the file; -1
 *  when it would be negative or above 2^31-1 (the position is then
 *  unchanged, except that mode 0 has gone to the first sample byte); 0 when
 *  mode 0 no longer finds the "data" chunk. */
DSPFX_API int32_t seekWavefileIn(WavefileIn* reader, int32_t offset, int32_t mode) DSPFX_NOEXCEPT;
/** As seekWavefileIn by trunc(samplesPerSec * seconds) frames, seconds a
 *  32-bit float that may be negative; NaN and infinities give -1. */
DSPFX_API int32_t timeSeekWavefileIn(WavefileIn* reader, float seconds, int32_t mode) DSPFX_NOEXCEPT;
/** Replaces the reader's own block buffer by a zero-filled one of frames
 *  frames, larger or smaller, makes it the header's buffer and returns it.
 *  A lent caller buffer is left alone. Null (old buffer kept) when the size
 *  would exceed 2^31-1 bytes or memory is short. */
DSPFX_API void* bufSizeExtendWavefileIn(WavefileIn* reader, uint32_t frames) DSPFX_NOEXCEPT;
/** Closes the file, frees the reader's own buffer and destroys the reader. */
DSPFX_API void termWavefileIn(WavefileIn* reader) DSPFX_NOEXCEPT;

/** Creates (or truncates) fileName and writes the RIFF header, an 18-byte
 *  "fmt " chunk holding *format exactly, and a "data" chunk header that says
 *  307200 bytes until the writer is closed (the RIFF size says 0 until
 *  then). Null, leaving no file, when format is null or the file cannot be
 *  created or written. Output is buffered in 128 KiB. */
DSPFX_API WavefileOut* initWavefileOut(const char* fileName, const WavefileFormat* format) DSPFX_NOEXCEPT;
/** The writer's copy of the format; owned by the writer. */
DSPFX_API WavefileFormat* getFormatWavefileOut(WavefileOut* writer) DSPFX_NOEXCEPT;
/** Appends count bytes, uninterpreted, to the sample data; returns count,
 *  0 when bytes is null or count <= 0, -1 on an I/O error or when the data
 *  would outgrow what a RIFF size field can record. */
DSPFX_API int32_t writeWavefileOut(WavefileOut* writer, const void* bytes, int32_t count) DSPFX_NOEXCEPT;
/** Pushes buffered bytes to the file: 1, or 0 on an I/O error. */
DSPFX_API uint32_t flushWavefileOut(WavefileOut* writer) DSPFX_NOEXCEPT;
/** Pads odd data with a zero byte, writes the real chunk sizes, closes the
 *  file and destroys the writer. Returns the bytes of sample data recorded
 *  in the file, 0 when the sizes could not be written. */
DSPFX_API uint32_t termWavefileOut(WavefileOut* writer) DSPFX_NOEXCEPT;

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* DSPFX_DSPFX_H */

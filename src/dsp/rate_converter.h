#pragma once
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>

#include "core/dsp_object.h"
#include "dsp/biquad_cascade.h"
#include "dsp/polyphase_resampler.h"

namespace dspfx {

// Weight of the four-point cubic convolution kernel (a = -1) at distance t
// from the output position; the sign of t is ignored. Callers hand over the
// distance already rounded to single precision, the weight is a double.
// Inline: the interpolators call it four times per output sample.
inline double cubicWeight(float t) {
  const double x = std::fabs(static_cast<double>(t));
  if (x < 1.0) return 1.0 - (2.0 - x) * x * x;
  if (x < 2.0) return 4.0 - (8.0 - (5.0 - x) * x) * x;
  return 0.0;
}

// The one size rule for every output count of a rate change:
// trunc((count / fromRate) * toRate) in double precision, division first, so
// that an announced size always matches what a conversion produces. A zero
// fromRate gives 0; results beyond 32 bits saturate.
uint32_t scaleCount(double count, uint32_t fromRate, uint32_t toRate);

// Converts one channel of float samples from srcRate to dstRate, block by
// block. Every block is cut into chunks of at most kChunkFrames input frames
// and the interpolation position restarts with every chunk; only the
// anti-alias filter state and, in cubic mode, the last three input samples
// carry over from one chunk or call to the next.
//
// Two other qualities keep time across blocks instead. Streaming (1) runs
// the same interpolation and filter, but its read position (a whole index
// and a numerator over the reduced rate ratio) and the samples it still
// needs are carried from call to call, so after n input frames exactly
// ceil(n * dst / src) outputs exist whatever the blocks were. Band-limited
// (2) does the same with a PolyphaseResampler and no IIR filter. In both a
// block's count can be one above the size rule; dstSize and maxDst then
// announce the most a block can give.
class RateConverter : public DspObject {
 public:
  static constexpr int32_t kQualityDesign = 0;
  static constexpr int32_t kQualityStreaming = 1;
  static constexpr int32_t kQualityBandLimited = 2;
  // Phases of the streaming interpolation whose weights are kept in a table.
  static constexpr uint32_t kMaxStreamPhases = 2048;

  static constexpr uint32_t kChunkFrames = 4096;
  // Upper bound of the anti-alias order estimate, reached only by absurd
  // slopes (a transition band of almost no width).
  static constexpr int32_t kMaxFilterOrder = 256;
  // Longest chunk output whose interpolation plan is kept (see plan below).
  static constexpr uint32_t kMaxPlanOutputs = 4 * kChunkFrames;

  RateConverter() = default;
  ~RateConverter() override;

  // A full reset. Returns maxDst, the most output frames one call of at most
  // capacity frames can produce (0 when the buffers could not be had).
  // interpolation: 0 linear, anything else cubic. The anti-alias low-pass
  // reaches stopbandDb at half the lower rate, stopbandDb / slopeDbPerOctave
  // octaves above its pass-band edge, with rippleDb of pass-band ripple.
  uint32_t configure(uint32_t capacity, uint32_t srcRate, uint32_t dstRate, int32_t interpolation,
                     float stopbandDb, float slopeDbPerOctave, bool antiAlias, float rippleDb);
  // Output frames written to out (at most maxDst). in and out must not
  // overlap unless the rates are equal. frames above capacity are not read.
  uint32_t convert(const float* in, float* out, uint32_t frames);
  // convert(inL, outL, frames) on this converter and convert(inR, outR,
  // frames) on right, with the anti-alias filters of the two run side by
  // side when both are configured alike. Returns this one's count.
  uint32_t convertPair(RateConverter& right, const float* inL, const float* inR, float* outL,
                       float* outR, uint32_t frames);
  // Output frames for size input frames (any unit scales alike); in the
  // streaming qualities the most a block of size frames can give.
  uint32_t dstSize(uint32_t size) const {
    return quality == kQualityDesign ? scaleCount(size, srcRate, dstRate) : streamCount(size);
  }
  // Picks the quality and, on a configured converter, configures it again
  // with the same settings (a full reset). False for an unknown value, or
  // when memory cannot be had (the converter is then unallocated).
  bool setQuality(int32_t value);
  int32_t quality = kQualityDesign;

  ChebyshevCascade filter;
  int32_t direction = 0;
  uint32_t srcRate = 0;
  uint32_t dstRate = 0;
  uint32_t capacity = 0;
  uint32_t maxDst = 0;
  uint32_t lastChunk = 0;
  float* scratch = nullptr;
  float* history = nullptr;
  int32_t interpolation = 0;
  bool antiAlias = false;

 private:
  struct AlignedFree {
    void operator()(void* p) const { ::operator delete[](p, std::align_val_t{16}); }
  };

  void releaseBuffers();
  // ceil(size * dst / src) over the reduced ratio.
  uint32_t streamCount(uint32_t size) const;
  bool prepareStreaming();
  uint32_t convertStreaming(const float* in, float* out, uint32_t frames);
  // Appends frames source samples to the carried ones and writes every
  // output whose samples are now all there.
  uint32_t interpolateStreaming(const float* src, float* out, uint32_t frames);
  uint32_t linearStreaming(const float* h, float* out);
  uint32_t cubicStreaming(const float* h, float* out);
  void advance(uint64_t& phase, uint32_t& index) const {
    phase += stepRest;
    index += stepWhole;
    if (phase >= phaseDen) {
      phase -= phaseDen;
      ++index;
    }
  }
  // Every chunk restarts its position at the same value and steps it by the
  // same sum, so output i of any chunk has the same source index and
  // fraction. The plan keeps them, for the outputs a chunk of up to
  // kChunkFrames input frames can ask for: the index before limiting, and
  // the fraction (linear) or the four cubic weights, the latter stored in
  // pairs of outputs so that two outputs load their weights together. No
  // plan (too many outputs per chunk, or no memory) means the same numbers
  // are computed as the chunk runs.
  void buildPlan();
  void interpolate(const float* src, float* out, uint32_t frames, uint32_t total);
  uint32_t linearChunk(const float* x, uint32_t chunk, float* out, uint32_t count, double step);
  uint32_t cubicChunk(const float* x, uint32_t chunk, float* out, uint32_t count, double step);
  void linearPlanned(const float* x, uint32_t chunk, float* out, uint32_t count) const;
  void cubicPlanned(const float* h, uint32_t chunk, float* out, uint32_t count) const;

  std::unique_ptr<uint32_t[], AlignedFree> planWhole;
  std::unique_ptr<double[], AlignedFree> planValues;
  // Outputs the plan covers; 0 when there is none.
  uint32_t planOutputs = 0;
  uint32_t planWholeCapacity = 0;
  uint32_t planValueCapacity = 0;

  // configure's last filter settings, for setQuality.
  float lastStopbandDb = 0.0f;
  float lastSlopeDbPerOctave = 0.0f;
  float lastRippleDb = 0.0f;

  // The streaming position: one output every stepWhole + stepRest / phaseDen
  // source samples; history holds streamFill samples, the next output reads
  // from streamIndex at streamPhase / phaseDen past it.
  uint64_t phaseDen = 1;
  uint64_t stepWhole = 1;
  uint64_t stepRest = 0;
  uint32_t streamTaps = 0;
  uint32_t streamFill = 0;
  uint32_t streamIndex = 0;
  uint64_t streamPhase = 0;
  // Per phase numerator p, the values of p and of the phase after it side
  // by side (linear: 2 fractions; cubic: the 4 weights as 4 pairs), so two
  // consecutive outputs load theirs together. Null: computed as they go.
  std::unique_ptr<double[], AlignedFree> pairTable;
  size_t pairTableCapacity = 0;
  PolyphaseResampler band;
};

}  // namespace dspfx

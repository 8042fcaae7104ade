#pragma once
#include <cstdint>
#include <memory>
#include <new>

namespace dspfx {

// Streaming band-limited sample-rate converter: a windowed-sinc (Kaiser)
// low-pass evaluated at the phase of every output, from a table of
// polyphase rows.
//
// Time is kept exactly: the read position is an integer sample index plus
// a numerator over the ratio's denominator, carried from block to block, so
// after n input frames exactly ceil(n * dst / src) outputs have been given
// whatever the blocks were. For a pair of whole rates whose reduced
// denominator is small every phase has its own row; otherwise (odd rate
// pairs, a free ratio) the coefficients are interpolated between the two
// nearest of kInterpolatedPhases rows.
//
// The pass band reaches kPassband of the lower Nyquist frequency. Down-
// sampling puts the stop band at the new Nyquist frequency, so nothing
// above it folds back; up-sampling puts it where the images of the pass
// band begin. Outputs lag their input by latency() input frames: the
// converter starts from silence and never waits for input it does not have.
//
// Channels are independent streams sharing one filter; each keeps its own
// history and position, so they may be driven together or one by one.
class PolyphaseResampler {
 public:
  static constexpr uint32_t kMaxChannels = 2;
  static constexpr double kPassband = 0.91;
  static constexpr double kStopbandDb = 95.0;
  // Rows of the exact table at most, and of the interpolated one.
  static constexpr uint32_t kMaxExactPhases = 1280;
  static constexpr uint32_t kInterpolatedPhases = 512;
  // Bounds the filter of an extreme down-sampling ratio; beyond it the
  // transition band widens instead.
  static constexpr uint32_t kMaxTaps = 8192;

  PolyphaseResampler() = default;
  ~PolyphaseResampler() = default;
  PolyphaseResampler(const PolyphaseResampler&) = delete;
  PolyphaseResampler& operator=(const PolyphaseResampler&) = delete;

  // Sets up for srcRate -> dstRate (Hz, both above 0) and blocks of at
  // most maxFrames input frames per channel; a full reset. False for a zero
  // rate or channel count, or when memory cannot be had (the converter then
  // produces nothing).
  bool configure(uint32_t srcRate, uint32_t dstRate, uint32_t channels, uint32_t maxFrames);
  // The same for a free ratio of output to input rate (above 0, at most
  // 2^16 either way); the position is kept over a denominator of 2^24.
  bool configureRatio(double dstPerSrc, uint32_t channels, uint32_t maxFrames);
  // Silence in every history, positions back to the start.
  void reset();

  // Converts frames input frames (at most maxFrames) of one channel into
  // out; returns the outputs written. out must hold maxOutput(frames)
  // floats; outputs beyond outCapacity are dropped, the stream keeps time.
  // in and out must not overlap.
  uint32_t processChannel(uint32_t channel, const float* in, uint32_t frames, float* out,
                          uint32_t outCapacity);
  // Every channel at once: in[c] and out[c] per channel. Returns the
  // outputs per channel (the channels were driven alike, so they agree).
  uint32_t process(const float* const* in, uint32_t frames, float* const* out, uint32_t outCapacity);
  // One-channel converters set up alike and driven alike: this one's
  // channel and right's, with this one's rows read once for both (results
  // as processChannel on each). Returns this one's count.
  uint32_t processTwins(PolyphaseResampler& right, const float* inLeft, const float* inRight,
                        uint32_t frames, float* outLeft, float* outRight, uint32_t outCapacity);

  // The most outputs a block of frames input frames can give:
  // ceil(frames * dst / src).
  uint32_t maxOutput(uint32_t frames) const;
  // Input frames by which the outputs trail the input.
  double latency() const { return static_cast<double>(taps_) / 2.0; }

  bool ready() const { return ready_; }
  bool exactPhases() const { return exact_; }
  uint32_t taps() const { return taps_; }
  uint32_t channels() const { return channels_; }
  uint32_t maxFrames() const { return maxFrames_; }
  // Row r of the table (taps() floats, a multiple of 4, 16-byte aligned).
  // Exact rows come in the order outputs use them: row r serves the phase
  // (r * src / dst) mod 1.
  const float* row(uint32_t r) const { return coef_.get() + size_t{r} * taps_; }
  uint32_t rows() const { return rows_; }

  // The two dot-product forms; process picks SSE2 when the processor
  // switch allows it. Public so that tests can hold one against the other.
  static float dotScalar(const float* c, const float* x, uint32_t n);
  static float dotSse(const float* c, const float* x, uint32_t n);
  // Both channels of a pair through one row, each summed as dotSse sums it.
  static void dotPairSse(const float* c, const float* xa, const float* xb, uint32_t n, float* ya,
                         float* yb);
  static float blendScalar(const float* c0, const float* c1, const float* x, uint32_t n, float f);
  static float blendSse(const float* c0, const float* c1, const float* x, uint32_t n, float f);

 private:
  struct AlignedFree {
    void operator()(float* p) const { ::operator delete[](p, std::align_val_t{16}); }
  };
  using Floats = std::unique_ptr<float[], AlignedFree>;

  struct Stream {
    Floats history;
    // Samples held in history, and the first one the next output reads.
    uint32_t fill = 0;
    uint32_t index = 0;
    // Position between index and index + 1, in 1 / den_.
    uint64_t phase = 0;
    // Outputs since the phase was last 0, modulo the period of den_ outputs:
    // the exact table's row.
    uint32_t cycle = 0;
  };

  bool build(uint64_t num, uint64_t den, double dstPerSrc, uint32_t channels, uint32_t maxFrames);
  void design(double passEdge, double stopEdge);
  uint32_t run(Stream& s, float* out, uint32_t outCapacity, bool sse);
  bool inStep(const Stream& a, const Stream& b) const;
  uint32_t runTwins(Stream& a, Stream& b, const float* inA, const float* inB, uint32_t frames,
                    float* outA, float* outB, uint32_t outCapacity);

  Floats coef_;
  Stream streams_[kMaxChannels];
  // Output step in input frames: step_ / den_, as whole frames and rest.
  uint64_t den_ = 1;
  uint64_t step_ = 1;
  uint64_t stepWhole_ = 1;
  uint64_t stepRest_ = 0;
  uint32_t taps_ = 0;
  uint32_t rows_ = 0;
  uint32_t channels_ = 0;
  uint32_t maxFrames_ = 0;
  uint32_t historyCapacity_ = 0;
  bool exact_ = true;
  bool copy_ = false;
  bool ready_ = false;
};

}  // namespace dspfx

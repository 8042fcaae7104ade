#include "eq/resonator_section.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "eq/linear_gain.h"
#include "dsp/double_pair.h"

namespace dspfx {

void ResonatorSection::init(int32_t rate, const GraphicEqBand& band) {
  sampleRate = rate;
  setGain(band.gainDb);
  w1 = 0.0f;
  w2 = 0.0f;
  design(band.frequency, band.zeroRadius, band.poleRadius);
  allocated = true;
}

void ResonatorSection::setGain(float gainDb) {
  linearGain = linearFromDb(gainDb);
  effectiveGain = static_cast<float>(double{normaliser} * linearGain);
}

void ResonatorSection::design(float frequencyHz, float zeroRadius, float poleRadius) {
  frequency = frequencyHz;
  // A rate of zero has no frequency axis; the band then sits at 0 Hz rather
  // than dividing by zero.
  const double omega =
      sampleRate > 0 ? 2.0 * std::numbers::pi * frequencyHz / static_cast<double>(sampleRate) : 0.0;
  const double c = std::cos(omega);
  a1 = static_cast<float>(2.0 * poleRadius * c);
  a2 = static_cast<float>(-(double{poleRadius} * poleRadius));
  b0 = 1.0f;
  b1 = static_cast<float>(-2.0 * zeroRadius * c);
  b2 = static_cast<float>(double{zeroRadius} * zeroRadius);

  // The response is measured from the stored float coefficients, so the
  // normalisation matches the filter that actually runs.
  const std::complex<double> e(c, -std::sin(omega));
  const std::complex<double> e2 = e * e;
  const std::complex<double> numerator = 1.0 + double{b1} * e + double{b2} * e2;
  const std::complex<double> denominator = 1.0 - double{a1} * e - double{a2} * e2;
  if (denominator == 0.0) {
    // A pole on the unit circle at the band frequency: the response there
    // is unbounded and its reciprocal is zero.
    normaliser = 0.0f;
  } else {
    const double m = std::abs(numerator / denominator);
    // A zero on the unit circle at the band frequency cannot be normalised;
    // such a band is left as designed (a notch scaled by its gain).
    normaliser = m == 0.0 ? 1.0f : static_cast<float>(1.0 / m);
  }
  effectiveGain = static_cast<float>(double{linearGain} * normaliser);
}

namespace {

// Sections run side by side, two to a DoublePair. One section's recursion
// is a chain of dependent operations whose latency, not its arithmetic, sets
// the pace; a dozen independent chains in one pass keep the pipeline full,
// and more would only push the states out of the registers.
constexpr int kMaxPairs = 6;

struct PairCoefficients {
  DoublePair a1, a2, b1, b2, g;
};

// One sample of two sections: returns both outputs, advances both states.
// The expressions are those of a single section, evaluated in the same order,
// except that b0 w is taken as w, which it is exactly when b0 is 1, as every
// design makes it.
inline DoublePair step(const PairCoefficients& c, DoublePair x, DoublePair& w1, DoublePair& w2) {
  const DoublePair w = x + c.a1 * w1 + c.a2 * w2;
  const DoublePair y = c.g * (w + c.b1 * w1 + c.b2 * w2);
  w2 = w1;
  // The state is a float between samples, as stored; the current internal
  // value is used at full width before that.
  w1 = roundToFloat(w);
  return y;
}

// Runs the 2P sections (2P - 1 when the last pair is not Full) over the
// block. The outputs are added to out one section after another, rounding
// to float after each addition, exactly as section-by-section passes would;
// two samples at a time, one per lane of the running sum. Whether the last
// pair is full is fixed per instance rather than tested in the loop: besides
// the branch, this keeps a compiler's vectoriser away from the portable form,
// which some have been seen to mistranslate.
template <int P, bool Full>
void runPairs(ResonatorSection* s, const float* in, float* out, uint32_t frames, bool accumulate) {
  PairCoefficients c[P];
  DoublePair w1[P], w2[P];
  for (int p = 0; p < P; ++p) {
    const ResonatorSection& lo = s[2 * p];
    // The upper lane of a last pair that is not full runs a copy of the
    // lower one; it is never added nor stored.
    const ResonatorSection& hi = p + 1 < P || Full ? s[2 * p + 1] : lo;
    c[p] = {pairOf(lo.a1, hi.a1), pairOf(lo.a2, hi.a2), pairOf(lo.b1, hi.b1), pairOf(lo.b2, hi.b2),
            pairOf(lo.effectiveGain, hi.effectiveGain)};
    w1[p] = pairOf(lo.w1, hi.w1);
    w2[p] = pairOf(lo.w2, hi.w2);
  }
  // -0 + y is y for every y, -0 and NaN included: a sum that starts from it
  // starts from the first section's output as it stands.
  const DoublePair start = splat(-0.0);

  uint32_t i = 0;
  for (; i + 2 <= frames; i += 2) {
    const DoublePair x0 = splat(in[i]);
    const DoublePair x1 = splat(in[i + 1]);
    DoublePair sum = accumulate ? loadFloats(out + i) : start;
    for (int p = 0; p + 1 < P; ++p) {
      const DoublePair y0 = step(c[p], x0, w1[p], w2[p]);
      const DoublePair y1 = step(c[p], x1, w1[p], w2[p]);
      sum = roundToFloat(sum + lows(y0, y1));
      sum = roundToFloat(sum + highs(y0, y1));
    }
    const DoublePair y0 = step(c[P - 1], x0, w1[P - 1], w2[P - 1]);
    const DoublePair y1 = step(c[P - 1], x1, w1[P - 1], w2[P - 1]);
    sum = roundToFloat(sum + lows(y0, y1));
    if constexpr (Full) sum = roundToFloat(sum + highs(y0, y1));
    storeFloats(out + i, sum);
  }
  if (i < frames) {
    const DoublePair x = splat(in[i]);
    DoublePair sum = accumulate ? splat(out[i]) : start;
    for (int p = 0; p + 1 < P; ++p) {
      const DoublePair y = step(c[p], x, w1[p], w2[p]);
      sum = roundToFloat(sum + lows(y, y));
      sum = roundToFloat(sum + highs(y, y));
    }
    const DoublePair y = step(c[P - 1], x, w1[P - 1], w2[P - 1]);
    sum = roundToFloat(sum + lows(y, y));
    if constexpr (Full) sum = roundToFloat(sum + highs(y, y));
    out[i] = static_cast<float>(low(sum));
  }

  for (int p = 0; p < P; ++p) {
    s[2 * p].w1 = static_cast<float>(low(w1[p]));
    s[2 * p].w2 = static_cast<float>(low(w2[p]));
    if (p + 1 < P || Full) {
      s[2 * p + 1].w1 = static_cast<float>(high(w1[p]));
      s[2 * p + 1].w2 = static_cast<float>(high(w2[p]));
    }
  }
}

// Section after section over the block: the form for sections whose b0 is
// not the designed 1.
void runEach(ResonatorSection* s, uint32_t count, const float* in, float* out, uint32_t frames,
             bool accumulate) {
  for (uint32_t k = 0; k < count; ++k) {
    ResonatorSection& q = s[k];
    double w1 = q.w1, w2 = q.w2;
    for (uint32_t i = 0; i < frames; ++i) {
      const double w = in[i] + q.a1 * w1 + q.a2 * w2;
      const double y = q.effectiveGain * (q.b0 * w + q.b1 * w1 + q.b2 * w2);
      w2 = w1;
      w1 = static_cast<float>(w);
      out[i] = accumulate || k != 0 ? static_cast<float>(out[i] + y) : static_cast<float>(y);
    }
    q.w1 = static_cast<float>(w1);
    q.w2 = static_cast<float>(w2);
  }
}

void runGroup(ResonatorSection* s, uint32_t count, const float* in, float* out, uint32_t frames,
              bool accumulate) {
  if (!std::all_of(s, s + count, [](const ResonatorSection& x) { return x.b0 == 1.0f; })) {
    return runEach(s, count, in, out, frames, accumulate);
  }
  switch (count) {
    case 1: return runPairs<1, false>(s, in, out, frames, accumulate);
    case 2: return runPairs<1, true>(s, in, out, frames, accumulate);
    case 3: return runPairs<2, false>(s, in, out, frames, accumulate);
    case 4: return runPairs<2, true>(s, in, out, frames, accumulate);
    case 5: return runPairs<3, false>(s, in, out, frames, accumulate);
    case 6: return runPairs<3, true>(s, in, out, frames, accumulate);
    case 7: return runPairs<4, false>(s, in, out, frames, accumulate);
    case 8: return runPairs<4, true>(s, in, out, frames, accumulate);
    case 9: return runPairs<5, false>(s, in, out, frames, accumulate);
    case 10: return runPairs<5, true>(s, in, out, frames, accumulate);
    case 11: return runPairs<6, false>(s, in, out, frames, accumulate);
    default: return runPairs<kMaxPairs, true>(s, in, out, frames, accumulate);
  }
}

}  // namespace

void ResonatorSection::run(const float* in, float* out, uint32_t frames, bool accumulate) {
  runGroup(this, 1, in, out, frames, accumulate);
}

void ResonatorSection::runSum(ResonatorSection* sections, uint32_t count, const float* in, float* out,
                              uint32_t frames) {
  // Groups as even as possible: fourteen bands run as eight and six, not as
  // twelve and a lone pair whose latency nothing would hide.
  const uint32_t pairs = (count + 1) / 2;
  uint32_t groups = (pairs + kMaxPairs - 1) / kMaxPairs;
  uint32_t k = 0;
  for (uint32_t left = pairs; groups > 0; --groups) {
    const uint32_t take = (left + groups - 1) / groups;
    const uint32_t n = std::min(2 * take, count - k);
    runGroup(sections + k, n, in, out, frames, k != 0);
    k += n;
    left -= take;
  }
}

}  // namespace dspfx

#include "dsp/biquad_cascade.h"

#include <algorithm>
#include <numbers>
#include <cmath>

#include "dsp/double_pair.h"

namespace dspfx {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kArrays = 7;

double asinhByLog(double x) { return std::log(x + std::sqrt(x * x + 1.0)); }

}  // namespace

BiquadCascade::~BiquadCascade() = default;

void BiquadCascade::setOrder(int32_t newOrder, int32_t kind) {
  sign = kind == kHighPass ? -1.0f : 1.0f;
  order = newOrder;
  const int64_t n = newOrder;
  const int64_t wanted = n < 1 ? 0 : (n % 2 != 0 ? (n + 1) / 2 : n / 2);
  const int32_t previous = sections;

  if (!storage_ || previous < wanted) {
    storage_.reset();
    storage_ = std::make_unique<double[]>(static_cast<size_t>(wanted) * kArrays + 1);
    double* p = storage_.get();
    const auto count = static_cast<size_t>(wanted);
    a1 = p;
    a2 = p + count;
    b0 = p + 2 * count;
    b1 = p + 3 * count;
    b2 = p + 4 * count;
    w1 = p + 5 * count;
    w2 = p + 6 * count;
  }
  sections = static_cast<int32_t>(wanted);

  for (int32_t i = 0; i < sections; ++i) {
    b0[i] = 1.0;
    b1[i] = b2[i] = 0.0;
    a1[i] = a2[i] = 0.0;
    w1[i] = w2[i] = 0.0;
  }
  allocated = true;
}

void BiquadCascade::followState(const BiquadCascade& other) {
  if (this == &other || other.sections != sections) return;
  const auto count = static_cast<size_t>(sections);
  std::copy_n(other.a1, count, a1);
  std::copy_n(other.a2, count, a2);
  std::copy_n(other.b0, count, b0);
  std::copy_n(other.b1, count, b1);
  std::copy_n(other.b2, count, b2);
  std::copy_n(other.w1, count, w1);
  std::copy_n(other.w2, count, w2);
  sampleRate = other.sampleRate;
  cutoff = other.cutoff;
}

void BiquadCascade::storeDesignFrequencies(float rate, float requestedCutoff) {
  sampleRate = rate;
  // A high-pass is the low-pass mirrored about a quarter of the rate (z -> -z).
  double fc = requestedCutoff;
  if (sign <= 0.0f) fc = 0.5 * static_cast<double>(rate) - fc;
  cutoff = static_cast<float>(fc);
}

namespace {

// Every form below computes, per section and sample, exactly
//   w = (a2 w2 + a1 w1) + x;  y = b0 w + (b2 w2 + b1 w1)
// in that order; they differ only in which section works on which sample
// when, which a section cannot tell, since its recursion depends on nothing
// but its own input and state. The result is the same bit for bit.

template <bool Add>
inline void emit(float* out, uint32_t n, double y) {
  out[n] = Add ? static_cast<float>(y + out[n]) : static_cast<float>(y);
}

// Sample by sample through all sections, everything in registers. Few
// sections cannot fill the pipeline anyway; what matters here is that no
// state goes through memory between samples.
template <int S, bool Add>
void runFew(BiquadCascade& c, const float* in, float* out, uint32_t frames) {
  double a1[S], a2[S], b0[S], b1[S], b2[S], w1[S], w2[S];
  for (int k = 0; k < S; ++k) {
    a1[k] = c.a1[k];
    a2[k] = c.a2[k];
    b0[k] = c.b0[k];
    b1[k] = c.b1[k];
    b2[k] = c.b2[k];
    w1[k] = c.w1[k];
    w2[k] = c.w2[k];
  }
  for (uint32_t n = 0; n < frames; ++n) {
    double x = in[n];
    for (int k = 0; k < S; ++k) {
      const double w = (a2[k] * w2[k] + a1[k] * w1[k]) + x;
      x = b0[k] * w + (b2[k] * w2[k] + b1[k] * w1[k]);
      w2[k] = w1[k];
      w1[k] = w;
    }
    emit<Add>(out, n, x);
  }
  for (int k = 0; k < S; ++k) {
    c.w1[k] = w1[k];
    c.w2[k] = w2[k];
  }
}

// Sections two to a DoublePair, as a pipeline: at step t section k works on
// sample t - k, so each section's input is its predecessor's output from the
// step before, one lane along. One step costs the latency of one section's
// recursion for up to about four pairs, where sample-by-sample order issues
// every section's arithmetic one value at a time. The first and last
// sections - 1 steps, where the pipeline fills and drains, run section by
// section on the same formulas.
template <int P, bool Add>
void runPipelined(BiquadCascade& c, const float* in, float* out, uint32_t frames) {
  const uint32_t count = static_cast<uint32_t>(c.sections);
  const uint32_t last = count - 1;
  double* a1 = c.a1;
  double* a2 = c.a2;
  double* b0 = c.b0;
  double* b1 = c.b1;
  double* b2 = c.b2;
  double* w1 = c.w1;
  double* w2 = c.w2;
  // Each section's latest output: the next input of the section after it.
  double y[2 * P] = {};

  auto sectionByStep = [&](uint32_t t) {
    const uint32_t first = t >= frames ? t - frames + 1 : 0;
    // Downwards, so that each section reads its predecessor's output of the
    // step before.
    for (uint32_t k = t < last ? t : last; k + 1 > first; --k) {
      const double x = k == 0 ? static_cast<double>(in[t]) : y[k - 1];
      const double w = (a2[k] * w2[k] + a1[k] * w1[k]) + x;
      y[k] = b0[k] * w + (b2[k] * w2[k] + b1[k] * w1[k]);
      w2[k] = w1[k];
      w1[k] = w;
    }
    if (t >= last) emit<Add>(out, t - last, y[last]);
  };

  // Output n leaves at step n + last and is written after input n + last
  // has been read, so in and out may be the same buffer.
  const uint64_t steps = uint64_t{frames} + last;
  uint32_t t = 0;
  for (; t < last && t < steps; ++t) sectionByStep(t);

  if (t < frames) {
    // An odd count leaves the last pair's upper lane without a section: it
    // runs with zero coefficients and feeds nothing.
    auto lane = [count](const double* v, uint32_t k) { return k < count ? v[k] : 0.0; };
    DoublePair A1[P], A2[P], B0[P], B1[P], B2[P], W1[P], W2[P], Y[P];
    for (uint32_t p = 0; p < P; ++p) {
      A1[p] = pairOf(a1[2 * p], lane(a1, 2 * p + 1));
      A2[p] = pairOf(a2[2 * p], lane(a2, 2 * p + 1));
      B0[p] = pairOf(b0[2 * p], lane(b0, 2 * p + 1));
      B1[p] = pairOf(b1[2 * p], lane(b1, 2 * p + 1));
      B2[p] = pairOf(b2[2 * p], lane(b2, 2 * p + 1));
      W1[p] = pairOf(w1[2 * p], lane(w1, 2 * p + 1));
      W2[p] = pairOf(w2[2 * p], lane(w2, 2 * p + 1));
      Y[p] = pairOf(y[2 * p], y[2 * p + 1]);
    }
    const bool lastInLow = last % 2 == 0;
    for (; t < frames; ++t) {
      DoublePair X[P];
      X[0] = lows(splat(in[t]), Y[0]);
      for (int p = 1; p < P; ++p) X[p] = across(Y[p - 1], Y[p]);
      for (int p = 0; p < P; ++p) {
        const DoublePair w = (A2[p] * W2[p] + A1[p] * W1[p]) + X[p];
        Y[p] = B0[p] * w + (B2[p] * W2[p] + B1[p] * W1[p]);
        W2[p] = W1[p];
        W1[p] = w;
      }
      emit<Add>(out, t - last, lastInLow ? low(Y[P - 1]) : high(Y[P - 1]));
    }
    for (uint32_t p = 0; p < P; ++p) {
      w1[2 * p] = low(W1[p]);
      w2[2 * p] = low(W2[p]);
      y[2 * p] = low(Y[p]);
      if (2 * p + 1 < count) {
        w1[2 * p + 1] = high(W1[p]);
        w2[2 * p + 1] = high(W2[p]);
        y[2 * p + 1] = high(Y[p]);
      }
    }
  }

  for (; t < steps; ++t) sectionByStep(t);
}

// Beyond the pipelined forms: sample by sample with the state in memory.
template <bool Add>
void runMany(BiquadCascade& c, const float* in, float* out, uint32_t frames) {
  const int32_t count = c.sections;
  for (uint32_t n = 0; n < frames; ++n) {
    double x = in[n];
    for (int32_t i = 0; i < count; ++i) {
      const double w = (c.a2[i] * c.w2[i] + c.a1[i] * c.w1[i]) + x;
      const double y = c.b0[i] * w + (c.b2[i] * c.w2[i] + c.b1[i] * c.w1[i]);
      c.w2[i] = c.w1[i];
      c.w1[i] = w;
      x = y;
    }
    emit<Add>(out, n, x);
  }
}

template <bool Add>
void runAny(BiquadCascade& c, const float* in, float* out, uint32_t frames) {
  switch (c.sections) {
    case 0:
      for (uint32_t n = 0; n < frames; ++n) emit<Add>(out, n, in[n]);
      return;
    case 1: return runFew<1, Add>(c, in, out, frames);
    case 2: return runFew<2, Add>(c, in, out, frames);
    case 3: return runFew<3, Add>(c, in, out, frames);
    case 4: return runPipelined<2, Add>(c, in, out, frames);
    case 5:
    case 6: return runPipelined<3, Add>(c, in, out, frames);
    case 7:
    case 8: return runPipelined<4, Add>(c, in, out, frames);
    case 9:
    case 10: return runPipelined<5, Add>(c, in, out, frames);
    case 11:
    case 12: return runPipelined<6, Add>(c, in, out, frames);
    default: return runMany<Add>(c, in, out, frames);
  }
}

// Two cascades of S sections each, one per lane: the left channel in the
// low lanes, the right in the high. Sample by sample through the sections;
// the recursions of consecutive sections are independent enough that the
// processor overlaps them, and one instruction now serves both channels.
template <int S>
void runLanes(BiquadCascade& l, BiquadCascade& r, const float* inL, const float* inR,
              float* outL, float* outR, uint32_t frames) {
  DoublePair a1[S], a2[S], b0[S], b1[S], b2[S], w1[S], w2[S];
  for (int k = 0; k < S; ++k) {
    a1[k] = pairOf(l.a1[k], r.a1[k]);
    a2[k] = pairOf(l.a2[k], r.a2[k]);
    b0[k] = pairOf(l.b0[k], r.b0[k]);
    b1[k] = pairOf(l.b1[k], r.b1[k]);
    b2[k] = pairOf(l.b2[k], r.b2[k]);
    w1[k] = pairOf(l.w1[k], r.w1[k]);
    w2[k] = pairOf(l.w2[k], r.w2[k]);
  }
  for (uint32_t n = 0; n < frames; ++n) {
    DoublePair x = pairOf(inL[n], inR[n]);
    for (int k = 0; k < S; ++k) {
      const DoublePair w = (a2[k] * w2[k] + a1[k] * w1[k]) + x;
      x = b0[k] * w + (b2[k] * w2[k] + b1[k] * w1[k]);
      w2[k] = w1[k];
      w1[k] = w;
    }
    outL[n] = static_cast<float>(low(x));
    outR[n] = static_cast<float>(high(x));
  }
  for (int k = 0; k < S; ++k) {
    l.w1[k] = low(w1[k]);
    l.w2[k] = low(w2[k]);
    r.w1[k] = high(w1[k]);
    r.w2[k] = high(w2[k]);
  }
}

}  // namespace

void runCascadePair(BiquadCascade& left, BiquadCascade& right, const float* inL,
                    const float* inR, float* outL, float* outR, uint32_t frames) {
  if (left.sections == right.sections) {
    switch (left.sections) {
      case 1: return runLanes<1>(left, right, inL, inR, outL, outR, frames);
      case 2: return runLanes<2>(left, right, inL, inR, outL, outR, frames);
      case 3: return runLanes<3>(left, right, inL, inR, outL, outR, frames);
      case 4: return runLanes<4>(left, right, inL, inR, outL, outR, frames);
      case 5: return runLanes<5>(left, right, inL, inR, outL, outR, frames);
      case 6: return runLanes<6>(left, right, inL, inR, outL, outR, frames);
      case 7: return runLanes<7>(left, right, inL, inR, outL, outR, frames);
      case 8: return runLanes<8>(left, right, inL, inR, outL, outR, frames);
      default: break;
    }
  }
  left.run(inL, outL, frames);
  right.run(inR, outR, frames);
}

uint32_t BiquadCascade::run(const float* in, float* out, uint32_t frames) {
  runAny<false>(*this, in, out, frames);
  return frames;
}

uint32_t BiquadCascade::runAdd(const float* in, float* out, uint32_t frames) {
  runAny<true>(*this, in, out, frames);
  return frames;
}

void ChebyshevCascade::design(float rate, float fc) { designChebyshev(rate, fc, 1.0f); }

void ChebyshevCascade::designChebyshev(float rate, float fc, float ripple) {
  storeDesignFrequencies(rate, fc);
  rippleDb = ripple;
  if (sections == 0) return;

  const int32_t n = order;
  const double s = sign;
  const int32_t half = n / 2;
  const bool even = n % 2 == 0;

  const double eps = std::sqrt(std::pow(10.0, 0.1 * ripple) - 1.0);
  const double v = asinhByLog(1.0 / eps) * (1.0 / n);
  const double sinhV = std::sinh(v);
  const double coshV = std::cosh(v);
  const double t = std::tan((kPi / static_cast<double>(sampleRate)) * static_cast<double>(cutoff));
  // Spread over the sections, these factors bring an even order's DC gain
  // down to the bottom of the ripple, where the odd orders sit at DC anyway.
  const double g = std::pow(1.0 / std::pow(10.0, 0.05 * ripple), 2.0 * (1.0 / n));

  for (int32_t i = 0; i < half; ++i) {
    const int32_t k = even ? 2 * i + 1 : 2 * i + 2;
    const double theta = k * (kPi / 2.0) * (1.0 / n);
    const double sinT = std::sin(theta);
    const double cosT = std::cos(theta);
    const double r = std::sqrt((coshV * sinT) * (coshV * sinT) + (sinhV * cosT) * (sinhV * cosT));
    const double rt = r * t;
    const double q = rt * rt;
    const double m = (cosT / r) * sinhV * 2.0 * r * t;
    const double d = 1.0 / (1.0 + m + q);
    a1[i] = (q - 1.0) * d * -2.0 * s;
    a2[i] = -((1.0 - m) + q) * d;
    b0[i] = q * d;
    b1[i] = s * q * d * 2.0;
    b2[i] = q * d;
    if (even) {
      b0[i] *= g;
      b1[i] *= g;
      b2[i] *= g;
    }
  }

  if (!even) {
    const double a = sinhV * t;
    const double d = 1.0 / (1.0 + a);
    a1[half] = -s * (a - 1.0) * d;
    b0[half] = d * a;
    b1[half] = s * b0[half];
  }
}

void ButterworthCascade::design(float rate, float fc) {
  storeDesignFrequencies(rate, fc);
  if (sections == 0) return;

  const int32_t n = order;
  const double s = sign;
  const int32_t half = n / 2;
  const bool even = n % 2 == 0;
  const double t = std::tan(static_cast<double>(cutoff) * (kPi / static_cast<double>(sampleRate)));

  for (int32_t i = 0; i < half; ++i) {
    const int32_t k = even ? 2 * i + 1 : 2 * i + 2;
    const double m = std::cos(k * ((kPi / 2.0) / n)) * 2.0 * t;
    const double q = t * t;
    const double d = 1.0 / (1.0 + m + q);
    a1[i] = (q - 1.0) * d * -2.0 * s;
    a2[i] = -((1.0 - m) + q) * d;
    b0[i] = d * q;
    b1[i] = 2.0 * b0[i] * s;
    b2[i] = b0[i];
  }

  if (!even) {
    const double d = 1.0 / (1.0 + t);
    a1[half] = -s * (t - 1.0) * d;
    b0[half] = d * t;
    // This one product is formed in single precision.
    b1[half] = static_cast<double>(sign * static_cast<float>(b0[half]));
  }
}

}  // namespace dspfx

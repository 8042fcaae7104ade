#include "rate/biquad_cascade.h"

#include <cmath>

namespace dspfx {
namespace {

constexpr double kPi = 3.14159265358979323846;
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

void BiquadCascade::storeDesignFrequencies(float rate, float requestedCutoff) {
  sampleRate = rate;
  // A high-pass is the low-pass mirrored about a quarter of the rate (z -> -z).
  double fc = requestedCutoff;
  if (sign <= 0.0f) fc = 0.5 * static_cast<double>(rate) - fc;
  cutoff = static_cast<float>(fc);
}

uint32_t BiquadCascade::run(const float* in, float* out, uint32_t frames) {
  const int32_t count = sections;
  for (uint32_t n = 0; n < frames; ++n) {
    double x = in[n];
    for (int32_t i = 0; i < count; ++i) {
      const double w = (a2[i] * w2[i] + a1[i] * w1[i]) + x;
      const double y = b0[i] * w + (b2[i] * w2[i] + b1[i] * w1[i]);
      w2[i] = w1[i];
      w1[i] = w;
      x = y;
    }
    out[n] = static_cast<float>(x);
  }
  return frames;
}

uint32_t BiquadCascade::runAdd(const float* in, float* out, uint32_t frames) {
  const int32_t count = sections;
  for (uint32_t n = 0; n < frames; ++n) {
    double x = in[n];
    for (int32_t i = 0; i < count; ++i) {
      const double w = (a2[i] * w2[i] + a1[i] * w1[i]) + x;
      const double y = b0[i] * w + (b2[i] * w2[i] + b1[i] * w1[i]);
      w2[i] = w1[i];
      w1[i] = w;
      x = y;
    }
    out[n] = static_cast<float>(x + out[n]);
  }
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

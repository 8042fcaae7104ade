#include "rate/wave_shaper.h"

#include <cmath>
#include <cstring>

namespace dspfx {
namespace {

constexpr double kPi = 3.14159265358979323846;

// NaN falls to the low end so a nonsense displacement still yields a curve
// whose points stay ordered inside the box.
float clampTo(double v, double lo, double hi) {
  if (!(v >= lo)) return static_cast<float>(lo);
  if (!(v <= hi)) return static_cast<float>(hi);
  return static_cast<float>(v);
}

uint32_t bitsOf(float v) {
  uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

float floatOf(uint32_t b) {
  float v;
  std::memcpy(&v, &b, sizeof v);
  return v;
}

}  // namespace

void WaveShaper::build(float harmonics) {
  TransferPoint* const lo = &pool[0];
  TransferPoint* const hi = &pool[1];
  *lo = TransferPoint{0.0f, 0.0f, 1.0f, hi, nullptr};
  *hi = TransferPoint{1.0f, 1.0f, 0.0f, nullptr, lo};
  head = lo;
  tail = hi;
  cursor = hi;
  count = 2;

  const double h = harmonics;
  const double cx = 0.5 - std::cos(kPi / 4) * h;
  const double cy = std::sin(kPi / 4) * h + 0.5;
  for (uint32_t i = 1; i < kSegments; ++i) {
    const double t = static_cast<double>(i) / kSegments;
    const double d = t * (1.0 - t) * 2.0;
    const float x = clampTo(cx * d + t * t, 0.0, 1.0);
    const float y = clampTo(t * t + d * cy, -1.0, 1.0);

    // Beyond |harmonics| 0.7071 x(t) folds back, so the place is searched
    // rather than assumed to be at the end.
    TransferPoint* p = tail;
    while (p->prev && p->x > x) p = p->prev;
    if (p->x == x || (p->next && p->next->x == x)) continue;
    TransferPoint* q = &pool[count];
    q->x = x;
    q->y = y;
    q->prev = p;
    q->next = p->next;
    p->next->prev = q;
    p->next = q;
    q->slope = (q->next->y - y) / (q->next->x - x);
    p->slope = (y - p->y) / (x - p->x);
    ++count;
  }
  allocated = true;
}

void WaveShaper::apply(const float* in, float* out, uint32_t n) {
  TransferPoint* p = cursor;
  for (uint32_t i = 0; i < n; ++i) {
    const float v = in[i];
    const float a = std::fabs(v);
    while (p->prev && a < p->x) p = p->prev;
    while (p->next && p->next->x <= a) p = p->next;
    // The last point is flat: taking its y directly keeps the hard limit at
    // exactly 1 even for an infinite input.
    const float y = p->next ? p->y + p->slope * (a - p->x) : p->y;
    out[i] = floatOf(bitsOf(y) | (bitsOf(v) & 0x80000000u));
  }
  cursor = p;
}

}  // namespace dspfx

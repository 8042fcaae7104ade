#include "rate/wave_shaper.h"

#include <cmath>
#include <numbers>
#include <cstring>

namespace dspfx {
namespace {

constexpr double kPi = std::numbers::pi;

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
  index();
  allocated = true;
}

void WaveShaper::index() {
  uint32_t k = 0;
  for (const TransferPoint* p = head; p; p = p->next, ++k) {
    sorted[k] = p;
    xs[k] = p->x;
    ys[k] = p->y;
    slopes[k] = p->slope;
  }
  cursor = count - 1;
  k = 0;
  for (uint32_t cell = 0; cell < kGridCells; ++cell) {
    const float edge = static_cast<float>(cell) / kGridCells;
    while (k + 1 < count && xs[k + 1] <= edge) ++k;
    grid[cell] = static_cast<uint8_t>(k);
  }
}

void WaveShaper::apply(const float* in, float* out, uint32_t n) {
  const uint32_t last = count - 1;
  uint32_t c = cursor;
  for (uint32_t i = 0; i < n; ++i) {
    const float v = in[i];
    const float a = std::fabs(v);
    float y;
    if (a < 1.0f) {
      // a * kGridCells is exact (a power of two), so the cell's lower edge
      // never lies above a. The last point (x = 1) ends every search.
      uint32_t k = grid[static_cast<uint32_t>(a * static_cast<float>(kGridCells))];
      k += xs[k + 1] <= a ? 1u : 0u;
      while (xs[k + 1] <= a) ++k;
      y = ys[k] + slopes[k] * (a - xs[k]);
      c = k;
    } else if (a >= 1.0f) {
      // The last point is flat: taking its y directly keeps the hard limit at
      // exactly 1 even for an infinite input.
      c = last;
      y = ys[last];
    } else {
      y = c != last ? ys[c] + slopes[c] * (a - xs[c]) : ys[c];
    }
    out[i] = floatOf(bitsOf(y) | (bitsOf(v) & 0x80000000u));
  }
  cursor = c;
}

}  // namespace dspfx

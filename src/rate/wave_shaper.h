#pragma once
#include <array>
#include <cstdint>

#include "core/dsp_object.h"

namespace dspfx {

// One corner of the transfer curve; slope belongs to the segment that starts
// here and runs to next.
struct TransferPoint {
  float x = 0.0f;
  float y = 0.0f;
  float slope = 0.0f;
  TransferPoint* next = nullptr;
  TransferPoint* prev = nullptr;
};

// Odd-symmetric piecewise-linear transfer curve for magnitudes 0..1, sampled
// from a quadratic Bezier whose control point the harmonics value pushes off
// the diagonal. The points live in a fixed pool, so a rebuild never
// allocates and cannot fail.
class WaveShaper : public DspObject {
 public:
  static constexpr uint32_t kMaxPoints = 65;
  static constexpr uint32_t kSegments = 64;

  WaveShaper() { build(0.0f); }

  // Replaces the curve by the one for this displacement (0 = identity).
  void build(float harmonics);
  // out[i] = curve(|in[i]|) carrying the sign of in[i]; magnitudes from 1 up
  // give exactly 1. in and out may be the same buffer.
  void apply(const float* in, float* out, uint32_t n);

  const TransferPoint* first() const { return head; }
  const TransferPoint* current() const { return cursor; }
  uint32_t count = 0;

 private:
  std::array<TransferPoint, kMaxPoints> pool{};
  TransferPoint* head = nullptr;
  TransferPoint* tail = nullptr;
  // The point used last: neighbouring samples rarely move more than a step.
  TransferPoint* cursor = nullptr;
};

}  // namespace dspfx

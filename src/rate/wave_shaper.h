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
  const TransferPoint* current() const { return sorted[cursor]; }
  uint32_t count = 0;

 private:
  // A magnitude's segment is found from a uniform grid over 0..1: each cell
  // names the last point at or below its lower edge, and the points are
  // spread thinly enough that a step or two forward finds the segment. A
  // walk along the list from the previous sample would cost a mispredicted
  // branch for almost every sample of a noisy band.
  static constexpr uint32_t kGridCells = 1024;

  void index();

  std::array<TransferPoint, kMaxPoints> pool{};
  TransferPoint* head = nullptr;
  TransferPoint* tail = nullptr;
  // The list in x order, split into arrays for the per-sample lookup.
  std::array<const TransferPoint*, kMaxPoints> sorted{};
  std::array<float, kMaxPoints> xs{};
  std::array<float, kMaxPoints> ys{};
  std::array<float, kMaxPoints> slopes{};
  std::array<uint8_t, kGridCells> grid{};
  // The point used last, as a position in sorted. Only a NaN sample has no
  // segment of its own: it is shaped on this one, as a walk that cannot move
  // would shape it.
  uint32_t cursor = 0;
};

}  // namespace dspfx

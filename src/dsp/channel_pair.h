#pragma once
#include <array>
#include <cstddef>

namespace dspfx {

// One processor written for one channel, held twice: a call meant for the
// effect is made on both units through here, so the two channels cannot
// drift apart by a forgotten line.
template <class Unit>
class ChannelPair {
 public:
  Unit& operator[](size_t channel) { return units_[channel]; }
  const Unit& operator[](size_t channel) const { return units_[channel]; }
  Unit* begin() { return units_.data(); }
  Unit* end() { return units_.data() + 2; }
  const Unit* begin() const { return units_.data(); }
  const Unit* end() const { return units_.data() + 2; }

  // f(unit) on the left unit, then on the right one; what the right one
  // returned (the families report the last unit's answer).
  template <class F>
  auto apply(F&& f) {
    f(units_[0]);
    return f(units_[1]);
  }

  // f(unit) on both, the right one even when the left failed (both must
  // hold the same settings); true when both succeeded.
  template <class F>
  bool applyBoth(F&& f) {
    const bool left = f(units_[0]);
    const bool right = f(units_[1]);
    return left && right;
  }

  // f(unit) on the left unit and, when that succeeded, on the right one.
  template <class F>
  bool allOf(F&& f) {
    return f(units_[0]) && f(units_[1]);
  }

  // One block: f(unit, channel) on the left unit, and on the right one too
  // for a stereo block; what the left one returned.
  template <class F>
  auto run(bool stereo, F&& f) {
    auto produced = f(units_[0], 0u);
    if (stereo) f(units_[1], 1u);
    return produced;
  }

 private:
  std::array<Unit, 2> units_{};
};

}  // namespace dspfx

#pragma once
#include <cmath>

namespace dspfx {

// Decibels to a linear factor, worked out in double and kept as a float like
// every gain of the equalisers.
inline float linearFromDb(double db) { return static_cast<float>(std::pow(10.0, 0.05 * db)); }

}  // namespace dspfx

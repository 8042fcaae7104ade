#pragma once
// One host's worth of work through the C API: every effect family created,
// run for a number of blocks, reconfigured half-way and destroyed, plus a
// chain of effects that is reformatted half-way, plus a wave file written
// and read back. Deterministic for a given seed, so the same work done on
// another thread must give the same digest.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dspfx/dspfx.h"

namespace dspfx::reliability {

// FNV-1a over everything an object wrote.
struct Digest {
  uint64_t value = 1469598103934665603ull;
  void add(const void* data, size_t bytes) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < bytes; ++i) value = (value ^ p[i]) * 1099511628211ull;
  }
  template <class T>
  void add(const std::vector<T>& v, size_t count) {
    add(v.data(), count * sizeof(T));
  }
};

// Test signal for block `block` of a run: a tone that depends on the seed,
// a little noise and an occasional burst, so the slicer has attacks.
inline void fillBlock(int16_t* p, uint32_t frames, uint32_t channels, uint32_t seed, uint32_t block) {
  uint32_t noise = seed * 7919u + block * 104729u + 1u;
  const double w = 2 * 3.14159265358979323846 * (220.0 * (seed + 1)) / 44100.0;
  const double level = (block % 16) < 2 ? 0.7 : 0.2;
  for (uint32_t i = 0; i < frames; ++i) {
    noise = noise * 1664525u + 1013904223u;
    const double n = (static_cast<int32_t>(noise >> 16) - 32768) / 32768.0 * 0.05;
    const double s = level * std::sin(w * (double(block) * frames + i)) + n;
    for (uint32_t c = 0; c < channels; ++c) p[i * channels + c] = static_cast<int16_t>(32767 * s * (c ? 0.8 : 1.0));
  }
}

struct WorkloadResult {
  std::vector<uint64_t> digests;  // one per object run
  uint32_t nonFinite = 0;         // float outputs that were NaN or infinite
  uint32_t failures = 0;          // calls that failed where they must succeed
};

// `tag` names a private scratch file for this run's wave file.
WorkloadResult runWorkload(uint32_t seed, uint32_t blocks, const std::string& scratchFile);

}  // namespace dspfx::reliability

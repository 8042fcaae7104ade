#pragma once
#include <atomic>
#include <cstdint>

namespace dspfx {

// The host's permission to use SIMD forms. Read afresh by every routine;
// relaxed is enough because each flag only selects between forms that are
// all valid at any moment.
struct ProcessorFlags {
  std::atomic<uint8_t> mmxEnabled{0};
  std::atomic<uint8_t> amd3dnowEnabled{0};
  std::atomic<uint8_t> sseEnabled{0};
};

ProcessorFlags& processorFlags();

inline bool mmxOn() { return processorFlags().mmxEnabled.load(std::memory_order_relaxed) != 0; }
inline bool amd3dnowOn() { return processorFlags().amd3dnowEnabled.load(std::memory_order_relaxed) != 0; }
inline bool sseOn() { return processorFlags().sseEnabled.load(std::memory_order_relaxed) != 0; }
inline bool anySimdOn() { return mmxOn() || amd3dnowOn() || sseOn(); }

}  // namespace dspfx

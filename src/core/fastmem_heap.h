#pragma once
#include <cstdint>
#include <mutex>

namespace dspfx {

// One live block. The record itself comes from malloc, like the block.
struct BlockRecord {
  void* raw = nullptr;
  void* aligned = nullptr;
  uint32_t requested = 0;
  uint32_t reserved = 0;
  BlockRecord* next = nullptr;  // older neighbour
  BlockRecord* prev = nullptr;  // newer neighbour; null at the head
};

// Process-wide tracker of 16-byte aligned blocks behind every sample buffer.
// Lookups walk from the newest record because effects free what they made
// last first, and each effect owns only a handful of blocks.
class FastmemHeap {
 public:
  FastmemHeap() = default;
  ~FastmemHeap();
  FastmemHeap(const FastmemHeap&) = delete;
  FastmemHeap& operator=(const FastmemHeap&) = delete;

  // Null when the block or its record cannot be had; then nothing is counted.
  void* allocate(uint32_t size);
  // 1 when the address was tracked and is now released, 0 otherwise.
  uint32_t release(void* aligned);
  // Unknown addresses come back unchanged. On failure returns null and the
  // old block stays tracked and intact.
  void* reallocate(void* aligned, uint32_t size);

  uint32_t allocatedSize() const;
  uint32_t blockCount() const;

 private:
  BlockRecord* find(void* aligned) const;
  void teardown();

  mutable std::mutex mutex_;
  uint32_t count_ = 0;
  BlockRecord* head_ = nullptr;
  uint32_t totalBytes_ = 0;
};

FastmemHeap& fastmemHeap();

// Convenience for the library's own float buffers.
inline float* allocFloats(uint32_t frames) {
  return static_cast<float*>(fastmemHeap().allocate(frames * 4u));
}
inline void freeFloats(float*& p) {
  if (p) fastmemHeap().release(p);
  p = nullptr;
}

}  // namespace dspfx

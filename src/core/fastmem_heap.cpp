#include "core/fastmem_heap.h"

#include <cstdlib>
#include <cstring>

#include "core/last_error.h"

namespace dspfx {
namespace {

constexpr uintptr_t kAlign = 16;
constexpr uint32_t kSlack = 15;

void* alignUp(void* raw) {
  const auto p = reinterpret_cast<uintptr_t>(raw);
  return reinterpret_cast<void*>((p + kSlack) & ~(kAlign - 1));
}

// Sizes near 4 GiB would wrap the 32-bit reserved count.
bool reservable(uint32_t size) { return size <= UINT32_MAX - kSlack; }

}  // namespace

FastmemHeap::~FastmemHeap() { teardown(); }

void FastmemHeap::teardown() {
  std::lock_guard<std::mutex> lock(mutex_);
  BlockRecord* r = head_;
  while (r) {
    BlockRecord* next = r->next;
    std::free(r->raw);
    totalBytes_ -= r->reserved;
    std::free(r);
    r = next;
  }
  head_ = nullptr;
  count_ = 0;
}

void* FastmemHeap::allocate(uint32_t size) {
  if (!reservable(size)) return nullptr;
  auto* record = static_cast<BlockRecord*>(std::malloc(sizeof(BlockRecord)));
  if (!record) {
    noteAllocationFailure();
    return nullptr;
  }
  void* raw = std::malloc(size_t{size} + kSlack);
  if (!raw) {
    std::free(record);
    noteAllocationFailure();
    return nullptr;
  }
  *record = BlockRecord{raw, alignUp(raw), size, size + kSlack, nullptr, nullptr};

  std::lock_guard<std::mutex> lock(mutex_);
  totalBytes_ += record->reserved;
  if (count_ != 0) {
    head_->prev = record;
    record->next = head_;
  }
  head_ = record;
  ++count_;
  return record->aligned;
}

BlockRecord* FastmemHeap::find(void* aligned) const {
  for (BlockRecord* r = head_; r; r = r->next) {
    if (r->aligned == aligned) return r;
  }
  return nullptr;
}

uint32_t FastmemHeap::release(void* aligned) {
  if (!aligned) return 0;
  BlockRecord* r;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    r = find(aligned);
    if (!r) return 0;
    if (r->prev) {
      r->prev->next = r->next;
    } else {
      head_ = r->next;
    }
    if (r->next) r->next->prev = r->prev;
    totalBytes_ -= r->reserved;
    --count_;
  }
  std::free(r->raw);
  std::free(r);
  return 1;
}

void* FastmemHeap::reallocate(void* aligned, uint32_t size) {
  if (!aligned) return aligned;
  std::lock_guard<std::mutex> lock(mutex_);
  BlockRecord* r = find(aligned);
  if (!r) return aligned;
  if (!reservable(size)) return nullptr;
  const size_t oldOffset =
      static_cast<char*>(r->aligned) - static_cast<char*>(r->raw);
  void* raw = std::realloc(r->raw, size_t{size} + kSlack);
  if (!raw) {
    noteAllocationFailure();
    return nullptr;
  }
  void* moved = alignUp(raw);
  const size_t newOffset = static_cast<char*>(moved) - static_cast<char*>(raw);
  // realloc keeps the raw bytes, but the distance to the next 16-byte
  // boundary may change; shift the payload so callers keep their contents.
  if (newOffset != oldOffset) {
    const uint32_t keep = r->requested < size ? r->requested : size;
    std::memmove(moved, static_cast<char*>(raw) + oldOffset, keep);
  }
  totalBytes_ = totalBytes_ - r->reserved + (size + kSlack);
  r->raw = raw;
  r->aligned = moved;
  r->requested = size;
  r->reserved = size + kSlack;
  return moved;
}

uint32_t FastmemHeap::allocatedSize() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return totalBytes_;
}

uint32_t FastmemHeap::blockCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

}  // namespace dspfx

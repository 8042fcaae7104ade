#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace dspfx {

enum class HandleKind : uint8_t { kEffect, kChain, kWavefileIn, kWavefileOut };

// Process-wide table of the objects handed to the host. A handle is not the
// object's address but a slot number and that slot's generation, so a
// destroyed handle stays refused even after the allocator has reused the
// object's memory, and no handle value is ever handed out twice: a slot
// whose generations run out is retired. Every export looks its handle up
// here before touching anything, so null, destroyed and foreign values are
// refused without being dereferenced.
class HandleRegistry {
 public:
  // The handle under which the host knows object from now on; null when it
  // cannot be registered (already registered, or no slot left).
  const void* add(const void* object, HandleKind kind);
  // The object behind a live handle of that kind; null otherwise.
  void* find(const void* handle, HandleKind kind) const;
  // True for a live handle of any kind.
  bool isLive(const void* handle) const;
  // The handle of a live object of that kind; null otherwise.
  void* handleOf(const void* object, HandleKind kind) const;
  // True when the handle was live, of that kind and held by owner (null: by
  // the host); it is refused from then on.
  bool remove(const void* handle, HandleKind kind, const void* owner = nullptr);

  // Effects handed to a chain belong to it: their term call must refuse them.
  bool setOwner(const void* effectHandle, const void* chain);
  const void* owner(const void* effectHandle) const;

  size_t size() const;

 private:
  struct Slot {
    const void* object = nullptr;
    const void* owner = nullptr;
    uintptr_t generation = 0;
    HandleKind kind = HandleKind::kEffect;
  };
  // The live slot behind handle, or null; the lock is held.
  const Slot* lookup(const void* handle) const;
  Slot* lookup(const void* handle) {
    return const_cast<Slot*>(static_cast<const HandleRegistry*>(this)->lookup(handle));
  }

  mutable std::mutex mutex_;
  std::vector<Slot> slots_;
  // Freed slots, oldest first, so generations advance evenly.
  std::deque<uint32_t> free_;
  std::unordered_map<const void*, uint32_t> slotOf_;
};

HandleRegistry& handleRegistry();

}  // namespace dspfx

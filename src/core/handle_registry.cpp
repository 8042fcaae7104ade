#include "core/handle_registry.h"

#include <climits>

namespace dspfx {
namespace {

// Low bits: slot number + 1 (so no handle is null); high bits: generation.
// 32-bit hosts get 65535 live objects and 65535 lives per slot, 64-bit ones
// 16 million and more lives than any process will see.
constexpr unsigned kSlotBits = sizeof(uintptr_t) >= 8 ? 24 : 16;
constexpr uintptr_t kSlotMask = (uintptr_t{1} << kSlotBits) - 1;
constexpr uintptr_t kMaxSlots = kSlotMask;
constexpr uintptr_t kMaxGeneration = UINTPTR_MAX >> kSlotBits;

const void* encode(uint32_t slot, uintptr_t generation) {
  return reinterpret_cast<const void*>((generation << kSlotBits) | (uintptr_t{slot} + 1));
}

}  // namespace

const HandleRegistry::Slot* HandleRegistry::lookup(const void* handle) const {
  const auto value = reinterpret_cast<uintptr_t>(handle);
  const uintptr_t index = value & kSlotMask;
  if (index == 0 || index > slots_.size()) return nullptr;
  const Slot& s = slots_[index - 1];
  return s.object && s.generation == value >> kSlotBits ? &s : nullptr;
}

const void* HandleRegistry::add(const void* object, HandleKind kind) {
  if (!object) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  if (slotOf_.count(object)) return nullptr;
  if (free_.empty()) {
    if (slots_.size() >= kMaxSlots) return nullptr;
    // On the free list before anything else can throw, so a failure below
    // leaves a free slot rather than a lost one.
    slots_.push_back(Slot{});
    free_.push_back(static_cast<uint32_t>(slots_.size() - 1));
  }
  const uint32_t index = free_.front();
  slotOf_.emplace(object, index);
  free_.pop_front();
  Slot& s = slots_[index];
  s.object = object;
  s.owner = nullptr;
  s.kind = kind;
  ++s.generation;
  return encode(index, s.generation);
}

void* HandleRegistry::find(const void* handle, HandleKind kind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Slot* s = lookup(handle);
  return s && s->kind == kind ? const_cast<void*>(s->object) : nullptr;
}

bool HandleRegistry::isLive(const void* handle) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lookup(handle) != nullptr;
}

void* HandleRegistry::handleOf(const void* object, HandleKind kind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = slotOf_.find(object);
  if (it == slotOf_.end() || slots_[it->second].kind != kind) return nullptr;
  return const_cast<void*>(encode(it->second, slots_[it->second].generation));
}

bool HandleRegistry::remove(const void* handle, HandleKind kind, const void* owner) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot* s = lookup(handle);
  if (!s || s->kind != kind || s->owner != owner) return false;
  const auto index = static_cast<uint32_t>(s - slots_.data());
  slotOf_.erase(s->object);
  s->object = nullptr;
  s->owner = nullptr;
  // A slot whose next generation would not fit stays empty for good.
  if (s->generation < kMaxGeneration) free_.push_back(index);
  return true;
}

bool HandleRegistry::setOwner(const void* effectHandle, const void* chain) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot* s = lookup(effectHandle);
  if (!s || s->kind != HandleKind::kEffect) return false;
  s->owner = chain;
  return true;
}

const void* HandleRegistry::owner(const void* effectHandle) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Slot* s = lookup(effectHandle);
  return s ? s->owner : nullptr;
}

size_t HandleRegistry::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return slotOf_.size();
}

}  // namespace dspfx

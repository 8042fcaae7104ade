#include "core/handle_registry.h"

namespace dspfx {

const void* HandleRegistry::add(const void* object, HandleKind kind) {
  if (!object) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  return live_.emplace(object, Entry{kind, nullptr}).second ? object : nullptr;
}

void* HandleRegistry::find(const void* handle, HandleKind kind) const {
  return contains(handle, kind) ? const_cast<void*>(handle) : nullptr;
}

void* HandleRegistry::handleOf(const void* object, HandleKind kind) const {
  return contains(object, kind) ? const_cast<void*>(object) : nullptr;
}

bool HandleRegistry::remove(const void* handle, HandleKind kind, const void* owner) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = live_.find(handle);
  if (it == live_.end() || it->second.kind != kind || it->second.owner != owner) return false;
  live_.erase(it);
  return true;
}

bool HandleRegistry::contains(const void* handle, HandleKind kind) const {
  if (!handle) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = live_.find(handle);
  return it != live_.end() && it->second.kind == kind;
}

bool HandleRegistry::setOwner(const void* effect, const void* chain) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = live_.find(effect);
  if (it == live_.end() || it->second.kind != HandleKind::kEffect) return false;
  it->second.owner = chain;
  return true;
}

const void* HandleRegistry::owner(const void* effect) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = live_.find(effect);
  return it == live_.end() ? nullptr : it->second.owner;
}

size_t HandleRegistry::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return live_.size();
}

}  // namespace dspfx

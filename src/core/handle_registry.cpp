#include "core/handle_registry.h"

namespace dspfx {

bool HandleRegistry::add(const void* handle, HandleKind kind) {
  if (!handle) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  return live_.emplace(handle, Entry{kind, nullptr}).second;
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

#pragma once
#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace dspfx {

enum class HandleKind : uint8_t { kEffect, kChain, kWavefileIn, kWavefileOut };

// Process-wide set of live objects handed to the host. Every export looks
// its handle up here before reading anything from it, so null, destroyed and
// foreign pointers are refused without being dereferenced.
class HandleRegistry {
 public:
  // The handle under which the host knows object from now on; null when it
  // cannot be registered.
  const void* add(const void* object, HandleKind kind);
  // The object behind a live handle of that kind; null otherwise.
  void* find(const void* handle, HandleKind kind) const;
  // The handle of a live object of that kind; null otherwise.
  void* handleOf(const void* object, HandleKind kind) const;
  // True when the handle was live, of that kind and held by owner (null: by
  // the host); it is gone afterwards.
  bool remove(const void* handle, HandleKind kind, const void* owner = nullptr);
  bool contains(const void* handle, HandleKind kind) const;

  // Effects handed to a chain belong to it: their term call must refuse them.
  bool setOwner(const void* effect, const void* chain);
  const void* owner(const void* effect) const;

  size_t size() const;

 private:
  struct Entry {
    HandleKind kind;
    const void* owner;
  };
  mutable std::mutex mutex_;
  std::unordered_map<const void*, Entry> live_;
};

HandleRegistry& handleRegistry();

}  // namespace dspfx

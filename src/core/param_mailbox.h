#pragma once
#include <atomic>

namespace dspfx {

// A parameter one thread posts and the processing thread takes at a point
// of its own choosing (the start of a block), so that everything the value
// drives changes at the same place and neither side ever waits.
//
// A post that races a take may be taken twice; taking a value is
// idempotent for every user, so that costs nothing but the repeat.
template <class T>
class ParamMailbox {
 public:
  void post(T value) {
    value_.store(value, std::memory_order_relaxed);
    posted_.store(true, std::memory_order_release);
  }

  // True, with the latest value, when something was posted since the last take.
  bool take(T& value) {
    if (!posted_.load(std::memory_order_relaxed)) return false;
    if (!posted_.exchange(false, std::memory_order_acquire)) return false;
    value = value_.load(std::memory_order_relaxed);
    return true;
  }

 private:
  std::atomic<T> value_{};
  std::atomic<bool> posted_{false};
};

}  // namespace dspfx

#pragma once
// The shape of every wave file export: the handle is looked up in the
// registry under its own kind before anything is read through it, and
// nothing thrown inside crosses into C: it becomes the failure value.
// T names its C handle type (T::Handle) and its registry kind
// (T::kHandleKind).
#include <new>

#include "core/handle_registry.h"

namespace dspfx {

template <class T>
T* liveWavefile(const typename T::Handle* h) {
  if (!handleRegistry().contains(h, T::kHandleKind)) return nullptr;
  return reinterpret_cast<T*>(const_cast<typename T::Handle*>(h));
}

// Runs f(T&) when h is a live object of T's kind; failure otherwise.
template <class T, class R, class F>
R withWavefile(typename T::Handle* h, R failure, F&& f) noexcept {
  try {
    T* w = liveWavefile<T>(h);
    if (!w) return failure;
    return f(*w);
  } catch (...) {
    return failure;
  }
}

// build(T&) opens the new object and says whether it could; anything that
// fails leaves no object and no registry entry behind, and T::abandon()
// undoes a build that succeeded when the registry cannot take the object.
template <class T, class F>
typename T::Handle* createWavefile(F&& build) noexcept {
  T* w = nullptr;
  try {
    w = new (std::nothrow) T();
    if (!w) return nullptr;
    if (!build(*w)) {
      delete w;
      return nullptr;
    }
    bool added = false;
    try {
      added = handleRegistry().add(w, T::kHandleKind);
    } catch (...) {
    }
    if (!added) {
      w->abandon();
      delete w;
      return nullptr;
    }
    return reinterpret_cast<typename T::Handle*>(w);
  } catch (...) {
    delete w;
    return nullptr;
  }
}

// Takes h out of the registry, lets finish(T&) close it, destroys it and
// returns what finish returned; failure for anything not live.
template <class T, class R, class F>
R destroyWavefile(typename T::Handle* h, R failure, F&& finish) noexcept {
  T* w = nullptr;
  try {
    w = liveWavefile<T>(h);
    if (!w || !handleRegistry().remove(h, T::kHandleKind)) return failure;
  } catch (...) {
    return failure;
  }
  R result = failure;
  try {
    result = finish(*w);
  } catch (...) {
  }
  delete w;
  return result;
}

}  // namespace dspfx

#pragma once
// The one shape of every effect export: look the handle up, check its family,
// call one method, map the outcome to the C result. Nothing thrown inside
// (std::bad_alloc from a container) crosses into C: it becomes the failure.
#include <cstdint>
#include <new>

#include "core/effect_base.h"
#include "core/handle_registry.h"
#include "dspfx/dspfx.h"

namespace dspfx {

inline DspEffect* toHandle(EffectBase* e) { return reinterpret_cast<DspEffect*>(e); }

// The live effect behind h, or null for anything the registry does not know.
inline EffectBase* liveEffect(const DspEffect* h) {
  if (!handleRegistry().contains(h, HandleKind::kEffect)) return nullptr;
  return reinterpret_cast<EffectBase*>(const_cast<DspEffect*>(h));
}

// Runs f(T&) when h is a live effect of T's family; failure otherwise.
template <class T, class R, class F>
R withEffect(DspEffect* h, R failure, F&& f) noexcept {
  try {
    EffectBase* e = liveEffect(h);
    if (!e || e->typeId != T::kTypeId) return failure;
    return f(*static_cast<T*>(e));
  } catch (...) {
    return failure;
  }
}

// A do call: refuses blocks above the capacity, missing buffers and effects
// without buffers before f(T&) runs.
template <class T, class F>
uint32_t withBlock(DspEffect* h, const void* in, const void* out, uint32_t bytes,
                   F&& f) noexcept {
  return withEffect<T>(h, 0u, [&](T& e) -> uint32_t {
    if (!e.allocated) return 0;
    if (bytes != 0 && (!in || !out)) return 0;
    if (e.framesIn(bytes) > e.capacityFrames) return 0;
    return f(e);
  });
}

// An init call: build(T&) sets the new object up and says whether it could.
// Anything that fails leaves nothing behind.
template <class T, class F>
DspEffect* createEffect(F&& build) noexcept {
  T* e = nullptr;
  try {
    e = new (std::nothrow) T();
    if (!e) return nullptr;
    if (!build(*e) || !handleRegistry().add(e, HandleKind::kEffect)) {
      delete e;
      return nullptr;
    }
    return toHandle(e);
  } catch (...) {
    delete e;
    return nullptr;
  }
}

// A term call: 1 when h was a live effect of T's family that the host (not a
// chain) owned; it is destroyed. 0 and nothing touched otherwise.
template <class T>
uint32_t destroyEffect(DspEffect* h) noexcept {
  EffectBase* e = liveEffect(h);
  if (!e || e->typeId != T::kTypeId) return 0;
  if (!handleRegistry().remove(h, HandleKind::kEffect)) return 0;
  delete e;
  return 1;
}

}  // namespace dspfx

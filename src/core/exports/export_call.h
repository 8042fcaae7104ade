#pragma once
// The one shape of every export, for effects, chains and wave files alike:
// look the handle up under its kind, check the family, call one method, map
// the outcome to the C result. Nothing thrown inside (std::bad_alloc from a
// container) crosses into C: it becomes the failure value, on the way in,
// through and out of an object's life.
//
// A class handed to the host names its C handle type (T::Handle) and its
// registry kind (T::kHandleKind); every effect does so through EffectBase.
#include <cstdint>
#include <new>

#include "core/effect_base.h"
#include "core/handle_registry.h"
#include "core/last_error.h"
#include "dspfx/dspfx.h"

namespace dspfx {

// f(), or failure when it throws. Starts the call's error state afresh.
template <class R, class F>
R guarded(R failure, F&& f) noexcept {
  try {
    clearCallState();
    return f();
  } catch (const std::bad_alloc&) {
    setLastError(kErrorNoMemory);
  } catch (...) {
    setLastError(kErrorInternal);
  }
  return failure;
}

// failure, recording why: code, unless something more precise was already
// recorded (an allocator that ran dry makes it "no memory").
template <class R>
R refuse(R failure, int32_t code) {
  if (lastError() == kErrorNone) setLastError(allocationFailed() ? kErrorNoMemory : code);
  return failure;
}

// A call's result: a failure value without a recorded reason counts as a
// refused argument.
template <class R>
R outcome(R result, R failure) {
  return result == failure ? refuse(failure, kErrorBadArgument) : result;
}

// Why a handle found nothing of the kind asked for.
inline int32_t handleError(const void* h) {
  return h && handleRegistry().isLive(h) ? kErrorWrongFamily : kErrorBadHandle;
}

// The live object of T's kind behind h; null for anything the registry does
// not know, and h is never read through before that.
template <class T>
T* liveObject(const typename T::Handle* h) {
  return static_cast<T*>(handleRegistry().find(h, T::kHandleKind));
}

// The handle under which a live object was handed out; null otherwise.
inline DspEffect* toHandle(EffectBase* e) {
  return static_cast<DspEffect*>(handleRegistry().handleOf(e, HandleKind::kEffect));
}

// Runs f(T&) when h is a live object of T's kind; failure otherwise.
template <class T, class R, class F>
R withObject(typename T::Handle* h, R failure, F&& f) noexcept {
  return guarded(failure, [&]() -> R {
    T* o = liveObject<T>(h);
    return o ? outcome<R>(f(*o), failure) : refuse<R>(failure, handleError(h));
  });
}

// make() builds the object, build(T&) sets it up and says whether it could.
// Anything that fails leaves no object and no registry entry behind;
// T::abandon(), where it exists, undoes a build that succeeded when the
// registry cannot take the object.
template <class Base, class Make, class Build>
typename Base::Handle* createObject(Make&& make, Build&& build) noexcept {
  Base* o = nullptr;
  int32_t code = kErrorNoMemory;
  try {
    clearCallState();
    auto* made = make();
    o = made;
    code = Base::kInitError;
    if (!o) return refuse<typename Base::Handle*>(nullptr, kErrorNoMemory);
    if (!build(*made)) {
      delete o;
      return refuse<typename Base::Handle*>(nullptr, code);
    }
    const void* handle = handleRegistry().add(o, Base::kHandleKind);
    if (!handle) {
      if constexpr (requires { made->abandon(); }) made->abandon();
      delete o;
      return refuse<typename Base::Handle*>(nullptr, kErrorNoMemory);
    }
    return static_cast<typename Base::Handle*>(const_cast<void*>(handle));
  } catch (const std::bad_alloc&) {
    code = kErrorNoMemory;
  } catch (...) {
    code = kErrorInternal;
  }
  delete o;
  setLastError(code);
  return nullptr;
}

// Takes h out of the registry when accept(T&) agrees (the host, not a chain,
// must own it), lets finish(T&) close it, destroys it and returns what finish
// returned; failure for anything not live or not accepted.
template <class T, class R, class Accept, class Finish>
R destroyObject(typename T::Handle* h, R failure, Accept&& accept, Finish&& finish) noexcept {
  T* o = nullptr;
  const bool removed = guarded(false, [&] {
    o = liveObject<T>(h);
    if (!o) return refuse(false, handleError(h));
    if (!accept(*o)) return refuse(false, kErrorWrongFamily);
    if (!handleRegistry().remove(h, T::kHandleKind)) return refuse(false, kErrorChainOwned);
    return true;
  });
  if (!removed) return failure;
  R result = guarded(failure, [&]() -> R { return outcome<R>(finish(*o), failure); });
  delete o;
  return result;
}

template <class T, class R, class Finish>
R destroyObject(typename T::Handle* h, R failure, Finish&& finish) noexcept {
  return destroyObject<T>(h, failure, [](T&) { return true; }, finish);
}

// ---- effects ------------------------------------------------------------

inline EffectBase* liveEffect(const DspEffect* h) { return liveObject<EffectBase>(h); }

// The live effect of T's family behind h, or null. Also the one seam through
// which tests reach an effect's internals from its handle.
template <class T>
T* effectOf(const DspEffect* h) {
  EffectBase* e = liveEffect(h);
  return e && e->typeId == T::kTypeId ? static_cast<T*>(e) : nullptr;
}

template <class T, class R, class F>
R withEffect(DspEffect* h, R failure, F&& f) noexcept {
  return guarded(failure, [&]() -> R {
    EffectBase* e = liveEffect(h);
    if (!e) return refuse<R>(failure, handleError(h));
    if (e->typeId != T::kTypeId) return refuse<R>(failure, kErrorWrongFamily);
    return outcome<R>(f(*static_cast<T*>(e)), failure);
  });
}

// A do call: refuses blocks above the capacity, missing buffers and effects
// without buffers before f(T&) runs.
template <class T, class F>
uint32_t withBlock(DspEffect* h, const void* in, const void* out, uint32_t bytes,
                   F&& f) noexcept {
  return withEffect<T>(h, 0u, [&](T& e) -> uint32_t {
    if (!e.allocated()) return 0;
    if (bytes != 0 && (!in || !out)) return 0;
    if (e.framesIn(bytes) > e.capacityFrames()) return 0;
    return f(e);
  });
}

template <class T, class F>
DspEffect* createEffect(F&& build) noexcept {
  return createObject<EffectBase>([] { return new (std::nothrow) T(); }, build);
}

// A term call: 1 when h was a live effect of T's family that the host (not a
// chain) owned; it is destroyed. 0 and nothing touched otherwise.
template <class T>
uint32_t destroyEffect(DspEffect* h) noexcept {
  return destroyObject<EffectBase>(
      h, 0u, [](EffectBase& e) { return e.typeId == T::kTypeId; }, [](EffectBase&) { return 1u; });
}

}  // namespace dspfx

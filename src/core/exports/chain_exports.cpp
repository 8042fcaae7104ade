#include <new>

#include "core/dsp_chain.h"
#include "core/exports/export_call.h"
#include "dspfx/dspfx.h"

namespace {

using dspfx::handleRegistry;
using Chain = dspfx::DspChain;

template <class R, class F>
R withChain(::DspChain* h, R failure, F&& f) noexcept {
  return dspfx::withObject<Chain>(h, failure, f);
}

}  // namespace

extern "C" {

DSPFX_API DspChain* dspCreate(uint32_t frames, uint32_t channels, uint32_t rate) noexcept {
  return dspfx::createObject<Chain>([&] { return new (std::nothrow) Chain(frames, channels, rate); },
                                   [](Chain&) { return true; });
}

DSPFX_API uint32_t dspAdd(DspChain* chain, DspEffect* effect, uint32_t order) noexcept {
  return withChain(chain, 0u, [&](Chain& c) -> uint32_t {
    dspfx::EffectBase* e = dspfx::liveEffect(effect);
    if (!e) return dspfx::refuse(c.count, dspfx::handleError(effect));
    // An effect belongs to one owner: the host, or exactly one chain.
    if (handleRegistry().owner(effect)) return dspfx::refuse(c.count, dspfx::kErrorChainOwned);
    const uint32_t before = c.count;
    const uint32_t after = c.add(e, order);
    if (after == before) return dspfx::refuse(c.count, dspfx::kErrorBadArgument);
    handleRegistry().setOwner(effect, &c);
    return after;
  });
}

DSPFX_API void dspClear(DspChain* chain) noexcept {
  withChain(chain, 0, [](Chain& c) {
    c.clear();
    return 1;
  });
}

DSPFX_API void dspAdjust(DspChain* chain, uint32_t frames, uint32_t channels, uint32_t rate) noexcept {
  withChain(chain, 0, [&](Chain& c) {
    c.adjust(frames, channels, rate);
    return 1;
  });
}

DSPFX_API DspEffect* dspGetHandle(DspChain* chain, uint32_t index) noexcept {
  return withChain(chain, static_cast<DspEffect*>(nullptr),
                   [&](Chain& c) { return dspfx::toHandle(c.at(index)); });
}

DSPFX_API uint32_t dspGetDstRate(DspChain* chain) noexcept {
  return withChain(chain, 0u, [](Chain& c) { return c.dstRate(); });
}

DSPFX_API uint32_t dspGetDstChannels(DspChain* chain) noexcept {
  return withChain(chain, 0u, [](Chain& c) { return c.dstChannels(); });
}

DSPFX_API uint32_t dspGetDstSize(DspChain* chain, uint32_t size) noexcept {
  return withChain(chain, 0u, [&](Chain& c) { return c.dstSize(size); });
}

DSPFX_API uint32_t dspSend(DspChain* chain, const int16_t* in, int16_t* out, uint32_t bytes) noexcept {
  return withChain(chain, 0u, [&](Chain& c) -> uint32_t {
    if (bytes != 0 && (!in || !out)) return 0;
    return c.send(in, out, bytes);
  });
}

DSPFX_API uint32_t dspSendFloat(DspChain* chain, const float* in, float* out, uint32_t frames) noexcept {
  return withChain(chain, 0u, [&](Chain& c) -> uint32_t {
    if (frames != 0 && (!in || !out)) return 0;
    return c.sendFloat(in, out, frames);
  });
}

DSPFX_API void dspDestroy(DspChain* chain) noexcept {
  // The effects go while exceptions can still be caught; the destructor
  // then finds nothing left to free.
  dspfx::destroyObject<Chain>(chain, 0, [](Chain& c) {
    c.clear();
    return 1;
  });
}

}  // extern "C"

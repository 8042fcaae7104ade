#pragma once
#include "core/dsp_chain.h"
#include "core/effect_base.h"
#include "core/handle_registry.h"

namespace dspfx {

// After a set call that changes how many frames an effect can give: a chain
// holding the effect sets up the effects after it for the new count, as a
// format change would. The effect itself keeps its input format and state.
inline void followInChain(EffectBase& e) {
  HandleRegistry& registry = handleRegistry();
  const void* owner = registry.owner(registry.handleOf(&e, HandleKind::kEffect));
  if (!owner || !registry.handleOf(owner, HandleKind::kChain)) return;
  auto* chain = static_cast<DspChain*>(const_cast<void*>(owner));
  chain->adjust(chain->frames, chain->channels, chain->rate);
}

}  // namespace dspfx

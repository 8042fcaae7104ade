#include "core/dsp_chain.h"

#include "core/handle_registry.h"
#include "core/sample_convert.h"

namespace dspfx {

uint32_t DspChain::add(EffectBase* effect, uint32_t order) {
  if (!effect->allocated()) return count;
  auto* node = new ChainNode{nullptr, nullptr, effect, order};
  if (!head) {
    head = tail = node;
  } else {
    // From the tail, so equal orders keep the order in which they came.
    ChainNode* after = tail;
    while (after && after->order > order) after = after->prev;
    if (after) {
      node->prev = after;
      node->next = after->next;
      if (after->next) {
        after->next->prev = node;
      } else {
        tail = node;
      }
      after->next = node;
    } else {
      node->next = head;
      head->prev = node;
      head = node;
    }
  }
  propagate();
  return ++count;
}

void DspChain::clear() {
  ChainNode* node = head;
  while (node) {
    ChainNode* next = node->next;
    // Out of the registry first, so no export can reach a dying effect.
    HandleRegistry& registry = handleRegistry();
    registry.remove(registry.handleOf(node->effect, HandleKind::kEffect), HandleKind::kEffect, this);
    delete node->effect;
    delete node;
    node = next;
  }
  head = tail = nullptr;
  count = 0;
}

void DspChain::adjust(uint32_t newFrames, uint32_t newChannels, uint32_t newRate) {
  frames = newFrames;
  channels = newChannels;
  rate = newRate;
  propagate();
}

void DspChain::propagate() {
  uint32_t f = frames, c = channels, r = rate;
  for (ChainNode* node = head; node; node = node->next) {
    EffectBase* e = node->effect;
    if (f != e->capacityFrames() || c != e->inChannels || r != e->inRate) e->setup(f, c, r);
    // What the next effect receives is read after this one's setup.
    f = e->outFrames;
    c = e->outChannels;
    r = e->outRate;
  }
}

EffectBase* DspChain::at(uint32_t index) const {
  ChainNode* node = head;
  for (uint32_t i = 0; node && i < index; ++i) node = node->next;
  return node ? node->effect : nullptr;
}

uint32_t DspChain::dstSize(uint32_t size) const {
  for (ChainNode* node = head; node; node = node->next) size = node->effect->getDstSize(size);
  return size;
}

// Every effect set up for what reaches it. A setup that failed must not
// leave an effect reading more channels or frames than the host's buffers
// (sized by the chain's format) or the previous effect's outputs hold.
bool DspChain::ready() const {
  uint32_t f = frames, c = channels, r = rate;
  for (ChainNode* node = head; node; node = node->next) {
    const EffectBase* e = node->effect;
    if (!e->allocated() || e->capacityFrames() < f || e->inChannels != c || e->inRate != r) return false;
    f = e->outFrames;
    c = e->outChannels;
    r = e->outRate;
  }
  return true;
}

uint32_t DspChain::runRest(uint32_t n) {
  for (ChainNode* node = head->next; node; node = node->next) {
    const EffectBase* p = node->prev->effect;
    EffectBase* f = node->effect;
    n = f->process(p->outL(), p->outR(), f->outL(), f->outR(), n);
  }
  return n;
}

uint32_t DspChain::send(const int16_t* in, int16_t* out, uint32_t bytes) {
  if (!head) {
    if (in != out) copyBytes(in, out, bytes);
    return bytes;
  }
  EffectBase* first = head->effect;
  const uint32_t n0 = first->framesIn(bytes);
  if (n0 > first->capacityFrames() || !ready()) return 0;
  pcm16ToFloat(in, bytes, first->inL(), first->stereo() ? first->inR() : nullptr, first->inChannels);
  uint32_t n = first->process(first->inL(), first->inR(), first->outL(), first->outR(), n0);
  n = runRest(n);
  const EffectBase* last = tail->effect;
  // A mono end writes its one channel to both sides of a stereo output.
  floatToPcm16(last->outL(), last->inChannels == 2 ? last->outR() : nullptr, n, out, last->outChannels);
  return (last->outChannels == 2 ? 4u : 2u) * n;
}

uint32_t DspChain::sendFloat(const float* in, float* out, uint32_t frameCount) {
  if (!head) {
    // frames x channels floats, as the header says; a count whose byte size
    // would not fit 32 bits is refused rather than wrapped.
    const uint64_t bytes = uint64_t{frameCount} * (channels == 2 ? 8u : 4u);
    if (bytes > UINT32_MAX) return 0;
    if (in != out) copyBytes(in, out, static_cast<uint32_t>(bytes));
    return frameCount;
  }
  EffectBase* first = head->effect;
  if (frameCount > first->capacityFrames() || !ready()) return 0;
  deinterleaveFloat(in, frameCount, first->inL(), first->stereo() ? first->inR() : nullptr,
                    first->inChannels);
  uint32_t n = first->process(first->inL(), first->inR(), first->outL(), first->outR(), frameCount);
  n = runRest(n);
  const EffectBase* last = tail->effect;
  interleaveFloat(last->outL(), last->inChannels == 2 ? last->outR() : nullptr, n, out, last->outChannels);
  return n;
}

}  // namespace dspfx

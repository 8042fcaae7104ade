#pragma once
#include <cstdint>

#include "core/effect_base.h"
#include "core/handle_registry.h"
#include "core/last_error.h"
#include "dspfx/dspfx.h"

namespace dspfx {

struct ChainNode {
  ChainNode* next = nullptr;  // towards the tail
  ChainNode* prev = nullptr;  // towards the head
  EffectBase* effect = nullptr;
  uint32_t order = 0;
};

// Runs several effects on one block, each reading the previous one's output
// buffers directly, and keeps every effect set up for the format reaching it.
// The chain owns the effects added to it.
class DspChain {
 public:
  using Handle = ::DspChain;
  static constexpr HandleKind kHandleKind = HandleKind::kChain;
  // What a failed init reports.
  static constexpr int32_t kInitError = kErrorBadArgument;

  DspChain(uint32_t frames, uint32_t channels, uint32_t rate)
      : frames(frames), channels(channels), rate(rate) {}
  ~DspChain() { clear(); }
  DspChain(const DspChain&) = delete;
  DspChain& operator=(const DspChain&) = delete;

  // The new count; an effect without buffers is refused (count unchanged).
  // Throws std::bad_alloc when no node can be made.
  uint32_t add(EffectBase* effect, uint32_t order);
  void clear();
  void adjust(uint32_t newFrames, uint32_t newChannels, uint32_t newRate);
  EffectBase* at(uint32_t index) const;

  uint32_t dstRate() const { return tail ? tail->effect->outRate : rate; }
  uint32_t dstChannels() const { return tail ? tail->effect->outChannels : channels; }
  uint32_t dstSize(uint32_t size) const;

  // Bytes of PCM written, or 0 when the block does not fit the chain.
  uint32_t send(const int16_t* in, int16_t* out, uint32_t bytes);
  // Frames written, or 0 when the block does not fit the chain.
  uint32_t sendFloat(const float* in, float* out, uint32_t frameCount);

  ChainNode* head = nullptr;
  ChainNode* tail = nullptr;
  uint32_t count = 0;
  uint32_t frames;
  uint32_t channels;
  uint32_t rate;

 private:
  void propagate();
  // Every effect still has its buffers (a failed setup leaves none).
  bool ready() const;
  // Runs the effects after the first one; frames produced by the last.
  uint32_t runRest(uint32_t n);
};

}  // namespace dspfx

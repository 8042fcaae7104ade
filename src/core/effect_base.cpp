#include "core/effect_base.h"

#include "core/fastmem_heap.h"
#include "core/sample_convert.h"

namespace dspfx {

EffectBase::~EffectBase() { freeAll(); }

void EffectBase::freeAll() {
  for (float*& b : buffers_) freeFloats(b);
  bufferFrames_.fill(0);
  allocated_ = false;
}

void EffectBase::releaseBuffers() {
  if (allocated_) freeAll();
  allocated_ = false;
}

bool EffectBase::setupBuffers(uint32_t frames, uint32_t channels) {
  // A refused size ends like a failed allocation: an object still holding
  // its old format would read blocks of a format nobody sized buffers for.
  bool ok = frames <= UINT32_MAX / 4;
  if (ok && (!allocated_ || frames > capacityFrames_)) {
    for (int i = 0; ok && i < kBufferCount; ++i) {
      float*& b = buffers_[i];
      void* grown = allocated_ ? fastmemHeap().reallocate(b, frames * 4u)
                               : fastmemHeap().allocate(frames * 4u);
      if (grown) b = static_cast<float*>(grown);
      ok = grown != nullptr;
    }
    if (ok) bufferFrames_.fill(frames);
  }
  if (!ok) {
    // Leave no half-built set behind: free everything this object holds.
    freeAll();
    capacityFrames_ = outFrames = 0;
    return false;
  }
  outFrames = frames;
  outChannels = channels;
  inChannels = channels;
  capacityFrames_ = frames;
  inRate = 0;
  allocated_ = true;
  return true;
}

bool EffectBase::growBuffers(std::initializer_list<BufferId> which, uint32_t frames) {
  if (!allocated_ || frames > UINT32_MAX / 4) return false;
  for (BufferId id : which) {
    if (bufferFrames_[id] >= frames) continue;
    void* grown = fastmemHeap().reallocate(buffers_[id], frames * 4u);
    if (!grown) return false;
    buffers_[id] = static_cast<float*>(grown);
    bufferFrames_[id] = frames;
  }
  return true;
}

bool EffectBase::shrinkBuffers(std::initializer_list<BufferId> which, uint32_t frames) {
  if (!allocated_) return false;
  for (BufferId id : which) {
    if (bufferFrames_[id] <= frames) continue;
    void* shrunk = fastmemHeap().reallocate(buffers_[id], frames * 4u);
    if (!shrunk) return false;
    buffers_[id] = static_cast<float*>(shrunk);
    bufferFrames_[id] = frames;
  }
  return true;
}

uint32_t EffectBase::setup(uint32_t frames, uint32_t channels, uint32_t rate) {
  if (!setupBuffers(frames, channels)) return 0;
  inRate = rate;
  return rate;
}

uint32_t EffectBase::processInterleaved(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
  const uint32_t frames = framesIn(bytes);
  pcm16ToFloat(pcmIn, bytes, inL(), stereo() ? inR() : nullptr, inChannels);
  processChannel(0, inL(), outL(), frames);
  if (stereo()) processChannel(1, inR(), outR(), frames);
  floatToPcm16(outL(), stereo() ? outR() : nullptr, frames, pcmOut, inChannels);
  return bytes;
}

}  // namespace dspfx

#include "core/effect_base.h"

#include "core/fastmem_heap.h"
#include "core/sample_convert.h"

namespace dspfx {
namespace {
constexpr int kBufferCount = 6;
}

EffectBase::~EffectBase() { EffectBase::releaseBuffers(); }

void EffectBase::releaseBuffers() {
  if (allocated) {
    for (int i = 0; i < kBufferCount; ++i) freeFloats(buffers()[i]);
  }
  allocated = false;
}

bool EffectBase::setupBuffers(uint32_t frames, uint32_t channels) {
  // A refused size ends like a failed allocation: an object still holding
  // its old format would read blocks of a format nobody sized buffers for.
  bool ok = frames <= UINT32_MAX / 4;
  if (ok && (!allocated || frames > capacityFrames)) {
    for (int i = 0; ok && i < kBufferCount; ++i) {
      float*& b = buffers()[i];
      void* grown = allocated ? fastmemHeap().reallocate(b, frames * 4u)
                              : fastmemHeap().allocate(frames * 4u);
      if (grown) b = static_cast<float*>(grown);
      ok = grown != nullptr;
    }
  }
  if (!ok) {
    // Leave no half-built set behind: free everything this object holds.
    for (int j = 0; j < kBufferCount; ++j) freeFloats(buffers()[j]);
    allocated = false;
    capacityFrames = outFrames = 0;
    return false;
  }
  outFrames = frames;
  outChannels = channels;
  inChannels = channels;
  capacityFrames = frames;
  inRate = 0;
  allocated = true;
  return true;
}

bool EffectBase::growBuffer(float*& buffer, uint32_t frames) {
  if (frames > UINT32_MAX / 4) return false;
  void* grown = buffer ? fastmemHeap().reallocate(buffer, frames * 4u)
                       : fastmemHeap().allocate(frames * 4u);
  if (!grown) return false;
  buffer = static_cast<float*>(grown);
  return true;
}

uint32_t EffectBase::setup(uint32_t frames, uint32_t channels, uint32_t rate) {
  if (!setupBuffers(frames, channels)) return 0;
  inRate = rate;
  return rate;
}

uint32_t EffectBase::processInterleaved(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
  const uint32_t frames = framesIn(bytes);
  pcm16ToFloat(pcmIn, bytes, inL, stereo() ? inR : nullptr, inChannels);
  processChannel(0, inL, outL, frames);
  if (stereo()) processChannel(1, inR, outR, frames);
  floatToPcm16(outL, stereo() ? outR : nullptr, frames, pcmOut, inChannels);
  return bytes;
}

}  // namespace dspfx

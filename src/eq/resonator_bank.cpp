#include "eq/resonator_bank.h"

#include <algorithm>
#include <new>

#include "core/fastmem_heap.h"
#include "core/sample_convert.h"
#include "eq/linear_gain.h"

namespace dspfx {

ResonatorBank::~ResonatorBank() {
  sections.reset();
  freeFloats(scratch);
}

bool ResonatorBank::reserve(uint32_t frames) {
  if (scratch && frames <= capacityFrames) return true;
  if (frames > UINT32_MAX / 4) return false;
  void* grown = scratch ? fastmemHeap().reallocate(scratch, frames * 4u)
                        : fastmemHeap().allocate(frames * 4u);
  if (!grown) return false;
  scratch = static_cast<float*>(grown);
  capacityFrames = frames;
  return true;
}

bool ResonatorBank::design(uint32_t frames, uint32_t rate, uint32_t count,
                           const GraphicEqBand* bands, float masterGainDb) {
  if (count != 0 && !bands) return false;
  // Rates beyond the section's signed field would turn negative there.
  if (rate > INT32_MAX) return false;
  if (!reserve(frames)) return false;
  if (!allocated || !sections || bandCount < count) {
    std::unique_ptr<ResonatorSection[]> made(new (std::nothrow) ResonatorSection[std::max(count, 1u)]);
    if (!made) return false;
    sections = std::move(made);
  }
  sampleRate = rate;
  bandCount = count;
  for (uint32_t i = 0; i < count; ++i) sections[i].init(static_cast<int32_t>(rate), bands[i]);
  setMasterGain(masterGainDb);
  allocated = true;
  return true;
}

void ResonatorBank::setMasterGain(float masterGainDb) { masterGain = linearFromDb(masterGainDb); }

int ResonatorBank::setBandGain(uint32_t band, float gainDb) {
  if (band >= bandCount) return 0;
  sections[band].setGain(gainDb);
  return 1;
}

int ResonatorBank::remakeBand(uint32_t band, float frequency, float zeroRadius, float poleRadius) {
  if (band >= bandCount) return 0;
  sections[band].design(frequency, zeroRadius, poleRadius);
  return 1;
}

uint32_t ResonatorBank::process(const float* in, float* out, uint32_t frames) {
  if (!allocated) return 0;
  if (bandCount == 0) {
    std::fill_n(out, frames, 0.0f);
    return frames;
  }
  const float* src = in;
  if (in == out) {
    // Every section reads the whole block after the first has overwritten
    // out, so an in-place block is read from a copy.
    if (frames > capacityFrames) return 0;
    copyBytes(in, scratch, frames * 4u);
    src = scratch;
  }
  ResonatorSection::runSum(sections.get(), bandCount, src, out, frames);
  const float g = masterGain;
  for (uint32_t i = 0; i < frames; ++i) out[i] *= g;
  return frames;
}

}  // namespace dspfx

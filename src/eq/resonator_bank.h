#pragma once
#include <cstdint>
#include <memory>

#include "core/dsp_object.h"
#include "dspfx/dspfx.h"
#include "eq/resonator_section.h"

namespace dspfx {

// One channel of the graphic equaliser: every band section runs on the same
// input and the bank outputs the master-scaled sum. There is no dry path.
class ResonatorBank : public DspObject {
 public:
  ResonatorBank() = default;
  ~ResonatorBank() override;

  // (Re)initialises every section from bands (states cleared). False when
  // memory cannot be had; the bank then keeps what it had.
  bool design(uint32_t frames, uint32_t rate, uint32_t count, const GraphicEqBand* bands,
              float masterGainDb);
  // Grows the scratch used by in-place blocks to frames; false when memory
  // cannot be had (the old scratch stays).
  bool reserve(uint32_t frames);
  void setMasterGain(float masterGainDb);
  // 0 for a band at or beyond bandCount (nothing changes), else 1.
  int setBandGain(uint32_t band, float gainDb);
  int remakeBand(uint32_t band, float frequency, float zeroRadius, float poleRadius);
  // in and out may be the same buffer for blocks up to capacityFrames.
  // With no bands the output is silence.
  uint32_t process(const float* in, float* out, uint32_t frames);

  const ResonatorSection* section(uint32_t band) const {
    return band < bandCount ? &sections[band] : nullptr;
  }

  uint32_t capacityFrames = 0;
  uint32_t bandCount = 0;
  uint32_t sampleRate = 0;
  float masterGain = 1.0f;

 private:
  std::unique_ptr<ResonatorSection[]> sections;
  float* scratch = nullptr;
};

}  // namespace dspfx

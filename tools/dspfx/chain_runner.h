#pragma once
// A processing chain built from command-line effects, fed block by block.
#include <cstdint>
#include <memory>
#include <vector>

#include "effects.h"
#include "wav.h"

namespace dspfx::tool {

class ChainRunner {
 public:
  // Each effect is made for the format that reaches it, so the chain has
  // nothing to set up again. seconds: the stream's length (for fades).
  ChainRunner(const AudioFormat& in, uint32_t blockFrames, uint64_t totalFrames,
              const std::vector<EffectArg>& effects);

  const AudioFormat& outFormat() const { return outFormat_; }
  // Runs up to blockFrames frames; the result stays valid until the next call.
  const int16_t* run(const int16_t* in, uint32_t frames, uint32_t& outFrames);

 private:
  struct ChainDeleter {
    void operator()(DspChain* c) const { dspDestroy(c); }
  };
  std::unique_ptr<DspChain, ChainDeleter> chain_;
  AudioFormat inFormat_, outFormat_;
  std::vector<int16_t> out_;
};

// A whole in-memory stream through the chain.
Audio runChain(const Audio& in, uint32_t blockFrames, const std::vector<EffectArg>& effects);

}  // namespace dspfx::tool

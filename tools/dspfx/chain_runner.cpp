#include "chain_runner.h"

#include <algorithm>

namespace dspfx::tool {

ChainRunner::ChainRunner(const AudioFormat& in, uint32_t blockFrames, uint64_t totalFrames,
                         const std::vector<EffectArg>& effects)
    : chain_(dspCreate(blockFrames, in.channels, in.rate)), inFormat_(in) {
  if (!chain_) throw FileError("out of memory");
  StreamFormat f{blockFrames, in.channels, in.rate, static_cast<double>(totalFrames) / in.rate};
  const auto total = static_cast<uint32_t>(std::min<uint64_t>(totalFrames, UINT32_MAX));
  for (size_t i = 0; i < effects.size(); ++i) {
    DspEffect* e = makeEffect(effects[i], f);
    if (dspAdd(chain_.get(), e, static_cast<uint32_t>(i)) != i + 1) {
      throw FileError(std::string(effects[i].info->name) + ": could not be added to the chain");
    }
    scheduleEffect(effects[i], e, f);
    f.frames = dspGetDstSize(chain_.get(), blockFrames);
    f.channels = dspGetDstChannels(chain_.get());
    f.rate = dspGetDstRate(chain_.get());
    f.seconds = static_cast<double>(dspGetDstSize(chain_.get(), total)) / f.rate;
  }
  outFormat_ = {f.channels == 2 ? 2u : 1u, f.rate};
  // Room for the largest block any effect may produce, with margin for the
  // rounding of length-changing effects.
  out_.resize((size_t{f.frames} * 2 + 64) * outFormat_.channels);
}

const int16_t* ChainRunner::run(const int16_t* in, uint32_t frames, uint32_t& outFrames) {
  // A short last block may legitimately produce nothing (a shortening
  // stretch), so 0 is not an error here.
  const uint32_t bytes = dspSend(chain_.get(), in, out_.data(), frames * 2 * inFormat_.channels);
  outFrames = bytes / (2 * outFormat_.channels);
  return out_.data();
}

Audio runChain(const Audio& in, uint32_t blockFrames, const std::vector<EffectArg>& effects) {
  ChainRunner runner(in.format, blockFrames, in.frames(), effects);
  Audio out;
  out.format = runner.outFormat();
  for (uint64_t f = 0; f < in.frames(); f += blockFrames) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(blockFrames, in.frames() - f));
    uint32_t produced = 0;
    const int16_t* block = runner.run(in.samples.data() + f * in.format.channels, n, produced);
    out.samples.insert(out.samples.end(), block, block + size_t{produced} * out.format.channels);
  }
  return out;
}

}  // namespace dspfx::tool

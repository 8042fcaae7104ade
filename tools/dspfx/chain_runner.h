#pragma once
// The effects of a command line as one pipeline: each library effect runs in
// its own chain on the float path, the tool's own effects between them. Each
// library effect's delay is taken off its output and its tail flushed with
// silence at the end, so every step gives the ideal length of its input
// (input x rate ratio, or x stretch ratio; plus the echoes of a chorus)
// whatever the block size.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "effects.h"
#include "stage.h"
#include "wav.h"

namespace dspfx::tool {

class ChainRunner {
 public:
  using Sink = std::function<void(const float* frames, uint32_t count)>;
  // More than two channels run each channel through its own chain.
  // Throws UsageError when an effect cannot take what reaches it.
  ChainRunner(const StreamInfo& in, uint32_t blockFrames, const std::vector<EffectArg>& effects, Sink sink);
  ~ChainRunner();
  ChainRunner(const ChainRunner&) = delete;
  ChainRunner& operator=(const ChainRunner&) = delete;

  // What comes out; its frames only when the input's length is known.
  const StreamInfo& out() const { return out_; }
  // False when every effect only cuts, copies or reorders samples.
  bool altersSamples() const { return alters_; }

  void put(const float* in, uint32_t frames);
  // End of the input: flushes every effect.
  void finish();

 private:
  std::vector<std::unique_ptr<Stage>> stages_;
  StreamInfo out_;
  bool alters_ = false;
};

// A whole in-memory stream through the effects.
Audio runChain(const Audio& in, uint32_t blockFrames, const std::vector<EffectArg>& effects);

}  // namespace dspfx::tool

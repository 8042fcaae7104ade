#pragma once
// One running plugin: a library effect in a one-element chain, fed from the
// host's planar float buffers. Everything that allocates happens in the
// constructor, in activate() and in make(); run() only converts layouts,
// calls setters and processes.
#include <cstdint>
#include <memory>
#include <vector>

#include "dspfx/dspfx.h"
#include "plugin_table.h"

namespace dspfx::plugins {

// A made library object and the control values it was made with.
struct BuiltEffect {
  DspChain* chain = nullptr;   // owns the effect
  DspEffect* effect = nullptr;
  std::vector<float> values;   // one per control port
  uint32_t latency = 0;        // frames
  ~BuiltEffect();
};

class EffectInstance {
 public:
  // capacity: the largest block run() hands the library at once; larger
  // host blocks are cut into pieces of this size.
  EffectInstance(const PluginInfo& info, double rate, uint32_t capacity);
  ~EffectInstance();
  EffectInstance(const EffectInstance&) = delete;
  EffectInstance& operator=(const EffectInstance&) = delete;

  const PluginInfo& info() const { return info_; }
  // With a worker, the gain plugin moves to a new level by cross-fading to
  // a new object over the ramp time: the library's own ramps take list nodes
  // from the heap when scheduled. Without one, they are scheduled in run().
  void useWorker(bool worker) { worker_ = worker; }
  bool fading() const { return fading_ != nullptr; }
  void connect(uint32_t port, float* data);
  // Makes the object from the control values now on the ports (defaults for
  // ports not yet connected).
  void activate();
  void run(uint32_t frames);

  // For hosts with a worker thread: true when a control that shapes the
  // object differs from what the current one was made with.
  bool wantsRebuild() const;
  bool shapes(uint32_t control) const;
  // The current control values, for handing to make() elsewhere.
  void snapshot(float* values) const;
  // Off the audio thread: a new object for these values (null when the
  // library refuses them: the plugin then passes its input through).
  static BuiltEffect* make(const PluginInfo& info, const float* values, double rate, uint32_t capacity);
  // On the audio thread between runs: installs fresh (which may be null) and
  // cross-fades from the old object over the next frames. The old object
  // comes back from takeRetired() once the fade is over.
  void install(BuiltEffect* fresh);
  BuiltEffect* takeRetired();

  double rate() const { return rate_; }
  uint32_t capacity() const { return capacity_; }

 private:
  float controlValue(uint32_t i) const;
  void applyLiveControls();
  // Interleaves one piece of the host's input into scratch and runs it
  // through b there (b null: the input stays as it is).
  void process(BuiltEffect* b, const float* const* in, uint32_t offset, uint32_t n, std::vector<float>& scratch);

  const PluginInfo& info_;
  const double rate_;
  const uint32_t capacity_;
  std::vector<float*> ports_;
  std::vector<float> applied_;     // live values last handed to a setter
  std::unique_ptr<BuiltEffect> current_;
  std::unique_ptr<BuiltEffect> fading_;
  BuiltEffect* retired_ = nullptr;
  uint32_t fadeDone_ = 0;
  uint32_t fadeFrames_ = 1;
  bool worker_ = false;
  std::vector<float> scratch_, fadeScratch_;
};

}  // namespace dspfx::plugins

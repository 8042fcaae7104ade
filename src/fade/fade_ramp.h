#pragma once
#include <cstdint>
#include <memory>

#include "core/dsp_object.h"

namespace dspfx {

// One scheduled ramp: the level (or cross-fader position) moves in a straight
// line to target over the frames start ... end of the unit's timeline.
struct FaderAction {
  FaderAction* next = nullptr;
  FaderAction* prev = nullptr;
  uint32_t start = 0;
  uint32_t end = 0;
  float target = 0.0f;
};

// The nodes one scheduling call may need on one unit, made before any unit is
// touched: when memory runs out, nothing has changed yet.
struct ActionSpares {
  // withAction: a node for the new action too (scheduling), else only the
  // one a split may take (clearing).
  bool make(bool withAction);
  std::unique_ptr<FaderAction> action;
  std::unique_ptr<FaderAction> split;
};

// A level in dB on one channel's timeline, moved by a time-ordered list of
// non-overlapping ramps and applied as a linear gain.
class FadeRamp : public DspObject {
 public:
  FadeRamp() = default;
  ~FadeRamp() override;

  virtual float levelAt(uint32_t frame) const;
  virtual float gainOf(float level);
  virtual void run(const float* in, float* out, uint32_t frames);
  virtual void runBlock(const float* in, float* out) { run(in, out, blockFrames); }

  // Restarts the timeline at 0 with startValue; keeps the actions unless this
  // is the first init.
  void init(uint32_t frames, float rate, float startValue);

  // Seconds to a frame of this unit's timeline, truncated; negative times
  // give 0 (always in the past), times past the counter's range its end.
  uint32_t frameOf(float seconds) const;

  // Ramps to target from start to end seconds. Past or empty ranges are
  // ignored. Takes the nodes it links from spares.
  void schedule(float startSeconds, float endSeconds, float target, ActionSpares& spares);
  // Leaves no action inside start ... end seconds.
  void clear(float startSeconds, float endSeconds, ActionSpares& spares);
  void clearActions();
  uint32_t actionCount() const;

  bool running = false;
  bool pending = false;
  float samplesPerMs = 0.0f;
  float initialLevel = 0.0f;
  float currentLevel = 0.0f;
  uint32_t blockFrames = 0;
  float msPerSample = 0.0f;
  uint32_t position = 0;
  float slope = 0.0f;
  float level = 0.0f;
  float gain = 1.0f;
  FaderAction* head = nullptr;
  FaderAction* tail = nullptr;

 protected:
  // Steps the action list to frame p: starts the head when its time has come
  // or completes it when its end is reached. True when the level must be
  // computed for p.
  bool advance(uint32_t p) {
    if (pending && !running && head && p >= head->start) {
      running = true;
    } else if (running && p >= head->end) {
      complete();
    }
    return running;
  }

 private:
  void complete();
  // Slope of a's ramp when it starts from level from.
  static float rampSlope(const FaderAction& a, float from);
  // The level a's ramp reaches at frame, a running from the target of the
  // action before it (currentLevel for the head).
  float levelOnRamp(const FaderAction& a, uint32_t frame) const;
  // Links a into the list with no overlaps left, cutting, splitting and
  // removing what lies in its range; recomputes the head's slope when a
  // different action becomes the head.
  void insert(FaderAction* a, std::unique_ptr<FaderAction>& split);
  void linkBefore(FaderAction* a, FaderAction* before);
  void unlink(FaderAction* a);
  void headMayHaveChanged(const FaderAction* oldHead);
  bool refused(uint32_t start, uint32_t end) const {
    return start <= position || end <= position || start >= end;
  }
};

}  // namespace dspfx

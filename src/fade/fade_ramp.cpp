#include "fade/fade_ramp.h"

#include <cmath>
#include <new>

#include "core/lookup_tables.h"

namespace dspfx {

bool ActionSpares::make(bool withAction) {
  if (withAction && !action) action.reset(new (std::nothrow) FaderAction);
  if (!split) split.reset(new (std::nothrow) FaderAction);
  return split && (!withAction || action);
}

FadeRamp::~FadeRamp() { clearActions(); }

float FadeRamp::levelAt(uint32_t frame) const {
  return static_cast<float>(frame - head->start) * slope + currentLevel;
}

float FadeRamp::gainOf(float value) { return dbToGain(value); }

void FadeRamp::init(uint32_t frames, float rate, float startValue) {
  samplesPerMs = static_cast<float>(0.001 * rate);
  // A zero rate leaves every time at frame 0, so nothing is ever scheduled.
  msPerSample = samplesPerMs != 0.0f ? 1.0f / samplesPerMs : 0.0f;
  initialLevel = currentLevel = level = startValue;
  blockFrames = frames;
  gain = gainOf(startValue);
  running = pending = false;
  if (!allocated) clearActions();
  allocated = true;
  position = 0;
}

uint32_t FadeRamp::frameOf(float seconds) const {
  if (msPerSample == 0.0f) return 0;
  // Float arithmetic like the fields, so 1.0 s at 44100 Hz is frame 44100.
  const float f = seconds * 1000.0f / msPerSample;
  if (!(f >= 0.0f)) return 0;
  if (f >= 4294967296.0f) return UINT32_MAX;
  return static_cast<uint32_t>(f);
}

void FadeRamp::run(const float* in, float* out, uint32_t frames) {
  for (uint32_t i = 0; i < frames; ++i) {
    const uint32_t p = position + i;
    if (advance(p)) {
      level = levelAt(p);
      gain = gainOf(level);
    }
    out[i] = gain * in[i];
  }
  position += frames;
}

void FadeRamp::complete() {
  running = false;
  currentLevel = head->target;
  FaderAction* done = head;
  unlink(done);
  delete done;
  // The gain keeps the value of the action's last frame until the next
  // action starts.
  if (head) {
    slope = rampSlope(*head, currentLevel);
    pending = true;
  } else {
    pending = false;
  }
}

float FadeRamp::rampSlope(const FaderAction& a, float from) {
  return (a.target - from) / static_cast<float>(a.end - a.start);
}

float FadeRamp::levelOnRamp(const FaderAction& a, uint32_t frame) const {
  const float from = a.prev ? a.prev->target : currentLevel;
  return static_cast<float>(frame - a.start) * rampSlope(a, from) + from;
}

void FadeRamp::schedule(float startSeconds, float endSeconds, float target, ActionSpares& spares) {
  const uint32_t start = frameOf(startSeconds), end = frameOf(endSeconds);
  if (refused(start, end) || !spares.action) return;
  FaderAction* a = spares.action.release();
  *a = FaderAction{nullptr, nullptr, start, end, target};
  const bool wasEmpty = head == nullptr;
  insert(a, spares.split);
  if (wasEmpty) pending = true;
}

void FadeRamp::clear(float startSeconds, float endSeconds, ActionSpares& spares) {
  const uint32_t start = frameOf(startSeconds), end = frameOf(endSeconds);
  if (refused(start, end)) return;
  // A stand-in action takes the range and leaves again, so the head's slope
  // follows the same rules as when a real action comes and goes.
  FaderAction stand{nullptr, nullptr, start, end, currentLevel};
  insert(&stand, spares.split);
  const FaderAction* oldHead = head;
  unlink(&stand);
  headMayHaveChanged(oldHead);
  if (!head) pending = false;
}

void FadeRamp::insert(FaderAction* a, std::unique_ptr<FaderAction>& split) {
  const FaderAction* oldHead = head;
  const uint32_t s = a->start, e = a->end;
  FaderAction* before = nullptr;  // null: a goes to the back
  for (FaderAction* x = head; x;) {
    FaderAction* next = x->next;
    if (x->end <= s) {
      x = next;
      continue;
    }
    if (x->start >= e) {
      before = x;
      break;
    }
    if (x->start >= s && x->end <= e) {
      unlink(x);
      delete x;
      x = next;
      continue;
    }
    if (x->start < s) {
      const float cut = levelOnRamp(*x, s);
      if (x->end > e && split) {
        // x spans the whole range: its tail resumes after it with x's target.
        FaderAction* rest = split.release();
        *rest = FaderAction{nullptr, nullptr, e, x->end, x->target};
        linkBefore(rest, next);
        before = rest;
      }
      x->end = s;
      x->target = cut;
      if (before) break;
      x = next;
      continue;
    }
    // Begins inside the range and ends after it.
    x->start = e;
    before = x;
    break;
  }
  linkBefore(a, before);
  headMayHaveChanged(oldHead);
}

void FadeRamp::linkBefore(FaderAction* a, FaderAction* before) {
  a->next = before;
  a->prev = before ? before->prev : tail;
  if (a->prev) {
    a->prev->next = a;
  } else {
    head = a;
  }
  if (before) {
    before->prev = a;
  } else {
    tail = a;
  }
}

void FadeRamp::unlink(FaderAction* a) {
  if (a->prev) {
    a->prev->next = a->next;
  } else {
    head = a->next;
  }
  if (a->next) {
    a->next->prev = a->prev;
  } else {
    tail = a->prev;
  }
  a->next = a->prev = nullptr;
}

void FadeRamp::headMayHaveChanged(const FaderAction* oldHead) {
  if (head && head != oldHead) slope = rampSlope(*head, currentLevel);
}

void FadeRamp::clearActions() {
  while (head) {
    FaderAction* a = head;
    head = a->next;
    delete a;
  }
  tail = nullptr;
}

uint32_t FadeRamp::actionCount() const {
  uint32_t n = 0;
  for (const FaderAction* a = head; a; a = a->next) ++n;
  return n;
}

}  // namespace dspfx

#include "pitchtime/slice_detector.h"

#include <cmath>
#include <new>

namespace dspfx {
namespace {

float dbToLinear(float db) { return static_cast<float>(std::pow(10.0, 0.05 * static_cast<double>(db))); }

// Frames in a duration, truncated; durations that are not a positive count
// of frames give none, and the count saturates rather than wrapping.
uint32_t framesIn(float rate, float seconds) {
  const double frames = std::trunc(static_cast<double>(rate) * static_cast<double>(seconds));
  if (!(frames > 0.0)) return 0;
  if (frames >= 4294967295.0) return UINT32_MAX;
  return static_cast<uint32_t>(frames);
}

}  // namespace

SliceDetector::~SliceDetector() {
  for (SliceRecord* r = lastSlice; r != nullptr;) {
    SliceRecord* prev = r->prev;
    delete r;
    r = prev;
  }
  delete[] envelope;
}

bool SliceDetector::build(uint32_t capacityFrames, float rate, float openLevelDb, float closeLevelDb,
                          float risePercent, float minSliceTime) {
  if (allocated || capacityFrames == 0) return false;
  float* env = new (std::nothrow) float[capacityFrames];
  if (!env) return false;
  if (!envelopeFollower.setup(capacityFrames, rate, 2, 33.0f, 1.0f, false, 1.0f)) {
    delete[] env;
    return false;
  }
  framePeriod = 1.0f / rate;
  openLevel = dbToLinear(openLevelDb);
  closeLevel = dbToLinear(closeLevelDb);
  rise = static_cast<float>(0.01 * static_cast<double>(risePercent));
  minimumLength = framesIn(rate, minSliceTime);
  capacity = capacityFrames;
  sampleRate = rate;
  envelope = env;
  allocated = true;
  return true;
}

void SliceDetector::append(uint32_t start, uint32_t end) {
  // Times are positions in frames times the frame period, rounded once.
  auto seconds = [this](uint32_t frames) {
    return static_cast<float>(static_cast<double>(frames) * static_cast<double>(framePeriod));
  };
  auto* r = new (std::nothrow) SliceRecord{nullptr, lastSlice, seconds(start), seconds(end)};
  if (!r) return;  // the slice is lost, the list stays whole
  if (lastSlice) {
    lastSlice->next = r;
  } else {
    firstSlice = r;
  }
  lastSlice = r;
  ++sliceCount;
}

void SliceDetector::sliceStep(float e, uint32_t p) {
  const bool attack = e >= openLevel && armed && e - valleyLevel >= rise;
  if (!open) {
    if (attack) {
      sliceStart = valleyPosition;
      open = true;
      armed = false;
    }
    return;
  }
  const bool longEnough = p - sliceStart > minimumLength;
  if (e < closeLevel && longEnough) {
    sliceEnd = p;
    append(sliceStart, p);
    open = false;
  } else if (attack && longEnough) {
    // A new attack while a slice is open: cut at the valley between them.
    sliceEnd = valleyPosition;
    append(sliceStart, valleyPosition);
    sliceStart = valleyPosition;
    armed = false;
  }
}

void SliceDetector::trackerStep(float e, uint32_t p) {
  if (seekingValley) {
    if (e > valleyLevel) {
      peakLevel = e;
      peakPosition = p;
      seekingValley = false;
      armed = true;
    } else {
      valleyLevel = e;
      valleyPosition = p;
    }
  } else if (e < peakLevel) {
    valleyLevel = e;
    valleyPosition = p;
    armed = false;
    seekingValley = true;
  } else {
    peakLevel = e;
    peakPosition = p;
  }
}

uint32_t SliceDetector::run(const float* x, uint32_t frames) {
  if (!allocated || frames > capacity) return sliceCount;
  envelopeFollower.process(x, envelope, frames);
  for (uint32_t j = 0; j < frames; ++j) {
    const float e = envelope[j];
    sliceStep(e, position);
    // The tracker sees the valley level as the slice step left it.
    trackerStep(e, position);
    ++position;
  }
  return sliceCount;
}

uint32_t SliceDetector::close() {
  if (open) {
    open = false;
    sliceEnd = position;
    append(sliceStart, position);
  }
  return sliceCount;
}

const SliceRecord* SliceDetector::slice(uint32_t index) const {
  const SliceRecord* r = firstSlice;
  for (uint32_t i = 0; r != nullptr && i < index && r->next != nullptr; ++i) r = r->next;
  return r;
}

}  // namespace dspfx

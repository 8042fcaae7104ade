#include "pitchtime/pitch_shift_channel.h"

#include <chrono>
#include <cmath>
#include <thread>

#include "rate/rate_converter.h"

namespace dspfx {
namespace {

// Holds a channel's busy flag for one scope.
class BusyScope {
 public:
  BusyScope(ChannelBusyFlag& flag, bool sleeping) : flag_(flag) {
    if (sleeping) {
      flag_.claimSleeping();
    } else {
      flag_.claimSpinning();
    }
  }
  ~BusyScope() { flag_.clear(); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  ChannelBusyFlag& flag_;
};

}  // namespace

void ChannelBusyFlag::claimSleeping() {
  while (flag_.exchange(true, std::memory_order_acquire)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void ChannelBusyFlag::claimSpinning() {
  while (flag_.exchange(true, std::memory_order_acquire)) std::this_thread::yield();
}

void PitchShiftChannel::applyPitch(float pitch) {
  // NaN has no meaningful ratio; it is taken as no shift.
  if (pitch != pitch) pitch = 0.0f;
  pending.bypass = (pitch == 0.0f);
  pitch = std::clamp(pitch, -1200.0f, 1200.0f);
  pendingPitch = pitch;
  pending.ratio = static_cast<float>(std::pow(2.0, pitch * 0.0008333333333333334));
  const float n = static_cast<float>(grainLength);
  pending.startOffset = pitch >= 0.0f ? truncToInt32(n - n * pending.ratio) : 0;
  redesignPending = true;
}

bool PitchShiftChannel::build(uint32_t sampleRate, float pitch, float outLevelDb,
                              float grainTime, float hopTime, uint32_t interpolationMode,
                              bool antiAliasOn) {
  const float rate = static_cast<float>(sampleRate);
  const uint32_t n = grainLengthFor(grainTime, rate);
  const uint32_t h = hopFor(rate, hopTime);
  if (n == 0 || h == 0) {
    allocated = false;
    return false;
  }
  BusyScope scope(busy, true);
  this->sampleRate = rate;
  grainLength = n;
  interpolation = interpolationMode;
  antiAlias = antiAliasOn;
  // Only the first build orders the filter: setOrder would clear a running
  // filter's state.
  if (!filter.allocated) filter.setOrder(kFilterOrder, kLowPass);
  applyPitch(pitch);
  setOutputLevel(outLevelDb);
  hop = h;
  slotCount = n / h + 1;
  // The ring keeps the length it was last allocated with when N shrinks.
  const uint32_t ringFrames = std::max(ringLength, 3 * n + 3);
  if (!prepareStorage(n, ringFrames, slotCount)) return false;

  const int32_t lead = pendingPitch >= 0.0f
                           ? truncToInt32(static_cast<float>(n) * pending.ratio)
                           : static_cast<int32_t>(n);
  const float ratio = pending.ratio;
  preRoll(static_cast<int32_t>(h), lead,
          [ratio](PitchGrainSlot& s) { s.readOffset = ratio * static_cast<float>(s.phase); });
  active = pending;
  allocated = true;
  return true;
}

void PitchShiftChannel::setPitch(float pitch) {
  BusyScope scope(busy, true);
  applyPitch(pitch);
}

void PitchShiftChannel::setOutLevel(float outLevelDb) {
  BusyScope scope(busy, true);
  setOutputLevel(outLevelDb);
}

double PitchShiftChannel::inputAt(const float* in, uint32_t n, double x) const {
  // The offsets of one frame (linear) and two (cubic) keep the newest frame
  // read at floor(x): a grain never reads ahead of the frame it produces.
  if (interpolation == 0) {
    const double q = x - 1.0;
    const double fi = std::floor(q);
    const auto i = static_cast<int64_t>(fi);
    float a, b;
    if (i >= 0 && i + 1 < static_cast<int64_t>(n)) {
      a = in[i];
      b = in[i + 1];
    } else {
      a = frameAt(in, n, i);
      b = frameAt(in, n, i + 1);
    }
    return a + (q - fi) * (b - a);
  }
  const double q = x - 2.0;
  const double fi = std::floor(q);
  const auto i = static_cast<int64_t>(fi);
  const double f = q - fi;
  float p0, p1, p2, p3;
  if (i >= 1 && i + 2 < static_cast<int64_t>(n)) {
    p0 = in[i - 1];
    p1 = in[i];
    p2 = in[i + 1];
    p3 = in[i + 2];
  } else {
    p0 = frameAt(in, n, i - 1);
    p1 = frameAt(in, n, i);
    p2 = frameAt(in, n, i + 1);
    p3 = frameAt(in, n, i + 2);
  }
  return p0 * cubicWeight(static_cast<float>(1.0 + f)) + p1 * cubicWeight(static_cast<float>(f)) +
         p2 * cubicWeight(static_cast<float>(1.0 - f)) + p3 * cubicWeight(static_cast<float>(2.0 - f));
}

void PitchShiftChannel::runGrains(const float* in, float* out, uint32_t n) {
  const PitchParams p = active;
  auto schedule = [&](uint32_t j) {
    if (PitchGrainSlot* g = scheduleGrain()) {
      g->position = static_cast<int32_t>(j) + p.startOffset;
      g->readOffset = 0.0f;
    }
  };
  if (p.bypass) {
    for (uint32_t j = 0; j < n; ++j) {
      schedule(j);
      ageGrains();
      out[j] = in[j];
    }
  } else {
    auto sample = [&](PitchGrainSlot& g) {
      // Formed in double so the fractional part survives large positions.
      const double v = inputAt(in, n, g.position + static_cast<double>(g.readOffset));
      g.readOffset += p.ratio;
      return v;
    };
    for (uint32_t j = 0; j < n; ++j) {
      schedule(j);
      out[j] = mixFrame<double>(sample);
    }
  }
  finishPiece(in, n);
}

void PitchShiftChannel::processPiece(const float* in, float* out, uint32_t n) {
  BusyScope scope(busy, false);
  // The filter follows the pending pitch, one piece ahead of the grains.
  if (pending.bypass || !antiAlias) {
    runGrains(in, out, n);
  } else if (pending.ratio > 1.0f) {
    if (redesignPending) {
      filter.designChebyshev(sampleRate, static_cast<float>(sampleRate * (0.5 / pending.ratio)),
                             1.0f);
      redesignPending = false;
    }
    filter.run(in, scratch.data(), n);
    runGrains(scratch.data(), out, n);
  } else {
    if (redesignPending) {
      filter.designChebyshev(sampleRate, static_cast<float>(0.5 * sampleRate * pending.ratio),
                             1.0f);
      redesignPending = false;
    }
    runGrains(in, out, n);
    filter.run(out, out, n);
  }
}

uint32_t PitchShiftChannel::process(const float* in, float* out, uint32_t frames) {
  if (!allocated) return 0;
  return forEachPiece(frames, [&](uint32_t offset, uint32_t n, uint32_t) {
    processPiece(in + offset, out + offset, n);
    return n;
  });
}

}  // namespace dspfx

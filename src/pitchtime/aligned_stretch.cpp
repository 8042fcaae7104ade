#include "pitchtime/aligned_stretch.h"

#include <algorithm>
#include <cmath>

namespace dspfx {
namespace {

// Output frames owed after in input frames at ratio: the floor of the
// exact product, formed in double so it does not depend on how the input
// was cut.
uint64_t owed(uint64_t in, double ratio) {
  return static_cast<uint64_t>(std::floor(static_cast<double>(in) * ratio));
}

}  // namespace

bool alignedTimesFrom(float sequence, float seek, float overlap, AlignedGrainTimes& times) {
  for (float t : {sequence, seek, overlap}) {
    if (!(t >= 0.0f && t <= 1.0f)) return false;
  }
  times = {sequence, seek, overlap};
  return true;
}

AlignedGrainLengths alignedLengthsFor(const AlignedGrainTimes& times, float sampleRate,
                                      double ratio) {
  AlignedGrainLengths l = defaultAlignedLengths(sampleRate, ratio);
  if (times.sequence > 0.0f) l.sequence = alignedFrames(times.sequence, sampleRate);
  if (times.seek > 0.0f) l.seek = alignedFrames(times.seek, sampleRate);
  if (times.overlap > 0.0f) l.overlap = alignedFrames(times.overlap, sampleRate);
  if (l.sequence < 2) l.sequence = 2;
  if (l.overlap >= l.sequence) l.overlap = l.sequence - 1;
  return l;
}

AlignedGrainLengths alignedLengthLimit(const AlignedGrainTimes& times, float sampleRate,
                                       double minRatio, double maxRatio) {
  AlignedGrainLengths limit;
  // The defaults grow with the distance of the ratio from 1 in octaves.
  for (double r : {minRatio, 1.0, maxRatio}) {
    const AlignedGrainLengths l = alignedLengthsFor(times, sampleRate, r);
    limit.sequence = std::max(limit.sequence, l.sequence);
    limit.seek = std::max(limit.seek, l.seek);
    limit.overlap = std::max(limit.overlap, l.overlap);
  }
  if (limit.overlap >= limit.sequence) limit.overlap = limit.sequence - 1;
  return limit;
}

bool AlignedStretch::prepare(uint32_t channels, float sampleRate, const AlignedGrainTimes& times) {
  times_ = times;
  sampleRate_ = sampleRate;
  const AlignedGrainLengths limit = alignedLengthLimit(times, sampleRate, kMinRatio, kMaxRatio);
  if (!engine_.prepare(channels, limit, kPushFrames, kMinRatio, sampleRate)) return false;
  reset();
  return true;
}

void AlignedStretch::reset() {
  engine_.reset();
  ratio_ = 0.0;
  in_ = out_ = 0;
}

void AlignedStretch::follow(double ratio) {
  if (ratio == ratio_) return;
  ratio_ = ratio;
  in_ = out_ = 0;
  engine_.setRatio(ratio);
  engine_.setLengths(alignedLengthsFor(times_, sampleRate_, ratio));
}

uint32_t AlignedStretch::outputFrames(uint32_t n, double ratio) const {
  if (ratio != ratio_) return static_cast<uint32_t>(owed(n, ratio));
  return static_cast<uint32_t>(owed(in_ + n, ratio) - out_);
}

uint32_t AlignedStretch::process(const float* inL, const float* inR, float* outL, float* outR,
                                 uint32_t n, double ratio) {
  if (!engine_.allocated) return 0;
  follow(ratio);
  uint32_t produced = 0;
  for (uint32_t done = 0; done < n;) {
    const uint32_t c = std::min(kPushFrames, n - done);
    engine_.push(inL + done, inR ? inR + done : nullptr, c);
    in_ += c;
    const auto m = static_cast<uint32_t>(owed(in_, ratio) - out_);
    engine_.pull(outL + produced, outR ? outR + produced : nullptr, m);
    out_ += m;
    produced += m;
    done += c;
  }
  return produced;
}

}  // namespace dspfx

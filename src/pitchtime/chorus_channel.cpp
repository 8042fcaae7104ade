#include "pitchtime/chorus_channel.h"

#include <cmath>
#include <numbers>
#include <cstring>

#include "core/fastmem_heap.h"
#include "core/lookup_tables.h"

namespace dspfx {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Truncation toward zero that stays defined for NaN and values beyond the
// 32-bit range (they give 0 or the nearest end): a nonsense speed or depth
// then reads the wrong place in the line, never outside it.
inline int32_t truncInt(float x) {
  if (x > -2147483648.0f && x < 2147483648.0f) return static_cast<int32_t>(x);
  return x > 0.0f ? INT32_MAX : (x < 0.0f ? INT32_MIN : 0);
}

inline int32_t truncInt(double x) {
  if (x > -2147483648.0 && x < 2147483648.0) return static_cast<int32_t>(x);
  return x > 0.0 ? INT32_MAX : (x < 0.0 ? INT32_MIN : 0);
}

}  // namespace

DelayLine::~DelayLine() { DelayLine::release(); }

void DelayLine::release() {
  freeFloats(buffer);
  allocated = false;
}

bool DelayLine::setup(uint32_t rate, float delaytime, uint32_t lineSize) {
  sampleRate = rate;
  setDelaytime(delaytime);
  if (!allocated || lineSize > size) {
    freeFloats(buffer);
    allocated = false;
    buffer = allocFloats(lineSize);
    if (!buffer) return false;
  }
  size = lineSize;
  mask = lineSize - 1;
  std::memset(buffer, 0, size_t{lineSize} * sizeof(float));
  allocated = true;
  writePosition = 0;
  return true;
}

void DelayLine::setDelaytime(float delaytime) {
  // Negative times wrap like any signed count taken as unsigned; the read
  // position is masked, so every delay stays inside the line.
  delay = static_cast<uint32_t>(truncInt(sampleRate * static_cast<double>(delaytime) * 0.001));
}

void ModulatedDelay::setSpeed(float speed) {
  rateFactor = speed != 0.0f ? static_cast<float>(1.0 / (1000.0 * speed)) : 0.0f;
  period = static_cast<float>(1000.0 * speed);
}

void ModulatedDelay::setDepth(float depthMs) {
  depth = static_cast<float>(0.001 * depthMs * sampleRate);
}

ChorusChannel::~ChorusChannel() { ChorusChannel::release(); }

void ChorusChannel::release() {
  phaseOffsets.clear();
  voiceLevels.clear();
  DelayLine::release();
}

bool ChorusChannel::build(uint32_t rate, uint32_t voices, float delaytime, float depthMs,
                          float speed, float mix, float orgMix) {
  voiceCount = voices;
  // Every voice stores the same input at the same position, so one line
  // holds the history of all of them: reading every voice's tap before the
  // frame's input is stored gives what separate lines would.
  if (!setup(rate, delaytime, kLineSize)) return false;
  msPerFrame = rate != 0 ? static_cast<float>(1000.0 / rate) : 0.0f;
  depth = static_cast<float>(depthMs * 0.001 * rate);
  time = 0.0f;
  setSpeed(speed);
  mixLevel = static_cast<float>(0.01 * mix);
  dryLevel = static_cast<float>(0.01 * orgMix);
  phaseOffsets.resize(voices);
  voiceLevels.resize(voices);
  for (uint32_t i = 0; i < voices; ++i) {
    phaseOffsets[i] = static_cast<float>((kTwoPi / voices) * i);
    voiceLevels[i] = mixLevel;
  }
  return true;
}

bool ChorusChannel::setVoiceMix(uint32_t voice, float mix) {
  if (voice >= voiceCount) return false;
  mixLevel = static_cast<float>(0.01 * mix);
  voiceLevels[voice] = mixLevel;
  return true;
}

void ChorusChannel::process(const float* in, float* out, uint32_t frames) {
  const SineTable& sine = sineTable();
  const float* table = sine.entries;
  const float scale = sine.scale;
  const uint32_t tableMask = sine.mask;
  const float radiansPerMs = static_cast<float>(kTwoPi * rateFactor);
  const float baseDelay = static_cast<float>(delay);
  const float* offsets = phaseOffsets.data();
  const float* levels = voiceLevels.data();
  for (uint32_t j = 0; j < frames; ++j) {
    const float s = in[j];
    const float phase = time * radiansPerMs;
    float acc = 0.0f;
    for (uint32_t v = 0; v < voiceCount; ++v) {
      const float t = (offsets[v] + phase) * scale;
      const int32_t i = truncInt(t);
      const uint32_t k = static_cast<uint32_t>(i) & tableMask;
      const float lfo = table[k] + (t - static_cast<float>(i)) * (table[k + 1] - table[k]);
      const int32_t d = truncInt(baseDelay + lfo * depth);
      acc += buffer[(writePosition - static_cast<uint32_t>(d)) & mask] * levels[v];
    }
    if (voiceCount != 0) buffer[writePosition] = s;
    out[j] = acc + s * dryLevel;
    writePosition = (writePosition + 1) & mask;
    // A stopped oscillator has no period to wrap by: its time stays put.
    if (period != 0.0f) {
      time += msPerFrame;
      if (time >= period) time -= std::trunc(time / period) * period;
    }
  }
}

}  // namespace dspfx

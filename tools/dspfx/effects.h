#pragma once
// The effects a chain on the command line can hold: their parameter tables
// and how each becomes a library object for a given stream format.
#include <cstdint>
#include <vector>

#include "cli.h"
#include "dspfx/dspfx.h"

namespace dspfx::tool {

const std::vector<EffectInfo>& effectTable();

struct StreamFormat {
  uint32_t frames;    // block capacity
  uint32_t channels;
  uint32_t rate;
  double seconds;     // length of the whole stream (for fades)
};

// A new library object for the effect, set for a stream of this format.
// Throws UsageError when the library refuses the combination.
DspEffect* makeEffect(const EffectArg& arg, const StreamFormat& format);
// What is scheduled on the effect's own timeline (fades), done once it sits
// where it will run: a chain's setup restarts that timeline.
void scheduleEffect(const EffectArg& arg, DspEffect* effect, const StreamFormat& format);

// Frames the effect's output trails its input, at its output rate, for a
// stream of this format; kMeasureLatency when a click through a twin of the
// effect has to tell (it depends on the converter in use).
constexpr int64_t kMeasureLatency = -1;
int64_t effectLatency(const EffectArg& arg, const StreamFormat& format);
// Output frames after the end of the input that still belong to it.
uint32_t effectTailFrames(const EffectArg& arg, uint32_t rate);
// Output duration over input duration.
double effectLengthRatio(const EffectArg& arg, uint32_t inRate, uint32_t outRate);

// The ten octave bands of the graphic equaliser (Hz).
extern const float kGeqCentres[10];
std::vector<GraphicEqBand> geqBands(const float gainsDb[10], uint32_t rate);

}  // namespace dspfx::tool

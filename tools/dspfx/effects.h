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

// The ten octave bands of the graphic equaliser (Hz).
extern const float kGeqCentres[10];
std::vector<GraphicEqBand> geqBands(const float gainsDb[10], uint32_t rate);

}  // namespace dspfx::tool

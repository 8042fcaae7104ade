#pragma once
// Whole-file analyses through the library's analysers, shared by the
// analysis commands and the demo.
#include <cstdint>
#include <string>
#include <vector>

#include "plots.h"
#include "wav.h"

namespace dspfx::tool {

// Sliding spectra every fftSize/4 frames; stereo spectra are averaged in dB.
Spectrogram spectrogramOf(const Audio& audio, uint32_t fftSize);

// Envelope per frame and channel (0 ... 32767).
EnvelopePlot envelopeOf(const Audio& audio, uint32_t blockFrames);

struct Slice {
  double start, end;  // seconds
};
struct SliceOptions {
  double openDb = -30, closeDb = -45, risePercent = 10, minSeconds = 0.05;
};
std::vector<Slice> slicesOf(const Audio& audio, const SliceOptions& options, uint32_t blockFrames);

}  // namespace dspfx::tool

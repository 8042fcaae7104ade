#pragma once
// Every command of the tool: arguments after the command name, global
// options already taken out. Each returns the process exit code or throws
// UsageError / FileError.
#include <cstdint>
#include <string>
#include <vector>

#include "cli.h"

namespace dspfx::tool {

using Args = std::vector<std::string>;

int cmdInfo(Args args, const GlobalOptions& g);
int cmdProcess(Args args, const GlobalOptions& g);
int cmdCrossfade(Args args, const GlobalOptions& g);
int cmdSpectrogram(Args args, const GlobalOptions& g);
int cmdEnvelope(Args args, const GlobalOptions& g);
int cmdSlices(Args args, const GlobalOptions& g);
int cmdDemo(Args args, const GlobalOptions& g);

struct Audio;
// A cross-fade from a to b (same format) over len seconds from start.
Audio crossfadeAudio(const Audio& a, const Audio& b, double start, double len, const float* curve,
                     uint32_t blockFrames);

// Peak and RMS of one channel of interleaved PCM, in dBFS (-inf for silence).
struct Levels {
  double peakDb, rmsDb;
};
Levels measureLevels(const int16_t* samples, uint64_t frames, uint32_t channels, uint32_t channel);

}  // namespace dspfx::tool

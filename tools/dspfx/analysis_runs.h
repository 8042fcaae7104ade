#pragma once
// Analyses through the library's analysers, streamed block by block, shared
// by the analysis commands and the demo.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "wav.h"

namespace dspfx::tool {

class Progress;

// Up to maxFrames interleaved frames into dst; 0 at the end.
using BlockSource = std::function<uint32_t(int16_t* dst, uint32_t maxFrames)>;
BlockSource blocksOf(const Audio& audio);

// Sliding spectra in dBFS (a full-scale sine on a bin reads 0): one every
// fftSize/4 frames, centred on frame 0, hop, 2 hop ... up to the end of the
// stream. The channels are analysed apart and averaged by power, so a sine
// at full scale in every channel reads 0 dBFS and one in a single channel of
// two -3 dBFS.
struct SpectraShape {
  uint32_t fftSize, hop, binCount;
};
SpectraShape spectraShape(uint32_t fftSize);
void spectraOf(const BlockSource& source, const AudioFormat& format, uint32_t fftSize,
               const std::function<void(uint64_t centreFrame, const float* dbfs)>& each, Progress* progress);

// Envelope per frame and channel, as a fraction of full scale (0 ... 1).
// each gets the first frame of a run and one array of n values per channel.
void envelopeOf(const BlockSource& source, const AudioFormat& format, uint32_t blockFrames,
                const std::function<void(uint64_t first, const std::vector<const float*>& levels, uint32_t n)>& each,
                Progress* progress);

struct Slice {
  double start, end;  // seconds
};
struct SliceOptions {
  double openDb = -30, closeDb = -45, risePercent = 10, minSeconds = 0.05;
};
std::vector<Slice> slicesOf(const Audio& audio, const SliceOptions& options, uint32_t blockFrames);

}  // namespace dspfx::tool

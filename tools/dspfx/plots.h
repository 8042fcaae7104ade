#pragma once
// The tool's pictures: a spectrogram and an envelope with slice marks.
#include <cstdint>
#include <string>
#include <vector>

#include "image.h"

namespace dspfx::tool {

struct Spectrogram {
  std::vector<float> db;  // frameCount rows of binCount magnitudes in dB
  uint32_t binCount = 0;
  uint32_t frameCount = 0;
  double rate = 0;          // sample rate of the analysed signal, Hz
  double secondsPerFrame = 0;
};

// Time across, frequency up, dB through the colour ramp over floorDb..0.
Image renderSpectrogram(const Spectrogram& s, const std::string& title, double floorDb = -100);

struct EnvelopePlot {
  std::vector<float> left, right;  // 0..32767 per frame; right may be empty
  double rate = 0;
  std::vector<double> sliceStarts, sliceEnds;  // seconds
};

Image renderEnvelope(const EnvelopePlot& e, const std::string& title);

}  // namespace dspfx::tool

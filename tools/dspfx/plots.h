#pragma once
// The tool's pictures: a spectrogram and an envelope with slice marks. Both
// are filled in as the analysis streams past, reduced on the fly to the
// picture's own pixels, so their memory follows the picture size rather than
// the length of the file.
#include <cstdint>
#include <string>
#include <vector>

#include "image.h"

namespace dspfx::tool {

struct PictureText {
  std::string title;  // bold, top left
  std::string note;   // smaller, under the title: how the picture was made
};

struct SpectrogramStyle {
  int width = 1200, height = 600;  // the whole picture, pixels
  double rangeDb = 100;            // shown from 0 dBFS down to -rangeDb
  bool logFreq = false;
  double minFreq = 0;              // Hz; 0: 0 Hz (linear) or 20 Hz (log)
  double maxFreq = 0;              // Hz; 0: half the sample rate
  PictureText text;
};

class SpectrogramPicture {
 public:
  // binCount spectra values, bin k at k * sampleRate / (2 binCount) Hz.
  SpectrogramPicture(const SpectrogramStyle& style, double sampleRate, uint32_t binCount, double seconds);
  // A spectrum in dBFS standing for the time from t0 to t1 seconds. Where
  // several meet in one pixel, the loudest shows, so a short event or a
  // narrow tone keeps its level however far the picture is reduced.
  void add(double t0, double t1, const float* dbfs);
  Canvas render() const;

 private:
  struct RowBins {
    uint32_t first, end;  // bins inside the row; when none, interpolate
    float frac;           // ... between first and first + 1
  };
  SpectrogramStyle style_;
  double rate_, seconds_;
  uint32_t binCount_;
  int plotX_, plotY_, plotW_, plotH_;
  std::vector<RowBins> rows_;
  std::vector<float> cells_;  // plotH_ rows of plotW_ values, dBFS
  std::vector<float> column_;
  double yOfFreq(double hz) const;
};

struct EnvelopeStyle {
  int width = 1200, height = 400;
  bool db = false;      // dBFS axis instead of linear
  double rangeDb = 60;  // with db: shown from 0 dBFS down to -rangeDb
  PictureText text;
};

class EnvelopePicture {
 public:
  EnvelopePicture(const EnvelopeStyle& style, uint32_t channels, double rate, uint64_t frames);
  // n envelope values (fraction of full scale) of one channel from frame first.
  void add(uint32_t channel, uint64_t first, const float* level, uint32_t n);
  void markSlice(double start, double end);
  Canvas render() const;

 private:
  EnvelopeStyle style_;
  uint32_t channels_;
  double rate_;
  uint64_t frames_;
  int plotX_, plotY_, plotW_, plotH_;
  std::vector<float> peaks_[2];  // per pixel column
  std::vector<double> sliceStarts_, sliceEnds_;
  double yOf(double level) const;
};

}  // namespace dspfx::tool

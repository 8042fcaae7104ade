#include "dsp/fft_frame.h"

#include <cmath>
#include <cstring>
#include <new>
#include <numbers>

namespace dspfx {
namespace {
// 10 log10(p) as a multiple of the natural logarithm, which the C library
// computes about twice as fast.
constexpr double kDbPerNeper = 4.3429448190325182765;
}  // namespace

SpectrumFrame::~SpectrumFrame() { releaseArrays(); }

void SpectrumFrame::releaseArrays() {
  delete[] history;
  delete[] window;
  delete[] work;
  history = window = work = nullptr;
  allocated = false;
}

bool SpectrumFrame::setup(uint32_t newHop, uint32_t newHistoryLength, uint32_t newFftSize,
                          float newFloorDb) {
  const bool powerOfTwo = newFftSize >= 2 && (newFftSize & (newFftSize - 1)) == 0;
  if (!powerOfTwo || newFftSize > static_cast<uint32_t>(kFftMaxSize) || newHop > newHistoryLength ||
      !std::isfinite(newFloorDb)) {
    return false;
  }
  const bool growHistory = !allocated || newHistoryLength > historyLength;
  const bool growFrame = !allocated || newFftSize > fftSize;
  // Everything that has to grow is obtained before anything changes, so a
  // shortage leaves the frame as it was.
  float* newHistory = growHistory ? new (std::nothrow) float[newHistoryLength]() : nullptr;
  float* newWindow = growFrame ? new (std::nothrow) float[newFftSize] : nullptr;
  float* newWork = growFrame ? new (std::nothrow) float[newFftSize]() : nullptr;
  if ((growHistory && !newHistory) || (growFrame && (!newWindow || !newWork))) {
    delete[] newHistory;
    delete[] newWindow;
    delete[] newWork;
    return false;
  }

  floorDb = -newFloorDb;
  hop = newHop;
  if (growHistory) {
    delete[] history;
    history = newHistory;
  } else if (newHistoryLength < historyLength) {
    // The newest samples stay the newest: the oldest fall off the front.
    std::memmove(history, history + (historyLength - newHistoryLength), size_t{newHistoryLength} * sizeof(float));
  }
  keep = newHistoryLength - newHop;
  historyLength = newHistoryLength;
  if (growFrame) {
    delete[] window;
    delete[] work;
    window = newWindow;
    work = newWork;
    bitReverseWork[0] = 0;  // the next transform rebuilds its tables
  }
  fftSize = newFftSize;
  // A raised cosine shifted by half a sample.
  const double step = 2.0 * std::numbers::pi / newFftSize;
  for (uint32_t i = 0; i < newFftSize; ++i) {
    window[i] = static_cast<float>(0.5 * (1.0 - std::cos(step * (i - 0.5))));
  }
  allocated = true;
  return true;
}

void SpectrumFrame::loadFrame(const float* input) {
  std::memmove(history, history + hop, size_t{keep} * sizeof(float));
  std::memcpy(history + keep, input, size_t{hop} * sizeof(float));
  // A history shorter than the frame reads as silence before its start.
  uint32_t i = 0;
  for (; i + historyLength < fftSize; ++i) work[i] = 0.0f;
  const float* newest = history + historyLength - (fftSize - i);
  for (uint32_t j = 0; i < fftSize; ++i, ++j) work[i] = newest[j] * window[i];
}

void BlockSpectrumFrame::loadFrame(const float* input) {
  for (uint32_t i = 0; i < fftSize; ++i) work[i] = input[i] * window[i];
}

void SpectrumFrame::analyse(const float* input) {
  if (!allocated) return;
  loadFrame(input);
  realFft(static_cast<int32_t>(fftSize), work, bitReverseWork, fftTable);
}

uint32_t SpectrumFrame::magnitudesDb(float* out) const {
  if (!allocated) return 0;
  const uint32_t bins = fftSize / 2;
  for (uint32_t k = 0; k < bins; ++k) {
    // Squares of floats are exact in double, so the sum is zero only when
    // both parts are.
    const double re = work[2 * k], im = work[2 * k + 1];
    const double power = re * re + im * im;
    double value = power == 0.0 ? floorDb : kDbPerNeper * std::log(power);
    if (value < floorDb) value = floorDb;
    out[k] = static_cast<float>(value);
  }
  return bins;
}

}  // namespace dspfx

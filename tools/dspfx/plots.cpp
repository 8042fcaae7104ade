#include "plots.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace dspfx::tool {
namespace {

constexpr Rgb kBackground{250, 250, 250};
constexpr Rgb kInk{30, 30, 30};
constexpr Rgb kGrid{200, 200, 200};
constexpr int kLeft = 64, kRight = 20, kTop = 28, kBottom = 40;

std::string format(double v, const char* fmt) {
  char buf[32];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

// A tick spacing of 1, 2 or 5 times a power of ten giving about n ticks.
double niceStep(double span, int n) {
  if (!(span > 0)) return 1;
  const double raw = span / n;
  const double p = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * p >= raw) return m * p;
  }
  return 10 * p;
}

void timeAxis(Image& img, int x0, int x1, int yBase, double seconds) {
  const double step = niceStep(seconds, 8);
  for (double t = 0; t <= seconds + 1e-9; t += step) {
    const int x = x0 + static_cast<int>(std::lround((x1 - x0) * t / seconds));
    img.line(x, yBase, x, yBase + 4, kInk);
    const std::string label = format(t, step < 1 ? "%.1f" : "%.0f");
    img.text(x - Image::textWidth(label) / 2, yBase + 7, label, kInk);
  }
  const std::string name = "TIME (S)";
  img.text((x0 + x1 - Image::textWidth(name)) / 2, yBase + 22, name, kInk);
}

}  // namespace

Image renderSpectrogram(const Spectrogram& s, const std::string& title, double floorDb) {
  const int plotW = std::clamp(static_cast<int>(s.frameCount), 200, 960);
  const int plotH = std::clamp(static_cast<int>(s.binCount), 128, 384);
  Image img(kLeft + plotW + kRight, kTop + plotH + kBottom, kBackground);
  const int x0 = kLeft, y0 = kTop, x1 = kLeft + plotW - 1, y1 = kTop + plotH - 1;
  img.text(x0, 8, title, kInk, 1);
  if (s.frameCount && s.binCount) {
    for (int px = 0; px < plotW; ++px) {
      const uint32_t frame = std::min<uint32_t>(s.frameCount - 1, static_cast<uint32_t>(
          static_cast<uint64_t>(px) * s.frameCount / plotW));
      for (int py = 0; py < plotH; ++py) {
        // Bins covered by this pixel row: show their loudest.
        const uint32_t b0 = static_cast<uint32_t>(static_cast<uint64_t>(plotH - 1 - py) * s.binCount / plotH);
        const uint32_t b1 = std::max(b0 + 1, static_cast<uint32_t>(static_cast<uint64_t>(plotH - py) * s.binCount / plotH));
        float v = -1e30f;
        for (uint32_t b = b0; b < b1 && b < s.binCount; ++b) v = std::max(v, s.db[size_t{frame} * s.binCount + b]);
        // Whole 4 dB steps: little visible loss, and few colours to store.
        const double stepped = 4.0 * std::floor(v / 4.0);
        img.set(x0 + px, y0 + py, colourRamp((stepped - floorDb) / -floorDb));
      }
    }
  }
  // Frequency axis in kHz.
  const double nyquist = s.rate / 2;
  const double step = niceStep(nyquist / 1000, 6);
  for (double f = 0; f <= nyquist / 1000 + 1e-9; f += step) {
    const int y = y1 - static_cast<int>(std::lround((y1 - y0) * f * 1000 / nyquist));
    img.line(x0 - 4, y, x0 - 1, y, kInk);
    const std::string label = format(f, step < 1 ? "%.1f" : "%.0f");
    img.text(x0 - 7 - Image::textWidth(label), y - 3, label, kInk);
  }
  img.text(4, y0 - 14, "KHZ", kInk);
  timeAxis(img, x0, x1, y1 + 1, std::max(1e-9, s.frameCount * s.secondsPerFrame));
  return img;
}

Image renderEnvelope(const EnvelopePlot& e, const std::string& title) {
  const size_t n = e.left.size();
  const int plotW = 1000, plotH = 300;
  Image img(kLeft + plotW + kRight, kTop + plotH + kBottom, kBackground);
  const int x0 = kLeft, y0 = kTop, x1 = kLeft + plotW - 1, y1 = kTop + plotH - 1;
  img.text(x0, 8, title, kInk);
  const double seconds = n && e.rate > 0 ? n / e.rate : 1;
  auto xOf = [&](double t) { return x0 + static_cast<int>(std::lround((x1 - x0) * t / seconds)); };
  for (size_t k = 0; k < e.sliceStarts.size(); ++k) {
    const int xs = xOf(e.sliceStarts[k]);
    const int xe = k < e.sliceEnds.size() ? xOf(e.sliceEnds[k]) : xs;
    img.fillRect(xs, y0, std::max(xs, xe), y1, Rgb{225, 235, 250});
    img.line(xs, y0, xs, y1, Rgb{40, 90, 200});
  }
  for (int q = 0; q <= 4; ++q) {
    const int y = y1 - (y1 - y0) * q / 4;
    img.line(x0, y, x1, y, kGrid);
    const std::string label = format(q * 25.0, "%.0f%%");
    img.text(x0 - 7 - Image::textWidth(label), y - 3, label, kInk);
  }
  auto trace = [&](const std::vector<float>& v, Rgb c) {
    if (v.empty()) return;
    // One column per pixel: the column's peak, so short attacks stay visible.
    for (int px = 0; px < plotW; ++px) {
      const size_t a = static_cast<size_t>(px) * v.size() / plotW;
      const size_t b = std::max(a + 1, static_cast<size_t>(px + 1) * v.size() / plotW);
      float peak = 0;
      for (size_t i = a; i < b && i < v.size(); ++i) peak = std::max(peak, v[i]);
      const int y = y1 - static_cast<int>(std::lround((y1 - y0) * std::min(peak, 32767.0f) / 32767.0));
      img.line(x0 + px, y1, x0 + px, y, c);
    }
  };
  trace(e.left, Rgb{230, 120, 40});
  trace(e.right, Rgb{120, 60, 160});
  timeAxis(img, x0, x1, y1 + 1, seconds);
  return img;
}

}  // namespace dspfx::tool

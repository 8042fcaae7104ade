#include "plots.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace dspfx::tool {
namespace {

constexpr Rgb kBackground{255, 255, 255};
constexpr Rgb kInk{33, 33, 33};
constexpr Rgb kSoftInk{110, 110, 110};
constexpr double kLabelSize = 12, kTitleSize = 15, kNoteSize = 11.5;
// Margins around the plot: labels and axis title left, tick labels and axis
// title below, title and note above.
constexpr int kLeft = 78, kTop = 52, kBottom = 50, kRightPlain = 24, kRightBar = 110;

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

// Enough decimals to tell neighbouring ticks apart, and no more.
const char* decimalsFor(double step) { return step >= 1 ? "%.0f" : step >= 0.1 ? "%.1f" : step >= 0.01 ? "%.2f" : "%.3f"; }

// "-0" reads as a typo on an axis.
std::string tickLabel(double v, double step) {
  if (std::fabs(v) < step * 1e-6) v = 0;
  return format(v, decimalsFor(step));
}

// Text cut at a word to fit the width, marked with an ellipsis when cut.
std::string fitted(const Canvas& c, const std::string& s, double width, double size, bool bold) {
  if (c.textWidth(s, size, bold) <= width) return s;
  std::string cut = s;
  while (!cut.empty()) {
    const size_t space = cut.find_last_of(' ');
    cut.resize(space == std::string::npos ? 0 : space);
    while (!cut.empty() && (cut.back() == ',' || cut.back() == ';')) cut.pop_back();
    if (c.textWidth(cut + "\u2026", size, bold) <= width) return cut + "\u2026";
  }
  return "";
}

// Title and note end where the plot does, clear of the colour bar's label.
void drawHeading(const Canvas& c, const PictureText& t, double right) {
  const double width = right - kLeft;
  c.text(kLeft, 22, fitted(c, t.title, width, kTitleSize, true), kInk, kTitleSize, Canvas::Align::left, true);
  if (!t.note.empty()) c.text(kLeft, 40, fitted(c, t.note, width, kNoteSize, false), kSoftInk, kNoteSize);
}

void drawTimeAxis(const Canvas& c, int x0, int w, int yBase, double seconds) {
  const double step = niceStep(seconds, std::max(2, w / 110));
  for (double t = 0; t <= seconds * (1 + 1e-9); t += step) {
    const double x = x0 + w * t / seconds;
    c.line(std::round(x), yBase, std::round(x), yBase + 5, kInk);
    c.text(x, yBase + 19, tickLabel(t, step), kInk, kLabelSize, Canvas::Align::centre);
  }
  c.text(x0 + w / 2.0, yBase + 38, "Time (s)", kInk, kLabelSize, Canvas::Align::centre);
}

void drawFrame(const Canvas& c, int x, int y, int w, int h) {
  cairo_rectangle(c.cr(), x - 0.5, y - 0.5, w + 1, h + 1);
  c.colour(kInk);
  cairo_set_line_width(c.cr(), 1);
  cairo_stroke(c.cr());
}

}  // namespace

SpectrogramPicture::SpectrogramPicture(const SpectrogramStyle& style, double sampleRate, uint32_t binCount,
                                       double seconds)
    : style_(style), rate_(sampleRate), seconds_(seconds > 0 ? seconds : 1), binCount_(binCount) {
  const double nyquist = rate_ / 2;
  if (!(style_.maxFreq > 0) || style_.maxFreq > nyquist) style_.maxFreq = nyquist;
  if (style_.logFreq && !(style_.minFreq > 0)) style_.minFreq = std::min(20.0, style_.maxFreq / 10);
  if (!(style_.minFreq >= 0) || style_.minFreq >= style_.maxFreq) style_.minFreq = 0;
  plotX_ = kLeft;
  plotY_ = kTop;
  plotW_ = std::max(16, style_.width - kLeft - kRightBar);
  plotH_ = std::max(16, style_.height - kTop - kBottom);
  cells_.assign(size_t(plotW_) * plotH_, -std::numeric_limits<float>::infinity());
  column_.resize(plotH_);
  // Each pixel row spans a band of frequencies; on a log axis the low rows
  // are narrower than one bin and read between the two nearest.
  const double binHz = nyquist / binCount_;
  for (int py = 0; py < plotH_; ++py) {
    auto freqAt = [&](double fromBottom) {
      const double u = fromBottom / plotH_;
      return style_.logFreq ? style_.minFreq * std::pow(style_.maxFreq / style_.minFreq, u)
                            : style_.minFreq + (style_.maxFreq - style_.minFreq) * u;
    };
    const double lo = freqAt(plotH_ - 1 - py), hi = freqAt(plotH_ - py);
    const auto first = static_cast<uint32_t>(std::ceil(lo / binHz));
    const auto end = static_cast<uint32_t>(std::min<double>(binCount_, std::floor(hi / binHz) + 1));
    if (end > first && first < binCount_) {
      rows_.push_back({first, end, 0});
    } else {
      const double k = std::min<double>(binCount_ - 1, 0.5 * (lo + hi) / binHz);
      const auto below = std::min<uint32_t>(binCount_ - 1, static_cast<uint32_t>(k));
      rows_.push_back({below, below, static_cast<float>(k - below)});
    }
  }
}

void SpectrogramPicture::add(double t0, double t1, const float* dbfs) {
  for (int py = 0; py < plotH_; ++py) {
    const RowBins& r = rows_[py];
    float v;
    if (r.end > r.first) {
      v = *std::max_element(dbfs + r.first, dbfs + r.end);
    } else {
      const uint32_t above = std::min(binCount_ - 1, r.first + 1);
      v = dbfs[r.first] + r.frac * (dbfs[above] - dbfs[r.first]);
    }
    column_[py] = v;
  }
  const int x0 = std::clamp(static_cast<int>(std::floor(t0 / seconds_ * plotW_)), 0, plotW_ - 1);
  const int x1 = std::clamp(static_cast<int>(std::floor(t1 / seconds_ * plotW_)), x0 + 1, plotW_);
  for (int py = 0; py < plotH_; ++py) {
    float* row = &cells_[size_t(py) * plotW_];
    for (int x = x0; x < x1; ++x) row[x] = std::max(row[x], column_[py]);
  }
}

double SpectrogramPicture::yOfFreq(double hz) const {
  const double u = style_.logFreq ? std::log(hz / style_.minFreq) / std::log(style_.maxFreq / style_.minFreq)
                                  : (hz - style_.minFreq) / (style_.maxFreq - style_.minFreq);
  return plotY_ + plotH_ * (1 - u);
}

Canvas SpectrogramPicture::render() const {
  Canvas c(style_.width, style_.height, kBackground);
  drawHeading(c, style_.text, plotX_ + plotW_);

  // The cells go through the colour ramp into a pixel surface painted as is.
  cairo_surface_t* cells = cairo_image_surface_create(CAIRO_FORMAT_RGB24, plotW_, plotH_);
  unsigned char* data = cairo_image_surface_get_data(cells);
  const int stride = cairo_image_surface_get_stride(cells);
  const double range = style_.rangeDb;
  for (int py = 0; py < plotH_; ++py) {
    auto* px = reinterpret_cast<uint32_t*>(data + size_t(py) * stride);
    for (int x = 0; x < plotW_; ++x) {
      const Rgb v = colourRamp((cells_[size_t(py) * plotW_ + x] + range) / range);
      px[x] = (uint32_t{v.r} << 16) | (uint32_t{v.g} << 8) | v.b;
    }
  }
  cairo_surface_mark_dirty(cells);
  cairo_set_source_surface(c.cr(), cells, plotX_, plotY_);
  cairo_paint(c.cr());
  cairo_surface_destroy(cells);
  drawFrame(c, plotX_, plotY_, plotW_, plotH_);

  // Frequency axis: kHz on a linear axis above 2 kHz; on a log axis the
  // 1-2-5 steps, with k for thousands.
  const int xAxis = plotX_;
  auto freqTick = [&](double hz, const std::string& label) {
    const double y = std::round(yOfFreq(hz));
    if (y < plotY_ - 0.5 || y > plotY_ + plotH_ + 0.5) return;
    c.line(xAxis - 5, y, xAxis - 1, y, kInk);
    c.text(xAxis - 8, y + 4, label, kInk, kLabelSize, Canvas::Align::right);
  };
  std::string freqTitle;
  if (style_.logFreq) {
    freqTitle = "Frequency (Hz)";
    // 2 and 5 are labelled only where a decade has room for three labels.
    const double decadePixels = plotH_ / std::log10(style_.maxFreq / style_.minFreq);
    for (double decade = 1; decade <= style_.maxFreq; decade *= 10) {
      for (double m : {1.0, 2.0, 5.0}) {
        const double hz = m * decade;
        if (hz < style_.minFreq * (1 - 1e-9) || hz > style_.maxFreq * (1 + 1e-9)) continue;
        const bool labelled = m == 1.0 || decadePixels >= 60;
        freqTick(hz, !labelled ? "" : hz >= 1000 ? format(hz / 1000, "%gk") : format(hz, "%g"));
      }
    }
  } else {
    const bool khz = style_.maxFreq > 2000;
    const double unit = khz ? 1000 : 1;
    freqTitle = khz ? "Frequency (kHz)" : "Frequency (Hz)";
    const double lo = style_.minFreq / unit, hi = style_.maxFreq / unit;
    const double step = niceStep(hi - lo, std::max(2, plotH_ / 60));
    for (double f = std::ceil(lo / step - 1e-9) * step; f <= hi * (1 + 1e-9); f += step) {
      freqTick(f * unit, tickLabel(f, step));
    }
  }
  c.textUp(18, plotY_ + plotH_ / 2.0, freqTitle, kInk, kLabelSize);
  drawTimeAxis(c, plotX_, plotW_, plotY_ + plotH_, seconds_);

  // Colour bar with its dB scale, 0 dBFS at the top.
  const int barX = plotX_ + plotW_ + 18, barW = 16;
  for (int py = 0; py < plotH_; ++py) {
    c.fillRect(barX, plotY_ + py, barW, 1, colourRamp(1.0 - (py + 0.5) / plotH_));
  }
  drawFrame(c, barX, plotY_, barW, plotH_);
  const double step = niceStep(range, std::max(2, plotH_ / 50));
  for (double db = 0; db <= range * (1 + 1e-9); db += step) {
    const double y = std::round(plotY_ + plotH_ * db / range);
    c.line(barX + barW, y, barX + barW + 4, y, kInk);
    c.text(barX + barW + 7, y + 4, tickLabel(-db, step), kInk, kLabelSize);
  }
  c.text(barX + barW / 2.0, plotY_ - 8, "dBFS", kInk, kLabelSize, Canvas::Align::centre);
  return c;
}

EnvelopePicture::EnvelopePicture(const EnvelopeStyle& style, uint32_t channels, double rate, uint64_t frames)
    : style_(style), channels_(channels == 2 ? 2 : 1), rate_(rate), frames_(frames ? frames : 1) {
  plotX_ = kLeft;
  plotY_ = kTop;
  plotW_ = std::max(16, style_.width - kLeft - kRightPlain);
  plotH_ = std::max(16, style_.height - kTop - kBottom);
  for (uint32_t ch = 0; ch < channels_; ++ch) peaks_[ch].assign(plotW_, 0.0f);
}

void EnvelopePicture::add(uint32_t channel, uint64_t first, const float* level, uint32_t n) {
  if (channel >= channels_) return;
  std::vector<float>& peaks = peaks_[channel];
  // Each pixel column keeps the peak of its frames, so short attacks stay visible.
  for (uint32_t i = 0; i < n; ++i) {
    const auto x = static_cast<size_t>(std::min<uint64_t>(plotW_ - 1, (first + i) * plotW_ / frames_));
    peaks[x] = std::max(peaks[x], level[i]);
  }
}

void EnvelopePicture::markSlice(double start, double end) {
  sliceStarts_.push_back(start);
  sliceEnds_.push_back(end);
}

double EnvelopePicture::yOf(double level) const {
  double u = level;
  if (style_.db) u = level > 0 ? (20 * std::log10(level) + style_.rangeDb) / style_.rangeDb : 0;
  return plotY_ + plotH_ * (1 - std::clamp(u, 0.0, 1.0));
}

Canvas EnvelopePicture::render() const {
  Canvas c(style_.width, style_.height, kBackground);
  drawHeading(c, style_.text, plotX_ + plotW_ - (channels_ == 2 ? 120 : 0));
  const double seconds = frames_ / rate_;
  auto xOf = [&](double t) { return plotX_ + plotW_ * t / seconds; };
  for (size_t k = 0; k < sliceStarts_.size(); ++k) {
    const double xs = xOf(sliceStarts_[k]), xe = xOf(sliceEnds_[k]);
    c.fillRect(xs, plotY_, std::max(1.0, xe - xs), plotH_, Rgb{222, 232, 250});
    c.line(std::round(xs), plotY_, std::round(xs), plotY_ + plotH_, Rgb{40, 90, 200});
  }
  // Fills first, then the grid over them (so it reads through), then the
  // outlines on top, so no channel hides another's edge.
  const Rgb colours[2] = {{230, 120, 40}, {110, 60, 170}};
  cairo_t* cr = c.cr();
  auto trace = [&](uint32_t ch) {
    cairo_move_to(cr, plotX_, plotY_ + plotH_);
    for (int x = 0; x < plotW_; ++x) cairo_line_to(cr, plotX_ + x + 0.5, yOf(peaks_[ch][x]));
    cairo_line_to(cr, plotX_ + plotW_, plotY_ + plotH_);
    cairo_close_path(cr);
  };
  for (uint32_t ch = 0; ch < channels_; ++ch) {
    trace(ch);
    c.colour(colours[ch], channels_ == 2 ? 0.4 : 0.55);
    cairo_fill(cr);
  }
  auto gridLine = [&](double y, const std::string& label) {
    cairo_move_to(cr, plotX_, y + 0.5);
    cairo_line_to(cr, plotX_ + plotW_, y + 0.5);
    c.colour(kInk, 0.15);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    c.text(plotX_ - 8, y + 4, label, kInk, kLabelSize, Canvas::Align::right);
  };
  if (style_.db) {
    const double step = niceStep(style_.rangeDb, std::max(2, plotH_ / 50));
    for (double db = 0; db <= style_.rangeDb * (1 + 1e-9); db += step) {
      gridLine(std::round(plotY_ + plotH_ * db / style_.rangeDb), tickLabel(-db, step));
    }
  } else {
    for (int q = 0; q <= 4; ++q) gridLine(std::round(yOf(q / 4.0)), format(q * 25.0, "%.0f"));
  }
  c.textUp(18, plotY_ + plotH_ / 2.0, style_.db ? "Level (dBFS)" : "Level (% of full scale)", kInk, kLabelSize);
  for (uint32_t ch = 0; ch < channels_; ++ch) {
    trace(ch);
    c.colour(colours[ch]);
    cairo_set_line_width(cr, 1.2);
    cairo_stroke(cr);
  }
  if (channels_ == 2) {
    double x = plotX_ + plotW_ - 110;
    for (uint32_t ch = 0; ch < 2; ++ch) {
      c.fillRect(x, plotY_ - 19, 10, 10, colours[ch], 0.8);
      x += 16 + c.text(x + 14, plotY_ - 10, ch ? "right" : "left", kInk, kLabelSize) + 12;
    }
  }
  drawFrame(c, plotX_, plotY_, plotW_, plotH_);
  drawTimeAxis(c, plotX_, plotW_, plotY_ + plotH_, seconds);
  return c;
}

}  // namespace dspfx::tool

#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace dspfx::tool {
namespace {

std::string clock(double seconds) {
  const auto s = static_cast<long>(std::lround(seconds));
  char buf[32];
  if (s >= 3600) {
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  }
  return buf;
}

}  // namespace

Progress::Progress(std::string label, uint64_t total, bool quiet, double sampleRate)
    : label_(std::move(label)),
      total_(total),
      sampleRate_(sampleRate),
      enabled_(!quiet && ::isatty(STDERR_FILENO) == 1),
      start_(std::chrono::steady_clock::now()),
      last_(start_) {}

Progress::~Progress() { finish(); }

void Progress::finish() {
  if (shown_) std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
  shown_ = false;
  enabled_ = false;
}

std::string Progress::line(const std::string& label, uint64_t done, uint64_t total, double elapsed,
                           double sampleRate) {
  if (done > total) done = total;
  const double share = total ? static_cast<double>(done) / total : 0;
  constexpr int kBar = 24;
  const int filled = static_cast<int>(share * kBar);
  std::string out = label + " [" + std::string(filled, '#') + std::string(kBar - filled, ' ') + "] ";
  char buf[160];
  std::snprintf(buf, sizeof buf, "%3.0f%%  %s elapsed", 100 * share, clock(elapsed).c_str());
  out += buf;
  if (elapsed > 0 && done > 0) {
    const double perSecond = done / elapsed;
    if (sampleRate > 0) {
      std::snprintf(buf, sizeof buf, ", %.1fx real time", perSecond / sampleRate);
    } else {
      std::snprintf(buf, sizeof buf, ", %.0f frames/s", perSecond);
    }
    out += buf;
    out += ", " + clock((total - done) / perSecond) + " left";
  }
  return out;
}

void Progress::update(uint64_t done) {
  if (!enabled_ || total_ == 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < std::chrono::seconds(1)) return;
  // Four redraws a second keep the line readable and cost nothing.
  if (shown_ && now - last_ < std::chrono::milliseconds(250)) return;
  last_ = now;
  shown_ = true;
  const std::string text = line(label_, done, total_, std::chrono::duration<double>(now - start_).count(), sampleRate_);
  // Pad over a longer previous line.
  std::fprintf(stderr, "\r%-*s", static_cast<int>(width_), text.c_str());
  width_ = std::max(width_, text.size());
  std::fflush(stderr);
}

}  // namespace dspfx::tool

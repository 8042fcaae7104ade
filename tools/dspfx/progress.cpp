#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace dspfx::tool {

Progress::Progress(std::string label, uint64_t total, bool quiet)
    : label_(std::move(label)),
      total_(total),
      enabled_(!quiet && ::isatty(STDERR_FILENO) == 1),
      start_(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
  if (shown_) std::fprintf(stderr, "\r%*s\r", 70, "");
}

void Progress::update(uint64_t done) {
  if (!enabled_ || total_ == 0) return;
  if (!shown_ && std::chrono::steady_clock::now() - start_ < std::chrono::seconds(2)) return;
  const int percent = static_cast<int>(100 * (done > total_ ? total_ : done) / total_);
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  shown_ = true;
  constexpr int kWidth = 40;
  const int filled = percent * kWidth / 100;
  std::fprintf(stderr, "\r%-16.16s [%.*s%*s] %3d%%", label_.c_str(), filled,
               "########################################", kWidth - filled, "", percent);
  std::fflush(stderr);
}

}  // namespace dspfx::tool

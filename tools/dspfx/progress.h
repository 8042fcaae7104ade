#pragma once
// A progress bar on stderr, shown only on a terminal and only once work has
// taken more than two seconds, so short runs and pipes stay quiet.
#include <chrono>
#include <cstdint>
#include <string>

namespace dspfx::tool {

class Progress {
 public:
  Progress(std::string label, uint64_t total, bool quiet);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  void update(uint64_t done);

 private:
  std::string label_;
  uint64_t total_;
  bool enabled_;
  bool shown_ = false;
  int lastPercent_ = -1;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace dspfx::tool

#pragma once
// A progress line on stderr: share done, elapsed time, speed and time left.
// Shown only on a terminal and only once work has taken more than a second,
// so short runs and pipes stay quiet.
#include <chrono>
#include <cstdint>
#include <string>

namespace dspfx::tool {

class Progress {
 public:
  // total and update() count frames; with the sample rate the speed reads
  // as a multiple of real time, without it as frames per second.
  Progress(std::string label, uint64_t total, bool quiet, double sampleRate = 0);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  void update(uint64_t done);
  // Clears the line, so what the command prints next starts clean.
  void finish();

  // The line for done of total after elapsed seconds (no carriage return).
  static std::string line(const std::string& label, uint64_t done, uint64_t total, double elapsed,
                          double sampleRate);

 private:
  std::string label_;
  uint64_t total_;
  double sampleRate_;
  bool enabled_;
  bool shown_ = false;
  size_t width_ = 0;
  std::chrono::steady_clock::time_point start_, last_;
};

}  // namespace dspfx::tool

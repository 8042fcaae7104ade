#pragma once
// WAV files through the library's reader and writer, with the checks a
// person at a terminal expects: only 16-bit PCM, one or two channels,
// nothing empty or truncated, and reading stops at the end of the samples.
#include <cstdint>
#include <string>
#include <vector>

#include "dspfx/dspfx.h"

namespace dspfx::tool {

struct AudioFormat {
  uint32_t channels = 0;
  uint32_t rate = 0;
};

class WavReader {
 public:
  // Throws FileError naming the file and the reason.
  WavReader(const std::string& path, uint32_t blockFrames);
  ~WavReader();
  WavReader(const WavReader&) = delete;
  WavReader& operator=(const WavReader&) = delete;

  const AudioFormat& format() const { return format_; }
  uint64_t frames() const { return totalFrames_; }
  // Up to maxFrames (at most the block size) frames into dst; 0 at the end.
  uint32_t read(int16_t* dst, uint32_t maxFrames);

 private:
  std::string path_;
  WavefileIn* in_ = nullptr;
  AudioFormat format_;
  uint32_t blockFrames_;
  uint64_t totalFrames_ = 0;
  uint64_t framesLeft_ = 0;
};

class WavWriter {
 public:
  // Writes to path directly; callers pass a temporary path (OutputFile).
  WavWriter(const std::string& path, const AudioFormat& format);
  ~WavWriter();
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  void write(const int16_t* samples, uint32_t frames);
  // Fixes the sizes and closes; throws FileError when that fails.
  void close();

 private:
  std::string path_;
  WavefileOut* out_ = nullptr;
  AudioFormat format_;
  uint64_t bytes_ = 0;
};

struct Audio {
  AudioFormat format;
  std::vector<int16_t> samples;  // interleaved
  uint64_t frames() const { return format.channels ? samples.size() / format.channels : 0; }
};

Audio readWav(const std::string& path);
// Through a temporary file renamed into place.
void writeWav(const std::string& path, const Audio& audio);

}  // namespace dspfx::tool

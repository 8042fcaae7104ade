#include "wavefile/wavefile_out.h"

#include "wavefile/utf8_file.h"

namespace dspfx {

WavefileOut::~WavefileOut() {
  if (open) close();
}

bool WavefileOut::init(const char* fileName, const WavefileFormat& fmt) {
  if (!fileName) return false;
  format = fmt;
  fileName_ = fileName;
  if (!file.open(fileName, RiffFile::Mode::kCreate)) return false;
  if (!writeHeaders()) {
    abandon();
    return false;
  }
  open = true;
  return true;
}

bool WavefileOut::writeHeaders() {
  const uint8_t fmt[18] = {
      static_cast<uint8_t>(format.formatTag), static_cast<uint8_t>(format.formatTag >> 8),
      static_cast<uint8_t>(format.channels), static_cast<uint8_t>(format.channels >> 8),
      static_cast<uint8_t>(format.samplesPerSec), static_cast<uint8_t>(format.samplesPerSec >> 8),
      static_cast<uint8_t>(format.samplesPerSec >> 16), static_cast<uint8_t>(format.samplesPerSec >> 24),
      static_cast<uint8_t>(format.avgBytesPerSec), static_cast<uint8_t>(format.avgBytesPerSec >> 8),
      static_cast<uint8_t>(format.avgBytesPerSec >> 16), static_cast<uint8_t>(format.avgBytesPerSec >> 24),
      static_cast<uint8_t>(format.blockAlign), static_cast<uint8_t>(format.blockAlign >> 8),
      static_cast<uint8_t>(format.bitsPerSample), static_cast<uint8_t>(format.bitsPerSample >> 8),
      static_cast<uint8_t>(format.extraSize), static_cast<uint8_t>(format.extraSize >> 8)};
  // The "fmt " chunk is always the full 18 bytes, extra-size field included,
  // even for plain PCM, and the data size is a placeholder until closing.
  // Flushing at once makes a file that cannot take even the header fail
  // here, where the writer can still be refused.
  return file.seekTo(0) == 0 && file.createChunk(riffChunk, fourcc("RIFF"), 0, fourcc("WAVE")) &&
         file.createChunk(subChunk, fourcc("fmt "), sizeof fmt) &&
         file.write(fmt, sizeof fmt) == static_cast<int32_t>(sizeof fmt) && file.ascend(subChunk) &&
         file.createChunk(subChunk, fourcc("data"), kPlaceholderDataBytes) && file.flush();
}

int32_t WavefileOut::write(const void* bytes, int32_t count) {
  if (!open || !bytes || count <= 0) return 0;
  if (written_ + static_cast<uint64_t>(count) > kMaxDataBytes) return -1;
  const int32_t n = file.write(bytes, count);
  if (n > 0) written_ += static_cast<uint64_t>(n);
  return n;
}

uint32_t WavefileOut::flush() {
  if (!open) return 0;
  return file.flush() ? 1 : 0;
}

uint32_t WavefileOut::close() {
  if (!open) return 0;
  open = false;
  // Each ascent pads an odd chunk and writes its real size: "data" first,
  // so that the RIFF size counts the pad byte.
  const bool sized = file.ascend(subChunk) && file.ascend(riffChunk);
  const bool flushed = file.flush();
  const bool closed = file.close();
  return sized && flushed && closed ? subChunk.size : 0;
}

void WavefileOut::abandon() {
  open = false;
  file.close();
  removeUtf8File(fileName_.c_str());
}

}  // namespace dspfx

#include "wavefile/wavefile_in.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>

namespace dspfx {

static_assert(offsetof(WavefileInHeader, dataBytes) == sizeof(void*));
static_assert(offsetof(WavefileInHeader, bytesRead) == sizeof(void*) + 4);
static_assert(offsetof(WavefileInHeader, reserved1) == sizeof(void*) + 12);
static_assert(offsetof(WavefileInHeader, reserved3) == sizeof(void*) + 20);
static_assert(offsetof(WavefileInHeader, seconds) == sizeof(void*) + 30);
static_assert(offsetof(WavefileFormat, samplesPerSec) == 4);
static_assert(offsetof(WavefileFormat, extraSize) == 16);

namespace {

uint16_t le16(const uint8_t* b) { return static_cast<uint16_t>(b[0] | b[1] << 8); }

uint32_t le32(const uint8_t* b) {
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
         static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

constexpr uint32_t kPcmFormatBytes = 16;
constexpr uint32_t kFullFormatBytes = 18;

}  // namespace

WavefileIn::~WavefileIn() {
  term();
  std::free(ownBuffer_);
}

bool WavefileIn::init(const char* fileName, uint32_t frames) {
  if (!fileName || !file.open(fileName, RiffFile::Mode::kRead)) return false;
  if (file.seekTo(0) < 0 || !file.descendRiff(riffChunk, fourcc("WAVE"))) return false;
  if (!file.descend(subChunk, riffChunk, fourcc("fmt "))) return false;
  if (subChunk.size < kPcmFormatBytes) return false;

  // Only the leading 18 bytes carry fields we keep; a longer chunk's tail
  // (extensible formats) is skipped, so its size never drives an allocation.
  uint8_t raw[kFullFormatBytes] = {};
  const auto want = static_cast<int32_t>(std::min(subChunk.size, kFullFormatBytes));
  if (file.read(raw, want) != want) return false;
  format.formatTag = le16(raw);
  format.channels = le16(raw + 2);
  format.samplesPerSec = le32(raw + 4);
  format.avgBytesPerSec = le32(raw + 8);
  format.blockAlign = le16(raw + 12);
  format.bitsPerSample = le16(raw + 14);
  format.extraSize = want >= static_cast<int32_t>(kFullFormatBytes) ? le16(raw + 16) : 0;
  // Every size below divides by these.
  if (format.channels == 0 || format.samplesPerSec == 0) return false;

  if (!file.ascend(subChunk) || !file.descend(subChunk, riffChunk, fourcc("data"))) return false;

  const uint64_t bytes = uint64_t{frames} * frameBytes();
  if (bytes > kMaxBytes) return false;
  // calloc(0) may give null; one byte keeps a valid, if empty, buffer.
  ownBuffer_ = std::calloc(std::max<size_t>(static_cast<size_t>(bytes), 1), 1);
  if (!ownBuffer_) return false;
  bufferBytes = static_cast<uint32_t>(bytes);
  current_ = ownBuffer_;
  currentBytes_ = bufferBytes;

  header.buffer = ownBuffer_;
  header.dataBytes = subChunk.size;
  header.bytesRead = 0;
  header.reserved1 = 0;
  header.reserved2 = 0;
  const uint32_t dataFrames = header.dataBytes / frameBytes();
  header.seconds = static_cast<float>(dataFrames) / static_cast<float>(format.samplesPerSec);
  open = true;
  return true;
}

int32_t WavefileIn::read(void* buffer, uint32_t frames) {
  if (!open) return 0;
  const uint64_t want = uint64_t{frames} * frameBytes();
  uint64_t room = want;
  if (buffer) {
    // A pointer into our own buffer cannot hold more than what is left of it.
    const auto at = reinterpret_cast<uintptr_t>(buffer);
    const auto own = reinterpret_cast<uintptr_t>(ownBuffer_);
    if (at >= own && at - own < std::max<uintptr_t>(bufferBytes, 1)) room = bufferBytes - (at - own);
    current_ = buffer;
    currentBytes_ = static_cast<uint32_t>(std::min<uint64_t>(room, kMaxBytes));
    header.buffer = buffer;
  } else {
    room = currentBytes_;
  }
  uint64_t n = std::min(want, room);
  // A single read reports at most 2^31-1 bytes: whole frames below that.
  if (n > kMaxBytes) n = kMaxBytes - kMaxBytes % frameBytes();
  const int32_t got = file.read(current_, static_cast<int32_t>(n));
  header.bytesRead = got;
  return got;
}

int32_t WavefileIn::moveBy(int64_t delta) {
  const int64_t pos = file.tell();
  if (pos < 0) return -1;
  const int64_t target = pos + delta;
  if (target < 0 || target > int64_t{kMaxBytes}) return -1;
  return file.seekTo(target) < 0 ? -1 : static_cast<int32_t>(target);
}

int32_t WavefileIn::seek(int32_t offset, int32_t mode) {
  if (!open) return 0;
  if (mode == 0) {
    RiffChunk data;
    if (!file.descend(data, riffChunk, fourcc("data"))) return 0;
    subChunk = data;
  }
  return moveBy(offset);
}

int32_t WavefileIn::timeSeek(float seconds, int32_t mode) {
  if (!open) return 0;
  if (mode == 0) {
    RiffChunk riff, data;
    if (file.seekTo(0) < 0 || !file.descendRiff(riff, fourcc("WAVE")) ||
        !file.descend(data, riff, fourcc("data"))) {
      return 0;
    }
    riffChunk = riff;
    subChunk = data;
  }
  // Formed in 32-bit float, the precision the time arrives in, and
  // truncated toward zero.
  const float frames = static_cast<float>(format.samplesPerSec) * seconds;
  if (!std::isfinite(frames) || std::fabs(frames) >= 4294967296.0f) return -1;
  return moveBy(static_cast<int64_t>(frames) * frameBytes());
}

void* WavefileIn::bufSizeExtend(uint32_t frames) {
  if (!open) return nullptr;
  const uint64_t bytes = uint64_t{frames} * frameBytes();
  if (bytes > kMaxBytes) return nullptr;
  void* fresh = std::calloc(std::max<size_t>(static_cast<size_t>(bytes), 1), 1);
  if (!fresh) return nullptr;
  std::free(ownBuffer_);
  ownBuffer_ = fresh;
  bufferBytes = static_cast<uint32_t>(bytes);
  current_ = fresh;
  currentBytes_ = bufferBytes;
  header.buffer = fresh;
  return fresh;
}

void WavefileIn::term() {
  if (!open) return;
  file.close();
  std::free(ownBuffer_);
  ownBuffer_ = nullptr;
  current_ = nullptr;
  currentBytes_ = 0;
  header.buffer = nullptr;
  open = false;
}

}  // namespace dspfx

#pragma once
// Reader of RIFF WAVE files: takes the format from "fmt ", stands at the
// first byte of "data" and hands out blocks of 16-bit frames (2 * channels
// bytes each, whatever the file says its sample width is).
#include <cstdint>

#include "core/handle_registry.h"
#include "core/last_error.h"
#include "dspfx/dspfx.h"
#include "wavefile/riff_file.h"

namespace dspfx {

class WavefileIn {
 public:
  using Handle = ::WavefileIn;
  static constexpr HandleKind kHandleKind = HandleKind::kWavefileIn;
  // What a failed init reports.
  static constexpr int32_t kInitError = kErrorFile;
  // Every count a read or seek reports must fit a signed 32-bit result.
  static constexpr uint32_t kMaxBytes = 0x7FFFFFFF;

  WavefileIn() = default;
  ~WavefileIn();
  WavefileIn(const WavefileIn&) = delete;
  WavefileIn& operator=(const WavefileIn&) = delete;

  bool init(const char* fileName, uint32_t frames);
  int32_t read(void* buffer, uint32_t frames);
  int32_t seek(int32_t offset, int32_t mode);
  int32_t timeSeek(float seconds, int32_t mode);
  void* bufSizeExtend(uint32_t frames);
  void term();
  void abandon() { term(); }

  RiffFile file;
  RiffChunk riffChunk;
  RiffChunk subChunk;
  bool open = false;
  uint32_t bufferBytes = 0;
  // The records are packed; placed on natural boundaries, every field but
  // the header's seconds can still be read through an ordinary pointer.
  alignas(8) WavefileFormat format{};
  alignas(8) WavefileInHeader header{};

 private:
  uint32_t frameBytes() const { return 2u * format.channels; }
  int32_t moveBy(int64_t delta);

  // The buffer this reader allocated: the only one it ever frees.
  void* ownBuffer_ = nullptr;
  // The buffer reads with null fill and the bytes it is known to hold. Kept
  // apart from header.buffer, which the host can overwrite.
  void* current_ = nullptr;
  uint32_t currentBytes_ = 0;
};

}  // namespace dspfx

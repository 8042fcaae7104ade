#pragma once
// Writer of RIFF WAVE files: the header chunks go out at once, the sample
// data is appended as the host hands it over, and closing fixes the sizes.
#include <cstdint>
#include <string>

#include "core/handle_registry.h"
#include "core/last_error.h"
#include "dspfx/dspfx.h"
#include "wavefile/riff_file.h"

namespace dspfx {

class WavefileOut {
 public:
  using Handle = ::WavefileOut;
  static constexpr HandleKind kHandleKind = HandleKind::kWavefileOut;
  // What a failed init reports.
  static constexpr int32_t kInitError = kErrorFile;
  // The "data" size announced until closing.
  static constexpr uint32_t kPlaceholderDataBytes = 307200;
  // Largest data chunk whose pad byte and enclosing RIFF size still fit
  // the 32-bit size fields: "WAVE", the 26-byte "fmt " chunk, the "data"
  // header and the pad byte come on top.
  static constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 4 - 26 - 8 - 1;

  WavefileOut() = default;
  ~WavefileOut();
  WavefileOut(const WavefileOut&) = delete;
  WavefileOut& operator=(const WavefileOut&) = delete;

  bool init(const char* fileName, const WavefileFormat& fmt);
  int32_t write(const void* bytes, int32_t count);
  uint32_t flush();
  // Closes the file; the data size recorded in it.
  uint32_t close();
  // Undoes a successful init: closes and removes the file.
  void abandon();

  RiffFile file;
  RiffChunk riffChunk;
  RiffChunk subChunk;
  bool open = false;
  alignas(8) WavefileFormat format{};

 private:
  bool writeHeaders();

  std::string fileName_;
  uint64_t written_ = 0;
};

}  // namespace dspfx

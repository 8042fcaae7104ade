#pragma once
// Chunked RIFF file access on C stdio: find a form, walk to a chunk by its
// identifier, read, write, move, and close chunks again with their real size.
// Every size taken from a file is checked against the bytes the file holds
// before it steers a seek or a read, so a broken header cannot send the
// reader outside the file or into an endless walk.
#include <cstdint>
#include <cstdio>
#include <memory>

namespace dspfx {

// Four-character code as it lies in the file (first character lowest).
constexpr uint32_t fourcc(const char (&s)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}

struct RiffChunk {
  uint32_t id = 0;
  // Bytes of chunk data, form type included for "RIFF". When reading it is
  // what the file holds, never more than the header declared.
  uint32_t size = 0;
  uint32_t formType = 0;
  // File offset of the first byte after the 8-byte chunk header.
  int64_t dataOffset = 0;
};

class RiffFile {
 public:
  enum class Mode { kRead, kCreate };
  static constexpr size_t kWriteBufferBytes = 131072;

  RiffFile() = default;
  ~RiffFile() { close(); }
  RiffFile(const RiffFile&) = delete;
  RiffFile& operator=(const RiffFile&) = delete;

  // kRead opens an existing regular file; kCreate creates or truncates one
  // and gives it a write buffer of kWriteBufferBytes.
  bool open(const char* path, Mode mode);
  bool isOpen() const { return file_ != nullptr; }
  // Size of a file opened for reading, taken at open.
  int64_t fileSize() const { return fileSize_; }

  // Finds the first top-level "RIFF" chunk of the given form type; the file
  // is left just after its form type.
  bool descendRiff(RiffChunk& ck, uint32_t formType);
  // Finds the first chunk with identifier id among the children of parent,
  // wherever the file position is; the file is left at its first data byte.
  bool descend(RiffChunk& ck, const RiffChunk& parent, uint32_t id);
  // Reading: moves past the chunk and its pad byte. Writing: pads an odd
  // chunk with a zero byte and writes the real size into the header when it
  // differs from ck.size, which then holds the real size.
  bool ascend(RiffChunk& ck);
  // Writes a chunk header (with formType for "RIFF") at the current
  // position; ck describes the new chunk.
  bool createChunk(RiffChunk& ck, uint32_t id, uint32_t size, uint32_t formType = 0);

  // Byte counts as the transfer reports them; -1 on an I/O error.
  int32_t read(void* dst, int32_t bytes);
  int32_t write(const void* src, int32_t bytes);
  // Absolute move; the new position or -1 (negative targets are refused).
  int64_t seekTo(int64_t position);
  int64_t tell() const;
  bool flush();
  // True when everything written reached the file.
  bool close();

 private:
  bool readHeader(int64_t position, uint32_t& id, uint32_t& size);
  bool writeLe32(uint32_t value);

  std::FILE* file_ = nullptr;
  // stdio keeps using the buffer until fclose, so it is freed after that.
  std::unique_ptr<char[]> buffer_;
  Mode mode_ = Mode::kRead;
  int64_t fileSize_ = 0;
};

}  // namespace dspfx

// Large-file offsets on 32-bit POSIX targets: a RIFF file may reach 4 GiB.
#if !defined(_WIN32) && !defined(_FILE_OFFSET_BITS)
#define _FILE_OFFSET_BITS 64
#endif

#include "wavefile/riff_file.h"
#include "wavefile/utf8_file.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <new>

namespace dspfx {

namespace {

constexpr uint32_t kRiff = fourcc("RIFF");
constexpr uint32_t kList = fourcc("LIST");
constexpr int64_t kHeaderBytes = 8;

#if defined(_WIN32)
int seekFile(std::FILE* f, int64_t pos) { return _fseeki64(f, pos, SEEK_SET); }
int64_t tellFile(std::FILE* f) { return _ftelli64(f); }
bool regularFileSize(std::FILE* f, int64_t& size) {
  struct _stat64 st;
  if (_fstat64(_fileno(f), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return false;
  size = st.st_size;
  return true;
}
#else
int seekFile(std::FILE* f, int64_t pos) { return fseeko(f, static_cast<off_t>(pos), SEEK_SET); }
int64_t tellFile(std::FILE* f) { return static_cast<int64_t>(ftello(f)); }
bool regularFileSize(std::FILE* f, int64_t& size) {
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = static_cast<int64_t>(st.st_size);
  return true;
}
#endif

uint32_t le32(const uint8_t* b) {
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
         static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

// Chunks start on even offsets: an odd-sized chunk is followed by a pad byte.
int64_t nextChunk(int64_t position, uint32_t declared) {
  return position + kHeaderBytes + declared + (declared & 1u);
}

bool hasFormType(uint32_t id) { return id == kRiff || id == kList; }

}  // namespace

bool RiffFile::open(const char* path, Mode mode) {
  close();
  if (!path) return false;
  mode_ = mode;
  fileSize_ = 0;
  if (mode == Mode::kRead) {
    file_ = openUtf8File(path, "rb");
    if (!file_) return false;
    // Directories and devices open on some systems but hold no chunks.
    if (!regularFileSize(file_, fileSize_)) {
      close();
      return false;
    }
    return true;
  }
  file_ = openUtf8File(path, "wb");
  if (!file_) return false;
  // Chunk sizes are patched by seeking back, which a pipe or device cannot
  // do; and a writer that gives up must be free to remove what it made.
  int64_t ignored = 0;
  if (!regularFileSize(file_, ignored)) {
    close();
    return false;
  }
  buffer_.reset(new (std::nothrow) char[kWriteBufferBytes]);
  if (buffer_ && std::setvbuf(file_, buffer_.get(), _IOFBF, kWriteBufferBytes) != 0) {
    buffer_.reset();
  }
  return true;
}

bool RiffFile::readHeader(int64_t position, uint32_t& id, uint32_t& size) {
  uint8_t b[8];
  if (seekTo(position) < 0 || read(b, 8) != 8) return false;
  id = le32(b);
  size = le32(b + 4);
  return true;
}

bool RiffFile::descendRiff(RiffChunk& ck, uint32_t formType) {
  if (!file_ || mode_ != Mode::kRead) return false;
  for (int64_t pos = 0; pos + kHeaderBytes + 4 <= fileSize_;) {
    uint32_t id = 0, declared = 0;
    uint8_t form[4];
    if (!readHeader(pos, id, declared) || read(form, 4) != 4) return false;
    if (id == kRiff && le32(form) == formType) {
      ck.id = id;
      ck.formType = formType;
      ck.dataOffset = pos + kHeaderBytes;
      const int64_t held = std::min<int64_t>(fileSize_ - ck.dataOffset, UINT32_MAX);
      // A form still being written states size 0 until its writer closes
      // it; what follows the header is then all it has.
      ck.size = static_cast<uint32_t>(declared == 0 ? held : std::min<int64_t>(declared, held));
      return seekTo(ck.dataOffset + 4) >= 0;
    }
    pos = nextChunk(pos, declared);
  }
  return false;
}

bool RiffFile::descend(RiffChunk& ck, const RiffChunk& parent, uint32_t id) {
  if (!file_ || mode_ != Mode::kRead) return false;
  const int64_t start = parent.dataOffset + (hasFormType(parent.id) ? 4 : 0);
  const int64_t end = std::min<int64_t>(parent.dataOffset + parent.size, fileSize_);
  for (int64_t pos = start; pos + kHeaderBytes <= end;) {
    uint32_t found = 0, declared = 0;
    if (!readHeader(pos, found, declared)) return false;
    if (found == id) {
      ck.id = id;
      ck.formType = 0;
      ck.dataOffset = pos + kHeaderBytes;
      // A chunk cut short (a writer that never closed the file) ends where
      // the file does.
      ck.size = static_cast<uint32_t>(std::min<int64_t>(declared, fileSize_ - ck.dataOffset));
      if (hasFormType(id) && ck.size >= 4) {
        uint8_t form[4];
        if (read(form, 4) != 4) return false;
        ck.formType = le32(form);
      }
      return seekTo(ck.dataOffset) >= 0;
    }
    pos = nextChunk(pos, declared);
  }
  return false;
}

bool RiffFile::ascend(RiffChunk& ck) {
  if (!file_) return false;
  if (mode_ == Mode::kRead) return seekTo(nextChunk(ck.dataOffset - kHeaderBytes, ck.size)) >= 0;

  const int64_t pos = tell();
  if (pos < ck.dataOffset || pos - ck.dataOffset > int64_t{UINT32_MAX}) return false;
  const auto real = static_cast<uint32_t>(pos - ck.dataOffset);
  if (real & 1u) {
    const uint8_t pad = 0;
    if (write(&pad, 1) != 1) return false;
  }
  const int64_t end = tell();
  if (real != ck.size) {
    if (seekTo(ck.dataOffset - 4) < 0 || !writeLe32(real) || seekTo(end) < 0) return false;
    ck.size = real;
  }
  return true;
}

bool RiffFile::createChunk(RiffChunk& ck, uint32_t id, uint32_t size, uint32_t formType) {
  if (!file_ || mode_ != Mode::kCreate) return false;
  const int64_t pos = tell();
  if (pos < 0 || !writeLe32(id) || !writeLe32(size)) return false;
  if (hasFormType(id) && !writeLe32(formType)) return false;
  ck.id = id;
  ck.size = size;
  ck.formType = hasFormType(id) ? formType : 0;
  ck.dataOffset = pos + kHeaderBytes;
  return true;
}

bool RiffFile::writeLe32(uint32_t value) {
  const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return write(b, 4) == 4;
}

int32_t RiffFile::read(void* dst, int32_t bytes) {
  if (!file_ || bytes < 0 || (bytes > 0 && !dst)) return -1;
  if (bytes == 0) return 0;
  const size_t n = std::fread(dst, 1, static_cast<size_t>(bytes), file_);
  if (n < static_cast<size_t>(bytes) && std::ferror(file_)) {
    std::clearerr(file_);
    return -1;
  }
  return static_cast<int32_t>(n);
}

int32_t RiffFile::write(const void* src, int32_t bytes) {
  if (!file_ || mode_ != Mode::kCreate || bytes < 0 || (bytes > 0 && !src)) return -1;
  if (bytes == 0) return 0;
  const size_t n = std::fwrite(src, 1, static_cast<size_t>(bytes), file_);
  if (n < static_cast<size_t>(bytes)) {
    std::clearerr(file_);
    return -1;
  }
  return bytes;
}

int64_t RiffFile::seekTo(int64_t position) {
  if (!file_ || position < 0) return -1;
  if (seekFile(file_, position) != 0) return -1;
  return position;
}

int64_t RiffFile::tell() const { return file_ ? tellFile(file_) : -1; }

bool RiffFile::flush() { return file_ && std::fflush(file_) == 0; }

bool RiffFile::close() {
  if (!file_) return true;
  const bool ok = std::fclose(file_) == 0;
  file_ = nullptr;
  buffer_.reset();
  return ok;
}

}  // namespace dspfx

#include "wav.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "output_file.h"

namespace dspfx::tool {
namespace {

std::string formatName(int code) {
  SF_FORMAT_INFO info{};
  info.format = code;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name) return info.name;
  return "format 0x" + std::to_string(code);
}

std::string containerName(int container) {
  switch (container) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
      return "WAV";
    case SF_FORMAT_AIFF:
      return "AIFF";
    case SF_FORMAT_FLAC:
      return "FLAC";
    case SF_FORMAT_OGG:
      return "Ogg";
    default:
      return formatName(container);
  }
}

std::string sampleName(const Encoding& e) {
  switch (e.subtype) {
    case SF_FORMAT_FLOAT:
      return "32-bit float";
    case SF_FORMAT_DOUBLE:
      return "64-bit float";
    case SF_FORMAT_VORBIS:
      return "Vorbis";
    default:
      if (const uint32_t bits = integerBits(e)) return std::to_string(bits) + "-bit PCM";
      return formatName(e.subtype);
  }
}

bool endsWith(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != tail[i]) return false;
  }
  return true;
}

// Bytes the header announces against bytes present, for the containers
// whose sample chunk libsndfile measures against the file's real length.
bool cutShort(SNDFILE* sf, std::string& detail) {
  char log[8192] = {0};
  sf_command(sf, SFC_GET_LOG_INFO, log, sizeof log);
  for (const char* chunk : {"\ndata : ", "\nSSND : "}) {
    const char* at = std::strstr(log, chunk);
    if (!at) continue;
    const char* end = std::strchr(at + 1, '\n');
    const std::string line(at + 1, end ? end : at + std::strlen(at));
    const size_t should = line.find("(should be ");
    if (should == std::string::npos) continue;
    const std::string announced = line.substr(7, line.find(' ', 7) - 7);
    const std::string present = line.substr(should + 11, line.find(')', should) - should - 11);
    detail = "its header announces " + announced + " bytes of samples, it holds " + present;
    return true;
  }
  return false;
}

// The size a WAV stream announces when it cannot know its own: readers
// take it as "read to the end".
constexpr uint32_t kUnknownSize = 0x7FFFF000u;

void put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}

}  // namespace

std::string describe(const Encoding& e) { return containerName(e.container) + ", " + sampleName(e); }

uint32_t integerBits(const Encoding& e) {
  switch (e.subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
      return 8;
    case SF_FORMAT_PCM_16:
      return 16;
    case SF_FORMAT_PCM_24:
      return 24;
    case SF_FORMAT_PCM_32:
      return 32;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------- reading

struct SoundReader::Handle {
  SNDFILE* sf = nullptr;
  FILE* spool = nullptr;
  ~Handle() {
    if (sf) sf_close(sf);
    if (spool) std::fclose(spool);
  }
};

SoundReader::SoundReader(const std::string& path, bool needLength) : path_(path), h_(new Handle) {
  SF_INFO info{};
  std::string name = path;
  if (path == "-") {
    name = "standard input";
    int fd = STDIN_FILENO;
    if (needLength && ::lseek(STDIN_FILENO, 0, SEEK_CUR) < 0) {
      h_->spool = std::tmpfile();
      if (!h_->spool) throw FileError(systemError("a temporary file", "cannot create"));
      std::vector<char> buf(1 << 16);
      for (ssize_t n; (n = ::read(STDIN_FILENO, buf.data(), buf.size())) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw FileError(systemError(name, "cannot read"));
        if (std::fwrite(buf.data(), 1, static_cast<size_t>(n), h_->spool) != static_cast<size_t>(n)) {
          throw FileError(systemError("a temporary file", "cannot write"));
        }
      }
      std::fflush(h_->spool);
      fd = fileno(h_->spool);
      ::lseek(fd, 0, SEEK_SET);
      // A stream's header cannot give its length; the copy's end does.
      warned_ = true;
    }
    h_->sf = sf_open_fd(fd, SFM_READ, &info, 0);
  } else {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) throw FileError(systemError(path, "cannot open"));
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      throw FileError(path + ": is a directory");
    }
    h_->sf = sf_open_fd(fd, SFM_READ, &info, 1);
    if (!h_->sf) ::close(fd);
  }
  if (!h_->sf) {
    throw FileError(name + ": not a sound file this tool reads (" + sf_strerror(nullptr) + ")");
  }
  if (info.channels < 1 || info.samplerate < 1) throw FileError(name + ": the header holds no usable format");
  format_ = {static_cast<uint32_t>(info.channels), static_cast<uint32_t>(info.samplerate)};
  encoding_ = {info.format & SF_FORMAT_TYPEMASK, info.format & SF_FORMAT_SUBMASK};
  // On a pipe the header's length is whatever the writer guessed.
  lengthKnown_ = info.seekable != 0;
  frames_ = info.frames > 0 ? static_cast<uint64_t>(info.frames) : 0;
  std::string detail;
  if (!warned_ && cutShort(h_->sf, detail)) {
    std::fprintf(stderr, "dspfx: warning: %s: the file is cut short (%s); reading the %llu frames it holds\n",
                 name.c_str(), detail.c_str(), static_cast<unsigned long long>(frames_));
    warned_ = true;
  }
}

SoundReader::~SoundReader() = default;

void SoundReader::warnCutShort(uint64_t got) {
  if (warned_ || !lengthKnown_ || got >= frames_) return;
  warned_ = true;
  std::fprintf(stderr, "dspfx: warning: %s: the file ends after %llu of the %llu frames its header announces\n",
               path_.c_str(), static_cast<unsigned long long>(got), static_cast<unsigned long long>(frames_));
}

uint32_t SoundReader::read(float* dst, uint32_t maxFrames) {
  if (maxFrames == 0) return 0;
  const sf_count_t got = sf_readf_float(h_->sf, dst, maxFrames);
  if (got <= 0) {
    warnCutShort(done_);
    return 0;
  }
  done_ += static_cast<uint64_t>(got);
  return static_cast<uint32_t>(got);
}

void SoundReader::rewind() {
  if (sf_seek(h_->sf, 0, SEEK_SET) != 0) throw FileError(path_ + ": cannot go back to the start");
  done_ = 0;
}

// ---------------------------------------------------------------- options

WriteOptions takeWriteOptions(std::vector<std::string>& args) {
  WriteOptions o;
  std::string v;
  if (takeOption(args, "--bits", v)) {
    const double b = parseNumber(v, "--bits");
    if (b != 8 && b != 16 && b != 24 && b != 32 && b != 64) throw UsageError("--bits must be 8, 16, 24, 32 or 64");
    o.bits = static_cast<uint32_t>(b);
  }
  o.asFloat = takeFlag(args, "--float");
  o.dither = !takeFlag(args, "--no-dither");
  if (o.asFloat && o.bits != 0 && o.bits != 32 && o.bits != 64) throw UsageError("--float takes --bits 32 or 64");
  if (!o.asFloat && o.bits == 64) throw UsageError("--bits 64 is a float format: add --float");
  return o;
}

Encoding outputEncoding(const std::string& outPath, const Encoding& input, const WriteOptions& o) {
  Encoding e = input;
  if (endsWith(outPath, ".wav")) {
    e.container = SF_FORMAT_WAV;
  } else if (endsWith(outPath, ".flac")) {
    e.container = SF_FORMAT_FLAC;
  } else if (endsWith(outPath, ".aif") || endsWith(outPath, ".aiff")) {
    e.container = SF_FORMAT_AIFF;
  } else if (endsWith(outPath, ".ogg") || endsWith(outPath, ".oga")) {
    e.container = SF_FORMAT_OGG;
  } else if (outPath == "-" || e.container == 0) {
    e.container = SF_FORMAT_WAV;
  } else {
    const size_t slash = outPath.find_last_of('/'), dot = outPath.find_last_of('.');
    const size_t base = slash == std::string::npos ? 0 : slash + 1;
    if (dot != std::string::npos && dot > base) {
      throw UsageError(outPath + ": unknown kind of file; the tool writes .wav, .flac, .aif, .aiff and .ogg");
    }
  }
  if (e.container == SF_FORMAT_WAVEX) e.container = SF_FORMAT_WAV;
  if (e.container == SF_FORMAT_OGG) {
    if (o.bits || o.asFloat) throw UsageError(outPath + ": Ogg Vorbis is lossy; --bits and --float do not apply");
    e.subtype = SF_FORMAT_VORBIS;
    return e;
  }
  if (o.asFloat) {
    e.subtype = o.bits == 64 ? SF_FORMAT_DOUBLE : SF_FORMAT_FLOAT;
  } else if (o.bits) {
    const bool unsigned8 = e.container == SF_FORMAT_WAV;
    e.subtype = o.bits == 8 ? (unsigned8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_S8)
              : o.bits == 16 ? SF_FORMAT_PCM_16 : o.bits == 24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_32;
  } else if (e.subtype == SF_FORMAT_VORBIS || e.subtype == 0) {
    e.subtype = SF_FORMAT_PCM_16;
  } else if (e.container == SF_FORMAT_FLAC && integerBits(e) != 8 && integerBits(e) != 16 && integerBits(e) != 24) {
    // FLAC holds integers of up to 24 bits; that keeps float and 32-bit
    // material well above 16-bit resolution.
    e.subtype = SF_FORMAT_PCM_24;
  } else if (e.subtype == SF_FORMAT_PCM_U8 && e.container != SF_FORMAT_WAV) {
    e.subtype = SF_FORMAT_PCM_S8;
  } else if (e.subtype == SF_FORMAT_PCM_S8 && e.container == SF_FORMAT_WAV) {
    e.subtype = SF_FORMAT_PCM_U8;
  }
  SF_INFO check{};
  check.channels = 1;
  check.samplerate = 44100;
  check.format = e.container | e.subtype;
  if (!sf_format_check(&check)) {
    throw UsageError(outPath + ": " + containerName(e.container) + " files cannot hold " + sampleName(e) + " samples");
  }
  return e;
}

// ---------------------------------------------------------------- writing

struct SoundWriter::Handle {
  explicit Handle(const std::string& path) : out(path) {}
  ~Handle() {
    if (sf) sf_close(sf);
    if (fd >= 0 && fd != STDOUT_FILENO) ::close(fd);
  }
  OutputFile out;
  SNDFILE* sf = nullptr;
  int fd = -1;  // a WAV stream written by hand: libsndfile cannot stream WAV
};

SoundWriter::SoundWriter(const std::string& path, const AudioFormat& format, const Encoding& encoding, bool dither)
    : h_(new Handle(path)), path_(path), format_(format), encoding_(encoding), bits_(integerBits(encoding)),
      dither_(dither && bits_ != 0 && bits_ <= 16) {
  OutputFile& out = h_->out;
  SF_INFO info{};
  info.channels = static_cast<int>(format.channels);
  info.samplerate = static_cast<int>(format.rate);
  info.format = encoding.container | encoding.subtype;
  const bool streamWav = !out.seekable() && encoding.container == SF_FORMAT_WAV;
  if (out.isStdout()) {
    h_->fd = STDOUT_FILENO;
  } else if (!out.seekable()) {
    h_->fd = ::open(out.tempPath().c_str(), O_WRONLY);
    if (h_->fd < 0) throw FileError(systemError(path, "cannot open for writing"));
  }
  if (streamWav) {
    if (encoding.subtype != SF_FORMAT_FLOAT && encoding.subtype != SF_FORMAT_DOUBLE && bits_ == 0) {
      throw UsageError(path + ": a WAV stream holds PCM or float samples only (add --bits or --float)");
    }
    const bool isFloat = bits_ == 0;
    const uint32_t bytesPer = isFloat ? (encoding.subtype == SF_FORMAT_DOUBLE ? 8 : 4) : bits_ / 8;
    const uint32_t align = bytesPer * format.channels;
    // The sizes are unknown until the end and a stream cannot go back to
    // fix them: the largest values tell readers to read until the end.
    std::vector<uint8_t> hdr;
    for (char c : std::string("RIFF")) hdr.push_back(static_cast<uint8_t>(c));
    put32(hdr, kUnknownSize + (isFloat ? 38 : 36));
    for (char c : std::string("WAVEfmt ")) hdr.push_back(static_cast<uint8_t>(c));
    put32(hdr, isFloat ? 18 : 16);
    put16(hdr, isFloat ? 3 : 1);
    put16(hdr, format.channels);
    put32(hdr, format.rate);
    put32(hdr, format.rate * align);
    put16(hdr, align);
    put16(hdr, bytesPer * 8);
    if (isFloat) put16(hdr, 0);
    for (char c : std::string("data")) hdr.push_back(static_cast<uint8_t>(c));
    put32(hdr, kUnknownSize);
    bytes_ = std::move(hdr);
    flush();
    return;
  }
  if (h_->fd >= 0) {
    h_->sf = sf_open_fd(h_->fd, SFM_WRITE, &info, 0);
  } else {
    h_->sf = sf_open(out.tempPath().c_str(), SFM_WRITE, &info);
  }
  if (!h_->sf) {
    throw FileError(path + ": cannot write " + describe(encoding) + " here (" + sf_strerror(nullptr) + ")");
  }
  if (encoding.subtype == SF_FORMAT_VORBIS) {
    double quality = 0.6;
    sf_command(h_->sf, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
  }
}

SoundWriter::~SoundWriter() = default;

void SoundWriter::flush() {
  size_t done = 0;
  while (done < bytes_.size()) {
    const ssize_t w = ::write(h_->fd, bytes_.data() + done, bytes_.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) throw FileError(systemError(path_, "cannot write"));
    done += static_cast<size_t>(w);
  }
  bytes_.clear();
}

void SoundWriter::write(const float* in, uint32_t frames) {
  const size_t n = size_t{frames} * format_.channels;
  if (n == 0) return;
  const bool isFloat = encoding_.subtype == SF_FORMAT_FLOAT || encoding_.subtype == SF_FORMAT_DOUBLE;
  if (bits_) {
    ints_.resize(n);
    const double scale = std::ldexp(1.0, static_cast<int>(bits_) - 1);
    const double top = scale - 1, bottom = -scale;
    for (size_t i = 0; i < n; ++i) {
      double q = static_cast<double>(in[i]) * scale;
      // Digital silence stays silent: dither only where there is signal.
      if (dither_ && in[i] != 0.0f) {
        // Triangular noise of +-1 LSB peak: the sum of two uniform values,
        // which makes the error independent of the signal.
        noise_ = noise_ * 1664525u + 1013904223u;
        const double u1 = (noise_ >> 8) * (1.0 / 16777216.0);
        noise_ = noise_ * 1664525u + 1013904223u;
        const double u2 = (noise_ >> 8) * (1.0 / 16777216.0);
        q += u1 - u2;
      }
      // Only what lies beyond full scale counts as clipped; the top code
      // standing in for +1.0, and dither noise at the limits, do not.
      if (std::fabs(in[i]) > 1.0f) ++clipped_;
      double r = std::floor(q + 0.5);
      if (std::isnan(r)) r = 0;
      r = std::clamp(r, bottom, top);
      // Left-aligned in 32 bits: libsndfile keeps the top bits exactly.
      ints_[i] = static_cast<int32_t>(static_cast<int64_t>(r) * (int64_t{1} << (32 - bits_)));
    }
  } else if (!isFloat) {
    // Lossy and other encodings take floats that must stay within full scale.
    floats_.assign(in, in + n);
    for (float& v : floats_) {
      if (v > 1.0f || v < -1.0f) {
        ++clipped_;
        v = v > 0 ? 1.0f : -1.0f;
      }
    }
    in = floats_.data();
  }
  if (!h_->sf) {
    if (bits_) {
      const uint32_t bytesPer = bits_ / 8;
      bytes_.reserve(bytes_.size() + n * bytesPer);
      for (size_t i = 0; i < n; ++i) {
        const uint32_t v = static_cast<uint32_t>(ints_[i]) >> (32 - bits_);
        if (bits_ == 8) {
          bytes_.push_back(static_cast<uint8_t>(v ^ 0x80));  // 8-bit WAV is unsigned
        } else {
          for (uint32_t b = 0; b < bytesPer; ++b) bytes_.push_back(static_cast<uint8_t>(v >> (8 * b)));
        }
      }
    } else {
      for (size_t i = 0; i < n; ++i) {
        if (encoding_.subtype == SF_FORMAT_DOUBLE) {
          const double d = in[i];
          uint64_t u;
          std::memcpy(&u, &d, 8);
          for (int b = 0; b < 8; ++b) bytes_.push_back(static_cast<uint8_t>(u >> (8 * b)));
        } else {
          uint32_t u;
          std::memcpy(&u, &in[i], 4);
          put32(bytes_, u);
        }
      }
    }
    flush();
    return;
  }
  const sf_count_t wrote = bits_ ? sf_writef_int(h_->sf, ints_.data(), frames) : sf_writef_float(h_->sf, in, frames);
  if (wrote != static_cast<sf_count_t>(frames)) {
    const int err = errno;
    std::string why = sf_strerror(h_->sf);
    if (err) why += ", " + std::string(std::strerror(err));
    throw FileError(path_ + ": cannot write (" + why + ")");
  }
}

void SoundWriter::close() {
  if (h_->sf) {
    errno = 0;
    sf_write_sync(h_->sf);
    const int rc = sf_close(h_->sf);
    h_->sf = nullptr;
    if (rc != 0) throw FileError(path_ + ": cannot finish the file (" + sf_error_number(rc) + ")");
  }
  if (h_->fd >= 0 && h_->fd != STDOUT_FILENO) {
    if (::close(h_->fd) != 0) throw FileError(systemError(path_, "cannot finish the file"));
    h_->fd = -1;
  }
  h_->out.commit();
  if (clipped_) {
    std::fprintf(stderr, "dspfx: %s: clipped %llu samples (lower the level: gain or norm)\n",
                 path_ == "-" ? "standard output" : path_.c_str(), static_cast<unsigned long long>(clipped_));
  }
}

// ---------------------------------------------------------------- whole files

Audio readWav(const std::string& path) {
  SoundReader r(path);
  if (r.format().channels > 2) {
    throw FileError(path + ": " + std::to_string(r.format().channels) +
                    " channels; this command takes mono and stereo files");
  }
  Audio a;
  a.format = r.format();
  std::vector<float> block(size_t{65536} * a.format.channels);
  while (const uint32_t n = r.read(block.data(), 65536)) {
    for (size_t i = 0; i < size_t{n} * a.format.channels; ++i) {
      const double v = std::floor(static_cast<double>(block[i]) * 32768.0 + 0.5);
      a.samples.push_back(static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0)));
    }
  }
  return a;
}

void writeWav(const std::string& path, const Audio& audio) {
  SoundWriter w(path, audio.format, {SF_FORMAT_WAV, SF_FORMAT_PCM_16}, false);
  std::vector<float> block;
  constexpr uint64_t kChunk = 65536;
  for (uint64_t f = 0; f < audio.frames(); f += kChunk) {
    const uint64_t n = std::min(kChunk, audio.frames() - f);
    block.resize(n * audio.format.channels);
    for (size_t i = 0; i < block.size(); ++i) block[i] = audio.samples[f * audio.format.channels + i] / 32768.0f;
    w.write(block.data(), static_cast<uint32_t>(n));
  }
  w.close();
}

}  // namespace dspfx::tool

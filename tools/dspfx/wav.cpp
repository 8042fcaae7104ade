#include "wav.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "output_file.h"

namespace dspfx::tool {
namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;

// The size the "data" chunk declares, read straight from the file: the
// library reports what the file holds, so a larger declaration means the
// file was cut short.
bool declaredDataSize(const std::string& path, int32_t dataOffset, uint32_t& size) {
  if (dataOffset < 8) return false;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  uint8_t b[4];
  const bool ok = std::fseek(f, dataOffset - 4, SEEK_SET) == 0 && std::fread(b, 1, 4, f) == 4;
  std::fclose(f);
  size = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  return ok;
}

}  // namespace

WavReader::WavReader(const std::string& path, uint32_t blockFrames) : path_(path), blockFrames_(blockFrames) {
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    std::fclose(f);
  } else {
    throw FileError(path + ": cannot open (" + std::strerror(errno) + ")");
  }
  in_ = initWavefileIn(path.c_str(), blockFrames);
  if (!in_) throw FileError(path + ": not a readable WAV file");
  const WavefileFormat* fmt = getFormatWavefileIn(in_);
  const WavefileInHeader* hdr = getHeaderWavefileIn(in_);
  std::string problem;
  if (fmt->formatTag != kFormatPcm && fmt->formatTag != kFormatExtensible) {
    problem = "not PCM (format tag " + std::to_string(fmt->formatTag) + ")";
  } else if (fmt->bitsPerSample != 16) {
    problem = std::to_string(fmt->bitsPerSample) + "-bit samples; only 16-bit PCM is supported";
  } else if (fmt->channels < 1 || fmt->channels > 2) {
    problem = std::to_string(fmt->channels) + " channels; only mono and stereo are supported";
  } else if (hdr->dataBytes < 2u * fmt->channels) {
    problem = "holds no samples";
  } else {
    uint32_t declared = 0;
    if (declaredDataSize(path, seekWavefileIn(in_, 0, 0), declared) && declared > hdr->dataBytes) {
      problem = "truncated (" + std::to_string(hdr->dataBytes) + " of " + std::to_string(declared) +
                " data bytes present)";
    }
  }
  if (!problem.empty()) {
    termWavefileIn(in_);
    in_ = nullptr;
    throw FileError(path + ": " + problem);
  }
  format_ = {fmt->channels, fmt->samplesPerSec};
  totalFrames_ = framesLeft_ = hdr->dataBytes / (2u * fmt->channels);
}

WavReader::~WavReader() {
  if (in_) termWavefileIn(in_);
}

uint32_t WavReader::read(int16_t* dst, uint32_t maxFrames) {
  uint32_t want = maxFrames < blockFrames_ ? maxFrames : blockFrames_;
  if (want > framesLeft_) want = static_cast<uint32_t>(framesLeft_);
  if (want == 0) return 0;
  const int32_t got = readWavefileIn(in_, dst, want);
  if (got < 0) throw FileError(path_ + ": read error");
  const uint32_t frames = static_cast<uint32_t>(got) / (2u * format_.channels);
  if (frames < want) throw FileError(path_ + ": file ended early");
  framesLeft_ -= frames;
  return frames;
}

WavWriter::WavWriter(const std::string& path, const AudioFormat& format) : path_(path), format_(format) {
  WavefileFormat f{};
  f.formatTag = kFormatPcm;
  f.channels = static_cast<uint16_t>(format.channels);
  f.samplesPerSec = format.rate;
  f.blockAlign = static_cast<uint16_t>(2 * format.channels);
  f.avgBytesPerSec = format.rate * f.blockAlign;
  f.bitsPerSample = 16;
  out_ = initWavefileOut(path.c_str(), &f);
  if (!out_) throw FileError(path + ": cannot create (" + std::strerror(errno) + ")");
}

WavWriter::~WavWriter() {
  if (out_) termWavefileOut(out_);
}

void WavWriter::write(const int16_t* samples, uint32_t frames) {
  const uint64_t bytes = uint64_t{frames} * 2 * format_.channels;
  if (bytes == 0) return;
  if (bytes > 0x7FFFFFFF || writeWavefileOut(out_, samples, static_cast<int32_t>(bytes)) != static_cast<int32_t>(bytes)) {
    throw FileError(path_ + ": write error (disk full, or the file would exceed 4 GiB)");
  }
  bytes_ += bytes;
}

void WavWriter::close() {
  const uint32_t recorded = termWavefileOut(out_);
  out_ = nullptr;
  if (recorded != bytes_) throw FileError(path_ + ": could not finish the file");
}

Audio readWav(const std::string& path) {
  constexpr uint32_t kBlock = 65536;
  WavReader r(path, kBlock);
  Audio a;
  a.format = r.format();
  a.samples.resize(r.frames() * a.format.channels);
  uint64_t done = 0;
  while (uint32_t n = r.read(a.samples.data() + done * a.format.channels, kBlock)) done += n;
  return a;
}

void writeWav(const std::string& path, const Audio& audio) {
  OutputFile out(path);
  WavWriter w(out.tempPath(), audio.format);
  constexpr uint64_t kChunk = 1 << 20;
  for (uint64_t f = 0; f < audio.frames(); f += kChunk) {
    const uint64_t n = audio.frames() - f < kChunk ? audio.frames() - f : kChunk;
    w.write(audio.samples.data() + f * audio.format.channels, static_cast<uint32_t>(n));
  }
  w.close();
  out.commit();
}

}  // namespace dspfx::tool

#pragma once
// Sound files in and out: WAV (8/16/24/32-bit PCM, 32/64-bit float), FLAC,
// AIFF and Ogg Vorbis through libsndfile, "-" for standard input and output,
// samples as interleaved floats at full scale +-1.0. Output is quantised here,
// with TPDF dither when asked, and every sample that did not fit is counted.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dspfx::tool {

struct AudioFormat {
  uint32_t channels = 0;
  uint32_t rate = 0;
};

// How a file stores its samples: libsndfile's container and sample
// encoding codes (SF_FORMAT_WAV, SF_FORMAT_PCM_24, ...).
struct Encoding {
  int container = 0;
  int subtype = 0;
};
// "WAV, 24-bit PCM".
std::string describe(const Encoding& e);
// Bits of an integer encoding; 0 for float and lossy ones.
uint32_t integerBits(const Encoding& e);

class SoundReader {
 public:
  // "-" reads standard input; with needLength a pipe is first copied to an
  // anonymous temporary file, so its length is known and it can be read
  // again. Throws FileError naming path and the reason.
  explicit SoundReader(const std::string& path, bool needLength = false);
  ~SoundReader();
  SoundReader(const SoundReader&) = delete;
  SoundReader& operator=(const SoundReader&) = delete;

  const std::string& path() const { return path_; }
  const AudioFormat& format() const { return format_; }
  const Encoding& encoding() const { return encoding_; }
  // Frames the file holds; lengthKnown() is false for a stream on a pipe.
  uint64_t frames() const { return frames_; }
  bool lengthKnown() const { return lengthKnown_; }
  // Up to maxFrames interleaved frames into dst; 0 at the end. A file that
  // ends before its header says is read to where its data ends, with one
  // warning on standard error.
  uint32_t read(float* dst, uint32_t maxFrames);
  // Back to the first frame (files only).
  void rewind();

 private:
  void warnCutShort(uint64_t got);

  std::string path_;
  struct Handle;
  std::unique_ptr<Handle> h_;
  AudioFormat format_;
  Encoding encoding_;
  uint64_t frames_ = 0, done_ = 0;
  bool lengthKnown_ = true;
  bool warned_ = false;
};

// Output options shared by every command that writes audio.
struct WriteOptions {
  uint32_t bits = 0;     // 0: keep the input's
  bool asFloat = false;  // 32-bit float (64 with --bits 64)
  bool dither = true;
};
// Takes --bits N, --float and --no-dither out of args.
WriteOptions takeWriteOptions(std::vector<std::string>& args);
// The encoding for an output: the container from the output's name (.wav,
// .flac, .aif/.aiff, .ogg), else the input's (WAV for standard output); the
// samples as the options say, else as the input's where the container
// allows. Throws UsageError for a combination no container holds.
Encoding outputEncoding(const std::string& outPath, const Encoding& input, const WriteOptions& options);

class SoundWriter {
 public:
  // dither: add TPDF dither when quantising to 16 bits or fewer.
  SoundWriter(const std::string& path, const AudioFormat& format, const Encoding& encoding, bool dither);
  ~SoundWriter();
  SoundWriter(const SoundWriter&) = delete;
  SoundWriter& operator=(const SoundWriter&) = delete;

  void write(const float* interleaved, uint32_t frames);
  // Finishes the file, moves it into place and reports clipping on
  // standard error; throws FileError when the file cannot be finished.
  void close();
  uint64_t clipped() const { return clipped_; }

 private:
  void flush();

  struct Handle;
  std::unique_ptr<Handle> h_;
  std::string path_;
  AudioFormat format_;
  Encoding encoding_;
  uint32_t bits_;
  bool dither_;
  uint32_t noise_ = 0x2545F491u;
  uint64_t clipped_ = 0;
  std::vector<int32_t> ints_;
  std::vector<float> floats_;
  std::vector<uint8_t> bytes_;
};

// Whole files as 16-bit PCM, for the analysers, which take PCM.
struct Audio {
  AudioFormat format;
  std::vector<int16_t> samples;  // interleaved
  uint64_t frames() const { return format.channels ? samples.size() / format.channels : 0; }
};
// Any readable file, mono or stereo, rounded to 16 bits.
Audio readWav(const std::string& path);
// A 16-bit WAV file, in place only once complete.
void writeWav(const std::string& path, const Audio& audio);

}  // namespace dspfx::tool

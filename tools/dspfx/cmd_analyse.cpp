#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

#include "analysis_runs.h"
#include "commands.h"
#include "output_file.h"
#include "plots.h"
#include "progress.h"
#include "wav.h"

namespace dspfx::tool {

namespace {

// The analysers take 16-bit blocks; every format the reader knows is brought
// to that, rounded and held to the 16-bit range.
BlockSource pcmBlocksOf(SoundReader& reader, uint32_t blockFrames) {
  auto scratch = std::make_shared<std::vector<float>>();
  return [&reader, scratch, blockFrames](int16_t* dst, uint32_t maxFrames) {
    const uint32_t channels = reader.format().channels;
    const uint32_t n = std::min(maxFrames, blockFrames);
    scratch->resize(static_cast<size_t>(n) * channels);
    const uint32_t got = reader.read(scratch->data(), n);
    for (size_t i = 0; i < static_cast<size_t>(got) * channels; ++i) {
      dst[i] = static_cast<int16_t>(std::clamp(std::lrint((*scratch)[i] * 32768.0f), -32768L, 32767L));
    }
    return got;
  };
}

// A text output that appears under its name only once it is complete.
class TextOutput {
 public:
  explicit TextOutput(const std::string& path) : name_(path), out_(path) {
    f_ = std::fopen(out_.tempPath().c_str(), "w");
    if (!f_) throw FileError(name_ + ": cannot create");
  }
  ~TextOutput() {
    if (f_) std::fclose(f_);
  }
  TextOutput(const TextOutput&) = delete;
  TextOutput& operator=(const TextOutput&) = delete;
  FILE* file() const { return f_; }
  void commit() {
    const bool failed = std::ferror(f_) != 0;
    const bool closed = std::fclose(f_) == 0;
    f_ = nullptr;
    if (failed || !closed) throw FileError(name_ + ": write error");
    out_.commit();
  }

 private:
  std::string name_;
  OutputFile out_;
  FILE* f_ = nullptr;
};

void savePicture(const Canvas& picture, const std::string& path) {
  OutputFile out(path);
  picture.savePng(out.tempPath(), path);
  out.commit();
}

std::string baseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

double numberOption(Args& args, const std::string& name, double def, double lo, double hi, const char* unit,
                    bool whole = false) {
  std::string v;
  if (!takeOption(args, name, v)) return def;
  const double x = parseNumber(v, name);
  if (x < lo || x > hi || (whole && x != std::floor(x))) {
    char range[96];
    std::snprintf(range, sizeof range, "%s%g ... %g %s", whole ? "a whole number, " : "", lo, hi, unit);
    throw UsageError(name + " = " + v + " is outside " + range);
  }
  return x;
}

// A tone between two bins reads up to 1.4 dB low through the Hann window.
// For one sinusoid the two largest bins fix where it lies between them, d,
// and the window's response there, sin(pi d) / (pi d (1 - d^2)), restores
// its level.
struct Peak {
  double level, bin;
};
Peak peakNear(const float* dbfs, uint32_t binCount, uint32_t top) {
  if (top == 0 || top + 1 >= binCount) return {dbfs[top], static_cast<double>(top)};
  const bool above = dbfs[top + 1] >= dbfs[top - 1];
  const double b = std::pow(10.0, dbfs[top] / 20.0), c = std::pow(10.0, dbfs[above ? top + 1 : top - 1] / 20.0);
  const double d = std::clamp((2 * c - b) / (b + c), 0.0, 0.5);
  if (d < 1e-6) return {dbfs[top], static_cast<double>(top)};
  const double response = std::sin(M_PI * d) / (M_PI * d * (1 - d * d));
  return {dbfs[top] - 20 * std::log10(response), top + (above ? d : -d)};
}

std::string channelsWord(uint32_t channels) {
  return channels == 1 ? "mono" : channels == 2 ? "stereo" : std::to_string(channels) + " channels";
}

}  // namespace

int cmdSpectrogram(Args args, const GlobalOptions& g) {
  std::string png, csv;
  const bool wantPng = takeOption(args, "--png", png), wantCsv = takeOption(args, "--csv", csv);
  const double fft = numberOption(args, "--fft", 2048, 16, 32768, "", true);
  if (fft != std::exp2(std::round(std::log2(fft)))) throw UsageError("--fft must be a power of two, 16 ... 32768");
  SpectrogramStyle style;
  style.logFreq = takeFlag(args, "--log");
  style.rangeDb = numberOption(args, "--range", 100, 10, 200, "dB");
  style.minFreq = numberOption(args, "--min-freq", 0, 0, 1e6, "Hz");
  style.maxFreq = numberOption(args, "--max-freq", 0, 0, 1e6, "Hz");
  style.width = static_cast<int>(numberOption(args, "--width", 1200, 320, 8000, "pixels", true));
  style.height = static_cast<int>(numberOption(args, "--height", 600, 200, 8000, "pixels", true));
  if (args.size() != 1) throw UsageError("spectrogram takes one input file (see: dspfx help spectrogram)");
  if (style.maxFreq > 0 && style.minFreq >= style.maxFreq) throw UsageError("--min-freq must lie below --max-freq");

  SoundReader reader(args[0], true);
  const AudioFormat format = reader.format();
  const double nyquist = format.rate / 2.0;
  if (style.minFreq >= nyquist) throw UsageError("--min-freq must lie below half the sample rate");
  const double lowest = style.minFreq, highest = style.maxFreq > 0 ? std::min(style.maxFreq, nyquist) : nyquist;
  const SpectraShape shape = spectraShape(static_cast<uint32_t>(fft));
  const double binHz = nyquist / shape.binCount;
  const double seconds = static_cast<double>(reader.frames()) / format.rate;
  style.text.title = "Spectrogram of " + baseName(args[0]);
  char note[200];
  std::snprintf(note, sizeof note, "%s, %u Hz%s; FFT %u, Hann window, hop %u", channelsWord(format.channels).c_str(),
                format.rate, format.channels == 1 ? "" : ", channels averaged by power", shape.fftSize, shape.hop);
  style.text.note = note;
  std::unique_ptr<SpectrogramPicture> picture;
  if (wantPng) picture = std::make_unique<SpectrogramPicture>(style, format.rate, shape.binCount, seconds);
  std::unique_ptr<TextOutput> table;
  // Columns: the bins inside the asked band.
  const auto firstBin = static_cast<uint32_t>(std::ceil(lowest / binHz - 1e-9));
  const auto endBin = static_cast<uint32_t>(std::min<double>(shape.binCount, std::floor(highest / binHz + 1e-9) + 1));
  if (wantCsv) {
    table = std::make_unique<TextOutput>(csv);
    std::fprintf(table->file(), "time_s");
    for (uint32_t b = firstBin; b < endBin; ++b) std::fprintf(table->file(), ",%.2f", b * binHz);
    std::fprintf(table->file(), "\n");
  }

  float loudest = -std::numeric_limits<float>::infinity();
  double loudestHz = 0, loudestAt = 0;
  uint64_t count = 0;
  Progress progress("spectrogram", reader.frames(), g.quiet, format.rate);
  const BlockSource source = pcmBlocksOf(reader, g.blockFrames);
  spectraOf(source, format, shape.fftSize, [&](uint64_t centre, const float* dbfs) {
    const double t = static_cast<double>(centre) / format.rate;
    ++count;
    if (endBin > firstBin) {
      const auto top = static_cast<uint32_t>(std::max_element(dbfs + firstBin, dbfs + endBin) - dbfs);
      const Peak p = peakNear(dbfs, shape.binCount, top);
      if (p.level > loudest) {
        loudest = static_cast<float>(p.level);
        loudestHz = p.bin * binHz;
        loudestAt = t;
      }
    }
    if (picture) picture->add(t - 0.5 * shape.hop / format.rate, t + 0.5 * shape.hop / format.rate, dbfs);
    if (table) {
      std::fprintf(table->file(), "%.6f", t);
      for (uint32_t b = firstBin; b < endBin; ++b) std::fprintf(table->file(), ",%.2f", dbfs[b]);
      std::fprintf(table->file(), "\n");
    }
  }, &progress);
  progress.finish();

  if (picture) savePicture(picture->render(), png);
  if (table) table->commit();
  std::printf("%llu spectra of %u bins (%.2f Hz each), one every %.4f s; loudest %.2f dBFS at %.0f Hz, %.3f s\n",
              static_cast<unsigned long long>(count), shape.binCount, binHz,
              static_cast<double>(shape.hop) / format.rate, loudest, loudestHz, loudestAt);
  return 0;
}

int cmdEnvelope(Args args, const GlobalOptions& g) {
  std::string png, csv;
  const bool wantPng = takeOption(args, "--png", png), wantCsv = takeOption(args, "--csv", csv);
  EnvelopeStyle style;
  style.db = takeFlag(args, "--db");
  style.rangeDb = numberOption(args, "--range", 60, 10, 200, "dB");
  const double rowRate = numberOption(args, "--rate", 100, 0.01, 192000, "rows per second");
  style.width = static_cast<int>(numberOption(args, "--width", 1200, 320, 8000, "pixels", true));
  style.height = static_cast<int>(numberOption(args, "--height", 400, 200, 8000, "pixels", true));
  if (args.size() != 1) throw UsageError("envelope takes one input file (see: dspfx help envelope)");

  SoundReader reader(args[0], true);
  const AudioFormat format = reader.format();
  const uint32_t channels = format.channels;
  if (rowRate > format.rate) throw UsageError("--rate must not exceed the sample rate (" + std::to_string(format.rate) + ")");
  style.text.title = "Envelope of " + baseName(args[0]);
  style.text.note = channelsWord(channels) + ", " + std::to_string(format.rate) +
                    " Hz; peak over 1 ms, smoothed below 33 Hz" + (channels > 1 ? ", each channel apart" : "");
  std::unique_ptr<EnvelopePicture> picture;
  if (wantPng) picture = std::make_unique<EnvelopePicture>(style, channels, format.rate, reader.frames());
  std::unique_ptr<TextOutput> table;
  if (wantCsv) {
    table = std::make_unique<TextOutput>(csv);
    std::fprintf(table->file(), "time_s");
    for (uint32_t c = 0; c < channels; ++c) {
      const std::string name =
          channels == 1 ? "level" : channels == 2 ? (c ? "right" : "left") : "ch" + std::to_string(c + 1);
      std::fprintf(table->file(), ",%s%s", name.c_str(), style.db ? "_dbfs" : "");
    }
    std::fprintf(table->file(), "\n");
  }

  // A row holds the peak of its frames, so no attack falls between rows.
  std::vector<float> rowPeak(channels, 0.0f), filePeak(channels, 0.0f);
  uint64_t row = 0, rowEnd = 0;
  const double framesPerRow = format.rate / rowRate;
  auto endOf = [&](uint64_t r) { return static_cast<uint64_t>(std::llround((r + 1) * framesPerRow)); };
  rowEnd = endOf(0);
  bool rowHasFrames = false;
  auto emitRow = [&] {
    std::fprintf(table->file(), "%.6f", row * framesPerRow / format.rate);
    for (uint32_t c = 0; c < channels; ++c) {
      if (style.db) {
        std::fprintf(table->file(), rowPeak[c] > 0 ? ",%.2f" : ",-inf", 20 * std::log10(rowPeak[c]));
      } else {
        std::fprintf(table->file(), ",%.5f", rowPeak[c]);
      }
      rowPeak[c] = 0;
    }
    std::fprintf(table->file(), "\n");
    ++row;
    rowEnd = endOf(row);
    rowHasFrames = false;
  };

  Progress progress("envelope", reader.frames(), g.quiet, format.rate);
  const BlockSource source = pcmBlocksOf(reader, g.blockFrames);
  envelopeOf(source, format, g.blockFrames, [&](uint64_t first, const std::vector<const float*>& levels, uint32_t n) {
    for (uint32_t c = 0; c < channels; ++c) {
      filePeak[c] = std::max(filePeak[c], *std::max_element(levels[c], levels[c] + n));
      if (picture) picture->add(c, first, levels[c], n);
    }
    if (!table) return;
    for (uint32_t i = 0; i < n; ++i) {
      while (first + i >= rowEnd) emitRow();
      for (uint32_t c = 0; c < channels; ++c) rowPeak[c] = std::max(rowPeak[c], levels[c][i]);
      rowHasFrames = true;
    }
  }, &progress);
  progress.finish();

  if (picture) savePicture(picture->render(), png);
  if (table) {
    if (rowHasFrames) emitRow();
    table->commit();
  }
  std::printf("%llu frames; envelope peak", static_cast<unsigned long long>(reader.frames()));
  for (uint32_t c = 0; c < channels; ++c) {
    std::printf("%s %.2f dBFS", c ? "," : "", filePeak[c] > 0 ? 20 * std::log10(filePeak[c]) : -INFINITY);
  }
  if (table) std::printf("; %llu rows at %g per second", static_cast<unsigned long long>(row), rowRate);
  std::printf("\n");
  return 0;
}

}  // namespace dspfx::tool

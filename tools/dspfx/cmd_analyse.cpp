#include <cstdio>

#include "analysis_runs.h"
#include "commands.h"
#include "output_file.h"

namespace dspfx::tool {
namespace {

FILE* openText(OutputFile& out) {
  FILE* f = std::fopen(out.tempPath().c_str(), "w");
  if (!f) throw FileError(out.tempPath() + ": cannot create");
  return f;
}

void closeText(FILE* f, OutputFile& out) {
  if (std::fclose(f) != 0) throw FileError(out.tempPath() + ": write error");
  out.commit();
}

void savePng(const Image& img, const std::string& path) {
  OutputFile out(path);
  std::string error;
  if (!img.savePng(out.tempPath(), error)) throw FileError(error);
  out.commit();
}

std::string baseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int cmdSpectrum(Args args, const GlobalOptions&) {
  std::string fft = "2048", png, csv;
  takeOption(args, "--fft", fft);
  const bool wantPng = takeOption(args, "--png", png), wantCsv = takeOption(args, "--csv", csv);
  if (args.size() != 1) throw UsageError("usage: dspfx spectrum IN.wav [--fft N] [--png FILE] [--csv FILE]");
  const double n = parseNumber(fft, "--fft");
  if (n < 16 || n > 32768) throw UsageError("--fft must be a power of two, 16 ... 32768");
  const Audio a = readWav(args[0]);
  const Spectrogram s = spectrogramOf(a, static_cast<uint32_t>(n));
  if (wantPng) savePng(renderSpectrogram(s, "SPECTRUM OF " + baseName(args[0])), png);
  if (wantCsv) {
    OutputFile out(csv);
    FILE* f = openText(out);
    std::fprintf(f, "time_s");
    for (uint32_t b = 0; b < s.binCount; ++b) std::fprintf(f, ",%.2f", b * s.rate / (2.0 * s.binCount));
    std::fprintf(f, "\n");
    for (uint32_t r = 0; r < s.frameCount; ++r) {
      std::fprintf(f, "%.6f", r * s.secondsPerFrame);
      for (uint32_t b = 0; b < s.binCount; ++b) std::fprintf(f, ",%.2f", s.db[size_t{r} * s.binCount + b]);
      std::fprintf(f, "\n");
    }
    closeText(f, out);
  }
  if (!wantPng && !wantCsv) {
    std::printf("%u spectra of %u bins, one every %.4f s; add --png or --csv to save them\n", s.frameCount,
                s.binCount, s.secondsPerFrame);
  }
  return 0;
}

int cmdEnvelope(Args args, const GlobalOptions& g) {
  std::string png, csv;
  const bool wantPng = takeOption(args, "--png", png), wantCsv = takeOption(args, "--csv", csv);
  if (args.size() != 1) throw UsageError("usage: dspfx envelope IN.wav [--csv FILE] [--png FILE]");
  const Audio a = readWav(args[0]);
  const EnvelopePlot e = envelopeOf(a, g.blockFrames);
  if (wantPng) savePng(renderEnvelope(e, "ENVELOPE OF " + baseName(args[0])), png);
  if (wantCsv) {
    OutputFile out(csv);
    FILE* f = openText(out);
    std::fprintf(f, a.format.channels == 2 ? "time_s,left,right\n" : "time_s,envelope\n");
    for (size_t i = 0; i < e.left.size(); ++i) {
      std::fprintf(f, "%.6f,%.0f", i / e.rate, e.left[i]);
      if (!e.right.empty()) std::fprintf(f, ",%.0f", e.right[i]);
      std::fprintf(f, "\n");
    }
    closeText(f, out);
  }
  if (!wantPng && !wantCsv) {
    float peak = 0;
    for (float v : e.left) peak = std::max(peak, v);
    for (float v : e.right) peak = std::max(peak, v);
    std::printf("%zu frames, envelope peak %.0f of 32767; add --png or --csv to save it\n", e.left.size(), peak);
  }
  return 0;
}

}  // namespace dspfx::tool

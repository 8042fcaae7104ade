// The built-in demonstration: a synthetic piece through every effect family,
// with the results, pictures and a table of levels and speeds.
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

#include "analysis_runs.h"
#include "chain_runner.h"
#include "commands.h"
#include "output_file.h"
#include "plots.h"

namespace dspfx::tool {
namespace {

constexpr uint32_t kRate = 44100;
constexpr double kSeconds = 8.0;

// Percussive hits (0-2 s), a chord (2-4 s), a rising sweep (4-6.5 s) and a
// quiet passage (6.5-8 s), slightly different left and right.
Audio testPiece() {
  Audio a;
  a.format = {2, kRate};
  const auto frames = static_cast<uint32_t>(kSeconds * kRate);
  a.samples.resize(size_t{frames} * 2);
  uint32_t noise = 22222;
  double sweepPhase = 0;
  for (uint32_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    noise = noise * 1664525u + 1013904223u;
    const double n = (static_cast<int32_t>(noise >> 8) - (1 << 23)) / double(1 << 23);
    double l = 0, r = 0;
    if (t < 2.0) {
      const double since = std::fmod(t, 0.25);
      const double hit = std::exp(-since * 30) * (0.5 * n + 0.5 * std::sin(2 * M_PI * 90 * since));
      l = 0.8 * hit;
      r = 0.7 * hit;
    } else if (t < 4.0) {
      const double env = std::min(1.0, (t - 2.0) * 8) * std::min(1.0, (4.0 - t) * 8);
      for (double f : {220.0, 277.18, 329.63, 440.0}) {
        l += 0.12 * env * std::sin(2 * M_PI * f * t);
        r += 0.12 * env * std::sin(2 * M_PI * f * 1.002 * t);
      }
    } else if (t < 6.5) {
      const double f = 100 * std::pow(150.0, (t - 4.0) / 2.5);
      sweepPhase += 2 * M_PI * f / kRate;
      l = r = 0.3 * std::sin(sweepPhase);
    } else {
      l = 0.03 * std::sin(2 * M_PI * 660 * t) + 0.003 * n;
      r = 0.03 * std::sin(2 * M_PI * 660 * t + 0.5) + 0.003 * n;
    }
    a.samples[2 * size_t{i}] = static_cast<int16_t>(32767 * l);
    a.samples[2 * size_t{i} + 1] = static_cast<int16_t>(32767 * r);
  }
  return a;
}

struct Row {
  std::string label, file;
  uint64_t frames;
  Levels levels;
  double seconds;    // processing time
  double realTime;   // audio seconds per processing second
};

void savePicture(const Canvas& picture, const std::string& path) {
  OutputFile out(path);
  picture.savePng(out.tempPath(), path);
  out.commit();
}

Canvas spectrogramOf(const Audio& a, const std::string& title) {
  constexpr uint32_t kFft = 1024;
  SpectrogramStyle style;
  style.width = 1000;
  style.height = 440;
  style.text = {title, "stereo, 44100 Hz, channels averaged by power; FFT 1024, Hann window, hop 256"};
  const double seconds = static_cast<double>(a.frames()) / a.format.rate;
  SpectrogramPicture picture(style, a.format.rate, spectraShape(kFft).binCount, seconds);
  const double halfHop = 0.5 * spectraShape(kFft).hop / a.format.rate;
  spectraOf(blocksOf(a), a.format, kFft, [&](uint64_t centre, const float* dbfs) {
    const double t = static_cast<double>(centre) / a.format.rate;
    picture.add(t - halfHop, t + halfHop, dbfs);
  }, nullptr);
  return picture.render();
}

}  // namespace

int cmdDemo(Args args, const GlobalOptions& g) {
  std::string dir = "dspfx-demo";
  takeOption(args, "--out", dir);
  if (!args.empty()) throw UsageError("usage: dspfx demo [--out DIR]");
  if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
    throw FileError(dir + ": cannot create directory (" + std::strerror(errno) + ")");
  }
  std::printf("dspfx demo: %.0f s of stereo %u Hz test signal through every effect family, into %s/\n\n",
              kSeconds, kRate, dir.c_str());
  const Audio input = testPiece();
  writeWav(dir + "/input.wav", input);

  std::vector<Row> rows;
  auto timed = [&](const std::string& label, const std::string& file, const std::function<Audio()>& work) {
    const auto t0 = std::chrono::steady_clock::now();
    Audio out = work();
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    writeWav(dir + "/" + file, out);
    const Levels left = measureLevels(out.samples.data(), out.frames(), out.format.channels, 0);
    rows.push_back({label, file, out.frames(), left, secs, kSeconds / std::max(secs, 1e-9)});
    return out;
  };
  auto chain = [&](std::initializer_list<const char*> texts) {
    std::vector<EffectArg> effects;
    for (const char* s : texts) effects.push_back(parseEffect(s, effectTable()));
    return [effects, &input, &g] { return runChain(input, g.blockFrames, effects); };
  };

  timed("resample 48 kHz", "resample-48k.wav", chain({"resample:rate=48000"}));
  const Audio hq = timed("hq upsample", "hqups.wav", chain({"hqups:harmonics=0.4,mix=40"}));
  const Audio eq = timed("shelving eq", "eq.wav", chain({"eq:low=6,mid=0,high=-12"}));
  timed("graphic eq", "geq.wav", chain({"geq:g62=3,g4k=6"}));
  const Audio lp = timed("low-pass 2 kHz", "lowpass.wav", chain({"lowpass:freq=2000,order=6"}));
  timed("high-pass 500 Hz", "highpass.wav", chain({"highpass:freq=500,order=4"}));
  timed("fade in/out", "fade.wav", chain({"fade:in=1,out=2"}));
  timed("stretch x1.5", "stretch.wav", chain({"stretch:ratio=1.5"}));
  const Audio pitched = timed("pitch +5 st", "pitch.wav", chain({"pitch:semitones=5"}));
  timed("chorus", "chorus.wav", chain({"chorus:voices=3"}));
  timed("cross-fade", "crossfade.wav",
        [&] { return crossfadeAudio(input, pitched, 3.0, 2.0, nullptr, g.blockFrames); });

  savePicture(spectrogramOf(input, "The test piece"), dir + "/spectrum-input.png");
  savePicture(spectrogramOf(eq, "Shelving eq: +6 dB below 250 Hz, -12 dB above 4 kHz"), dir + "/spectrum-eq.png");
  savePicture(spectrogramOf(lp, "Low-pass at 2 kHz, order 6"), dir + "/spectrum-lowpass.png");
  savePicture(spectrogramOf(pitched, "Pitch shifted up 5 semitones"), dir + "/spectrum-pitch.png");
  savePicture(spectrogramOf(hq, "Upsampled to 48 kHz with added top-octave harmonics"), dir + "/spectrum-hqups.png");
  const std::vector<Slice> slices = slicesOf(input, SliceOptions{}, g.blockFrames);
  EnvelopeStyle envStyle;
  envStyle.width = 1000;
  envStyle.height = 360;
  envStyle.text = {"Envelope of the test piece, " + std::to_string(slices.size()) + " slices found",
                   "stereo, 44100 Hz; slices shaded, each starting at a blue line"};
  EnvelopePicture envelope(envStyle, input.format.channels, input.format.rate, input.frames());
  envelopeOf(blocksOf(input), input.format, g.blockFrames,
             [&](uint64_t first, const std::vector<const float*>& levels, uint32_t n) {
               for (uint32_t c = 0; c < levels.size(); ++c) envelope.add(c, first, levels[c], n);
             }, nullptr);
  for (const Slice& s : slices) envelope.markSlice(s.start, s.end);
  savePicture(envelope.render(), dir + "/envelope-slices.png");

  std::printf("%-18s %-20s %9s %10s %10s %9s %9s\n", "effect", "output file", "frames", "peak dBFS", "rms dBFS",
              "time ms", "x real");
  for (const Row& r : rows) {
    std::printf("%-18s %-20s %9llu %10.2f %10.2f %9.1f %9.0f\n", r.label.c_str(), r.file.c_str(),
                static_cast<unsigned long long>(r.frames), r.levels.peakDb, r.levels.rmsDb, 1000 * r.seconds,
                r.realTime);
  }
  std::printf("\n%zu slices found in the input; pictures: spectrum-*.png, envelope-slices.png\n", slices.size());
  return 0;
}

}  // namespace dspfx::tool

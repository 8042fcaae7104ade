// Rate conversion 44100 -> 48000 Hz and the IIR filter on the shared signal
// in 4096-frame blocks, PCM in and PCM out. With libsamplerate, soxr or
// speexdsp installed, the same signal goes through their converters on
// equal terms (16-bit in, 16-bit out, the same blocks, one thread), and the
// rateQuality rows measure what each converter makes of a sine and a sweep.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench_rows.h"
#include "bench_signal.h"
#include "dspfx/dspfx.h"
#include "dsp/biquad_cascade.h"

#ifdef DSPFX_HAVE_SAMPLERATE
#include <samplerate.h>
#endif
#ifdef DSPFX_HAVE_SOXR
#include <soxr.h>
#endif
#ifdef DSPFX_HAVE_SPEEXDSP
#include <speex/speex_resampler.h>
#endif

namespace {

using namespace dspfx::bench;

constexpr uint32_t kDstRate = 48000;
constexpr const char* kRateCase = "44100-48000";

// One converter 44100 -> kDstRate on interleaved 16-bit PCM, block by
// block: run(in, frames, out) writes the output frames and returns their
// count. Every peer converts to and from float where it needs to, inside the
// call, as the library does.
struct Converter {
  std::function<uint32_t(const int16_t*, uint32_t, int16_t*)> run;
  std::shared_ptr<void> state;
  std::string error;
};

// Room for one block's output whatever the converter's rounding.
constexpr uint32_t kOutCapacity = kBlockFrames * kDstRate / kRate + 64;

Converter dspfxConverter(uint32_t channels, int32_t interpolation, uint32_t quality) {
  Converter c;
  DspEffect* h = initResampler(kBlockFrames, channels, channels, kRate, kDstRate, interpolation, 60.0f, 60.0f, 1);
  if (!h || setResamplerQuality(h, quality) != 1) {
    if (h) termResampler(h);
    c.error = "initResampler failed";
    return c;
  }
  c.state = std::shared_ptr<void>(h, [](void* p) { termResampler(static_cast<DspEffect*>(p)); });
  c.run = [h, channels](const int16_t* in, uint32_t frames, int16_t* out) {
    return doResampler(h, in, out, frames * 2 * channels) / (2 * channels);
  };
  return c;
}

// The same resampler in a chain on float samples, converted to and from
// 16-bit PCM here exactly as the libsamplerate rows convert (scale 32768,
// round to nearest, clip): the converter alone, without the PCM
// conversions of doResampler.
Converter dspfxFloatConverter(uint32_t channels, int32_t interpolation, uint32_t quality) {
  Converter c;
  DspChain* chain = dspCreate(kBlockFrames, channels, kRate);
  DspEffect* h = initResampler(kBlockFrames, channels, channels, kRate, kDstRate, interpolation, 60.0f, 60.0f, 1);
  if (!chain || !h || setResamplerQuality(h, quality) != 1 || dspAdd(chain, h, 0) != 1) {
    if (h && (!chain || dspGetHandle(chain, 0) != h)) termResampler(h);
    if (chain) dspDestroy(chain);
    c.error = "chain with a resampler failed";
    return c;
  }
  struct State {
    DspChain* chain;
    std::vector<float> in, out;
  };
  auto st = std::make_shared<State>(State{chain, std::vector<float>(kBlockFrames * channels),
                                          std::vector<float>(size_t{kOutCapacity} * channels)});
  c.state = std::shared_ptr<void>(st, st.get());
  auto cleanup = std::shared_ptr<void>(chain, [](void* p) { dspDestroy(static_cast<DspChain*>(p)); });
  c.run = [st, cleanup, channels](const int16_t* in, uint32_t frames, int16_t* out) -> uint32_t {
    for (uint32_t i = 0; i < frames * channels; ++i) st->in[i] = in[i] / 32768.0f;
    const uint32_t n = dspSendFloat(st->chain, st->in.data(), st->out.data(), frames);
    for (uint32_t i = 0; i < n * channels; ++i) {
      out[i] = static_cast<int16_t>(std::clamp(std::lrint(st->out[i] * 32768.0), -32768L, 32767L));
    }
    return n;
  };
  return c;
}

#ifdef DSPFX_HAVE_SAMPLERATE
Converter samplerateConverter(uint32_t channels, int type) {
  Converter c;
  int error = 0;
  SRC_STATE* src = src_new(type, static_cast<int>(channels), &error);
  if (!src) {
    c.error = src_strerror(error);
    return c;
  }
  struct State {
    SRC_STATE* src;
    std::vector<float> in, out;
  };
  auto st = std::make_shared<State>(State{src, std::vector<float>(kBlockFrames * channels),
                                          std::vector<float>(size_t{kOutCapacity} * channels)});
  c.state = std::shared_ptr<void>(st, st.get());
  auto cleanup = std::shared_ptr<void>(src, [](void* p) { src_delete(static_cast<SRC_STATE*>(p)); });
  c.run = [st, cleanup, channels](const int16_t* block, uint32_t frames, int16_t* pcm) -> uint32_t {
    src_short_to_float_array(block, st->in.data(), static_cast<int>(frames * channels));
    SRC_DATA data{};
    data.data_in = st->in.data();
    data.input_frames = frames;
    data.src_ratio = static_cast<double>(kDstRate) / kRate;
    uint32_t made = 0;
    while (data.input_frames > 0) {
      data.data_out = st->out.data();
      data.output_frames = kOutCapacity - made;
      if (src_process(st->src, &data) != 0) break;
      src_float_to_short_array(st->out.data(), pcm + size_t{made} * channels,
                               static_cast<int>(data.output_frames_gen * channels));
      made += static_cast<uint32_t>(data.output_frames_gen);
      data.data_in += data.input_frames_used * channels;
      data.input_frames -= data.input_frames_used;
      if (data.input_frames_used == 0 && data.output_frames_gen == 0) break;
    }
    return made;
  };
  return c;
}
#endif

#ifdef DSPFX_HAVE_SOXR
// 16-bit interleaved on both sides, without the dither soxr adds to 16-bit
// output by default: the library adds none.
Converter soxrConverter(uint32_t channels, unsigned long recipe) {
  Converter c;
  soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
  io.flags |= SOXR_NO_DITHER;
  const soxr_quality_spec_t quality = soxr_quality_spec(recipe, 0);
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  soxr_error_t error = nullptr;
  soxr_t soxr = soxr_create(kRate, kDstRate, channels, &error, &io, &quality, &runtime);
  if (!soxr) {
    c.error = error ? error : "soxr_create failed";
    return c;
  }
  c.state = std::shared_ptr<void>(soxr, [](void* p) { soxr_delete(static_cast<soxr_t>(p)); });
  c.run = [soxr, channels](const int16_t* block, uint32_t frames, int16_t* out) -> uint32_t {
    size_t left = frames, made = 0;
    while (left > 0) {
      size_t used = 0, got = 0;
      if (soxr_process(soxr, block, left, &used, out + made * channels, kOutCapacity - made, &got) != nullptr) break;
      block += used * channels;
      left -= used;
      made += got;
      if (used == 0 && got == 0) break;
    }
    return static_cast<uint32_t>(made);
  };
  return c;
}
#endif

#ifdef DSPFX_HAVE_SPEEXDSP
Converter speexConverter(uint32_t channels, int quality) {
  Converter c;
  int error = 0;
  SpeexResamplerState* st = speex_resampler_init(channels, kRate, kDstRate, quality, &error);
  if (!st) {
    c.error = speex_resampler_strerror(error);
    return c;
  }
  c.state = std::shared_ptr<void>(st, [](void* p) { speex_resampler_destroy(static_cast<SpeexResamplerState*>(p)); });
  c.run = [st](const int16_t* block, uint32_t frames, int16_t* out) -> uint32_t {
    spx_uint32_t inLen = frames, outLen = kOutCapacity;
    speex_resampler_process_interleaved_int(st, block, &inLen, out, &outLen);
    return outLen;
  };
  return c;
}
#endif

using MakeConverter = std::function<Converter(uint32_t channels)>;

void resamplerRow(benchmark::State& state, const MakeConverter& make) {
  Converter c = make(2);
  if (!c.run) {
    state.SkipWithError(c.error.c_str());
    return;
  }
  std::vector<int16_t> out(size_t{kOutCapacity} * 2);
  streamSignal(state, 2, [&](const int16_t* in) { benchmark::DoNotOptimize(c.run(in, kBlockFrames, out.data())); });
}

// ---- Quality: what a converter makes of a 1 kHz full-scale sine and of a
// 0 - 22 kHz linear sweep at -6 dBFS, 16-bit mono in 4096-frame blocks.

constexpr double kPi = 3.14159265358979323846;
constexpr double kSweepSeconds = 20.0;
constexpr double kSweepTopHz = 22000.0;

std::vector<int16_t> qualitySine() {
  std::vector<int16_t> x(kRate * 6);
  for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<int16_t>(std::lrint(32767.0 * std::sin(2 * kPi * 1000.0 * i / kRate)));
  return x;
}

std::vector<int16_t> qualitySweep() {
  std::vector<int16_t> x(static_cast<size_t>(kRate * kSweepSeconds));
  for (size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    x[i] = static_cast<int16_t>(std::lrint(16384.0 * std::sin(2 * kPi * kSweepTopHz * t * t / (2 * kSweepSeconds))));
  }
  return x;
}

std::vector<int16_t> convertAll(Converter& c, const std::vector<int16_t>& in) {
  std::vector<int16_t> out, block(kOutCapacity);
  for (size_t at = 0; at + kBlockFrames <= in.size(); at += kBlockFrames) {
    const uint32_t n = c.run(in.data() + at, kBlockFrames, block.data());
    out.insert(out.end(), block.begin(), block.begin() + n);
  }
  return out;
}

// Power spectrum (one side, bins 0 .. n/2) of n samples from x (full scale
// 1.0) under a Kaiser window (beta 14: side lobes near -130 dB, below the
// 16-bit floor), in double throughout.
class Spectrum {
 public:
  explicit Spectrum(size_t n) : n_(n), window_(n), buf_(n) {
    const double i0 = std::cyl_bessel_i(0.0, kBeta);
    for (size_t k = 0; k < n; ++k) {
      const double r = 2.0 * k / (n - 1) - 1.0;
      window_[k] = std::cyl_bessel_i(0.0, kBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) / i0;
      windowPower_ += window_[k] * window_[k];
    }
  }
  // Bin k's power scaled so that a sine's bins sum to its mean power.
  std::vector<double> operator()(const int16_t* x) {
    for (size_t k = 0; k < n_; ++k) buf_[k] = {x[k] / 32768.0 * window_[k], 0.0};
    transform();
    std::vector<double> p(n_ / 2 + 1);
    for (size_t k = 0; k <= n_ / 2; ++k) p[k] = 2.0 * std::norm(buf_[k]) / (n_ * windowPower_);
    return p;
  }

 private:
  static constexpr double kBeta = 14.0;
  void transform() {
    for (size_t i = 1, j = 0; i < n_; ++i) {
      size_t bit = n_ >> 1;
      for (; j & bit; bit >>= 1) j ^= bit;
      j ^= bit;
      if (i < j) std::swap(buf_[i], buf_[j]);
    }
    for (size_t len = 2; len <= n_; len <<= 1) {
      const std::complex<double> step = std::polar(1.0, -2 * kPi / len);
      for (size_t i = 0; i < n_; i += len) {
        std::complex<double> w = 1.0;
        for (size_t k = 0; k < len / 2; ++k) {
          const std::complex<double> a = buf_[i + k], b = buf_[i + k + len / 2] * w;
          buf_[i + k] = a + b;
          buf_[i + k + len / 2] = a - b;
          w *= step;
        }
      }
    }
  }
  size_t n_;
  std::vector<double> window_;
  double windowPower_ = 0;
  std::vector<std::complex<double>> buf_;
};

struct Band {
  double wanted = 0, unwanted = 0, spur = 0;
};

// Splits one spectrum around the wanted tone (the strongest bin within
// search bins of centre, plus and minus half bins around it): its power, the
// power of everything else from 20 Hz up, and the strongest other line (the
// power of 9 bins, a tone's main lobe under this window).
Band split(const std::vector<double>& p, double binHz, double centreHz, double searchHz, double halfHz) {
  const auto bin = [&](double hz) { return static_cast<long>(std::lrint(hz / binHz)); };
  const long last = static_cast<long>(p.size()) - 1;
  long peak = std::clamp(bin(centreHz), 0L, last);
  for (long k = std::max(0L, bin(centreHz - searchHz)); k <= std::min(last, bin(centreHz + searchHz)); ++k) {
    if (p[k] > p[peak]) peak = k;
  }
  const long lo = peak - bin(halfHz), hi = peak + bin(halfHz), floor = bin(20.0);
  Band b;
  for (long k = 0; k <= last; ++k) {
    if (k >= lo && k <= hi) b.wanted += p[k];
    else if (k >= floor) b.unwanted += p[k];
  }
  for (long k = floor + 4; k + 4 <= last; ++k) {
    if (k + 4 >= lo && k - 4 <= hi) continue;
    double line = 0;
    for (long j = k - 4; j <= k + 4; ++j) line += p[j];
    b.spur = std::max(b.spur, line);
  }
  return b;
}

double db(double ratio) { return 10.0 * std::log10(std::max(ratio, 1e-30)); }

void qualityRow(benchmark::State& state, const MakeConverter& make) {
  static const std::vector<int16_t> sine = qualitySine();
  static const std::vector<int16_t> sweep = qualitySweep();
  double snr = 0, spur = 0, level = 0, sweepAverage = 0, sweepWorst = -1e9;
  for (auto _ : state) {
    Converter c = make(1);
    if (!c.run) {
      state.SkipWithError(c.error.c_str());
      return;
    }
    // The sine: eight 16384-sample spectra averaged, after the first 0.5 s.
    const std::vector<int16_t> y = convertAll(c, sine);
    constexpr size_t kN = 16384;
    Spectrum sineSpectrum(kN);
    std::vector<double> sum(kN / 2 + 1);
    for (size_t seg = 0; seg < 8; ++seg) {
      const std::vector<double> p = sineSpectrum(y.data() + kDstRate / 2 + seg * kN);
      for (size_t k = 0; k < sum.size(); ++k) sum[k] += p[k] / 8;
    }
    const Band b = split(sum, double(kDstRate) / kN, 1000.0, 50.0, 25.0);
    snr = db(b.wanted / b.unwanted);
    spur = db(b.spur / b.wanted);
    level = db(b.wanted / 0.5);

    // The sweep: 8192-sample spectra every 4096 samples; the tone moves
    // about 190 Hz across one, so 250 Hz either side of its peak is its own.
    Converter fresh = make(1);
    const std::vector<int16_t> z = convertAll(fresh, sweep);
    constexpr size_t kM = 8192;
    Spectrum sweepSpectrum(kM);
    double total = 0;
    int frames = 0;
    sweepWorst = -1e9;
    for (size_t at = 0; at + kM <= z.size(); at += kM / 2) {
      const double centre = kSweepTopHz * ((at + kM / 2.0) / kDstRate) / kSweepSeconds;
      if (centre < 200.0 || centre > 20000.0) continue;
      const Band s = split(sweepSpectrum(z.data() + at), double(kDstRate) / kM, centre, 400.0, 250.0);
      const double alias = db(s.spur / s.wanted);
      total += alias;
      sweepWorst = std::max(sweepWorst, alias);
      ++frames;
    }
    sweepAverage = frames ? total / frames : 0;
  }
  state.counters["q/snr"] = snr;
  state.counters["q/spur"] = spur;
  state.counters["q/level"] = level;
  state.counters["q/sweepAvg"] = sweepAverage;
  state.counters["q/sweepWorst"] = sweepWorst;
}

// The converters of the resampler rows, by row name.
std::vector<std::pair<std::string, MakeConverter>> converters() {
  std::vector<std::pair<std::string, MakeConverter>> v = {
      {"dspfx-linear", [](uint32_t ch) { return dspfxConverter(ch, 0, 0); }},
      {"dspfx-cubic", [](uint32_t ch) { return dspfxConverter(ch, 1, 0); }},
      {"dspfx-q1", [](uint32_t ch) { return dspfxConverter(ch, 1, 1); }},
      {"dspfx-q2", [](uint32_t ch) { return dspfxConverter(ch, 1, 2); }},
      {"dspfx-q2-float", [](uint32_t ch) { return dspfxFloatConverter(ch, 1, 2); }},
  };
#ifdef DSPFX_HAVE_SAMPLERATE
  v.emplace_back("libsamplerate-linear", [](uint32_t ch) { return samplerateConverter(ch, SRC_LINEAR); });
  v.emplace_back("libsamplerate-sinc-fastest", [](uint32_t ch) { return samplerateConverter(ch, SRC_SINC_FASTEST); });
#endif
#ifdef DSPFX_HAVE_SOXR
  v.emplace_back("soxr-quick", [](uint32_t ch) { return soxrConverter(ch, SOXR_QQ); });
  v.emplace_back("soxr-low", [](uint32_t ch) { return soxrConverter(ch, SOXR_LQ); });
#endif
#ifdef DSPFX_HAVE_SPEEXDSP
  v.emplace_back("speexdsp-q4", [](uint32_t ch) { return speexConverter(ch, 4); });
#endif
  return v;
}

constexpr int32_t kIirOrder = 8;
constexpr float kIirCutoff = 5000.0f;

void iirLibrary(benchmark::State& state) {
  DspEffect* h = initIirFilter(kBlockFrames, 1, kRate, kIirOrder, kIirCutoff, 0);
  if (!h) {
    state.SkipWithError("initIirFilter failed");
    return;
  }
  std::vector<int16_t> out(kBlockFrames);
  streamSignal(state, 1, [&](const int16_t* in) {
    benchmark::DoNotOptimize(doIirFilter(h, in, out.data(), kBlockFrames * 2));
  });
  termIirFilter(h);
}

// The same sections run the plain way: each one over the whole block in
// double before the next, so every sample waits on the one before it in the
// same section. That serial chain is what bounds any direct-form cascade.
class SerialBiquads {
 public:
  SerialBiquads() {
    dspfx::ChebyshevCascade design;
    design.setOrder(kIirOrder, dspfx::kLowPass);
    design.design(static_cast<float>(kRate), kIirCutoff);
    for (int32_t i = 0; i < design.sections; ++i) {
      sections_.push_back({design.b0[i], design.b1[i], design.b2[i], design.a1[i], design.a2[i], 0.0, 0.0});
    }
  }

  void run(const int16_t* in, int16_t* out, uint32_t frames) {
    for (uint32_t n = 0; n < frames; ++n) x_[n] = in[n] * (1.0 / 32767.0);
    for (Section& s : sections_) {
      double w1 = s.w1, w2 = s.w2;
      for (uint32_t n = 0; n < frames; ++n) {
        // Feedback coefficients are stored negated, as the design gives them.
        const double w = (s.a2 * w2 + s.a1 * w1) + x_[n];
        x_[n] = s.b0 * w + (s.b2 * w2 + s.b1 * w1);
        w2 = w1;
        w1 = w;
      }
      s.w1 = w1;
      s.w2 = w2;
    }
    for (uint32_t n = 0; n < frames; ++n) {
      out[n] = static_cast<int16_t>(std::clamp(x_[n], -1.0, 1.0) * 32767.0);
    }
  }

 private:
  struct Section {
    double b0, b1, b2, a1, a2, w1, w2;
  };
  std::vector<Section> sections_;
  std::vector<double> x_ = std::vector<double>(kBlockFrames);
};

// The largest difference in LSB between the two over the first second, with
// the library's scalar forms: it rounds its input and output through float,
// so 1 is expected.
int iirDifference() {
  scalarFormsOnly();
  DspEffect* h = initIirFilter(kBlockFrames, 1, kRate, kIirOrder, kIirCutoff, 0);
  if (!h) {
    enableAllForms();
    return 1 << 16;
  }
  SerialBiquads peer;
  std::vector<int16_t> ours(kBlockFrames), theirs(kBlockFrames);
  int worst = 0;
  for (uint32_t at = 0; at + kBlockFrames <= kRate; at += kBlockFrames) {
    const int16_t* in = testSignalLeft().data() + at;
    doIirFilter(h, in, ours.data(), kBlockFrames * 2);
    peer.run(in, theirs.data(), kBlockFrames);
    for (uint32_t i = 0; i < kBlockFrames; ++i) worst = std::max(worst, std::abs(ours[i] - theirs[i]));
  }
  termIirFilter(h);
  enableAllForms();
  return worst;
}

void iirSerialBiquads(benchmark::State& state) {
  // Google Benchmark calls a row several times while it sizes the run.
  static const int difference = iirDifference();
  if (difference > 1) {
    state.SkipWithError("the serial biquads differ from doIirFilter by more than 1 LSB");
    return;
  }
  SerialBiquads peer;
  std::vector<int16_t> out(kBlockFrames);
  streamSignal(state, 1, [&](const int16_t* in) {
    peer.run(in, out.data(), kBlockFrames);
    benchmark::DoNotOptimize(out.data());
  });
}

const bool registered = [] {
  for (const auto& [name, make] : converters()) {
    row("doResampler", kRateCase, name, [make = make](benchmark::State& s) { resamplerRow(s, make); })
        ->Unit(benchmark::kMillisecond);
    row("rateQuality", kRateCase, name, [make = make](benchmark::State& s) { qualityRow(s, make); })
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  }
#ifndef DSPFX_HAVE_SAMPLERATE
  missingPeer("doResampler", kRateCase, "libsamplerate-sinc-fastest", "libsamplerate not installed");
#endif
#ifndef DSPFX_HAVE_SOXR
  missingPeer("doResampler", kRateCase, "soxr-low", "soxr not installed");
#endif
#ifndef DSPFX_HAVE_SPEEXDSP
  missingPeer("doResampler", kRateCase, "speexdsp-q4", "speexdsp not installed");
#endif
  row("doIirFilter", "order8-mono", "dspfx", iirLibrary)->Unit(benchmark::kMillisecond);
  row("doIirFilter", "order8-mono", "biquads", iirSerialBiquads)->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace

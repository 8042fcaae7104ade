#include "reliability/workload.h"

#include <algorithm>
#include <iterator>

namespace dspfx::reliability {
namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kFrames = 256;

class Run {
 public:
  Run(uint32_t seed, uint32_t blocks) : seed_(seed), blocks_(blocks), in_(size_t{kFrames} * 2) {}

  WorkloadResult result;

  void input(uint32_t block, uint32_t channels = 2) { fillBlock(in_.data(), kFrames, channels, seed_, block); }
  const int16_t* in() const { return in_.data(); }
  uint32_t half() const { return blocks_ / 2; }
  uint32_t blocks() const { return blocks_; }
  float vary(float base, float step) const { return base + step * static_cast<float>(seed_ % 4); }

  void expect(bool ok) { result.failures += ok ? 0 : 1; }
  void finish(const Digest& d) { result.digests.push_back(d.value); }
  void checkFinite(const float* v, size_t n) {
    for (size_t i = 0; i < n; ++i) result.nonFinite += std::isfinite(v[i]) ? 0 : 1;
  }

  // A same-length family: do(in, out, bytes) per block, set() at half-way.
  template <class Do, class Set>
  void sameLength(DspEffect*& h, Do&& process, Set&& reconfigure) {
    expect(h != nullptr);
    if (!h) return;
    Digest d;
    std::vector<int16_t> out(size_t{kFrames} * 2);
    for (uint32_t b = 0; b < blocks_; ++b) {
      if (b == half()) reconfigure(h);
      input(b);
      expect(process(h, in(), out.data(), kFrames * 4) == 1);
      d.add(out, out.size());
    }
    finish(d);
  }

 private:
  uint32_t seed_;
  uint32_t blocks_;
  std::vector<int16_t> in_;
};

void equalisers(Run& r) {
  std::vector<float> gains(16);
  for (size_t i = 0; i < gains.size(); ++i) gains[i] = r.vary(-6, 1) + static_cast<float>(i % 5);
  DspEffect* shelf = initShelvingEQ(kFrames, 2, kRate, 16, gains.data(), -3);
  r.sameLength(shelf, doShelvingEQ, [&](DspEffect* h) {
    r.expect(setShelvingEQGain(h, 3, 9) == 1);
    r.expect(setShelvingEQOutputLevel(h, -1) == 1);
  });
  r.expect(termShelvingEQ(shelf) == 1);

  const GraphicEqBand bands[] = {{r.vary(100, 20), 6, 0.9f, 0.99f},
                                 {1000, -6, 0.95f, 0.995f},
                                 {5000, 3, 0, 0.98f},
                                 {12000, 0, 0.97f, 0.97f}};
  DspEffect* geq = initGraphicEQ(kFrames, 2, kRate, 4, bands, 0);
  r.sameLength(geq, doGraphicEQ, [&](DspEffect* h) {
    r.expect(setGraphicEQGain(h, 1, 4) == 1);
    r.expect(setGraphicEQMasterGain(h, -2) == 1);
    r.expect(remakeGraphicEQBand(h, 2, 7000, 0.5f, 0.99f) == 1);
  });
  r.expect(termGraphicEQ(geq) == 1);

  // The IIR filter has no set calls: it is replaced half-way instead.
  DspEffect* iir = initIirFilter(kFrames, 2, kRate, 4, r.vary(2000, 500), 0);
  r.sameLength(iir, doIirFilter, [&](DspEffect*& h) {
    r.expect(termIirFilter(h) == 1);
    h = initIirFilter(kFrames, 2, kRate, 6, 800, 1);
    r.expect(h != nullptr);
  });
  r.expect(termIirFilter(iir) == 1);
}

void faderAndChorus(Run& r) {
  DspEffect* fader = initFader(kFrames, 2, kRate, 0.5f, -6, 0);
  r.expect(fader != nullptr);
  if (fader) {
    r.expect(setFaderAction(fader, 0, 0.01f, 0.5f, r.vary(-30, 5)) == 1);
    r.expect(setCrossFaderAction(fader, 0.1f, 0.9f, -1) == 1);
    Digest d;
    std::vector<int16_t> b(size_t{kFrames} * 2), out(size_t{kFrames} * 2);
    for (uint32_t k = 0; k < r.blocks(); ++k) {
      if (k == r.half()) {
        r.expect(setFaderAction(fader, 1, 1.0f, 1.2f, -20) == 1);
        r.expect(setCrossFaderCurve(fader, -2, -30, 0.1f, 0.7f) == 1);
        r.expect(delCrossFaderAction(fader, 1.1f, 1.15f) == 1);
      }
      r.input(k);
      fillBlock(b.data(), kFrames, 2, 99, k);
      r.expect(doFade(fader, 0, r.in(), out.data(), kFrames * 4) == 1);
      d.add(out, out.size());
      r.expect(doCrossFade(fader, r.in(), b.data(), out.data(), kFrames * 4) == 1);
      d.add(out, out.size());
    }
    r.finish(d);
    r.expect(termFader(fader) == 1);
  }

  DspEffect* chorus = initChorus(kFrames, 2, kRate, 3, r.vary(15, 2), 4, 1.5f, 40, 80);
  r.sameLength(chorus, doChorus, [&](DspEffect* h) {
    r.expect(setChorusDepth(h, 6) == 1);
    r.expect(setChorusSpeed(h, 0.7f) == 1);
    r.expect(setChorusMix(h, 1, 20) == 1);
    r.expect(setChorusDelaytime(h, 9) == 1);
    r.expect(setChorusOrgMix(h, 60) == 1);
  });
  r.expect(termChorus(chorus) == 1);
}

void rateFamilies(Run& r) {
  DspEffect* rs = initResampler(kFrames, 2, 2, kRate, 48000, static_cast<int32_t>(r.vary(0, 1)) % 2, 60, 60, 1);
  r.expect(rs != nullptr);
  if (rs) {
    Digest d;
    std::vector<int16_t> out(size_t{getResamplerDstSize(rs, kFrames)} * 2);
    for (uint32_t k = 0; k < r.blocks(); ++k) {
      r.input(k);
      const uint32_t n = doResampler(rs, r.in(), out.data(), kFrames * 4);
      r.expect(n > 0 && n <= out.size() * 2);
      d.add(out.data(), n);
    }
    r.finish(d);
    r.expect(termResampler(rs) == 1);
  }

  DspEffect* up = initHqupsBySrcsize(kFrames, 2, 2, kRate, r.vary(0.3f, 0.05f), 30, 8000, 1, 60, 120, 1, 1);
  r.expect(up != nullptr);
  if (up) {
    Digest d;
    std::vector<int16_t> out(size_t{getHqupsDstSize(up, kFrames)} * 2);
    for (uint32_t k = 0; k < r.blocks(); ++k) {
      if (k == r.half()) {
        r.expect(setHqupsHarmonics(up, -0.4f) == 1);
        r.expect(setHqupsMix(up, 60) == 1);
        r.expect(setHqupsActiveMode(up, 0) == 1);
      }
      r.input(k);
      const uint32_t n = doHqups(up, r.in(), out.data(), kFrames * 4);
      r.expect(n > 0 && n <= out.size() * 2);
      d.add(out.data(), n);
    }
    r.finish(d);
    r.expect(termHqups(up) == 1);
  }
}

void pitchAndTime(Run& r) {
  DspEffect* st = initStretch(kFrames, 2, kRate, r.vary(300, 100), -1, 0.03f, 0.01f);
  r.expect(st != nullptr);
  if (st) {
    Digest d;
    // Large enough for the largest ratio a scale can give (2^2).
    std::vector<int16_t> out(size_t{kFrames} * 2 * 4 + 8);
    for (uint32_t k = 0; k < r.blocks(); ++k) {
      if (k == r.half()) {
        r.expect(setStretchScale(st, -500) == 1);
        r.expect(setStretchOutLevel(st, -3) == 1);
      }
      r.input(k);
      const uint32_t n = doStretch(st, r.in(), out.data(), kFrames * 4);
      r.expect(n <= out.size() * 2);
      d.add(out.data(), n);
    }
    r.finish(d);
    r.expect(termStretch(st) == 1);
  }

  DspEffect* ps = initPitchShift(kFrames, 2, kRate, r.vary(-300, 200), 0, 0.03f, 0.01f, 1, 1);
  r.sameLength(ps, doPitchShift, [&](DspEffect* h) {
    r.expect(setPitchShiftPitch(h, 500) == 1);
    r.expect(setPitchShiftOutLevel(h, -2) == 1);
  });
  r.expect(termPitchShift(ps) == 1);

  DspEffect* slicer = initWaveSlice(kFrames, 2, kRate, -30, -40, 10, 0.02f);
  r.expect(slicer != nullptr);
  if (slicer) {
    Digest d;
    for (uint32_t k = 0; k < r.blocks(); ++k) {
      r.input(k);
      r.expect(doWaveSlice(slicer, r.in(), kFrames * 4) == 1);
    }
    const uint32_t count = stopWaveSlice(slicer);
    d.add(&count, sizeof count);
    for (const SliceRecord* s = getWaveSlice(slicer, 0); s; s = s->next) {
      d.add(&s->start, sizeof s->start);
      d.add(&s->end, sizeof s->end);
    }
    r.finish(d);
    r.expect(termWaveSlice(slicer) == 1);
  }
}

void analysers(Run& r) {
  DspEffect* fft = initFft(kFrames, 2, 2, 120);
  DspEffect* sliding = initFftAnalyze(kFrames, 2, 512, 1024);
  DspEffect* env = initEnvAnalyze(kFrames, 2, kRate);
  r.expect(fft && sliding && env);
  if (fft && sliding && env) {
    Digest d;
    std::vector<float> spectra(kFrames), sliced(512), envelope(size_t{kFrames} * 2);
    for (uint32_t k = 0; k < r.blocks(); ++k) {
      r.input(k);
      r.expect(doFft(fft, r.in(), spectra.data(), kFrames * 4) == kFrames / 2);
      r.expect(doFftAnalyze(sliding, r.in(), sliced.data(), kFrames * 4) == 1);
      r.expect(doEnvAnalyze(env, r.in(), envelope.data(), kFrames * 4) == 1);
      for (const auto* v : {&spectra, &sliced, &envelope}) {
        r.checkFinite(v->data(), v->size());
        d.add(*v, v->size());
      }
    }
    r.finish(d);
  }
  r.expect(termFft(fft) == 1);
  r.expect(termFftAnalyze(sliding) == 1);
  r.expect(termEnvAnalyze(env) == 1);
}

// Effects at one rate, then a resampler, in a chain that is reformatted
// half-way (a new block length and rate); PCM and float blocks alternate.
void chain(Run& r) {
  DspChain* c = dspCreate(kFrames, 2, kRate);
  r.expect(c != nullptr);
  if (!c) return;
  const float gains[4] = {3, -3, 0, 2};
  const GraphicEqBand band = {1000, 3, 0.9f, 0.99f};
  DspEffect* members[] = {initShelvingEQ(kFrames, 2, kRate, 4, gains, 0),
                          initGraphicEQ(kFrames, 2, kRate, 1, &band, 0),
                          initChorus(kFrames, 2, kRate, 2, 10, 3, 1, 30, 90),
                          initFader(kFrames, 2, kRate, 0, -3, 0),
                          initPitchShift(kFrames, 2, kRate, 200, 0, 0.03f, 0.01f, 0, 1),
                          initIirFilter(kFrames, 2, kRate, 2, 10000, 0),
                          initResampler(kFrames, 2, 2, kRate, 48000, 1, 60, 60, 1)};
  // Orders interleave so that the sort, not the call order, decides.
  const uint32_t orders[] = {5, 1, 3, 2, 4, 0, 9};
  for (size_t i = 0; i < std::size(members); ++i) {
    r.expect(members[i] != nullptr);
    r.expect(dspAdd(c, members[i], orders[i]) == i + 1);
  }
  Digest d;
  uint32_t frames = kFrames;
  std::vector<int16_t> in(4096), out(8192);
  std::vector<float> fin(4096), fout(8192);
  for (uint32_t k = 0; k < r.blocks(); ++k) {
    if (k == r.half()) {
      frames = 300;
      dspAdjust(c, frames, 2, 32000);
      r.expect(setChorusDepth(dspGetHandle(c, 3), 5) == 1);
    }
    fillBlock(in.data(), frames, 2, 7, k);
    const uint32_t dst = dspGetDstSize(c, frames);
    r.expect(dst * 2 <= out.size());
    if (k % 2 == 0) {
      const uint32_t n = dspSend(c, in.data(), out.data(), frames * 4);
      r.expect(n == dst * 4);
      d.add(out.data(), n);
    } else {
      for (uint32_t i = 0; i < frames * 2; ++i) fin[i] = in[i] / 32768.0f;
      const uint32_t n = dspSendFloat(c, fin.data(), fout.data(), frames);
      r.expect(n == dst);
      r.checkFinite(fout.data(), size_t{n} * 2);
      d.add(fout.data(), size_t{n} * 2 * sizeof(float));
    }
  }
  r.finish(d);
  dspDestroy(c);
}

void waveFile(Run& r, uint32_t seed, const std::string& path) {
  WavefileFormat format = {1, 2, kRate, kRate * 4, 4, 16, 0};
  WavefileOut* w = initWavefileOut(path.c_str(), &format);
  r.expect(w != nullptr);
  if (!w) return;
  std::vector<int16_t> block(size_t{kFrames} * 2);
  const uint32_t blocks = std::min<uint32_t>(r.blocks(), 64);
  for (uint32_t k = 0; k < blocks; ++k) {
    fillBlock(block.data(), kFrames, 2, seed, k);
    r.expect(writeWavefileOut(w, block.data(), kFrames * 4) == kFrames * 4);
  }
  r.expect(termWavefileOut(w) == blocks * kFrames * 4);
  WavefileIn* rd = initWavefileIn(path.c_str(), kFrames);
  r.expect(rd != nullptr);
  if (!rd) return;
  Digest d;
  const WavefileInHeader* h = getHeaderWavefileIn(rd);
  int32_t n = 0;
  while ((n = readWavefileIn(rd, nullptr, kFrames)) > 0) d.add(h->buffer, static_cast<size_t>(n));
  r.expect(seekWavefileIn(rd, 0, 0) > 0);
  r.finish(d);
  termWavefileIn(rd);
  std::remove(path.c_str());
}

}  // namespace

WorkloadResult runWorkload(uint32_t seed, uint32_t blocks, const std::string& scratchFile) {
  Run r(seed, blocks);
  equalisers(r);
  faderAndChorus(r);
  rateFamilies(r);
  pitchAndTime(r);
  analysers(r);
  chain(r);
  waveFile(r, seed, scratchFile);
  return r.result;
}

}  // namespace dspfx::reliability

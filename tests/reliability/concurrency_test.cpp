// Four threads each run a whole host's workload on their own objects while
// the main thread uses fastmem and writes the processor switches. Under
// ThreadSanitizer (make test-tsan) unguarded shared state shows up as a race;
// in every build the outputs must match the same work done on one thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "dspfx/dspfx.h"

namespace {

// One host's work through the C API, deterministic for a seed: every family
// run, reconfigured half-way and destroyed, a chain reformatted half-way and
// a wave file written and read back.
struct WorkloadResult {
  std::vector<uint64_t> digests;  // one per object run
  uint32_t nonFinite = 0;         // float outputs that were NaN or infinite
  uint32_t failures = 0;          // calls that failed where they must succeed
};

constexpr uint32_t kRate = 44100;
constexpr uint32_t kFrames = 256;
constexpr uint32_t kBytes = kFrames * 4;  // one stereo block

// FNV-1a over everything an object wrote.
struct Digest {
  uint64_t value = 1469598103934665603ull;
  void add(const void* data, size_t bytes) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < bytes; ++i) value = (value ^ p[i]) * 1099511628211ull;
  }
};

// A tone that depends on the seed, a little noise and bursts for the slicer.
void fillBlock(int16_t* p, uint32_t frames, uint32_t seed, uint32_t block) {
  uint32_t noise = seed * 7919u + block * 104729u + 1u;
  const double w = 2 * 3.14159265358979323846 * (220.0 * (seed + 1)) / 44100.0;
  const double level = (block % 16) < 2 ? 0.7 : 0.2;
  for (uint32_t i = 0; i < frames; ++i) {
    noise = noise * 1664525u + 1013904223u;
    const double n = (static_cast<int32_t>(noise >> 16) - 32768) / 32768.0 * 0.05;
    const double s = level * std::sin(w * (double(block) * frames + i)) + n;
    p[2 * i] = static_cast<int16_t>(32767 * s);
    p[2 * i + 1] = static_cast<int16_t>(32767 * s * 0.8);
  }
}

// One family's life: init, a do per block (adding its output to the digest,
// false on a failed call), set calls half-way, an optional last word, term.
struct Family {
  std::function<DspEffect*()> init;
  std::function<bool(DspEffect*, uint32_t block, const int16_t* in, Digest&)> block;
  std::function<bool(DspEffect*&)> halfway;
  uint32_t (*term)(DspEffect*);
  std::function<bool(DspEffect*, Digest&)> end = nullptr;
};

using DoCall = uint32_t (*)(DspEffect*, const int16_t*, int16_t*, uint32_t);

// A family whose output has the input's length and whose do returns 1.
auto sameLength(DoCall process) {
  return [process](DspEffect* h, uint32_t, const int16_t* in, Digest& d) {
    int16_t out[kFrames * 2];
    const bool ok = process(h, in, out, kBytes) == 1;
    d.add(out, sizeof out);
    return ok;
  };
}

// A family that returns the bytes it wrote: at most what its dst call
// announces (null: 4 times the input, the largest stretch) and 0 only where allowed.
auto counted(DoCall process, uint32_t (*dst)(DspEffect*, uint32_t), bool mayBeEmpty) {
  return [=](DspEffect* h, uint32_t, const int16_t* in, Digest& d) {
    const uint32_t most = dst ? dst(h, kFrames) * 4 : 4 * kBytes;
    std::vector<int16_t> out(most / 2 + 8);
    const uint32_t n = process(h, in, out.data(), kBytes);
    d.add(out.data(), n);
    return (n > 0 || mayBeEmpty) && n <= most;
  };
}

struct Run {
  uint32_t seed_, blocks_;
  WorkloadResult result;

  float vary(float base, float step) const { return base + step * static_cast<float>(seed_ % 4); }
  bool expect(bool ok) {
    result.failures += ok ? 0 : 1;
    return ok;
  }
  void checkFinite(const float* v, size_t n) {
    for (size_t i = 0; i < n; ++i) result.nonFinite += std::isfinite(v[i]) ? 0 : 1;
  }

  // An analyser's block: the do returns want, every float is finite.
  template <size_t N>
  auto floats(uint32_t (*process)(DspEffect*, const int16_t*, float*, uint32_t), uint32_t want) {
    return [this, process, want](DspEffect* h, uint32_t, const int16_t* in, Digest& d) {
      float out[N];
      const bool ok = process(h, in, out, kBytes) == want;
      checkFinite(out, N);
      d.add(out, sizeof out);
      return ok;
    };
  }

  void run(const Family& f) {
    DspEffect* h = f.init();
    if (!expect(h != nullptr)) return;
    Digest d;
    int16_t in[kFrames * 2];
    for (uint32_t k = 0; k < blocks_; ++k) {
      if (k == blocks_ / 2 && f.halfway) expect(f.halfway(h));
      fillBlock(in, kFrames, seed_, k);
      expect(f.block(h, k, in, d));
    }
    if (f.end) expect(f.end(h, d));
    result.digests.push_back(d.value);
    expect(f.term(h) == 1);
  }

  // Effects at one rate, then a resampler, in a chain that is reformatted
  // half-way (a new block length and rate); PCM and float blocks alternate.
  void chain() {
    DspChain* c = dspCreate(kFrames, 2, kRate);
    if (!expect(c != nullptr)) return;
    const float gains[4] = {3, -3, 0, 2};
    const GraphicEqBand band = {1000, 3, 0.9f, 0.99f};
    DspEffect* members[] = {
        initShelvingEQ(kFrames, 2, kRate, 4, gains, 0),       initGraphicEQ(kFrames, 2, kRate, 1, &band, 0),
        initChorus(kFrames, 2, kRate, 2, 10, 3, 1, 30, 90),   initFader(kFrames, 2, kRate, 0, -3, 0),
        initPitchShift(kFrames, 2, kRate, 200, 0, 0.03f, 0.01f, 0, 1), initIirFilter(kFrames, 2, kRate, 2, 10000, 0),
        initResampler(kFrames, 2, 2, kRate, 48000, 1, 60, 60, 1)};
    // Orders interleave so that the sort, not the call order, decides.
    const uint32_t orders[] = {5, 1, 3, 2, 4, 0, 9};
    for (uint32_t i = 0; i < 7; ++i) expect(members[i] && dspAdd(c, members[i], orders[i]) == i + 1);
    Digest d;
    uint32_t frames = kFrames;
    std::vector<int16_t> in(4096), out(8192);
    std::vector<float> fin(4096), fout(8192);
    for (uint32_t k = 0; k < blocks_; ++k) {
      if (k == blocks_ / 2) {
        frames = 300;
        dspAdjust(c, frames, 2, 32000);
        expect(setChorusDepth(dspGetHandle(c, 3), 5) == 1);
      }
      fillBlock(in.data(), frames, 7, k);
      const uint32_t dst = dspGetDstSize(c, frames);
      expect(dst * 2 <= out.size());
      if (k % 2 == 0) {
        const uint32_t n = dspSend(c, in.data(), out.data(), frames * 4);
        expect(n == dst * 4);
        d.add(out.data(), n);
        continue;
      }
      for (uint32_t i = 0; i < frames * 2; ++i) fin[i] = in[i] / 32768.0f;
      const uint32_t n = dspSendFloat(c, fin.data(), fout.data(), frames);
      expect(n == dst);
      checkFinite(fout.data(), size_t{n} * 2);
      d.add(fout.data(), size_t{n} * 2 * sizeof(float));
    }
    result.digests.push_back(d.value);
    dspDestroy(c);
  }

  void waveFile(const std::string& path) {
    WavefileFormat format = {1, 2, kRate, kRate * 4, 4, 16, 0};
    WavefileOut* w = initWavefileOut(path.c_str(), &format);
    if (!expect(w != nullptr)) return;
    int16_t block[kFrames * 2];
    const uint32_t blocks = std::min<uint32_t>(blocks_, 64);
    for (uint32_t k = 0; k < blocks; ++k) {
      fillBlock(block, kFrames, seed_, k);
      expect(writeWavefileOut(w, block, kBytes) == kBytes);
    }
    expect(termWavefileOut(w) == blocks * kBytes);
    WavefileIn* rd = initWavefileIn(path.c_str(), kFrames);
    if (!expect(rd != nullptr)) return;
    Digest d;
    const WavefileInHeader* h = getHeaderWavefileIn(rd);
    int32_t n = 0;
    while ((n = readWavefileIn(rd, nullptr, kFrames)) > 0) d.add(h->buffer, static_cast<size_t>(n));
    expect(seekWavefileIn(rd, 0, 0) > 0);
    result.digests.push_back(d.value);
    termWavefileIn(rd);
    std::remove(path.c_str());
  }
};

WorkloadResult runWorkload(uint32_t seed, uint32_t blocks, const std::string& scratchFile) {
  Run r{seed, blocks, {}};
  std::vector<float> gains(16);
  for (size_t i = 0; i < gains.size(); ++i) gains[i] = r.vary(-6, 1) + static_cast<float>(i % 5);
  const GraphicEqBand bands[] = {
      {r.vary(100, 20), 6, 0.9f, 0.99f}, {1000, -6, 0.95f, 0.995f}, {5000, 3, 0, 0.98f}, {12000, 0, 0.97f, 0.97f}};

  const Family families[] = {
      {[&] { return initShelvingEQ(kFrames, 2, kRate, 16, gains.data(), -3); }, sameLength(doShelvingEQ),
       [](DspEffect*& h) { return setShelvingEQGain(h, 3, 9) + setShelvingEQOutputLevel(h, -1) == 2; },
       termShelvingEQ},
      {[&] { return initGraphicEQ(kFrames, 2, kRate, 4, bands, 0); }, sameLength(doGraphicEQ),
       [](DspEffect*& h) {
         return setGraphicEQGain(h, 1, 4) + setGraphicEQMasterGain(h, -2) + remakeGraphicEQBand(h, 2, 7000, 0.5f, 0.99f) == 3;
       },
       termGraphicEQ},
      // The IIR filter has no set calls: it is replaced half-way instead.
      {[&] { return initIirFilter(kFrames, 2, kRate, 4, r.vary(2000, 500), 0); }, sameLength(doIirFilter),
       [](DspEffect*& h) {
         const bool gone = termIirFilter(h) == 1;
         h = initIirFilter(kFrames, 2, kRate, 6, 800, 1);
         return gone && h;
       },
       termIirFilter},
      {[&] {
         DspEffect* h = initFader(kFrames, 2, kRate, 0.5f, -6, 0);
         r.expect(h && setFaderAction(h, 0, 0.01f, 0.5f, r.vary(-30, 5)) + setCrossFaderAction(h, 0.1f, 0.9f, -1) == 2);
         return h;
       },
       [](DspEffect* h, uint32_t k, const int16_t* in, Digest& d) {
         int16_t b[kFrames * 2], out[kFrames * 4];
         fillBlock(b, kFrames, 99, k);
         const bool ok = doFade(h, 0, in, out, kBytes) + doCrossFade(h, in, b, out + kFrames * 2, kBytes) == 2;
         d.add(out, sizeof out);
         return ok;
       },
       [](DspEffect*& h) {
         return setFaderAction(h, 1, 1.0f, 1.2f, -20) + setCrossFaderCurve(h, -2, -30, 0.1f, 0.7f) +
                    delCrossFaderAction(h, 1.1f, 1.15f) == 3;
       },
       termFader},
      {[&] { return initChorus(kFrames, 2, kRate, 3, r.vary(15, 2), 4, 1.5f, 40, 80); }, sameLength(doChorus),
       [](DspEffect*& h) {
         return setChorusDepth(h, 6) + setChorusSpeed(h, 0.7f) + setChorusMix(h, 1, 20) + setChorusDelaytime(h, 9) +
                    setChorusOrgMix(h, 60) == 5;
       },
       termChorus},
      {[&] { return initResampler(kFrames, 2, 2, kRate, 48000, static_cast<int32_t>(r.vary(0, 1)) % 2, 60, 60, 1); },
       counted(doResampler, getResamplerDstSize, false), nullptr, termResampler},
      {[&] { return initHqupsBySrcsize(kFrames, 2, 2, kRate, r.vary(0.3f, 0.05f), 30, 8000, 1, 60, 120, 1, 1); },
       counted(doHqups, getHqupsDstSize, false),
       [](DspEffect*& h) { return setHqupsHarmonics(h, -0.4f) + setHqupsMix(h, 60) + setHqupsActiveMode(h, 0) == 3; },
       termHqups},
      {[&] { return initStretch(kFrames, 2, kRate, r.vary(300, 100), -1, 0.03f, 0.01f); },
       counted(doStretch, nullptr, true),
       [](DspEffect*& h) { return setStretchScale(h, -500) + setStretchOutLevel(h, -3) == 2; }, termStretch},
      {[&] { return initPitchShift(kFrames, 2, kRate, r.vary(-300, 200), 0, 0.03f, 0.01f, 1, 1); },
       sameLength(doPitchShift),
       [](DspEffect*& h) { return setPitchShiftPitch(h, 500) + setPitchShiftOutLevel(h, -2) == 2; }, termPitchShift},
      {[] { return initWaveSlice(kFrames, 2, kRate, -30, -40, 10, 0.02f); },
       [](DspEffect* h, uint32_t, const int16_t* in, Digest&) { return doWaveSlice(h, in, kBytes) == 1; }, nullptr,
       termWaveSlice,
       [](DspEffect* h, Digest& d) {
         const uint32_t count = stopWaveSlice(h);
         d.add(&count, sizeof count);
         for (const SliceRecord* s = getWaveSlice(h, 0); s; s = s->next) {
           d.add(&s->start, sizeof s->start);
           d.add(&s->end, sizeof s->end);
         }
         return true;
       }},
      // The analysers write floats: two spectra, one sliding spectrum, two
      // envelopes.
      {[] { return initFft(kFrames, 2, 2, 120); }, r.floats<kFrames>(doFft, kFrames / 2), nullptr, termFft},
      {[] { return initFftAnalyze(kFrames, 2, 512, 1024); }, r.floats<512>(doFftAnalyze, 1), nullptr, termFftAnalyze},
      {[] { return initEnvAnalyze(kFrames, 2, kRate); }, r.floats<kFrames * 2>(doEnvAnalyze, 1), nullptr,
       termEnvAnalyze},
  };
  for (const Family& f : families) r.run(f);
  r.chain();
  r.waveFile(scratchFile);
  return r.result;
}

constexpr uint32_t kThreads = 4;
constexpr uint32_t kBlocks = 200;

std::string scratch(uint32_t seed) {
  return testing::TempDir() + "dspfx_concurrency_" + std::to_string(getpid()) + "_" + std::to_string(seed) + ".wav";
}

void setSwitches(int bits) {
  dspEnableMmx(bits & 1);
  dspEnable3dnow(bits & 2);
  dspEnableSse(bits & 4);
}

// Runs the workers while this thread allocates, grows and frees fastmem
// blocks and writes the switches: flip = false stores the scalar setting
// again and again (still a store to a race detector), true changes forms.
std::vector<WorkloadResult> runConcurrently(bool flip) {
  std::vector<WorkloadResult> results(kThreads);
  std::atomic<uint32_t> running{kThreads};
  std::vector<std::thread> workers;
  for (uint32_t t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      results[t] = runWorkload(t, kBlocks, scratch(t));
      running.fetch_sub(1, std::memory_order_release);
    });
  }
  std::vector<void*> blocks;
  for (uint32_t step = 0; running.load(std::memory_order_acquire) != 0; ++step) {
    const uint32_t size = 16 + (step * 2654435761u) % 20000;
    if (void* p = fastmemAlloc(size)) {
      std::memset(p, 0xA5, size);
      blocks.push_back(p);
    }
    if (blocks.size() > 32) {
      void* grown = fastmemRealloc(blocks.front(), size + 100);
      EXPECT_NE(grown, nullptr);
      EXPECT_EQ(fastmemFree(grown ? grown : blocks.front()), 1u);
      blocks.erase(blocks.begin());
    }
    EXPECT_GT(fastmemGetAllocatedSize(), 0u);
    setSwitches(flip ? static_cast<int>(step & 7) : 0);
    std::this_thread::yield();
  }
  for (auto& w : workers) w.join();
  for (void* p : blocks) EXPECT_EQ(fastmemFree(p), 1u);
  setSwitches(0);
  return results;
}

TEST(Concurrency, FourHostsGiveTheirSingleThreadedResults) {
  setSwitches(0);
  const uint32_t before = fastmemGetAllocatedSize();
  std::vector<WorkloadResult> reference;
  for (uint32_t t = 0; t < kThreads; ++t) {
    reference.push_back(runWorkload(t, kBlocks, scratch(t)));
    ASSERT_EQ(reference[t].failures, 0u) << "seed " << t;
    ASSERT_EQ(reference[t].nonFinite, 0u) << "seed " << t;
  }
  EXPECT_NE(reference[0].digests, reference[1].digests) << "different seeds must do different work";

  // The SIMD forms may round differently: the switches stay scalar here.
  const std::vector<WorkloadResult> concurrent = runConcurrently(false);
  for (uint32_t t = 0; t < kThreads; ++t) {
    EXPECT_EQ(concurrent[t].failures, 0u) << "thread " << t;
    EXPECT_EQ(concurrent[t].digests, reference[t].digests) << "thread " << t << " differs from one thread alone";
  }
  EXPECT_EQ(fastmemGetAllocatedSize(), before);
}

TEST(Concurrency, SwitchesFlippedMidRunLeaveEveryOutputFinite) {
  for (const WorkloadResult& r : runConcurrently(true)) {
    EXPECT_EQ(r.failures, 0u);
    EXPECT_EQ(r.nonFinite, 0u);
  }
}

// A control thread changes the pitch or the stretch scale (and the level) as
// fast as it can while the audio thread runs blocks whose two channels are
// the same: a change that reached one channel a block before the other would
// show as a difference between them.
TEST(Concurrency, ParameterChangesReachBothChannelsInTheSameBlock) {
  constexpr uint32_t frames = 2048;
  std::vector<int16_t> in(frames * 2);
  fillBlock(in.data(), frames, 3, 0);
  for (uint32_t i = 0; i < frames; ++i) in[2 * i + 1] = in[2 * i];
  struct Case {
    const char* name;
    DspEffect* h;
    uint32_t (*set)(DspEffect*, float);
    uint32_t (*level)(DspEffect*, float);
    float low, high;
    uint32_t (*term)(DspEffect*);
    uint32_t (*setMode)(DspEffect*, uint32_t);
    uint32_t mode;
  };
  // Both grain engines: the aligned one takes its changes by another path.
  const Case cases[] = {
      {"pitch", initPitchShift(frames, 2, kRate, 300, -1, 0.03f, 0.01f, 1, 1), setPitchShiftPitch,
       setPitchShiftOutLevel, -1200, 1200, termPitchShift, setPitchShiftMode, 0},
      {"stretch", initStretch(frames, 2, kRate, 300, -1, 0.03f, 0.01f), setStretchScale, setStretchOutLevel, -1000,
       1000, termStretch, setStretchMode, 0},
      {"aligned pitch", initPitchShift(frames, 2, kRate, 300, -1, 0.03f, 0.01f, 1, 1), setPitchShiftPitch,
       setPitchShiftOutLevel, -1200, 1200, termPitchShift, setPitchShiftMode, 1},
      {"aligned stretch", initStretch(frames, 2, kRate, 300, -1, 0.03f, 0.01f), setStretchScale,
       setStretchOutLevel, -1000, 1000, termStretch, setStretchMode, 1},
  };
  for (const Case& c : cases) {
    ASSERT_NE(c.h, nullptr) << c.name;
    ASSERT_EQ(c.setMode(c.h, c.mode), 1u) << c.name;
    std::atomic<bool> done{false};
    std::atomic<uint32_t> sets{0}, failures{0};
    std::thread control([&] {
      for (uint32_t k = 0; !done.load(std::memory_order_acquire); ++k) {
        const float t = static_cast<float>((k * 2654435761u) % 1000) / 999.0f;
        if (c.set(c.h, c.low + t * (c.high - c.low)) != 1) failures.fetch_add(1);
        if (k % 3 == 0 && c.level(c.h, -3.0f * t) != 1) failures.fetch_add(1);
        sets.fetch_add(1, std::memory_order_relaxed);
      }
    });
    // A stretch block of 2048 frames comes out at most twice as long.
    std::vector<int16_t> out(frames * 4 + 64);
    uint32_t mismatched = 0;
    while (sets.load() == 0) std::this_thread::yield();
    // At least 150 blocks and 2000 changes, whichever takes longer.
    for (int block = 0; block < 150 || (sets.load() < 2000 && block < 100000); ++block) {
      const uint32_t bytes = c.set == setStretchScale ? doStretch(c.h, in.data(), out.data(), frames * 4)
                                                       : 4 * frames * doPitchShift(c.h, in.data(), out.data(), frames * 4);
      if (bytes == 0) failures.fetch_add(1);
      for (uint32_t i = 0; i < bytes / 2; i += 2) mismatched += out[i] != out[i + 1];
    }
    done.store(true, std::memory_order_release);
    control.join();
    EXPECT_EQ(mismatched, 0u) << c.name << ": frames whose channels differ";
    EXPECT_EQ(failures.load(), 0u) << c.name;
    EXPECT_EQ(c.term(c.h), 1u);
  }
}

}  // namespace

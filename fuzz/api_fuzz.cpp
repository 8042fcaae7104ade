// libFuzzer target: the input drives a small interpreter over the whole C
// API. Each step reads an opcode and its arguments from the input: create an
// effect of any family with parameters from anywhere in their type's range,
// run blocks of any length through it, call its set and get exports, destroy
// it, hand it (or a destroyed, foreign or null handle) to other families'
// exports, build chains and reformat them, allocate from fastmem, flip the
// processor switches, write and read wave files. At the end everything still
// alive is destroyed and the allocation tracker must be back where it was.
//
// The sanitizers catch bad memory use; require() traps when a call breaks
// its documented contract (a wrong-family handle accepted, a result larger
// than the buffer the host sized by the library's own size query, a leak).
//
// Sizes are capped so that one input cannot make the process allocate
// gigabytes: capacities above 65536 frames are tried with blocks of at most
// 4096 frames, and capacities that would need more than max_allocation_size
// (below) make the allocation fail, which exercises the out-of-memory paths.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "dspfx/dspfx.h"

// Allocations above 64 MB come back null instead of aborting, so the
// library's refusals of huge sizes are tested rather than the machine's RAM.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=64";
}

namespace {

void require(bool ok) {
  if (!ok) __builtin_trap();
}

// DSPFX_FUZZ_TRACE=1 prints every step, for turning a crash into a test.
const bool kTrace = std::getenv("DSPFX_FUZZ_TRACE") != nullptr;
#define TRACE(...) \
  do { \
    if (kTrace) std::fprintf(stderr, __VA_ARGS__); \
  } while (0)

// Reads the input front to back; past its end every value is 0, so any
// prefix of an interesting input is itself a valid program.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  bool done() const { return p_ >= end_; }
  uint8_t u8() { return p_ < end_ ? *p_++ : 0; }
  uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
  uint32_t u32() { return u16() | (static_cast<uint32_t>(u16()) << 16); }
  uint32_t below(uint32_t n) { return n <= 1 ? 0 : (n <= 256 ? u8() % n : (n <= 65536 ? u16() % n : u32() % n)); }
  bool flag() { return (u8() & 1) != 0; }
  size_t remaining() const { return static_cast<size_t>(end_ - p_); }
  const uint8_t* take(size_t n) {
    const uint8_t* q = p_;
    p_ += std::min(n, remaining());
    return q;
  }

  // Mostly inside [lo, hi]; otherwise one of the values that break naive
  // code, or any bit pattern at all.
  float real(float lo, float hi) {
    const uint8_t mode = u8();
    if (mode < 160) return lo + (hi - lo) * (u16() / 65535.0f);
    if (mode < 240) return special(u8());
    float f;
    const uint32_t bits = u32();
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
  static float special(uint8_t i) {
    static const float values[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 1e-3f, -1e-3f, 1e-30f,
                                   1e-45f, 1e30f, -1e30f, 3.0e38f, -3.0e38f, 65536.0f,
                                   4294967296.0f, -4294967296.0f, 1e9f, -1e9f, 100.0f, -100.0f,
                                   std::numeric_limits<float>::infinity(),
                                   -std::numeric_limits<float>::infinity(),
                                   std::numeric_limits<float>::quiet_NaN(),
                                   -std::numeric_limits<float>::quiet_NaN()};
    return values[i % (sizeof values / sizeof values[0])];
  }
  // Mostly inside [lo, hi]; otherwise 0, boundaries or any 32-bit value.
  uint32_t count(uint32_t lo, uint32_t hi) {
    const uint8_t mode = u8();
    if (mode < 170) return lo + below(hi - lo + 1);
    static const uint32_t edges[] = {0, 1, 2, 3, 4, 7, 66, 67, 4095, 4096, 65535, 65536,
                                     0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFEu};
    if (mode < 240) return edges[u8() % (sizeof edges / sizeof edges[0])];
    return u32();
  }
  uint32_t rate() {
    static const uint32_t rates[] = {8000, 11025, 22050, 32000, 44100, 48000, 96000, 192000};
    const uint8_t mode = u8();
    if (mode < 200) return rates[mode % 8];
    return count(0, 400000);
  }
  uint32_t channels() {
    const uint8_t mode = u8();
    if (mode < 240) return 1 + (mode & 1);
    static const uint32_t odd[] = {0, 3, 8, 0xFFFFFFFFu, 0x80000002u};
    return odd[mode % 5];
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

// Capacities: mostly usable, sometimes large (then only tiny blocks), and
// sometimes beyond anything that can be allocated (the init must refuse).
uint32_t capacity(Input& in, bool& large) {
  const uint8_t mode = in.u8();
  large = false;
  if (mode < 8) return 0;
  if (mode < 200) return 1 + in.below(4096);
  if (mode < 225) return 4097 + in.below(65536 - 4096);
  large = true;
  if (mode < 245) return 65537 + in.below((1u << 20) - 65536);
  static const uint32_t huge[] = {0x0FFFFFFFu, 0x10000001u, 0x1FFFFFFFu, 0x20000000u, 0x3FFFFFFFu,
                                  0x40000000u, 0x40000001u, 0x7FFFFFFFu, 0x80000000u, 0xAAAAAAABu,
                                  0xFFFFFFF0u, 0xFFFFFFFFu};
  return huge[in.u8() % (sizeof huge / sizeof huge[0])];
}

enum Family : uint8_t {
  kShelving, kGraphic, kIir, kFader, kResampler, kHqups, kStretch,
  kPitch, kChorus, kSlice, kFft, kFftAnalyze, kEnv, kFamilyCount
};

bool isAnalyser(Family f) { return f == kFft || f == kFftAnalyze || f == kEnv; }

struct Fx {
  DspEffect* h = nullptr;
  Family fam = kShelving;
  uint32_t cap = 0;      // frames per block as created
  uint32_t ch = 1;       // 2 = stereo
  uint32_t outCh = 1;    // resampler and hqups
  uint32_t items = 0;    // bands, voices
  uint32_t spectra = 1;  // fft: spectra per call
  uint32_t fftSize = 0;
  bool large = false;
  // Granular effects cost grain/hop operations per frame by design; blocks
  // for such objects are kept short so one input cannot run for minutes.
  uint32_t maxBlock = 0xFFFFFFFFu;
  int chain = -1;        // index of the owning chain, -1 for the host
  double stretchRatio = 1.0;  // ratio in force for the next doStretch
};

struct Chain {
  DspChain* h = nullptr;
  uint32_t frames = 0, ch = 1, rate = 0;
};

struct Reader {
  WavefileIn* h = nullptr;
  std::vector<uint8_t> lent;
  uint32_t ownBytes = 0;   // size of the reader's own buffer
  uint32_t lentBytes = 0;  // bytes of the read that lent `lent`
  bool usingLent = false;
};

std::string scratchDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/dspfx-api-XXXXXX";
  require(mkdtemp(pattern.data()) != nullptr);
  return pattern;
}

struct Scratch {
  Scratch() : dir(scratchDir()) {
    for (int i = 0; i < 2; ++i) files[i] = dir + "/f" + std::to_string(i) + ".wav";
  }
  ~Scratch() {
    for (auto& f : files) std::remove(f.c_str());
    rmdir(dir.c_str());
  }
  std::string dir;
  std::string files[2];
};

Scratch& scratch() {
  static Scratch s;
  return s;
}

volatile uint32_t observed = 0;

// Under DSPFX_FUZZ_TRACE, steps slower than 50 ms are reported.
struct StepTimer {
  explicit StepTimer(uint8_t op) : op(op), t0(kTrace ? std::clock() : 0) {}
  ~StepTimer() {
    if (!kTrace) return;
    const double ms = 1000.0 * double(std::clock() - t0) / CLOCKS_PER_SEC;
    if (ms > 50) std::fprintf(stderr, "  slow step op=%u: %.0f ms\n", op, ms);
  }
  uint8_t op;
  std::clock_t t0;
};

class Interpreter {
 public:
  explicit Interpreter(Input& in) : in_(in) {}

  void run() {
    const uint32_t start = fastmemGetAllocatedSize();
    // Every run starts from the same state: no file left by an earlier one.
    for (const std::string& f : scratch().files) std::remove(f.c_str());
    for (int step = 0; step < 256 && !in_.done(); ++step) {
      const uint8_t op = in_.u8() % 20;
      StepTimer timer(op);
      switch (op) {
        case 0: case 1: create(); break;
        case 2: case 3: case 4: block(); break;
        case 5: case 6: setGet(); break;
        case 7: terminate(); break;
        case 8: misuse(); break;
        case 9: chainCreate(); break;
        case 10: chainAdd(); break;
        case 11: chainAdjust(); break;
        case 12: case 13: chainSend(); break;
        case 14: chainClearOrDestroy(); break;
        case 15: fastmem(); break;
        case 16: switches(); break;
        case 17: encode(); break;
        case 18: wavefileWrite(); break;
        case 19: wavefileRead(); break;
      }
    }
    teardown();
    require(fastmemGetAllocatedSize() == start);
    dspEnableMmx(0);
    dspEnable3dnow(0);
    dspEnableSse(0);
  }

 private:
  // ---------------------------------------------------------------- PCM
  void fillPcm(int16_t* p, size_t n) {
    const uint8_t kind = in_.u8() % 6;
    switch (kind) {
      case 0: std::fill(p, p + n, 0); break;
      case 1: {  // from the input, repeated
        const size_t avail = std::min<size_t>(in_.remaining() / 2, 512);
        const uint8_t* src = in_.take(avail * 2);
        for (size_t i = 0; i < n; ++i) {
          p[i] = avail ? static_cast<int16_t>(src[(i % avail) * 2] | (src[(i % avail) * 2 + 1] << 8)) : 0;
        }
        break;
      }
      case 2: {  // full-scale square
        const uint32_t period = 1 + in_.u8();
        for (size_t i = 0; i < n; ++i) p[i] = (i / period) & 1 ? -32768 : 32767;
        break;
      }
      case 3: {  // sine
        const double w = 0.001 + in_.u8() / 80.0;
        for (size_t i = 0; i < n; ++i) p[i] = static_cast<int16_t>(30000 * std::sin(w * i));
        break;
      }
      case 4: {  // noise
        uint32_t s = in_.u32() | 1;
        for (size_t i = 0; i < n; ++i) {
          s ^= s << 13; s ^= s >> 17; s ^= s << 5;
          p[i] = static_cast<int16_t>(s);
        }
        break;
      }
      default: std::fill(p, p + n, static_cast<int16_t>(in_.u16())); break;
    }
  }

  // Bytes for a block for an object taking blocks of up to cap frames of
  // frameBytes bytes: 0, odd, inside, exactly at and above capacity.
  uint32_t blockBytes(uint32_t cap, uint32_t frameBytes, bool large, uint32_t maxBlock) {
    const uint32_t limit = std::min<uint32_t>({cap, large ? 4096u : 8192u, maxBlock});
    const uint8_t mode = in_.u8();
    if (mode < 16) return 0;
    if (mode < 32) return 1 + 2 * in_.below(8);  // odd byte counts
    if (mode < 48 && !large && cap < 65536) return (cap + 1 + in_.below(16)) * frameBytes;
    if (mode < 64) return limit * frameBytes;
    return (1 + in_.below(std::max<uint32_t>(limit, 1))) * frameBytes + (mode & 1);
  }

  static uint32_t frameBytesOf(uint32_t ch) { return ch == 2 ? 4u : 2u; }

  // ------------------------------------------------------------ effects
  Fx* pickEffect() {
    if (fx_.empty()) return nullptr;
    return &fx_[in_.below(static_cast<uint32_t>(fx_.size()))];
  }

  void create() {
    if (fx_.size() >= 12) return;
    Fx f;
    f.fam = static_cast<Family>(in_.u8() % kFamilyCount);
    f.cap = capacity(in_, f.large);
    f.ch = in_.channels();
    const uint32_t rate = in_.rate();
    switch (f.fam) {
      case kShelving: {
        // Mostly short filters: 8192 bands make a 16383-tap filter.
        const uint8_t shape = in_.u8();
        const uint32_t n = shape < 200 ? 1u << in_.below(7) : (shape < 230 ? 1u << in_.below(14) : in_.count(1, 8192));
        std::vector<float> gains(std::min<uint32_t>(n, 16384));
        for (auto& g : gains) g = in_.real(-30, 30);
        f.items = n;
        f.h = initShelvingEQ(f.cap, f.ch, rate, n, in_.u8() < 8 ? nullptr : gains.data(), in_.real(-30, 30));
        break;
      }
      case kGraphic: {
        const uint32_t n = in_.below(12);
        std::vector<GraphicEqBand> bands(n);
        for (auto& b : bands) {
          b.frequency = in_.real(20, 20000);
          b.gainDb = in_.real(-20, 20);
          b.zeroRadius = in_.real(0, 1);
          b.poleRadius = in_.real(0, 1);
        }
        f.items = n;
        f.h = initGraphicEQ(f.cap, f.ch, rate, n, n && in_.u8() < 8 ? nullptr : bands.data(), in_.real(-20, 20));
        break;
      }
      case kIir:
        f.h = initIirFilter(f.cap, f.ch, rate, static_cast<int32_t>(in_.count(1, 64) - (in_.u8() < 8 ? 70u : 0u)),
                            in_.real(10, 30000), static_cast<int32_t>(in_.u8() % 3));
        break;
      case kFader:
        f.h = initFader(f.cap, f.ch, rate, in_.real(-1, 1), in_.real(-50, 50), in_.real(-50, 50));
        break;
      case kResampler:
      {
        f.outCh = in_.channels();
        const uint32_t dstRate = in_.rate();
        const int32_t interp = static_cast<int32_t>(in_.u8() % 3) - 1;
        const float stop = in_.real(0, 120), slope = in_.real(0, 200);
        f.h = initResampler(f.cap, f.ch, f.outCh, rate, dstRate, interp, stop, slope, in_.u8());
        TRACE("  resampler dstRate=%u interp=%d stop=%g slope=%g\n", dstRate, interp, stop, slope);
        break;
      }
      case kHqups: {
        f.outCh = in_.channels();
        const bool byDst = in_.flag();
        const uint32_t hp = in_.count(1, 23999);
        const float harmonics = in_.real(-0.7f, 0.7f), mix = in_.real(0, 100);
        const int32_t interp = in_.u8() % 2;
        const float stop = in_.real(0, 120), slope = in_.real(0, 200);
        const int32_t mode = in_.u8() % 3;
        const uint8_t aa = in_.u8();
        f.h = byDst ? initHqups(f.cap, f.ch, f.outCh, rate, harmonics, mix, hp, interp, stop, slope, mode, aa)
                    : initHqupsBySrcsize(f.cap, f.ch, f.outCh, rate, harmonics, mix, hp, interp, stop, slope,
                                         mode, aa);
        TRACE("  hqups byDst=%d hp=%u harm=%g mix=%g interp=%d stop=%g slope=%g mode=%d aa=%u\n", byDst, hp,
              harmonics, mix, interp, stop, slope, mode, aa);
        if (f.h) {
          // The input capacity is what the host learns from the size query.
          if (byDst) f.cap = getHqupsSrcSize(f.h, f.cap);
        }
        break;
      }
      case kStretch: {
        const float scale = in_.real(-2500, 3500), level = in_.real(-20, 20), grain = in_.real(0.001f, 0.2f),
                    hop = in_.real(0.001f, 0.1f);
        f.h = initStretch(f.cap, f.ch, rate, scale, level, grain, hop);
        f.maxBlock = grainBlockLimit(grain, hop);
        TRACE("  stretch scale=%.9g level=%.9g grain=%.9g hop=%.9g\n", scale, level, grain, hop);
        if (f.h) f.stretchRatio = getStretchDstSize(f.h, 1u << 20) / double(1u << 20);
        break;
      }
      case kPitch: {
        const float pitch = in_.real(-1500, 1500), level = in_.real(-20, 20), grain = in_.real(0.001f, 0.2f),
                    hop = in_.real(0.001f, 0.1f);
        const uint32_t interp = in_.u8() % 3, aa = in_.u32();
        f.h = initPitchShift(f.cap, f.ch, rate, pitch, level, grain, hop, interp, aa);
        f.maxBlock = grainBlockLimit(grain, hop);
        TRACE("  pitch shift pitch=%.9g level=%.9g grain=%.9g hop=%.9g interp=%u aa=%u\n", pitch, level, grain, hop,
              interp, aa);
        break;
      }
      case kChorus:
        f.items = in_.count(0, 64);
        f.h = initChorus(f.cap, f.ch, rate, f.items, in_.real(0, 50), in_.real(0, 20), in_.real(0, 5),
                         in_.real(0, 100), in_.real(0, 100));
        break;
      case kSlice:
        f.h = initWaveSlice(f.cap, f.ch, rate, in_.real(-80, 0), in_.real(-80, 0), in_.real(0, 100),
                            in_.real(0, 1));
        break;
      case kFft:
        f.spectra = in_.u8() % 4;
        f.h = initFft(f.cap, f.ch, f.spectra, in_.count(0, 200));
        f.spectra = f.spectra == 2 ? 2 : 1;
        break;
      case kFftAnalyze:
        f.fftSize = in_.flag() ? 1u << in_.below(17) : in_.count(0, 40000);
        f.h = initFftAnalyze(f.cap, f.ch, f.fftSize, in_.flag() ? std::max(f.fftSize, f.cap) + in_.below(5000)
                                                                : in_.count(0, 70000));
        break;
      case kEnv:
        f.h = initEnvAnalyze(f.cap, f.ch, rate);
        break;
      default:
        break;
    }
    TRACE("create fam=%d cap=%u ch=%u rate=%u -> %p (items=%u outCh=%u)\n", f.fam, f.cap, f.ch, rate,
          static_cast<void*>(f.h), f.items, f.outCh);
    if (!f.h) return;
    // A live handle must not be one the library still counts as destroyed.
    dead_.erase(std::remove(dead_.begin(), dead_.end(), static_cast<void*>(f.h)), dead_.end());
    fx_.push_back(f);
  }

  static uint32_t grainBlockLimit(float grainTime, float hopTime) {
    const double overlap = 1.533 * double(grainTime) / double(hopTime);
    if (!(overlap > 256)) return 0xFFFFFFFFu;  // NaN and ordinary grains
    return static_cast<uint32_t>(std::clamp((1 << 20) / overlap, 1.0, 4096.0));
  }

  // Output frames a host must provide for a block of frames, from the
  // library's own size queries. Inside a chain the object's format is the
  // chain's, which the host does not see: bound it for any channel count
  // and for the largest stretch ratio (2^2).
  uint32_t outFrames(Fx& f, uint32_t frames, bool owned) {
    switch (f.fam) {
      case kResampler: return getResamplerDstSize(f.h, frames) + (owned ? 1 : 0);
      case kHqups: return getHqupsDstSize(f.h, frames) + (owned ? 1 : 0);
      case kStretch: {
        if (owned) return frames * 4 + 1;
        const double now = getStretchDstSize(f.h, 1u << 20) / double(1u << 20);
        return static_cast<uint32_t>(frames * std::max(now, f.stretchRatio)) + 1;
      }
      default: return frames;
    }
  }

  void block() {
    Fx* f = pickEffect();
    if (!f) return;
    const bool owned = f->chain >= 0;
    const uint32_t ch = owned ? 2 : f->ch;
    const uint32_t outCh = owned ? 2 : ((f->fam == kResampler || f->fam == kHqups) ? f->outCh : f->ch);
    const uint32_t fb = frameBytesOf(ch);
    const uint32_t bytes = blockBytes(f->cap, fb, f->large || owned, f->maxBlock);
    // The most frames the block can hold in whatever format the object has.
    const uint32_t frames = owned ? bytes / 2 : bytes / fb;
    std::vector<int16_t> input((bytes + 1) / 2 + 1);
    fillPcm(input.data(), input.size());
    const bool over = !owned && frames > f->cap;
    const bool nullIn = in_.u8() < 6;
    const int16_t* src = nullIn ? nullptr : input.data();
    uint32_t r = 0;
    switch (f->fam) {
      case kFft: case kFftAnalyze: {
        if (owned) return;
        const uint32_t bins = f->fam == kFft ? f->cap / 2 : f->fftSize / 2;
        std::vector<float> out(size_t{bins} * (f->fam == kFft ? f->spectra : (f->ch == 2 ? 2 : 1)));
        float* dst = out.empty() || in_.u8() < 6 ? nullptr : out.data();
        r = f->fam == kFft ? doFft(f->h, src, dst, bytes) : doFftAnalyze(f->h, src, dst, bytes);
        if (over || !dst || (nullIn && bytes)) require(r == 0);
        if (r) for (float v : out) require(!std::isnan(v));
        return;
      }
      case kEnv: {
        std::vector<float> out(size_t{frames} * (owned || ch == 2 ? 2 : 1));
        r = doEnvAnalyze(f->h, src, in_.flag() ? out.data() : nullptr, bytes);
        if (over || (nullIn && bytes)) require(r == 0);
        return;
      }
      case kSlice:
        r = doWaveSlice(f->h, src, bytes);
        if (over || (nullIn && bytes)) require(r == 0);
        return;
      default: break;
    }
    const uint32_t dstFrames = outFrames(*f, frames, owned);
    if (dstFrames > (1u << 20) || !spend(dstFrames)) return;
    const size_t outBytes = size_t{dstFrames} * frameBytesOf(outCh);
    // Exactly as large as the host was told, so a write past it is caught.
    std::vector<int16_t> out(outBytes / 2);
    const bool inPlace = !nullIn && in_.u8() < 64 && out.size() <= input.size();
    int16_t* dst = inPlace ? input.data() : out.data();
    if (bytes && out.empty() && !inPlace) dst = nullptr;
    TRACE("block %p fam=%d: %u bytes, out %zu bytes%s\n", static_cast<void*>(f->h), f->fam, bytes, outBytes,
          inPlace ? " in place" : "");
    switch (f->fam) {
      case kShelving: r = doShelvingEQ(f->h, src, dst, bytes); break;
      case kGraphic: r = doGraphicEQ(f->h, src, dst, bytes); break;
      case kIir: r = doIirFilter(f->h, src, dst, bytes); break;
      case kFader: {
        const uint8_t which = in_.u8() % 4;
        if (which < 3) {
          const int32_t index = static_cast<int32_t>(which) - (which == 2 ? 3 : 0);
          r = doFade(f->h, index, src, dst, bytes);
          if (index < 0) require(r == 0);
        } else {
          std::vector<int16_t> other(input.size());
          fillPcm(other.data(), other.size());
          r = doCrossFade(f->h, src, in_.u8() < 6 ? nullptr : other.data(), dst, bytes);
        }
        break;
      }
      case kResampler: r = doResampler(f->h, src, dst, bytes); break;
      case kHqups: r = doHqups(f->h, src, dst, bytes); break;
      case kStretch: {
        const double now = getStretchDstSize(f->h, 1u << 20) / double(1u << 20);
        TRACE("  stretch ratio now %.9g, at the last block %.9g\n", now, f->stretchRatio);
        r = doStretch(f->h, src, dst, bytes);
        // Only a block the call accepted moves the scale along; refused
        // calls (no frames, a missing buffer, above capacity) do not.
        if (frames > 0 && !over && src && dst) f->stretchRatio = now;
        break;
      }
      case kPitch: r = doPitchShift(f->h, src, dst, bytes); break;
      case kChorus: r = doChorus(f->h, src, dst, bytes); break;
      default: break;
    }
    TRACE("  -> %u (owned=%d)\n", r, owned);
    if (over || (nullIn && bytes) || (!dst && bytes)) require(r == 0);
    if (f->fam == kResampler || f->fam == kHqups || f->fam == kStretch) require(r <= outBytes);
  }

  void setGet() {
    Fx* f = pickEffect();
    if (!f) return;
    DspEffect* h = f->h;
    const uint8_t op = in_.u8();
    switch (f->fam) {
      case kShelving:
        if (op & 1) {
          const int32_t band = static_cast<int32_t>(in_.count(0, f->items + 1));
          const uint32_t r = setShelvingEQGain(h, band, in_.real(-30, 30));
          require(r == (band >= 0 && static_cast<uint32_t>(band) < f->items ? 1u : 0u));
        } else {
          require(setShelvingEQOutputLevel(h, in_.real(-30, 30)) == 1);
        }
        break;
      case kGraphic:
        if (op % 3 == 0) {
          const uint32_t band = in_.count(0, f->items);
          require(setGraphicEQGain(h, band, in_.real(-20, 20)) == (band < f->items ? 1u : 0u));
        } else if (op % 3 == 1) {
          require(setGraphicEQMasterGain(h, in_.real(-20, 20)) == 1);
        } else {
          const uint32_t band = in_.count(0, f->items);
          const uint32_t r = remakeGraphicEQBand(h, band, in_.real(20, 20000), in_.real(0, 1), in_.real(0, 1));
          if (band >= f->items) require(r == 0);
        }
        break;
      case kFader: {
        const int32_t index = static_cast<int32_t>(in_.u8() % 4) - 1;
        const bool badIndex = index != 0 && index != 1;
        const float a = in_.real(0, 2), b = in_.real(0, 2);
        uint32_t r = 0;
        switch (op % 5) {
          case 0: r = setFaderAction(h, index, a, b, in_.real(-50, 50)); break;
          case 1: r = delFaderAction(h, index, a, b); break;
          case 2: r = setCrossFaderAction(h, a, b, in_.real(-1.5f, 1.5f)); return;
          case 3: r = delCrossFaderAction(h, a, b); return;
          default:
            setCrossFaderCurve(h, in_.real(-50, 50), in_.real(-50, 50), in_.real(0, 1), in_.real(0, 1));
            return;
        }
        if (badIndex) require(r == 0);
        break;
      }
      case kResampler:
        if (op % 2 == 0) {
          observed = getResamplerDstSize(h, in_.count(0, 100000));
        } else {
          const uint32_t q = in_.u8() % 4;
          const uint32_t r = setResamplerQuality(h, q);
          if (q == 3) require(r == 0);
        }
        break;
      case kHqups:
        switch (op % 6) {
          case 5: {
            const uint32_t q = in_.u8() % 4;
            const uint32_t r = setHqupsQuality(h, q);
            if (q == 3) require(r == 0);
            break;
          }
          case 0: require(setHqupsHarmonics(h, in_.real(-0.7f, 0.7f)) == 1); break;
          case 1: require(setHqupsMix(h, in_.real(0, 100)) == 1); break;
          case 2: require(setHqupsActiveMode(h, static_cast<int32_t>(in_.u8() % 3)) == 1); break;
          case 3: observed = getHqupsDstSize(h, in_.u32()); break;
          default: observed = getHqupsSrcSize(h, in_.u32()); break;
        }
        break;
      case kStretch:
        switch (op % 3) {
          case 0: {
            const float scale = in_.real(-2500, 3500);
            TRACE("set stretch %p scale=%.9g\n", static_cast<void*>(h), scale);
            require(setStretchScale(h, scale) == 1);
            break;
          }
          case 1: require(setStretchOutLevel(h, in_.real(-20, 20)) == 1); break;
          default: observed = getStretchDstSize(h, in_.u32()); break;
        }
        break;
      case kPitch:
        if (op & 1) require(setPitchShiftPitch(h, in_.real(-1500, 1500)) == 1);
        else require(setPitchShiftOutLevel(h, in_.real(-20, 20)) == 1);
        break;
      case kChorus:
        switch (op % 5) {
          case 0: require(setChorusOrgMix(h, in_.real(0, 100)) == 1); break;
          case 1: {
            const int32_t v = static_cast<int32_t>(in_.count(0, f->items + 1) - (in_.u8() < 16 ? 3u : 0u));
            require(setChorusMix(h, v, in_.real(0, 100)) == (v >= 0 && static_cast<uint32_t>(v) < f->items ? 1u : 0u));
            break;
          }
          case 2: require(setChorusSpeed(h, in_.real(0, 5)) == 1); break;
          case 3: require(setChorusDepth(h, in_.real(0, 20)) == 1); break;
          default: require(setChorusDelaytime(h, in_.real(0, 50)) == 1); break;
        }
        break;
      case kSlice: {
        const uint32_t n = stopWaveSlice(h);
        const SliceRecord* s = getWaveSlice(h, in_.count(0, n + 1));
        require((s == nullptr) == (n == 0));
        // Walk the whole list both ways: links must agree.
        if (s) {
          while (s->prev) s = s->prev;
          uint32_t seen = 0;
          for (const SliceRecord* p = s; p; p = p->next) {
            require(!p->next || p->next->prev == p);
            ++seen;
            require(seen <= n);
          }
          require(seen == n);
        }
        break;
      }
      default: break;  // iir and analysers have no set calls
    }
  }

  static uint32_t termOf(Family fam, DspEffect* h) {
    switch (fam) {
      case kShelving: return termShelvingEQ(h);
      case kGraphic: return termGraphicEQ(h);
      case kIir: return termIirFilter(h);
      case kFader: return termFader(h);
      case kResampler: return termResampler(h);
      case kHqups: return termHqups(h);
      case kStretch: return termStretch(h);
      case kPitch: return termPitchShift(h);
      case kChorus: return termChorus(h);
      case kSlice: return termWaveSlice(h);
      case kFft: return termFft(h);
      case kFftAnalyze: return termFftAnalyze(h);
      default: return termEnvAnalyze(h);
    }
  }

  void terminate() {
    if (fx_.empty()) return;
    const size_t i = in_.below(static_cast<uint32_t>(fx_.size()));
    Fx f = fx_[i];
    if (f.chain >= 0) {
      // The chain owns it: the host's term call must refuse.
      require(termOf(f.fam, f.h) == 0);
      return;
    }
    require(termOf(f.fam, f.h) == 1);
    require(termOf(f.fam, f.h) == 0);
    fx_.erase(fx_.begin() + static_cast<std::ptrdiff_t>(i));
    dead_.push_back(f.h);
  }

  bool isLive(const void* p) const {
    for (const Fx& f : fx_) if (f.h == p) return true;
    for (const Chain& c : chains_) if (c.h == p) return true;
    for (const Reader& r : readers_) if (r.h == p) return true;
    for (WavefileOut* w : writers_) if (w == p) return true;
    return false;
  }

  // Every family's exports, called with a handle that is not one of its
  // own. Each must fail and touch nothing.
  void misuse() {
    alignas(16) static uint8_t foreign[64];
    void* h = nullptr;
    bool expectFail = true;
    Family sameFam = kFamilyCount;  // family of h when it is a live effect
    switch (in_.u8() % 6) {
      case 0: h = nullptr; break;
      case 1:
        if (dead_.empty()) return;
        h = dead_[in_.below(static_cast<uint32_t>(dead_.size()))];
        if (isLive(h)) return;  // the address was reused by a live object
        break;
      case 2: {
        Fx* f = pickEffect();
        if (!f) return;
        h = f->h;
        sameFam = f->fam;
        break;
      }
      case 3:
        if (chains_.empty()) return;
        h = chains_[in_.below(static_cast<uint32_t>(chains_.size()))].h;
        break;
      case 4:
        if (!readers_.empty()) h = readers_[0].h;
        else if (!writers_.empty()) h = writers_[0];
        else h = foreign;
        break;
      default: h = foreign + 16 * (in_.u8() % 4); break;
    }
    const Family fam = static_cast<Family>(in_.u8() % kFamilyCount);
    if (fam == sameFam) return;
    // The analysers share their destroy function but not their do calls.
    const bool sharedTerm = isAnalyser(fam) && sameFam < kFamilyCount && isAnalyser(sameFam);
    auto* e = static_cast<DspEffect*>(h);
    int16_t pcm[64] = {};
    float spectrum[4096];
    uintptr_t r = 0;
    const uint8_t op = in_.u8() % 4;
    if (op == 0) {
      if (sharedTerm) return;
      r = termOf(fam, e);
    } else {
      switch (fam) {
        case kShelving: r = op == 1 ? doShelvingEQ(e, pcm, pcm, 8) : setShelvingEQGain(e, 0, 1) | setShelvingEQOutputLevel(e, 0); break;
        case kGraphic:
          r = op == 1 ? doGraphicEQ(e, pcm, pcm, 8)
                      : setGraphicEQGain(e, 0, 1) | setGraphicEQMasterGain(e, 0) | remakeGraphicEQBand(e, 0, 1000, 0, 0.5f);
          break;
        case kIir: r = doIirFilter(e, pcm, pcm, 8); break;
        case kFader:
          r = op == 1 ? doFade(e, 0, pcm, pcm, 8) | doCrossFade(e, pcm, pcm, pcm, 8)
                      : setFaderAction(e, 0, 1, 2, 0) | delFaderAction(e, 0, 0, 1) | setCrossFaderAction(e, 1, 2, 0) |
                            delCrossFaderAction(e, 0, 1) | setCrossFaderCurve(e, -1, -40, 0.05f, 0.8f);
          break;
        case kResampler: r = op == 1 ? doResampler(e, pcm, pcm, 8) : getResamplerDstSize(e, 100); break;
        case kHqups:
          r = op == 1 ? doHqups(e, pcm, pcm, 8)
                      : setHqupsHarmonics(e, 0) | setHqupsMix(e, 0) | setHqupsActiveMode(e, 1) | getHqupsDstSize(e, 10) |
                            getHqupsSrcSize(e, 10);
          break;
        case kStretch:
          r = op == 1 ? doStretch(e, pcm, pcm, 8)
                      : setStretchScale(e, 0) | setStretchOutLevel(e, 0) | getStretchDstSize(e, 100);
          break;
        case kPitch: r = op == 1 ? doPitchShift(e, pcm, pcm, 8) : setPitchShiftPitch(e, 0) | setPitchShiftOutLevel(e, 0); break;
        case kChorus:
          r = op == 1 ? doChorus(e, pcm, pcm, 8)
                      : setChorusOrgMix(e, 0) | setChorusMix(e, 0, 0) | setChorusSpeed(e, 0) | setChorusDepth(e, 0) |
                            setChorusDelaytime(e, 0);
          break;
        case kSlice:
          r = op == 1 ? doWaveSlice(e, pcm, 8) : stopWaveSlice(e) | reinterpret_cast<uintptr_t>(getWaveSlice(e, 0));
          break;
        case kFft: r = doFft(e, pcm, spectrum, 8); break;
        case kFftAnalyze: r = doFftAnalyze(e, pcm, spectrum, 8); break;
        default: r = doEnvAnalyze(e, pcm, spectrum, 8); break;
      }
    }
    // Chain, reader and writer exports with the same handle.
    auto* c = static_cast<DspChain*>(h);
    bool isChain = false;
    for (const Chain& ch : chains_) isChain |= ch.h == c;
    if (!isChain) {
      r |= dspAdd(c, nullptr, 0) | dspGetDstRate(c) | dspGetDstChannels(c) | dspGetDstSize(c, 10) |
           dspSend(c, pcm, pcm, 8) | dspSendFloat(c, spectrum, spectrum, 2) |
           reinterpret_cast<uintptr_t>(dspGetHandle(c, 0));
      dspAdjust(c, 16, 2, 44100);
      dspClear(c);
      if (in_.u8() < 32) dspDestroy(c);
    }
    bool isReader = false, isWriter = false;
    for (const Reader& rd : readers_) isReader |= rd.h == h;
    for (WavefileOut* w : writers_) isWriter |= w == h;
    if (!isReader) {
      auto* rd = static_cast<WavefileIn*>(h);
      r |= reinterpret_cast<uintptr_t>(getFormatWavefileIn(rd)) | reinterpret_cast<uintptr_t>(getHeaderWavefileIn(rd)) |
           static_cast<uint32_t>(readWavefileIn(rd, pcm, 4)) | static_cast<uint32_t>(seekWavefileIn(rd, 0, 0)) |
           static_cast<uint32_t>(timeSeekWavefileIn(rd, 0, 0)) |
           reinterpret_cast<uintptr_t>(bufSizeExtendWavefileIn(rd, 4));
      if (in_.u8() < 32) termWavefileIn(rd);
    }
    if (!isWriter) {
      auto* w = static_cast<WavefileOut*>(h);
      r |= reinterpret_cast<uintptr_t>(getFormatWavefileOut(w)) | static_cast<uint32_t>(writeWavefileOut(w, pcm, 8)) |
           flushWavefileOut(w);
      if (in_.u8() < 32) r |= termWavefileOut(w);
    }
    if (expectFail) require(r == 0);
  }

  // -------------------------------------------------------------- chains
  void chainCreate() {
    if (chains_.size() >= 4) return;
    Chain c;
    bool large = false;
    c.frames = capacity(in_, large);
    if (large) c.frames = 65536 + in_.below(65536);  // a chain's frames reach every effect in it
    c.ch = in_.channels();
    c.rate = in_.rate();
    c.h = dspCreate(c.frames, c.ch, c.rate);
    TRACE("chain create frames=%u ch=%u rate=%u -> %p\n", c.frames, c.ch, c.rate, static_cast<void*>(c.h));
    if (!c.h) return;
    dead_.erase(std::remove(dead_.begin(), dead_.end(), static_cast<void*>(c.h)), dead_.end());
    chains_.push_back(c);
  }

  Chain* pickChain(int* index = nullptr) {
    if (chains_.empty()) return nullptr;
    const uint32_t i = in_.below(static_cast<uint32_t>(chains_.size()));
    if (index) *index = static_cast<int>(i);
    return &chains_[i];
  }

  uint32_t chainCount(int index) const {
    uint32_t n = 0;
    for (const Fx& f : fx_) n += f.chain == index;
    return n;
  }

  uint32_t chainBlockLimit(int ci) const {
    uint32_t limit = 0xFFFFFFFFu;
    for (const Fx& f : fx_) {
      if (f.chain == ci) limit = std::min(limit, f.maxBlock);
    }
    return limit;
  }

  void chainAdd() {
    int ci = 0;
    Chain* c = pickChain(&ci);
    if (!c) return;
    const uint32_t before = chainCount(ci);
    const uint32_t order = in_.flag() ? in_.u8() % 8 : in_.u32();
    if (in_.u8() < 24) {
      // A dead or foreign effect is not added.
      void* h = dead_.empty() ? nullptr : dead_[in_.below(static_cast<uint32_t>(dead_.size()))];
      if (isLive(h)) return;
      require(dspAdd(c->h, static_cast<DspEffect*>(h), order) == before);
      return;
    }
    Fx* f = pickEffect();
    if (!f) return;
    const uint32_t r = dspAdd(c->h, f->h, order);
    TRACE("chain %p add %p order=%u -> %u\n", static_cast<void*>(c->h), static_cast<void*>(f->h), order, r);
    if (f->chain >= 0) {
      require(r == before);  // one owner at a time
      return;
    }
    require(r == before || r == before + 1);
    if (r == before + 1) f->chain = ci;
    // Every member is reachable by index, and nothing else is.
    for (uint32_t i = 0; i < r; ++i) {
      DspEffect* m = dspGetHandle(c->h, i);
      bool mine = false;
      for (const Fx& g : fx_) mine |= g.h == m && g.chain == ci;
      require(mine);
    }
    require(dspGetHandle(c->h, r) == nullptr);
  }

  void chainAdjust() {
    Chain* c = pickChain();
    if (!c) return;
    bool large = false;
    uint32_t frames = capacity(in_, large);
    if (large && in_.u8() < 128) frames = 65536 + in_.below(65536);
    c->frames = frames;
    c->ch = in_.channels();
    c->rate = in_.rate();
    dspAdjust(c->h, c->frames, c->ch, c->rate);
    TRACE("chain %p adjust frames=%u ch=%u rate=%u\n", static_cast<void*>(c->h), c->frames, c->ch, c->rate);
    observed = dspGetDstRate(c->h) + dspGetDstChannels(c->h);
  }

  void chainSend() {
    int ci = 0;
    Chain* c = pickChain(&ci);
    if (!c) return;
    const uint32_t inCh = c->ch == 2 ? 2 : 1;
    const bool isFloat = in_.flag();
    uint32_t frames;
    const uint8_t mode = in_.u8();
    if (mode < 16) frames = 0;
    else if (mode < 40) frames = c->frames + 1 + in_.below(8);
    else frames = 1 + in_.below(std::max<uint32_t>(1, std::min<uint32_t>({c->frames, 8192u, chainBlockLimit(ci)})));
    if (frames > (1u << 17)) return;
    // Output size from the chain's own queries. A stretch applies a new
    // scale one block late and the host cannot tell which blocks it counted
    // inside a chain, so each stretch member is bounded by the largest ratio
    // any scale gives (2^2) instead of its ratio now.
    const uint32_t probe = 1u << 16;
    const double ratioNow = dspGetDstSize(c->h, probe) / double(probe);
    double ratio = ratioNow;
    for (const Fx& f : fx_) {
      if (f.chain != ci || f.fam != kStretch) continue;
      const double own = getStretchDstSize(f.h, probe) / double(probe);
      ratio = own > 0 ? ratio / own * 4 : ratio * 4;
    }
    const uint32_t outCh = dspGetDstChannels(c->h) == 2 ? 2 : 1;
    const double dst = std::max<double>(dspGetDstSize(c->h, frames), frames * ratio) + 2;
    if (dst > (1 << 20) || !spend(dst)) return;
    const size_t outSamples = static_cast<size_t>(dst) * outCh;
    TRACE("chain %p send float=%d frames=%u: ratio now %.9g, bound %.9g, out %zu samples\n",
          static_cast<void*>(c->h), isFloat, frames, ratioNow, ratio, outSamples);
    uint32_t r;
    if (isFloat) {
      std::vector<float> input(size_t{frames} * inCh);
      const uint8_t kind = in_.u8();
      for (auto& v : input) v = kind < 200 ? std::sin(0.01f * static_cast<float>(&v - input.data())) : in_.real(-1, 1);
      std::vector<float> out(outSamples);
      r = dspSendFloat(c->h, input.data(), out.data(), frames);
      require(size_t{r} * outCh <= out.size());
    } else {
      std::vector<int16_t> input(size_t{frames} * inCh + 1);
      fillPcm(input.data(), input.size());
      const uint32_t bytes = frames * inCh * 2 + (in_.u8() < 16 ? 1 : 0);
      std::vector<int16_t> out(outSamples);
      r = dspSend(c->h, input.data(), out.data(), bytes);
      require(r <= out.size() * 2);
    }
    TRACE("  -> %u\n", r);
    if (frames > c->frames && chainCount(ci) > 0) require(r == 0);
  }

  void forgetChainMembers(int ci) {
    for (size_t i = fx_.size(); i-- > 0;) {
      if (fx_[i].chain == ci) {
        dead_.push_back(fx_[i].h);
        fx_.erase(fx_.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }

  void chainClearOrDestroy() {
    int ci = 0;
    Chain* c = pickChain(&ci);
    if (!c) return;
    TRACE("chain %p clear/destroy\n", static_cast<void*>(c->h));
    if (in_.flag()) {
      dspClear(c->h);
      forgetChainMembers(ci);
      require(dspGetHandle(c->h, 0) == nullptr);
      return;
    }
    dspDestroy(c->h);
    dspDestroy(c->h);  // a second time is ignored
    forgetChainMembers(ci);
    dead_.push_back(c->h);
    chains_.erase(chains_.begin() + ci);
    for (Fx& f : fx_) if (f.chain > ci) --f.chain;
  }

  // ------------------------------------------------------------- fastmem
  void fastmem() {
    const uint8_t op = in_.u8() % 5;
    if (op <= 1 || blocks_.empty()) {
      if (blocks_.size() >= 16) return;
      const uint32_t size = in_.flag() ? in_.below(1u << 20) : in_.below(4096);
      const uint32_t before = fastmemGetAllocatedSize();
      void* p = fastmemAlloc(size);
      require(p != nullptr && (reinterpret_cast<uintptr_t>(p) & 15) == 0);
      require(fastmemGetAllocatedSize() == before + size + 15);
      std::memset(p, 0x5A, size);
      blocks_.push_back({p, size});
      return;
    }
    const size_t i = in_.below(static_cast<uint32_t>(blocks_.size()));
    Block& b = blocks_[i];
    if (op == 2) {
      const uint32_t size = in_.below(1u << 16);
      const uint32_t before = fastmemGetAllocatedSize();
      auto* q = static_cast<uint8_t*>(fastmemRealloc(b.p, size));
      require(q != nullptr && (reinterpret_cast<uintptr_t>(q) & 15) == 0);
      require(fastmemGetAllocatedSize() == before - b.size + size);
      for (uint32_t k = 0; k < std::min(size, b.size); ++k) require(q[k] == 0x5A);
      std::memset(q, 0x5A, size);
      b = {q, size};
    } else if (op == 3) {
      // Foreign and interior pointers are left alone.
      uint8_t local[32];
      require(fastmemFree(local) == 0);
      require(fastmemRealloc(local, 64) == local);
      if (b.size > 16) require(fastmemFree(static_cast<uint8_t*>(b.p) + 16) == 0);
      require(fastmemFree(nullptr) == 0);
      require(fastmemRealloc(nullptr, 64) == nullptr);
    } else {
      require(fastmemFree(b.p) == 1);
      require(fastmemFree(b.p) == 0);
      blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }

  void switches() {
    const int32_t v = static_cast<int32_t>(in_.u32());
    const uint8_t which = in_.u8() % 3;
    switch (which) {
      case 0: dspEnableMmx(v); break;
      case 1: dspEnable3dnow(v); break;
      default: dspEnableSse(v); break;
    }
    simd_[which] = (v & 0xFF) != 0;
  }

  void encode() {
    const uint32_t n = in_.below(300);
    std::vector<float> src(n);
    for (auto& v : src) v = in_.real(-40000, 40000);
    std::vector<int16_t> dst(n);
    require(dspPcmEncode(src.data(), dst.data(), n) == n * 2);
    // The SIMD forms do not clamp: only the scalar form promises this.
    if (!simd_[0] && !simd_[1] && !simd_[2]) {
      for (uint32_t i = 0; i < n; ++i) {
        if (std::isnan(src[i])) require(dst[i] == 32767);
      }
    }
    require(dspPcmEncode(nullptr, dst.data(), n) == 0);
    require(dspPcmDecode() == 0);
  }

  // ---------------------------------------------------------- wave files
  void wavefileWrite() {
    const uint8_t op = in_.u8() % 4;
    if (op == 0 || writers_.empty()) {
      if (writers_.size() >= 2) return;
      WavefileFormat fmt{};
      fmt.formatTag = in_.u8() < 200 ? 1 : in_.u16();
      fmt.channels = static_cast<uint16_t>(in_.u8() < 200 ? 1 + in_.below(2) : in_.u16());
      fmt.samplesPerSec = in_.rate();
      fmt.bitsPerSample = in_.u8() < 200 ? 16 : in_.u16();
      fmt.blockAlign = static_cast<uint16_t>(fmt.channels * ((fmt.bitsPerSample + 7) / 8));
      fmt.avgBytesPerSec = fmt.samplesPerSec * fmt.blockAlign;
      fmt.extraSize = in_.u8() < 200 ? 0 : in_.u16();
      WavefileOut* w = initWavefileOut(scratch().files[in_.u8() & 1].c_str(), in_.u8() < 8 ? nullptr : &fmt);
      if (w) {
        require(std::memcmp(getFormatWavefileOut(w), &fmt, sizeof fmt) == 0);
        writers_.push_back(w);
      }
      return;
    }
    const size_t i = in_.below(static_cast<uint32_t>(writers_.size()));
    WavefileOut* w = writers_[i];
    if (op == 1) {
      const int32_t count = in_.u8() < 16 ? -static_cast<int32_t>(in_.u16()) : static_cast<int32_t>(in_.below(70000));
      std::vector<int16_t> data(count > 0 ? (static_cast<size_t>(count) + 1) / 2 : 1);
      fillPcm(data.data(), data.size());
      const int32_t r = writeWavefileOut(w, data.data(), count);
      require(r == (count > 0 ? count : 0) || r == -1);
    } else if (op == 2) {
      observed = flushWavefileOut(w);
    } else {
      observed = termWavefileOut(w);
      dead_.push_back(w);
      writers_.erase(writers_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }

  void wavefileRead() {
    const uint8_t op = in_.u8() % 6;
    if (op == 0 || readers_.empty()) {
      if (readers_.size() >= 2) return;
      const uint32_t frames = in_.u8() < 8 ? 0x7FFFFFFFu : in_.below(4096);
      WavefileIn* r = initWavefileIn(scratch().files[in_.u8() & 1].c_str(), frames);
      if (!r) return;
      const WavefileFormat* fmt = getFormatWavefileIn(r);
      require(fmt && fmt->channels != 0 && fmt->samplesPerSec != 0);
      Reader rd;
      rd.h = r;
      rd.ownBytes = frames * 2u * fmt->channels;
      dead_.erase(std::remove(dead_.begin(), dead_.end(), static_cast<void*>(r)), dead_.end());
      readers_.push_back(std::move(rd));
      return;
    }
    const size_t i = in_.below(static_cast<uint32_t>(readers_.size()));
    Reader& rd = readers_[i];
    const WavefileFormat* fmt = getFormatWavefileIn(rd.h);
    const WavefileInHeader* hd = getHeaderWavefileIn(rd.h);
    const uint32_t frameBytes = 2u * fmt->channels;
    switch (op) {
      case 1: {
        // Into the current buffer: at most its size.
        const uint32_t frames = in_.below(8192);
        const int32_t n = readWavefileIn(rd.h, nullptr, frames);
        const uint32_t limit = rd.usingLent ? rd.lentBytes : rd.ownBytes;
        require(n >= -1 && (n < 0 || static_cast<uint32_t>(n) <= limit) && hd->bytesRead == n);
        break;
      }
      case 2: {
        // A new lent buffer; the old one stays alive until the reader has
        // let go of it.
        const uint32_t frames = 1 + in_.below(2048);
        if (size_t{frames} * frameBytes > (1u << 22)) return;
        std::vector<uint8_t> fresh(size_t{frames} * frameBytes);
        const int32_t n = readWavefileIn(rd.h, fresh.data(), frames);
        require(n >= -1 && (n < 0 || static_cast<size_t>(n) <= fresh.size()));
        require(hd->buffer == fresh.data());
        rd.lent.swap(fresh);
        rd.usingLent = true;
        rd.lentBytes = static_cast<uint32_t>(rd.lent.size());
        break;
      }
      case 3:
        require(seekWavefileIn(rd.h, static_cast<int32_t>(in_.u32()), in_.u8() % 3) >= -1);
        break;
      case 4:
        require(timeSeekWavefileIn(rd.h, in_.real(-10, 10), in_.u8() % 3) >= -1);
        break;
      default: {
        const uint32_t frames = in_.u8() < 8 ? 0x7FFFFFFFu : in_.below(4096);
        void* p = bufSizeExtendWavefileIn(rd.h, frames);
        if (p) {
          rd.ownBytes = frames * frameBytes;
          rd.usingLent = false;
          require(hd->buffer == p);
        }
        if (in_.flag()) {
          termWavefileIn(rd.h);
          dead_.push_back(rd.h);
          readers_.erase(readers_.begin() + static_cast<std::ptrdiff_t>(i));
        }
        break;
      }
    }
  }

  // ------------------------------------------------------------ teardown
  void teardown() {
    for (size_t i = chains_.size(); i-- > 0;) {
      dspDestroy(chains_[i].h);
      forgetChainMembers(static_cast<int>(i));
    }
    chains_.clear();
    for (const Fx& f : fx_) require(termOf(f.fam, f.h) == 1);
    fx_.clear();
    for (const Block& b : blocks_) require(fastmemFree(b.p) == 1);
    blocks_.clear();
    for (const Reader& r : readers_) termWavefileIn(r.h);
    readers_.clear();
    for (WavefileOut* w : writers_) observed = termWavefileOut(w);
    writers_.clear();
  }

  struct Block {
    void* p;
    uint32_t size;
  };

  // Output frames a program may still ask for. A rate converter can turn
  // 36 frames into millions; without a budget a few such blocks run past
  // the time limit under the sanitizers.
  bool spend(double frames) {
    if (frames > workLeft_) return false;
    workLeft_ -= frames;
    return true;
  }

  Input& in_;
  double workLeft_ = 1 << 21;
  std::vector<Fx> fx_;
  std::vector<Chain> chains_;
  std::vector<Reader> readers_;
  std::vector<WavefileOut*> writers_;
  std::vector<Block> blocks_;
  std::vector<void*> dead_;
  bool simd_[3] = {false, false, false};  // mmx, 3dnow, sse as last set
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  Interpreter(in).run();
  return 0;
}

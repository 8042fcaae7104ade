// The grain engine both granular families share, driven through each
// family's exports: what holds for one must hold for the other.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "common/test_support.h"
#include "dspfx/dspfx.h"
#include "pitchtime/pitch_shift_effect.h"
#include "pitchtime/stretch_effect.h"
#include "rate/rate_converter.h"

namespace {

using namespace dspfx;
using namespace dspfx::test;

constexpr uint32_t kRate = 44100;

// One granular family: amounts are cents for the pitch shifter and the
// scale for the stretcher.
struct Family {
  const char* name;
  bool stretch;
  uint32_t interpolation;
  float octave;      // the amount that makes the grains' ratio 2
  float seamless;    // an amount whose output does not depend on the blocking
  // The first frames may differ from a steady stream: the pre-rolled grains
  // read zeroed history, which reaches back at most 8 grains of 2704 frames
  // for the stretcher.
  uint32_t settleFrames;
  float levelAmounts[5];  // amounts whose gain is checked on a constant
};

const Family kFamilies[] = {
    {"pitch shift, linear", false, 0, 1200, 700, 4096, {1200, -1200, 700, -250, 30}},
    {"pitch shift, cubic", false, 1, 1200, 700, 4096, {1200, -1200, 700, -250, 30}},
    // Ratio 2 keeps every stretch grain position an exact integer.
    {"stretch", true, 0, -1000, -1000, 11 * 2048, {1000, -1000, 300, -2000, 3000}},
};

// An effect of a family behind its exports, destroyed with the object.
struct Granular {
  Granular(const Family& f, uint32_t capacity, uint32_t channels, float amount, float levelDb = 0,
           float grain = 0.04f, float hop = 0.01f, uint32_t rate = kRate, uint32_t antiAlias = 1)
      : f(f),
        h(f.stretch ? initStretch(capacity, channels, rate, amount, levelDb, grain, hop)
                    : initPitchShift(capacity, channels, rate, amount, levelDb, grain, hop, f.interpolation, antiAlias)) {}
  ~Granular() { f.stretch ? termStretch(h) : termPitchShift(h); }
  // One block of interleaved samples in, the samples written out.
  std::vector<int16_t> run(const int16_t* in, size_t samples) {
    std::vector<int16_t> out(4 * samples + 64);  // the stretcher writes at most ratio 4
    const auto bytes = static_cast<uint32_t>(2 * samples);
    if (f.stretch) {
      out.resize(doStretch(h, in, out.data(), bytes) / 2);
    } else {
      EXPECT_EQ(doPitchShift(h, in, out.data(), bytes), 1u);
      out.resize(samples);
    }
    return out;
  }
  std::vector<int16_t> run(const std::vector<int16_t>& in) { return run(in.data(), in.size()); }
  // The second channel's hop counter and first slot phase.
  std::pair<uint32_t, int32_t> secondTiming() const {
    if (f.stretch) {
      const auto& c = reinterpret_cast<StretchEffect*>(h)->channels[1];
      return {c.hopCounter, c.slots[0].phase};
    }
    const auto& c = reinterpret_cast<PitchShiftEffect*>(h)->channels[1];
    return {c.hopCounter, c.slots[0].phase};
  }
  const Family& f;
  DspEffect* h;
};

TEST(GrainChannel, NeutralAmountPassesTheInputThroughUnscaled) {
  for (const Family& f : kFamilies) {
    for (uint32_t channels : {1u, 2u}) {
      SCOPED_TRACE(testing::Message() << f.name << ", " << channels << " channels");
      Granular g(f, 4096, channels, 0.0f, -12.0f);
      ASSERT_NE(g.h, nullptr);
      for (uint32_t block = 0; block < 3; ++block) {
        const auto in = noisePcm(size_t{4096} * channels, 11 + block);
        EXPECT_EQ(g.run(in), pcmRoundTrip(in, channels)) << "block " << block;
      }
    }
  }
}

TEST(GrainChannel, ConstantInputComesOutAtLevelTimesGain) {
  for (const Family& f : kFamilies) {
    for (auto [v, db] : {std::pair{-9000, 3.0f}, std::pair{12000, -6.0f}}) {
      const double expected = std::trunc(v * std::pow(10.0, 0.05 * db));
      for (float amount : f.levelAmounts) {
        SCOPED_TRACE(testing::Message() << f.name << " " << amount << ", " << v << " at " << db << " dB");
        Granular g(f, 2048, 1, amount, db, 0.04f, 0.01f, kRate, 0);
        const std::vector<int16_t> in(2048, static_cast<int16_t>(v));
        size_t at = 0;
        for (int block = 0; block < 24; ++block) {
          const auto out = g.run(in);
          for (size_t i = 0; i < out.size(); ++i, ++at) {
            // Window and interpolation weights sum exactly enough in float
            // and double; the 16-bit truncation gives 1 LSB.
            if (at >= f.settleFrames) {
              ASSERT_NEAR(out[i], expected, 1.0) << "output frame " << at;
            }
          }
        }
      }
    }
  }
}

TEST(GrainChannel, HopLongerThanGrainLeavesUncoveredFramesSilent) {
  // 1000 Hz: N = trunc(0.01 * 1000 * 325/212) = 15 frames, hop 50 frames,
  // one slot; the first grain starts where the counter wraps, 15 frames
  // after the pre-roll's hop counter of 15: grains cover 35 ... 49 of 50.
  for (const Family& f : kFamilies) {
    SCOPED_TRACE(f.name);
    Granular g(f, 1000, 1, f.octave, 0.0f, 0.01f, 0.05f, 1000, 0);
    ASSERT_NE(g.h, nullptr);
    const auto out = g.run(std::vector<int16_t>(1000, 20000));
    ASSERT_EQ(out.size(), f.stretch ? 2000u : 1000u);
    for (size_t j = 50; j < out.size(); ++j) {
      EXPECT_EQ(out[j] != 0, j % 50 >= 35) << "frame " << j << " value " << out[j];
    }
  }
}

TEST(GrainChannel, PiecesAndBlocksJoinWithoutSeams) {
  // One block of 70000 frames is cut into three pieces internally; the same
  // input in blocks of 1000 must give the same output, filter included.
  const uint32_t total = 70000;
  const auto in = noisePcm(size_t{total} * 2, 8, 20000);
  for (const Family& f : kFamilies) {
    SCOPED_TRACE(f.name);
    Granular whole(f, total, 2, f.seamless), blocks(f, 1000, 2, f.seamless);
    const auto a = whole.run(in);
    std::vector<int16_t> b;
    for (uint32_t off = 0; off < total; off += 1000) {
      const auto out = blocks.run(in.data() + size_t{off} * 2, 2000);
      b.insert(b.end(), out.begin(), out.end());
    }
    ASSERT_EQ(a.size(), size_t{total} * (f.stretch ? 4 : 2));
    EXPECT_EQ(a, b);
  }
}

TEST(GrainChannel, StereoChannelsShareTimingAndMonoLeavesTheSecondAlone) {
  const auto mono = noisePcm(2000, 4, 20000);
  const auto stereo = interleave(mono, mono);
  for (const Family& f : kFamilies) {
    SCOPED_TRACE(f.name);
    Granular s(f, 2000, 2, -400.0f), m(f, 2000, 1, -400.0f);
    const auto untouched = m.secondTiming();
    for (int block = 0; block < 3; ++block) {
      const auto out = s.run(stereo), outMono = m.run(mono);
      ASSERT_EQ(out.size(), 2 * outMono.size());
      for (size_t i = 0; i < outMono.size(); ++i) {
        ASSERT_TRUE(out[2 * i] == outMono[i] && out[2 * i + 1] == outMono[i]) << "frame " << i;
      }
    }
    EXPECT_EQ(m.secondTiming(), untouched);
    EXPECT_EQ(untouched, (std::pair<uint32_t, int32_t>{2704 - 6 * 441, 2704 - 441}));
  }
}

// Successive grains of a pure tone f differ in phase by a step of cycles;
// the overlap turns its fractional part into a frequency offset of at most
// half the grain rate around the frequency the grains replay at.
double grainToneFrequency(double replayed, double cycles, double hop, double rate) {
  return replayed + (cycles - std::round(cycles)) * rate / hop;
}

TEST(GrainChannel, MeasuredToneFrequencyFollowsTheGrains) {
  const struct {
    const Family& f;
    double freq;
    float amount;
  } cases[] = {{kFamilies[1], 440, 1200}, {kFamilies[1], 440, -1200}, {kFamilies[0], 400, 1200},
               {kFamilies[1], 400, -1200}, {kFamilies[1], 500, 300},  {kFamilies[0], 300, -500},
               {kFamilies[1], 1000, 1200}, {kFamilies[2], 440, -1000}, {kFamilies[2], 400, -1000},
               {kFamilies[2], 440, 1000},  {kFamilies[2], 440, -2000}, {kFamilies[2], 1000, 500},
               {kFamilies[2], 200, -300}};
  for (const auto& c : cases) {
    // The pitch shifter replays ratio times as fast from where each grain
    // started; the stretcher's grain positions follow the ratio alone, so
    // the ratio never scales its frequency.
    const double ratio = static_cast<float>(std::pow(2.0, c.f.stretch ? -c.amount / 1000.0 : c.amount / 1200.0));
    const double expected = c.f.stretch
                                ? grainToneFrequency(c.freq, c.freq * 441 * (1.0 / ratio - 1.0) / kRate, 441, kRate)
                                : grainToneFrequency(c.freq * ratio, c.freq * (1.0 - ratio) * 441 / kRate, 441, kRate);
    Granular g(c.f, 4096, 1, c.amount);
    std::vector<int16_t> all;
    for (uint32_t block = 0; block < 40; ++block) {
      const auto out = g.run(sinePcm(c.freq, kRate, 4096, 1, 0.5, 2 * kPi * c.freq * block * 4096.0 / kRate));
      all.insert(all.end(), out.begin(), out.end());
    }
    // The stretcher's length: the ratio times the input, up to a frame a block.
    EXPECT_NEAR(all.size(), c.f.stretch ? 40 * 4096 * ratio : 40 * 4096, 40) << "amount " << c.amount;
    // 1 %; zero crossings over seconds of output resolve far finer.
    EXPECT_NEAR(zeroCrossingFrequency(all.data(), all.size(), kRate, 1, 16384), expected, 0.01 * expected)
        << c.f.name << ", " << c.freq << " Hz at " << c.amount << ": expected " << expected << " Hz";
  }
}

// The grain engine one output frame at a time, the way the families define
// it, over a linear history instead of the ring. The channels mix whole runs
// of frames grain by grain, stage the history and take the pitch shifter's
// interpolation from a table; none of that may change a bit of the output.
struct FrameByFrame {
  template <class Channel>
  explicit FrameByFrame(const Channel& c)
      : window(c.window, c.window + c.grainLength),
        history(c.ringLength, 0.0f),
        hop(c.hop),
        hopCounter(c.hopCounter),
        gain(c.outputGain) {
    for (uint32_t s = 0; s < c.slotCount; ++s) {
      Grain g{c.slots[s].active != 0, c.slots[s].position, c.slots[s].phase, 0.0f};
      if constexpr (requires { c.slots[s].readOffset; }) g.readOffset = c.slots[s].readOffset;
      grains.push_back(g);
    }
  }
  struct Grain {
    bool active;
    int32_t position, phase;
    float readOffset;
  };
  float frame(const float* in, int64_t n, int64_t k) const {
    if (k < 0) return history[history.size() + k];
    return in[std::min(k, n - 1)];
  }
  // One piece; read(grain, in) gives the grain's sample and moves it on.
  template <class Acc, class Start, class Read>
  std::vector<float> piece(const float* in, uint32_t n, uint32_t m, Start start, Read read) {
    std::vector<float> out(m);
    for (uint32_t j = 0; j < m; ++j) {
      if (hopCounter == 0) {
        for (Grain& g : grains) {
          if (!g.active) {
            g = Grain{true, start(j), 0, 0.0f};
            break;
          }
        }
      }
      if (++hopCounter == hop) hopCounter = 0;
      Acc sum = 0, weight = 0;
      for (Grain& g : grains) {
        if (!g.active) continue;
        const Acc v = read(g);
        const float w = window[g.phase];
        sum += v * w;
        weight += w;
        if (++g.phase == static_cast<int32_t>(window.size())) g.active = false;
      }
      out[j] = weight > 0 ? static_cast<float>(sum * (gain / weight)) : 0.0f;
    }
    for (Grain& g : grains) g.position -= static_cast<int32_t>(n);
    history.insert(history.end(), in, in + n);
    return out;
  }
  std::vector<float> window, history;
  std::vector<Grain> grains;
  uint32_t hop, hopCounter;
  float gain;
};

TEST(GrainChannel, RunsMixExactlyAsFrameByFrame) {
  // 8000 Hz: grains of 122 frames every 24, six slots; blocks shorter than
  // a hop, longer than the staged head of a piece, and ratio changes that
  // leave grains between two ratios.
  const uint32_t blocks[] = {4096, 1, 37, 600, 4096, 700, 3000, 2500};
  const auto in = noiseFloat(16000, 5);
  for (uint32_t interpolation : {0u, 1u}) {
    for (float cents : {1200.0f, -1200.0f, 700.0f, -250.0f}) {
      SCOPED_TRACE(testing::Message() << "interpolation " << interpolation << ", " << cents << " cents");
      auto c = std::make_unique<PitchShiftChannel>();
      ASSERT_TRUE(c->build(8000, cents, -2.0f, 0.01f, 0.003f, interpolation, false));
      FrameByFrame ref(*c);
      size_t at = 0;
      for (size_t b = 0; b < std::size(blocks); ++b) {
        if (b == 4) c->setPitch(-cents / 2);
        if (b == 6) c->setPitch(cents);
        const float* x = in.data() + at;
        const uint32_t n = blocks[b];
        const PitchParams p = c->active;
        auto start = [&](uint32_t j) { return static_cast<int32_t>(j) + p.startOffset; };
        auto read = [&](FrameByFrame::Grain& g) {
          const double pos = g.position + static_cast<double>(g.readOffset);
          g.readOffset += p.ratio;
          if (interpolation == 0) {
            const double q = pos - 1.0, fi = std::floor(q);
            const auto i = static_cast<int64_t>(fi);
            const float a = ref.frame(x, n, i), bb = ref.frame(x, n, i + 1);
            return a + (q - fi) * (bb - a);
          }
          const double q = pos - 2.0, fi = std::floor(q), f = q - fi;
          const auto i = static_cast<int64_t>(fi);
          return ref.frame(x, n, i - 1) * cubicWeight(static_cast<float>(1.0 + f)) +
                 ref.frame(x, n, i) * cubicWeight(static_cast<float>(f)) +
                 ref.frame(x, n, i + 1) * cubicWeight(static_cast<float>(1.0 - f)) +
                 ref.frame(x, n, i + 2) * cubicWeight(static_cast<float>(2.0 - f));
        };
        const auto expected = ref.piece<double>(x, n, n, start, read);
        std::vector<float> out(n);
        c->process(x, out.data(), n);
        ASSERT_EQ(out, expected) << "block " << b;
        at += n;
      }
      for (size_t s = 0; s < ref.grains.size(); ++s) {
        EXPECT_EQ(c->slots[s].readOffset, ref.grains[s].readOffset) << "slot " << s;
      }
    }
  }
  for (float scale : {1000.0f, -1000.0f, 300.0f, -2000.0f, 3000.0f}) {
    SCOPED_TRACE(testing::Message() << "scale " << scale);
    auto c = std::make_unique<StretchChannel>();
    ASSERT_GT(c->build(4096, 8000, scale, -2.0f, 0.01f, 0.003f), 0u);
    FrameByFrame ref(*c);
    size_t at = 0;
    for (size_t b = 0; b < std::size(blocks); ++b) {
      if (b == 4) c->setScale(-scale / 2);
      const float* x = in.data() + at;
      const uint32_t n = blocks[b];
      const StretchParams p = c->active;
      auto start = [&](uint32_t j) {
        return truncToInt32(static_cast<float>(j + p.startOffset) * p.inverseRatio) -
               static_cast<int32_t>(p.startOffset);
      };
      auto read = [&](FrameByFrame::Grain& g) { return ref.frame(x, n, int64_t{g.position} + g.phase); };
      const auto expected = ref.piece<float>(x, n, truncToUint32(static_cast<float>(n) * p.ratio), start, read);
      std::vector<float> out(n * 4);
      out.resize(c->process(x, out.data(), n));
      ASSERT_EQ(out, expected) << "block " << b;
      at += n;
    }
  }
}

TEST(GrainChannel, BadHandlesAreRefusedByBothFamilies) {
  DspEffect* shift = initPitchShift(1000, 2, kRate, 0, 0, 0.04f, 0.01f, 1, 1);
  DspEffect* stretch = initStretch(1000, 2, kRate, 0, 0, 0.04f, 0.01f);
  DspEffect* goneShift = initPitchShift(1000, 1, kRate, 0, 0, 0.04f, 0.01f, 0, 0);
  DspEffect* goneStretch = initStretch(1000, 2, kRate, 0, 0, 0.04f, 0.01f);
  DspChain* chain = dspCreate(1000, 2, kRate);
  ASSERT_TRUE(shift && stretch && goneShift && goneStretch && chain);
  ASSERT_EQ(termPitchShift(goneShift) + termStretch(goneStretch), 2u);
  auto* notAnEffect = reinterpret_cast<DspEffect*>(chain);
  const auto in = sinePcm(440, kRate, 100, 2);
  Guarded<int16_t> out(800, 0x1234);
  expectAllRefuse<DspEffect>({nullptr, stretch, goneShift, notAnEffect},
                             [&](DspEffect* e) { return doPitchShift(e, in.data(), out.get(), 400); },
                             [](DspEffect* e) { return setPitchShiftPitch(e, 100); },
                             [](DspEffect* e) { return setPitchShiftOutLevel(e, 0); },
                             [](DspEffect* e) { return termPitchShift(e); });
  expectAllRefuse<DspEffect>({nullptr, shift, goneStretch, notAnEffect},
                             [&](DspEffect* e) { return doStretch(e, in.data(), out.get(), 400); },
                             [](DspEffect* e) { return setStretchScale(e, 100); },
                             [](DspEffect* e) { return setStretchOutLevel(e, 0); },
                             [](DspEffect* e) { return getStretchDstSize(e, 100); },
                             [](DspEffect* e) { return termStretch(e); });
  EXPECT_EQ(out.data[0], 0);
  EXPECT_TRUE(out.intact());
  dspDestroy(chain);
  EXPECT_EQ(termPitchShift(shift) + termStretch(stretch), 2u);
}

}  // namespace

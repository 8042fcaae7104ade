// The grain engine both granular families share, driven through each
// family's exports: what holds for one must hold for the other.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "pitchtime/pitchtime_support.h"
#include "dsp/rate_converter.h"

namespace {

using namespace dspfx;
using namespace dspfx::test;

TEST(GrainChannel, NeutralAmountPassesTheInputThroughUnscaled) {
  for (const Family& f : kFamilies) {
    for (uint32_t channels : {1u, 2u}) {
      SCOPED_TRACE(testing::Message() << f.name << ", " << channels << " channels");
      Granular g(f, 4096, channels, 0.0f, -12.0f);
      const auto in = noisePcm(size_t{3 * 4096} * channels, 11);
      EXPECT_EQ(g.runBlocks(in, size_t{4096} * channels), pcmRoundTrip(in, channels));
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
        const auto out = g.runBlocks(std::vector<int16_t>(24 * 2048, static_cast<int16_t>(v)), 2048);
        // The weights sum exactly enough; 16-bit truncation gives 1 LSB.
        for (size_t i = f.settleFrames; i < out.size(); ++i) ASSERT_NEAR(out[i], expected, 1.0) << "output frame " << i;
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
    for (size_t j = 50; j < out.size(); ++j) EXPECT_EQ(out[j] != 0, j % 50 >= 35) << "frame " << j << ": " << out[j];
  }
}

TEST(GrainChannel, PiecesAndBlocksJoinWithoutSeams) {
  // One block of 70000 frames runs as three pieces; blocks of 1000 must match.
  const uint32_t total = 70000;
  const auto in = noisePcm(size_t{total} * 2, 8, 20000);
  for (const Family& f : kFamilies) {
    SCOPED_TRACE(f.name);
    Granular whole(f, total, 2, f.seamless), blocks(f, 1000, 2, f.seamless);
    const auto a = whole.run(in);
    ASSERT_EQ(a.size(), size_t{total} * (f.stretch ? 4 : 2));
    EXPECT_EQ(a, blocks.runBlocks(in, 2000));
  }
}

TEST(GrainChannel, StereoChannelsShareTimingAndMonoLeavesTheSecondAlone) {
  const auto mono = noisePcm(2000, 4, 20000), stereo = interleave(mono, mono);
  for (const Family& f : kFamilies) {
    SCOPED_TRACE(f.name);
    Granular s(f, 2000, 2, -400.0f), m(f, 2000, 1, -400.0f);
    const auto untouched = m.timing(1);
    for (int block = 0; block < 3; ++block) {
      const auto out = s.run(stereo), outMono = m.run(mono);
      ASSERT_EQ(out.size(), 2 * outMono.size());
      for (size_t i = 0; i < outMono.size(); ++i) {
        ASSERT_TRUE(out[2 * i] == outMono[i] && out[2 * i + 1] == outMono[i]) << "frame " << i;
      }
    }
    EXPECT_EQ(m.timing(1), untouched);
    EXPECT_EQ(untouched, (std::pair<uint32_t, int32_t>{2704 - 6 * 441, 2704 - 441}));
  }
}

TEST(GrainChannel, SetupRebuildsOnlyForANewRate) {
  for (const Family& f : kFamilies) {
    SCOPED_TRACE(f.name);
    Granular g(f, 1024, 2, f.octave);
    g.run(noisePcm(2048, 2, 20000));
    const auto timing = g.timing(0);
    const uint32_t ratio = f.stretch ? 2 : 1;  // the stretcher's output grows with it
    EXPECT_EQ(g.effect().setup(3000, 2, kRate), kRate);
    EXPECT_EQ(g.effect().outFrames, 3000u * ratio);
    EXPECT_EQ(g.timing(0), timing);
    // 22050 Hz: grains of 1352 frames every 220, pre-rolled again.
    EXPECT_EQ(g.effect().setup(3000, 2, 22050), 22050u);
    EXPECT_EQ(g.timing(0).first, 1352u - 6 * 220);
    EXPECT_EQ(g.effect().outRate, 22050u);
    EXPECT_EQ(g.effect().getDstSize(3000), 3000u * ratio);
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
    // The pitch shifter replays ratio times as fast; the stretcher's ratio
    // moves grain positions only, never scaling the frequency.
    const double ratio = static_cast<float>(std::pow(2.0, c.f.stretch ? -c.amount / 1000.0 : c.amount / 1200.0));
    const double expected = c.f.stretch
                                ? grainToneFrequency(c.freq, c.freq * 441 * (1.0 / ratio - 1.0) / kRate, 441, kRate)
                                : grainToneFrequency(c.freq * ratio, c.freq * (1.0 - ratio) * 441 / kRate, 441, kRate);
    Granular g(c.f, 4096, 1, c.amount);
    const auto all = g.runBlocks(sinePcm(c.freq, kRate, 40 * 4096, 1), 4096);
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
      : window(c.window, c.window + c.grainLength), history(c.ringLength, 0.0f), hop(c.hop),
        hopCounter(c.hopCounter), gain(c.outputGain) {
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
    return k < 0 ? history[history.size() + k] : in[std::min(k, n - 1)];
  }
  // One piece; read(grain, in) gives the grain's sample and moves it on.
  template <class Acc, class Start, class Read>
  std::vector<float> piece(const float* in, uint32_t n, uint32_t m, Start start, Read read) {
    std::vector<float> out(m);
    for (uint32_t j = 0; j < m; ++j) {
      if (hopCounter == 0) {
        const auto idle = std::find_if(grains.begin(), grains.end(), [](const Grain& g) { return !g.active; });
        if (idle != grains.end()) *idle = Grain{true, start(j), 0, 0.0f};
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
      for (size_t b = 0, at = 0; b < std::size(blocks); at += blocks[b++]) {
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
      }
      for (size_t s = 0; s < ref.grains.size(); ++s) EXPECT_EQ(c->slots[s].readOffset, ref.grains[s].readOffset);
    }
  }
  for (float scale : {1000.0f, -1000.0f, 300.0f, -2000.0f, 3000.0f}) {
    SCOPED_TRACE(testing::Message() << "scale " << scale);
    auto c = std::make_unique<StretchChannel>();
    ASSERT_GT(c->build(4096, 8000, scale, -2.0f, 0.01f, 0.003f), 0u);
    FrameByFrame ref(*c);
    for (size_t b = 0, at = 0; b < std::size(blocks); at += blocks[b++]) {
      if (b == 4) c->setScale(-scale / 2);
      const float* x = in.data() + at;
      const uint32_t n = blocks[b];
      const StretchParams p = c->active;
      auto start = [&](uint32_t j) {
        const auto from = static_cast<int32_t>(p.startOffset);
        return truncToInt32(static_cast<float>(j + p.startOffset) * p.inverseRatio) - from;
      };
      auto read = [&](FrameByFrame::Grain& g) { return ref.frame(x, n, int64_t{g.position} + g.phase); };
      const auto expected = ref.piece<float>(x, n, truncToUint32(static_cast<float>(n) * p.ratio), start, read);
      std::vector<float> out(n * 4);
      out.resize(c->process(x, out.data(), n));
      ASSERT_EQ(out, expected) << "block " << b;
    }
  }
}

TEST(GrainChannel, MisuseIsRefusedByBothFamilies) {
  const struct {
    uint32_t capacity, rate;
    float grain, hop;
  } builds[] = {{1000, kRate, 0.04f, 0.00001f}, {1000, kRate, 0.00001f, 0.01f},  // hop, grain < 1 frame
                {1000, 0, 0.04f, 0.01f},        {1000, kRate, INFINITY, 0.01f}, {1000, kRate, NAN, 0.01f},
                {1000, kRate, 1e9f, 0.01f},     {1000, kRate, 0.04f, NAN},      {1000, kRate, 0.04f, -1.0f},
                {0x7FFFFFFF, kRate, 0.04f, 0.01f}};
  const auto in = sinePcm(440, kRate, 1001, 2);
  for (const Family& f : kFamilies) {
    for (const auto& b : builds) {
      EXPECT_EQ(Granular(f, b.capacity, 2, 0, 0, b.grain, b.hop, b.rate).h, nullptr)
          << f.name << ": " << b.capacity << " frames at " << b.rate << " Hz, grain " << b.grain << " s, hop " << b.hop;
    }
    Granular g(f, 1000, 2, NAN);  // NaN amount: no change
    ASSERT_NE(g.h, nullptr);
    auto send = [&](const int16_t* x, int16_t* y, uint32_t bytes) {
      return f.stretch ? doStretch(g.h, x, y, bytes) : doPitchShift(g.h, x, y, bytes);
    };
    Guarded<int16_t> out(2000, 0x1234);
    EXPECT_EQ(send(in.data(), out.get(), 4004), 0u) << f.name;  // 1001 frames > 1000
    EXPECT_EQ(send(nullptr, out.get(), 400) + send(in.data(), nullptr, 400), 0u) << f.name;
    EXPECT_EQ(out.data[0], 0) << f.name;
    EXPECT_EQ(send(in.data(), out.get(), 4000), f.stretch ? 4000u : 1u) << f.name;
    EXPECT_TRUE(out.intact()) << f.name;
  }

  Granular shift(kShift, 1000, 2, 0), stretch(kStretch, 1000, 2, 0);
  DspEffect* goneShift = initPitchShift(1000, 1, kRate, 0, 0, 0.04f, 0.01f, 0, 0);
  DspEffect* goneStretch = initStretch(1000, 2, kRate, 0, 0, 0.04f, 0.01f);
  DspChain* chain = dspCreate(1000, 2, kRate);
  ASSERT_TRUE(shift.h && stretch.h && goneShift && goneStretch && chain);
  ASSERT_EQ(termPitchShift(goneShift) + termStretch(goneStretch), 2u);
  auto* foreign = reinterpret_cast<DspEffect*>(chain);  // a live object of another kind
  Guarded<int16_t> out(800, 0x1234);
  expectAllRefuse<DspEffect>(
      {nullptr, stretch.h, goneShift, foreign}, [&](DspEffect* e) { return doPitchShift(e, &in[0], out.get(), 400); },
      [](DspEffect* e) { return setPitchShiftPitch(e, 100); }, [](DspEffect* e) { return setPitchShiftOutLevel(e, 0); },
      [](DspEffect* e) { return termPitchShift(e); });
  expectAllRefuse<DspEffect>(
      {nullptr, shift.h, goneStretch, foreign}, [&](DspEffect* e) { return doStretch(e, &in[0], out.get(), 400); },
      [](DspEffect* e) { return setStretchScale(e, 100); }, [](DspEffect* e) { return setStretchOutLevel(e, 0); },
      [](DspEffect* e) { return getStretchDstSize(e, 100); }, [](DspEffect* e) { return termStretch(e); });
  EXPECT_TRUE(out.data[0] == 0 && out.intact());
  dspDestroy(chain);
}

}  // namespace

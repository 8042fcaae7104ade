#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/envelope_follower.h"
#include "pitchtime/pitchtime_support.h"

namespace {

using dspfx::test::kPi;

using dspfx::test::kRate;
constexpr uint32_t kBlock = 4096;

// Mono PCM built from segments of a 2 kHz tone (amplitude 0 = silence).
// The tone starts at its crest so a segment's first sample is not zero.
struct Signal {
  std::vector<int16_t> pcm;
  Signal& add(double seconds, double amplitude) {
    const auto frames = static_cast<uint32_t>(seconds * kRate);
    for (uint32_t i = 0; i < frames; ++i) {
      pcm.push_back(static_cast<int16_t>(32767 * amplitude * std::cos(2 * kPi * 2000.0 * i / kRate)));
    }
    return *this;
  }
  uint32_t frames() const { return static_cast<uint32_t>(pcm.size()); }
};

void feed(DspEffect* h, const Signal& s) {
  for (uint32_t at = 0; at < s.frames(); at += kBlock) {
    const uint32_t n = std::min(kBlock, s.frames() - at);
    ASSERT_EQ(doWaveSlice(h, s.pcm.data() + at, 2 * n), 1u);
  }
}

// The envelope the slicer sees, from the same follower.
std::vector<float> envelopeOf(const Signal& s) {
  dspfx::EnvelopeFollower f;
  EXPECT_TRUE(f.setup(s.frames(), static_cast<float>(kRate), 2, 33.0f, 1.0f, false, 1.0f));
  std::vector<float> x(s.frames()), e(s.frames());
  for (uint32_t i = 0; i < s.frames(); ++i) x[i] = static_cast<float>(s.pcm[i] * (1.0 / 32767.0));
  f.process(x.data(), e.data(), s.frames());
  return e;
}

// Record times are frame positions times the frame period, rounded once.
float timeOf(uint32_t frame) {
  return static_cast<float>(static_cast<double>(frame) * static_cast<double>(1.0f / static_cast<float>(kRate)));
}

using Slicer = dspfx::test::Owned<termWaveSlice>;

DspEffect* standardSlicer(float minSliceTime = 0.05f) {
  return initWaveSlice(kBlock, 1, kRate, -20.0f, -40.0f, 10.0f, minSliceTime);
}

TEST(WaveSlice, SilenceAndCancellingChannelsGiveNoSlices) {
  Slicer h(standardSlicer());
  feed(h, Signal().add(1.0, 0.0));
  EXPECT_EQ(stopWaveSlice(h), 0u);
  EXPECT_EQ(getWaveSlice(h, 0), nullptr);

  // A stereo block is mixed to mono first: opposite channels cancel.
  Slicer s(initWaveSlice(kBlock, 2, kRate, -20.0f, -40.0f, 10.0f, 0.05f));
  const Signal tone = Signal().add(0.2, 0.0).add(0.5, 0.5);
  std::vector<int16_t> negated(tone.pcm.size());
  for (size_t i = 0; i < negated.size(); ++i) negated[i] = static_cast<int16_t>(-tone.pcm[i]);
  const std::vector<int16_t> stereo = dspfx::test::interleave(tone.pcm, negated);
  for (uint32_t at = 0; at + kBlock <= tone.frames(); at += kBlock) {
    ASSERT_EQ(doWaveSlice(s, stereo.data() + 2 * at, 4 * kBlock), 1u);
  }
  EXPECT_EQ(stopWaveSlice(s), 0u);
}

TEST(WaveSlice, SingleBurstIsOneSliceFromTheLastQuietFrame) {
  const Signal sig = Signal().add(0.5, 0.0).add(0.5, 0.5).add(1.0, 0.0);
  const uint32_t attack = kRate / 2;
  const std::vector<float> env = envelopeOf(sig);
  // It ends at the first frame after the burst below -40 dB.
  uint32_t fall = attack + kRate / 2;
  while (env[fall] >= 0.01f) ++fall;
  Slicer h(standardSlicer());
  feed(h, sig);
  const SliceRecord* r = getWaveSlice(h, 0);
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(r->start == timeOf(attack - 1) && r->end == timeOf(fall)) << r->start << " ... " << r->end << " s";
  EXPECT_TRUE(r->next == nullptr && r->prev == nullptr);
  EXPECT_EQ(stopWaveSlice(h) + stopWaveSlice(h), 2u);  // the second has nothing left to close
  EXPECT_EQ(getWaveSlice(h, 7), r);  // past the end: the last record
}

TEST(WaveSlice, BurstShorterThanTheMinimumStaysOpen) {
  const Signal sig = Signal().add(0.2, 0.0).add(0.01, 0.5).add(0.2, 0.0);
  const uint32_t start = static_cast<uint32_t>(0.2 * kRate) - 1;
  // The first quiet frame after the minimum closes it, not the fall; with a
  // minimum longer than the input only stopWaveSlice does, where it stands.
  Slicer h(standardSlicer(0.1f)), g(standardSlicer(5.0f));
  feed(h, sig);
  feed(g, sig);
  EXPECT_EQ(stopWaveSlice(h) + stopWaveSlice(g) + stopWaveSlice(g), 3u);
  const SliceRecord *r = getWaveSlice(h, 0), *q = getWaveSlice(g, 0);
  ASSERT_TRUE(r && q);
  EXPECT_EQ(r->start, timeOf(start));
  EXPECT_EQ(r->end, timeOf(start + static_cast<uint32_t>(kRate * 0.1f) + 1));
  EXPECT_EQ(q->end, timeOf(sig.frames()));
}

TEST(WaveSlice, TwoBurstsAreCutAtTheValleyBetweenThem) {
  // The gap (-26 dB) stays above the closing level: the second attack ends the first slice.
  const Signal sig = Signal().add(0.3, 0.0).add(0.3, 0.5).add(0.1, 0.05).add(0.3, 0.5).add(0.5, 0.0);
  const uint32_t second = static_cast<uint32_t>(0.7 * kRate);
  const std::vector<float> env = envelopeOf(sig);
  // Back over the rise from where the second attack qualifies (-20 dB, 10 % above the valley).
  auto valleyBefore = [&](uint32_t p) {
    while (env[p] > env[p - 1]) --p;
    return p;
  };
  uint32_t q = second;
  while (env[q] < 0.1f || env[q] - env[valleyBefore(q)] < 0.1f) ++q;
  const uint32_t valley = valleyBefore(q);
  ASSERT_LT(valley, second + kRate / 100) << "the valley lies before the second attack";
  Slicer h(standardSlicer());
  feed(h, sig);
  EXPECT_EQ(stopWaveSlice(h), 2u);
  const SliceRecord *first = getWaveSlice(h, 0), *last = getWaveSlice(h, 1);
  ASSERT_TRUE(first && last);
  EXPECT_TRUE(first->next == last && last->prev == first);
  EXPECT_EQ(first->start, timeOf(static_cast<uint32_t>(0.3 * kRate) - 1));
  EXPECT_EQ(first->end, timeOf(valley)) << "seconds";
  EXPECT_EQ(last->start, first->end);
  EXPECT_GT(last->end, timeOf(static_cast<uint32_t>(1.0 * kRate)));
}

TEST(WaveSlice, MisuseIsRefused) {
  EXPECT_EQ(initWaveSlice(kBlock, 1, 0, -20.0f, -40.0f, 10.0f, 0.05f), nullptr);
  EXPECT_EQ(initWaveSlice(0, 1, kRate, -20.0f, -40.0f, 10.0f, 0.05f), nullptr);
  // Nonsense levels and times make a slicer that never slices, not a crash.
  Slicer odd(initWaveSlice(kBlock, 1, kRate, NAN, INFINITY, -5.0f, NAN));
  feed(odd, Signal().add(0.2, 0.0).add(0.2, 0.9));
  EXPECT_EQ(stopWaveSlice(odd), 0u);

  Slicer h(standardSlicer());
  DspEffect* gone = standardSlicer();
  DspEffect* fft = initFft(256, 1, 1, 120);
  ASSERT_TRUE(gone && fft);
  ASSERT_EQ(termWaveSlice(gone), 1u);
  std::vector<int16_t> pcm(2 * kBlock + 2, 1000);
  EXPECT_EQ(doWaveSlice(h, pcm.data(), 2 * kBlock + 2), 0u);  // above capacity
  EXPECT_EQ(doWaveSlice(h, nullptr, 2), 0u);
  EXPECT_EQ(doWaveSlice(h, nullptr, 0), 1u);
  dspfx::test::expectAllRefuse<DspEffect>(
      {fft, nullptr, gone}, [&](DspEffect* e) { return doWaveSlice(e, pcm.data(), 2); },
      [](DspEffect* e) { return getWaveSlice(e, 0); }, [](DspEffect* e) { return stopWaveSlice(e); },
      [](DspEffect* e) { return termWaveSlice(e); });
  EXPECT_EQ(termFft(h), 0u);
  EXPECT_EQ(termFft(fft), 1u);
}

}  // namespace

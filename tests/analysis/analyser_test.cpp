#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "dsp/fft_frame.h"
#include "common/test_support.h"
#include "dspfx/dspfx.h"

namespace {

using dspfx::test::Guarded;
using dspfx::test::kPi;

constexpr float kGuard = 12345.0f;

// Interleaved stereo block: a full-scale sine on bin kl left, kr right
// (0 for silence).
std::vector<int16_t> stereoBins(uint32_t frames, uint32_t size, uint32_t kl, uint32_t kr) {
  std::vector<int16_t> pcm(2 * size_t{frames});
  for (uint32_t i = 0; i < frames; ++i) {
    pcm[2 * i] = static_cast<int16_t>(kl ? 32767 * std::sin(2 * kPi * kl * i / size) : 0);
    pcm[2 * i + 1] = static_cast<int16_t>(kr ? 32767 * std::sin(2 * kPi * kr * i / size) : 0);
  }
  return pcm;
}

// The spectrum the analysers should report for a frame of PCM-scale floats.
std::vector<float> blockSpectrum(const std::vector<float>& frame, float floorDb) {
  dspfx::BlockSpectrumFrame f;
  EXPECT_TRUE(f.setup(576, 1344, static_cast<uint32_t>(frame.size()), floorDb));
  f.analyse(frame.data());
  std::vector<float> out(frame.size() / 2);
  f.magnitudesDb(out.data());
  return out;
}

std::vector<float> toFloat(const std::vector<int16_t>& pcm) {
  std::vector<float> v(pcm.size());
  for (size_t i = 0; i < pcm.size(); ++i) v[i] = static_cast<float>(pcm[i] * (1.0 / 32767.0));
  return v;
}

TEST(Fft, SilenceGivesTheFloorAndTheBinCount) {
  DspEffect* h = initFft(1024, 1, 1, 90);
  DspEffect* sliding = initFftAnalyze(256, 2, 512, 2048);  // two spectra, floor fixed at -120 dB
  ASSERT_TRUE(h && sliding);
  std::vector<int16_t> pcm(1024, 0);
  Guarded<float> out(512, kGuard), two(512, kGuard);
  EXPECT_EQ(doFft(h, pcm.data(), out.get(), 2048), 512u);
  EXPECT_EQ(doFftAnalyze(sliding, pcm.data(), two.get(), 1024), 1u);
  EXPECT_TRUE(out.intact() && two.intact());
  for (size_t k = 0; k < 512; ++k) ASSERT_TRUE(out.data[k] == -90.0f && two.data[k] == -120.0f) << k;
  // An empty block is the spectrum of silence too.
  EXPECT_EQ(doFft(h, nullptr, out.get(), 0), 512u);
  EXPECT_EQ(termFft(h) + termFftAnalyze(sliding), 2u);
}

TEST(Fft, FullScaleSineReadsQuarterSizeInItsBinAndTheDownmixHalvesIt) {
  for (uint32_t size : {256u, 1024u, 4096u}) {
    DspEffect* two = initFft(size, 2, 2, 120);
    DspEffect* one = initFft(size, 2, 1, 120);
    ASSERT_TRUE(two && one);
    const uint32_t k = size / 16 + 1;
    const std::vector<int16_t> pcm = stereoBins(size, size, k, 2 * k);
    Guarded<float> both(size, kGuard), mixed(size / 2, kGuard);
    EXPECT_EQ(doFft(two, pcm.data(), both.get(), 4 * size), size / 2);
    EXPECT_EQ(doFft(one, pcm.data(), mixed.get(), 4 * size), size / 2);
    EXPECT_TRUE(both.intact() && mixed.intact());
    const double expected = 20 * std::log10(size / 4.0);
    // 16-bit rounding of the sine moves the peak by far less than 0.1 dB.
    EXPECT_NEAR(both.data[k], expected, 0.1) << "left, size " << size;
    EXPECT_NEAR(both.data[size / 2 + 2 * k], expected, 0.1) << "right, size " << size;
    EXPECT_LT(both.data[2 * k], expected - 60) << "left has no right tone";
    // The downmix halves each tone: 6 dB below the separate spectra.
    EXPECT_NEAR(mixed.data[k], both.data[k] - 6.02, 0.05) << "size " << size;
    EXPECT_NEAR(mixed.data[2 * k], both.data[size / 2 + 2 * k] - 6.02, 0.05) << "size " << size;
    EXPECT_EQ(termFft(two) + termFftAnalyze(one), 2u);
  }

  // A mono object asked for two spectra writes its spectrum twice.
  DspEffect* mono = initFft(512, 1, 2, 120);
  ASSERT_NE(mono, nullptr);
  const std::vector<int16_t> left(512, 1000);
  Guarded<float> twice(512, kGuard);
  EXPECT_EQ(doFft(mono, left.data(), twice.get(), 1024), 256u);
  EXPECT_TRUE(std::equal(twice.data.begin(), twice.data.begin() + 256, twice.data.begin() + 256));
  EXPECT_TRUE(twice.intact());
  EXPECT_EQ(termEnvAnalyze(mono), 1u);
}

TEST(Fft, ShortBlockIsZeroPadded) {
  const uint32_t size = 1024;
  DspEffect* h = initFft(size, 1, 1, 120);
  ASSERT_NE(h, nullptr);
  std::vector<int16_t> pcm(size, 0);
  for (uint32_t i = 0; i < 300; ++i) pcm[i] = static_cast<int16_t>(20000 * std::sin(0.3 * i));
  std::vector<float> full(size / 2), shortBlock(size / 2);
  doFft(h, pcm.data(), full.data(), 2 * size);
  // Stale samples beyond the short block must not leak into its spectrum.
  std::vector<int16_t> noisy = pcm;
  for (uint32_t i = 300; i < size; ++i) noisy[i] = 9999;
  doFft(h, noisy.data(), shortBlock.data(), 2 * size);
  doFft(h, pcm.data(), shortBlock.data(), 2 * 300);
  EXPECT_EQ(full, shortBlock);
  EXPECT_EQ(termFft(h), 1u);
}

TEST(FftAnalyze, HistoryOverlapsAndAdvancesByCapacity) {
  const uint32_t cap = 512, size = 1024;
  DspEffect* h = initFftAnalyze(cap, 1, size, 1024);
  ASSERT_NE(h, nullptr);
  std::vector<int16_t> a(cap), b(cap);
  for (uint32_t i = 0; i < cap; ++i) {
    a[i] = static_cast<int16_t>(15000 * std::sin(0.07 * i));
    b[i] = static_cast<int16_t>(-9000 * std::cos(0.21 * i));
  }
  const std::vector<float> fa = toFloat(a), fb = toFloat(b), none(cap, 0.0f);
  Guarded<float> out(size / 2, kGuard);
  // Sends `frames` of block and expects the spectrum of older + newer.
  auto expectFrame = [&](const std::vector<int16_t>& block, uint32_t frames, const std::vector<float>& older,
                         std::vector<float> newer) {
    EXPECT_EQ(doFftAnalyze(h, block.data(), out.get(), 2 * frames), 1u);
    std::vector<float> frame(older);
    frame.insert(frame.end(), newer.begin(), newer.end());
    EXPECT_EQ(std::vector<float>(out.data.begin(), out.data.end() - 1), blockSpectrum(frame, 120));
  };
  expectFrame(a, cap, none, fa);  // the older half starts as silent history
  expectFrame(b, cap, fa, fb);    // half overlapping the first frame
  // A short block still moves the history by a whole block.
  std::vector<float> shortA(cap, 0.0f);
  std::copy(fa.begin(), fa.begin() + 100, shortA.begin());
  expectFrame(a, 100, fb, shortA);
  EXPECT_TRUE(out.intact());
  EXPECT_EQ(termFftAnalyze(h), 1u);
}

TEST(Analysers, FamiliesRefuseEachOtherAndMisuse) {
  for (DspEffect* bad : {initFft(1000, 1, 1, 120), initFft(2, 1, 1, 120), initFft(65536, 1, 1, 120),
                         initFft(0, 2, 1, 120), initFftAnalyze(512, 1, 1000, 2048),
                         initFftAnalyze(512, 1, 1024, 1000),   // history below fftSize
                         initFftAnalyze(4096, 1, 1024, 2048),  // history below capacity
                         initFftAnalyze(0, 1, 1024, 2048), initEnvAnalyze(512, 1, 0),
                         initEnvAnalyze(512, 1, 66),  // 33 Hz must lie below half the rate
                         initEnvAnalyze(0, 1, 44100), initEnvAnalyze(0xFFFFFFFFu, 2, 44100)}) {
    EXPECT_EQ(bad, nullptr);
  }
  DspEffect* fft = initFft(256, 1, 1, 100);
  DspEffect* sliding = initFftAnalyze(256, 1, 256, 512);
  DspEffect* env = initEnvAnalyze(256, 1, 44100);
  DspEffect* gone = initFft(256, 1, 1, 100);
  DspEffect* other = initIirFilter(256, 1, 44100, 2, 1000.0f, 0);
  ASSERT_TRUE(fft && sliding && env && gone && other);
  ASSERT_EQ(termFft(gone), 1u);
  std::vector<int16_t> pcm(512, 100);
  Guarded<float> out(256, kGuard);
  using Do = uint32_t (*)(DspEffect*, const int16_t*, float*, uint32_t);
  auto refused = [&](std::initializer_list<DspEffect*> bad, Do call) {
    dspfx::test::expectAllRefuse<DspEffect>(bad, [&](DspEffect* e) { return call(e, pcm.data(), out.get(), 512); });
  };
  refused({nullptr, gone, sliding, env}, doFft);
  refused({nullptr, gone, fft, env}, doFftAnalyze);
  refused({nullptr, gone, fft, sliding}, doEnvAnalyze);
  dspfx::test::expectAllRefuse<DspEffect>({nullptr, gone, other}, termFft, termFftAnalyze, termEnvAnalyze);
  EXPECT_EQ(out.data[0], 0.0f);  // nothing written
  EXPECT_EQ(doFft(fft, pcm.data(), nullptr, 512), 0u);
  EXPECT_EQ(doFft(fft, nullptr, out.get(), 512), 0u);
  EXPECT_EQ(doFft(fft, pcm.data(), out.get(), 514), 0u);  // 257 frames > 256
  EXPECT_EQ(doFftAnalyze(sliding, pcm.data(), nullptr, 0), 0u);
  EXPECT_EQ(doEnvAnalyze(env, pcm.data(), out.get(), 1024), 0u);
  EXPECT_EQ(out.data[0], 0.0f);
  EXPECT_EQ(doFft(fft, pcm.data(), out.get(), 513), 128u);  // the odd byte is ignored
  EXPECT_TRUE(out.intact());

  // One destroy function under three names: any of them takes any analyser.
  EXPECT_EQ(termEnvAnalyze(fft) + termFft(sliding) + termFftAnalyze(env), 3u);
  EXPECT_EQ(termIirFilter(other), 1u);
}

TEST(Analysers, ChainReformatKeepsTheTransformFed) {
  // A chain may set an analyser up for smaller and then larger blocks; the
  // buffers must still hold a whole transform and the spectrum count stays.
  DspEffect* h = initFft(1024, 2, 2, 120);
  DspChain* chain = dspCreate(1024, 2, 44100);
  ASSERT_TRUE(h && chain);
  ASSERT_EQ(dspAdd(chain, h, 0), 1u);
  dspAdjust(chain, 256, 1, 44100);
  dspAdjust(chain, 512, 2, 44100);
  const std::vector<int16_t> pcm = stereoBins(512, 1024, 40, 80);
  Guarded<float> out(1024, kGuard);
  EXPECT_EQ(doFft(h, pcm.data(), out.get(), 512 * 4), 512u);
  EXPECT_TRUE(out.intact());
  EXPECT_GT(out.data[512 + 80], out.data[512 + 40] + 30) << "second spectrum is the right channel";
  EXPECT_EQ(termFft(h), 0u);  // the chain owns it now
  dspDestroy(chain);
}

}  // namespace

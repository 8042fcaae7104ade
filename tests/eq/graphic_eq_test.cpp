#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/exports/export_call.h"
#include "dspfx/dspfx.h"
#include "eq/graphic_eq_effect.h"
#include "eq_test_util.h"

namespace {

using namespace dspfx;
using namespace dspfx::test;

GraphicEqEffect& object(DspEffect* h) { return *dspfx::effectOf<GraphicEqEffect>(h); }

// Output level minus input level in dB of a sine at hz through the effect.
double measuredGainDb(DspEffect* h, double hz, double rate, uint32_t frames = 16384) {
  const auto in = sinePcm(hz, rate, frames, 1, 0.2);
  std::vector<int16_t> out(in.size());
  EXPECT_EQ(doGraphicEQ(h, in.data(), out.data(), frames * 2), 1u);
  // A pole radius of 0.995 rings down by 80 dB within 4000 samples.
  return toneLevelDb(out.data(), frames, hz, rate, 4000) - toneLevelDb(in.data(), frames, hz, rate, 4000);
}

TEST(GraphicEq, EqualRadiiPassTheInputScaledByTheBandGain) {
  const GraphicEqBand band{1000, 0, 0.9f, 0.9f};
  DspEffect* h = initGraphicEQ(512, 2, 44100, 1, &band, 0.0f);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(object(h).banks[0].section(0)->normaliser, 1.0f);  // H(z) = 1
  auto in = sinePcm(333, 44100, 512, 2, 0.4);
  in[1] = -1234;  // channels differ
  std::vector<int16_t> out(in.size());
  ASSERT_EQ(doGraphicEQ(h, in.data(), out.data(), 2048), 1u);
  for (size_t i = 0; i < in.size(); ++i) ASSERT_NEAR(out[i], in[i], 1.0) << i;  // one 16-bit step
  ASSERT_EQ(setGraphicEQGain(h, 0, 6.0f), 1u);
  ASSERT_EQ(doGraphicEQ(h, in.data(), in.data(), 2048), 1u);  // in place
  for (size_t i = 0; i < in.size(); ++i) ASSERT_NEAR(in[i], out[i] * 1.9952623, 2.0) << i;
  EXPECT_EQ(termGraphicEQ(h), 1u);
}

TEST(GraphicEq, MeasuredGainIsBandGainPlusMaster) {
  const GraphicEqBand band{2000, 3.0f, 0.0f, 0.995f};
  DspEffect* h = initGraphicEQ(16384, 1, 44100, 1, &band, -2.0f);
  ASSERT_NE(h, nullptr);
  EXPECT_NEAR(measuredGainDb(h, 2000, 44100), 1.0, 0.02);
  ASSERT_EQ(setGraphicEQMasterGain(h, 0.0f), 1u);
  EXPECT_NEAR(measuredGainDb(h, 2000, 44100), 3.0, 0.02);
  EXPECT_LT(measuredGainDb(h, 6000, 44100), -20.0);  // a resonance, nothing passes far off it
  EXPECT_EQ(termGraphicEQ(h), 1u);
}

TEST(GraphicEq, BandIndexBoundsAndLayoutSurvivingARateChange) {
  const GraphicEqBand bands[2] = {{300, -3.0f, 0.2f, 0.99f}, {4000, 5.0f, 0.1f, 0.98f}};
  DspEffect* h = initGraphicEQ(16384, 1, 44100, 2, bands, 0.0f);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(setGraphicEQGain(h, 2, 1.0f), 0u);
  EXPECT_EQ(remakeGraphicEQBand(h, 2, 100.0f, 0.1f, 0.5f), 0u);
  EXPECT_EQ(setGraphicEQGain(h, 1, 4.0f), 1u);
  EXPECT_EQ(remakeGraphicEQBand(h, 1, 6000.0f, 0.3f, 0.995f), 1u);
  GraphicEqEffect& e = object(h);
  EXPECT_NEAR(sectionDb(*e.banks[0].section(1), 6000), 4.0, 1e-4);  // remake kept the gain

  // A new rate redesigns from the stored layout, the remake included.
  ASSERT_EQ(e.setup(16384, 1, 48000), 48000u);
  for (const ResonatorBank& b : e.banks) {
    EXPECT_NEAR(sectionDb(*b.section(1), 6000), 4.0, 1e-4);
    EXPECT_NEAR(sectionDb(*b.section(0), 300), -3.0, 1e-4);
  }
  // The 300 Hz band adds well under 0.1 dB at 6 kHz.
  EXPECT_NEAR(measuredGainDb(h, 6000, 48000), 4.0, 0.1);
  EXPECT_EQ(termGraphicEQ(h), 1u);
}

TEST(GraphicEq, MonoKeepsBankOneCurrentAndSameRateSetupKeepsState) {
  const GraphicEqBand bands[2] = {{500, 2.0f, 0.5f, 0.97f}, {3000, -4.0f, 0.4f, 0.96f}};
  DspEffect* h = initGraphicEQ(256, 1, 32000, 2, bands, 1.0f);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(setGraphicEQGain(h, 0, -1.0f), 1u);
  ASSERT_EQ(remakeGraphicEQBand(h, 1, 2500.0f, 0.3f, 0.95f), 1u);
  ASSERT_EQ(setGraphicEQMasterGain(h, -2.0f), 1u);
  const auto in = sinePcm(700, 32000, 256, 1);
  std::vector<int16_t> out(256);
  ASSERT_EQ(doGraphicEQ(h, in.data(), out.data(), 512), 1u);
  GraphicEqEffect& e = object(h);
  for (uint32_t k = 0; k < 2; ++k) {
    const ResonatorSection &a = *e.banks[0].section(k), &b = *e.banks[1].section(k);
    EXPECT_TRUE(a.a1 == b.a1 && a.b1 == b.b1 && a.effectiveGain == b.effectiveGain) << k;
    EXPECT_EQ(b.w1, 0.0f);  // bank 1 never ran
  }
  EXPECT_EQ(e.banks[0].masterGain, e.banks[1].masterGain);
  const float w1 = e.banks[0].section(0)->w1, w2 = e.banks[0].section(0)->w2;
  ASSERT_NE(w1, 0.0f);
  ASSERT_EQ(e.setup(4096, 1, 32000), 32000u);
  EXPECT_TRUE(e.banks[0].section(0)->w1 == w1 && e.banks[0].section(0)->w2 == w2);
  EXPECT_EQ(e.banks[0].section(0)->linearGain, static_cast<float>(std::pow(10.0, -0.05)));
  // The larger blocks may now be processed in place.
  EXPECT_GE(e.banks[0].capacityFrames, 4096u);
  std::vector<float> x(4096, 0.25f);
  EXPECT_EQ(e.processChannel(0, x.data(), x.data(), 4096), 4096u);
  EXPECT_EQ(termGraphicEQ(h), 1u);
}

TEST(GraphicEq, EmptyLayoutMisuseAndForeignHandles) {
  DspEffect* silent = initGraphicEQ(32, 2, 44100, 0, nullptr, 0.0f);
  ASSERT_NE(silent, nullptr);
  std::vector<int16_t> in(64, 5000);
  Guarded<int16_t> out(64, 777);
  ASSERT_EQ(doGraphicEQ(silent, in.data(), out.get(), 128), 1u);
  EXPECT_EQ(std::vector<int16_t>(out.data.begin(), out.data.end() - 1), std::vector<int16_t>(64, 0));
  EXPECT_TRUE(out.intact());
  EXPECT_EQ(setGraphicEQGain(silent, 0, 1.0f), 0u);

  const GraphicEqBand band{1000, 0, 0.5f, 0.9f};
  EXPECT_EQ(initGraphicEQ(32, 2, 44100, 1, nullptr, 0.0f), nullptr);
  EXPECT_EQ(initGraphicEQ(32, 2, 0, 1, &band, 0.0f), nullptr);
  EXPECT_EQ(initGraphicEQ(0x7FFFFFFF, 2, 44100, 1, &band, 0.0f), nullptr);

  EXPECT_EQ(doGraphicEQ(silent, in.data(), out.get(), 33 * 4), 0u);  // above capacity
  EXPECT_EQ(doGraphicEQ(silent, in.data(), nullptr, 4), 0u);
  EXPECT_EQ(doGraphicEQ(silent, nullptr, nullptr, 0), 1u);
  const float gain = 0.0f;
  DspEffect* shelf = initShelvingEQ(32, 2, 44100, 1, &gain, 0.0f);
  DspEffect* gone = initGraphicEQ(32, 2, 44100, 1, &band, 0.0f);
  ASSERT_TRUE(shelf && gone);
  ASSERT_EQ(termGraphicEQ(gone), 1u);
  expectAllRefuse<DspEffect>({nullptr, shelf, gone}, [&](DspEffect* e) { return doGraphicEQ(e, in.data(), out.get(), 8); },
                             [](DspEffect* e) { return setGraphicEQGain(e, 0, 1.0f); },
                             [](DspEffect* e) { return setGraphicEQMasterGain(e, 1.0f); },
                             [](DspEffect* e) { return remakeGraphicEQBand(e, 0, 1.0f, 0.1f, 0.2f); },
                             [](DspEffect* e) { return termGraphicEQ(e); });
  EXPECT_EQ(termShelvingEQ(shelf) + termGraphicEQ(silent), 2u);
}

// Degenerate designs (zeros or poles on the unit circle, NaN, infinities)
// give nonsense audio, but every call returns normally and stays in bounds.
TEST(EqRobustness, NonsenseParametersNeverBreakACall) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const GraphicEqBand bands[5] = {
      {1000, 0, 1.0f, 0.5f}, {2000, 0, 0.5f, 1.0f}, {nan, inf, nan, 2.0f}, {-5000, -inf, 0, 0}, {1e9f, 1e30f, 1, 1}};
  DspEffect* g = initGraphicEQ(256, 2, 44100, 5, bands, nan);
  ASSERT_NE(g, nullptr);
  const float gains[4] = {nan, inf, -inf, 1e30f};
  DspEffect* s = initShelvingEQ(256, 2, 44100, 4, gains, inf);
  ASSERT_NE(s, nullptr);
  const auto in = sinePcm(440, 44100, 256, 2);
  Guarded<int16_t> out(512, 777);
  for (int round = 0; round < 4; ++round) {
    EXPECT_EQ(doGraphicEQ(g, in.data(), out.get(), 1024), 1u);
    EXPECT_EQ(doShelvingEQ(s, in.data(), out.get(), 1024), 1u);
    EXPECT_EQ(setGraphicEQGain(g, 4, nan), 1u);
    EXPECT_EQ(remakeGraphicEQBand(g, 0, inf, -1.0f, nan), 1u);
    EXPECT_EQ(setShelvingEQGain(s, 3, -inf), 1u);
  }
  EXPECT_EQ(object(g).setup(512, 2, 0), 0u);  // no rate: the last design stays
  EXPECT_EQ(object(g).outRate, 44100u);
  EXPECT_TRUE(out.intact());
  EXPECT_EQ(termGraphicEQ(g), 1u);
  EXPECT_EQ(termShelvingEQ(s), 1u);
}

}  // namespace

#include <gtest/gtest.h>

#include "common/test_support.h"

#include <vector>

#include "core/exports/export_call.h"
#include "core/test_effects.h"
#include "dspfx/dspfx.h"

namespace {

using namespace dspfx;
using test::DecimateEffect;
using test::ScaleEffect;

template <class T = ScaleEffect>
DspEffect* make(uint32_t frames, uint32_t channels, uint32_t rate, float factor = 2.0f) {
  return createEffect<T>([&](T& e) {
    e.factor = factor;
    return e.setup(frames, channels, rate) != 0 || rate == 0;
  });
}

template <class T = ScaleEffect>
int setups(DspEffect* h) {
  return dspfx::effectOf<T>(h)->setups;
}

TEST(DspChain, EmptyChainCopiesAndReportsItsOwnFormat) {
  DspChain* c = dspCreate(64, 2, 44100);
  ASSERT_NE(c, nullptr);
  const std::vector<int16_t> in = {1, -2, 3, -4, 5, -6};
  std::vector<int16_t> out(6, 0);
  EXPECT_EQ(dspSend(c, in.data(), out.data(), 12), 12u);
  EXPECT_EQ(out, in);
  // The float path passes the whole interleaved block of a stereo chain.
  const std::vector<float> fin = {0.1f, 0.2f, 0.3f, 0.4f};
  std::vector<float> fout(4, 0.0f);
  EXPECT_EQ(dspSendFloat(c, fin.data(), fout.data(), 2), 2u);
  // A count whose byte size wraps 32 bits is refused, not copied short.
  EXPECT_EQ(dspSendFloat(c, fin.data(), fout.data(), 0x20000000u), 0u);
  EXPECT_EQ(fout, fin);
  EXPECT_TRUE(dspGetDstRate(c) == 44100u && dspGetDstChannels(c) == 2u && dspGetDstSize(c, 1234) == 1234u);
  EXPECT_EQ(dspGetHandle(c, 0), nullptr);
  dspDestroy(c);
}

TEST(DspChain, KeepsEffectsSortedStablyByOrderUntilCleared) {
  DspChain* c = dspCreate(16, 1, 8000);
  // {factor, order}: equal orders keep the order they were added in.
  const int added[4][2] = {{5, 5}, {1, 1}, {6, 5}, {3, 3}};
  DspEffect* e[4];
  for (uint32_t i = 0; i < 4; ++i) {
    e[i] = make(16, 1, 8000, static_cast<float>(added[i][0]));
    EXPECT_EQ(dspAdd(c, e[i], added[i][1]), i + 1);
  }
  const DspEffect* sorted[] = {e[1], e[3], e[0], e[2], nullptr};
  for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(dspGetHandle(c, i), sorted[i]) << i;
  // No conversion between effects: the product survives beyond 16-bit steps.
  const int16_t in[2] = {10, -3};
  int16_t out[2] = {};
  EXPECT_EQ(dspSend(c, in, out, 4), 4u);
  EXPECT_PCM(out[0], 900);
  EXPECT_PCM(out[1], -270);
  // Clearing destroys the effects (stale handles); the chain takes new ones.
  dspClear(c);
  EXPECT_EQ(dspGetHandle(c, 0), nullptr);
  EXPECT_EQ(dspGetDstRate(c), 8000u);
  EXPECT_EQ(destroyEffect<ScaleEffect>(e[1]), 0u);
  EXPECT_EQ(dspAdd(c, make(16, 1, 8000), 7), 1u);
  dspDestroy(c);
}

TEST(DspChain, PropagatesFormatsAndSetsUpOnlyOnChange) {
  DspChain* c = dspCreate(100, 2, 44100);
  DspEffect* dec = make<DecimateEffect>(100, 2, 44100);
  DspEffect* eq = make(50, 2, 22050);
  const int decSetups = setups<DecimateEffect>(dec), eqSetups = setups(eq);
  ASSERT_EQ(dspAdd(c, dec, 0), 1u);
  ASSERT_EQ(dspAdd(c, eq, 1), 2u);
  // Both already matched what reaches them: no setup.
  EXPECT_TRUE(setups<DecimateEffect>(dec) == decSetups && setups(eq) == eqSetups);
  EXPECT_EQ(dspGetDstRate(c), 22050u);
  EXPECT_EQ(dspGetDstSize(c, 1001), 500u);
  dspAdjust(c, 100, 2, 44100);
  EXPECT_EQ(setups<DecimateEffect>(dec), decSetups);
  dspAdjust(c, 100, 2, 48000);
  EXPECT_TRUE(setups<DecimateEffect>(dec) == decSetups + 1 && setups(eq) == eqSetups + 1);
  auto& second = *dspfx::effectOf<ScaleEffect>(eq);
  EXPECT_EQ(second.inRate, 24000u);
  EXPECT_EQ(dspGetDstRate(c), 24000u);
  dspAdjust(c, 400, 2, 48000);
  EXPECT_EQ(second.capacityFrames(), 200u);
  std::vector<int16_t> in(800, 100), out(800, -1);
  EXPECT_EQ(dspSend(c, in.data(), out.data(), 1600), 800u);  // 200 stereo frames
  EXPECT_PCM(out[0], 200);
  EXPECT_PCM(out[399], 200);
  EXPECT_EQ(out[400], -1);  // nothing beyond what was reported
  // Blocks above the first effect's capacity are refused untouched.
  EXPECT_EQ(dspSend(c, in.data(), out.data(), 1604), 0u);
  dspDestroy(c);
}

TEST(DspChain, MonoInStereoOutEndWritesBothChannels) {
  DspChain* c = dspCreate(8, 1, 8000);
  ASSERT_EQ(dspAdd(c, make<test::MonoToStereoEffect>(8, 1, 8000), 0), 1u);
  EXPECT_EQ(dspGetDstChannels(c), 2u);
  // The last effect takes one channel in: its left output goes to both sides.
  const int16_t in[3] = {100, -200, 300};
  int16_t out[7] = {0, 0, 0, 0, 0, 0, 77};
  EXPECT_EQ(dspSend(c, in, out, 6), 12u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_PCM(out[2 * i], in[i]);
    EXPECT_EQ(out[2 * i + 1], out[2 * i]);
  }
  EXPECT_EQ(out[6], 77);
  const float fin[2] = {0.25f, -0.5f};
  float fout[5] = {0, 0, 0, 0, 9};
  EXPECT_EQ(dspSendFloat(c, fin, fout, 2), 2u);
  EXPECT_EQ(test::asVector(fout), (std::vector<float>{0.25f, 0.25f, -0.5f, -0.5f, 9.0f}));
  dspDestroy(c);
}

TEST(DspChain, AFormatTheEffectsCannotTakeStopsTheChainUntilOneTheyCan) {
  DspChain* c = dspCreate(64, 2, 32000);
  ASSERT_EQ(dspAdd(c, make(64, 2, 32000), 0), 1u);
  // Too many frames to allocate for, and mono: the host now sizes its
  // buffers for one channel, so the effect must not go on reading two.
  dspAdjust(c, 0x40000001u, 1, 32000);
  std::vector<float> mono(48, 0.25f), out(96, -1.0f);
  std::vector<int16_t> pcm(48, 100), pcmOut(96, -1);
  EXPECT_EQ(dspSendFloat(c, mono.data(), out.data(), 48), 0u);
  EXPECT_EQ(dspSend(c, pcm.data(), pcmOut.data(), 96), 0u);
  EXPECT_EQ(out[0], -1.0f);
  dspAdjust(c, 48, 1, 32000);
  EXPECT_EQ(dspSendFloat(c, mono.data(), out.data(), 48), 48u);
  EXPECT_EQ(out[47], 0.5f);
  dspDestroy(c);
}

TEST(DspChain, MisuseIsRefused) {
  DspChain* c = dspCreate(32, 2, 44100);
  DspChain* other = dspCreate(32, 2, 44100);
  DspChain* gone = dspCreate(32, 2, 44100);
  DspEffect* a = make(32, 2, 44100);
  dspDestroy(gone);
  int junk[32] = {};
  EXPECT_EQ(dspAdd(c, nullptr, 0) + dspAdd(c, reinterpret_cast<DspEffect*>(junk), 0), 0u);
  EXPECT_EQ(dspAdd(c, a, 0), 1u);
  EXPECT_EQ(dspAdd(c, a, 1), 1u);      // already in this chain
  EXPECT_EQ(dspAdd(other, a, 0), 0u);  // already in another chain
  // The chain owns it now: the family's term refuses it.
  EXPECT_EQ(destroyEffect<ScaleEffect>(a), 0u);
  // An effect without buffers is refused.
  ScaleEffect* bare = new ScaleEffect;
  ASSERT_TRUE(handleRegistry().add(bare, HandleKind::kEffect));
  EXPECT_EQ(dspAdd(other, toHandle(bare), 0), 0u);
  EXPECT_EQ(destroyEffect<ScaleEffect>(toHandle(bare)), 1u);
  // Chain and effect handles are not interchangeable; null, destroyed and
  // foreign chains get 0 from every call.
  EXPECT_EQ(destroyEffect<ScaleEffect>(reinterpret_cast<DspEffect*>(c)), 0u);
  int16_t pcm[4] = {};
  float fl[4] = {};
  DspEffect* b = make(32, 2, 44100);
  test::expectAllRefuse<DspChain>(
      {nullptr, gone, reinterpret_cast<DspChain*>(a), reinterpret_cast<DspChain*>(junk)},
      [&](DspChain* x) { return dspAdd(x, b, 0); }, [](DspChain* x) { return dspGetHandle(x, 0); },
      dspGetDstRate, dspGetDstChannels, [](DspChain* x) { return dspGetDstSize(x, 4); },
      [&](DspChain* x) { return dspSend(x, pcm, pcm, 4); }, [&](DspChain* x) { return dspSendFloat(x, fl, fl, 1); });
  EXPECT_EQ(destroyEffect<ScaleEffect>(b), 1u) << "refused adds leave the effect with the host";
  // Missing buffers and a zero-length block produce nothing.
  EXPECT_EQ(dspSend(c, nullptr, pcm, 4) + dspSendFloat(c, fl, nullptr, 1) + dspSend(c, pcm, pcm, 0), 0u);
  for (DspChain* x : {gone, static_cast<DspChain*>(nullptr)}) {
    dspClear(x);
    dspAdjust(x, 1, 1, 1);
    dspDestroy(x);
  }
  EXPECT_EQ(dspGetDstRate(c), 44100u) << "misuse left the live chain alone";
  dspDestroy(other);
  dspDestroy(c);
}

}  // namespace

#include <gtest/gtest.h>

#include "common/test_support.h"

#include <vector>

#include "core/exports/export_call.h"
#include "core/test_effects.h"
#include "dspfx/dspfx.h"

namespace {

using namespace dspfx;
using test::DecimateEffect;
using test::MonoToStereoEffect;
using test::ScaleEffect;

template <class T = ScaleEffect>
DspEffect* make(uint32_t frames, uint32_t channels, uint32_t rate, float factor = 2.0f) {
  return createEffect<T>([&](T& e) {
    e.factor = factor;
    return e.setup(frames, channels, rate) != 0 || rate == 0;
  });
}

template <class T = ScaleEffect>
T& as(DspEffect* h) {
  return *reinterpret_cast<T*>(h);
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
  EXPECT_EQ(fout, fin);
  EXPECT_EQ(dspGetDstRate(c), 44100u);
  EXPECT_EQ(dspGetDstChannels(c), 2u);
  EXPECT_EQ(dspGetDstSize(c, 1234), 1234u);
  EXPECT_EQ(dspGetHandle(c, 0), nullptr);
  dspDestroy(c);
}

TEST(DspChain, KeepsEffectsSortedStablyByOrder) {
  DspChain* c = dspCreate(16, 1, 8000);
  DspEffect* e5a = make(16, 1, 8000, 5);
  DspEffect* e1 = make(16, 1, 8000, 1);
  DspEffect* e5b = make(16, 1, 8000, 6);
  DspEffect* e3 = make(16, 1, 8000, 3);
  EXPECT_EQ(dspAdd(c, e5a, 5), 1u);
  EXPECT_EQ(dspAdd(c, e1, 1), 2u);
  EXPECT_EQ(dspAdd(c, e5b, 5), 3u);
  EXPECT_EQ(dspAdd(c, e3, 3), 4u);
  EXPECT_EQ(dspGetHandle(c, 0), e1);
  EXPECT_EQ(dspGetHandle(c, 1), e3);
  EXPECT_EQ(dspGetHandle(c, 2), e5a);
  EXPECT_EQ(dspGetHandle(c, 3), e5b);
  EXPECT_EQ(dspGetHandle(c, 4), nullptr);
  // The block goes through all four without conversion in between: the
  // product of the factors must survive beyond 16-bit resolution steps.
  const int16_t in[2] = {10, -3};
  int16_t out[2] = {};
  EXPECT_EQ(dspSend(c, in, out, 4), 4u);
  EXPECT_PCM(out[0], 900);
  EXPECT_PCM(out[1], -270);
  dspDestroy(c);
}

TEST(DspChain, PropagatesFormatsAndSetsUpOnlyOnChange) {
  DspChain* c = dspCreate(100, 2, 44100);
  DspEffect* dec = make<DecimateEffect>(100, 2, 44100);
  DspEffect* eq = make(50, 2, 22050);
  const int decSetups = as<DecimateEffect>(dec).setups;
  const int eqSetups = as(eq).setups;
  ASSERT_EQ(dspAdd(c, dec, 0), 1u);
  ASSERT_EQ(dspAdd(c, eq, 1), 2u);
  // Both already matched what reaches them: no setup.
  EXPECT_EQ(as<DecimateEffect>(dec).setups, decSetups);
  EXPECT_EQ(as(eq).setups, eqSetups);
  EXPECT_EQ(dspGetDstRate(c), 22050u);
  EXPECT_EQ(dspGetDstSize(c, 1001), 500u);
  dspAdjust(c, 100, 2, 44100);
  EXPECT_EQ(as<DecimateEffect>(dec).setups, decSetups);
  dspAdjust(c, 100, 2, 48000);
  EXPECT_EQ(as<DecimateEffect>(dec).setups, decSetups + 1);
  EXPECT_EQ(as(eq).setups, eqSetups + 1);
  EXPECT_EQ(as(eq).inRate, 24000u);
  EXPECT_EQ(dspGetDstRate(c), 24000u);
  dspAdjust(c, 400, 2, 48000);
  EXPECT_EQ(as(eq).capacityFrames, 200u);
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
  ASSERT_EQ(dspAdd(c, make<MonoToStereoEffect>(8, 1, 8000), 0), 1u);
  EXPECT_EQ(dspGetDstChannels(c), 2u);
  const int16_t in[3] = {100, -200, 300};
  int16_t out[7] = {0, 0, 0, 0, 0, 0, 77};
  // The last effect takes one channel in, so its left output is written to
  // both sides.
  EXPECT_EQ(dspSend(c, in, out, 6), 12u);
  EXPECT_PCM(out[0], 100);
  EXPECT_EQ(out[1], out[0]);
  EXPECT_PCM(out[4], 300);
  EXPECT_EQ(out[5], out[4]);
  EXPECT_EQ(out[6], 77);
  const float fin[2] = {0.25f, -0.5f};
  float fout[5] = {0, 0, 0, 0, 9};
  EXPECT_EQ(dspSendFloat(c, fin, fout, 2), 2u);
  EXPECT_EQ(fout[0], 0.25f);
  EXPECT_EQ(fout[1], 0.25f);
  EXPECT_EQ(fout[3], -0.5f);
  EXPECT_EQ(fout[4], 9.0f);
  dspDestroy(c);
}

TEST(DspChain, ClearDestroysEffectsAndTheChainIsReusable) {
  DspChain* c = dspCreate(32, 2, 44100);
  DspEffect* a = make(32, 2, 44100);
  ASSERT_EQ(dspAdd(c, a, 0), 1u);
  dspClear(c);
  EXPECT_EQ(dspGetHandle(c, 0), nullptr);
  EXPECT_EQ(dspGetDstRate(c), 44100u);
  // a is gone: its handle is stale now.
  EXPECT_EQ(destroyEffect<ScaleEffect>(a), 0u);
  DspEffect* b = make(32, 2, 44100);
  EXPECT_EQ(dspAdd(c, b, 7), 1u);
  dspDestroy(c);
}

TEST(DspChain, MisuseIsRefused) {
  DspChain* c = dspCreate(32, 2, 44100);
  DspChain* other = dspCreate(32, 2, 44100);
  DspEffect* a = make(32, 2, 44100);
  int junk[32] = {};
  EXPECT_EQ(dspAdd(c, nullptr, 0), 0u);
  EXPECT_EQ(dspAdd(c, reinterpret_cast<DspEffect*>(junk), 0), 0u);
  EXPECT_EQ(dspAdd(nullptr, a, 0), 0u);
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
  // A chain handle is not an effect handle and vice versa.
  EXPECT_EQ(destroyEffect<ScaleEffect>(reinterpret_cast<DspEffect*>(c)), 0u);
  EXPECT_EQ(dspGetDstRate(reinterpret_cast<DspChain*>(a)), 0u);
  int16_t pcm[4] = {};
  EXPECT_EQ(dspSend(c, nullptr, pcm, 4), 0u);
  EXPECT_EQ(dspSend(nullptr, pcm, pcm, 4), 0u);
  EXPECT_EQ(dspSend(c, pcm, pcm, 0), 0u);  // a zero-length block produces nothing
  dspDestroy(other);
  dspDestroy(c);
  dspDestroy(c);  // stale: ignored
  dspDestroy(nullptr);
  dspClear(nullptr);
  dspAdjust(nullptr, 1, 1, 1);
}

}  // namespace

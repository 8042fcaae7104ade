#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>
#include <utility>
#include <vector>

#include "common/test_support.h"
#include "core/lookup_tables.h"
#include "core/sample_convert.h"
#include "dspfx/dspfx.h"
#include "fade/cross_fade_ramp.h"
#include "fade/fade_ramp.h"
#include "fade/fader_effect.h"

namespace {

using namespace dspfx;
using test::toDb;

constexpr uint32_t kRate = 44100;

// What a sample becomes after PCM -> float -> gain -> PCM.
int16_t scaled(int16_t x, float gain) { return floatToPcmScalar(gain * static_cast<float>(x * kPcmToFloat)); }

using Action = std::array<float, 3>;  // start s, end s, target dB

// A ramp at 44100 Hz from 0 dB with the actions scheduled in the order given.
struct Ramp : FadeRamp {
  explicit Ramp(std::initializer_list<Action> actions = {}) {
    init(4096, static_cast<float>(kRate), 0.0f);
    for (const Action& a : actions) add(a);
  }
  void add(const Action& a) {
    ActionSpares spares;
    ASSERT_TRUE(spares.make(true));
    schedule(a[0], a[1], a[2], spares);
  }
  void remove(float start, float end) {
    ActionSpares spares;
    ASSERT_TRUE(spares.make(false));
    clear(start, end, spares);
  }
  // Gains applied over the next frames, fed in blocks of block frames.
  std::vector<float> gains(uint32_t frames, uint32_t block = 4096) {
    std::vector<float> ones(frames, 1.0f), out(frames);
    for (uint32_t at = 0; at < frames; at += block) run(ones.data() + at, out.data() + at, std::min(block, frames - at));
    return out;
  }
  // Frames exactly; cut targets come from float arithmetic, hence 1e-4 dB.
  void expectActions(const std::vector<std::array<double, 3>>& want) const {
    size_t i = 0;
    for (const FaderAction* a = head; a; a = a->next, ++i) {
      ASSERT_LT(i, want.size()) << "more actions than expected";
      EXPECT_EQ(a->start, want[i][0]) << "action " << i;
      EXPECT_EQ(a->end, want[i][1]) << "action " << i;
      EXPECT_NEAR(a->target, want[i][2], 1e-4) << "action " << i;
    }
    EXPECT_EQ(i, want.size());
  }
};

using Levels = std::vector<std::pair<uint32_t, double>>;  // frame, dB

// The dB table's interpolation errs below 0.01 dB.
void expectLevels(const std::vector<float>& g, const Levels& want) {
  for (auto [frame, db] : want) EXPECT_NEAR(toDb(g[frame]), db, 0.01) << "frame " << frame;
}

TEST(FadeRamp, OneSecondRampToMinus20Db) {
  Ramp u({{1, 2, -20}});
  EXPECT_EQ(u.frameOf(1.0f), 44100u);
  EXPECT_EQ(u.frameOf(2.0f), 88200u);
  ASSERT_TRUE(u.pending);
  const std::vector<float> g = u.gains(3 * kRate);
  for (uint32_t i : {0u, 1000u, 44099u, 44100u}) EXPECT_EQ(g[i], 1.0f) << "frame " << i;
  // Halfway along the dB line; the last computed frame is one step short of
  // -20 dB, and that gain holds.
  expectLevels(g, {{66150, -10.0}, {88199, -20.0 * 44099 / 44100}});
  EXPECT_GT(g[88199], dbToGain(-20.0f));
  for (uint32_t i = 44101; i < 88200; ++i) ASSERT_LE(g[i], g[i - 1]) << "frame " << i;
  for (uint32_t i = 88200; i < 3 * kRate; i += 997) ASSERT_EQ(g[i], g[88199]) << "frame " << i;
  EXPECT_TRUE(!u.running && !u.pending && !u.head && u.currentLevel == -20.0f);
  // Past, current-frame, empty and reversed ranges are ignored (now at 3 s).
  for (const Action& a : {Action{0.5f, 1.5f, -6}, {3, 4, -6}, {4, 4, -6}, {5, 4.5f, -6}, {-1, 5, -6}}) u.add(a);
  EXPECT_TRUE(!u.head && !u.pending);
  // The block size does not matter.
  EXPECT_EQ(Ramp({{1, 2, -20}}).gains(3 * kRate, 777), g);
}

TEST(FadeRamp, ActionsAreOrderedCutAndSplit) {
  const struct {
    const char* what;
    std::vector<Action> actions;
    std::vector<std::array<double, 3>> want;
    Levels levels;
  } cases[] = {
      {"out of order, played in time order",
       {{3, 4, -10}, {1, 2, -20}},
       {{44100, 88200, -20}, {132300, 176400, -10}},
       {{66150, -10}, {110250, -20}, {154350, -15}, {4 * kRate + 100, -10}}},  // held between, then -20 to -10
      // A third action across both cuts the first at its start and the
      // second at its end; the first ends at the level its ramp reached.
      {"overlapping both",
       {{1, 2, -20}, {3, 4, -10}, {1.5f, 3.5f, -30}},
       {{44100, 66150, -10}, {66150, 154350, -30}, {154350, 176400, -10}},
       {{110250, -20}, {165375, -20}, {4 * kRate + 100, -10}}},  // -10 at 1.5 s to -30 at 3.5 s to -10 at 4 s
      // A cut action that is not the head ends on the line from the target
      // of the action before it.
      {"cut behind the head",
       {{1, 2, -20}, {3, 5, -10}, {4, 6, -30}},
       {{44100, 88200, -20}, {132300, 176400, -15}, {176400, 264600, -30}},
       {}},
      // An action inside a longer one splits it: the first part ends where
      // the new one starts, the rest resumes after it with the old target.
      {"inside a longer one",
       {{1, 4, -30}, {2, 3, -5}},
       {{44100, 88200, -10}, {88200, 132300, -5}, {132300, 176400, -30}},
       {{110250, -7.5}, {154350, -17.5}, {4 * kRate + 100, -30}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Ramp u;
    for (const Action& a : c.actions) u.add(a);
    u.expectActions(c.want);
    expectLevels(u.gains(5 * kRate), c.levels);
  }
}

TEST(FadeRamp, ScheduleIntoARunningRampKeepsItsLine) {
  Ramp u({{1, 3, -20}});
  u.gains(88200);  // halfway, at -10 dB
  ASSERT_TRUE(u.running);
  u.add({2.5f, 3.5f, 0});  // cuts the running head at -15 dB
  EXPECT_FLOAT_EQ(u.head->target, -15.0f);
  // 2.25 s: still on the old line; 3 s: from -15 at 2.5 s to 0 at 3.5 s.
  expectLevels(u.gains(2 * kRate), {{11025, -12.5}, {44100, -7.5}});
}

TEST(FadeRamp, ClearingARange) {
  Ramp u({{1, 3, -20}});
  u.remove(2.0f, 4.0f);
  u.expectActions({{44100, 88200, -10}});
  u.remove(0.5f, 10.0f);
  EXPECT_TRUE(!u.head && !u.pending);
  for (float x : u.gains(4 * kRate)) ASSERT_EQ(x, 1.0f);

  // Removing the head gives the next action a slope from the current level.
  Ramp v({{1, 2, -20}, {3, 4, -10}});
  v.remove(0.5f, 2.5f);
  v.expectActions({{132300, 176400, -10}});
  const std::vector<float> g = v.gains(5 * kRate);
  EXPECT_EQ(g[2 * kRate], 1.0f);
  expectLevels(g, {{154350, -5.0}});
}

TEST(CrossFadeRamp, DefaultLawAtNamedPositions) {
  CrossFadeRamp x;
  x.init(1024, static_cast<float>(kRate), 0.0f);
  const double silent = -INFINITY;
  // Between the positions the law is linear in dB: A rises from b at -0.8
  // to a at 0 and to 0 dB at +0.05; B mirrors it.
  const struct {
    float position;
    double dbA, dbB;
  } points[] = {
      {0.0f, -1.0, -1.0},       {0.05f, 0.0, -1.0 - 39.0 / 0.8 * 0.05},
      {0.5f, 0.0, -25.375},     {0.8f, 0.0, -40.0},
      {0.8001f, 0.0, silent},   {1.0f, 0.0, silent},
      {-0.025f, -1.0 - 39.0 / 0.8 * 0.025, -0.5},
      {-0.05f, -3.4375, 0.0},   {-0.8f, -40.0, 0.0},
      {-0.81f, silent, 0.0},    {-1.0f, silent, 0.0},
  };
  for (const auto& p : points) {
    x.gainOf(p.position);
    for (auto [gain, want, name] : {std::tuple{x.gainA, p.dbA, "A"}, std::tuple{x.gainB, p.dbB, "B"}}) {
      // dB table interpolation: within 0.01 dB.
      if (std::isinf(want)) {
        EXPECT_EQ(gain, 0.0f) << name << " at " << p.position;
      } else {
        EXPECT_NEAR(toDb(gain), want, 0.01) << name << " at " << p.position;
      }
    }
  }
  // Positions beyond the ends are clamped when a ramp plays them.
  ActionSpares spares;
  ASSERT_TRUE(spares.make(true));
  x.schedule(0.01f, 0.02f, 3.0f, spares);
  std::vector<float> a(1000, 1.0f), b(1000, 1.0f), out(1000);
  x.mix(a.data(), b.data(), out.data(), 1000);
  EXPECT_EQ(x.level, 1.0f);
  EXPECT_EQ(out[999], 1.0f);  // A alone

  // A zero-width centre: only the position 0 itself is at a dB; just right
  // of it A is at 0 dB; halfway to |d| A is at (a + b) / 2.
  x.setCurve(-6.0f, -30.0f, 0.0f, -0.5f);
  x.gainOf(0.0f);
  EXPECT_NEAR(toDb(x.gainA), -6.0, 0.01);
  EXPECT_NEAR(toDb(x.gainB), -6.0, 0.01);
  x.gainOf(1e-6f);
  EXPECT_EQ(x.gainA, 1.0f);
  x.gainOf(-0.25f);
  EXPECT_NEAR(toDb(x.gainA), -18.0, 0.01);
  EXPECT_EQ(x.gainB, 1.0f);
}

class FaderApi : public ::testing::Test {
 protected:
  void TearDown() override {
    if (h) {
      EXPECT_EQ(termFader(h), 1u);
    }
  }
  DspEffect* h = nullptr;
};

TEST_F(FaderApi, ZeroDbPassesAudioAndFadersKeepTheirOwnTimelines) {
  h = initFader(4096, 2, kRate, 0.0f, 0.0f, -6.0f);
  ASSERT_NE(h, nullptr);
  const std::vector<int16_t> in = test::sinePcm(440, kRate, 4096, 2, 0.8);
  std::vector<int16_t> out(in.size());
  ASSERT_EQ(doFade(h, 0, in.data(), out.data(), 4096 * 4), 1u);
  for (size_t i = 0; i < in.size(); ++i) ASSERT_EQ(out[i], scaled(in[i], 1.0f)) << i;
  // Fader 1 runs 1 s; fader 0 is still at frame 4096, so an action at 0.5 s
  // is in its future.
  for (int i = 0; i < 11; ++i) ASSERT_EQ(doFade(h, 1, in.data(), out.data(), 4096 * 4), 1u);
  EXPECT_EQ(out[10], scaled(in[10], dbToGain(-6.0f)));
  ASSERT_EQ(setFaderAction(h, 0, 0.5f, 0.6f, -20.0f), 1u);
  const std::vector<int16_t> dc(2 * 4096, 16384);
  std::vector<int16_t> faded(dc.size());
  for (int i = 0; i < 7; ++i) ASSERT_EQ(doFade(h, 0, dc.data(), faded.data(), 4096 * 4), 1u);
  // Frame 7 * 4096 - 1 lies past 0.6 s: the gain is one step short of -20 dB.
  EXPECT_NEAR(faded.back(), 16384 * 0.1, 2.0);
  EXPECT_EQ(faded[faded.size() - 1], faded[faded.size() - 2]);
}

TEST_F(FaderApi, CrossFadeRunsBothFadersThenTheLaw) {
  h = initFader(1024, 2, kRate, 0.0f, -6.0f, 0.0f);
  ASSERT_NE(h, nullptr);
  std::vector<int16_t> a(2048), b(2048), out(2048);
  for (size_t i = 0; i < a.size(); ++i) {
    a[i] = static_cast<int16_t>(10000 + i);
    b[i] = static_cast<int16_t>(-4000 - 3 * i);
  }
  ASSERT_EQ(doCrossFade(h, a.data(), b.data(), out.data(), 4096), 1u);
  const float g1 = dbToGain(-1.0f), g6 = dbToGain(-6.0f);
  for (size_t i = 0; i < out.size(); ++i) {
    const float fa = g6 * static_cast<float>(a[i] * kPcmToFloat), fb = static_cast<float>(b[i] * kPcmToFloat);
    ASSERT_EQ(out[i], floatToPcmScalar(g1 * fb + g1 * fa)) << i;
  }
  // Move to +1 within the next block; then A (through fader 0) plays alone.
  // out may be one of the inputs.
  ASSERT_EQ(setCrossFaderAction(h, 0.025f, 0.035f, 1.0f), 1u);
  std::vector<int16_t> a2 = a;
  ASSERT_EQ(doCrossFade(h, a2.data(), b.data(), a2.data(), 4096), 1u);
  for (size_t i = 1600; i < 2048; ++i) ASSERT_EQ(a2[i], scaled(a[i], g6)) << i;
}

TEST_F(FaderApi, ASetupRestartsTheTimelineAndKeepsTheCurve) {
  h = initFader(1024, 2, kRate, 0.0f, 0.0f, 0.0f);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(setCrossFaderCurve(h, -6.0f, -30.0f, 0.1f, 0.5f), 1u);
  ASSERT_EQ(setFaderAction(h, 0, 1.0f, 2.0f, -20.0f), 1u);
  DspChain* chain = dspCreate(1024, 2, kRate);
  ASSERT_NE(chain, nullptr);
  ASSERT_EQ(dspAdd(chain, h, 0), 1u);
  dspAdjust(chain, 2048, 2, 48000);
  auto* e = reinterpret_cast<FaderEffect*>(h);
  EXPECT_EQ(e->capacityFrames, 2048u);
  for (FadeRamp& u : e->faderUnits) {
    EXPECT_TRUE(u.head == nullptr && u.position == 0u);
    EXPECT_EQ(u.frameOf(1.0f), 48000u);
  }
  for (CrossFadeRamp& u : e->crossUnits) {
    EXPECT_EQ(u.curveA, -6.0f);
    EXPECT_NEAR(toDb(u.gainA), -6.0, 0.01);
    EXPECT_NEAR(toDb(u.gainB), -6.0, 0.01);
  }
  // The chain owns the effect now: set and do calls work, term refuses.
  std::vector<int16_t> a(4096, 8000), b(4096, 8000), out(4096);
  EXPECT_EQ(doCrossFade(h, a.data(), b.data(), out.data(), 8192), 1u);
  EXPECT_EQ(out[0], floatToPcmScalar(2 * dbToGain(-6.0f) * static_cast<float>(8000 * kPcmToFloat)));
  EXPECT_EQ(termFader(h), 0u);
  h = nullptr;
  dspDestroy(chain);
}

TEST_F(FaderApi, MisuseIsRefused) {
  h = initFader(64, 2, kRate, 0.0f, 0.0f, 0.0f);
  DspEffect* other = initChorus(64, 2, kRate, 1, 10.0f, 0.0f, 0.0f, 50.0f, 100.0f);
  DspEffect* gone = initFader(64, 2, kRate, 0.0f, 0.0f, 0.0f);
  ASSERT_TRUE(h && other && gone);
  ASSERT_EQ(termFader(gone), 1u);
  test::Guarded<int16_t> out(128, 4321);
  const std::vector<int16_t> in(130, 1000);
  for (int32_t bad : {2, -1, 1000}) {
    EXPECT_EQ(doFade(h, bad, in.data(), out.get(), 256), 0u);
    EXPECT_EQ(setFaderAction(h, bad, 1.0f, 2.0f, -6.0f), 0u);
    EXPECT_EQ(delFaderAction(h, bad, 1.0f, 2.0f), 0u);
  }
  EXPECT_EQ(doFade(h, 0, in.data(), out.get(), 260), 0u);  // 65 frames > 64
  EXPECT_EQ(doCrossFade(h, in.data(), nullptr, out.get(), 256), 0u);
  EXPECT_EQ(doCrossFade(h, in.data(), in.data(), out.get(), 260), 0u);
  test::expectAllRefuse<DspEffect>(
      {other, nullptr, gone}, [&](DspEffect* e) { return doFade(e, 0, in.data(), out.get(), 256); },
      [&](DspEffect* e) { return doCrossFade(e, in.data(), in.data(), out.get(), 256); },
      [](DspEffect* e) { return setFaderAction(e, 0, 1.0f, 2.0f, -6.0f); },
      [](DspEffect* e) { return delFaderAction(e, 0, 1.0f, 2.0f); },
      [](DspEffect* e) { return setCrossFaderAction(e, 1.0f, 2.0f, 1.0f); },
      [](DspEffect* e) { return delCrossFaderAction(e, 1.0f, 2.0f); },
      [](DspEffect* e) { return setCrossFaderCurve(e, -1.0f, -40.0f, 0.05f, 0.8f); },
      [](DspEffect* e) { return termFader(e); });
  EXPECT_EQ(out.get()[0], 0);
  EXPECT_EQ(doFade(h, 0, nullptr, nullptr, 0), 1u);
  EXPECT_EQ(doCrossFade(h, nullptr, nullptr, nullptr, 0), 1u);
  EXPECT_EQ(doFade(h, 0, in.data(), out.get(), 256), 1u);
  EXPECT_TRUE(out.intact());
  EXPECT_EQ(setFaderAction(h, 0, NAN, 2.0f, -6.0f), 0u);
  EXPECT_EQ(setFaderAction(h, 0, 1.0f, 2.0f, INFINITY), 0u);
  EXPECT_EQ(setCrossFaderCurve(h, NAN, -40.0f, 0.05f, 0.8f), 0u);
  EXPECT_EQ(setFaderAction(h, 0, 1.0f, INFINITY, -6.0f), 1u);  // never ends
  EXPECT_EQ(termChorus(other), 1u);
  EXPECT_EQ(initFader(64, 2, kRate, NAN, 0.0f, 0.0f), nullptr);
  // A zero rate puts every time at frame 0: nothing can be scheduled, audio
  // passes at the initial level.
  DspEffect* z = initFader(64, 1, 0, 0.0f, -6.0f, 0.0f);
  ASSERT_NE(z, nullptr);
  EXPECT_EQ(setFaderAction(z, 0, 0.0f, 1e9f, -20.0f), 1u);
  EXPECT_EQ(reinterpret_cast<FaderEffect*>(z)->fader(0, 0).head, nullptr);
  EXPECT_EQ(doFade(z, 0, in.data(), out.get(), 128), 1u);
  EXPECT_EQ(out.get()[0], scaled(1000, dbToGain(-6.0f)));
  EXPECT_EQ(termFader(z), 1u);
}

}  // namespace

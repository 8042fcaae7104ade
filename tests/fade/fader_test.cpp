#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "common/test_support.h"
#include "core/lookup_tables.h"
#include "core/sample_convert.h"
#include "core/exports/export_call.h"
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

// '+' schedules {start s, end s, target dB}, '-' clears {start s, end s},
// '>' plays {frames} at unit gain.
struct Op {
  char kind;
  float a, b = 0, c = 0;
};

// A ramp at 44100 Hz from 0 dB.
struct Ramp : FadeRamp {
  explicit Ramp(std::initializer_list<Op> ops = {}) {
    init(4096, static_cast<float>(kRate), 0.0f);
    for (const Op& op : ops) apply(op);
  }
  void apply(const Op& op) {
    ActionSpares spares;
    ASSERT_TRUE(spares.make(op.kind == '+'));
    if (op.kind == '+') schedule(op.a, op.b, op.c, spares);
    if (op.kind == '-') clear(op.a, op.b, spares);
    if (op.kind == '>') gains(static_cast<uint32_t>(op.a));
  }
  // Gains applied over the next frames, fed in blocks of block frames.
  std::vector<float> gains(uint32_t frames, uint32_t block = 4096) {
    std::vector<float> ones(frames, 1.0f), out(frames);
    for (uint32_t at = 0; at < frames; at += block) run(ones.data() + at, out.data() + at, std::min(block, frames - at));
    return out;
  }
};

// The dB table's interpolation errs below 0.01 dB; silence is exactly 0.
void expectDb(float gain, double want, const char* what, double at) {
  if (std::isinf(want)) {
    EXPECT_EQ(gain, 0.0f) << what << " at " << at;
  } else {
    EXPECT_NEAR(toDb(gain), want, 0.01) << what << " at " << at;
  }
}

TEST(FadeRamp, ARampHoldsItsLastStep) {
  Ramp u({{'+', 1, 2, -20}});
  EXPECT_EQ(u.frameOf(1.0f), 44100u);
  const std::vector<float> g = u.gains(3 * kRate);
  EXPECT_EQ(g[44100], 1.0f);
  // The last frame is one step short of -20 dB, and that gain holds.
  EXPECT_GT(g[88199], dbToGain(-20.0f));
  for (uint32_t i = 44102; i < 88200; ++i) ASSERT_LT(g[i], g[i - 1]) << "frame " << i;
  for (uint32_t i = 88200; i < 3 * kRate; i += 997) ASSERT_EQ(g[i], g[88199]) << "frame " << i;
  EXPECT_TRUE(!u.running && !u.pending && !u.head && u.currentLevel == -20.0f);
  EXPECT_EQ(Ramp({{'+', 1, 2, -20}}).gains(3 * kRate, 777), g) << "the block size must not matter";
}

TEST(FadeRamp, ActionsAreOrderedCutSplitAndCleared) {
  const struct {
    const char* what;
    std::vector<Op> ops;
    std::vector<std::array<double, 3>> actions;     // start frame, end frame, target dB
    std::vector<std::pair<uint32_t, double>> levels;  // frame, dB over the next 5 s
  } cases[] = {
      // Halfway, held between, then -20 to -10.
      {"out of order, played in time order", {{'+', 3, 4, -10}, {'+', 1, 2, -20}},
       {{44100, 88200, -20}, {132300, 176400, -10}},
       {{44099, 0}, {66150, -10}, {88199, -20.0 * 44099 / 44100}, {110250, -20}, {154350, -15}, {4 * kRate + 100, -10}}},
      // A third across both cuts the first at its start, the second at its end.
      {"overlapping both", {{'+', 1, 2, -20}, {'+', 3, 4, -10}, {'+', 1.5f, 3.5f, -30}},
       {{44100, 66150, -10}, {66150, 154350, -30}, {154350, 176400, -10}},
       {{110250, -20}, {165375, -20}, {4 * kRate + 100, -10}}},
      // A cut action behind the head ends on the line from its predecessor's target.
      {"cut behind the head", {{'+', 1, 2, -20}, {'+', 3, 5, -10}, {'+', 4, 6, -30}},
       {{44100, 88200, -20}, {132300, 176400, -15}, {176400, 264600, -30}}, {}},
      // An action inside a longer one splits it around itself.
      {"inside a longer one", {{'+', 1, 4, -30}, {'+', 2, 3, -5}},
       {{44100, 88200, -10}, {88200, 132300, -5}, {132300, 176400, -30}},
       {{110250, -7.5}, {154350, -17.5}, {4 * kRate + 100, -30}}},
      // A new action cuts the running head at -15 dB; levels count from 2 s.
      {"into a running ramp", {{'+', 1, 3, -20}, {'>', 88200}, {'+', 2.5f, 3.5f, 0}},
       {{44100, 110250, -15}, {110250, 154350, 0}}, {{11025, -12.5}, {44100, -7.5}}},
      {"past, current-frame, empty and reversed ranges",
       {{'>', 3 * kRate}, {'+', 0.5f, 1.5f, -6}, {'+', 3, 4, -6}, {'+', 4, 4, -6}, {'+', 5, 4.5f, -6}, {'+', -1, 5, -6}},
       {}, {{kRate, 0}}},
      {"cleared in part", {{'+', 1, 3, -20}, {'-', 2, 4}}, {{44100, 88200, -10}}, {}},
      {"cleared entirely", {{'+', 1, 3, -20}, {'-', 0.5f, 10}}, {}, {{66150, 0}, {2 * kRate, 0}}},
      // Removing the head gives the next action a slope from the current level.
      {"head cleared", {{'+', 1, 2, -20}, {'+', 3, 4, -10}, {'-', 0.5f, 2.5f}}, {{132300, 176400, -10}},
       {{2 * kRate, 0}, {154350, -5.0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Ramp u;
    for (const Op& op : c.ops) u.apply(op);
    // Frames exactly; cut targets come from float arithmetic, hence 1e-4 dB.
    size_t i = 0;
    for (const FaderAction* a = u.head; a && i < c.actions.size(); a = a->next, ++i) {
      EXPECT_TRUE(a->start == c.actions[i][0] && a->end == c.actions[i][1])
          << "action " << i << ": frames " << a->start << "-" << a->end;
      EXPECT_NEAR(a->target, c.actions[i][2], 1e-4) << "action " << i;
    }
    EXPECT_EQ(u.actionCount(), c.actions.size());
    EXPECT_EQ(u.pending, u.head != nullptr);
    const std::vector<float> g = u.gains(5 * kRate);
    for (auto [frame, db] : c.levels) expectDb(g[frame], db, "frame", frame);
  }
}

TEST(CrossFadeRamp, DefaultLawAtNamedPositions) {
  CrossFadeRamp x;
  x.init(1024, static_cast<float>(kRate), 0.0f);
  const double off = -INFINITY;
  // Linear in dB between the positions: A from b at -0.8 to a at 0 and
  // 0 dB at +0.05; B mirrors it.
  const struct {
    float position;
    double dbA, dbB;
  } points[] = {
      {0.0f, -1.0, -1.0},     {0.05f, 0.0, -1.0 - 39.0 / 0.8 * 0.05}, {0.5f, 0.0, -25.375},
      {0.8f, 0.0, -40.0},     {0.8001f, 0.0, off},                    {1.0f, 0.0, off},
      {-0.025f, -1.0 - 39.0 / 0.8 * 0.025, -0.5},                     {-0.05f, -3.4375, 0.0},
      {-0.8f, -40.0, 0.0},    {-0.81f, off, 0.0},                     {-1.0f, off, 0.0},
  };
  for (const auto& p : points) {
    x.gainOf(p.position);
    expectDb(x.gainA, p.dbA, "A", p.position);
    expectDb(x.gainB, p.dbB, "B", p.position);
  }
  // Positions beyond the ends are clamped when a ramp plays them.
  ActionSpares spares;
  ASSERT_TRUE(spares.make(true));
  x.schedule(0.01f, 0.02f, 3.0f, spares);
  std::vector<float> a(1000, 1.0f), b(1000, 1.0f), out(1000);
  x.mix(a.data(), b.data(), out.data(), 1000);
  EXPECT_EQ(x.level, 1.0f);
  EXPECT_EQ(out[999], 1.0f);  // A alone

  // A zero-width centre: a dB at 0 only, A at 0 dB just right of it.
  x.setCurve(-6.0f, -30.0f, 0.0f, -0.5f);
  for (auto [at, dbA, dbB] : {std::array<double, 3>{0.0, -6.0, -6.0}, {1e-6, 0.0, -6.0}, {-0.25, -18.0, 0.0}}) {
    x.gainOf(static_cast<float>(at));
    expectDb(x.gainA, dbA, "A", at);
    if (at <= 0) expectDb(x.gainB, dbB, "B", at);
  }
}

TEST(FaderApi, CrossFadeMixesTheFadersAndEachFaderKeepsItsTimeline) {
  DspEffect* h = initFader(1024, 2, kRate, 0.0f, -6.0f, 0.0f);
  ASSERT_NE(h, nullptr);
  std::vector<int16_t> a(2048), b(2048), out(2048);
  for (size_t i = 0; i < a.size(); ++i) {
    a[i] = static_cast<int16_t>(10000 + i);
    b[i] = static_cast<int16_t>(-4000 - 3 * i);
  }
  // Position 0 of the default law: both sides at -1 dB, A through fader 0.
  ASSERT_EQ(doCrossFade(h, a.data(), b.data(), out.data(), 4096), 1u);
  const float g1 = dbToGain(-1.0f), g6 = dbToGain(-6.0f);
  for (size_t i = 0; i < out.size(); ++i) {
    const float fa = g6 * static_cast<float>(a[i] * kPcmToFloat), fb = static_cast<float>(b[i] * kPcmToFloat);
    ASSERT_EQ(out[i], floatToPcmScalar(g1 * fb + g1 * fa)) << i;
  }
  // Move to +1 within the next block, out being one of the inputs.
  ASSERT_EQ(setCrossFaderAction(h, 0.025f, 0.035f, 1.0f), 1u);
  std::vector<int16_t> a2 = a;
  ASSERT_EQ(doCrossFade(h, a2.data(), b.data(), a2.data(), 4096), 1u);
  for (size_t i = 1600; i < 2048; ++i) ASSERT_EQ(a2[i], scaled(a[i], g6)) << i;

  // Fader 1 runs on past 1 s while fader 0 is still at frame 2048.
  const std::vector<int16_t> in = test::sinePcm(440, kRate, 1024, 2, 0.8);
  for (int i = 0; i < 44; ++i) ASSERT_EQ(doFade(h, 1, in.data(), out.data(), 4096), 1u);
  for (size_t i = 0; i < in.size(); ++i) ASSERT_EQ(out[i], scaled(in[i], 1.0f)) << i;
  ASSERT_EQ(setFaderAction(h, 0, 0.5f, 0.6f, -20.0f), 1u);
  const std::vector<int16_t> dc(2048, 16384);
  for (int i = 0; i < 26; ++i) ASSERT_EQ(doFade(h, 0, dc.data(), out.data(), 4096), 1u);
  // Frame 28671 lies past 0.6 s: the gain is one step short of -20 dB.
  EXPECT_NEAR(out.back(), 16384 * 0.1, 2.0);
  EXPECT_EQ(termFader(h), 1u);
}

TEST(FaderApi, ASetupRestartsTheTimelineAndKeepsTheCurve) {
  DspEffect* h = initFader(1024, 2, kRate, 0.0f, 0.0f, 0.0f);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(setCrossFaderCurve(h, -6.0f, -30.0f, 0.1f, 0.5f), 1u);
  ASSERT_EQ(setFaderAction(h, 0, 1.0f, 2.0f, -20.0f), 1u);
  DspChain* chain = dspCreate(1024, 2, kRate);
  ASSERT_EQ(dspAdd(chain, h, 0), 1u);
  dspAdjust(chain, 2048, 2, 48000);
  auto* e = dspfx::effectOf<FaderEffect>(h);
  EXPECT_EQ(e->capacityFrames(), 2048u);
  for (FadeRamp& u : e->faderUnits) {
    EXPECT_TRUE(u.head == nullptr && u.position == 0u);
    EXPECT_EQ(u.frameOf(1.0f), 48000u);
  }
  // Position 0 on the kept curve: both at its -6 dB.
  std::vector<int16_t> a(4096, 8000), b(4096, 8000), out(4096);
  EXPECT_EQ(doCrossFade(h, a.data(), b.data(), out.data(), 8192), 1u);
  EXPECT_EQ(out[0], floatToPcmScalar(2 * dbToGain(-6.0f) * static_cast<float>(8000 * kPcmToFloat)));
  EXPECT_EQ(termFader(h), 0u) << "the chain owns it";
  dspDestroy(chain);
}

TEST(FaderApi, MisuseIsRefused) {
  DspEffect* h = initFader(64, 2, kRate, 0.0f, 0.0f, 0.0f);
  DspEffect* other = initChorus(64, 2, kRate, 1, 10.0f, 0.0f, 0.0f, 50.0f, 100.0f);
  DspEffect* gone = initFader(64, 2, kRate, 0.0f, 0.0f, 0.0f);
  ASSERT_TRUE(h && other && gone);
  ASSERT_EQ(termFader(gone), 1u);
  test::Guarded<int16_t> out(128, 4321);
  const std::vector<int16_t> in(130, 1000);
  for (int32_t bad : {2, -1, 1000}) {
    EXPECT_EQ(doFade(h, bad, in.data(), out.get(), 256) + setFaderAction(h, bad, 1.0f, 2.0f, -6.0f) +
                  delFaderAction(h, bad, 1.0f, 2.0f),
              0u)
        << "fader " << bad;
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
      [](DspEffect* e) { return setCrossFaderCurve(e, -1.0f, -40.0f, 0.05f, 0.8f); }, termFader);
  EXPECT_EQ(out.get()[0], 0);
  // Empty blocks succeed without buffers; a real one stays inside its output.
  EXPECT_EQ(doFade(h, 0, nullptr, nullptr, 0) + doCrossFade(h, nullptr, nullptr, nullptr, 0), 2u);
  EXPECT_EQ(doFade(h, 0, in.data(), out.get(), 256), 1u);
  EXPECT_TRUE(out.intact());
  EXPECT_EQ(setFaderAction(h, 0, NAN, 2.0f, -6.0f) + setFaderAction(h, 0, 1.0f, 2.0f, INFINITY) +
                setCrossFaderCurve(h, NAN, -40.0f, 0.05f, 0.8f),
            0u);
  EXPECT_EQ(setFaderAction(h, 0, 1.0f, INFINITY, -6.0f), 1u);  // never ends
  EXPECT_EQ(termChorus(other) + termFader(h), 2u);
  EXPECT_EQ(initFader(64, 2, kRate, NAN, 0.0f, 0.0f), nullptr);
  // A zero rate puts every time at frame 0: nothing is scheduled.
  DspEffect* z = initFader(64, 1, 0, 0.0f, -6.0f, 0.0f);
  ASSERT_NE(z, nullptr);
  EXPECT_EQ(setFaderAction(z, 0, 0.0f, 1e9f, -20.0f), 1u);
  EXPECT_EQ(dspfx::effectOf<FaderEffect>(z)->fader(0, 0).head, nullptr);
  EXPECT_EQ(doFade(z, 0, in.data(), out.get(), 128), 1u);
  EXPECT_EQ(out.get()[0], scaled(1000, dbToGain(-6.0f)));
  EXPECT_EQ(termFader(z), 1u);
}

}  // namespace

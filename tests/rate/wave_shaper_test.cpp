// The exciter's transfer curve.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "common/test_support.h"
#include "rate/wave_shaper.h"

namespace {

using dspfx::TransferPoint;
using dspfx::WaveShaper;

// (0,0) first, (1,1) flat last, x strictly rising inside the box, every
// slope the difference quotient to the next point.
void expectWellFormed(const WaveShaper& s, float harmonics) {
  const TransferPoint* p = s.first();
  ASSERT_EQ(p->x, 0.0f);
  ASSERT_EQ(p->y, 0.0f);
  uint32_t n = 1;
  for (; p->next; p = p->next, ++n) {
    ASSERT_LT(p->x, p->next->x) << "harmonics " << harmonics;
    ASSERT_EQ(p->next->prev, p);
    ASSERT_TRUE(p->y >= -1.0f && p->y <= 1.0f);
    ASSERT_EQ(p->slope, (p->next->y - p->y) / (p->next->x - p->x)) << "harmonics " << harmonics;
  }
  EXPECT_EQ(p->x, 1.0f);
  EXPECT_EQ(p->y, 1.0f);
  EXPECT_EQ(p->slope, 0.0f);
  EXPECT_EQ(n, s.count);
}

TEST(WaveShaper, PointsLieOnTheBezierAreClampedAndZeroIsTheIdentity) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  for (float h : {0.0f, 0.1f, 0.3f, -0.3f, 0.7f, 0.75f, 0.9f, -0.9f, 3.0f, -5.0f, nan, inf}) {
    WaveShaper s;
    s.build(h);
    expectWellFormed(s, h);
  }
  WaveShaper s;
  s.build(0.0f);
  const auto x = dspfx::test::noiseFloat(5000, 1);
  std::vector<float> y(x.size());
  s.apply(x.data(), y.data(), 5000);
  EXPECT_EQ(x, y);  // so the harmonic signal, shaped minus unshaped, is exactly 0

  s.build(0.3f);
  const uint32_t full = s.count;
  s.build(0.9f);  // past 0.7071 the first points fall below x = 0 and are dropped
  EXPECT_LT(s.count, full);
  s.build(3.0f);  // far out, y runs into its clamp
  int atOne = 0;
  for (const TransferPoint* p = s.first(); p; p = p->next) atOne += p->y == 1.0f;
  EXPECT_GT(atOne, 1);
}

TEST(WaveShaper, ShapesOddlyWithAHardLimitAtOne) {
  WaveShaper s;
  s.build(0.5f);
  const float inf = std::numeric_limits<float>::infinity();
  const float in[8] = {0.25f, -0.25f, 1.0f, -1.0f, 1.5f, -7.0f, inf, 0.0f};
  const float limit[6] = {1, -1, 1, -1, 1, 0};
  float out[8];
  s.apply(in, out, 8);
  EXPECT_EQ(out[1], -out[0]);
  EXPECT_GT(out[0], 0.25f);  // a positive displacement bows the curve up
  for (int i = 0; i < 6; ++i) EXPECT_EQ(out[2 + i], limit[i]) << in[2 + i];
  // Between two points the curve is the straight segment.
  const TransferPoint* p = s.first()->next->next;
  const float mid = 0.5f * (p->x + p->next->x);
  float y;
  s.apply(&mid, &y, 1);
  EXPECT_FLOAT_EQ(y, 0.5f * (p->y + p->next->y));
}

TEST(WaveShaper, CursorCarriesAcrossBlocksWithoutChangingResults) {
  const auto x = dspfx::test::noiseFloat(3000, 9, 1.2f);
  WaveShaper whole, split;
  whole.build(0.4f);
  split.build(0.4f);
  std::vector<float> a(x.size()), b(x.size());
  whole.apply(x.data(), a.data(), 3000);
  for (size_t at = 0; at < x.size(); at += 7) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(7, x.size() - at));
    split.apply(x.data() + at, b.data() + at, n);
    // The cursor is left on the segment of the block's last magnitude.
    const float m = std::fabs(x[at + n - 1]);
    const TransferPoint* c = split.current();
    ASSERT_TRUE(c->x <= m && (!c->next || c->next->x > m)) << at;
  }
  EXPECT_EQ(a, b);
}

}  // namespace

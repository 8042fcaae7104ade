#include <gtest/gtest.h>

#include <cmath>

#include "core/lookup_tables.h"

namespace {

using dspfx::dbGainTable;
using dspfx::dbToGain;
using dspfx::sineTable;

TEST(DbGainTable, StatedEntriesAndValues) {
  const auto& t = dbGainTable();
  EXPECT_EQ(t.count, 2048u);
  EXPECT_FLOAT_EQ(t.entries[0], static_cast<float>(std::pow(10.0, -2.5)));
  EXPECT_EQ(t.entries[1024], 1.0f);
  EXPECT_FLOAT_EQ(t.entries[2048], static_cast<float>(std::pow(10.0, 2.5)));
  EXPECT_EQ(dbToGain(0.0f), 1.0f);  // exact: lands on entry 1024
  // The grid is 0.049 dB; linear interpolation between entries errs < 1e-4.
  EXPECT_NEAR(dbToGain(-20.0f), 0.1f, 1e-4);
  EXPECT_FLOAT_EQ(dbToGain(-50.0f), static_cast<float>(std::pow(10.0, -2.5)));
  for (float db = -49.9f; db < 49.9f; db += 0.37f) {
    const double want = std::pow(10.0, db / 20.0);
    EXPECT_NEAR(dbToGain(db) / want, 1.0, 2e-4) << db << " dB";
  }
}

TEST(DbGainTable, LevelsOutsideTheRangeReadTheEnds) {
  EXPECT_FLOAT_EQ(dbToGain(-80.0f), dbToGain(-50.0f));
  EXPECT_FLOAT_EQ(dbToGain(50.0f), static_cast<float>(std::pow(10.0, 2.5)));
  EXPECT_FLOAT_EQ(dbToGain(1e30f), static_cast<float>(std::pow(10.0, 2.5)));
  EXPECT_FLOAT_EQ(dbToGain(std::nanf("")), dbToGain(-50.0f));
}

TEST(SineTable, ValuesAndWrap) {
  const auto& t = sineTable();
  EXPECT_EQ(t.count, 1024u);
  EXPECT_EQ(t.mask, 1023u);
  EXPECT_EQ(t.interpolate(0.0), 0.0f);
  EXPECT_NEAR(t.interpolate(1.5707963267948966), 1.0, 1e-6);
  // The index wraps through the mask: 2*pi + 0.1 reads like 0.1, up to the
  // rounding of the phase product.
  EXPECT_NEAR(t.interpolate(6.283185307179586 + 0.1), t.interpolate(0.1), 1e-5);
  // Linear interpolation on a 2*pi/1024 grid errs by at most step^2/8.
  for (double x = 0; x < 6.28; x += 0.013) EXPECT_NEAR(t.interpolate(x), std::sin(x), 5e-6);
  EXPECT_EQ(t.at(1024 + 256), t.entries[256]);
}

}  // namespace

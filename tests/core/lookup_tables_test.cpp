#include <gtest/gtest.h>

#include <cmath>

#include "core/lookup_tables.h"

namespace {

using dspfx::dbToGain;

TEST(DbGainTable, StatedEntriesValuesAndClampedEnds) {
  const auto& t = dspfx::dbGainTable();
  const float lowest = static_cast<float>(std::pow(10.0, -2.5)), highest = static_cast<float>(std::pow(10.0, 2.5));
  EXPECT_FLOAT_EQ(t.entries[0], lowest);
  EXPECT_FLOAT_EQ(t.entries[2048], highest);
  EXPECT_EQ(dbToGain(0.0f), 1.0f);  // exact: lands on entry 1024
  // The grid is 0.049 dB; linear interpolation between entries errs < 1e-4.
  EXPECT_NEAR(dbToGain(-20.0f), 0.1f, 1e-4);
  for (float db = -49.9f; db < 49.9f; db += 0.37f) {
    EXPECT_NEAR(dbToGain(db) / std::pow(10.0, db / 20.0), 1.0, 2e-4) << db << " dB";
  }
  // Levels outside the range, NaN among them, read the ends.
  for (float db : {-50.0f, -80.0f, std::nanf("")}) EXPECT_FLOAT_EQ(dbToGain(db), lowest) << db << " dB";
  for (float db : {50.0f, 1e30f}) EXPECT_FLOAT_EQ(dbToGain(db), highest) << db << " dB";
}

TEST(SineTable, ValuesAndWrap) {
  const auto& t = dspfx::sineTable();
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

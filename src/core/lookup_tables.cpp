#include "core/lookup_tables.h"

#include <cmath>
#include <numbers>
#include <new>

namespace dspfx {

TableBase::TableBase(double range, uint32_t count)
    : range(range),
      count(count),
      step(range / count),
      scale(static_cast<float>(count / range)),
      mask(count - 1) {}

TableBase::~TableBase() { delete[] entries; }

void TableBase::fill() {
  entries = new float[count + 1];
  for (uint32_t i = 0; i <= count; ++i) entries[i] = static_cast<float>(generate(i * step));
}

float TableBase::interpolate(double x) const {
  double y = x * scale;
  // Keeps the truncation below defined for NaN and absurd phases.
  if (!(std::fabs(y) < 4.0e18)) y = 0.0;
  const auto i = static_cast<int64_t>(y);
  const uint32_t j = static_cast<uint32_t>(i) & mask;
  return static_cast<float>(entries[j] + (y - static_cast<double>(i)) * (entries[j + 1] - entries[j]));
}

SineTable::SineTable() : TableBase(2.0 * std::numbers::pi, 1024) { fill(); }

double SineTable::generate(double u) const { return std::sin(u); }

DbGainTable::DbGainTable() : TableBase(100.0, 2048) { fill(); }

double DbGainTable::generate(double u) const { return std::pow(10.0, (u - 50.0) * 0.05); }

float DbGainTable::dbToGain(float v) const {
  // Float arithmetic like the fields, so 0 dB lands exactly on entry 1024.
  float y = (v + offset) * scale;
  // The last whole step keeps j + 1 inside the table; NaN reads the bottom.
  if (!(y >= 0.0f)) y = 0.0f;
  if (y > static_cast<float>(count)) y = static_cast<float>(count);
  const auto i = static_cast<uint32_t>(y);
  const uint32_t j = i == count ? count - 1 : i;
  return entries[j] + (y - static_cast<float>(j)) * (entries[j + 1] - entries[j]);
}

}  // namespace dspfx

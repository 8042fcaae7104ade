#pragma once
#include <cstdint>

namespace dspfx {

// A function sampled at count equal steps over range, plus one entry so that
// interpolating between i and i + 1 never reads past the end.
class TableBase {
 public:
  TableBase(double range, uint32_t count);
  virtual ~TableBase();
  TableBase(const TableBase&) = delete;
  TableBase& operator=(const TableBase&) = delete;

  float at(uint32_t i) const { return entries[i & mask]; }
  // Linear interpolation at x (in the table's own units); x below zero
  // wraps through the mask like any other index.
  float interpolate(double x) const;

  const double range;
  const uint32_t count;
  const double step;
  const float scale;
  const uint32_t mask;
  float* entries = nullptr;

 protected:
  // Called by the most derived constructor: a virtual generator cannot run
  // from the base constructor.
  void fill();
  virtual double generate(double u) const = 0;
};

class SineTable final : public TableBase {
 public:
  SineTable();
  ~SineTable() override = default;

 protected:
  double generate(double u) const override;
};

// Decibels -50 ... +50 to linear gain on a 100/2048 dB grid.
class DbGainTable final : public TableBase {
 public:
  DbGainTable();
  ~DbGainTable() override = default;

  // Levels outside -50 ... +50 dB read the nearest end of the table.
  float dbToGain(float v) const;

  const float offset = 50.0f;

 protected:
  double generate(double u) const override;
};

const SineTable& sineTable();
const DbGainTable& dbGainTable();
inline float dbToGain(float v) { return dbGainTable().dbToGain(v); }

}  // namespace dspfx

// Byte layouts of the records that cross the C boundary. A host compiled
// against the 32-bit layouts reads these fields at fixed offsets, so the
// 32-bit builds must reproduce them exactly; 64-bit builds differ only by
// the width of their pointers.
#include <gtest/gtest.h>

#include <cstddef>

#include "dspfx/dspfx.h"

namespace {

constexpr bool k32 = sizeof(void*) == 4;

#define AT(record, field, at32, at64) {#record "." #field, offsetof(record, field), k32 ? (at32) : (at64)}
#define SIZE(record, size32, size64) {"sizeof " #record, sizeof(record), k32 ? (size32) : (size64)}

TEST(AbiLayout, RecordsKeepTheirOffsetsAndSizes) {
  const struct {
    const char* what;
    size_t actual, expected;
  } fields[] = {
      AT(GraphicEqBand, frequency, 0, 0),        AT(GraphicEqBand, gainDb, 4, 4),
      AT(GraphicEqBand, zeroRadius, 8, 8),       AT(GraphicEqBand, poleRadius, 12, 12),
      SIZE(GraphicEqBand, 16, 16),
      // Two pointers and two floats.
      AT(SliceRecord, next, 0, 0),               AT(SliceRecord, prev, 4, 8),
      AT(SliceRecord, start, 8, 16),             AT(SliceRecord, end, 12, 20),
      SIZE(SliceRecord, 16, 24),
      // Packed after its pointer.
      AT(WavefileInHeader, buffer, 0, 0),        AT(WavefileInHeader, dataBytes, 4, 8),
      AT(WavefileInHeader, bytesRead, 8, 12),    AT(WavefileInHeader, reserved0, 12, 16),
      AT(WavefileInHeader, reserved1, 16, 20),   AT(WavefileInHeader, reserved2, 20, 24),
      AT(WavefileInHeader, reserved3, 24, 28),   AT(WavefileInHeader, seconds, 34, 38),
      SIZE(WavefileInHeader, 38, 42),
      // The 18-byte "fmt " record.
      AT(WavefileFormat, formatTag, 0, 0),       AT(WavefileFormat, channels, 2, 2),
      AT(WavefileFormat, samplesPerSec, 4, 4),   AT(WavefileFormat, avgBytesPerSec, 8, 8),
      AT(WavefileFormat, blockAlign, 12, 12),    AT(WavefileFormat, bitsPerSample, 14, 14),
      AT(WavefileFormat, extraSize, 16, 16),     SIZE(WavefileFormat, 18, 18),
  };
  for (const auto& f : fields) {
    EXPECT_EQ(f.actual, f.expected) << f.what << " with " << sizeof(void*) << "-byte pointers";
  }
}

}  // namespace

// Byte layouts of the records that cross the C boundary. A host compiled
// against the 32-bit layouts reads these fields at fixed offsets, so the
// 32-bit builds must reproduce them exactly; 64-bit builds differ only by
// the width of their pointers. The record sizes and the GraphicEqBand and
// SliceRecord fields are pinned by static_asserts in the library itself;
// these are the offsets nothing else pins on every platform.
#include <gtest/gtest.h>

#include <cstddef>

#include "dspfx/dspfx.h"

namespace {

constexpr bool k32 = sizeof(void*) == 4;

#define AT(record, field, at32, at64) {#record "." #field, offsetof(record, field), k32 ? (at32) : (at64)}

TEST(AbiLayout, RecordsKeepTheirOffsets) {
  const struct {
    const char* what;
    size_t actual, expected;
  } fields[] = {
      // Packed after its pointer.
      AT(WavefileInHeader, buffer, 0, 0),        AT(WavefileInHeader, reserved0, 12, 16),
      AT(WavefileInHeader, reserved2, 20, 24),
      // The 18-byte "fmt " record.
      AT(WavefileFormat, formatTag, 0, 0),       AT(WavefileFormat, channels, 2, 2),
      AT(WavefileFormat, avgBytesPerSec, 8, 8),  AT(WavefileFormat, blockAlign, 12, 12),
      AT(WavefileFormat, bitsPerSample, 14, 14),
  };
  for (const auto& f : fields) {
    EXPECT_EQ(f.actual, f.expected) << f.what << " with " << sizeof(void*) << "-byte pointers";
  }
}

}  // namespace

// Byte layouts of the records that cross the C boundary. A host compiled
// against the 32-bit layouts reads these fields at fixed offsets, so the
// 32-bit builds must reproduce them exactly; 64-bit builds differ only by
// the width of their pointers.
#include <gtest/gtest.h>

#include <cstddef>

#include "dspfx/dspfx.h"

namespace {

constexpr bool k32 = sizeof(void*) == 4;

// What a host reads: offset of each field, then the record's size.
struct Layout {
  const char* field;
  size_t actual;
  size_t expected;
};

void expectLayout(const char* record, std::initializer_list<Layout> fields) {
  for (const Layout& f : fields) {
    EXPECT_EQ(f.actual, f.expected) << record << "." << f.field << " with "
                                    << sizeof(void*) << "-byte pointers";
  }
}

TEST(AbiLayout, GraphicEqBandIsFourFloats) {
  expectLayout("GraphicEqBand", {
      {"frequency", offsetof(GraphicEqBand, frequency), 0},
      {"gainDb", offsetof(GraphicEqBand, gainDb), 4},
      {"zeroRadius", offsetof(GraphicEqBand, zeroRadius), 8},
      {"poleRadius", offsetof(GraphicEqBand, poleRadius), 12},
      {"sizeof", sizeof(GraphicEqBand), 16},
  });
}

TEST(AbiLayout, SliceRecordIsTwoPointersAndTwoFloats) {
  expectLayout("SliceRecord", {
      {"next", offsetof(SliceRecord, next), 0},
      {"prev", offsetof(SliceRecord, prev), k32 ? 4u : 8u},
      {"start", offsetof(SliceRecord, start), k32 ? 8u : 16u},
      {"end", offsetof(SliceRecord, end), k32 ? 12u : 20u},
      {"sizeof", sizeof(SliceRecord), k32 ? 16u : 24u},
  });
}

TEST(AbiLayout, WavefileInHeaderIsPackedAfterItsPointer) {
  expectLayout("WavefileInHeader", {
      {"buffer", offsetof(WavefileInHeader, buffer), 0},
      {"dataBytes", offsetof(WavefileInHeader, dataBytes), k32 ? 4u : 8u},
      {"bytesRead", offsetof(WavefileInHeader, bytesRead), k32 ? 8u : 12u},
      {"reserved0", offsetof(WavefileInHeader, reserved0), k32 ? 12u : 16u},
      {"reserved1", offsetof(WavefileInHeader, reserved1), k32 ? 16u : 20u},
      {"reserved2", offsetof(WavefileInHeader, reserved2), k32 ? 20u : 24u},
      {"reserved3", offsetof(WavefileInHeader, reserved3), k32 ? 24u : 28u},
      {"seconds", offsetof(WavefileInHeader, seconds), k32 ? 34u : 38u},
      {"sizeof", sizeof(WavefileInHeader), k32 ? 38u : 42u},
  });
}

TEST(AbiLayout, WavefileFormatIsThe18ByteFmtRecord) {
  expectLayout("WavefileFormat", {
      {"formatTag", offsetof(WavefileFormat, formatTag), 0},
      {"channels", offsetof(WavefileFormat, channels), 2},
      {"samplesPerSec", offsetof(WavefileFormat, samplesPerSec), 4},
      {"avgBytesPerSec", offsetof(WavefileFormat, avgBytesPerSec), 8},
      {"blockAlign", offsetof(WavefileFormat, blockAlign), 12},
      {"bitsPerSample", offsetof(WavefileFormat, bitsPerSample), 14},
      {"extraSize", offsetof(WavefileFormat, extraSize), 16},
      {"sizeof", sizeof(WavefileFormat), 18},
  });
}

}  // namespace

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "common/test_support.h"
#include "wave_test_files.h"

namespace {

using namespace dspfx::test;
using WavefileInTest = ScratchDir;

// The data of a plain 44-byte-header file starts here.
constexpr int32_t kData = 44;

TEST_F(WavefileInTest, OpenReportsFormatSizeTimeAndDataStart) {
  const Bytes data = ramp(600, 9);
  // A writer that crashed: "data" claims 307200 bytes, 1000 made it.
  Bytes cut = pcmWave(1, 8000, ramp(1000));
  std::memcpy(&cut[40], "\x00\xB0\x04", 3);
  const struct {
    const char* what;
    Bytes file;
    WavefileFormat format;
    uint32_t dataBytes;
    float seconds;
    int32_t dataStart;
  } cases[] = {
      // A 16-byte format chunk has no extra size: it reads as 0.
      {"cd", pcmWave(2, 44100, Bytes(176400)), pcmFormat(2, 44100), 176400, 1.0f, kData},
      // Seconds truncate to whole frames first: 1001 bytes of 3 channels are 166 frames.
      {"3 channels", pcmWave(3, 8000, Bytes(1001)), pcmFormat(3, 8000), 1001, 166.0f / 8000.0f, kData},
      {"data cut short", cut, pcmFormat(1, 8000), 1000, 500.0f / 8000.0f, kData},
      // An odd-sized "LIST" before "fmt " (its pad byte must be skipped), an
      // extensible 40-byte format and a "LIST" after "data".
      {"other chunks and a long format",
       riff({chunk("LIST", ramp(13, 4)), chunk("fmt ", fmtBody(2, 32000, 16, 40, 0xFFFE, 22)), chunk("data", data),
             chunk("LIST", ramp(20))}),
       {0xFFFE, 2, 32000, 128000, 4, 16, 22}, 600, 150.0f / 32000.0f, 12 + 8 + 14 + 8 + 40 + 8},
      {"data before fmt", riff({chunk("data", data), chunk("fmt ", fmtBody(1, 8000))}), pcmFormat(1, 8000), 600,
       300.0f / 8000.0f, 20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WavefileIn* r = initWavefileIn(put("in.wav", c.file).c_str(), 1024);
    ASSERT_TRUE(r && getFormatWavefileIn(r) && getHeaderWavefileIn(r));
    EXPECT_EQ(std::memcmp(getFormatWavefileIn(r), &c.format, sizeof c.format), 0);
    const WavefileInHeader* h = getHeaderWavefileIn(r);
    EXPECT_TRUE(field(h->dataBytes) == c.dataBytes && field(h->seconds) == c.seconds);
    EXPECT_EQ(field(h->bytesRead) | field(h->reserved1) | field(h->reserved2), 0u);
    // The reader stands on the first sample byte: a relative move of 0 says so.
    EXPECT_EQ(seekWavefileIn(r, 0, 1), c.dataStart);
    termWavefileIn(r);
  }

  // Reads do not stop at the end of "data": the next chunk follows.
  WavefileIn* r = initWavefileIn(put("in.wav", cases[3].file).c_str(), 150);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(readWavefileIn(r, nullptr, 150), 600);
  EXPECT_EQ(std::memcmp(getHeaderWavefileIn(r)->buffer, data.data(), 600), 0);
  EXPECT_EQ(readWavefileIn(r, nullptr, 150), 28);
  termWavefileIn(r);
}

TEST_F(WavefileInTest, OwnLentAndResizedBuffers) {
  const Bytes data = ramp(8192);
  WavefileIn* r = initWavefileIn(put("r.wav", pcmWave(2, 44100, data)).c_str(), 1024);
  ASSERT_NE(r, nullptr);
  const WavefileInHeader* h = getHeaderWavefileIn(r);
  auto* own = static_cast<const uint8_t*>(h->buffer);
  ASSERT_NE(own, nullptr);
  auto zeroFilled = [](const uint8_t* b, size_t n) { return std::all_of(b, b + n, [](uint8_t x) { return x == 0; }); };
  EXPECT_TRUE(zeroFilled(own, 4096));
  // Null reads fill the own buffer until the end of the file.
  for (size_t block = 0; block < 2; ++block) {
    EXPECT_EQ(readWavefileIn(r, nullptr, 1024), 4096);
    EXPECT_TRUE(field(h->bytesRead) == 4096 && field(h->buffer) == own);
    EXPECT_EQ(std::memcmp(own, data.data() + block * 4096, 4096), 0) << "block " << block;
  }
  EXPECT_EQ(readWavefileIn(r, nullptr, 1024), 0);
  EXPECT_EQ(field(h->bytesRead), 0);
  // A request beyond the own buffer reads only what the buffer holds.
  EXPECT_EQ(seekWavefileIn(r, 0, 0), kData);
  EXPECT_EQ(readWavefileIn(r, nullptr, 5000), 4096);

  // A lent buffer (vector memory: a free by the reader would be caught) is
  // used, not adopted: null then reads into it, never past its length.
  ASSERT_EQ(seekWavefileIn(r, 0, 0), kData);
  Guarded<uint8_t> lent(400, 0x5A);
  EXPECT_EQ(readWavefileIn(r, lent.get(), 100), 400);
  EXPECT_EQ(field(h->buffer), lent.get());
  EXPECT_EQ(readWavefileIn(r, nullptr, 1000), 400);
  EXPECT_EQ(std::memcmp(lent.get(), data.data() + 400, 400), 0);

  // Resizing replaces the own buffer with a zero-filled one, not the lent one.
  auto* fresh = static_cast<const uint8_t*>(bufSizeExtendWavefileIn(r, 256));
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(field(h->buffer), fresh);
  EXPECT_TRUE(zeroFilled(fresh, 1024));
  EXPECT_EQ(readWavefileIn(r, nullptr, 1024), 1024);  // the smaller buffer bounds it
  EXPECT_EQ(std::memcmp(fresh, data.data() + 800, 1024), 0);
  EXPECT_EQ(std::memcmp(lent.get(), data.data() + 400, 400), 0);
  EXPECT_TRUE(lent.intact());

  // Sizes past 2^31-1 bytes are refused and the buffer stays.
  EXPECT_EQ(bufSizeExtendWavefileIn(r, 0x20000000), nullptr);
  EXPECT_EQ(field(h->buffer), fresh);
  EXPECT_NE(bufSizeExtendWavefileIn(r, 0), nullptr);
  EXPECT_EQ(readWavefileIn(r, nullptr, 4), 0);
  termWavefileIn(r);
}

TEST_F(WavefileInTest, ByteAndTimeSeeksMoveFromDataStartOrHere) {
  const Bytes data = ramp(44100);
  WavefileIn* r = initWavefileIn(put("m.wav", pcmWave(1, 22050, data)).c_str(), 16);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(timeSeekWavefileIn(r, 0.5f, 0), kData + 22050);
  // 0.25 s at 22050 Hz is 5512.5 frames: truncated to 5512.
  EXPECT_EQ(timeSeekWavefileIn(r, 0.25f, 1), kData + 22050 + 11024);
  EXPECT_EQ(timeSeekWavefileIn(r, -0.25f, 1), kData + 22050);
  for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 1e30f}) {
    EXPECT_EQ(timeSeekWavefileIn(r, bad, std::isinf(bad) ? 0 : 1), -1) << bad << " s";
  }

  EXPECT_EQ(seekWavefileIn(r, 100, 0), kData + 100);
  EXPECT_EQ(seekWavefileIn(r, -50, 1), kData + 50);
  // Before the start of the file: refused, and the position stays.
  EXPECT_EQ(seekWavefileIn(r, -1000, 1), -1);
  EXPECT_EQ(seekWavefileIn(r, 0, 1), kData + 50);
  uint8_t four[4];
  EXPECT_EQ(readWavefileIn(r, four, 2), 4);
  EXPECT_EQ(std::memcmp(four, data.data() + 50, 4), 0);
  // Past the end is a position; reading there gives 0.
  EXPECT_EQ(seekWavefileIn(r, 1 << 20, 0), kData + (1 << 20));
  EXPECT_EQ(readWavefileIn(r, four, 2), 0);
  EXPECT_EQ(seekWavefileIn(r, 0x7FFFFFFF, 1), -1);
  termWavefileIn(r);
}

}  // namespace

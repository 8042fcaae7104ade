#include <gtest/gtest.h>

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

TEST_F(WavefileInTest, OpenReportsFormatSizeAndTime) {
  const std::string p = put("cd.wav", pcmWave(2, 44100, Bytes(176400)));
  WavefileIn* r = initWavefileIn(p.c_str(), 1024);
  ASSERT_NE(r, nullptr);
  const WavefileInHeader* h = getHeaderWavefileIn(r);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(field(h->dataBytes), 176400u);
  EXPECT_EQ(field(h->seconds), 1.0f);
  EXPECT_EQ(field(h->bytesRead), 0);
  EXPECT_EQ(field(h->reserved1), 0u);
  EXPECT_EQ(field(h->reserved2), 0u);
  // A 16-byte format chunk has no extra size: it reads as 0.
  const WavefileFormat cd{1, 2, 44100, 176400, 4, 16, 0};
  ASSERT_NE(getFormatWavefileIn(r), nullptr);
  EXPECT_EQ(std::memcmp(getFormatWavefileIn(r), &cd, sizeof cd), 0);
  // The reader stands on the first sample byte: a relative move of 0 says so.
  EXPECT_EQ(seekWavefileIn(r, 0, 1), kData);
  termWavefileIn(r);

  // Seconds truncate to whole frames first: 1001 bytes of 3-channel data
  // are 166 frames.
  const std::string q = put("odd.wav", pcmWave(3, 8000, Bytes(1001)));
  r = initWavefileIn(q.c_str(), 1);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(field(getHeaderWavefileIn(r)->seconds), 166.0f / 8000.0f);
  termWavefileIn(r);
}

TEST_F(WavefileInTest, ReadsWithNullFillTheOwnBufferUntilTheEnd) {
  const Bytes data = ramp(8192);
  const std::string p = put("r.wav", pcmWave(2, 44100, data));
  WavefileIn* r = initWavefileIn(p.c_str(), 1024);
  ASSERT_NE(r, nullptr);
  const WavefileInHeader* h = getHeaderWavefileIn(r);
  auto* own = static_cast<const uint8_t*>(h->buffer);
  ASSERT_NE(own, nullptr);
  for (size_t i = 0; i < 4096; ++i) ASSERT_EQ(own[i], 0) << "buffer not zero-filled at " << i;
  for (size_t block = 0; block < 2; ++block) {
    EXPECT_EQ(readWavefileIn(r, nullptr, 1024), 4096);
    EXPECT_EQ(field(h->bytesRead), 4096);
    EXPECT_EQ(field(h->buffer), own);
    EXPECT_EQ(std::memcmp(own, data.data() + block * 4096, 4096), 0) << "block " << block;
  }
  EXPECT_EQ(readWavefileIn(r, nullptr, 1024), 0);
  EXPECT_EQ(field(h->bytesRead), 0);
  // A request beyond the own buffer reads only what the buffer holds.
  EXPECT_EQ(seekWavefileIn(r, 0, 0), kData);
  EXPECT_EQ(readWavefileIn(r, nullptr, 5000), 4096);
  termWavefileIn(r);
}

TEST_F(WavefileInTest, CallerBufferIsLentNotAdopted) {
  const Bytes data = ramp(4000, 3);
  const std::string p = put("l.wav", pcmWave(2, 44100, data));
  WavefileIn* r = initWavefileIn(p.c_str(), 64);
  ASSERT_NE(r, nullptr);
  const WavefileInHeader* h = getHeaderWavefileIn(r);
  void* const own = h->buffer;

  // A std::vector's memory: freeing it from the reader would be caught by
  // the allocator (and by ASan as a mismatched free).
  Guarded<uint8_t> lent(400, 0x5A);
  EXPECT_EQ(readWavefileIn(r, lent.get(), 100), 400);
  EXPECT_EQ(field(h->buffer), lent.get());
  EXPECT_EQ(std::memcmp(lent.get(), data.data(), 400), 0);
  // Null now reads into the lent buffer, never past what it was lent for.
  EXPECT_EQ(readWavefileIn(r, nullptr, 1000), 400);
  EXPECT_EQ(std::memcmp(lent.get(), data.data() + 400, 400), 0);
  EXPECT_TRUE(lent.intact());

  // Resizing replaces the reader's own buffer and leaves the lent one alone.
  void* fresh = bufSizeExtendWavefileIn(r, 10);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(field(h->buffer), fresh);
  EXPECT_NE(fresh, own);
  EXPECT_EQ(std::memcmp(lent.get(), data.data() + 400, 400), 0);
  EXPECT_EQ(readWavefileIn(r, nullptr, 10), 40);
  EXPECT_EQ(std::memcmp(fresh, data.data() + 800, 40), 0);
  termWavefileIn(r);
  EXPECT_TRUE(lent.intact());
}

TEST_F(WavefileInTest, ByteAndTimeSeeksMoveFromDataStartOrHere) {
  const Bytes data = ramp(44100);
  const std::string p = put("m.wav", pcmWave(1, 22050, data));
  WavefileIn* r = initWavefileIn(p.c_str(), 16);
  ASSERT_NE(r, nullptr);

  EXPECT_EQ(timeSeekWavefileIn(r, 0.5f, 0), kData + 22050);
  // 0.25 s at 22050 Hz is 5512.5 frames: truncated to 5512.
  EXPECT_EQ(timeSeekWavefileIn(r, 0.25f, 1), kData + 22050 + 11024);
  EXPECT_EQ(timeSeekWavefileIn(r, -0.25f, 1), kData + 22050);
  EXPECT_EQ(timeSeekWavefileIn(r, std::numeric_limits<float>::quiet_NaN(), 1), -1);
  EXPECT_EQ(timeSeekWavefileIn(r, std::numeric_limits<float>::infinity(), 0), -1);
  EXPECT_EQ(timeSeekWavefileIn(r, 1e30f, 1), -1);

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

TEST_F(WavefileInTest, BufSizeExtendGivesAZeroFilledBufferOfTheNewSize) {
  const std::string p = put("b.wav", pcmWave(2, 44100, ramp(4096, 1)));
  WavefileIn* r = initWavefileIn(p.c_str(), 1024);
  ASSERT_NE(r, nullptr);
  const WavefileInHeader* h = getHeaderWavefileIn(r);
  ASSERT_EQ(readWavefileIn(r, nullptr, 1024), 4096);  // dirty the old buffer
  auto* b = static_cast<const uint8_t*>(bufSizeExtendWavefileIn(r, 256));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(field(h->buffer), b);
  for (size_t i = 0; i < 1024; ++i) ASSERT_EQ(b[i], 0) << "at " << i;
  EXPECT_EQ(seekWavefileIn(r, 0, 0), kData);
  EXPECT_EQ(readWavefileIn(r, nullptr, 1024), 1024);  // the smaller buffer bounds it

  // Sizes past 2^31-1 bytes are refused and the buffer stays.
  EXPECT_EQ(bufSizeExtendWavefileIn(r, 0x20000000), nullptr);
  EXPECT_EQ(field(h->buffer), b);
  EXPECT_NE(bufSizeExtendWavefileIn(r, 0), nullptr);
  EXPECT_EQ(readWavefileIn(r, nullptr, 4), 0);
  termWavefileIn(r);
}

TEST_F(WavefileInTest, WriterOutputReadsBackExactly) {
  const WavefileFormat f{1, 2, 48000, 192000, 4, 16, 7};
  const std::vector<int16_t> pcm = sinePcm(1000, 48000, 4800, 2);
  WavefileOut* w = initWavefileOut(path("rt.wav").c_str(), &f);
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(writeWavefileOut(w, pcm.data(), 9600), 9600);
  ASSERT_EQ(writeWavefileOut(w, pcm.data() + 4800, 9600), 9600);
  ASSERT_EQ(termWavefileOut(w), 19200u);

  WavefileIn* r = initWavefileIn(path("rt.wav").c_str(), 4800);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(std::memcmp(getFormatWavefileIn(r), &f, sizeof f), 0);
  const WavefileInHeader* h = getHeaderWavefileIn(r);
  EXPECT_EQ(field(h->dataBytes), 19200u);
  EXPECT_EQ(field(h->seconds), 0.1f);
  std::vector<int16_t> back(pcm.size());
  EXPECT_EQ(readWavefileIn(r, back.data(), 4800), 19200);
  EXPECT_EQ(back, pcm);
  EXPECT_EQ(seekWavefileIn(r, 0, 1), 46 + 19200);
  termWavefileIn(r);
}

TEST_F(WavefileInTest, OtherChunksAndLongFormatsAreWalkedPast) {
  const Bytes data = ramp(600, 9);
  // An odd-sized "LIST" before "fmt " (its pad byte must be skipped), an
  // extensible 40-byte format and a "LIST" after "data".
  const Bytes listBody = ramp(13, 4);
  const std::string p = put("l.wav", riff({chunk("LIST", listBody),
                                           chunk("fmt ", fmtBody(2, 32000, 16, 40, 0xFFFE, 22)),
                                           chunk("data", data), chunk("LIST", ramp(20))}));
  WavefileIn* r = initWavefileIn(p.c_str(), 150);
  ASSERT_NE(r, nullptr);
  const WavefileFormat* f = getFormatWavefileIn(r);
  EXPECT_EQ(field(f->formatTag), 0xFFFE);
  EXPECT_EQ(field(f->samplesPerSec), 32000u);
  EXPECT_EQ(field(f->extraSize), 22);
  const WavefileInHeader* h = getHeaderWavefileIn(r);
  EXPECT_EQ(field(h->dataBytes), 600u);
  const int32_t dataStart = 12 + 8 + 14 + 8 + 40 + 8;
  EXPECT_EQ(seekWavefileIn(r, 0, 1), dataStart);
  EXPECT_EQ(readWavefileIn(r, nullptr, 150), 600);
  EXPECT_EQ(std::memcmp(h->buffer, data.data(), 600), 0);
  // Reads do not stop at the end of "data": the next chunk follows.
  EXPECT_EQ(readWavefileIn(r, nullptr, 150), 28);
  termWavefileIn(r);

  // Order inside the form does not matter to the lookup.
  const std::string q = put("rev.wav", riff({chunk("data", data), chunk("fmt ", fmtBody(1, 8000))}));
  r = initWavefileIn(q.c_str(), 1);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(field(getHeaderWavefileIn(r)->dataBytes), 600u);
  EXPECT_EQ(seekWavefileIn(r, 0, 0), 20);
  termWavefileIn(r);
}

TEST_F(WavefileInTest, DataCutShortEndsWithTheFile) {
  // A writer that crashed: "data" claims 307200 bytes, 1000 made it.
  Bytes file = pcmWave(1, 8000, ramp(1000));
  file[40] = 0x00;
  file[41] = 0xB0;
  file[42] = 0x04;
  const std::string p = put("cut.wav", file);
  WavefileIn* r = initWavefileIn(p.c_str(), 2000);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(field(getHeaderWavefileIn(r)->dataBytes), 1000u);
  EXPECT_EQ(field(getHeaderWavefileIn(r)->seconds), 500.0f / 8000.0f);
  EXPECT_EQ(readWavefileIn(r, nullptr, 2000), 1000);
  termWavefileIn(r);
}

}  // namespace

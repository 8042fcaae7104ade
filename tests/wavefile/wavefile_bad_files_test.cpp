#include <gtest/gtest.h>

#include <string>

#include "common/test_support.h"
#include "wave_test_files.h"

namespace {

using namespace dspfx::test;
using WavefileBadFiles = ScratchDir;

const Bytes kFmt = chunk("fmt ", fmtBody(2, 44100));

// The good file below with one byte changed and the byte after it cleared.
Bytes withByte(size_t offset, uint8_t value, bool clearNext = true) {
  Bytes b = pcmWave(2, 44100, ramp(64));
  b[offset] = value;
  if (clearNext) b[offset + 1] = 0;
  return b;
}

Bytes cut(Bytes b, size_t size) {
  b.resize(size);
  return b;
}

TEST_F(WavefileBadFiles, EveryUnusableFileGivesNull) {
  const Bytes good = pcmWave(2, 44100, ramp(64));
  Bytes cutData = riff({kFmt});
  putTag(cutData, "data");
  const struct {
    const char* what;
    Bytes bytes;
    uint32_t frames = 256;
  } cases[] = {
      {"empty file", {}},
      {"shorter than a RIFF header", Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V'}},
      {"big-endian RIFX form", withByte(3, 'X', false)},
      {"not a WAVE form", riff({kFmt, chunk("data", ramp(8))}, "AVI ")},
      {"no fmt chunk", riff({chunk("data", ramp(8))})},
      {"no data chunk", riff({kFmt, chunk("LIST", ramp(8))})},
      {"fmt chunk of 14 bytes", riff({chunk("fmt ", fmtBody(2, 44100, 16, 14)), chunk("data", ramp(8))})},
      // "fmt " declares 16 bytes but the file ends 10 bytes into it.
      {"fmt chunk cut by the end of the file", cut(riff({kFmt}), 12 + 8 + 10)},
      {"data header cut by the end of the file", cutData},
      {"zero channels", withByte(22, 0)},
      {"zero samples per second", withByte(24, 0)},
      // A chunk claiming 4 GiB hides everything after it.
      {"chunk size running past the end before fmt",
       riff({chunk("JUNK", ramp(6), 0xFFFFFFFF), kFmt, chunk("data", ramp(8))})},
      // A form too short to hold the chunks that follow it in the file.
      {"form size too small", riff({kFmt, chunk("data", ramp(8))}, "WAVE", 4)},
      {"2^31 bytes of buffer", good, 0x20000000},
      {"buffer size beyond 32 bits", good, 0x40000000},
      {"buffer size beyond 32 bits by wrapping", good, 0x80000000},
  };
  for (const auto& c : cases) EXPECT_EQ(initWavefileIn(put("bad.wav", c.bytes).c_str(), c.frames), nullptr) << c.what;
  for (const std::string& name : {path("missing.wav"), dir_.string(), std::string("/dev/zero")}) {
    EXPECT_EQ(initWavefileIn(name.c_str(), 16), nullptr) << name;
  }
  EXPECT_EQ(initWavefileIn(nullptr, 16), nullptr);
  // The same bytes with sane values do open: the cases fail for their fault.
  WavefileIn* r = initWavefileIn(put("good.wav", good).c_str(), 256);
  ASSERT_NE(r, nullptr);
  termWavefileIn(r);
}

TEST_F(WavefileBadFiles, OddButReadableHeadersOpen) {
  const Bytes data = ramp(100);
  const struct {
    const char* what;
    Bytes bytes;
    uint32_t dataBytes;
  } cases[] = {
      // Streaming writers that cannot seek back leave an unknown size.
      {"form size 0xFFFFFFFF", riff({kFmt, chunk("data", data)}, "WAVE", 0xFFFFFFFF), 100},
      {"form size 0", riff({kFmt, chunk("data", data)}, "WAVE", 0), 100},
      {"data size 0xFFFFFFFF", riff({kFmt, chunk("data", data, 0xFFFFFFFF)}), 100},
      {"empty data", riff({kFmt, chunk("data", {})}), 0},
      {"odd data without its pad byte", cut(pcmWave(1, 8000, ramp(7)), 44 + 7), 7},
  };
  for (const auto& c : cases) {
    WavefileIn* r = initWavefileIn(put("odd.wav", c.bytes).c_str(), 0);
    ASSERT_NE(r, nullptr) << c.what;
    EXPECT_EQ(field(getHeaderWavefileIn(r)->dataBytes), c.dataBytes) << c.what;
    termWavefileIn(r);
  }
}

TEST_F(WavefileBadFiles, DeadForeignAndWrongKindHandlesAreRefused) {
  const Bytes wave = pcmWave(1, 8000, ramp(32));
  WavefileIn* live = initWavefileIn(put("ok.wav", wave).c_str(), 4);
  WavefileIn* deadIn = initWavefileIn(put("ok2.wav", wave).c_str(), 4);
  const WavefileFormat f = pcmFormat(1, 8000);
  WavefileOut* writer = initWavefileOut(path("w.wav").c_str(), &f);
  WavefileOut* deadOut = initWavefileOut(path("d.wav").c_str(), &f);
  ASSERT_TRUE(live && deadIn && writer && deadOut);
  termWavefileIn(deadIn);
  termWavefileOut(deadOut);
  int foreign[16] = {};
  uint8_t buf[8] = {};
  const auto badIns = {static_cast<WavefileIn*>(nullptr), deadIn, reinterpret_cast<WavefileIn*>(foreign),
                       reinterpret_cast<WavefileIn*>(writer)};
  expectAllRefuse<WavefileIn>(
      badIns, getFormatWavefileIn, getHeaderWavefileIn, [&](WavefileIn* r) { return readWavefileIn(r, buf, 4); },
      [](WavefileIn* r) { return readWavefileIn(r, nullptr, 4); }, [](WavefileIn* r) { return seekWavefileIn(r, 0, 0); },
      [](WavefileIn* r) { return timeSeekWavefileIn(r, 0.0f, 0); },
      [](WavefileIn* r) { return bufSizeExtendWavefileIn(r, 4); });
  for (WavefileIn* bad : badIns) termWavefileIn(bad);  // no result: the live objects below must be intact
  expectAllRefuse<WavefileOut>(
      {nullptr, deadOut, reinterpret_cast<WavefileOut*>(foreign), reinterpret_cast<WavefileOut*>(live)},
      [&](WavefileOut* w) { return writeWavefileOut(w, buf, 4); }, flushWavefileOut, getFormatWavefileOut,
      termWavefileOut);
  // Missing bytes and empty or negative counts write nothing either.
  for (int32_t bytes : {4, 0, -4}) EXPECT_EQ(writeWavefileOut(writer, bytes == 4 ? nullptr : buf, bytes), 0) << bytes;
  // Both live objects came through untouched.
  EXPECT_EQ(termWavefileOut(writer), 0u);
  EXPECT_EQ(slurp(path("w.wav")).size(), 46u);
  EXPECT_EQ(readWavefileIn(live, nullptr, 4), 8);
  termWavefileIn(live);
}

}  // namespace

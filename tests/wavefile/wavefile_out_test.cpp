#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <csignal>
#include <cstring>

#include "wave_test_files.h"

namespace {

using namespace dspfx::test;
using WavefileOutTest = ScratchDir;

WavefileFormat cdFormat() {
  WavefileFormat f{};
  f.formatTag = 1;
  f.channels = 2;
  f.samplesPerSec = 44100;
  f.avgBytesPerSec = 176400;
  f.blockAlign = 4;
  f.bitsPerSample = 16;
  f.extraSize = 0;
  return f;
}

Bytes formatBytes(const WavefileFormat& f) {
  Bytes b;
  putU16(b, f.formatTag);
  putU16(b, f.channels);
  putU32(b, f.samplesPerSec);
  putU32(b, f.avgBytesPerSec);
  putU16(b, f.blockAlign);
  putU16(b, f.bitsPerSample);
  putU16(b, f.extraSize);
  return b;
}

TEST_F(WavefileOutTest, ClosedAtOnceIsThe46ByteHeader) {
  const WavefileFormat f = cdFormat();
  WavefileOut* w = initWavefileOut(path("empty.wav").c_str(), &f);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(termWavefileOut(w), 0u);

  Bytes want;
  putTag(want, "RIFF");
  putU32(want, 38);
  putTag(want, "WAVE");
  putTag(want, "fmt ");
  putU32(want, 18);
  const Bytes fb = formatBytes(f);
  want.insert(want.end(), fb.begin(), fb.end());
  putTag(want, "data");
  putU32(want, 0);
  EXPECT_EQ(slurp(path("empty.wav")), want);
}

TEST_F(WavefileOutTest, SizesFollowTheDataWrittenAndOddDataIsPadded) {
  const WavefileFormat f = cdFormat();
  const Bytes data = ramp(1000);
  WavefileOut* w = initWavefileOut(path("a.wav").c_str(), &f);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(writeWavefileOut(w, data.data(), 500), 500);
  EXPECT_EQ(writeWavefileOut(w, data.data() + 500, 500), 500);
  EXPECT_EQ(termWavefileOut(w), 1000u);
  Bytes file = slurp(path("a.wav"));
  ASSERT_EQ(file.size(), 1046u);
  EXPECT_EQ(getU32(file, 4), 1038u);
  EXPECT_EQ(getU32(file, 42), 1000u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), file.begin() + 46));

  // 3 bytes: the chunk keeps its true size, the file gets a zero pad byte and
  // the RIFF size counts it.
  w = initWavefileOut(path("odd.wav").c_str(), &f);
  ASSERT_NE(w, nullptr);
  const uint8_t three[3] = {0xAA, 0xBB, 0xCC};
  EXPECT_EQ(writeWavefileOut(w, three, 3), 3);
  EXPECT_EQ(termWavefileOut(w), 3u);
  file = slurp(path("odd.wav"));
  ASSERT_EQ(file.size(), 50u);
  EXPECT_EQ(getU32(file, 4), 42u);
  EXPECT_EQ(getU32(file, 42), 3u);
  EXPECT_EQ(file[48], 0xCC);
  EXPECT_EQ(file[49], 0);
}

TEST_F(WavefileOutTest, FormatIsKeptAndWrittenByteForByte) {
  // Not PCM, odd values everywhere, and an extra size that must be written
  // although no extra bytes follow.
  WavefileFormat f{};
  f.formatTag = 3;
  f.channels = 5;
  f.samplesPerSec = 0x12345678;
  f.avgBytesPerSec = 0x9ABCDEF0;
  f.blockAlign = 0x1357;
  f.bitsPerSample = 0x2468;
  f.extraSize = 0xBEEF;
  WavefileOut* w = initWavefileOut(path("f.wav").c_str(), &f);
  ASSERT_NE(w, nullptr);
  const WavefileFormat* kept = getFormatWavefileOut(w);
  ASSERT_NE(kept, nullptr);
  EXPECT_NE(kept, &f);
  EXPECT_EQ(std::memcmp(kept, &f, sizeof f), 0);
  EXPECT_EQ(termWavefileOut(w), 0u);
  const Bytes file = slurp(path("f.wav"));
  const Bytes fb = formatBytes(f);
  ASSERT_GE(file.size(), 38u);
  EXPECT_TRUE(std::equal(fb.begin(), fb.end(), file.begin() + 20));
}

TEST_F(WavefileOutTest, UnclosedFileStatesPlaceholdersAndStillReads) {
  const WavefileFormat f = cdFormat();
  const Bytes data = ramp(100);
  WavefileOut* w = initWavefileOut(path("live.wav").c_str(), &f);
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(writeWavefileOut(w, data.data(), 100), 100);
  EXPECT_EQ(flushWavefileOut(w), 1u);
  const Bytes file = slurp(path("live.wav"));
  ASSERT_EQ(file.size(), 146u);
  EXPECT_EQ(getU32(file, 4), 0u);
  EXPECT_EQ(getU32(file, 42), 307200u);

  // What a crashed writer leaves: the reader takes the form and the data as
  // running to the end of the file.
  WavefileIn* r = initWavefileIn(path("live.wav").c_str(), 16);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(field(getHeaderWavefileIn(r)->dataBytes), 100u);
  termWavefileIn(r);
  EXPECT_EQ(termWavefileOut(w), 100u);
}

TEST_F(WavefileOutTest, RefusedOpensLeaveNoFile) {
  const WavefileFormat f = cdFormat();
  EXPECT_EQ(initWavefileOut(path("nofmt.wav").c_str(), nullptr), nullptr);
  EXPECT_FALSE(exists(path("nofmt.wav")));
  EXPECT_EQ(initWavefileOut(nullptr, &f), nullptr);
  EXPECT_EQ(initWavefileOut(path("missing/dir.wav").c_str(), &f), nullptr);
  EXPECT_FALSE(exists(path("missing")));
  // A directory cannot become a wave file, nor a device that cannot seek.
  EXPECT_EQ(initWavefileOut(dir_.string().c_str(), &f), nullptr);
  EXPECT_TRUE(std::filesystem::is_directory(dir_));
  EXPECT_EQ(initWavefileOut("/dev/null", &f), nullptr);
}

TEST_F(WavefileOutTest, WriteErrorsComeBackAsMinusOne) {
#if defined(_WIN32)
  GTEST_SKIP() << "provoked through a POSIX file size limit, which Windows lacks";
#else
  // A file size limit makes the kernel refuse writes beyond it; the signal
  // it would send is ignored so that the error comes back as a result.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 65536;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

  const WavefileFormat f = cdFormat();
  WavefileOut* w = initWavefileOut(path("full.wav").c_str(), &f);
  bool failed = false;
  if (w) {
    const Bytes block = ramp(16384);
    for (int i = 0; i < 16 && !failed; ++i) {
      const int32_t n = writeWavefileOut(w, block.data(), 16384);
      EXPECT_TRUE(n == 16384 || n == -1) << "write " << i << " returned " << n;
      failed = n == -1 || flushWavefileOut(w) == 0;
    }
    termWavefileOut(w);
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(failed) << "256 KiB went into a file limited to 64 KiB without an error";
  EXPECT_LE(slurp(path("full.wav")).size(), 65536u);
#endif
}

}  // namespace

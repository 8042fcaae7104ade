#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <csignal>
#include <cstring>

#include "common/test_support.h"
#include "wave_test_files.h"

namespace {

using namespace dspfx::test;
using WavefileOutTest = ScratchDir;

TEST_F(WavefileOutTest, ClosedAtOnceIsThe46ByteHeaderWithTheFormatAsGiven) {
  // Not PCM, odd values everywhere, and an extra size that must be written
  // although no extra bytes follow.
  const WavefileFormat f{3, 5, 0x12345678, 0x9ABCDEF0, 0x1357, 0x2468, 0xBEEF};
  WavefileOut* w = initWavefileOut(path("f.wav").c_str(), &f);
  ASSERT_NE(w, nullptr);
  const WavefileFormat* kept = getFormatWavefileOut(w);
  ASSERT_TRUE(kept && kept != &f);  // a copy
  EXPECT_EQ(std::memcmp(kept, &f, sizeof f), 0);
  EXPECT_EQ(termWavefileOut(w), 0u);

  Bytes fmt;
  for (uint32_t v : {3u, 5u}) putU16(fmt, v);
  for (uint32_t v : {0x12345678u, 0x9ABCDEF0u}) putU32(fmt, v);
  for (uint32_t v : {0x1357u, 0x2468u, 0xBEEFu}) putU16(fmt, v);
  const Bytes want = riff({chunk("fmt ", fmt), chunk("data", {})});
  ASSERT_EQ(getU32(want, 4), 38u);
  EXPECT_EQ(slurp(path("f.wav")), want);
}

// File names are UTF-8 on every platform; read in the ANSI code page on
// Windows they would name another file or none. Latin-1 letters, which the
// code page could spell, and a CJK one, which it cannot.
TEST_F(WavefileOutTest, SizesFollowTheDataAndTheFileReadsBackUnderItsNonAsciiName) {
  const std::filesystem::path file = dir_ / std::u8string(u8"Kl\u00e4nge-\u00df-\u97f3.wav");
  const std::u8string utf8 = file.u8string();
  const std::string name(utf8.begin(), utf8.end());
  const WavefileFormat f = pcmFormat(2, 48000, 7);
  const std::vector<int16_t> pcm = sinePcm(1000, 48000, 4800, 2);
  WavefileOut* w = initWavefileOut(name.c_str(), &f);
  ASSERT_NE(w, nullptr) << name;
  ASSERT_EQ(writeWavefileOut(w, pcm.data(), 9600), 9600);
  ASSERT_EQ(writeWavefileOut(w, pcm.data() + 4800, 9600), 9600);
  ASSERT_EQ(termWavefileOut(w), 19200u);
  ASSERT_TRUE(std::filesystem::exists(file)) << "no file under the name " << name;
  const Bytes bytes = slurp(file);
  ASSERT_EQ(bytes.size(), 46u + 19200);
  EXPECT_TRUE(getU32(bytes, 4) == 19238u && getU32(bytes, 42) == 19200u);
  EXPECT_EQ(std::memcmp(bytes.data() + 46, pcm.data(), 19200), 0);

  WavefileIn* r = initWavefileIn(name.c_str(), 4800);
  ASSERT_NE(r, nullptr) << name;
  EXPECT_EQ(std::memcmp(getFormatWavefileIn(r), &f, sizeof f), 0);
  EXPECT_EQ(field(getHeaderWavefileIn(r)->dataBytes), 19200u);
  std::vector<int16_t> back(pcm.size());
  EXPECT_EQ(readWavefileIn(r, back.data(), 4800), 19200);
  EXPECT_EQ(back, pcm);
  EXPECT_EQ(seekWavefileIn(r, 0, 1), 46 + 19200);
  termWavefileIn(r);

  // 3 bytes: the chunk keeps its true size; a zero pad byte follows, counted by RIFF.
  const Bytes data = ramp(3, 1);
  w = initWavefileOut(path("odd.wav").c_str(), &f);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(writeWavefileOut(w, data.data(), 3), 3);
  EXPECT_EQ(termWavefileOut(w), 3u);
  const Bytes odd = slurp(path("odd.wav"));
  ASSERT_EQ(odd.size(), 50u);
  EXPECT_TRUE(getU32(odd, 4) == 42u && getU32(odd, 42) == 3u && odd[48] == data[2] && odd[49] == 0);
}

TEST_F(WavefileOutTest, UnclosedFileStatesPlaceholdersAndStillReads) {
  const WavefileFormat f = pcmFormat(2, 44100);
  const Bytes data = ramp(100);
  WavefileOut* w = initWavefileOut(path("live.wav").c_str(), &f);
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(writeWavefileOut(w, data.data(), 100), 100);
  EXPECT_EQ(flushWavefileOut(w), 1u);
  const Bytes file = slurp(path("live.wav"));
  ASSERT_EQ(file.size(), 146u);
  EXPECT_TRUE(getU32(file, 4) == 0u && getU32(file, 42) == 307200u);
  // What a crashed writer leaves: the reader takes the data as running to the end.
  WavefileIn* r = initWavefileIn(path("live.wav").c_str(), 16);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(field(getHeaderWavefileIn(r)->dataBytes), 100u);
  termWavefileIn(r);
  EXPECT_EQ(termWavefileOut(w), 100u);
}

TEST_F(WavefileOutTest, RefusedOpensLeaveNoFile) {
  const WavefileFormat f = pcmFormat(2, 44100);
  EXPECT_EQ(initWavefileOut(path("nofmt.wav").c_str(), nullptr), nullptr);
  EXPECT_EQ(initWavefileOut(nullptr, &f), nullptr);
  EXPECT_EQ(initWavefileOut(path("missing/dir.wav").c_str(), &f), nullptr);
  EXPECT_FALSE(std::filesystem::exists(path("nofmt.wav")) || std::filesystem::exists(path("missing")));
  // A directory cannot become a wave file, nor a device that cannot seek.
  EXPECT_EQ(initWavefileOut(dir_.string().c_str(), &f), nullptr);
  EXPECT_TRUE(std::filesystem::is_directory(dir_));
  EXPECT_EQ(initWavefileOut("/dev/null", &f), nullptr);
}

TEST_F(WavefileOutTest, WriteErrorsComeBackAsMinusOne) {
#if defined(_WIN32)
  GTEST_SKIP() << "provoked through a POSIX file size limit, which Windows lacks";
#else
  // The kernel refuses writes past a file size limit; its signal is ignored.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 65536;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

  const WavefileFormat f = pcmFormat(2, 44100);
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

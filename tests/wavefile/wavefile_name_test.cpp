// File names reach the library as UTF-8 on every platform. On Windows the
// C library would read those bytes in the ANSI code page and create a file
// under a garbled name (or none at all), so the file must be found again
// under the name the host meant.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "wave_test_files.h"

namespace {

using namespace dspfx::test;
using WavefileNameTest = ScratchDir;

TEST_F(WavefileNameTest, NonAsciiNameWritesAndReadsBackUnderThatName) {
  // Latin-1 letters, which the ANSI code page could spell, and a CJK one,
  // which it cannot.
  const std::filesystem::path file = dir_ / std::u8string(u8"Kl\u00e4nge-\u00df-\u97f3.wav");
  const std::u8string utf8 = file.u8string();
  const std::string name(utf8.begin(), utf8.end());

  WavefileFormat f{};
  f.formatTag = 1;
  f.channels = 2;
  f.samplesPerSec = 22050;
  f.avgBytesPerSec = 88200;
  f.blockAlign = 4;
  f.bitsPerSample = 16;
  WavefileOut* w = initWavefileOut(name.c_str(), &f);
  ASSERT_NE(w, nullptr) << name;
  const Bytes data = ramp(1000, 3);
  EXPECT_EQ(writeWavefileOut(w, data.data(), 1000), 1000);
  EXPECT_EQ(termWavefileOut(w), 1000u);
  EXPECT_TRUE(std::filesystem::exists(file)) << "no file under the name " << name;

  WavefileIn* r = initWavefileIn(name.c_str(), 250);
  ASSERT_NE(r, nullptr) << name;
  EXPECT_EQ(field(getFormatWavefileIn(r)->samplesPerSec), 22050u);
  ASSERT_EQ(readWavefileIn(r, nullptr, 250), 1000);
  const auto* got = static_cast<const uint8_t*>(getHeaderWavefileIn(r)->buffer);
  EXPECT_EQ(Bytes(got, got + 1000), data);
  termWavefileIn(r);
}

}  // namespace

// Interoperability with an independent implementation, when one is installed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/test_support.h"
#include "wave_test_files.h"

namespace {

using namespace dspfx::test;

class WavefileSox : public ScratchDir {
 protected:
  void SetUp() override {
    if (std::system("command -v sox >/dev/null 2>&1 && command -v soxi >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "sox/soxi not installed";
    }
    ScratchDir::SetUp();
  }
  // The command's output without its trailing newline, or "failed: ...".
  static std::string run(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
      char line[256];
      while (std::fgets(line, sizeof line, p)) out += line;
      if (pclose(p) != 0) out = "failed: " + command;
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
  }
  static std::string toRaw(const std::string& wav, const std::string& raw) {
    return run("sox -q '" + wav + "' -t raw -e signed-integer -b 16 -L '" + raw + "' 2>&1");
  }
};

TEST_F(WavefileSox, FileWrittenBySoxReadsAsItsRawSamples) {
  const std::string wav = path("sox.wav"), raw = path("sox.raw");
  ASSERT_EQ(run("sox -q -n -r 22050 -c 2 -b 16 -e signed-integer '" + wav + "' synth 0.3 sine 440 sine 660 2>&1"), "");
  ASSERT_EQ(toRaw(wav, raw), "");
  const Bytes expected = slurp(raw);
  ASSERT_EQ(expected.size(), 6615u * 4);  // trunc(0.3 s * 22050) frames

  WavefileIn* r = initWavefileIn(wav.c_str(), 1000);
  ASSERT_NE(r, nullptr);
  const WavefileFormat f = pcmFormat(2, 22050);
  EXPECT_EQ(std::memcmp(getFormatWavefileIn(r), &f, 16), 0);  // the 16 bytes of a PCM format
  const WavefileInHeader* h = getHeaderWavefileIn(r);
  EXPECT_EQ(field(h->dataBytes), expected.size());
  EXPECT_FLOAT_EQ(field(h->seconds), 0.3f);
  Bytes got;
  while (got.size() < h->dataBytes) {
    const int32_t n = readWavefileIn(r, nullptr, 1000);
    ASSERT_GT(n, 0);
    got.insert(got.end(), static_cast<const uint8_t*>(h->buffer), static_cast<const uint8_t*>(h->buffer) + n);
  }
  got.resize(h->dataBytes);
  EXPECT_EQ(got, expected);
  termWavefileIn(r);
}

TEST_F(WavefileSox, FileWeWriteIsAcceptedBySox) {
  const WavefileFormat f = pcmFormat(1, 16000);
  const std::vector<int16_t> pcm = sinePcm(500, 16000, 8001, 1);
  const std::string wav = path("ours.wav"), raw = path("ours.raw");
  WavefileOut* w = initWavefileOut(wav.c_str(), &f);
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(writeWavefileOut(w, pcm.data(), 16002), 16002);
  ASSERT_EQ(termWavefileOut(w), 16002u);

  for (auto [option, want] : {std::pair{"-r", "16000"}, {"-c", "1"}, {"-s", "8001"}, {"-b", "16"}}) {
    EXPECT_EQ(run(std::string("soxi ") + option + " '" + wav + "'"), want) << option;
  }
  ASSERT_EQ(toRaw(wav, raw), "");
  const Bytes back = slurp(raw);
  ASSERT_EQ(back.size(), 16002u);
  EXPECT_EQ(std::memcmp(back.data(), pcm.data(), back.size()), 0);
}

}  // namespace

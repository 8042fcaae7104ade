// End-to-end runs of the dspfx binary on generated files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dspfx/dspfx.h"

namespace {

struct Result {
  int code;
  std::string out, err;
};

class Tool : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/dspfx-tool-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  Result run(const std::string& args) const {
    const std::string out = path("stdout.txt"), err = path("stderr.txt");
    const int status = std::system((std::string(DSPFX_TOOL_PATH) + " " + args + " >" + out + " 2>" + err).c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
  }

  static std::string slurp(const std::string& file) {
    std::stringstream s;
    s << std::ifstream(file, std::ios::binary).rdbuf();
    return s.str();
  }

  // A stereo 44100 Hz file: a 440 Hz tone left, 660 Hz right, 0.5 s.
  std::string tone(const std::string& name, uint32_t frames = 22050, uint32_t rate = 44100) const {
    std::vector<int16_t> pcm(size_t{frames} * 2);
    for (uint32_t i = 0; i < frames; ++i) {
      pcm[2 * i] = static_cast<int16_t>(16000 * std::sin(2 * M_PI * 440 * i / rate));
      pcm[2 * i + 1] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 660 * i / rate));
    }
    write(name, pcm, 2, rate);
    return path(name);
  }

  void write(const std::string& name, const std::vector<int16_t>& pcm, uint16_t channels, uint32_t rate) const {
    WavefileFormat f{1, channels, rate, rate * 2u * channels, static_cast<uint16_t>(2 * channels), 16, 0};
    WavefileOut* w = initWavefileOut(path(name).c_str(), &f);
    ASSERT_NE(w, nullptr);
    writeWavefileOut(w, pcm.data(), static_cast<int32_t>(pcm.size() * 2));
    termWavefileOut(w);
  }

  static std::vector<int16_t> readAll(const std::string& file) {
    WavefileIn* r = initWavefileIn(file.c_str(), 4096);
    if (!r) return {};
    const uint32_t bytes = getHeaderWavefileIn(r)->dataBytes;
    std::vector<int16_t> pcm(bytes / 2);
    const uint32_t channels = getFormatWavefileIn(r)->channels;
    readWavefileIn(r, pcm.data(), bytes / (2 * channels));
    termWavefileIn(r);
    return pcm;
  }

  std::string dir_;
};

TEST_F(Tool, ChainOutputEqualsTheEffectsDrivenDirectly) {
  const std::string in = tone("in.wav");
  ASSERT_EQ(run("process " + in + " " + path("out.wav") + " lowpass:freq=1000,order=4 chorus:voices=2 --block 1000").code, 0);
  const std::vector<int16_t> src = readAll(in), got = readAll(path("out.wav"));
  // The same effects through their exports, with a PCM conversion between
  // them that the chain avoids: 1 LSB, scaled up to 2 by the chorus (dry
  // plus two voices at 50 %), plus 1 for each final conversion.
  DspEffect* lp = initIirFilter(1000, 2, 44100, 4, 1000.0f, 0);
  DspEffect* ch = initChorus(1000, 2, 44100, 2, 20.0f, 5.0f, 2.0f, 50.0f, 100.0f);
  std::vector<int16_t> want(src.size());
  for (size_t f = 0; f < src.size() / 2; f += 1000) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(1000, src.size() / 2 - f));
    doIirFilter(lp, src.data() + 2 * f, want.data() + 2 * f, n * 4);
    doChorus(ch, want.data() + 2 * f, want.data() + 2 * f, n * 4);
  }
  EXPECT_EQ(termIirFilter(lp) + termChorus(ch), 2u);
  // The tool flushes the chorus: its longest delay (25 ms) follows the input.
  ASSERT_EQ(got.size(), want.size() + 2 * 1103);
  int worst = 0;
  for (size_t i = 0; i < want.size(); ++i) worst = std::max(worst, std::abs(got[i] - want[i]));
  EXPECT_LE(worst, 4);
}

TEST_F(Tool, ResampleDurationIsExactWhateverTheBlock) {
  const std::string in = tone("in.wav");
  // 22050 frames at 44100 Hz are 0.5 s: 24000 frames at 48000 Hz, one
  // either way at most, and the band-limited default streams the same
  // samples whatever the block size.
  std::vector<int16_t> first;
  for (const char* block : {"16", "4096", "1000"}) {
    const std::string out = path(std::string("r") + block + ".wav");
    ASSERT_EQ(run("process " + in + " " + out + " resample:rate=48000 --block " + block).code, 0);
    const std::vector<int16_t> got = readAll(out);
    EXPECT_NEAR(static_cast<double>(got.size() / 2), 24000.0, 1.0) << "--block " << block;
    if (first.empty()) first = got;
    EXPECT_EQ(got, first) << "--block " << block;
  }
  // quality=0 (the block-wise converter) still gives the exact duration:
  // the tool trims and pads to the ideal length.
  ASSERT_EQ(run("process " + in + " " + path("q0.wav") + " resample:rate=48000,quality=0 --block 1000").code, 0);
  EXPECT_NEAR(static_cast<double>(readAll(path("q0.wav")).size() / 2), 24000.0, 1.0);
}

TEST_F(Tool, StretchAndPitchKeepLengthInAlignedModeAndDesignInModeZero) {
  const std::string in = tone("in.wav", 44100);
  const std::vector<int16_t> src = readAll(in);
  // Aligned grains (the default): the length is the ideal one, within one
  // frame, whatever the block size; a pitch shift keeps it exactly.
  for (const char* block : {"16", "1000", "4096"}) {
    ASSERT_EQ(run("process " + in + " " + path("s.wav") + " stretch:ratio=1.5 --block " + block).code, 0);
    EXPECT_NEAR(static_cast<double>(readAll(path("s.wav")).size()), 1.5 * src.size(), 2.0) << "block " << block;
    ASSERT_EQ(run("process " + in + " " + path("p.wav") + " pitch:semitones=5 --block " + block).code, 0);
    EXPECT_EQ(readAll(path("p.wav")).size(), src.size()) << "block " << block;
  }
  // mode=0 is the design's stretcher.
  ASSERT_EQ(run("process " + in + " " + path("d.wav") + " stretch:ratio=1.5,mode=0 --block 1000").code, 0);
  DspEffect* st = initStretch(1000, 2, 44100, static_cast<float>(-1000.0 * std::log2(1.5)), 0.0f, 0.04f, 0.01f);
  std::vector<int16_t> want, block(size_t{getStretchDstSize(st, 1000) + 1} * 2);
  for (size_t f = 0; f < src.size() / 2; f += 1000) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(1000, src.size() / 2 - f));
    const uint32_t bytes = doStretch(st, src.data() + 2 * f, block.data(), n * 4);
    want.insert(want.end(), block.begin(), block.begin() + bytes / 2);
  }
  EXPECT_EQ(termStretch(st), 1u);
  // The tool runs the chain on floats from its own PCM reading and rounds
  // once at the end, where doStretch converts with the library's scale and
  // truncates: 1 LSB for each end.
  const std::vector<int16_t> got = readAll(path("d.wav"));
  ASSERT_EQ(got.size(), want.size());
  int worst = 0;
  for (size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::abs(got[i] - want[i]));
  EXPECT_LE(worst, 2);
}

TEST_F(Tool, InfoAndPicturesDescribeTheFile) {
  const std::string in = tone("in.wav");
  const Result r = run("info " + in);
  ASSERT_EQ(r.code, 0) << r.err;
  // Left peak 16000/32768 = -6.23 dBFS, RMS 3 dB lower.
  for (const char* says : {"44100 Hz, stereo", "frames:    22050", "0.500 s",
                           "peak   -6.23 dBFS   rms   -9.24 dBFS"}) {
    EXPECT_NE(r.out.find(says), std::string::npos) << says << "\n" << r.out;
  }
  // The pictures have at least their announced size.
  ASSERT_EQ(run("spectrum " + in + " --fft 1024 --png " + path("s.png") + " --csv " + path("s.csv")).code, 0);
  ASSERT_EQ(run("envelope " + in + " --png " + path("e.png")).code, 0);
  for (const char* name : {"s.png", "e.png"}) {
    const std::string png = slurp(path(name));
    ASSERT_GT(png.size(), 24u) << name;
    EXPECT_EQ(png.substr(1, 3), "PNG");
    auto be32 = [&](size_t at) {
      return (uint32_t(uint8_t(png[at])) << 24) | (uint32_t(uint8_t(png[at + 1])) << 16) |
             (uint32_t(uint8_t(png[at + 2])) << 8) | uint8_t(png[at + 3]);
    };
    EXPECT_TRUE(be32(16) >= 200u && be32(20) >= 128u) << name << ": width and height";
  }
  // One CSV row per spectrum (hop 256 frames) plus the header.
  const std::string csv = slurp(path("s.csv"));
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + (22050 + 255) / 256);
}

TEST_F(Tool, ErrorsNameTheirCauseAndExitCodes) {
  const std::string in = tone("in.wav");
  struct Case {
    std::string args;
    int code;
    std::string says;
  } cases[] = {
      {"frobnicate", 2, "unknown command 'frobnicate'"},
      {"process " + in + " " + path("o.wav") + " warp", 2, "unknown effect 'warp'"},
      {"process " + in + " " + path("o.wav") + " lowpass:q=3", 2, "unknown parameter 'q'"},
      {"process " + in + " " + path("o.wav") + " lowpass:freq=abc", 2, "not a number"},
      {"process " + in + " " + path("o.wav") + " pitch:cents=5000", 2, "outside -1200 ... 1200"},
      {"process " + in + " " + in + " chorus", 2, "must not be the input"},
      {"process " + path("missing.wav") + " " + path("o.wav") + " chorus", 1, "missing.wav: cannot open"},
      {"info " + path("stdout.txt"), 1, "not a sound file"},
      {"process " + in + " " + path("o.wav") + " lowpass:freq=30000", 2, "below half the sample rate"},
  };
  for (const Case& c : cases) {
    const Result r = run(c.args);
    EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\nstderr: " << r.err;
  }
  // A failed run leaves an existing output untouched.
  const std::string out = path("keep.wav");
  std::ofstream(out) << "precious";
  EXPECT_EQ(run("process " + in + " " + out + " lowpass:freq=30000").code, 2);
  EXPECT_EQ(slurp(out), "precious");
  EXPECT_EQ(run("process " + in + " " + path("nodir/x.wav") + " chorus").code, 1);
  // No temporary file is left behind either.
  EXPECT_EQ(run("process " + in + " " + out + " chorus").code, 0);
  EXPECT_NE(slurp(out), "precious");
  EXPECT_EQ(run("info " + out).code, 0);
  EXPECT_NE(std::system(("ls -A " + dir_ + " | grep -q part").c_str()), 0);
}

TEST_F(Tool, SlicesJsonMatchesTheSlicer) {
  // Two bursts of a loud tone in silence.
  std::vector<int16_t> pcm(44100, 0);
  for (int b : {5000, 25000}) {
    for (int i = 0; i < 6000; ++i) pcm[b + i] = static_cast<int16_t>(16000 * std::sin(i * 0.1));
  }
  write("bursts.wav", pcm, 1, 44100);
  const Result r = run("slices " + path("bursts.wav") + " --json --open -20 --close -40 --rise 10 --min 0.05");
  ASSERT_EQ(r.code, 0) << r.err;
  DspEffect* s = initWaveSlice(4096, 1, 44100, -20, -40, 10, 0.05f);
  for (size_t f = 0; f < pcm.size(); f += 4096) {
    doWaveSlice(s, pcm.data() + f, static_cast<uint32_t>(std::min<size_t>(4096, pcm.size() - f) * 2));
  }
  ASSERT_EQ(stopWaveSlice(s), 2u);
  for (uint32_t i = 0; i < 2; ++i) {
    char want[64];
    std::snprintf(want, sizeof want, "{\"start\": %.6f, \"end\": %.6f}", getWaveSlice(s, i)->start,
                  getWaveSlice(s, i)->end);
    EXPECT_NE(r.out.find(want), std::string::npos) << want << "\n" << r.out;
  }
  EXPECT_EQ(termWaveSlice(s), 1u);
}

TEST_F(Tool, DemoWritesEveryFile) {
  const Result r = run("demo --out " + path("demo"));
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* f : {"input.wav", "resample-48k.wav", "hqups.wav", "eq.wav", "geq.wav", "lowpass.wav",
                        "highpass.wav", "fade.wav", "stretch.wav", "pitch.wav", "chorus.wav", "crossfade.wav",
                        "spectrum-input.png", "spectrum-eq.png", "envelope-slices.png"}) {
    struct stat st {};
    EXPECT_EQ(::stat(path(std::string("demo/") + f).c_str(), &st), 0) << f;
    EXPECT_GT(st.st_size, 100) << f;
  }
  EXPECT_NE(r.out.find("x real"), std::string::npos);
}

// The equaliser's fast form by default and the direct form on request are
// the same filter: at most one 16-bit step apart (rounding where the float
// results straddle a step), and far apart from an unequalised file.
TEST_F(Tool, EqModesGiveTheSameFilter) {
  const std::string in = tone("in.wav");
  const std::string eq = " eq:low=6,high=-6,lowfreq=500,highfreq=600";
  ASSERT_EQ(run("process " + in + " " + path("fast.wav") + eq + " --block 1000").code, 0);
  ASSERT_EQ(run("process " + in + " " + path("direct.wav") + eq + ",mode=0").code, 0);
  const std::vector<int16_t> src = readAll(in), fast = readAll(path("fast.wav")), direct = readAll(path("direct.wav"));
  ASSERT_EQ(fast.size(), direct.size());
  int worst = 0, changed = 0;
  for (size_t i = 0; i < fast.size(); ++i) {
    worst = std::max(worst, std::abs(fast[i] - direct[i]));
    changed = std::max(changed, std::abs(direct[i] - src[i]));
  }
  EXPECT_LE(worst, 1);
  EXPECT_GT(changed, 1000);
}

}  // namespace

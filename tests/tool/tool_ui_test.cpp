// The tool as a person meets it: help pages, suggestions for mistyped words,
// what the analysis commands measure and what their pictures show.
#include <cairo.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dspfx/dspfx.h"
#include "progress.h"

namespace {

struct Result {
  int code;
  std::string out, err;
};

class ToolUi : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/dspfx-ui-XXXXXX";
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

  // Sines of the given frequencies and peak levels (dBFS) per channel.
  struct Tone {
    double hz, dbfs, from = 0;  // seconds
  };
  std::string tones(const std::string& name, const std::vector<std::vector<Tone>>& channels, double seconds,
                    uint32_t rate = 44100) const {
    const auto ch = static_cast<uint16_t>(channels.size());
    const auto frames = static_cast<size_t>(seconds * rate);
    std::vector<int16_t> pcm(frames * ch);
    for (size_t i = 0; i < frames; ++i) {
      for (size_t c = 0; c < ch; ++c) {
        double v = 0;
        for (const Tone& t : channels[c]) {
          if (i >= t.from * rate) v += std::pow(10, t.dbfs / 20) * std::sin(2 * M_PI * t.hz * i / rate);
        }
        pcm[i * ch + c] = static_cast<int16_t>(std::lround(32767 * v));
      }
    }
    WavefileFormat f{1, ch, rate, rate * 2u * ch, static_cast<uint16_t>(2 * ch), 16, 0};
    WavefileOut* w = initWavefileOut(path(name).c_str(), &f);
    EXPECT_NE(w, nullptr);
    // The writer takes a 32-bit byte count; write in pieces.
    for (size_t at = 0; at < pcm.size(); at += 1 << 20) {
      const size_t n = std::min<size_t>(1 << 20, pcm.size() - at);
      writeWavefileOut(w, pcm.data() + at, static_cast<int32_t>(n * 2));
    }
    termWavefileOut(w);
    return path(name);
  }

  // A mono 32-bit float WAV, written by hand so the test needs no writer.
  std::string floatWav(const std::string& name, const std::vector<float>& samples, uint32_t rate) const {
    std::ofstream f(path(name), std::ios::binary);
    auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    const auto bytes = static_cast<uint32_t>(samples.size() * 4);
    f.write("RIFF", 4), u32(36 + bytes), f.write("WAVEfmt ", 8), u32(16), u16(3), u16(1), u32(rate), u32(rate * 4),
        u16(4), u16(32), f.write("data", 4), u32(bytes);
    f.write(reinterpret_cast<const char*>(samples.data()), bytes);
    return path(name);
  }

  // The number after `key` in text, NaN when absent.
  static double numberAfter(const std::string& text, const std::string& key) {
    const size_t at = text.find(key);
    return at == std::string::npos ? NAN : std::strtod(text.c_str() + at + key.size(), nullptr);
  }

  static std::vector<std::vector<std::string>> csv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      rows.emplace_back();
      std::istringstream cells(line);
      for (std::string cell; std::getline(cells, cell, ',');) rows.back().push_back(cell);
    }
    return rows;
  }

  std::string dir_;
};

TEST_F(ToolUi, EveryCommandHasAHelpPageReachedThreeWays) {
  for (const char* cmd : {"info", "process", "crossfade", "spectrogram", "envelope", "slices", "demo", "help"}) {
    const Result viaHelp = run(std::string("help ") + cmd);
    ASSERT_EQ(viaHelp.code, 0) << cmd << viaHelp.err;
    EXPECT_EQ(viaHelp.out.rfind(std::string("usage: dspfx ") + cmd, 0), 0u) << viaHelp.out;
    EXPECT_GT(viaHelp.out.size(), 300u) << cmd << ": a page, not a line";
    // --help and -h win over whatever else is on the line, even a missing file.
    for (const std::string flag : {" --help", " -h", " nosuch.wav --help"}) {
      const Result r = run(cmd + flag);
      EXPECT_EQ(r.code, 0) << cmd << flag << r.err;
      EXPECT_EQ(r.out, viaHelp.out) << cmd << flag;
    }
  }
  EXPECT_EQ(run("spectrum --help").out, run("help spectrogram").out);
  // The pages name the options their commands take.
  const std::string spec = run("help spectrogram").out;
  for (const char* opt : {"--log", "--range", "--max-freq", "--width", "--height", "dBFS", "averaged by power"}) {
    EXPECT_NE(spec.find(opt), std::string::npos) << opt;
  }
  const std::string env = run("help envelope").out;
  for (const char* opt : {"--rate", "--db", "default 100"}) EXPECT_NE(env.find(opt), std::string::npos) << opt;
  EXPECT_NE(run("help crossfade").out.find("--curve a,b,c,d"), std::string::npos);
}

TEST_F(ToolUi, MistypedWordsGetASuggestionAndExit2) {
  const std::string in = tones("in.wav", {{{440, -6}}}, 0.2), out = path("out.wav");
  struct Case {
    std::string args, says;
  } cases[] = {
      {"specrogram " + in, "did you mean 'spectrogram'?"},
      {"help slcies", "did you mean 'slices'?"},
      {"process " + in + " " + out + " lowpas", "did you mean 'lowpass'?"},
      {"process " + in + " " + out + " lowpass:frq=2k", "did you mean 'freq'?"},
      {"process " + in + " " + out + " chorus:vocies=2", "did you mean 'voices'?"},
      {"spectrogram " + in + " --pgn x.png", "did you mean '--png'?"},
      {"envelope " + in + " --db --rnage 40", "did you mean '--range'?"},
  };
  for (const Case& c : cases) {
    const Result r = run(c.args);
    EXPECT_EQ(r.code, 2) << c.args;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
  }
  // Nothing is suggested for a word far from every candidate.
  const Result far = run("xyzzyplugh");
  EXPECT_EQ(far.code, 2);
  EXPECT_EQ(far.err.find("did you mean"), std::string::npos) << far.err;
}

TEST_F(ToolUi, EffectSettingsAreReadStrictly) {
  const std::string in = tones("in.wav", {{{440, -6}, {5000, -12}}}, 0.2);
  // k means thousands: the same filter either way, to the byte.
  ASSERT_EQ(run("process " + in + " " + path("k.wav") + " lowpass:freq=2k").code, 0);
  ASSERT_EQ(run("process " + in + " " + path("n.wav") + " lowpass:freq=2000").code, 0);
  EXPECT_EQ(slurp(path("k.wav")), slurp(path("n.wav")));
  EXPECT_EQ(run("process " + in + " " + path("h.wav") + " highpass:freq=1.5K").code, 0);

  struct Case {
    std::string effect, says;
  } cases[] = {
      {"lowpass:freq=2k,freq=3k", "given twice"},
      {"lowpass:freq=2k,", "trailing comma"},
      {"lowpass:freq=2k,,order=2", "stray or trailing comma"},
      {"lowpass:freq=0x10", "not a number"},
      {"lowpass:freq=2kk", "not a number"},
      {"eq:bands=100", "power of two"},
      {"eq:bands=1000", "power of two"},
      {"eq:lowfreq=5k,highfreq=1k", "lowfreq must not lie above highfreq"},
  };
  for (const Case& c : cases) {
    const Result r = run("process " + in + " " + path("o.wav") + " " + c.effect);
    EXPECT_EQ(r.code, 2) << c.effect;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.effect << "\n" << r.err;
  }
  EXPECT_EQ(run("process " + in + " " + path("o.wav") + " eq:bands=256,lowfreq=1k,highfreq=1k").code, 0);
}

TEST_F(ToolUi, SpectrogramLevelsAreDbfs) {
  // A full-scale sine reads 0 dBFS on a bin (44100 / 2048 * 93) and between
  // two; one channel of two reads 3 dB lower, as the page says.
  const double onBin = 44100.0 / 2048 * 93;
  const Tone full{onBin, 0}, between{1000, 0};
  struct Case {
    std::vector<std::vector<Tone>> channels;
    double dbfs;
  } cases[] = {
      {{{full}}, 0}, {{{between}}, 0}, {{{full}, {full}}, 0}, {{{full}, {}}, -3.01}, {{{between}, {}}, -3.01},
      {{{Tone{onBin, -20}}}, -20},
  };
  for (const Case& c : cases) {
    const std::string in = tones("s.wav", c.channels, 0.5);
    const Result r = run("spectrogram " + in);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NEAR(numberAfter(r.out, "loudest "), c.dbfs, 0.05) << r.out;
  }
  // Float files reach the analysers at full scale too.
  std::vector<float> wave(24000);
  for (size_t i = 0; i < wave.size(); ++i) wave[i] = static_cast<float>(std::sin(2 * M_PI * 1000 * i / 48000.0));
  const Result f = run("spectrogram " + floatWav("f.wav", wave, 48000));
  ASSERT_EQ(f.code, 0) << f.err;
  EXPECT_NEAR(numberAfter(f.out, "loudest "), 0.0, 0.05) << f.out;
  EXPECT_NEAR(numberAfter(f.out, "dBFS at "), 1000.0, 1.0) << f.out;

  // The table: one row per hop from 0 s, bins up to --max-freq, the tone's
  // bin at 0 dBFS and the others well below.
  const std::string in = tones("t.wav", {{full}}, 0.5);
  ASSERT_EQ(run("spectrogram " + in + " --max-freq 5k --csv " + path("t.csv")).code, 0);
  const auto rows = csv(slurp(path("t.csv")));
  ASSERT_EQ(rows.size(), 1u + 22050 / 512 + 1);
  EXPECT_EQ(rows[0][0], "time_s");
  EXPECT_LE(std::stod(rows[0].back()), 5000.0);
  EXPECT_GT(std::stod(rows[0].back()), 5000.0 - 44100.0 / 2048);
  EXPECT_DOUBLE_EQ(std::stod(rows[1][0]), 0.0);
  EXPECT_NEAR(std::stod(rows[2][0]), 512.0 / 44100, 1e-6);
  const auto& middle = rows[rows.size() / 2];
  EXPECT_NEAR(std::stod(middle[1 + 93]), 0.0, 0.01);
  EXPECT_LT(std::stod(middle[1 + 80]), -60.0);
}

// The centres of the bright lines down the plot's middle column.
std::vector<int> brightRows(const std::string& png, int* width, int* height) {
  cairo_surface_t* s = cairo_image_surface_create_from_png(png.c_str());
  std::vector<int> rows;
  if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
    *width = cairo_image_surface_get_width(s);
    *height = cairo_image_surface_get_height(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    auto light = [&](int y) {
      const uint32_t p = *reinterpret_cast<const uint32_t*>(data + size_t(y) * stride + 4 * (*width / 2));
      return int((p >> 16) & 255) + int((p >> 8) & 255) + int(p & 255);
    };
    // The plot is the longest run of colour (no ramp colour is white) down
    // the column; the tones are the bright lines inside it.
    int top = 0, bottom = -1;
    for (int y = 0; y < *height; ++y) {
      int end = y;
      while (end < *height && light(end) < 720) ++end;
      if (end - y > bottom - top + 1) top = y, bottom = end - 1;
      y = end;
    }
    for (int y = top; y <= bottom; ++y) {
      if (light(y) <= 450) continue;
      const int first = y;
      while (y + 1 <= bottom && light(y + 1) > 450) ++y;
      rows.push_back((first + y) / 2);
    }
  }
  cairo_surface_destroy(s);
  return rows;
}

TEST_F(ToolUi, SpectrogramPictureShowsTonesWhereTheAxisSays) {
  // Three tones at once: on a linear axis 1, 4 and 7 kHz sit evenly (the
  // middle halfway); on a log axis the middle sits at log 4 / log 7.
  const std::string in = tones("three.wav", {{{1000, -12}, {4000, -12}, {7000, -12}}}, 1.0);
  for (bool log : {false, true}) {
    const std::string png = path(log ? "log.png" : "lin.png");
    ASSERT_EQ(run("spectrogram " + in + " --max-freq 10k --width 700 --height 450 --png " + png +
                  (log ? " --log --min-freq 100" : ""))
                  .code,
              0);
    int w = 0, h = 0;
    const std::vector<int> rows = brightRows(png, &w, &h);
    EXPECT_EQ(w, 700);
    EXPECT_EQ(h, 450);
    ASSERT_EQ(rows.size(), 3u) << (log ? "log" : "linear");
    const double share = double(rows[2] - rows[1]) / (rows[2] - rows[0]);  // rows run downwards
    EXPECT_NEAR(share, log ? std::log(4.0) / std::log(7.0) : 0.5, 0.02) << (log ? "log" : "linear");
  }
}

TEST_F(ToolUi, EnvelopeTableHasOneRowPerStepAndBothScales) {
  // Silence, then a -6 dBFS tone from 0.5 s, left only.
  const std::string in = tones("step.wav", {{{1000, -6, 0.5}}, {}}, 1.0);
  ASSERT_EQ(run("envelope " + in + " --csv " + path("lin.csv")).code, 0);
  ASSERT_EQ(run("envelope " + in + " --db --rate 20 --csv " + path("db.csv")).code, 0);
  const auto lin = csv(slurp(path("lin.csv"))), db = csv(slurp(path("db.csv")));
  ASSERT_EQ(lin.size(), 1u + 100);
  ASSERT_EQ(db.size(), 1u + 20);
  EXPECT_EQ(lin[0], (std::vector<std::string>{"time_s", "left", "right"}));
  EXPECT_EQ(db[0], (std::vector<std::string>{"time_s", "left_dbfs", "right_dbfs"}));
  EXPECT_NEAR(std::stod(lin[100][0]), 0.99, 1e-9);
  // Rows are peaks over their stretch: the 20-per-second row from 0.75 s
  // holds the loudest of the five 100-per-second rows it spans.
  double peak = 0;
  for (int r = 76; r <= 80; ++r) peak = std::max(peak, std::stod(lin[r][1]));
  EXPECT_NEAR(std::stod(db[16][1]), 20 * std::log10(peak), 0.01);
  EXPECT_NEAR(std::stod(db[16][1]), -6.0, 0.5);
  EXPECT_EQ(db[16][2], "-inf");
  EXPECT_EQ(db[5][1], "-inf");
  EXPECT_EQ(std::stod(lin[20][1]), 0.0);
}

TEST_F(ToolUi, AnalysisMemoryDoesNotGrowWithTheFile) {
  // Peak resident size of one run, in KiB.
  auto peakKib = [](const std::string& args) -> long {
    const pid_t pid = ::fork();
    if (pid == 0) {
      std::freopen("/dev/null", "w", stdout);
      ::execl("/bin/sh", "sh", "-c", ("exec " + std::string(DSPFX_TOOL_PATH) + " " + args).c_str(), nullptr);
      ::_exit(127);
    }
    int status = 0;
    rusage use{};
    if (pid < 0 || ::wait4(pid, &status, 0, &use) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return use.ru_maxrss;
  };
  // A minute of stereo against a second of it: the minute's samples
  // (10.6 MB) plus every spectrum (21 MB) or every envelope value (21 MB)
  // would show as growth. Compared with the short run rather than with a
  // fixed bound, so sanitizer builds, which need more of everything, hold
  // to it too.
  const std::string shortIn = tones("short.wav", {{{440, -6}}, {{3000, -6}}}, 1);
  const std::string longIn = tones("long.wav", {{{440, -6}}, {{3000, -6}}}, 60);
  for (const std::string& cmd : {std::string("spectrogram"), std::string("envelope")}) {
    // The spectra table would be 17 MB of text; its rows are written as they come.
    const std::string outputs = " --png " + path("p.png") + (cmd == "envelope" ? " --csv " + path("t.csv") : "");
    const long small = peakKib(cmd + " " + shortIn + outputs), large = peakKib(cmd + " " + longIn + outputs);
    ASSERT_GT(small, 0) << cmd;
    ASSERT_GT(large, 0) << cmd;
    EXPECT_LT(large - small, 6 * 1024) << cmd << ": KiB at 1 s " << small << ", at 60 s " << large;
  }
}

TEST(ToolProgress, LineGivesShareElapsedSpeedAndTimeLeft) {
  using dspfx::tool::Progress;
  // A quarter of a minute of 48 kHz audio done in 5 s: 3x real time, 15 s left.
  const std::string line = Progress::line("envelope", 720000, 2880000, 5.0, 48000);
  for (const char* says : {"envelope [", " 25%", "0:05 elapsed", "3.0x real time", "0:15 left"}) {
    EXPECT_NE(line.find(says), std::string::npos) << says << "\n" << line;
  }
  EXPECT_NE(Progress::line("process", 10, 20, 2.0, 0).find("5 frames/s"), std::string::npos);
  EXPECT_NE(Progress::line("process", 1, 7200, 1.0, 1).find("1:59:59 left"), std::string::npos);
}

}  // namespace

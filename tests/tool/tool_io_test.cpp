// The tool's files, pipes, signals and lengths, on files the tests make.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Sound {
  int channels = 1, rate = 44100, format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  std::vector<float> samples;  // interleaved
  size_t frames() const { return samples.size() / static_cast<size_t>(channels); }
};

struct Result {
  int code;
  std::string out, err;
};

bool haveSox() { return std::system("sox --version >/dev/null 2>&1") == 0; }

class ToolIo : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/dspfx-io-XXXXXX";
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

  std::string save(const std::string& name, const Sound& s) const {
    SF_INFO info{};
    info.channels = s.channels;
    info.samplerate = s.rate;
    info.format = s.format;
    SNDFILE* f = sf_open(path(name).c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
    if (f) {
      sf_writef_float(f, s.samples.data(), static_cast<sf_count_t>(s.frames()));
      sf_close(f);
    }
    return path(name);
  }

  static Sound load(const std::string& file) {
    SF_INFO info{};
    Sound s;
    SNDFILE* f = sf_open(file.c_str(), SFM_READ, &info);
    if (!f) return s;
    s.channels = info.channels;
    s.rate = info.samplerate;
    s.format = info.format;
    s.samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    sf_readf_float(f, s.samples.data(), info.frames);
    sf_close(f);
    return s;
  }

  static Sound sine(double freq, double amp, size_t frames, int channels = 1, int rate = 44100) {
    Sound s;
    s.channels = channels;
    s.rate = rate;
    for (size_t i = 0; i < frames; ++i) {
      for (int c = 0; c < channels; ++c) {
        s.samples.push_back(static_cast<float>(amp * std::sin(2 * M_PI * freq * (c + 1) * static_cast<double>(i) / rate)));
      }
    }
    return s;
  }

  bool leftovers() const { return std::system(("ls -A '" + dir_ + "' | grep -q part").c_str()) == 0; }

  std::string dir_;
};

TEST_F(ToolIo, OutputsThatAreNotRegularFilesAreNeverReplaced) {
  const std::string in = save("in.wav", sine(440, 0.5, 4410));
  // A link to a regular file is written through and stays a link.
  std::ofstream(path("real.wav")) << "old";
  ASSERT_EQ(::symlink("real.wav", path("link.wav").c_str()), 0);
  ASSERT_EQ(run("process " + in + " " + path("link.wav") + " gain:db=-6").code, 0);
  struct stat st {};
  ASSERT_EQ(::lstat(path("link.wav").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(load(path("real.wav")).frames(), 4410u);

  // A named pipe gets a WAV stream, and is still a pipe afterwards.
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  // The reader gives up after 10 s rather than hang when nobody writes.
  std::thread reader([&] {
    const int fd = ::open(path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
    std::string got;
    char buf[4096];
    for (int idle = 0; fd >= 0 && idle < 1000;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<size_t>(n));
      if (n == 0 && !got.empty()) break;
      if (n <= 0) {
        ++idle;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    if (fd >= 0) ::close(fd);
    std::ofstream(path("fromfifo.wav"), std::ios::binary) << got;
  });
  const Result r = run("process " + in + " " + path("fifo") + " gain:db=-6.0206");
  reader.join();
  EXPECT_EQ(r.code, 0) << r.err;
  ASSERT_EQ(::lstat(path("fifo").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  const Sound streamed = load(path("fromfifo.wav"));
  ASSERT_EQ(streamed.frames(), 4410u);
  // -6.02 dB halves the level; 16-bit dither moves a sample by at most 1 LSB.
  const Sound src = load(in);
  for (size_t i = 0; i < src.samples.size(); i += 97) EXPECT_NEAR(streamed.samples[i], src.samples[i] / 2, 2.5 / 32768);

  // /dev/stdout is written in place, whether the shell made it a file or a pipe.
  const std::string tool = DSPFX_TOOL_PATH;
  ASSERT_EQ(std::system((tool + " process " + in + " /dev/stdout > " + path("redirected.wav")).c_str()), 0);
  ASSERT_EQ(std::system((tool + " process " + in + " /dev/stdout | cat > " + path("piped.wav")).c_str()), 0);
  EXPECT_EQ(load(path("redirected.wav")).samples, src.samples);
  EXPECT_EQ(load(path("piped.wav")).samples, src.samples);

  // Errors name the path the user gave, with the reason.
  const Result bad = run("process " + in + " " + path("nodir/x.wav") + " gain");
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.err.find(path("nodir/x.wav") + ": cannot create the file (No such file or directory)"), std::string::npos) << bad.err;
  EXPECT_EQ(bad.err.find(".part"), std::string::npos) << bad.err;
  EXPECT_FALSE(leftovers());
}

TEST_F(ToolIo, SignalsRemoveTheTemporaryFileAndKeepTheTarget) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    const std::string out = path("keep.wav");
    std::ofstream(out) << "precious";
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::dup2(fds[0], 0);
      ::close(fds[1]);
      ::execl(DSPFX_TOOL_PATH, DSPFX_TOOL_PATH, "process", "-", out.c_str(), "gain:db=-3", "--quiet", nullptr);
      ::_exit(127);
    }
    ::close(fds[0]);
    // A stream that starts and never ends keeps the tool waiting for more.
    const unsigned char header[44] = {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                      16, 0, 0, 0, 1, 0, 1, 0, 0x44, 0xAC, 0, 0, 0x88, 0x58, 1, 0, 2, 0, 16, 0,
                                      'd', 'a', 't', 'a', 0xFF, 0xFF, 0xFF, 0xFF};
    std::vector<unsigned char> data(header, header + 44);
    data.resize(44 + 8192, 1);
    ASSERT_EQ(::write(fds[1], data.data(), data.size()), static_cast<ssize_t>(data.size()));
    for (int i = 0; i < 500 && !leftovers(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(leftovers()) << "no temporary file while writing";
    ::kill(pid, sig);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(fds[1]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "signal " << sig << ", status " << status;
    EXPECT_FALSE(leftovers()) << "signal " << sig;
    EXPECT_EQ(slurp(out), "precious") << "signal " << sig;
  }
}

TEST_F(ToolIo, FormatsKeepTheirResolutionAndConvertOnRequest) {
  // A 24-bit tone far below the 16-bit step survives a doubling exactly.
  Sound quiet = sine(1000, 20.0 / 8388608, 4800, 2, 48000);
  quiet.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
  const std::string in24 = save("in24.wav", quiet);
  ASSERT_EQ(run("process " + in24 + " " + path("out24.wav") + " gain:db=6.0206").code, 0);
  const Sound out24 = load(path("out24.wav"));
  EXPECT_EQ(out24.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
  const Sound src = load(in24);
  ASSERT_EQ(out24.samples.size(), src.samples.size());
  for (size_t i = 0; i < src.samples.size(); ++i) ASSERT_EQ(out24.samples[i] * 8388608, 2 * src.samples[i] * 8388608) << i;

  // Reducing to 16 bits dithers: a DC of 0.3 LSB keeps its mean (TPDF error
  // has 0.5 LSB deviation, 0.002 LSB on the mean of 48000 samples), where
  // plain rounding gives zero.
  Sound dc;
  dc.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  dc.samples.assign(48000, 0.3f / 32768);
  const std::string inDc = save("dc.wav", dc);
  for (const char* opt : {"", "--no-dither"}) {
    ASSERT_EQ(run("process " + inDc + " " + path("dc16.wav") + " --bits 16 " + opt).code, 0);
    const Sound q = load(path("dc16.wav"));
    EXPECT_EQ(q.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    double mean = 0;
    for (float v : q.samples) mean += v * 32768.0 / static_cast<double>(q.samples.size());
    EXPECT_NEAR(mean, *opt ? 0.0 : 0.3, 0.02) << opt;
  }

  // FLAC and AIFF round trips are exact; Ogg keeps the length; info reads all.
  const std::string in = save("in.wav", sine(440, 0.5, 22050, 2));
  const Sound orig = load(in);
  for (const char* ext : {"flac", "aiff", "ogg"}) {
    const std::string name = path(std::string("x.") + ext);
    ASSERT_EQ(run("process " + in + " " + name).code, 0) << ext;
    const Result info = run("info " + name);
    EXPECT_NE(info.out.find("frames:    22050"), std::string::npos) << ext << info.out;
    if (std::string(ext) == "ogg") continue;
    ASSERT_EQ(run("process " + name + " " + path("back.wav")).code, 0) << ext;
    EXPECT_EQ(load(path("back.wav")).samples, orig.samples) << ext;
  }
  ASSERT_EQ(run("process " + in + " " + path("f.wav") + " --float --bits 64").code, 0);
  EXPECT_EQ(load(path("f.wav")).format, SF_FORMAT_WAV | SF_FORMAT_DOUBLE);
  EXPECT_EQ(run("process " + in + " " + path("x.ogg") + " --bits 24").code, 2);
}

TEST_F(ToolIo, DamagedAndWideInputs) {
  // A file cut short is read up to where its data ends, with a warning.
  const std::string in = save("cut.wav", sine(440, 0.5, 10000));
  ASSERT_EQ(::truncate(in.c_str(), 44 + 2 * 6000), 0);
  const Result r = run("process " + in + " " + path("o.wav") + " gain");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("cut short"), std::string::npos) << r.err;
  EXPECT_EQ(load(path("o.wav")).frames(), 6000u);

  // Three channels: each channel through its own chain, as a mono file would go.
  Sound wide = sine(300, 0.4, 8000, 3);
  const std::string in3 = save("three.wav", wide);
  Sound mid;
  for (size_t i = 0; i < wide.frames(); ++i) mid.samples.push_back(wide.samples[3 * i + 1]);
  const std::string in1 = save("mid.wav", mid);
  ASSERT_EQ(run("process " + in3 + " " + path("o3.wav") + " lowpass:freq=500 --no-dither").code, 0);
  ASSERT_EQ(run("process " + in1 + " " + path("o1.wav") + " lowpass:freq=500 --no-dither").code, 0);
  const Sound o3 = load(path("o3.wav")), o1 = load(path("o1.wav"));
  ASSERT_EQ(o3.channels, 3);
  ASSERT_EQ(o3.frames(), o1.frames());
  for (size_t i = 0; i < o1.frames(); ++i) ASSERT_EQ(o3.samples[3 * i + 1], o1.samples[i]) << i;
  EXPECT_EQ(run("process " + in3 + " " + path("o.wav") + " channels:count=2").code, 2);
}

TEST_F(ToolIo, PipesAndClipping) {
  // -6 dBFS doubled twice: every sample above half of full scale clips.
  const Sound tone = sine(440, 0.5, 22050);
  const std::string in = save("in.wav", tone);
  size_t over = 0;
  const auto factor = static_cast<float>(std::pow(10.0, 12.0412 / 20));
  for (float v : load(in).samples) over += std::fabs(v * factor) > 1.0f;
  const std::string tool = DSPFX_TOOL_PATH;
  const Result r = run("process - - gain:db=12.0412 < " + in + " 2>" + path("clip.txt") + " | " + tool + " info - ");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("frames:    22050"), std::string::npos) << r.out;
  const std::string said = slurp(path("clip.txt"));
  EXPECT_NE(said.find("standard output: clipped " + std::to_string(over) + " samples"), std::string::npos) << said << over;
  // A fade-out on a pipe: the stream is held until its end is known.
  ASSERT_EQ(run("process - " + path("faded.wav") + " fade:in=0.1,out=0.1 < " + in).code, 0);
  const Sound faded = load(path("faded.wav"));
  ASSERT_EQ(faded.frames(), 22050u);
  EXPECT_EQ(faded.samples.back(), 0.0f);
  if (!haveSox()) GTEST_SKIP() << "sox is not installed";
  const Result s = run("process " + in + " - gain:db=-6.0206 | sox -t wav - -n stat");
  EXPECT_NE(s.err.find("Samples read: "), std::string::npos) << s.err;
  EXPECT_EQ(std::atoi(s.err.c_str() + s.err.find("Samples read:") + 13), 22050) << s.err;
  EXPECT_NE(s.err.find("Maximum amplitude:     0.25"), std::string::npos) << s.err;
  EXPECT_EQ(s.err.find("WARN"), std::string::npos) << s.err;
}

TEST_F(ToolIo, LengthsAreExactAndDelaysRemoved) {
  Sound click;
  click.samples.assign(22050, 0.0f);
  click.samples[1000] = 0.5f;
  const std::string in = save("click.wav", click);
  struct Case {
    std::string chain;
    size_t frames, tolerance;
  } cases[] = {
      {"resample:rate=48000", 24000, 1},
      {"hqups", 24000, 1},
      {"resample:rate=22050 resample:rate=32000", 16000, 1},
      {"stretch:ratio=1.5", 33075, 33},  // 0.1 %
      {"eq:bands=1024,high=-6", 22050, 0},
      {"chorus:delay=10,depth=2", 22050 + 530, 0},  // 12 ms of echoes flushed
  };
  for (uint32_t block : {16u, 1000u, 4096u}) {
    for (const Case& c : cases) {
      ASSERT_EQ(run("process " + in + " " + path("o.wav") + " " + c.chain + " --block " + std::to_string(block)).code, 0);
      const Sound o = load(path("o.wav"));
      EXPECT_NEAR(static_cast<double>(o.frames()), static_cast<double>(c.frames), static_cast<double>(c.tolerance))
          << c.chain << " --block " << block;
      if (c.chain.rfind("eq", 0) == 0) {
        size_t peak = 0;
        for (size_t i = 0; i < o.frames(); ++i) peak = std::fabs(o.samples[i]) > std::fabs(o.samples[peak]) ? i : peak;
        EXPECT_EQ(peak, 1000u) << "linear-phase delay left in, --block " << block;
      }
    }
  }
}

TEST_F(ToolIo, FadesAndCrossfades) {
  const std::string a = save("a.wav", sine(440, 0.5, 44100)), b = save("b.wav", sine(660, 0.25, 22050));
  ASSERT_EQ(run("process " + a + " " + path("f.wav") + " fade:in=0.1,out=0.1").code, 0);
  const Sound f = load(path("f.wav"));
  ASSERT_EQ(f.frames(), 44100u);
  EXPECT_EQ(f.samples.front(), 0.0f);
  EXPECT_EQ(f.samples.back(), 0.0f);
  const Sound src = load(a);
  EXPECT_NEAR(f.samples[22050 + 7], src.samples[22050 + 7], 1.5 / 32768);

  // A to the overlap at 0.5 s, the 0.25 s overlap, then the rest of B.
  const Result r = run("crossfade " + a + " " + b + " " + path("x.wav") + " --at 0.5 --length 0.25");
  ASSERT_EQ(r.code, 0) << r.err;
  const Sound x = load(path("x.wav")), bs = load(b);
  ASSERT_EQ(x.frames(), 22050u + 22050u);
  EXPECT_NEAR(x.samples[1000], src.samples[1000], 1.5 / 32768);
  EXPECT_NEAR(x.samples[22050 + 20000], bs.samples[20000], 1.5 / 32768);
  EXPECT_EQ(r.err.find("clipped"), std::string::npos);
  ASSERT_EQ(run("crossfade " + a + " " + a + " " + path("x.wav") + " --at 0.5 --length 0.25 --curve 6,-40,0.05,0.8").code, 0);
  EXPECT_NE(slurp(path("stderr.txt")).find("clipped"), std::string::npos);
}

TEST_F(ToolIo, BasicEffects) {
  Sound st = sine(100, 0.25, 1000, 2);
  const std::string in = save("st.wav", st);
  const Sound src = load(in);
  auto process = [&](const std::string& chain) {
    EXPECT_EQ(run("process " + in + " " + path("o.wav") + " " + chain).code, 0) << chain;
    return load(path("o.wav"));
  };
  const Sound rev = process("reverse");
  ASSERT_EQ(rev.frames(), 1000u);
  for (size_t i = 0; i < 1000; ++i) ASSERT_EQ(rev.samples[2 * i + 1], src.samples[2 * (999 - i) + 1]);
  const Sound cut = process("trim:start=0.01,length=0.005");
  ASSERT_EQ(cut.frames(), 221u);  // 0.005 s at 44100 Hz, rounded
  EXPECT_EQ(cut.samples[0], src.samples[2 * 441]);
  const Sound mono = process("channels:count=1");
  ASSERT_EQ(mono.channels, 1);
  EXPECT_NEAR(mono.samples[300], (src.samples[600] + src.samples[601]) / 2, 1.5 / 32768);
  const Sound up = process("channels:count=1 channels:count=2 --no-dither");
  EXPECT_EQ(up.samples[600], up.samples[601]);
  // Norm to -1 dBFS: the peak lands there within 1 LSB of dither.
  const Sound n = process("gain:db=-20 norm:level=-1");
  float peak = 0;
  for (float v : n.samples) peak = std::max(peak, std::fabs(v));
  EXPECT_NEAR(peak, std::pow(10.0, -1 / 20.0), 1.5 / 32768);
}

TEST_F(ToolIo, SlicesFollowTheFileLevel) {
  // A held chord is one slice; hits are found as well at -40 dB as at -10.
  Sound chord;
  for (size_t i = 0; i < 88200; ++i) {
    const double t = static_cast<double>(i) / 44100;
    chord.samples.push_back(static_cast<float>(0.17 * (std::sin(2 * M_PI * 220 * t) + std::sin(2 * M_PI * 277.18 * t) +
                                                       std::sin(2 * M_PI * 329.63 * t))));
  }
  EXPECT_NE(run("slices " + save("chord.wav", chord)).out.find("1 slices"), std::string::npos);
  for (double level : {0.3, 0.01}) {
    Sound hits;
    uint32_t noise = 1;
    for (size_t i = 0; i < 88200; ++i) {
      noise = noise * 1664525u + 1013904223u;
      const double since = static_cast<double>(i % 11025) / 44100;
      hits.samples.push_back(static_cast<float>(level * std::exp(-since * 40) * ((noise >> 8) / 8388608.0 - 1)));
    }
    const Result r = run("slices " + save("hits.wav", hits));
    EXPECT_NE(r.out.find("8 slices"), std::string::npos) << level << "\n" << r.out;
  }
}

}  // namespace

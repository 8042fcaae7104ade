// A wave file of the shared signal written and read back whole, in
// 4096-frame blocks, through the library's wave file calls and, when it is
// installed, through libsndfile. Both use the same file in the system's
// temporary directory; removing it after each iteration is not timed. Each
// round trip is checked once, untimed, to give back the signal's bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_rows.h"
#include "bench_signal.h"
#include "dspfx/dspfx.h"

#ifdef DSPFX_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace {

using namespace dspfx::bench;

constexpr size_t kBytes = size_t{kWholeBlockFrames} * 4;

std::string scratchPath() {
  std::error_code error;
  std::filesystem::path dir = std::filesystem::temp_directory_path(error);
  if (error) dir = ".";
  return (dir / "dspfx_bench_wavefile.wav").string();
}

// Writes and reads back the signal; the bytes read go to back, which holds
// kBytes. False when a call fails.
using RoundTrip = bool (*)(const std::string& path, int16_t* back);

bool libraryRoundTrip(const std::string& path, int16_t* back) {
  const WavefileFormat format{1, 2, kRate, kRate * 4, 4, 16, 0};
  WavefileOut* out = initWavefileOut(path.c_str(), &format);
  if (!out) return false;
  const int16_t* s = testSignal().data();
  bool ok = true;
  for (uint32_t at = 0; at < kWholeBlockFrames; at += kBlockFrames) {
    ok &= writeWavefileOut(out, s + size_t{at} * 2, kBlockFrames * 4) == static_cast<int32_t>(kBlockFrames * 4);
  }
  ok &= termWavefileOut(out) == kBytes;
  WavefileIn* in = initWavefileIn(path.c_str(), 0);
  if (!in) return false;
  size_t done = 0;
  while (done < kBytes) {
    const int32_t got = readWavefileIn(in, back + done / 2, kBlockFrames);
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  termWavefileIn(in);
  return ok && done == kBytes;
}

#ifdef DSPFX_HAVE_SNDFILE
bool sndfileRoundTrip(const std::string& path, int16_t* back) {
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* out = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!out) return false;
  const int16_t* s = testSignal().data();
  bool ok = true;
  for (uint32_t at = 0; at < kWholeBlockFrames; at += kBlockFrames) {
    ok &= sf_writef_short(out, s + size_t{at} * 2, kBlockFrames) == kBlockFrames;
  }
  ok &= sf_close(out) == 0;
  SF_INFO readInfo{};
  SNDFILE* in = sf_open(path.c_str(), SFM_READ, &readInfo);
  if (!in) return false;
  size_t frames = 0;
  for (;;) {
    const sf_count_t got = sf_readf_short(in, back + frames * 2, kBlockFrames);
    if (got <= 0) break;
    frames += static_cast<size_t>(got);
  }
  sf_close(in);
  return ok && frames * 4 == kBytes;
}
#endif

void wavefileRow(benchmark::State& state, RoundTrip roundTrip) {
  const std::string path = scratchPath();
  // Room for one block more than the signal: a reader may hand out a whole
  // block past the end of the data.
  std::vector<int16_t> back(kBytes / 2 + kBlockFrames * 2);
  if (!roundTrip(path, back.data()) || std::memcmp(back.data(), testSignal().data(), kBytes) != 0) {
    std::remove(path.c_str());
    state.SkipWithError("the file read back differs from the signal written");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(roundTrip(path, back.data()));
    state.PauseTiming();
    std::remove(path.c_str());
    state.ResumeTiming();
  }
  reportRealTime(state, kWholeBlockFrames);
}

const bool registered = [] {
  row("wavefile", "write-read", "dspfx", [](benchmark::State& s) { wavefileRow(s, libraryRoundTrip); })
      ->Unit(benchmark::kMillisecond);
#ifdef DSPFX_HAVE_SNDFILE
  row("wavefile", "write-read", "libsndfile", [](benchmark::State& s) { wavefileRow(s, sndfileRoundTrip); })
      ->Unit(benchmark::kMillisecond);
#else
  missingPeer("wavefile", "write-read", "libsndfile", "libsndfile not installed");
#endif
  return true;
}();

}  // namespace

// The benchmark binary's entry point. Besides the Google Benchmark options it
// takes
//   --write-signal FILE.wav   write the shared test signal through the
//                             library's wave writer and exit
// so that whole-program comparisons start from the very samples the rows use.
// A run records the processor, compiler and build flags in its context, so
// one JSON output holds everything the report states.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "bench_build_info.h"
#include "bench_rows.h"
#include "bench_signal.h"
#include "dspfx/dspfx.h"

namespace {

using namespace dspfx::bench;

int writeSignal(const char* path) {
  const WavefileFormat format{1, 2, kRate, kRate * 4, 4, 16, 0};
  WavefileOut* out = initWavefileOut(path, &format);
  if (!out) {
    std::fprintf(stderr, "dspfx_bench: cannot create %s\n", path);
    return 1;
  }
  const std::vector<int16_t>& s = testSignal();
  const auto bytes = static_cast<int32_t>(s.size() * sizeof(int16_t));
  const bool written = writeWavefileOut(out, s.data(), bytes) == bytes;
  if (termWavefileOut(out) != static_cast<uint32_t>(bytes) || !written) {
    std::fprintf(stderr, "dspfx_bench: writing %s failed\n", path);
    std::remove(path);
    return 1;
  }
  return 0;
}

std::string cpuModel() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) {
      const size_t colon = line.find(':');
      if (colon != std::string::npos) return line.substr(line.find_first_not_of(' ', colon + 1));
    }
  }
  return "unknown";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--write-signal") == 0) {
    if (argc != 3) {
      std::fprintf(stderr, "usage: dspfx_bench --write-signal FILE.wav\n");
      return 2;
    }
    return writeSignal(argv[2]);
  }
  enableAllForms();
  std::string arguments;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) arguments += ' ';
    arguments += argv[i];
  }
  benchmark::AddCustomContext("arguments", arguments);
  benchmark::AddCustomContext("cpu_model", cpuModel());
  benchmark::AddCustomContext("compiler", DSPFX_BENCH_COMPILER);
  benchmark::AddCustomContext("build_type", DSPFX_BENCH_BUILD_TYPE);
  benchmark::AddCustomContext("build_flags", DSPFX_BENCH_FLAGS);
  benchmark::AddCustomContext("peers", DSPFX_BENCH_PEERS);
  benchmark::AddCustomContext("processor_forms", "MMX, 3DNow! and SSE switches on");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// The C side of the Python overhead measurement: one chain built from the
// tool's effect syntax, fed fixed-size interleaved float blocks through
// dspSendFloat, as a C host would. Prints the least CPU time of the passes
// (the thread's own, so other processes on a shared machine count little).
//   chain_timer SIGNAL.f32 CHANNELS RATE BLOCK PASSES EFFECT...
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cli.h"
#include "effects.h"

using namespace dspfx::tool;

static double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

int main(int argc, char** argv) {
  if (argc < 7) {
    std::fprintf(stderr, "usage: chain_timer SIGNAL.f32 CHANNELS RATE BLOCK PASSES EFFECT...\n");
    return 2;
  }
  const uint32_t ch = std::atoi(argv[2]), rate = std::atoi(argv[3]), block = std::atoi(argv[4]);
  const int passes = std::atoi(argv[5]);
  std::FILE* f = std::fopen(argv[1], "rb");
  if (!f) return 1;
  std::vector<float> signal;
  float buf[4096];
  size_t n;
  while ((n = std::fread(buf, sizeof(float), 4096, f)) > 0) signal.insert(signal.end(), buf, buf + n);
  std::fclose(f);
  const uint64_t frames = signal.size() / ch;
  std::vector<EffectArg> effects;
  for (int i = 6; i < argc; ++i) effects.push_back(parseEffect(argv[i], effectTable()));
  applySimd("sse");
  double best = 1e30;
  for (int p = 0; p < passes; ++p) {
    DspChain* chain = dspCreate(block, ch, rate);
    StreamFormat fmt{block, ch, rate, static_cast<double>(frames) / rate};
    for (size_t i = 0; i < effects.size(); ++i) {
      DspEffect* e = makeEffect(effects[i], fmt);
      dspAdd(chain, e, static_cast<uint32_t>(i));
      scheduleEffect(effects[i], e, fmt);
      fmt.frames = dspGetDstSize(chain, block);
      fmt.channels = dspGetDstChannels(chain);
      fmt.rate = dspGetDstRate(chain);
    }
    std::vector<float> out((size_t{fmt.frames} * 2 + 64) * 2);
    const double t0 = threadSeconds();
    for (uint64_t at = 0; at + block <= frames; at += block) {
      dspSendFloat(chain, signal.data() + at * ch, out.data(), block);
    }
    const double s = threadSeconds() - t0;
    best = std::min(best, s);
    dspDestroy(chain);
  }
  std::printf("%.9f\n", best);
  return 0;
}

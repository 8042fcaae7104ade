// dspfx: runs the library's effects on WAV files.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dspfx/dspfx.h"
#include "dspfx_version.h"

namespace {

struct Form {
  const char* name;
  int mmx, amd3dnow, sse;
};

constexpr Form kForms[] = {
    {"scalar", 0, 0, 0}, {"mmx", 1, 0, 0}, {"sse", 0, 0, 1}, {"3dnow", 0, 1, 0}};

void selectForm(const Form& f) {
  dspEnableMmx(f.mmx);
  dspEnable3dnow(f.amd3dnow);
  dspEnableSse(f.sse);
}

int usage(FILE* to) {
  std::fprintf(to,
               "usage: dspfx <command> [options]\n"
               "commands:\n"
               "  demo            run the built-in demonstration\n"
               "options:\n"
               "  --help          show this text\n"
               "  --version       print the library version\n");
  return to == stdout ? 0 : 2;
}

int demo() {
  std::printf("dspfx %s\n", DSPFX_VERSION_STRING);
  // A 1 kHz stereo tone at -6 dBFS through the PCM round trip of every
  // processor form, compared with the scalar form.
  constexpr uint32_t kFrames = 44100;
  std::vector<int16_t> tone(2 * kFrames);
  for (uint32_t i = 0; i < kFrames; ++i) {
    const auto v = static_cast<int16_t>(16384 * std::sin(2 * 3.141592653589793 * 1000.0 * i / 44100));
    tone[2 * i] = v;
    tone[2 * i + 1] = static_cast<int16_t>(-v);
  }
  std::vector<int16_t> reference;
  std::printf("%-8s %12s %14s\n", "form", "max |diff|", "time [us]");
  for (const Form& f : kForms) {
    selectForm(f);
    auto* buf = static_cast<float*>(fastmemAlloc(2 * kFrames * 4));
    std::vector<int16_t> out(2 * kFrames);
    const auto t0 = std::chrono::steady_clock::now();
    for (uint32_t i = 0; i < 2 * kFrames; ++i) buf[i] = tone[i];
    dspPcmEncode(buf, out.data(), 2 * kFrames);
    const auto us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
    fastmemFree(buf);
    if (reference.empty()) reference = out;
    int maxDiff = 0;
    for (size_t i = 0; i < out.size(); ++i) maxDiff = std::max(maxDiff, std::abs(out[i] - reference[i]));
    std::printf("%-8s %12d %14.1f\n", f.name, maxDiff, us);
  }
  selectForm(kForms[0]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage(stderr);
  const std::string cmd = argv[1];
  if (cmd == "--help" || cmd == "-h") return usage(stdout);
  if (cmd == "--version") {
    std::printf("dspfx %s\n", DSPFX_VERSION_STRING);
    return 0;
  }
  if (cmd == "demo") return demo();
  std::fprintf(stderr, "dspfx: unknown command '%s'\n", argv[1]);
  return usage(stderr);
}

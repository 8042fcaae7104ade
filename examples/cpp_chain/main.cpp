// Runs a 16-bit PCM WAV file through a processing chain: a high-pass that
// removes rumble, a rate converter and a gentle treble lift, in that order.
//
//   cpp_chain IN.wav OUT.wav [RATE]     (RATE in Hz, default 48000)
//
// The chain owns the effects handed to it and sets each one up for the
// format the previous one produces, so they are created here with the
// file's format and only the converter's output rate really matters.
#include <dspfx/dspfx.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kBlockFrames = 4096;

struct ChainDeleter {
  void operator()(DspChain* c) const { dspDestroy(c); }
};
struct ReaderDeleter {
  void operator()(WavefileIn* r) const { termWavefileIn(r); }
};
struct WriterDeleter {
  void operator()(WavefileOut* w) const { termWavefileOut(w); }
};
using Chain = std::unique_ptr<DspChain, ChainDeleter>;
using Reader = std::unique_ptr<WavefileIn, ReaderDeleter>;
using Writer = std::unique_ptr<WavefileOut, WriterDeleter>;

// Hands effect to the chain, which owns it from then on. One the chain
// refuses is still ours and is destroyed with term.
bool addToChain(DspChain* chain, DspEffect* effect, uint32_t order,
                uint32_t (*term)(DspEffect*)) {
  if (!effect) return false;
  uint32_t count = 0;
  while (dspGetHandle(chain, count)) ++count;
  if (dspAdd(chain, effect, order) > count) return true;
  term(effect);
  return false;
}

int fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: %s IN.wav OUT.wav [RATE]\n", argv[0]);
    return 2;
  }
  const std::string inName = argv[1], outName = argv[2];
  const unsigned long dstRate = argc == 4 ? std::strtoul(argv[3], nullptr, 10) : 48000ul;
  if (dstRate < 1000ul || dstRate > 384000ul) return fail("rate must be 1000 ... 384000 Hz");

  Reader reader(initWavefileIn(inName.c_str(), kBlockFrames));
  if (!reader) return fail(inName + ": cannot be read as a WAV file");
  const WavefileFormat format = *getFormatWavefileIn(reader.get());
  const WavefileInHeader* header = getHeaderWavefileIn(reader.get());
  if (format.formatTag != 1 || format.bitsPerSample != 16 || format.channels > 2)
    return fail(inName + ": only 16-bit PCM with one or two channels is handled");
  const uint32_t channels = format.channels;
  const uint32_t rate = format.samplesPerSec;
  const uint32_t frameBytes = 2 * channels;

  Chain chain(dspCreate(kBlockFrames, channels, rate));
  if (!chain) return fail("no memory for the chain");
  // Fourth-order high-pass at 40 Hz (kind 1), then cubic conversion with a
  // 60 dB anti-alias low-pass, then eight equal bands of which the top two
  // are lifted by 3 dB.
  const float bandGainsDb[8] = {0, 0, 0, 0, 0, 0, 3, 3};
  const bool built =
      rate > 80 &&
      addToChain(chain.get(), initIirFilter(kBlockFrames, channels, rate, 4, 40.0f, 1), 10,
                 termIirFilter) &&
      addToChain(chain.get(),
                 initResampler(kBlockFrames, channels, channels, rate,
                               static_cast<uint32_t>(dstRate), 1, 60.0f, 60.0f, 1),
                 20, termResampler) &&
      addToChain(chain.get(),
                 initShelvingEQ(kBlockFrames, channels, static_cast<uint32_t>(dstRate), 8,
                                bandGainsDb, 0.0f),
                 30, termShelvingEQ);
  if (!built) return fail(inName + ": cannot set up the chain for this format");

  std::vector<int16_t> out(size_t{dspGetDstSize(chain.get(), kBlockFrames)} * channels);
  WavefileFormat outFormat = format;
  outFormat.samplesPerSec = dspGetDstRate(chain.get());
  outFormat.blockAlign = static_cast<uint16_t>(frameBytes);
  outFormat.avgBytesPerSec = outFormat.samplesPerSec * frameBytes;
  outFormat.extraSize = 0;
  Writer writer(initWavefileOut(outName.c_str(), &outFormat));
  if (!writer) return fail(outName + ": cannot be created");

  // Reads run on past the "data" chunk; its declared size ends the loop.
  uint32_t left = header->dataBytes;
  uint32_t written = 0;
  while (left >= frameBytes) {
    const int32_t got = readWavefileIn(reader.get(), nullptr, kBlockFrames);
    if (got < 0) return fail(inName + ": read error");
    if (got == 0) break;
    uint32_t bytes = static_cast<uint32_t>(got) < left ? static_cast<uint32_t>(got) : left;
    left -= bytes;
    bytes -= bytes % frameBytes;
    const uint32_t outBytes =
        dspSend(chain.get(), static_cast<const int16_t*>(header->buffer), out.data(), bytes);
    if (outBytes == 0) continue;  // too short a block for one output frame
    if (writeWavefileOut(writer.get(), out.data(), static_cast<int32_t>(outBytes)) !=
        static_cast<int32_t>(outBytes))
      return fail(outName + ": write error");
    written += outBytes;
  }
  if (termWavefileOut(writer.release()) != written) return fail(outName + ": could not be finished");

  std::printf("%s: %u frames at %u Hz -> %s: %u frames at %u Hz\n", inName.c_str(),
              header->dataBytes / frameBytes, rate, outName.c_str(), written / frameBytes,
              outFormat.samplesPerSec);
  return 0;
}

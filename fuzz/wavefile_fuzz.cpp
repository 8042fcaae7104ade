// libFuzzer target: the input is written to a file that the wave file reader
// then opens, reads to the end, seeks in by bytes and by time, resizes and
// closes, all through the C exports. Whatever it accepts is copied through
// the writer and read back, which must give the same format and bytes.
// Sanitizers catch bad memory use; the invariants below trap on wrong sizes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dspfx/dspfx.h"

namespace {

void require(bool ok) {
  if (!ok) __builtin_trap();
}

std::string scratchDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/dspfx-fuzz-XXXXXX";
  require(mkdtemp(pattern.data()) != nullptr);
  return pattern;
}

struct Scratch {
  Scratch() : dir(scratchDir()), input(dir + "/input.wav"), copy(dir + "/copy.wav") {}
  ~Scratch() {
    std::remove(input.c_str());
    std::remove(copy.c_str());
    rmdir(dir.c_str());
  }
  std::string dir, input, copy;
};

// Keeps the sums of touched bytes from being optimised away.
volatile uint32_t observed = 0;

Scratch& scratch() {
  static Scratch s;
  return s;
}

// Parameters vary with the input without taking bytes from the file layout.
uint32_t hashOf(const uint8_t* data, size_t size) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
  return h;
}

// Reading every byte handed out lets ASan check that the reader's count
// stays inside the buffer it names.
uint32_t touch(const void* p, int32_t n) {
  uint32_t sum = 0;
  for (int32_t i = 0; i < n; ++i) sum += static_cast<const uint8_t*>(p)[i];
  return sum;
}

void roundTrip(const WavefileFormat& format, const std::vector<uint8_t>& data) {
  const std::string& copy = scratch().copy;
  WavefileOut* w = initWavefileOut(copy.c_str(), &format);
  require(w != nullptr);
  if (!data.empty()) {
    require(writeWavefileOut(w, data.data(), static_cast<int32_t>(data.size())) ==
            static_cast<int32_t>(data.size()));
  }
  require(termWavefileOut(w) == data.size());
  WavefileIn* r = initWavefileIn(copy.c_str(), static_cast<uint32_t>(data.size() / 2 / format.channels + 1));
  require(r != nullptr);
  require(std::memcmp(getFormatWavefileIn(r), &format, sizeof format) == 0);
  const WavefileInHeader* h = getHeaderWavefileIn(r);
  require(h->dataBytes == data.size());
  std::vector<uint8_t> back(data.size() + 2 * format.channels);
  const int32_t n = readWavefileIn(r, back.data(), static_cast<uint32_t>(back.size() / 2 / format.channels));
  // The copy ends with its data (and a pad byte when the data is odd).
  require(n >= static_cast<int32_t>(data.size()) && n <= static_cast<int32_t>(data.size()) + 1);
  require(data.empty() || std::memcmp(back.data(), data.data(), data.size()) == 0);
  termWavefileIn(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& input = scratch().input;
  FILE* f = std::fopen(input.c_str(), "wb");
  require(f != nullptr);
  require(std::fwrite(data, 1, size, f) == size);
  require(std::fclose(f) == 0);

  const uint32_t hash = hashOf(data, size);
  const uint32_t frames = hash % 300;
  WavefileIn* r = initWavefileIn(input.c_str(), frames);
  if (!r) return 0;

  const WavefileFormat format = *getFormatWavefileIn(r);
  const WavefileInHeader* h = getHeaderWavefileIn(r);
  require(format.channels != 0 && format.samplesPerSec != 0);
  require(h->bytesRead == 0 && h->reserved1 == 0 && h->reserved2 == 0);
  // RIFF header, "fmt " of at least 16 bytes and the "data" header come first.
  require(size >= 44 && h->dataBytes <= size - 44);
  const uint32_t dataBytes = h->dataBytes;
  const uint32_t frameBytes = 2u * format.channels;
  uint32_t bufferBytes = frames * frameBytes;
  uint32_t sink = 0;

  // To the end of the data chunk with the reader's own buffer, keeping what
  // was read for the writer.
  std::vector<uint8_t> samples;
  for (int i = 0; i < 64 && samples.size() < h->dataBytes; ++i) {
    const int32_t n = readWavefileIn(r, nullptr, frames);
    require(n >= 0 && static_cast<uint32_t>(n) <= bufferBytes && h->bytesRead == n);
    if (n == 0) break;
    sink += touch(h->buffer, n);
    const auto* b = static_cast<const uint8_t*>(h->buffer);
    samples.insert(samples.end(), b, b + n);
  }

  // Byte and time seeks from the data start and from here; every result is
  // a position inside what a 32-bit count can say, or -1.
  const int32_t start = seekWavefileIn(r, 0, 0);
  require(start >= 0 && static_cast<size_t>(start) + h->dataBytes <= size);
  const int32_t offsets[] = {static_cast<int32_t>(hash >> 16) - 32768, -start - 1, 0x7FFFFFFF,
                             static_cast<int32_t>(hash)};
  for (int32_t offset : offsets) {
    const int32_t pos = seekWavefileIn(r, offset, static_cast<int32_t>(hash & 1));
    require(pos >= -1);
  }
  const float times[] = {0.0f, 0.001f * static_cast<float>(hash & 1023), -1e-3f, 1e9f};
  for (float t : times) require(timeSeekWavefileIn(r, t, static_cast<int32_t>((hash >> 1) & 1)) >= -1);

  // A lent buffer, then reads with null into it, then a new own buffer.
  std::vector<uint8_t> lent(8192);
  const uint32_t lentFrames = static_cast<uint32_t>(lent.size()) / frameBytes;
  require(seekWavefileIn(r, 0, 0) == start);
  int32_t n = readWavefileIn(r, lent.data(), lentFrames);
  require(n >= 0 && static_cast<uint32_t>(n) <= lentFrames * frameBytes && h->buffer == lent.data());
  n = readWavefileIn(r, nullptr, lentFrames + 7);
  require(n >= 0 && static_cast<uint32_t>(n) <= lentFrames * frameBytes);
  const uint32_t resized = (hash >> 20) % 64;
  void* fresh = bufSizeExtendWavefileIn(r, resized);
  require(fresh != nullptr && h->buffer == fresh);
  bufferBytes = resized * frameBytes;
  require(touch(fresh, static_cast<int32_t>(bufferBytes)) == 0);
  n = readWavefileIn(r, nullptr, resized + 3);
  require(n >= 0 && static_cast<uint32_t>(n) <= bufferBytes);
  sink += touch(fresh, n);
  termWavefileIn(r);
  observed = sink;

  // Reads run on past the data chunk; only the chunk itself is copied.
  if (samples.size() > dataBytes) samples.resize(dataBytes);
  roundTrip(format, samples);
  return 0;
}

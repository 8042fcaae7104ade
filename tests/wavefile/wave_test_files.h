#pragma once
// Byte-level builders for RIFF files and a per-test scratch directory.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "core/handle_registry.h"
#include "dspfx/dspfx.h"

namespace dspfx::test {

using Bytes = std::vector<uint8_t>;

// Fields of the packed records may lie at odd addresses, where the
// reference a test macro binds would be misaligned: compare copies.
template <class T>
T field(T value) {
  return value;
}

inline void putU16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void putU32(Bytes& b, uint32_t v) {
  putU16(b, v & 0xFFFF);
  putU16(b, v >> 16);
}
inline void putTag(Bytes& b, const char* tag) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(tag[i]));
}
inline uint32_t getU32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// A chunk with its pad byte; declared overrides the size field.
inline Bytes chunk(const char* id, const Bytes& body, int64_t declared = -1) {
  Bytes b;
  b.reserve(body.size() + 9);
  putTag(b, id);
  putU32(b, static_cast<uint32_t>(declared < 0 ? static_cast<int64_t>(body.size()) : declared));
  b.insert(b.end(), body.begin(), body.end());
  if (body.size() & 1) b.push_back(0);
  return b;
}

// Body of a "fmt " chunk of the given length (16, 18 or more).
inline Bytes fmtBody(uint32_t channels, uint32_t rate, uint32_t bits = 16, size_t length = 16,
                     uint32_t tag = 1, uint32_t extra = 0) {
  Bytes b;
  for (uint32_t v : {tag, channels}) putU16(b, v);
  for (uint32_t v : {rate, rate * channels * bits / 8}) putU32(b, v);
  for (uint32_t v : {channels * bits / 8, bits}) putU16(b, v);
  if (length >= 18) putU16(b, extra);
  b.resize(length, 0);
  return b;
}

// "RIFF" form around chunks; declared overrides the RIFF size field.
inline Bytes riff(std::initializer_list<Bytes> chunks, const char* form = "WAVE", int64_t declared = -1) {
  Bytes body;
  putTag(body, form);
  for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
  return chunk("RIFF", body, declared);
}

inline Bytes ramp(size_t n, uint8_t seed = 0) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + seed + (i >> 8));
  return b;
}

// The usual 44-byte-header PCM file.
inline Bytes pcmWave(uint32_t channels, uint32_t rate, const Bytes& data) {
  return riff({chunk("fmt ", fmtBody(channels, rate)), chunk("data", data)});
}

// 16-bit PCM format, as a writer is given it.
inline WavefileFormat pcmFormat(uint16_t channels, uint32_t rate, uint16_t extraSize = 0) {
  return {1, channels, rate, rate * 2u * channels, static_cast<uint16_t>(2 * channels), 16, extraSize};
}

class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    // create_directory says whether it made it: a unique name without mkdtemp.
    std::mt19937_64 rng(std::random_device{}());
    const auto base = std::filesystem::temp_directory_path();
    std::error_code ec;
    for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
      const auto candidate = base / ("dspfx-wave-" + std::to_string(rng()));
      if (std::filesystem::create_directory(candidate, ec)) dir_ = candidate;
    }
    ASSERT_FALSE(dir_.empty()) << "no scratch directory in " << base;
    handlesBefore_ = handleRegistry().size();
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    EXPECT_EQ(handleRegistry().size(), handlesBefore_) << "a reader or writer was left open";
  }
  std::string path(const char* name) const { return (dir_ / name).string(); }
  std::string put(const char* name, const Bytes& bytes) const {
    const std::string p = path(name);
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size()));
    return p;
  }
  static Bytes slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path dir_;
  size_t handlesBefore_ = 0;
};

}  // namespace dspfx::test

// The streaming and band-limited qualities of the resampler and upsampler.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "common/test_support.h"
#include "dspfx/dspfx.h"

namespace {

using dspfx::test::sinePcm;

DspEffect* resampler(uint32_t capacity, uint32_t channels, uint32_t src, uint32_t dst, int32_t interpolation,
                     uint32_t quality) {
  DspEffect* h = initResampler(capacity, channels, channels, src, dst, interpolation, 60.0f, 60.0f, 1);
  if (h && setResamplerQuality(h, quality) != 1) {
    termResampler(h);
    return nullptr;
  }
  return h;
}

DspEffect* upsampler(uint32_t capacity, uint32_t channels, uint32_t src, uint32_t quality) {
  // No harmonics: the mix is 0, so what comes out is the converter's.
  DspEffect* h = initHqupsBySrcsize(capacity, channels, channels, src, 0.0f, 0.0f, 11000, 1, 60.0f, 60.0f, 0, 1);
  if (h && setHqupsQuality(h, quality) != 1) {
    termHqups(h);
    return nullptr;
  }
  return h;
}

using DoCall = uint32_t (*)(DspEffect*, const int16_t*, int16_t*, uint32_t);
using SizeCall = uint32_t (*)(DspEffect*, uint32_t);

// Streams interleaved PCM through do in blocks of next() frames (at most
// capacity); every block's count must stay within what size announces, and
// a guard past that must survive.
std::vector<int16_t> stream(DspEffect* h, DoCall call, SizeCall size, const std::vector<int16_t>& in,
                            uint32_t channels, uint32_t capacity, const std::function<uint32_t()>& next) {
  std::vector<int16_t> out;
  const size_t frames = in.size() / channels;
  for (size_t at = 0; at < frames;) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(std::min(next(), capacity), frames - at));
    const uint32_t most = size(h, n);
    dspfx::test::Guarded<int16_t> buf(size_t{most} * channels, 0x5a5a);
    const uint32_t bytes = call(h, in.data() + at * channels, buf.get(), n * channels * 2);
    EXPECT_LE(bytes, most * channels * 2) << "block of " << n;
    EXPECT_TRUE(buf.intact()) << "block of " << n;
    out.insert(out.end(), buf.data.begin(), buf.data.begin() + bytes / 2);
    at += n;
  }
  return out;
}

std::function<uint32_t()> fixed(uint32_t n) {
  return [n] { return n; };
}

std::function<uint32_t()> randomSizes(uint32_t seed) {
  auto rng = std::make_shared<std::mt19937>(seed);
  return [rng] { return std::uniform_int_distribution<uint32_t>(0, 4096)(*rng); };
}

// Totals after n input frames: exactly ceil(n * dst / src).
uint64_t streamTotal(uint64_t n, uint32_t src, uint32_t dst) { return (n * dst + src - 1) / src; }

struct Case {
  uint32_t src, dst;
  int32_t interpolation;
  uint32_t quality;
};

TEST(RateQuality, BlockSizeNeverChangesTheOutput) {
  const std::vector<int16_t> in = dspfx::test::interleave(dspfx::test::noisePcm(30000, 5, 20000),
                                                         sinePcm(997, 44100, 30000, 1, 0.4));
  for (const Case& c : {Case{44100, 48000, 1, 1}, Case{44100, 48000, 0, 1}, Case{48000, 22050, 1, 1},
                        Case{44100, 48000, 1, 2}, Case{48000, 22050, 1, 2}, Case{44101, 48000, 1, 2}}) {
    std::vector<int16_t> first;
    for (int pass = 0; pass < 3; ++pass) {
      DspEffect* h = resampler(4096, 2, c.src, c.dst, c.interpolation, c.quality);
      ASSERT_NE(h, nullptr);
      const auto sizes = pass == 0 ? fixed(4096) : pass == 1 ? fixed(16) : randomSizes(9);
      const std::vector<int16_t> out = stream(h, doResampler, getResamplerDstSize, in, 2, 4096, sizes);
      EXPECT_EQ(out.size() / 2, streamTotal(30000, c.src, c.dst)) << c.src << " -> " << c.dst;
      if (pass == 0) first = out;
      EXPECT_EQ(out, first) << c.src << " -> " << c.dst << " quality " << c.quality << " pass " << pass;
      termResampler(h);
    }
  }
  // The upsampler's converters stream the same way.
  for (uint32_t quality : {1u, 2u}) {
    std::vector<int16_t> first;
    for (int pass = 0; pass < 2; ++pass) {
      DspEffect* h = upsampler(4096, 2, 44100, quality);
      ASSERT_NE(h, nullptr);
      const std::vector<int16_t> out =
          stream(h, doHqups, getHqupsDstSize, in, 2, 4096, pass == 0 ? fixed(4096) : randomSizes(4));
      EXPECT_EQ(out.size() / 2, streamTotal(30000, 44100, 48000));
      if (pass == 0) first = out;
      EXPECT_EQ(out, first) << "hqups quality " << quality;
      termHqups(h);
    }
  }
}

TEST(RateQuality, ToneFrequencyIsExactOverTenSeconds) {
  // 16-frame blocks: the design's converter makes 1 kHz into 1024 Hz here.
  // A fit over 10 s resolves far below 1e-6; 16-bit rounding is noise to it.
  const std::vector<int16_t> in = sinePcm(1000, 44100, 441000, 1, 0.5);
  for (uint32_t quality : {1u, 2u}) {
    DspEffect* h = resampler(4096, 1, 44100, 48000, 1, quality);
    ASSERT_NE(h, nullptr);
    const std::vector<int16_t> out = stream(h, doResampler, getResamplerDstSize, in, 1, 4096, fixed(16));
    EXPECT_EQ(out.size(), streamTotal(441000, 44100, 48000));
    const double f = dspfx::test::toneFrequency(out.data() + 4800, out.size() - 4800, 48000, 1000);
    EXPECT_NEAR(f / 1000, 1.0, 1e-6) << "quality " << quality << ": " << f << " Hz";
    termResampler(h);
  }
}

TEST(RateQuality, DownSamplingBandLimits) {
  // 48000 -> 22050 of full-scale tones above 11025 Hz: what comes out is
  // alias. The 16-bit output truncates, so a clean converter leaves at most
  // one step (-90.3 dBFS).
  for (double f : {11200.0, 15000.0, 21000.0}) {
    DspEffect* h = resampler(4096, 1, 48000, 22050, 1, 2);
    ASSERT_NE(h, nullptr);
    const std::vector<int16_t> in = sinePcm(f, 48000, 48000, 1, 1.0);
    const std::vector<int16_t> out = stream(h, doResampler, getResamplerDstSize, in, 1, 4096, fixed(1000));
    int peak = 0;
    for (size_t i = 200; i < out.size(); ++i) peak = std::max(peak, std::abs(int{out[i]}));
    EXPECT_LE(peak, 1) << f << " Hz";
    termResampler(h);
  }
}

TEST(RateQuality, SizesFollowTheQualityAndQualityZeroIsTheDesign) {
  DspEffect* h = resampler(4096, 2, 44100, 48000, 1, 0);
  ASSERT_NE(h, nullptr);
  // 1024 * 48000 / 44100 = 1114.56: the design truncates, streaming can
  // give the next frame. 4410 frames are exactly 4800.
  EXPECT_EQ(getResamplerDstSize(h, 1024), 1114u);
  EXPECT_EQ(setResamplerQuality(h, 2), 1u);
  EXPECT_EQ(getResamplerDstSize(h, 1024), 1115u);
  EXPECT_EQ(getResamplerDstSize(h, 4410), 4800u);
  EXPECT_EQ(setResamplerQuality(h, 1), 1u);
  EXPECT_EQ(getResamplerDstSize(h, 1024), 1115u);

  // Back to 0: a fresh design converter, bit for bit.
  const std::vector<int16_t> in = dspfx::test::interleave(dspfx::test::noisePcm(9000, 2), dspfx::test::noisePcm(9000, 3));
  EXPECT_EQ(setResamplerQuality(h, 0), 1u);
  DspEffect* fresh = resampler(4096, 2, 44100, 48000, 1, 0);
  EXPECT_EQ(stream(h, doResampler, getResamplerDstSize, in, 2, 4096, fixed(3000)),
            stream(fresh, doResampler, getResamplerDstSize, in, 2, 4096, fixed(3000)));

  // Foreign, null and unknown values are refused and change nothing.
  DspEffect* hq = upsampler(1024, 1, 22050, 0);
  EXPECT_EQ(setResamplerQuality(h, 3), 0u);
  EXPECT_EQ(setResamplerQuality(hq, 2), 0u);
  EXPECT_EQ(setHqupsQuality(h, 2), 0u);
  EXPECT_EQ(setHqupsQuality(hq, 7), 0u);
  EXPECT_EQ(setResamplerQuality(nullptr, 1), 0u);
  EXPECT_EQ(getResamplerDstSize(h, 1024), 1114u);
  EXPECT_EQ(getHqupsDstSize(hq, 1000), 2176u);  // 1000 * 48000 / 22050 = 2176.87
  EXPECT_EQ(setHqupsQuality(hq, 2), 1u);
  EXPECT_EQ(getHqupsDstSize(hq, 1000), 2177u);
  termHqups(hq);
  termResampler(fresh);
  termResampler(h);
}

TEST(RateQuality, UnequalRatesShrinkTheOutputsToMaxDst) {
  // Same capacity and channels, so everything but outL/outR is the same
  // size: 4096 floats each at equal rates, 2048 each at 44100 -> 22050.
  const uint32_t before = fastmemGetAllocatedSize();
  DspEffect* equal = resampler(4096, 2, 44100, 44100, 1, 0);
  const uint32_t equalBytes = fastmemGetAllocatedSize() - before;
  DspEffect* half = resampler(4096, 2, 44100, 22050, 1, 0);
  const uint32_t halfBytes = fastmemGetAllocatedSize() - before - equalBytes;
  EXPECT_EQ(equalBytes - halfBytes, 2u * (4096 - 2048) * 4);
  termResampler(half);
  termResampler(equal);
  EXPECT_EQ(fastmemGetAllocatedSize(), before);
}

TEST(RateQuality, ChainFollowsTheNewCount) {
  // 44100 -> 48000 -> 44100 in one chain. Once the first gives 4459-frame
  // blocks (one above the design's 4458) the second must take them whole,
  // or frames go missing from the total.
  DspChain* chain = dspCreate(4096, 2, 44100);
  ASSERT_NE(chain, nullptr);
  DspEffect* up = resampler(4096, 2, 44100, 48000, 1, 0);
  DspEffect* down = resampler(16, 2, 48000, 44100, 1, 0);
  ASSERT_EQ(dspAdd(chain, up, 0), 1u);
  ASSERT_EQ(dspAdd(chain, down, 1), 2u);
  EXPECT_EQ(setResamplerQuality(up, 2), 1u);
  EXPECT_EQ(setResamplerQuality(down, 2), 1u);
  EXPECT_EQ(dspGetDstSize(chain, 4096), 4097u);  // ceil(4459 * 44100 / 48000)
  const std::vector<int16_t> in = sinePcm(1000, 44100, 4096 * 30, 2, 0.5);
  std::vector<int16_t> out(2 * 4097);
  uint64_t total = 0;
  for (size_t at = 0; at < in.size(); at += 2 * 4096) {
    total += dspSend(chain, in.data() + at, out.data(), 4096 * 4) / 4;
  }
  const uint64_t mid = streamTotal(4096 * 30, 44100, 48000);
  EXPECT_EQ(total, streamTotal(mid, 48000, 44100));
  dspDestroy(chain);
}

}  // namespace

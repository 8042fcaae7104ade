#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "dsp/real_fft.h"
#include "common/test_support.h"

namespace {

using dspfx::kFftTableFloats;
using dspfx::kFftWorkInts;
using dspfx::realFft;

using dspfx::test::kPi;
constexpr double kFloatEps = 5.9604644775390625e-8;  // 2^-24

struct FftAreas {
  std::vector<float> table = std::vector<float>(kFftTableFloats);
  std::vector<int32_t> work = std::vector<int32_t>(kFftWorkInts, 0);
  std::vector<float> run(std::vector<float> x) {
    realFft(static_cast<int32_t>(x.size()), x.data(), work.data(), table.data());
    return x;
  }
};

std::vector<float> randomSignal(size_t n, uint32_t seed) { return dspfx::test::noiseFloat(n, seed); }

// Bin k of sum x[j] e^{+2 pi i j k / n}, in double.
std::complex<double> dftBin(const std::vector<float>& x, size_t k) {
  const size_t n = x.size();
  std::complex<double> s = 0;
  for (size_t j = 0; j < n; ++j) {
    const double a = 2 * kPi * static_cast<double>((j * k) % n) / static_cast<double>(n);
    s += double{x[j]} * std::complex<double>(std::cos(a), std::sin(a));
  }
  return s;
}

// Unpacks the half spectrum: data[1] holds the real bin n/2.
std::complex<double> packedBin(const std::vector<float>& d, size_t k) {
  const size_t n = d.size();
  if (k == 0) return d[0];
  if (k == n / 2) return d[1];
  return {d[2 * k], d[2 * k + 1]};
}

// The RMS error of a float transform relative to the RMS bin grows like
// eps log2 n, the worst bin a few times that; measured about 0.3 and 1.2,
// so a margin of three, while a wrong twiddle or permutation errs by order
// one. Above n = 2048 only the ends and 64 hashed bins are summed directly.
void expectMatchesDft(const std::vector<float>& x, const std::vector<float>& d) {
  const size_t n = x.size();
  std::vector<size_t> bins;
  for (size_t k = 0; k <= n / 2; ++k) {
    if (n <= 2048 || k < 2 || k == n / 2 || (k * 2654435761u) % (n / 2) < 64) bins.push_back(k);
  }
  const double levels = std::max(1.0, std::log2(static_cast<double>(n)));
  double err2 = 0, ref2 = 0, worst = 0;
  for (size_t k : bins) {
    const std::complex<double> ref = dftBin(x, k);
    const double e = std::abs(packedBin(d, k) - ref);
    err2 += e * e;
    ref2 += std::norm(ref);
    worst = std::max(worst, e);
  }
  const double rmsRef = std::sqrt(ref2 / static_cast<double>(bins.size()));
  EXPECT_LE(std::sqrt(err2 / ref2), kFloatEps * levels) << "n = " << n << ": relative RMS error";
  EXPECT_LE(worst, 4 * kFloatEps * levels * rmsRef) << "n = " << n << ": worst bin error";
}

TEST(RealFft, EightPointExamples) {
  FftAreas f;
  const std::vector<float> impulse0 = f.run({1, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(impulse0, (std::vector<float>{1, 1, 1, 0, 1, 0, 1, 0}));

  EXPECT_EQ(f.run({1, 1, 1, 1, 1, 1, 1, 1}), (std::vector<float>{8, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(RealFft, EverySizeMatchesDoublePrecisionDft) {
  FftAreas f;
  for (size_t n = 2; n <= 32768; n *= 2) {
    const std::vector<float> x = randomSignal(n, static_cast<uint32_t>(n));
    f.work[0] = 0;  // fresh tables for each size
    expectMatchesDft(x, f.run(x));
  }
}

TEST(RealFft, TablesServeSmallerSizesGrowForLargerAndRebuildWhenCleared) {
  FftAreas f;
  f.run(randomSignal(32768, 1));
  EXPECT_EQ(f.work[0], 32768 / 4);
  const std::vector<float> before = f.table;
  for (size_t n : {size_t{16384}, size_t{8192}, size_t{512}, size_t{16}}) {
    const std::vector<float> x = randomSignal(n, 7);
    expectMatchesDft(x, f.run(x));
  }
  EXPECT_EQ(f.table, before) << "a smaller size must not rebuild the tables";

  FftAreas g;
  g.run(randomSignal(64, 2));
  EXPECT_EQ(g.work[0], 16);
  const std::vector<float> x = randomSignal(8192, 3);
  expectMatchesDft(x, g.run(x));
  EXPECT_EQ(g.work[0], 8192 / 4);

  // A cleared mark rebuilds over garbage tables; a mark no build could
  // leave is not trusted either.
  const std::vector<float> y = randomSignal(2048, 4);
  for (int32_t mark : {0, 3}) {
    std::fill(g.table.begin(), g.table.end(), mark ? -1.0f : 12345.0f);
    g.work[0] = mark;
    expectMatchesDft(y, g.run(y));
  }
}

TEST(RealFft, InvalidSizesAndPointersChangeNothing) {
  FftAreas f;
  const std::vector<float> x = randomSignal(64, 5);
  for (int32_t n : {0, 1, 3, 48, -8, 65536}) {
    std::vector<float> d = x;
    realFft(n, d.data(), f.work.data(), f.table.data());
    EXPECT_EQ(d, x) << "n = " << n;
  }
  std::vector<float> d = x;
  realFft(64, d.data(), nullptr, f.table.data());
  realFft(64, d.data(), f.work.data(), nullptr);
  realFft(64, nullptr, f.work.data(), f.table.data());
  EXPECT_EQ(d, x);
  EXPECT_EQ(f.work[0], 0);
}

}  // namespace

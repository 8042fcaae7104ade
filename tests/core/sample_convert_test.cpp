#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/sample_convert.h"
#include "dspfx/dspfx.h"
#include "common/test_support.h"

namespace {

using namespace dspfx;
using test::Guarded;

constexpr uint32_t kLengths[] = {0, 1, 3, 5, 17, 1000};
constexpr float kFloatGuard = 12345.0f;
constexpr int16_t kPcmGuard = 0x5A5A;
constexpr double kLsb = 1.0 / 32767.0;

struct Flags {
  bool mmx, amd3dnow, sse;
};

std::vector<Flags> everyFlagCombination() {
  std::vector<Flags> all;
  for (int bits = 0; bits < 8; ++bits) all.push_back({(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0});
  return all;
}

void setFlags(Flags f) {
  dspEnableMmx(f.mmx);
  dspEnable3dnow(f.amd3dnow);
  dspEnableSse(f.sse);
}

enum class Form { kScalar, kSse, k3dnow };

// 3DNow! wins over SSE; MMX alone selects no conversion form.
Form formOf(Flags f) { return f.amd3dnow ? Form::k3dnow : f.sse ? Form::kSse : Form::kScalar; }

std::string describe(Flags f, uint32_t n, uint32_t offset) {
  std::ostringstream s;
  s << "mmx=" << f.mmx << " 3dnow=" << f.amd3dnow << " sse=" << f.sse << " n=" << n
    << " offset=" << offset;
  return s.str();
}

// Block sizes of a routine (0: the form has no block kernel for it).
struct Blocks {
  uint32_t amd3dnow, sse;
  bool sseAlignsLeft;
};

// [begin, end): the elements a form converts with its vector formula.
struct Span {
  uint32_t begin = 0, end = 0;
  bool has(uint32_t i) const { return i >= begin && i < end; }
};

Span vectorSpan(Form form, Blocks b, uint32_t n, const float* left) {
  const uint32_t block = form == Form::k3dnow ? b.amd3dnow : form == Form::kSse ? b.sse : 0;
  if (block == 0) return {};
  uint32_t head = 0;
  if (form == Form::kSse && b.sseAlignsLeft) {
    const auto misalign = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(left) % 16);
    head = std::min(n, (16 - misalign) % 16 / 4);
  }
  return {head, head + (n - head) / block * block};
}

// Reference formulas, written independently of the library's kernels.
const float kUpperScale = std::bit_cast<float>(0x30000100u);
const float kSumScale = std::bit_cast<float>(0x37800100u);

float scalarPcm(int s) { return static_cast<float>(s * (1.0 / 32767.0)); }
float vectorPcm(int s) { return static_cast<float>(s * 65536 + (s & 0xFFFF)) * kUpperScale; }
float scalarDownmix(int l, int r) { return scalarPcm((l + r) >> 1); }
float vectorDownmix(int l, int r) { return static_cast<float>(l + r) * kSumScale; }

int16_t saturate16(int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767)); }

int32_t vectorToInt(Form form, float p) {
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  if (std::isnan(p)) return kMin;
  if (form == Form::kSse) {
    return (p < -2147483648.0f || p >= 2147483648.0f) ? kMin : static_cast<int32_t>(std::lrint(p));
  }
  return static_cast<int32_t>(std::clamp<double>(std::trunc(p), kMin, 2147483647.0));
}

// Remainders must equal the scalar form itself, whatever precision it
// multiplies in; its own stated values are checked separately below.
int16_t scalarToPcm(float x) { return floatToPcmScalar(x); }
int16_t vectorToPcm(Form form, float x) { return saturate16(vectorToInt(form, x * 32767.0f)); }
int16_t scalarEncode(float x) {
  return static_cast<int16_t>(std::trunc(std::isnan(x) ? 32767.0f : std::clamp(x, -32767.0f, 32767.0f)));
}
int16_t vectorEncode(Form form, float x) { return saturate16(vectorToInt(form, x)); }

bool sameValue(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }
bool sameValue(int16_t a, int16_t b) { return a == b; }

// Every element equals want(i) exactly and lies within tol of scalar(i).
template <class T, class Want, class Scalar>
testing::AssertionResult elementsMatch(const T* got, uint32_t n, Want want, Scalar scalar, double tol) {
  for (uint32_t i = 0; i < n; ++i) {
    const T w = want(i);
    if (!sameValue(got[i], w)) {
      return testing::AssertionFailure() << "element " << i << ": got " << +got[i] << ", want " << +w;
    }
    if (std::abs(static_cast<double>(got[i]) - static_cast<double>(scalar(i))) > tol) {
      return testing::AssertionFailure() << "element " << i << ": " << +got[i] << " is more than "
                                         << tol << " from the scalar " << +scalar(i);
    }
  }
  return testing::AssertionSuccess();
}

std::vector<int16_t> randomPcm(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> dist(-32768, 32767);
  std::vector<int16_t> v(n);
  for (auto& s : v) s = static_cast<int16_t>(dist(rng));
  // Full-scale samples wherever the length allows.
  if (n > 2) v[1] = -32768;
  if (n > 4) v[4] = 32767;
  return v;
}

std::vector<float> randomFloats(size_t n, uint32_t seed, float range) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-range, range);
  std::vector<float> v(n);
  for (auto& x : v) x = dist(rng);
  return v;
}

class SampleConvert : public testing::Test {
 protected:
  void SetUp() override { setFlags({false, false, false}); }
  void TearDown() override { setFlags({false, false, false}); }
};

// Each case runs on arrays at their natural address and moved by one element,
// so unaligned inputs, outputs and the SSE alignment head are all exercised.
constexpr uint32_t kOffsets[] = {0, 1};

TEST_F(SampleConvert, PcmToFloatFormsAndLengths) {
  const Blocks stereoBlocks{2, 4, false}, downmixBlocks{4, 4, false}, monoBlocks{4, 8, false};
  for (Flags f : everyFlagCombination()) {
    for (uint32_t n : kLengths) {
      for (uint32_t off : kOffsets) {
        SCOPED_TRACE(describe(f, n, off));
        // One spare sample: a trailing half frame the stereo forms must ignore.
        const auto pcmStore = randomPcm(2 * n + 1 + off, 100 + n);
        const int16_t* pcm = pcmStore.data() + off;
        const Form form = formOf(f);
        setFlags(f);

        Guarded<float> l(n + off, kFloatGuard), r(n + 1, kFloatGuard);
        float* left = l.get() + off;
        float* right = r.get() + (1 - off);  // a different misalignment from left
        ASSERT_EQ(pcm16ToFloat(pcm, 4 * n + 2, left, right, 2), n);
        Span v = vectorSpan(form, stereoBlocks, n, left);
        EXPECT_TRUE(elementsMatch(
            left, n, [&](uint32_t i) { return v.has(i) ? vectorPcm(pcm[2 * i]) : scalarPcm(pcm[2 * i]); },
            [&](uint32_t i) { return scalarPcm(pcm[2 * i]); }, kLsb));
        EXPECT_TRUE(elementsMatch(
            right, n,
            [&](uint32_t i) { return v.has(i) ? vectorPcm(pcm[2 * i + 1]) : scalarPcm(pcm[2 * i + 1]); },
            [&](uint32_t i) { return scalarPcm(pcm[2 * i + 1]); }, kLsb));
        EXPECT_TRUE(l.intact() && r.intact());

        Guarded<float> d(n + off, kFloatGuard);
        float* mixed = d.get() + off;
        ASSERT_EQ(pcm16ToFloat(pcm, 4 * n + 3, mixed, nullptr, 2), n);
        v = vectorSpan(form, downmixBlocks, n, mixed);
        EXPECT_TRUE(elementsMatch(
            mixed, n,
            [&](uint32_t i) {
              return v.has(i) ? vectorDownmix(pcm[2 * i], pcm[2 * i + 1]) : scalarDownmix(pcm[2 * i], pcm[2 * i + 1]);
            },
            [&](uint32_t i) { return scalarDownmix(pcm[2 * i], pcm[2 * i + 1]); }, kLsb));
        EXPECT_TRUE(d.intact());

        // Any channel count but 2 is one channel; an odd trailing byte is ignored.
        Guarded<float> m(2 * n + off, kFloatGuard);
        float* mono = m.get() + off;
        ASSERT_EQ(pcm16ToFloat(pcm, 4 * n + 1, mono, nullptr, 7), 2 * n);
        v = vectorSpan(form, monoBlocks, 2 * n, mono);
        EXPECT_TRUE(elementsMatch(
            mono, 2 * n, [&](uint32_t i) { return v.has(i) ? vectorPcm(pcm[i]) : scalarPcm(pcm[i]); },
            [&](uint32_t i) { return scalarPcm(pcm[i]); }, kLsb));
        EXPECT_TRUE(m.intact());
      }
    }
  }
}

TEST_F(SampleConvert, FloatToPcmFormsAndLengths) {
  const Blocks stereoBlocks{2, 4, true}, duplicateBlocks{4, 0, false}, monoBlocks{4, 8, true};
  for (Flags f : everyFlagCombination()) {
    for (uint32_t n : kLengths) {
      for (uint32_t off : kOffsets) {
        SCOPED_TRACE(describe(f, n, off));
        // Beyond full scale too: the vector forms saturate instead of clamping.
        auto leftStore = randomFloats(n + off, 200 + n, 1.5f);
        auto rightStore = randomFloats(n + 3, 300 + n, 1.5f);
        // Truncating forms differ from the scalar one only below -1.0 (they
        // reach -32768): put such values where block boundaries fall.
        for (size_t i = 0; i < 4; ++i) {
          if (i < leftStore.size()) leftStore[i] = -1.25f;
          if (i < rightStore.size()) rightStore[i] = -1.25f;
        }
        const float* left = leftStore.data() + off;
        const float* right = rightStore.data() + 3 - 2 * off;
        const Form form = formOf(f);
        setFlags(f);
        // Truncation against rounding or saturation: one step at most.
        const double tol = 1.0;

        Guarded<int16_t> s(2 * n, kPcmGuard);
        ASSERT_EQ(floatToPcm16(left, right, n, s.get(), 2), 4 * n);
        Span v = vectorSpan(form, stereoBlocks, n, left);
        auto stereoIn = [&](uint32_t i) { return i % 2 ? right[i / 2] : left[i / 2]; };
        EXPECT_TRUE(elementsMatch(
            s.get(), 2 * n,
            [&](uint32_t i) { return v.has(i / 2) ? vectorToPcm(form, stereoIn(i)) : scalarToPcm(stereoIn(i)); },
            [&](uint32_t i) { return scalarToPcm(stereoIn(i)); }, tol));
        EXPECT_TRUE(s.intact());

        Guarded<int16_t> d(2 * n, kPcmGuard);
        ASSERT_EQ(floatToPcm16(left, nullptr, n, d.get(), 2), 4 * n);
        v = vectorSpan(form, duplicateBlocks, n, left);
        EXPECT_TRUE(elementsMatch(
            d.get(), 2 * n,
            [&](uint32_t i) { return v.has(i / 2) ? vectorToPcm(form, left[i / 2]) : scalarToPcm(left[i / 2]); },
            [&](uint32_t i) { return scalarToPcm(left[i / 2]); }, tol));
        EXPECT_TRUE(d.intact());

        Guarded<int16_t> m(n, kPcmGuard);
        ASSERT_EQ(floatToPcm16(left, right, n, m.get(), 1), 2 * n);
        v = vectorSpan(form, monoBlocks, n, left);
        EXPECT_TRUE(elementsMatch(
            m.get(), n, [&](uint32_t i) { return v.has(i) ? vectorToPcm(form, left[i]) : scalarToPcm(left[i]); },
            [&](uint32_t i) { return scalarToPcm(left[i]); }, tol));
        EXPECT_TRUE(m.intact());
      }
    }
  }
}

TEST_F(SampleConvert, EncodeMixSubtractFormsAndLengths) {
  const Blocks blocks{4, 8, false};
  for (Flags f : everyFlagCombination()) {
    for (uint32_t n : kLengths) {
      for (uint32_t off : kOffsets) {
        SCOPED_TRACE(describe(f, n, off));
        const Form form = formOf(f);
        setFlags(f);

        // The export takes host arrays of any alignment.
        const auto store = randomFloats(n + off, 400 + n, 40000.0f);
        const float* in = store.data() + off;
        Guarded<int16_t> e(n, kPcmGuard);
        ASSERT_EQ(dspPcmEncode(in, e.get(), n), 2 * n);
        Span v = vectorSpan(form, blocks, n, in);
        EXPECT_TRUE(elementsMatch(
            e.get(), n, [&](uint32_t i) { return v.has(i) ? vectorEncode(form, in[i]) : scalarEncode(in[i]); },
            [&](uint32_t i) { return scalarEncode(in[i]); }, 1.0));
        EXPECT_TRUE(e.intact());

        const auto y0 = randomFloats(n, 500 + n, 2.0f), x = randomFloats(n + off, 600 + n, 2.0f);
        const float g = 0.7071f;
        Guarded<float> y(n, kFloatGuard);
        std::copy(y0.begin(), y0.end(), y.get());
        mixScaled(y.get(), x.data() + off, g, n);
        v = vectorSpan(form, blocks, n, y.get());
        // Single precision against double: a few units in the last place.
        EXPECT_TRUE(elementsMatch(
            y.get(), n,
            [&](uint32_t i) {
              const float xi = x[i + off];
              return v.has(i) ? y0[i] + g * xi : static_cast<float>(double{y0[i]} + double{g} * xi);
            },
            [&](uint32_t i) { return static_cast<float>(double{y0[i]} + double{g} * x[i + off]); }, 1e-6));
        EXPECT_TRUE(y.intact());

        Guarded<float> b(n, kFloatGuard);
        std::copy(y0.begin(), y0.end(), b.get());
        subtractFrom(x.data() + off, b.get(), n);
        EXPECT_TRUE(elementsMatch(
            b.get(), n,
            [&](uint32_t i) {
              return v.has(i) ? x[i + off] - y0[i] : static_cast<float>(double{x[i + off]} - double{y0[i]});
            },
            [&](uint32_t i) { return static_cast<float>(double{x[i + off]} - double{y0[i]}); }, 1e-6));
        EXPECT_TRUE(b.intact());
      }
    }
  }
}

// These have no processor-specific arithmetic: every flag setting gives the
// same bytes.
TEST_F(SampleConvert, InterleavingAndCopyIgnoreFlags) {
  for (Flags f : everyFlagCombination()) {
    for (uint32_t n : kLengths) {
      SCOPED_TRACE(describe(f, n, 0));
      setFlags(f);
      const auto l = randomFloats(n, 700 + n, 1.0f), r = randomFloats(n, 800 + n, 1.0f);

      Guarded<float> both(2 * n, kFloatGuard), dup(2 * n, kFloatGuard), one(n, kFloatGuard);
      EXPECT_EQ(interleaveFloat(l.data(), r.data(), n, both.get(), 2), n);
      EXPECT_EQ(interleaveFloat(l.data(), nullptr, n, dup.get(), 2), n);
      EXPECT_EQ(interleaveFloat(l.data(), r.data(), n, one.get(), 1), n);
      for (uint32_t i = 0; i < n; ++i) {
        ASSERT_TRUE(both.data[2 * i] == l[i] && both.data[2 * i + 1] == r[i]) << i;
        ASSERT_TRUE(dup.data[2 * i] == l[i] && dup.data[2 * i + 1] == l[i]) << i;
        ASSERT_EQ(one.data[i], l[i]) << i;
      }
      EXPECT_TRUE(both.intact() && dup.intact() && one.intact());

      Guarded<float> bl(n, kFloatGuard), br(n, kFloatGuard), avg(n, kFloatGuard), mono(n, kFloatGuard);
      EXPECT_EQ(deinterleaveFloat(both.get(), n, bl.get(), br.get(), 2), n);
      EXPECT_EQ(deinterleaveFloat(both.get(), n, avg.get(), nullptr, 2), n);
      EXPECT_EQ(deinterleaveFloat(l.data(), n, mono.get(), nullptr, 1), n);
      for (uint32_t i = 0; i < n; ++i) {
        ASSERT_TRUE(bl.data[i] == l[i] && br.data[i] == r[i]) << i;
        ASSERT_EQ(avg.data[i], (l[i] + r[i]) * 0.5f) << i;
        ASSERT_EQ(mono.data[i], l[i]) << i;
      }
      EXPECT_TRUE(bl.intact() && br.intact() && avg.intact() && mono.intact());

      // Odd byte counts and unaligned ends: the block form leaves bytes over.
      const auto src = randomPcm(n + 9, 900 + n);
      Guarded<uint8_t> dst(2 * n + 3, 0xA5);
      copyBytes(reinterpret_cast<const uint8_t*>(src.data()) + 1, dst.get(), 2 * n + 3);
      EXPECT_EQ(std::memcmp(dst.get(), reinterpret_cast<const uint8_t*>(src.data()) + 1, 2 * n + 3), 0);
      EXPECT_TRUE(dst.intact());
    }
  }
}

TEST_F(SampleConvert, ScalarStatedValues) {
  const int16_t pcm[] = {32767, -32768};
  float f[2];
  ASSERT_EQ(pcm16ToFloat(pcm, sizeof pcm, f, nullptr, 1), 2u);
  EXPECT_EQ(f[0], 1.0f);
  EXPECT_NEAR(f[1], -1.0000305, 1e-7);
  int16_t back[2];
  ASSERT_EQ(floatToPcm16(f, nullptr, 2, back, 1), 4u);
  EXPECT_EQ(back[0], 32767);
  EXPECT_EQ(back[1], -32767);  // clamped to -1.0 first

  const float x[] = {1.5f, -1.5f, std::nanf(""), 0.99999f};
  int16_t out[4];
  floatToPcm16(x, nullptr, 4, out, 1);
  EXPECT_EQ(out[0], 32767);
  EXPECT_EQ(out[1], -32767);
  EXPECT_EQ(out[2], 32767);
  EXPECT_EQ(out[3], 32766);  // truncation, not rounding

  // Downmix halves in integers, rounding toward minus infinity. The 10-byte
  // block holds two frames and a half frame that is ignored.
  const int16_t lr[] = {1, 0, -1, 0, 999};
  float mixed[3] = {kFloatGuard, kFloatGuard, kFloatGuard};
  ASSERT_EQ(pcm16ToFloat(lr, sizeof lr, mixed, nullptr, 2), 2u);
  EXPECT_EQ(mixed[0], 0.0f);
  EXPECT_EQ(mixed[1], static_cast<float>(-1.0 / 32767.0));
  EXPECT_EQ(mixed[2], kFloatGuard);

  const float pcmScale[] = {40000.0f, -40000.0f, std::nanf(""), 2.9f, -2.9f};
  int16_t enc[5];
  ASSERT_EQ(dspPcmEncode(pcmScale, enc, 5), 10u);
  EXPECT_EQ(enc[0], 32767);
  EXPECT_EQ(enc[1], -32767);
  EXPECT_EQ(enc[2], 32767);
  EXPECT_EQ(enc[3], 2);
  EXPECT_EQ(enc[4], -2);
  EXPECT_EQ(dspPcmDecode(), 0u);
}

TEST_F(SampleConvert, VectorFormsRoundAndSaturate) {
  // A product with 32767 of about 100.6: rounding gives 101, truncation 100.
  const float p = 100.6f / 32767.0f;
  ASSERT_NEAR(p * 32767.0f, 100.6, 1e-3);
  // One full SSE block, aligned so that no frame goes to the scalar head.
  alignas(16) const float x[8] = {-1.5f, p, std::nanf(""), 1e6f, -1e6f, 1.5f, -p, 0.0f};
  struct Case {
    Flags flags;
    int16_t want[8];
  };
  const Case cases[] = {
      {{false, false, false}, {-32767, 100, 32767, 32767, -32767, 32767, -100, 0}},
      {{false, false, true}, {-32768, 101, -32768, -32768, -32768, 32767, -101, 0}},
      {{false, true, true}, {-32768, 100, -32768, 32767, -32768, 32767, -100, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(describe(c.flags, 8, 0));
    setFlags(c.flags);
    alignas(16) int16_t out[8];
    floatToPcm16(x, nullptr, 8, out, 1);
    EXPECT_EQ(std::vector<int16_t>(out, out + 8), std::vector<int16_t>(c.want, c.want + 8));
  }

  // The encoder has no multiplication: ties go to even under SSE.
  alignas(16) const float e[8] = {2.5f, 3.5f, -2.5f, -3.9f, 1e10f, -1e10f, std::nanf(""), 40000.0f};
  alignas(16) int16_t out[8];
  setFlags({false, false, true});
  dspPcmEncode(e, out, 8);
  EXPECT_EQ(std::vector<int16_t>(out, out + 8),
            (std::vector<int16_t>{2, 4, -2, -4, -32768, -32768, -32768, 32767}));
  setFlags({false, true, false});
  dspPcmEncode(e, out, 8);
  EXPECT_EQ(std::vector<int16_t>(out, out + 8),
            (std::vector<int16_t>{2, 3, -2, -3, 32767, -32768, -32768, 32767}));

  // Only the low byte of the switch counts.
  setFlags({false, false, false});
  dspEnableSse(0x100);
  floatToPcm16(x, nullptr, 8, out, 1);
  EXPECT_EQ(out[1], 100);
  dspEnableSse(0x1FF);
  floatToPcm16(x, nullptr, 8, out, 1);
  EXPECT_EQ(out[1], 101);
}

TEST_F(SampleConvert, SseHeadFollowsLeftAlignment) {
  const float p = 100.6f / 32767.0f;  // truncates to 100, rounds to 101
  alignas(16) float leftStore[16], rightStore[16];
  std::fill(std::begin(leftStore), std::end(leftStore), p);
  std::fill(std::begin(rightStore), std::end(rightStore), -p);
  float* left = leftStore + 1;  // 4 bytes past a boundary: three head frames
  setFlags({false, false, true});

  // Frames 0-2 head (scalar), 3-10 two blocks, 11 remainder (scalar). The right
  // array follows the left's partition whatever its own alignment.
  for (float* right : {rightStore + 1, rightStore + 2}) {
    Guarded<int16_t> out(24, kPcmGuard);
    ASSERT_EQ(floatToPcm16(left, right, 12, out.get(), 2), 48u);
    for (uint32_t i = 0; i < 12; ++i) {
      const int want = (i >= 3 && i < 11) ? 101 : 100;
      EXPECT_EQ(out.data[2 * i], want) << "frame " << i;
      EXPECT_EQ(out.data[2 * i + 1], -want) << "frame " << i;
    }
    EXPECT_TRUE(out.intact());
  }

  Guarded<int16_t> mono(12, kPcmGuard);
  ASSERT_EQ(floatToPcm16(left, nullptr, 12, mono.get(), 1), 24u);
  for (uint32_t i = 0; i < 12; ++i) EXPECT_EQ(mono.data[i], (i >= 3 && i < 11) ? 101 : 100) << i;
  EXPECT_TRUE(mono.intact());

  // Fewer frames than the head: all scalar.
  int16_t two[4];
  floatToPcm16(left, rightStore + 1, 2, two, 2);
  EXPECT_EQ(std::vector<int16_t>(two, two + 4), (std::vector<int16_t>{100, -100, 100, -100}));
}

TEST_F(SampleConvert, SixteenBitRoundTrips) {
  std::vector<int16_t> all(65536);
  for (int i = 0; i < 65536; ++i) all[i] = static_cast<int16_t>(i - 32768);
  std::vector<float> f(all.size());
  std::vector<int16_t> back(all.size());
  auto roundTrip = [&](Flags flags) {
    setFlags(flags);
    ASSERT_EQ(pcm16ToFloat(all.data(), 2 * 65536, f.data(), nullptr, 1), 65536u);
    for (int i = 0; i < 65536; ++i) {
      ASSERT_LE(std::abs(f[i] - scalarPcm(all[i])), kLsb) << all[i];
    }
    ASSERT_EQ(floatToPcm16(f.data(), nullptr, 65536, back.data(), 1), 2u * 65536);
  };

  // Scalar: truncation can only lose, never gain, so a sample comes back as
  // itself or one step nearer zero; -32768 is clamped to -32767.
  roundTrip({false, false, false});
  for (int i = 0; i < 65536; ++i) {
    const int s = all[i], towardZero = s > 0 ? s - 1 : s < 0 ? s + 1 : 0;
    ASSERT_TRUE(back[i] == s || back[i] == towardZero) << s << " came back as " << back[i];
  }
  EXPECT_EQ(back[0], -32767);

  // The vector forms repeat the sample in the lower half of the integer,
  // which adds just under one step to every negative sample and a fraction
  // of 2^-16 to every positive one. Truncation (3DNow!) therefore returns
  // positives exactly and negatives one step up.
  roundTrip({false, true, false});
  for (int i = 0; i < 65536; ++i) ASSERT_EQ(back[i], all[i] < 0 ? all[i] + 1 : all[i]) << all[i];

  // Rounding (SSE) returns every sample as itself or one step up.
  roundTrip({false, false, true});
  int up = 0;
  for (int i = 0; i < 65536; ++i) {
    ASSERT_TRUE(back[i] == all[i] || back[i] == all[i] + 1) << all[i] << " came back as " << back[i];
    up += back[i] != all[i];
  }
  EXPECT_GT(up, 0);
}

}  // namespace

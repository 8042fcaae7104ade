#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "common/test_support.h"
#include "core/sample_convert.h"
#include "dspfx/dspfx.h"

namespace {

using namespace dspfx;
using test::Guarded;
using test::asVector;

constexpr float kFloatGuard = 12345.0f;
constexpr int16_t kPcmGuard = 0x5A5A;
constexpr double kLsb = 1.0 / 32767.0;

// Flag bits: 1 MMX, 2 3DNow!, 4 SSE.
void setFlags(int bits) {
  dspEnableMmx(bits & 1);
  dspEnable3dnow((bits >> 1) & 1);
  dspEnableSse((bits >> 2) & 1);
}

enum class Form { kScalar, kSse, k3dnow };

// 3DNow! wins over SSE; MMX alone selects no conversion form.
Form formOf(int bits) { return bits & 2 ? Form::k3dnow : bits & 4 ? Form::kSse : Form::kScalar; }

// [begin, end): the elements a form converts with its block kernel, given
// the block sizes (0: none) and whether SSE first converts a scalar head up
// to the left array's 16-byte boundary.
struct Span {
  uint32_t begin = 0, end = 0;
  bool has(uint32_t i) const { return i >= begin && i < end; }
};
Span vectorSpan(Form form, uint32_t amd3dnow, uint32_t sse, bool sseAlignsLeft, uint32_t n, const void* left) {
  const uint32_t block = form == Form::k3dnow ? amd3dnow : form == Form::kSse ? sse : 0;
  if (block == 0) return {};
  uint32_t head = 0;
  if (form == Form::kSse && sseAlignsLeft) head = std::min<uint32_t>(n, (16 - reinterpret_cast<uintptr_t>(left) % 16) % 16 / 4);
  return {head, head + (n - head) / block * block};
}

// Reference formulas, written independently of the library's kernels.
const float kUpperScale = std::bit_cast<float>(0x30000100u);
const float kSumScale = std::bit_cast<float>(0x37800100u);

float pcmRef(bool vector, int s) {
  return vector ? static_cast<float>(s * 65536 + (s & 0xFFFF)) * kUpperScale : static_cast<float>(s * (1.0 / 32767.0));
}
float downmixRef(bool vector, int l, int r) {
  return vector ? static_cast<float>(l + r) * kSumScale : pcmRef(false, (l + r) >> 1);
}

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
int16_t toPcmRef(Form form, bool vector, float x) {
  return vector ? saturate16(vectorToInt(form, x * 32767.0f)) : floatToPcmScalar(x);
}
int16_t encodeRef(Form form, bool vector, float x) {
  if (vector) return saturate16(vectorToInt(form, x));
  return static_cast<int16_t>(std::trunc(std::isnan(x) ? 32767.0f : std::clamp(x, -32767.0f, 32767.0f)));
}

bool sameValue(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }
bool sameValue(int16_t a, int16_t b) { return a == b; }

// Every element equals want(i, whether its frame i / perFrame is in the
// block span) exactly and lies within tol of the scalar want(i, false).
template <class T, class Want>
testing::AssertionResult formMatches(const T* got, uint32_t n, Span v, uint32_t perFrame, Want want, double tol) {
  for (uint32_t i = 0; i < n; ++i) {
    const T w = want(i, v.has(i / perFrame)), s = want(i, false);
    if (!sameValue(got[i], w)) {
      return testing::AssertionFailure() << "element " << i << ": got " << +got[i] << ", want " << +w;
    }
    if (std::abs(static_cast<double>(got[i]) - static_cast<double>(s)) > tol) {
      return testing::AssertionFailure() << "element " << i << ": " << +got[i] << " is more than " << tol
                                         << " from the scalar " << +s;
    }
  }
  return testing::AssertionSuccess();
}

std::vector<int16_t> randomPcm(size_t n, uint32_t seed) {
  auto v = test::noisePcm(n, seed);
  // Full-scale samples wherever the length allows.
  if (n > 2) v[1] = -32768;
  if (n > 4) v[4] = 32767;
  return v;
}

// Every flag setting and length, on arrays at their natural address and
// moved by one element (unaligned ends and the SSE alignment head).
template <class Body>
void forEachCase(Body body) {
  for (int bits = 0; bits < 8; ++bits) {
    for (uint32_t n : {0u, 1u, 3u, 5u, 17u, 1000u}) {
      for (uint32_t off : {0u, 1u}) {
        SCOPED_TRACE(testing::Message() << "flags " << bits << " n=" << n << " offset=" << off);
        setFlags(bits);
        body(formOf(bits), n, off);
      }
    }
  }
}

class SampleConvert : public testing::Test {
 protected:
  void SetUp() override { setFlags(0); }
  void TearDown() override { setFlags(0); }
};

TEST_F(SampleConvert, PcmToFloatFormsAndLengths) {
  forEachCase([&](Form form, uint32_t n, uint32_t off) {
    // One spare sample: a trailing half frame the stereo forms must ignore.
    const auto store = randomPcm(2 * n + 1 + off, 100 + n);
    const int16_t* pcm = store.data() + off;
    Guarded<float> l(n + off, kFloatGuard), r(n + 1, kFloatGuard), d(n + off, kFloatGuard), m(2 * n + off, kFloatGuard);
    float *left = l.get() + off, *mixed = d.get() + off, *mono = m.get() + off;
    float* right = r.get() + (1 - off);  // a different misalignment from left
    ASSERT_EQ(pcm16ToFloat(pcm, 4 * n + 2, left, right, 2), n);
    const Span v = vectorSpan(form, 2, 4, false, n, left);
    EXPECT_TRUE(formMatches(left, n, v, 1, [&](uint32_t i, bool vec) { return pcmRef(vec, pcm[2 * i]); }, kLsb));
    EXPECT_TRUE(formMatches(right, n, v, 1, [&](uint32_t i, bool vec) { return pcmRef(vec, pcm[2 * i + 1]); }, kLsb));
    ASSERT_EQ(pcm16ToFloat(pcm, 4 * n + 3, mixed, nullptr, 2), n);
    EXPECT_TRUE(formMatches(mixed, n, vectorSpan(form, 4, 4, false, n, mixed), 1,
                            [&](uint32_t i, bool vec) { return downmixRef(vec, pcm[2 * i], pcm[2 * i + 1]); }, kLsb));
    // Any channel count but 2 is one channel; an odd trailing byte is ignored.
    ASSERT_EQ(pcm16ToFloat(pcm, 4 * n + 1, mono, nullptr, 7), 2 * n);
    EXPECT_TRUE(formMatches(mono, 2 * n, vectorSpan(form, 4, 8, false, 2 * n, mono), 1,
                            [&](uint32_t i, bool vec) { return pcmRef(vec, pcm[i]); }, kLsb));
    EXPECT_TRUE(l.intact() && r.intact() && d.intact() && m.intact());
  });
}

TEST_F(SampleConvert, FloatToPcmEncodeMixSubtractFormsAndLengths) {
  // Truncation against rounding or saturation: one step at most.
  constexpr double kStep = 1.0;
  forEachCase([&](Form form, uint32_t n, uint32_t off) {
    // Beyond full scale too: the vector forms saturate instead of clamping.
    auto leftStore = test::noiseFloat(n + off, 200 + n, 1.5f), rightStore = test::noiseFloat(n + 3, 300 + n, 1.5f);
    // Truncating forms differ from the scalar one only below -1.0 (they
    // reach -32768): put such values where block boundaries fall.
    for (auto* s : {&leftStore, &rightStore}) std::fill_n(s->begin(), std::min<size_t>(4, s->size()), -1.25f);
    const float* left = leftStore.data() + off;
    const float* right = rightStore.data() + 3 - 2 * off;
    Guarded<int16_t> s(2 * n, kPcmGuard), d(2 * n, kPcmGuard), m(n, kPcmGuard), e(n, kPcmGuard);
    ASSERT_EQ(floatToPcm16(left, right, n, s.get(), 2), 4 * n);
    EXPECT_TRUE(formMatches(s.get(), 2 * n, vectorSpan(form, 2, 4, true, n, left), 2, [&](uint32_t i, bool vec) {
      return toPcmRef(form, vec, i % 2 ? right[i / 2] : left[i / 2]);
    }, kStep));
    ASSERT_EQ(floatToPcm16(left, nullptr, n, d.get(), 2), 4 * n);
    EXPECT_TRUE(formMatches(d.get(), 2 * n, vectorSpan(form, 4, 0, false, n, left), 2,
                            [&](uint32_t i, bool vec) { return toPcmRef(form, vec, left[i / 2]); }, kStep));
    ASSERT_EQ(floatToPcm16(left, right, n, m.get(), 1), 2 * n);
    EXPECT_TRUE(formMatches(m.get(), n, vectorSpan(form, 4, 8, true, n, left), 1,
                            [&](uint32_t i, bool vec) { return toPcmRef(form, vec, left[i]); }, kStep));

    // The export takes host arrays of any alignment.
    const auto encStore = test::noiseFloat(n + off, 400 + n, 40000.0f);
    const float* in = encStore.data() + off;
    ASSERT_EQ(dspPcmEncode(in, e.get(), n), 2 * n);
    EXPECT_TRUE(formMatches(e.get(), n, vectorSpan(form, 4, 8, false, n, in), 1,
                            [&](uint32_t i, bool vec) { return encodeRef(form, vec, in[i]); }, 1.0));
    EXPECT_TRUE(s.intact() && d.intact() && m.intact() && e.intact());

    const auto y0 = test::noiseFloat(n, 500 + n, 2.0f), xs = test::noiseFloat(n + off, 600 + n, 2.0f);
    const float* x = xs.data() + off;
    const float g = 0.7071f;
    Guarded<float> y(n, kFloatGuard), b(n, kFloatGuard);
    std::copy(y0.begin(), y0.end(), y.get());
    std::copy(y0.begin(), y0.end(), b.get());
    mixScaled(y.get(), x, g, n);
    subtractFrom(x, b.get(), n);
    const Span v = vectorSpan(form, 4, 8, false, n, y.get());
    // Single precision against double: a few units in the last place.
    EXPECT_TRUE(formMatches(y.get(), n, v, 1, [&](uint32_t i, bool vec) {
      return vec ? y0[i] + g * x[i] : static_cast<float>(double{y0[i]} + double{g} * x[i]);
    }, 1e-6));
    EXPECT_TRUE(formMatches(b.get(), n, v, 1, [&](uint32_t i, bool vec) {
      return vec ? x[i] - y0[i] : static_cast<float>(double{x[i]} - double{y0[i]});
    }, 1e-6));
    EXPECT_TRUE(y.intact() && b.intact());
  });
}

// These have no processor-specific arithmetic: every flag setting gives the
// same bytes.
TEST_F(SampleConvert, InterleavingAndCopyIgnoreFlags) {
  forEachCase([&](Form, uint32_t n, uint32_t off) {
    const auto l = test::noiseFloat(n, 700 + n, 1.0f), r = test::noiseFloat(n, 800 + n, 1.0f);
    Guarded<float> both(2 * n, kFloatGuard), dup(2 * n, kFloatGuard), one(n, kFloatGuard), bl(n, kFloatGuard),
        br(n, kFloatGuard), avg(n, kFloatGuard), mono(n, kFloatGuard);
    EXPECT_EQ(interleaveFloat(l.data(), r.data(), n, both.get(), 2), n);
    EXPECT_EQ(interleaveFloat(l.data(), nullptr, n, dup.get(), 2), n);
    EXPECT_EQ(interleaveFloat(l.data(), r.data(), n, one.get(), 1), n);
    EXPECT_EQ(deinterleaveFloat(both.get(), n, bl.get(), br.get(), 2), n);
    EXPECT_EQ(deinterleaveFloat(both.get(), n, avg.get(), nullptr, 2), n);
    EXPECT_EQ(deinterleaveFloat(l.data(), n, mono.get(), nullptr, 1), n);
    for (uint32_t i = 0; i < n; ++i) {
      ASSERT_TRUE(both.data[2 * i] == l[i] && both.data[2 * i + 1] == r[i]) << i;
      ASSERT_TRUE(dup.data[2 * i] == l[i] && dup.data[2 * i + 1] == l[i]) << i;
      ASSERT_TRUE(one.data[i] == l[i] && bl.data[i] == l[i] && br.data[i] == r[i] && mono.data[i] == l[i]) << i;
      ASSERT_EQ(avg.data[i], (l[i] + r[i]) * 0.5f) << i;
    }
    EXPECT_TRUE(both.intact() && dup.intact() && one.intact() && bl.intact() && br.intact() && avg.intact() &&
                mono.intact());

    // Odd byte counts and unaligned ends: the block form leaves bytes over.
    const auto src = randomPcm(n + 9, 900 + n);
    const auto* from = reinterpret_cast<const uint8_t*>(src.data()) + 1 + off;
    Guarded<uint8_t> dst(2 * n + 3, 0xA5);
    copyBytes(from, dst.get(), 2 * n + 3);
    EXPECT_EQ(std::memcmp(dst.get(), from, 2 * n + 3), 0);
    EXPECT_TRUE(dst.intact());
  });
}

// Clamping, NaN, truncation and encoding of the scalar form: the flags 0
// row of the next test.
TEST_F(SampleConvert, ScalarStatedValues) {
  const int16_t pcm[] = {32767, -32768};
  float f[2];
  ASSERT_EQ(pcm16ToFloat(pcm, sizeof pcm, f, nullptr, 1), 2u);
  EXPECT_EQ(f[0], 1.0f);
  EXPECT_NEAR(f[1], -1.0000305, 1e-7);
  int16_t back[2];
  ASSERT_EQ(floatToPcm16(f, nullptr, 2, back, 1), 4u);
  EXPECT_EQ(asVector(back), (std::vector<int16_t>{32767, -32767}));  // clamped to -1.0 first
  // Downmix halves in integers, rounding toward minus infinity. The 10-byte
  // block holds two frames and a half frame that is ignored.
  const int16_t lr[] = {1, 0, -1, 0, 999};
  float mixed[3] = {kFloatGuard, kFloatGuard, kFloatGuard};
  ASSERT_EQ(pcm16ToFloat(lr, sizeof lr, mixed, nullptr, 2), 2u);
  EXPECT_EQ(asVector(mixed), (std::vector<float>{0.0f, static_cast<float>(-1.0 / 32767.0), kFloatGuard}));
  EXPECT_EQ(dspPcmDecode(), 0u);
}

TEST_F(SampleConvert, VectorFormsRoundSaturateAndAlignOnTheLeft) {
  // A product with 32767 of about 100.6: rounding gives 101, truncation 100.
  const float p = 100.6f / 32767.0f;
  ASSERT_NEAR(p * 32767.0f, 100.6, 1e-3);
  // One full SSE block, aligned so that no frame goes to the scalar head.
  alignas(16) const float x[8] = {-1.5f, p, std::nanf(""), 1e6f, -1e6f, 1.5f, -p, 0.0f};
  // The encoder has no multiplication: ties go to even under SSE.
  alignas(16) const float e[8] = {2.5f, 3.5f, -2.5f, -3.9f, 1e10f, -1e10f, std::nanf(""), 40000.0f};
  // 6: 3DNow! takes precedence over SSE.
  const struct {
    int flags;
    std::vector<int16_t> toPcm, encoded;
  } cases[] = {
      {0, {-32767, 100, 32767, 32767, -32767, 32767, -100, 0}, {2, 3, -2, -3, 32767, -32767, 32767, 32767}},
      {4, {-32768, 101, -32768, -32768, -32768, 32767, -101, 0}, {2, 4, -2, -4, -32768, -32768, -32768, 32767}},
      {6, {-32768, 100, -32768, 32767, -32768, 32767, -100, 0}, {2, 3, -2, -3, 32767, -32768, -32768, 32767}},
  };
  alignas(16) int16_t out[8];
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags " << c.flags);
    setFlags(c.flags);
    floatToPcm16(x, nullptr, 8, out, 1);
    EXPECT_EQ(asVector(out), c.toPcm);
    dspPcmEncode(e, out, 8);
    EXPECT_EQ(asVector(out), c.encoded);
  }

  // Only the low byte of the switch counts.
  setFlags(0);
  for (auto [flag, want] : {std::pair{0x100, 100}, {0x1FF, 101}}) {
    dspEnableSse(flag);
    floatToPcm16(x, nullptr, 8, out, 1);
    EXPECT_EQ(out[1], want) << "switch " << flag;
  }

  // 4 bytes past a boundary: frames 0-2 head (scalar), 3-10 two blocks, 11
  // remainder (scalar). The right array follows the left's partition
  // whatever its own alignment.
  alignas(16) float leftStore[16], rightStore[16];
  std::fill(std::begin(leftStore), std::end(leftStore), p);
  std::fill(std::begin(rightStore), std::end(rightStore), -p);
  setFlags(4);
  for (float* right : {rightStore + 1, rightStore + 2}) {
    Guarded<int16_t> pcm(24, kPcmGuard);
    ASSERT_EQ(floatToPcm16(leftStore + 1, right, 12, pcm.get(), 2), 48u);
    for (uint32_t i = 0; i < 12; ++i) {
      const int want = (i >= 3 && i < 11) ? 101 : 100;
      EXPECT_TRUE(pcm.data[2 * i] == want && pcm.data[2 * i + 1] == -want) << "frame " << i;
    }
    EXPECT_TRUE(pcm.intact());
  }
}

TEST_F(SampleConvert, SixteenBitRoundTrips) {
  std::vector<int16_t> all(65536), back(65536);
  for (int i = 0; i < 65536; ++i) all[i] = static_cast<int16_t>(i - 32768);
  std::vector<float> f(all.size());
  // Scalar truncation loses at most a step toward zero (-32768 clamps). The
  // vector forms repeat the sample in the integer's lower half, adding just
  // under a step to negatives and a trace to positives: 3DNow! truncation
  // returns negatives one step up, SSE rounding any sample itself or one up.
  for (int flags : {0, 2, 4}) {
    SCOPED_TRACE(testing::Message() << "flags " << flags);
    setFlags(flags);
    ASSERT_EQ(pcm16ToFloat(all.data(), 2 * 65536, f.data(), nullptr, 1), 65536u);
    ASSERT_EQ(floatToPcm16(f.data(), nullptr, 65536, back.data(), 1), 2u * 65536);
    int up = 0;
    for (int i = 0; i < 65536; ++i) {
      const int s = all[i], b = back[i];
      const bool ok = flags == 0 ? (s == -32768 ? b == -32767 : test::pcmMatches(b, s))
                      : flags == 2 ? b == (s < 0 ? s + 1 : s)
                                   : b == s || b == s + 1;
      ASSERT_TRUE(ok) << s << " came back as " << b;
      up += b != s;
    }
    EXPECT_TRUE(flags != 4 || up > 0) << "rounding never went up";
  }
}

}  // namespace

#include "eq/iir_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "common/test_support.h"
#include "core/sample_convert.h"
#include "core/exports/export_call.h"
#include "dspfx/dspfx.h"

namespace dspfx {
namespace {

IirFilterEffect& object(DspEffect* h) { return *dspfx::effectOf<IirFilterEffect>(h); }

// What doIirFilter must produce: each channel through its own cascade.
std::vector<int16_t> reference(const std::vector<int16_t>& pcm, uint32_t channels, float rate,
                               int32_t order, float cutoff, int32_t kind) {
  const auto frames = static_cast<uint32_t>(pcm.size() / channels);
  std::vector<float> l(frames), r(frames);
  float* right = channels == 2 ? r.data() : nullptr;
  pcm16ToFloat(pcm.data(), static_cast<uint32_t>(pcm.size() * 2), l.data(), right, channels);
  ChebyshevCascade cl, cr;
  for (auto* c : {&cl, &cr}) {
    c->setOrder(order, kind);
    c->design(rate, cutoff);
  }
  cl.run(l.data(), l.data(), frames);
  cr.run(r.data(), r.data(), frames);
  std::vector<int16_t> out(pcm.size());
  floatToPcm16(l.data(), right, frames, out.data(), channels);
  return out;
}

std::vector<int16_t> twoTones(uint32_t frames, double rate) {
  std::vector<int16_t> pcm(size_t{frames} * 2);
  for (uint32_t i = 0; i < frames; ++i) {
    pcm[2 * i] = static_cast<int16_t>(12000 * std::sin(2 * test::kPi * 440 * i / rate));
    pcm[2 * i + 1] = static_cast<int16_t>(12000 * std::sin(2 * test::kPi * 9000 * i / rate));
  }
  return pcm;
}

TEST(IirFilter, RefusesParametersWithoutAMeaningfulDesign) {
  const struct {
    uint32_t frames, rate;
    int32_t order;
    float fc;
  } refused[] = {{64, 44100, 0, 1000},  {64, 44100, -3, 1000}, {64, 44100, 65, 1000},       {64, 44100, 4, 0},
                 {64, 44100, 4, -50},   {64, 44100, 4, 22050}, {64, 44100, 4, NAN},         {64, 0, 4, 1000},
                 {0xFFFFFFFFu, 44100, 4, 1000}};
  for (const auto& r : refused) {
    EXPECT_EQ(initIirFilter(r.frames, 2, r.rate, r.order, r.fc, 0), nullptr) << r.order << " " << r.fc;
  }
  DspEffect* h = initIirFilter(64, 2, 44100, 64, 22049.0f, 1);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(termIirFilter(h), 1u);
}

TEST(IirFilter, BlocksMatchTheCascadeOnEachChannel) {
  const uint32_t frames = 2048;
  const auto in = twoTones(frames, 44100);
  for (int32_t kind : {0, 1}) {
    for (int32_t order : {1, 6, 9}) {
      SCOPED_TRACE(::testing::Message() << "kind " << kind << " order " << order);
      DspEffect* h = initIirFilter(1024, 2, 44100, order, 2000.0f, kind);
      test::Guarded<int16_t> out(in.size(), 0x5A5A);
      // Two blocks: the state carries from one to the next.
      EXPECT_EQ(doIirFilter(h, in.data(), out.get(), frames * 2), 1u);
      EXPECT_EQ(doIirFilter(h, in.data() + frames, out.get() + frames, frames * 2), 1u);
      EXPECT_TRUE(out.intact());
      const auto want = reference(in, 2, 44100, order, 2000.0f, kind);
      EXPECT_TRUE(std::equal(want.begin(), want.end(), out.data.begin()));
      EXPECT_EQ(termIirFilter(h), 1u);
    }
  }
  // Mono runs the first cascade only; the second is designed all the same.
  std::vector<int16_t> mono(in.begin(), in.begin() + 1024), out(1024);
  DspEffect* h = initIirFilter(1024, 1, 48000, 5, 3000.0f, 0);
  EXPECT_EQ(doIirFilter(h, mono.data(), out.data(), 2048), 1u);
  EXPECT_EQ(out, reference(mono, 1, 48000, 5, 3000.0f, 0));
  EXPECT_EQ(object(h).cascades[1].sections, 3);
  EXPECT_EQ(termIirFilter(h), 1u);
}

TEST(IirFilter, SetupRedesignsOnlyForANewRate) {
  DspEffect* h = initIirFilter(256, 2, 44100, 4, 5000.0f, 0);
  IirFilterEffect& e = object(h);
  const auto in = twoTones(256, 44100);
  std::vector<int16_t> out(in.size());
  doIirFilter(h, in.data(), out.data(), 1024);
  const double running = e.cascades[0].w1[0];
  ASSERT_NE(running, 0.0);
  EXPECT_EQ(e.setup(512, 2, 44100), 44100u);  // same rate: keeps running
  EXPECT_EQ(e.cascades[0].w1[0], running);

  e.setup(512, 2, 22050);  // new rate: designed for it, states cleared
  EXPECT_EQ(e.cascades[1].sampleRate, 22050.0f);
  EXPECT_EQ(e.cascades[0].w1[0], 0.0);
  doIirFilter(h, in.data(), out.data(), 1024);
  const double again = e.cascades[1].w1[0];
  e.setup(512, 2, 22050);  // a second setup at that rate changes nothing
  EXPECT_EQ(e.cascades[1].w1[0], again);

  e.setup(512, 2, 8000);  // cannot carry 5000 Hz: pass-through, never NaN
  EXPECT_EQ(doIirFilter(h, in.data(), out.data(), 1024), 1u);
  for (size_t i = 0; i < in.size(); ++i) EXPECT_PCM(out[i], in[i]);
  EXPECT_EQ(termIirFilter(h), 1u);
}

TEST(IirFilter, MisuseLeavesEverythingUntouched) {
  DspEffect* h = initIirFilter(64, 2, 44100, 2, 1000.0f, 0);
  std::vector<int16_t> in(130, 1000), out(130, 77);
  EXPECT_EQ(doIirFilter(h, in.data(), out.data(), 0), 1u);  // success, nothing written
  EXPECT_EQ(doIirFilter(h, nullptr, nullptr, 0), 1u);
  EXPECT_EQ(doIirFilter(h, in.data(), out.data(), 65 * 4), 0u);  // above capacity
  EXPECT_EQ(doIirFilter(h, nullptr, out.data(), 16), 0u);
  EXPECT_EQ(doIirFilter(h, in.data(), nullptr, 16), 0u);
  EXPECT_EQ(std::count(out.begin(), out.end(), 77), 130);
  EXPECT_EQ(doIirFilter(h, in.data(), out.data(), 7), 1u);  // the partial frame is ignored
  EXPECT_NE(out[0], 77);
  EXPECT_EQ(out[2], 77);

  DspEffect* other = initResampler(64, 2, 2, 44100, 48000, 0, 60.0f, 60.0f, 1);
  ASSERT_EQ(termIirFilter(h), 1u);
  test::expectAllRefuse<DspEffect>({nullptr, other, h},
                                   [&](DspEffect* e) { return doIirFilter(e, in.data(), out.data(), 16); },
                                   [](DspEffect* e) { return termIirFilter(e); });
  EXPECT_EQ(termResampler(other), 1u);
}

}  // namespace
}  // namespace dspfx

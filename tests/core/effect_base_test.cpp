#include <gtest/gtest.h>

#include "common/test_support.h"

#include <new>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/exports/export_call.h"
#include "core/fastmem_heap.h"
#include "core/test_effects.h"

namespace {

using namespace dspfx;

using DoublerEffect = test::ScaleEffect;

template <class T = DoublerEffect>
DspEffect* makeWithBuffers(uint32_t frames, uint32_t channels) {
  return createEffect<T>([=](T& e) { return e.setupBuffers(frames, channels); });
}

TEST(EffectBase, BuffersKeepGrowAndShrinkAndTheDefaultBlockPathConverts) {
  DoublerEffect e;
  ASSERT_TRUE(e.setupBuffers(256, 2));
  float* const first = e.inL();
  for (float* b : {e.inL(), e.inR(), e.outL(), e.outR(), e.auxL(), e.auxR()}) {
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 16, 0u);
  }
  e.outRate = 48000;
  EXPECT_EQ(e.EffectBase::setup(128, 1, 44100), 44100u);  // fewer frames: same buffers
  EXPECT_TRUE(e.inL() == first && e.capacityFrames() == 128 && e.outChannels == 1);
  EXPECT_EQ(e.outRate, 48000u);  // setup leaves the output rate alone
  // The capacity shrank to 128: 200 frames reallocate although 256 fitted.
  const uint32_t before = fastmemGetAllocatedSize();
  ASSERT_TRUE(e.setupBuffers(200, 2));
  EXPECT_EQ(fastmemGetAllocatedSize(), before - 6 * 256 * 4 + 6 * 200 * 4);

  const int16_t in[7] = {100, -200, 300, -400, 500, 7, 0};
  int16_t out[7] = {0, 0, 0, 0, 0, 0, 99};
  // 14 bytes: the lone last sample does not make a frame.
  EXPECT_EQ(e.processInterleaved(in, out, 14), 14u);
  for (int i = 0; i < 5; ++i) EXPECT_PCM(out[i], 2 * in[i]);
  EXPECT_EQ(out[6], 99);
}

TEST(ExportShape, RegistryRefusesNullFreedAndForeignHandles) {
  DspEffect* a = makeWithBuffers(64, 2);
  DspEffect* b = makeWithBuffers<test::OtherEffect>(64, 1);
  ASSERT_TRUE(a && b);
  int notAnEffect[64] = {};
  auto frames = [](DspEffect* h) {
    return withEffect<DoublerEffect>(h, 0u, [](DoublerEffect& e) { return e.capacityFrames(); });
  };
  EXPECT_EQ(frames(a), 64u);
  test::expectAllRefuse<DspEffect>({b, nullptr, reinterpret_cast<DspEffect*>(notAnEffect)}, frames,
                                   destroyEffect<DoublerEffect>);
  EXPECT_EQ(destroyEffect<test::OtherEffect>(b), 1u);
  EXPECT_EQ(destroyEffect<test::OtherEffect>(b), 0u);  // stale
  EXPECT_EQ(frames(a), 64u);  // still intact after the misuse
  EXPECT_EQ(destroyEffect<DoublerEffect>(a), 1u);
  EXPECT_EQ(frames(a), 0u);
}

TEST(ExportShape, OversizedBlocksMissingBuffersAndFailedInitsAreRefused) {
  DspEffect* h = makeWithBuffers(4, 2);
  ASSERT_NE(h, nullptr);
  std::vector<int16_t> in(10, 1000), out(10, 7);
  auto run = [&](const int16_t* i, int16_t* o, uint32_t bytes) {
    return withBlock<DoublerEffect>(h, i, o, bytes,
                                    [&](DoublerEffect& e) { return e.processInterleaved(i, o, bytes); });
  };
  EXPECT_EQ(run(in.data(), out.data(), 20), 0u);  // 5 frames > 4
  EXPECT_EQ(out[0], 7);
  EXPECT_EQ(run(nullptr, out.data(), 16), 0u);
  EXPECT_EQ(run(in.data(), out.data(), 16), 16u);
  EXPECT_PCM(out[0], 2000);
  EXPECT_EQ(out[8], 7);
  EXPECT_EQ(run(nullptr, nullptr, 0), 0u);  // nothing to do, nothing done
  EXPECT_EQ(destroyEffect<DoublerEffect>(h), 1u);

  // Neither an impossible size nor a throw escapes; the leak check runs after.
  EXPECT_EQ(makeWithBuffers(0x7FFFFFFF, 2), nullptr);
  EXPECT_EQ(createEffect<DoublerEffect>([](DoublerEffect& e) -> bool {
              e.setupBuffers(16, 2);
              throw std::bad_alloc();
            }),
            nullptr);
}

TEST(ExportShape, DestroyedHandlesStayRefusedAcrossManyLives) {
  // The allocator gives a freed object's memory to the next one of its size
  // at once: a handle that were the address would come back to life. Some
  // objects live on while others come and go, so slots are shared out too.
  std::set<const void*> issued;
  std::vector<DspEffect*> dead, alive;
  std::vector<DspChain*> deadChains;
  for (int i = 0; i < 3000; ++i) {
    DspEffect* h = makeWithBuffers(8, 1);
    DspChain* c = dspCreate(8, 1, 8000);
    ASSERT_TRUE(h && c);
    ASSERT_TRUE(issued.insert(h).second && issued.insert(c).second) << "a handle came back after " << i << " lives";
    if (i % 100 == 0) {
      alive.push_back(h);
    } else {
      EXPECT_EQ(destroyEffect<DoublerEffect>(h), 1u);
      dead.push_back(h);
    }
    dspDestroy(c);
    deadChains.push_back(c);
  }
  auto live = [](DspEffect* h) { return withEffect<DoublerEffect>(h, 0u, [](DoublerEffect&) { return 1u; }); };
  for (DspEffect* h : dead) ASSERT_EQ(live(h) + destroyEffect<DoublerEffect>(h), 0u);
  for (DspChain* c : deadChains) ASSERT_EQ(dspGetDstRate(c), 0u);
  for (DspEffect* h : alive) EXPECT_EQ(live(h) + destroyEffect<DoublerEffect>(h), 2u);
}

TEST(ExportShape, LastErrorSaysWhyACallFailed) {
  DspEffect* filter = initIirFilter(64, 2, 44100, 4, 1000.0f, 0);
  DspEffect* gone = initIirFilter(64, 2, 44100, 4, 1000.0f, 0);
  DspChain* chain = dspCreate(64, 2, 44100);
  DspEffect* owned = initIirFilter(64, 2, 44100, 4, 1000.0f, 0);
  ASSERT_TRUE(filter && gone && chain && owned);
  ASSERT_EQ(termIirFilter(gone), 1u);
  ASSERT_EQ(dspAdd(chain, owned, 0), 1u);
  int16_t pcm[8] = {};
  const struct {
    const char* call;
    std::function<bool()> failed;
    int32_t code;
  } cases[] = {
      {"good block", [&] { return doIirFilter(filter, pcm, pcm, 16) != 1; }, DSP_ERROR_NONE},
      {"destroyed handle", [&] { return doIirFilter(gone, pcm, pcm, 16) == 0; }, DSP_ERROR_BAD_HANDLE},
      {"chain as effect", [&] { return doIirFilter(reinterpret_cast<DspEffect*>(chain), pcm, pcm, 16) == 0; },
       DSP_ERROR_WRONG_FAMILY},
      {"block above capacity", [&] { return doIirFilter(filter, pcm, pcm, 65 * 4) == 0; }, DSP_ERROR_BAD_ARGUMENT},
      {"null buffer", [&] { return doIirFilter(filter, nullptr, pcm, 16) == 0; }, DSP_ERROR_BAD_ARGUMENT},
      {"term of a chain's effect", [&] { return termIirFilter(owned) == 0; }, DSP_ERROR_CHAIN_OWNED},
      {"second owner", [&] { return dspAdd(chain, owned, 0) == 1; }, DSP_ERROR_CHAIN_OWNED},
      {"missing file", [&] { return initWavefileIn("/nonexistent/dspfx.wav", 64) == nullptr; }, DSP_ERROR_FILE},
      {"zero source rate", [] { return initResampler(64, 2, 2, 0, 48000, 0, 100, 20, 1) == nullptr; },
       DSP_ERROR_BAD_ARGUMENT},
      {"bad_alloc inside",
       [] { return createEffect<DoublerEffect>([](DoublerEffect&) -> bool { throw std::bad_alloc(); }) == nullptr; },
       DSP_ERROR_NO_MEMORY},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(c.failed() == (c.code != DSP_ERROR_NONE)) << c.call;
    EXPECT_EQ(dspGetLastError(), c.code) << c.call << ": " << dspErrorString(dspGetLastError());
  }
  // Another thread's failures are its own.
  std::thread([] { doIirFilter(nullptr, nullptr, nullptr, 0); }).join();
  EXPECT_EQ(dspGetLastError(), DSP_ERROR_NO_MEMORY);
  std::set<std::string> sentences;
  for (int32_t code = DSP_ERROR_NONE; code <= DSP_ERROR_INTERNAL + 1; ++code) sentences.insert(dspErrorString(code));
  EXPECT_EQ(sentences.size(), 9u) << "one sentence per code, and one for unknown codes";
  EXPECT_EQ(termIirFilter(filter), 1u);
  dspDestroy(chain);
}

}  // namespace

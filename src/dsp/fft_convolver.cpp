#include "dsp/fft_convolver.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace dspfx {
namespace {

// The largest filter whose 2P-point transforms stay within the real
// transform's limit with the partition chosen below.
constexpr uint32_t kMaxTaps = 32767;

// A quarter of the filter, rounded up to a power of two, and at least 64:
// long enough that the transforms are few per sample, short enough that a
// block arriving in pieces pays only about a quarter of the direct form per
// sample. On a 511-tap filter in whole blocks, partitions of 64 ... 512 cost
// within 30 % of each other per sample, 128 the least; below 64 the
// transforms' fixed costs take over.
uint32_t partitionFor(uint32_t taps) {
  uint32_t p = 64;
  while (p * 4 < taps) p *= 2;
  return p;
}

uint32_t powerOfTwoAtLeast(uint32_t v) {
  uint32_t p = 16;
  while (p < v) p *= 2;
  return p;
}

}  // namespace

void FftConvolver::release() {
  pool.reset();
  table = tapRe = tapIm = inRe = inIm = accRe = accIm = nullptr;
  head = frame = work = tail = headSum = ring = nullptr;
  maxTaps = P = K = stride = 0;
  allocated = false;
}

bool FftConvolver::prepare(uint32_t taps) {
  release();
  if (taps == 0 || taps > kMaxTaps) return false;
  P = partitionFor(taps);
  K = (taps + P - 1) / P;
  // P + 1 bins, padded to whole vectors; the padding stays zero.
  stride = (P + 1 + 3) & ~3u;
  const uint32_t ringSize = powerOfTwoAtLeast(taps);
  const size_t spectra = size_t{K} * stride;
  const size_t total = kFftTableFloats + 4 * spectra + 2 * size_t{stride} + 7 * size_t{P} + ringSize;
  pool.reset(new (std::nothrow) float[total]());
  if (!pool) {
    release();
    return false;
  }
  float* p = pool.get();
  auto take = [&p](size_t n) {
    float* at = p;
    p += n;
    return at;
  };
  table = take(kFftTableFloats);
  tapRe = take(spectra);
  tapIm = take(spectra);
  inRe = take(spectra);
  inIm = take(spectra);
  accRe = take(stride);
  accIm = take(stride);
  head = take(P);
  frame = take(2 * size_t{P});
  work = take(2 * size_t{P});
  tail = take(P);
  headSum = take(P);
  ring = take(ringSize);
  fftWork[0] = 0;
  maxTaps = taps;
  ringMask = ringSize - 1;
  position = 0;
  fill = 0;
  newest = 0;
  tailReady = false;
  allocated = true;
  return true;
}

namespace {

// Packed real spectrum (DC, Nyquist, then bin pairs) into bins 0 ... P of
// two arrays, keeping the packing's sign of the odd parts. Products of two
// spectra so stored need no sign change: both are conjugated alike.
void unpack(const float* data, float* re, float* im, uint32_t P) {
  re[0] = data[0];
  im[0] = 0.0f;
  for (uint32_t k = 1; k < P; ++k) {
    re[k] = data[2 * k];
    im[k] = data[2 * k + 1];
  }
  re[P] = data[1];
  im[P] = 0.0f;
}

}  // namespace

void FftConvolver::setTaps(const float* h, uint32_t count) {
  if (!allocated) return;
  count = h ? std::min(count, maxTaps) : 0;
  for (uint32_t i = 0; i < P; ++i) head[i] = i < count ? h[i] : 0.0f;
  // The inverse transform is unscaled; 1/2P, a power of two, is exact here.
  const float scale = 1.0f / static_cast<float>(2 * P);
  for (uint32_t j = 0; j < K; ++j) {
    for (uint32_t i = 0; i < P; ++i) {
      const uint32_t m = j * P + i;
      work[i] = m < count ? h[m] * scale : 0.0f;
    }
    std::fill_n(work + P, P, 0.0f);
    realFft(static_cast<int32_t>(2 * P), work, fftWork, table);
    unpack(work, tapRe + size_t{j} * stride, tapIm + size_t{j} * stride, P);
  }
  // The tail of a block already begun was made with the old taps.
  tailReady = false;
}

void FftConvolver::setHistory(const float* past, uint32_t count) {
  if (!allocated) return;
  count = past ? std::min(count, historyLength()) : 0;
  std::fill_n(ring, ringMask + 1, 0.0f);
  position = 0;
  for (uint32_t i = 0; i < count; ++i) ring[(position++) & ringMask] = past[i];
  // Ages beyond what was given read as silence: they meet only zero taps.
  auto input = [&](uint32_t age) { return age >= 1 && age <= count ? pastInput(age - 1) : 0.0f; };
  // The spectra of the K blocks before now, oldest first, as if they had
  // been filtered; now is the start of a block.
  for (uint32_t b = K; b >= 1; --b) {
    for (uint32_t i = 0; i < 2 * P; ++i) frame[i] = input((b + 1) * P - i);
    pushBlock();
  }
  fill = 0;
  tailReady = false;
}

void FftConvolver::pushBlock() {
  std::memcpy(work, frame, 2 * size_t{P} * sizeof(float));
  realFft(static_cast<int32_t>(2 * P), work, fftWork, table);
  newest = newest + 1 == K ? 0 : newest + 1;
  unpack(work, inRe + size_t{newest} * stride, inIm + size_t{newest} * stride, P);
  std::memcpy(frame, frame + P, size_t{P} * sizeof(float));
}

void FftConvolver::accumulate(uint32_t first) {
  std::fill_n(accRe, stride, 0.0f);
  std::fill_n(accIm, stride, 0.0f);
  float* __restrict ar = accRe;
  float* __restrict ai = accIm;
  for (uint32_t j = first; j < K; ++j) {
    // Partition j meets the block j - first before the newest.
    const uint32_t back = j - first;
    const uint32_t slot = newest >= back ? newest - back : newest + K - back;
    const float* __restrict hr = tapRe + size_t{j} * stride;
    const float* __restrict hi = tapIm + size_t{j} * stride;
    const float* __restrict xr = inRe + size_t{slot} * stride;
    const float* __restrict xi = inIm + size_t{slot} * stride;
    for (uint32_t k = 0; k < stride; ++k) {
      ar[k] += hr[k] * xr[k] - hi[k] * xi[k];
      ai[k] += hr[k] * xi[k] + hi[k] * xr[k];
    }
  }
}

// The inverse runs through the forward real transform: the Hartley
// transform is its own inverse, and both it and the spectrum are read off a
// forward transform as real part minus imaginary part. Only the second half
// of the 2P outputs is free of the circular wrap, so only it is kept.
void FftConvolver::inverse(float* dst, float gain) {
  const uint32_t n = 2 * P;
  work[0] = accRe[0];
  work[P] = accRe[P];
  for (uint32_t k = 1; k < P; ++k) {
    work[k] = accRe[k] + accIm[k];
    work[n - k] = accRe[k] - accIm[k];
  }
  realFft(static_cast<int32_t>(n), work, fftWork, table);
  dst[0] = gain * work[1];
  for (uint32_t i = 1; i < P; ++i) {
    const uint32_t j = P - i;
    dst[i] = gain * (work[2 * j] - work[2 * j + 1]);
  }
}

void FftConvolver::takeInput(const float* in, uint32_t count) {
  std::memcpy(frame + P + fill, in, size_t{count} * sizeof(float));
  for (uint32_t i = 0; i < count; ++i) ring[(position + i) & ringMask] = in[i];
  position += count;
}

void FftConvolver::process(const float* in, float* out, uint32_t frames, float gain) {
  if (!allocated) return;
  while (frames > 0) {
    if (fill == 0 && frames >= P) {
      takeInput(in, P);
      pushBlock();
      accumulate(0);
      inverse(out, gain);
      tailReady = false;
      in += P;
      out += P;
      frames -= P;
      continue;
    }
    if (!tailReady) {
      if (K > 1) {
        accumulate(1);
        inverse(tail, 1.0f);
      }
      tailReady = true;
    }
    const uint32_t count = std::min(frames, P - fill);
    takeInput(in, count);
    // Partition 0 directly, one vector lane per output.
    const float* x = frame + P + fill;
    float* __restrict sum = headSum;
    std::fill_n(sum, count, 0.0f);
    for (uint32_t k = 0; k < P; ++k) {
      const float c = head[k];
      const float* __restrict xk = x - k;
      for (uint32_t i = 0; i < count; ++i) sum[i] += c * xk[i];
    }
    for (uint32_t i = 0; i < count; ++i) out[i] = gain * (sum[i] + tail[fill + i]);
    fill += count;
    in += count;
    out += count;
    frames -= count;
    if (fill == P) {
      pushBlock();
      fill = 0;
      tailReady = false;
    }
  }
}

}  // namespace dspfx

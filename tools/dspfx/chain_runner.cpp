#include "chain_runner.h"

#include <algorithm>
#include <cmath>

#include "basic_effects.h"

namespace dspfx::tool {
namespace {

struct ChainDeleter {
  void operator()(DspChain* c) const { dspDestroy(c); }
};
using ChainPtr = std::unique_ptr<DspChain, ChainDeleter>;

ChainPtr chainWith(const EffectArg& arg, const StreamFormat& f) {
  ChainPtr chain(dspCreate(f.frames, f.channels, f.rate));
  if (!chain) throw FileError("out of memory");
  DspEffect* e = makeEffect(arg, f);
  if (dspAdd(chain.get(), e, 0) != 1) {
    throw FileError(std::string(arg.info->name) + ": could not be added to a chain");
  }
  scheduleEffect(arg, e, f);
  return chain;
}

// Where a click comes out of a twin of the effect, against where it went in
// (scaled to the output rate): the effect's delay in output frames.
uint32_t measureLatency(const EffectArg& arg, const StreamFormat& f, double ratio) {
  ChainPtr chain = chainWith(arg, f);
  const uint32_t ch = f.channels, outCh = dspGetDstChannels(chain.get());
  constexpr uint32_t kClickAt = 1024, kLength = kClickAt + 16384;
  std::vector<float> in(size_t{f.frames} * ch);
  std::vector<float> out((size_t{dspGetDstSize(chain.get(), f.frames)} + 64) * outCh);
  uint64_t produced = 0, peakAt = 0;
  float peak = 0;
  for (uint32_t at = 0; at < kLength; at += f.frames) {
    const uint32_t n = std::min(f.frames, kLength - at);
    std::fill(in.begin(), in.end(), 0.0f);
    if (kClickAt >= at && kClickAt < at + n) {
      for (uint32_t c = 0; c < ch; ++c) in[size_t{kClickAt - at} * ch + c] = 0.5f;
    }
    const uint32_t got = dspSendFloat(chain.get(), in.data(), out.data(), n);
    for (uint32_t i = 0; i < got; ++i) {
      if (std::fabs(out[size_t{i} * outCh]) > peak) {
        peak = std::fabs(out[size_t{i} * outCh]);
        peakAt = produced + i;
      }
    }
    produced += got;
  }
  const auto expected = static_cast<int64_t>(std::llround(kClickAt * ratio));
  return peakAt > static_cast<uint64_t>(expected) ? static_cast<uint32_t>(peakAt - expected) : 0;
}

// One library effect. Its delay is dropped from the start of what it gives
// and made up with silence fed at the end, so the output lines up with the
// input and has exactly the ideal length.
class LibraryStage : public Stage {
 public:
  LibraryStage(const EffectArg& arg, StreamInfo& info, uint32_t block) : block_(block) {
    const uint32_t ch = info.format.channels;
    // The library runs mono and stereo streams; wider ones run as one mono
    // chain per channel.
    groups_ = ch <= 2 ? 1 : ch;
    const uint32_t groupCh = ch <= 2 ? ch : 1;
    // A stream of unknown length is taken as endless: nothing is scheduled
    // against its end.
    const double seconds = info.lengthKnown ? static_cast<double>(info.frames) / info.format.rate : 1e9;
    StreamFormat f{block, groupCh, info.format.rate, seconds};
    for (uint32_t g = 0; g < groups_; ++g) chains_.push_back(chainWith(arg, f));
    DspChain* first = chains_[0].get();
    const uint32_t outGroupCh = dspGetDstChannels(first);
    if (groups_ > 1 && outGroupCh != 1) throw UsageError(std::string(arg.info->name) + ": cannot run on " + std::to_string(ch) + " channels");
    inCh_ = groupCh;
    outCh_ = groups_ > 1 ? groups_ : outGroupCh;
    outGroupCh_ = outGroupCh;
    const uint32_t outRate = dspGetDstRate(first);
    ratio_ = effectLengthRatio(arg, info.format.rate, outRate);
    const int64_t latency = effectLatency(arg, f);
    drop_ = latency == kMeasureLatency ? measureLatency(arg, f, ratio_) : static_cast<uint64_t>(latency);
    tail_ = effectTailFrames(arg, outRate);
    capacity_ = dspGetDstSize(first, block) + 64;
    out_.resize(size_t{capacity_} * outCh_);
    if (groups_ > 1) {
      groupIn_.resize(block);
      groupOut_.resize(capacity_);
    }
    info.format = {outCh_, outRate};
    if (info.lengthKnown) {
      limit_ = idealLength(info.frames);
      info.frames = limit_;
    }
  }

  void put(const float* in, uint32_t frames) override {
    fed_ += frames;
    run(in, frames);
  }

  void finish() override {
    limit_ = idealLength(fed_);
    // Silence pushes out what the effect still holds: its delay and tail.
    std::vector<float> silence(size_t{block_} * inCh_ * groups_, 0.0f);
    const double wanted = static_cast<double>(limit_ > emitted_ ? limit_ - emitted_ : 0) + drop_;
    const double most = wanted / std::max(ratio_, 1e-6) + 4.0 * block_ + 65536;
    for (double fed = 0; emitted_ < limit_ && fed < most; fed += block_) run(silence.data(), block_);
    // Whatever a short-changing effect still owes is silence.
    std::fill(silence.begin(), silence.end(), 0.0f);
    while (emitted_ < limit_) {
      const auto n = static_cast<uint32_t>(std::min<uint64_t>(block_, limit_ - emitted_));
      silence.resize(std::max(silence.size(), size_t{n} * outCh_));
      next_->put(silence.data(), n);
      emitted_ += n;
    }
    next_->finish();
  }

 private:
  uint64_t idealLength(uint64_t inFrames) const {
    return static_cast<uint64_t>(std::llround(static_cast<double>(inFrames) * ratio_)) + tail_;
  }

  void run(const float* in, uint32_t frames) {
    for (uint32_t at = 0; at < frames; at += block_) {
      const uint32_t n = std::min(block_, frames - at);
      const float* src = in + size_t{at} * inCh_ * groups_;
      uint32_t got = 0;
      if (groups_ == 1) {
        got = dspSendFloat(chains_[0].get(), src, out_.data(), n);
      } else {
        for (uint32_t g = 0; g < groups_; ++g) {
          for (uint32_t i = 0; i < n; ++i) groupIn_[i] = src[size_t{i} * groups_ + g];
          got = dspSendFloat(chains_[g].get(), groupIn_.data(), groupOut_.data(), n);
          for (uint32_t i = 0; i < got; ++i) out_[size_t{i} * groups_ + g] = groupOut_[i];
        }
      }
      emit(got);
    }
  }

  void emit(uint32_t got) {
    const auto skip = static_cast<uint32_t>(std::min<uint64_t>(got, drop_));
    drop_ -= skip;
    uint64_t n = got - skip;
    n = std::min(n, limit_ > emitted_ ? limit_ - emitted_ : 0);
    if (n == 0) return;
    next_->put(out_.data() + size_t{skip} * outCh_, static_cast<uint32_t>(n));
    emitted_ += n;
  }

  uint32_t block_, groups_ = 1, inCh_ = 1, outCh_ = 1, outGroupCh_ = 1, capacity_ = 0;
  std::vector<ChainPtr> chains_;
  std::vector<float> out_, groupIn_, groupOut_;
  double ratio_ = 1;
  uint64_t drop_ = 0, tail_ = 0, fed_ = 0, emitted_ = 0;
  uint64_t limit_ = UINT64_MAX;
};

class SinkStage : public Stage {
 public:
  explicit SinkStage(ChainRunner::Sink sink) : sink_(std::move(sink)) {}
  void put(const float* in, uint32_t frames) override {
    if (frames) sink_(in, frames);
  }
  void finish() override {}

 private:
  ChainRunner::Sink sink_;
};

}  // namespace

ChainRunner::ChainRunner(const StreamInfo& in, uint32_t blockFrames, const std::vector<EffectArg>& effects, Sink sink)
    : out_(in) {
  for (const EffectArg& e : effects) {
    const std::string name = e.info->name;
    if (!keepsSampleValues(e, out_)) alters_ = true;
    if (isBasicEffect(name)) {
      stages_.push_back(makeBasicStage(e, out_));
      continue;
    }
    if (name == "fade") {
      if (!out_.lengthKnown && e["out"] > 0) {
        throw UsageError("fade: out= needs the length of the stream, which a pipe does not tell (use a file)");
      }
      const StreamInfo at = out_;
      stages_.push_back(std::make_unique<LibraryStage>(e, out_, blockFrames));
      const auto frames = [&](double s) { return static_cast<uint64_t>(std::llround(s * at.format.rate)); };
      stages_.push_back(makeFadeEdges(at, frames(e["in"]), frames(e["out"])));
      continue;
    }
    stages_.push_back(std::make_unique<LibraryStage>(e, out_, blockFrames));
  }
  stages_.push_back(std::make_unique<SinkStage>(std::move(sink)));
  for (size_t i = 0; i + 1 < stages_.size(); ++i) stages_[i]->connect(stages_[i + 1].get());
}

ChainRunner::~ChainRunner() = default;

void ChainRunner::put(const float* in, uint32_t frames) {
  if (frames) stages_.front()->put(in, frames);
}

void ChainRunner::finish() { stages_.front()->finish(); }

Audio runChain(const Audio& in, uint32_t blockFrames, const std::vector<EffectArg>& effects) {
  Audio out;
  ChainRunner runner({in.format, in.frames(), true}, blockFrames, effects, [&](const float* f, uint32_t n) {
    for (size_t i = 0; i < size_t{n} * out.format.channels; ++i) {
      const double v = std::floor(static_cast<double>(f[i]) * 32768.0 + 0.5);
      out.samples.push_back(static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0)));
    }
  });
  out.format = runner.out().format;
  std::vector<float> block(size_t{blockFrames} * in.format.channels);
  for (uint64_t f = 0; f < in.frames(); f += blockFrames) {
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(blockFrames, in.frames() - f));
    for (size_t i = 0; i < size_t{n} * in.format.channels; ++i) {
      block[i] = in.samples[f * in.format.channels + i] / 32768.0f;
    }
    runner.put(block.data(), n);
  }
  runner.finish();
  return out;
}

}  // namespace dspfx::tool

#include "basic_effects.h"

#include <sys/types.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "output_file.h"

namespace dspfx::tool {
namespace {

class Gain : public Stage {
 public:
  Gain(double factor, uint32_t channels) : factor_(static_cast<float>(factor)), channels_(channels) {}
  void put(const float* in, uint32_t frames) override {
    buf_.assign(in, in + size_t{frames} * channels_);
    for (float& v : buf_) v *= factor_;
    next_->put(buf_.data(), frames);
  }
  void finish() override { next_->finish(); }

 private:
  float factor_;
  uint32_t channels_;
  std::vector<float> buf_;
};

class Trim : public Stage {
 public:
  Trim(uint64_t first, uint64_t end, uint32_t channels) : first_(first), end_(end), channels_(channels) {}
  void put(const float* in, uint32_t frames) override {
    const uint64_t from = std::max(pos_, first_), to = std::min(pos_ + frames, end_);
    if (to > from) next_->put(in + (from - pos_) * channels_, static_cast<uint32_t>(to - from));
    pos_ += frames;
  }
  void finish() override { next_->finish(); }

 private:
  uint64_t first_, end_, pos_ = 0;
  uint32_t channels_;
};

class Channels : public Stage {
 public:
  Channels(uint32_t from, uint32_t to) : from_(from), to_(to) {}
  void put(const float* in, uint32_t frames) override {
    buf_.resize(size_t{frames} * to_);
    for (uint32_t f = 0; f < frames; ++f) {
      const float* src = in + size_t{f} * from_;
      float* dst = buf_.data() + size_t{f} * to_;
      if (to_ == 1) {
        double sum = 0;
        for (uint32_t c = 0; c < from_; ++c) sum += src[c];
        dst[0] = static_cast<float>(sum / from_);
      } else {
        for (uint32_t c = 0; c < to_; ++c) dst[c] = src[from_ == 1 ? 0 : c];
      }
    }
    next_->put(buf_.data(), frames);
  }
  void finish() override { next_->finish(); }

 private:
  uint32_t from_, to_;
  std::vector<float> buf_;
};

// Holds the whole stream in an anonymous temporary file (gone with the
// process however it ends), for effects that need all of it first.
class Spool {
 public:
  explicit Spool(uint32_t channels) : channels_(channels), file_(std::tmpfile()) {
    if (!file_) throw FileError(systemError("a temporary file", "cannot create"));
  }
  ~Spool() { std::fclose(file_); }
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  void append(const float* in, uint32_t frames) {
    if (std::fwrite(in, sizeof(float) * channels_, frames, file_) != frames) {
      throw FileError(systemError("a temporary file", "cannot write"));
    }
    frames_ += frames;
  }
  uint64_t frames() const { return frames_; }
  void read(uint64_t at, float* dst, uint32_t frames) {
    if (::fseeko(file_, static_cast<off_t>(at * channels_ * sizeof(float)), SEEK_SET) != 0 ||
        std::fread(dst, sizeof(float) * channels_, frames, file_) != frames) {
      throw FileError(systemError("a temporary file", "cannot read back"));
    }
  }

 private:
  uint32_t channels_;
  FILE* file_;
  uint64_t frames_ = 0;
};

constexpr uint32_t kSpoolBlock = 16384;

class Normalise : public Stage {
 public:
  Normalise(double levelDb, uint32_t channels) : target_(std::pow(10.0, levelDb / 20)), channels_(channels), spool_(channels) {}
  void put(const float* in, uint32_t frames) override {
    for (size_t i = 0; i < size_t{frames} * channels_; ++i) peak_ = std::max(peak_, std::fabs(static_cast<double>(in[i])));
    spool_.append(in, frames);
  }
  void finish() override {
    // Silence stays silence rather than becoming an infinite gain.
    const auto factor = static_cast<float>(peak_ > 0 ? target_ / peak_ : 1.0);
    std::vector<float> buf(size_t{kSpoolBlock} * channels_);
    for (uint64_t f = 0; f < spool_.frames(); f += kSpoolBlock) {
      const auto n = static_cast<uint32_t>(std::min<uint64_t>(kSpoolBlock, spool_.frames() - f));
      spool_.read(f, buf.data(), n);
      for (size_t i = 0; i < size_t{n} * channels_; ++i) buf[i] *= factor;
      next_->put(buf.data(), n);
    }
    next_->finish();
  }

 private:
  double target_, peak_ = 0;
  uint32_t channels_;
  Spool spool_;
};

class Reverse : public Stage {
 public:
  explicit Reverse(uint32_t channels) : channels_(channels), spool_(channels) {}
  void put(const float* in, uint32_t frames) override { spool_.append(in, frames); }
  void finish() override {
    std::vector<float> buf(size_t{kSpoolBlock} * channels_), out(buf.size());
    for (uint64_t end = spool_.frames(); end > 0;) {
      const auto n = static_cast<uint32_t>(std::min<uint64_t>(kSpoolBlock, end));
      end -= n;
      spool_.read(end, buf.data(), n);
      for (uint32_t f = 0; f < n; ++f) {
        std::copy_n(buf.data() + size_t{n - 1 - f} * channels_, channels_, out.data() + size_t{f} * channels_);
      }
      next_->put(out.data(), n);
    }
    next_->finish();
  }

 private:
  uint32_t channels_;
  Spool spool_;
};

class FadeEdges : public Stage {
 public:
  FadeEdges(uint64_t total, uint64_t fadeIn, uint64_t fadeOut, uint32_t channels)
      : total_(total), in_(fadeIn), out_(fadeOut), channels_(channels) {}
  void put(const float* in, uint32_t frames) override {
    buf_.assign(in, in + size_t{frames} * channels_);
    for (uint32_t f = 0; f < frames; ++f, ++pos_) {
      double g = 1;
      if (pos_ < in_) g = static_cast<double>(pos_) / in_;
      // Frames past the announced end (there should be none) stay silent.
      const uint64_t left = pos_ < total_ ? total_ - 1 - pos_ : 0;
      if (out_ && left < out_) g *= static_cast<double>(left) / out_;
      for (uint32_t c = 0; c < channels_; ++c) buf_[size_t{f} * channels_ + c] *= static_cast<float>(g);
    }
    next_->put(buf_.data(), frames);
  }
  void finish() override { next_->finish(); }

 private:
  uint64_t total_, in_, out_, pos_ = 0;
  uint32_t channels_;
  std::vector<float> buf_;
};

uint64_t framesOf(double seconds, uint32_t rate) { return static_cast<uint64_t>(std::llround(seconds * rate)); }

}  // namespace

bool isBasicEffect(const std::string& name) {
  return name == "gain" || name == "norm" || name == "trim" || name == "channels" || name == "reverse";
}

bool keepsSampleValues(const EffectArg& arg, const StreamInfo& in) {
  const std::string name = arg.info->name;
  if (name == "trim" || name == "reverse") return true;
  if (name == "gain") return arg["db"] == 0;
  if (name == "channels") return in.format.channels == 1 || arg["count"] == in.format.channels;
  return false;
}

std::unique_ptr<Stage> makeBasicStage(const EffectArg& arg, StreamInfo& info) {
  const std::string name = arg.info->name;
  const uint32_t ch = info.format.channels;
  if (name == "gain") return std::make_unique<Gain>(std::pow(10.0, arg["db"] / 20), ch);
  if (name == "norm") return std::make_unique<Normalise>(arg["level"], ch);
  if (name == "reverse") return std::make_unique<Reverse>(ch);
  if (name == "trim") {
    const uint64_t first = framesOf(arg["start"], info.format.rate);
    const uint64_t length = framesOf(arg["length"], info.format.rate);
    const uint64_t end = length ? first + length : UINT64_MAX;
    if (info.lengthKnown) {
      if (first >= info.frames && info.frames > 0) {
        throw UsageError("trim: start=" + std::to_string(arg["start"]) + " s is past the end of the stream");
      }
      info.frames = std::min(info.frames, end) - std::min(info.frames, first);
    }
    return std::make_unique<Trim>(first, end, ch);
  }
  if (name == "channels") {
    const auto to = static_cast<uint32_t>(arg["count"]);
    if (to == 2 && ch > 2) {
      throw UsageError("channels: " + std::to_string(ch) + " channels have no one way to become stereo");
    }
    info.format.channels = to;
    return std::make_unique<Channels>(ch, to);
  }
  throw UsageError(name + ": not an effect the tool runs itself");
}

std::unique_ptr<Stage> makeFadeEdges(const StreamInfo& info, uint64_t fadeIn, uint64_t fadeOut) {
  return std::make_unique<FadeEdges>(info.frames, fadeIn, fadeOut, info.format.channels);
}

}  // namespace dspfx::tool

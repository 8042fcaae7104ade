#include "effects.h"

#include <cmath>
#include <string>

namespace dspfx::tool {

const float kGeqCentres[10] = {31.25f, 62.5f, 125, 250, 500, 1000, 2000, 4000, 8000, 16000};

namespace {

std::string checkEq(const EffectArg& a) {
  const double bands = a["bands"];
  if (bands != std::exp2(std::round(std::log2(bands)))) {
    return "bands must be a power of two (16, 32, ... 1024), not " + std::to_string(static_cast<long>(bands));
  }
  if (a["lowfreq"] > a["highfreq"]) return "lowfreq must not lie above highfreq";
  return "";
}

// The cross-parameter rules stay out of the table literal so an entry reads
// as its parameters alone.
std::vector<EffectInfo> withChecks(std::vector<EffectInfo> table) {
  for (EffectInfo& e : table) {
    if (std::string(e.name) == "eq") e.check = checkEq;
  }
  return table;
}

}  // namespace

const std::vector<EffectInfo>& effectTable() {
  static const std::vector<EffectInfo> table = withChecks({
      {"resample", "sample-rate conversion",
       {{"rate", "Hz", 1000, 384000, 48000, "output sample rate"},
        {"cubic", "0/1", 0, 1, 1, "1: four-point cubic interpolation, 0: linear"},
        {"stopband", "dB", 1, 200, 60, "anti-alias attenuation at half the lower rate"},
        {"slope", "dB/oct", 1, 400, 60, "anti-alias steepness"},
        {"antialias", "0/1", 0, 1, 1, "1: run the anti-alias low-pass"},
        {"quality", "0/1/2", 0, 2, 2, "2: band-limited; 1: the converter above, exact across blocks; 0: block-wise"}}},
      {"hqups", "upsample to 48000 Hz adding synthetic top-octave harmonics",
       {{"harmonics", "", -0.9, 0.9, 0.3, "curve displacement (0: none)"},
        {"mix", "%", 0, 400, 30, "harmonic level"},
        {"highpass", "Hz", 1000, 23000, 11000, "lower edge of the band that is bent"},
        {"adaptive", "0/1", 0, 1, 1, "1: keep harmonics only above the detected band edge"},
        {"quality", "0/1/2", 0, 2, 2, "converter: 2 band-limited, 1 cubic exact across blocks, 0 block-wise"}}},
      {"eq", "linear-phase three-zone equaliser",
       {{"low", "dB", -40, 20, 0, "gain below lowfreq"},
        {"mid", "dB", -40, 20, 0, "gain between lowfreq and highfreq"},
        {"high", "dB", -40, 20, 0, "gain above highfreq"},
        {"lowfreq", "Hz", 20, 20000, 250, "low/mid boundary"},
        {"highfreq", "Hz", 20, 20000, 4000, "mid/high boundary"},
        {"bands", "", 16, 1024, 128, "frequency resolution, a power of two"},
        {"level", "dB", -40, 20, 0, "output level"},
        {"mode", "0/1", 0, 1, 1, "1: fast convolution, 0: direct form (same filter)"}}},
      {"geq", "resonant boosts at ten octave centres (31 Hz ... 16 kHz) over the dry signal",
       {{"g31", "dB", 0, 15, 0, "31 Hz boost"},   {"g62", "dB", 0, 15, 0, "62 Hz boost"},
        {"g125", "dB", 0, 15, 0, "125 Hz boost"}, {"g250", "dB", 0, 15, 0, "250 Hz boost"},
        {"g500", "dB", 0, 15, 0, "500 Hz boost"}, {"g1k", "dB", 0, 15, 0, "1 kHz boost"},
        {"g2k", "dB", 0, 15, 0, "2 kHz boost"},   {"g4k", "dB", 0, 15, 0, "4 kHz boost"},
        {"g8k", "dB", 0, 15, 0, "8 kHz boost"},   {"g16k", "dB", 0, 15, 0, "16 kHz boost"},
        {"master", "dB", -40, 20, 0, "master gain"}}},
      {"lowpass", "Chebyshev low-pass, 1 dB ripple",
       {{"freq", "Hz", 1, 200000, 1000, "cutoff (below half the sample rate)"},
        {"order", "", 1, 64, 4, "filter order"}}},
      {"highpass", "Chebyshev high-pass, 1 dB ripple",
       {{"freq", "Hz", 1, 200000, 200, "cutoff (below half the sample rate)"},
        {"order", "", 1, 64, 4, "filter order"}}},
      {"fade",
       "fade in at the start and out at the end: the level moves in a straight line in dB between floor and "
       "0 dB, multiplied by a straight ramp from zero, so the first and last samples are digital silence",
       {{"in", "s", 0, 3600, 1, "fade-in length (0: none)"},
        {"out", "s", 0, 3600, 1, "fade-out length (0: none)"},
        {"floor", "dB", -50, 0, -50, "level the dB line starts from and ends at"}}},
      {"stretch", "change duration, keep pitch",
       {{"ratio", "x", 0.25, 4, 2, "output duration / input duration"},
        {"grain", "s", 0.005, 0.5, 0.04, "grain length (mode 0)"},
        {"hop", "s", 0.001, 0.5, 0.01, "grain spacing (mode 0)"},
        {"level", "dB", -40, 20, 0, "output level"},
        {"mode", "0/1", 0, 1, 1, "1: aligned grains that keep tones in tune, 0: fixed grains"}}},
      {"pitch", "change pitch, keep duration",
       {{"cents", "cents", -1200, 1200, 0, "shift in cents (100 per semitone)"},
        {"semitones", "st", -12, 12, 0, "shift in semitones, added to cents"},
        {"grain", "s", 0.005, 0.5, 0.04, "grain length (mode 0)"},
        {"hop", "s", 0.001, 0.5, 0.01, "grain spacing (mode 0)"},
        {"cubic", "0/1", 0, 1, 1, "1: cubic interpolation, 0: linear (mode 0)"},
        {"antialias", "0/1", 0, 1, 1, "1: run the anti-alias low-pass"},
        {"level", "dB", -40, 20, 0, "output level"},
        {"mode", "0/1", 0, 1, 1, "1: aligned grains that keep tones in tune, 0: fixed grains"}}},
      {"chorus", "swept delayed voices added to the signal",
       {{"voices", "", 1, 64, 3, "number of voices"},
        {"delay", "ms", 1, 500, 20, "base delay"},
        {"depth", "ms", 0, 200, 5, "sweep depth either side of the base delay"},
        {"period", "s", 0, 60, 2, "seconds per sweep (0: no sweep)"},
        {"mix", "%", 0, 200, 50, "level of each voice"},
        {"dry", "%", 0, 200, 100, "level of the dry signal"}}},
      {"gain", "change the level", {{"db", "dB", -120, 60, 0, "gain (negative: quieter)"}}},
      {"norm", "scale the whole stream so its highest peak reaches the level (reads it all first)",
       {{"level", "dBFS", -120, 0, 0, "peak level to reach"}}},
      {"trim", "keep only part of the stream",
       {{"start", "s", 0, 1e6, 0, "where the kept part starts"},
        {"length", "s", 0, 1e6, 0, "how long it is (0: to the end)"}}},
      {"channels", "mono to stereo (copies the channel) or to mono (averages the channels)",
       {{"count", "", 1, 2, 2, "channels out: 1 or 2"}}},
      {"reverse", "play the stream backwards (reads it all first)", {}},
  });
  return table;
}

std::vector<GraphicEqBand> geqBands(const float gainsDb[10], uint32_t rate) {
  // The bands run in parallel and their outputs are summed, so a band can
  // only add to what the others pass: a pass-through band (zero radius equal
  // to pole radius) carries the dry signal, and each boosted octave adds a
  // two-pole resonance whose level at its centre makes the sum reach the
  // asked gain there. A band at 0 dB is left out, so all zeros is exact.
  std::vector<GraphicEqBand> bands;
  bands.push_back({1000.0f, 0.0f, 0.5f, 0.5f});
  for (int b = 0; b < 10; ++b) {
    const float f = kGeqCentres[b];
    if (gainsDb[b] <= 0.0f || f >= 0.45f * static_cast<float>(rate)) continue;
    const double pole = std::exp(-M_PI * 0.35 * f / rate);
    const double added = std::pow(10.0, gainsDb[b] / 20.0) - 1.0;
    bands.push_back({f, static_cast<float>(20 * std::log10(added)), 0.0f, static_cast<float>(pole)});
  }
  return bands;
}

namespace {

std::string name(const EffectArg& a) { return a.info->name; }

DspEffect* refuse(const EffectArg& a, const std::string& why) {
  throw UsageError(name(a) + ": " + why);
}

uint32_t powerOfTwoAtLeast(double v) {
  uint32_t n = 1;
  while (n < v) n <<= 1;
  return n;
}

DspEffect* makeShelving(const EffectArg& a, const StreamFormat& f) {
  const uint32_t n = powerOfTwoAtLeast(a["bands"]);
  std::vector<float> gains(n);
  for (uint32_t i = 0; i < n; ++i) {
    const double centre = (i + 0.5) * f.rate / 2.0 / n;
    gains[i] = static_cast<float>(centre < a["lowfreq"] ? a["low"] : centre < a["highfreq"] ? a["mid"] : a["high"]);
  }
  DspEffect* e = initShelvingEQ(f.frames, f.channels, f.rate, n, gains.data(), static_cast<float>(a["level"]));
  if (e && !setShelvingEQMode(e, static_cast<uint32_t>(a["mode"]))) {
    termShelvingEQ(e);
    return nullptr;
  }
  return e;
}

DspEffect* makeGeq(const EffectArg& a, const StreamFormat& f) {
  static const char* keys[10] = {"g31", "g62", "g125", "g250", "g500", "g1k", "g2k", "g4k", "g8k", "g16k"};
  float gains[10];
  for (int b = 0; b < 10; ++b) gains[b] = static_cast<float>(a[keys[b]]);
  const std::vector<GraphicEqBand> bands = geqBands(gains, f.rate);
  return initGraphicEQ(f.frames, f.channels, f.rate, static_cast<uint32_t>(bands.size()), bands.data(),
                       static_cast<float>(a["master"]));
}

DspEffect* makeFade(const EffectArg& a, const StreamFormat& f) {
  const float floorDb = static_cast<float>(a["floor"]);
  const double in = a["in"], out = a["out"];
  if (in + out > f.seconds + 1e-9) refuse(a, "fade-in and fade-out are longer than the stream");
  return initFader(f.frames, f.channels, f.rate, 1.0f, in > 0 ? floorDb : 0.0f, 0.0f);
}

}  // namespace

void scheduleEffect(const EffectArg& a, DspEffect* e, const StreamFormat& f) {
  if (name(a) != "fade") return;
  const float floorDb = static_cast<float>(a["floor"]);
  // An action must start after the current frame: the fade-in starts at the
  // first frame the timeline can still schedule.
  const float tick = 1.5f / static_cast<float>(f.rate);
  if (a["in"] > 0) {
    setFaderAction(e, 0, tick, static_cast<float>(a["in"]), 0.0f);
    // A finished ramp holds the level of its last frame, one step short of
    // 0 dB; a flat stretch at 0 dB right after it sets unity gain.
    const double flatEnd = a["in"] + 3.0 / f.rate;
    if (flatEnd <= f.seconds - a["out"]) {
      setFaderAction(e, 0, static_cast<float>(a["in"]), static_cast<float>(flatEnd), 0.0f);
    }
  }
  if (a["out"] > 0) {
    setFaderAction(e, 0, static_cast<float>(f.seconds - a["out"]), static_cast<float>(f.seconds), floorDb);
  }
}

int64_t effectLatency(const EffectArg& a, const StreamFormat&) {
  const std::string n = name(a);
  // The linear-phase equaliser's filter is 4N taps long and centred.
  if (n == "eq") return 2 * int64_t{powerOfTwoAtLeast(a["bands"])} - 1;
  if (n == "resample" || n == "hqups") return kMeasureLatency;
  return 0;
}

uint32_t effectTailFrames(const EffectArg& a, uint32_t rate) {
  // The voices repeat the last input for up to the longest delay.
  if (name(a) == "chorus") return static_cast<uint32_t>(std::ceil((a["delay"] + a["depth"]) / 1000.0 * rate));
  return 0;
}

double effectLengthRatio(const EffectArg& a, uint32_t inRate, uint32_t outRate) {
  if (name(a) == "stretch") return a["ratio"];
  return static_cast<double>(outRate) / inRate;
}

DspEffect* makeEffect(const EffectArg& a, const StreamFormat& f) {
  const std::string n = name(a);
  DspEffect* e = nullptr;
  if (n == "resample") {
    e = initResampler(f.frames, f.channels, f.channels, f.rate, static_cast<uint32_t>(a["rate"]),
                      static_cast<int32_t>(a["cubic"]), static_cast<float>(a["stopband"]),
                      static_cast<float>(a["slope"]), static_cast<uint8_t>(a["antialias"]));
    if (e && !setResamplerQuality(e, static_cast<uint32_t>(a["quality"]))) termResampler(e), e = nullptr;
  } else if (n == "hqups") {
    e = initHqupsBySrcsize(f.frames, f.channels, f.channels, f.rate, static_cast<float>(a["harmonics"]),
                           static_cast<float>(a["mix"]), static_cast<uint32_t>(a["highpass"]), 1, 60.0f, 60.0f,
                           static_cast<int32_t>(a["adaptive"]), 1);
    if (e && !setHqupsQuality(e, static_cast<uint32_t>(a["quality"]))) termHqups(e), e = nullptr;
  } else if (n == "eq") {
    e = makeShelving(a, f);
  } else if (n == "geq") {
    e = makeGeq(a, f);
  } else if (n == "lowpass" || n == "highpass") {
    if (a["freq"] >= f.rate / 2.0) refuse(a, "freq must be below half the sample rate (" + std::to_string(f.rate / 2) + " Hz)");
    e = initIirFilter(f.frames, f.channels, f.rate, static_cast<int32_t>(a["order"]), static_cast<float>(a["freq"]),
                      n == "highpass" ? 1 : 0);
  } else if (n == "fade") {
    e = makeFade(a, f);
  } else if (n == "stretch") {
    const float scale = static_cast<float>(-1000.0 * std::log2(a["ratio"]));
    e = initStretch(f.frames, f.channels, f.rate, scale, static_cast<float>(a["level"]),
                    static_cast<float>(a["grain"]), static_cast<float>(a["hop"]));
    if (e && setStretchMode(e, static_cast<uint32_t>(a["mode"])) != 1) {
      termStretch(e);
      e = nullptr;
    }
  } else if (n == "pitch") {
    const double cents = a["cents"] + 100 * a["semitones"];
    if (cents < -1200 || cents > 1200) refuse(a, "the shift must stay within one octave either way");
    e = initPitchShift(f.frames, f.channels, f.rate, static_cast<float>(cents), static_cast<float>(a["level"]),
                       static_cast<float>(a["grain"]), static_cast<float>(a["hop"]),
                       static_cast<uint32_t>(a["cubic"]), static_cast<uint32_t>(a["antialias"]));
    if (e && setPitchShiftMode(e, static_cast<uint32_t>(a["mode"])) != 1) {
      termPitchShift(e);
      e = nullptr;
    }
  } else if (n == "gain" || n == "norm" || n == "trim" || n == "channels" || n == "reverse") {
    refuse(a, "runs in the tool itself and has no library object");
  } else if (n == "chorus") {
    e = initChorus(f.frames, f.channels, f.rate, static_cast<uint32_t>(a["voices"]), static_cast<float>(a["delay"]),
                   static_cast<float>(a["depth"]), static_cast<float>(a["period"]), static_cast<float>(a["mix"]),
                   static_cast<float>(a["dry"]));
  }
  if (!e) refuse(a, "the library refused these parameters for a " + std::to_string(f.rate) + " Hz stream");
  return e;
}

}  // namespace dspfx::tool

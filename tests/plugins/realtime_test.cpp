// The LV2 binary loaded as a host loads it: block sizes must not change what
// comes out, and run() (with the worker's reply) must not touch the heap.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define DSPFX_MALLOC_HOOK 0
#else
#define DSPFX_MALLOC_HOOK 1
#endif

namespace {
// Heap calls made while counting is on, from any library in the process.
int gHeapCalls = 0;
bool gCounting = false;
}  // namespace

#if DSPFX_MALLOC_HOOK
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
void* malloc(size_t n) { gHeapCalls += gCounting; return __libc_malloc(n); }
void* calloc(size_t n, size_t s) { gHeapCalls += gCounting; return __libc_calloc(n, s); }
void* realloc(void* p, size_t n) { gHeapCalls += gCounting; return __libc_realloc(p, n); }
void free(void* p) { gHeapCalls += gCounting && p; __libc_free(p); }
void* memalign(size_t a, size_t n) { gHeapCalls += gCounting; return __libc_memalign(a, n); }
void* aligned_alloc(size_t a, size_t n) { gHeapCalls += gCounting; return __libc_memalign(a, n); }
int posix_memalign(void** p, size_t a, size_t n) {
  gHeapCalls += gCounting;
  *p = __libc_memalign(a, n);
  return *p ? 0 : 12;
}
}
#endif

namespace {

struct Counting {
  Counting() { gCounting = true; }
  ~Counting() { gCounting = false; }
};

// Values away from the defaults, so every plugin does real work.
const std::map<std::string, float> kSettings = {
    {"low", -6},     {"mid", 3},      {"high", -10},   {"lowfreq", 300}, {"highfreq", 5000}, {"bands", 64},
    {"g125", 6},     {"g1k", 3},      {"g8k", 9},      {"master", -3},   {"freq", 2000},     {"order", 5},
    {"voices", 2},   {"delay", 15},   {"depth", 3},    {"period", 0.5},  {"mix", 40},        {"dry", 90},
    {"cents", 30},   {"semitones", 3}, {"grain", 0.03}, {"hop", 0.01},   {"level", -2},      {"ramp", 0.01},
};

struct Host {
  // URIDs by position in this list, from 1.
  std::vector<std::string> uris;
  LV2_URID_Map map{this, [](LV2_URID_Map_Handle h, const char* uri) -> LV2_URID {
                     auto* self = static_cast<Host*>(h);
                     for (size_t i = 0; i < self->uris.size(); ++i) {
                       if (self->uris[i] == uri) return static_cast<LV2_URID>(i + 1);
                     }
                     self->uris.push_back(uri);
                     return static_cast<LV2_URID>(self->uris.size());
                   }};
  int32_t maxBlock = 4096;
  LV2_Options_Option options[2] = {};
  // A worker run by hand: work happens between runs, outside the count. Its
  // queues are fixed, as a real host's ring buffer is, so that the count
  // sees the plugin's heap use alone.
  struct Queue {
    unsigned char data[16][1024];
    uint32_t size[16];
    uint32_t count = 0;
    uint32_t total = 0;
    LV2_Worker_Status push(uint32_t n, const void* p) {
      if (count == 16 || n > sizeof data[0]) return LV2_WORKER_ERR_NO_SPACE;
      std::memcpy(data[count], p, n);
      size[count++] = n;
      ++total;
      return LV2_WORKER_SUCCESS;
    }
  };
  Queue requests, responses;
  LV2_Worker_Schedule schedule{this, [](LV2_Worker_Schedule_Handle h, uint32_t size, const void* data) {
                                 return static_cast<Host*>(h)->requests.push(size, data);
                               }};
  LV2_Feature mapFeature{LV2_URID__map, &map};
  LV2_Feature optionsFeature{LV2_OPTIONS__options, options};
  LV2_Feature workerFeature{LV2_WORKER__schedule, &schedule};
  const LV2_Feature* features[4] = {&mapFeature, &optionsFeature, &workerFeature, nullptr};

  Host() {
    uris.reserve(64);
    options[0] = {LV2_OPTIONS_INSTANCE, 0, map.map(this, LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t),
                  map.map(this, LV2_ATOM__Int), &maxBlock};
  }
};

struct Library {
  Library() {
    handle = dlopen(DSPFX_LV2_BINARY, RTLD_NOW | RTLD_LOCAL);
    if (handle) entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(handle, "lv2_descriptor"));
  }
  ~Library() {
    if (handle) dlclose(handle);
  }
  void* handle = nullptr;
  LV2_Descriptor_Function entry = nullptr;
};

Library& library() {
  static Library lib;
  return lib;
}

struct PortMap {
  std::vector<std::string> symbols;   // "" for audio
  std::vector<float> defaults;
  std::vector<uint32_t> audioIn, audioOut;
};

// One instance with its port buffers, fed by the host above.
struct Plugin {
  Plugin(const LV2_Descriptor* d, Host& host, const PortMap& ports) : desc(d), host(host), controls(ports.defaults) {
    instance = d->instantiate(d, 48000.0, "", host.features);
    worker = static_cast<const LV2_Worker_Interface*>(d->extension_data(LV2_WORKER__interface));
    for (uint32_t p = 0; p < controls.size(); ++p) {
      auto it = kSettings.find(ports.symbols[p]);
      if (it != kSettings.end()) controls[p] = it->second;
    }
  }
  ~Plugin() {
    serviceWorker();
    desc->cleanup(instance);
  }
  // Delivers what run() asked of the worker; the reply is handled on the
  // audio thread's side, so it is counted.
  void serviceWorker() {
    for (uint32_t i = 0; i < host.requests.count; ++i) {
      worker->work(instance, [](LV2_Worker_Respond_Handle h, uint32_t size, const void* data) {
        return static_cast<Host*>(h)->responses.push(size, data);
      }, &host, host.requests.size[i], host.requests.data[i]);
    }
    host.requests.count = 0;
    for (uint32_t i = 0; i < host.responses.count; ++i) {
      Counting c;
      worker->work_response(instance, host.responses.size[i], host.responses.data[i]);
    }
    host.responses.count = 0;
  }
  const LV2_Descriptor* desc;
  Host& host;
  LV2_Handle instance = nullptr;
  const LV2_Worker_Interface* worker = nullptr;
  std::vector<float> controls;
};


// Reads the port layout the plugin's Turtle states, from the bundle beside it.
PortMap portsOf(const std::string& uri) {
  PortMap m;
  std::string ttl;
  if (FILE* f = std::fopen(DSPFX_LV2_BUNDLE "/dspfx.ttl", "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) ttl.append(buf, n);
    std::fclose(f);
  }
  size_t at = ttl.find("<" + uri + ">\n");
  const size_t end = ttl.find("\n\n", at);
  for (size_t p = ttl.find("lv2:port [", at); p < end; p = ttl.find("lv2:port [", p + 1)) {
    const size_t close = ttl.find("  ]", p);
    const std::string block = ttl.substr(p, close - p);
    const size_t s = block.find("lv2:symbol \"") + 12;
    const std::string symbol = block.substr(s, block.find('"', s) - s);
    const auto index = static_cast<uint32_t>(m.symbols.size());
    const bool audio = block.find("lv2:AudioPort") != std::string::npos;
    m.symbols.push_back(audio ? "" : symbol);
    const size_t def = block.find("lv2:default ");
    m.defaults.push_back(def == std::string::npos ? 0.0f : std::strtof(block.c_str() + def + 12, nullptr));
    if (audio) (block.find("lv2:InputPort") != std::string::npos ? m.audioIn : m.audioOut).push_back(index);
  }
  return m;
}

std::vector<const LV2_Descriptor*> descriptors() {
  std::vector<const LV2_Descriptor*> out;
  if (!library().entry) return out;
  for (uint32_t i = 0; const LV2_Descriptor* d = library().entry(i); ++i) out.push_back(d);
  return out;
}

std::vector<float> testSignal(uint32_t frames, uint32_t channel) {
  std::mt19937 rng(7 + channel);
  std::uniform_real_distribution<float> noise(-0.2f, 0.2f);
  std::vector<float> x(frames);
  for (uint32_t i = 0; i < frames; ++i) {
    x[i] = 0.5f * static_cast<float>(std::sin(0.031 * i * (channel + 1))) + noise(rng);
  }
  return x;
}

// Runs the whole signal through a fresh instance in blocks cycling through
// sizes; between blocks, a change of value moves the live controls.
std::vector<std::vector<float>> runInBlocks(const LV2_Descriptor* d, const PortMap& ports,
                                            const std::vector<uint32_t>& sizes, uint32_t frames,
                                            int* heapCalls = nullptr, bool moveControls = false,
                                            uint32_t* replies = nullptr) {
  Host host;
  // The host states its largest block, so the single block is one call into
  // the library and each run of small blocks is set up for them.
  host.maxBlock = static_cast<int32_t>(*std::max_element(sizes.begin(), sizes.end()));
  Plugin plugin(d, host, ports);
  std::vector<std::vector<float>> in, out;
  for (size_t c = 0; c < ports.audioIn.size(); ++c) {
    in.push_back(testSignal(frames, static_cast<uint32_t>(c)));
    out.emplace_back(frames, 0.0f);
  }
  for (uint32_t p = 0; p < ports.symbols.size(); ++p) {
    if (!ports.symbols[p].empty()) d->connect_port(plugin.instance, p, &plugin.controls[p]);
  }
  d->activate(plugin.instance);
  size_t k = 0;
  for (uint32_t done = 0; done < frames; ++k) {
    const uint32_t n = std::min(sizes[k % sizes.size()], frames - done);
    for (size_t c = 0; c < in.size(); ++c) {
      d->connect_port(plugin.instance, ports.audioIn[c], in[c].data() + done);
      d->connect_port(plugin.instance, ports.audioOut[c], out[c].data() + done);
    }
    if (moveControls && k % 5 == 4) {
      // Every control nudged inside its range; shaping ones ask the worker.
      for (uint32_t p = 0; p < ports.symbols.size(); ++p) {
        const std::string& s = ports.symbols[p];
        if (!s.empty() && s != "latency" && s != "voices" && s != "bands") plugin.controls[p] *= 0.97f;
      }
    }
    {
      Counting c;
      d->run(plugin.instance, n);
    }
    plugin.serviceWorker();
    done += n;
  }
  if (heapCalls) *heapCalls = gHeapCalls;
  if (replies) *replies = host.responses.total;
  return out;
}

class Lv2Binary : public testing::Test {
 protected:
  void SetUp() override {
    if (!library().entry) GTEST_SKIP() << "cannot load " << DSPFX_LV2_BINARY << ": " << dlerror();
  }
};

TEST_F(Lv2Binary, BlockSizesGiveTheSameSamplesAsOneBlock) {
  const uint32_t frames = 12000;
  for (const LV2_Descriptor* d : descriptors()) {
    const PortMap ports = portsOf(d->URI);
    ASSERT_FALSE(ports.audioIn.empty()) << d->URI;
    const auto whole = runInBlocks(d, ports, {frames}, frames);
    // The equaliser's fast convolution, its default form, promises the
    // direct form's output to float rounding (1e-6 of full scale) however
    // the blocks fall; everything else, bit for bit.
    const bool fastEq = std::string(d->URI).find(":eq") != std::string::npos;
    const float tolerance = fastEq ? 2e-6f : 0.0f;
    for (uint32_t size : {1u, 7u, 64u, 4096u}) {
      const auto pieces = runInBlocks(d, ports, {size}, frames);
      for (size_t c = 0; c < whole.size(); ++c) {
        uint32_t firstDiff = frames;
        for (uint32_t i = 0; i < frames && firstDiff == frames; ++i) {
          const bool same = std::memcmp(&whole[c][i], &pieces[c][i], sizeof(float)) == 0;
          if (!same && !(std::fabs(whole[c][i] - pieces[c][i]) <= tolerance)) firstDiff = i;
        }
        EXPECT_EQ(firstDiff, frames) << d->URI << " blocks of " << size << " frames, channel " << c
                                     << ": differs from one block at frame " << firstDiff << " by more than "
                                     << tolerance;
      }
    }
    // Silence in, something out: an instance that passes nothing is caught
    // here rather than by equal zeros above.
    double energy = 0;
    for (float v : whole[0]) energy += double{v} * v;
    EXPECT_GT(energy, 1.0) << d->URI;
  }
}

TEST_F(Lv2Binary, LatencyPortStatesTheDelayOfAFlatEq) {
  // Flat gains make the linear-phase design a pure delay: the impulse comes
  // out, whole, exactly where the latency port says.
  for (const LV2_Descriptor* d : descriptors()) {
    const PortMap ports = portsOf(d->URI);
    uint32_t latencyPort = UINT32_MAX;
    for (uint32_t p = 0; p < ports.symbols.size(); ++p) {
      if (ports.symbols[p] == "latency") latencyPort = p;
    }
    if (latencyPort == UINT32_MAX) continue;
    Host host;
    Plugin plugin(d, host, ports);
    for (uint32_t p = 0; p < ports.symbols.size(); ++p) {
      if (!ports.symbols[p].empty()) d->connect_port(plugin.instance, p, &plugin.controls[p]);
    }
    for (uint32_t p = 0; p < ports.symbols.size(); ++p) {
      const std::string& s = ports.symbols[p];
      if (s == "low" || s == "mid" || s == "high" || s == "level") plugin.controls[p] = 0;
    }
    const uint32_t frames = 1024;
    std::vector<std::vector<float>> in(ports.audioIn.size(), std::vector<float>(frames, 0.0f));
    std::vector<std::vector<float>> out(ports.audioOut.size(), std::vector<float>(frames, 0.0f));
    for (auto& c : in) c[0] = 0.5f;
    for (size_t c = 0; c < in.size(); ++c) {
      d->connect_port(plugin.instance, ports.audioIn[c], in[c].data());
      d->connect_port(plugin.instance, ports.audioOut[c], out[c].data());
    }
    d->activate(plugin.instance);
    d->run(plugin.instance, frames);
    const auto latency = static_cast<uint32_t>(plugin.controls[latencyPort]);
    ASSERT_LT(latency, frames) << d->URI;
    for (size_t c = 0; c < out.size(); ++c) {
      uint32_t peak = 0;
      for (uint32_t i = 1; i < frames; ++i) {
        if (std::fabs(out[c][i]) > std::fabs(out[c][peak])) peak = i;
      }
      EXPECT_EQ(peak, latency) << d->URI << " channel " << c << ": impulse at frame " << peak
                               << ", latency port says " << latency;
      // Single-precision design: the delayed impulse keeps its height to
      // within a part in ten thousand.
      EXPECT_NEAR(out[c][peak], 0.5f, 5e-5f) << d->URI;
    }
  }
}

TEST_F(Lv2Binary, RunTouchesNoHeapEvenWhileControlsMove) {
  if (!DSPFX_MALLOC_HOOK) GTEST_SKIP() << "the sanitizers own malloc";
  {
    // The hook sees what it must see.
    gHeapCalls = 0;
    Counting c;
    std::string probe(200, 'x');
    ASSERT_GT(gHeapCalls, 0) << "the malloc hook is not in force";
  }
  uint32_t rebuilt = 0;
  for (const LV2_Descriptor* d : descriptors()) {
    const PortMap ports = portsOf(d->URI);
    for (bool move : {false, true}) {
      gHeapCalls = 0;
      int calls = 0;
      uint32_t replies = 0;
      runInBlocks(d, ports, {1, 7, 64, 4096, 300}, 30000, &calls, move, &replies);
      EXPECT_EQ(calls, 0) << d->URI << (move ? " with controls moving" : " with fixed controls")
                          << ": heap calls inside run() and the worker's reply";
      rebuilt += replies;
    }
  }
  // Controls that shape an object moved too, so new objects were installed.
  EXPECT_GT(rebuilt, 0u);
}

}  // namespace

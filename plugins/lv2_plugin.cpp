// The LV2 entry point. Objects are made again off the audio thread through
// the host's worker when a control that shapes them moves; without a worker
// those controls keep the values they had at activation.
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include "cli.h"
#include "effect_instance.h"

namespace dspfx::plugins {
namespace {

// Used when the host states no maximum block length; longer host blocks
// still work, cut into pieces of this size.
constexpr uint32_t kFallbackCapacity = 4096;
// A huge stated maximum is not worth its memory: pieces of this size give
// the same samples.
constexpr uint32_t kLargestCapacity = 16384;

// Messages to the worker thread.
struct WorkMessage {
  enum Kind : uint32_t { kBuild, kDestroy } kind;
  BuiltEffect* retired;   // kDestroy
  float values[1];        // kBuild: one per control port
};

struct Lv2Plugin {
  Lv2Plugin(const PluginInfo& info, double rate, uint32_t capacity)
      : instance(info, rate, capacity),
        message(offsetof(WorkMessage, values) + sizeof(float) * (info.controls.size() + 1)) {}
  EffectInstance instance;
  LV2_Worker_Schedule* schedule = nullptr;
  bool building = false;
  BuiltEffect* unsent = nullptr;   // retired, waiting for the worker to take it
  std::vector<unsigned char> message;
};

std::vector<LV2_Descriptor>& descriptors();

uint32_t readCapacity(const LV2_Feature* const* features) {
  LV2_URID_Map* map = nullptr;
  const LV2_Options_Option* options = nullptr;
  for (const LV2_Feature* const* f = features; f && *f; ++f) {
    if (std::strcmp((*f)->URI, LV2_URID__map) == 0) map = static_cast<LV2_URID_Map*>((*f)->data);
    if (std::strcmp((*f)->URI, LV2_OPTIONS__options) == 0) options = static_cast<const LV2_Options_Option*>((*f)->data);
  }
  if (!map || !options) return kFallbackCapacity;
  const LV2_URID maxBlock = map->map(map->handle, LV2_BUF_SIZE__maxBlockLength);
  const LV2_URID atomInt = map->map(map->handle, LV2_ATOM__Int);
  const LV2_URID atomLong = map->map(map->handle, LV2_ATOM__Long);
  for (const LV2_Options_Option* o = options; o->key; ++o) {
    if (o->key != maxBlock || !o->value) continue;
    int64_t v = 0;
    if (o->type == atomInt && o->size == sizeof(int32_t)) v = *static_cast<const int32_t*>(o->value);
    else if (o->type == atomLong && o->size == sizeof(int64_t)) v = *static_cast<const int64_t*>(o->value);
    if (v > 0) return static_cast<uint32_t>(std::min<int64_t>(v, kLargestCapacity));
  }
  return kFallbackCapacity;
}

LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char*, const LV2_Feature* const* features) {
  const size_t index = static_cast<size_t>(d - descriptors().data());
  if (index >= pluginTable().size() || !(rate >= 1.0 && rate <= 4.0e6)) return nullptr;
  tool::applySimd("sse");
  Lv2Plugin* p = nullptr;
  try {
    p = new Lv2Plugin(pluginTable()[index], rate, readCapacity(features));
  } catch (...) {
    return nullptr;
  }
  for (const LV2_Feature* const* f = features; f && *f; ++f) {
    if (std::strcmp((*f)->URI, LV2_WORKER__schedule) == 0) p->schedule = static_cast<LV2_Worker_Schedule*>((*f)->data);
  }
  p->instance.useWorker(p->schedule != nullptr);
  return p;
}

void connectPort(LV2_Handle h, uint32_t port, void* data) {
  static_cast<Lv2Plugin*>(h)->instance.connect(port, static_cast<float*>(data));
}

void activate(LV2_Handle h) {
  try {
    static_cast<Lv2Plugin*>(h)->instance.activate();
  } catch (...) {
    // No memory: the plugin passes its input through until the next activation.
  }
}

bool sendRetired(Lv2Plugin* p, BuiltEffect* retired) {
  WorkMessage m{WorkMessage::kDestroy, retired, {0.0f}};
  return p->schedule->schedule_work(p->schedule->handle, sizeof m, &m) == LV2_WORKER_SUCCESS;
}

void run(LV2_Handle h, uint32_t frames) {
  Lv2Plugin* p = static_cast<Lv2Plugin*>(h);
  p->instance.run(frames);
  if (!p->schedule) return;
  // An object the worker could not take yet waits here; the instance holds
  // the next one meanwhile, so nothing is freed on this thread.
  if (p->unsent && sendRetired(p, p->unsent)) p->unsent = nullptr;
  if (!p->unsent) p->unsent = p->instance.takeRetired();
  if (p->unsent && sendRetired(p, p->unsent)) p->unsent = nullptr;
  // One change at a time: a change made during a cross-fade waits for its
  // end, so the output never jumps from a half-faded object to a new one.
  if (!p->building && !p->instance.fading() && p->instance.wantsRebuild()) {
    auto* m = reinterpret_cast<WorkMessage*>(p->message.data());
    m->kind = WorkMessage::kBuild;
    m->retired = nullptr;
    p->instance.snapshot(m->values);
    p->building = p->schedule->schedule_work(p->schedule->handle, static_cast<uint32_t>(p->message.size()),
                                             p->message.data()) == LV2_WORKER_SUCCESS;
  }
}

void deactivate(LV2_Handle) {}

void cleanup(LV2_Handle h) {
  Lv2Plugin* p = static_cast<Lv2Plugin*>(h);
  delete p->unsent;
  delete p;
}

LV2_Worker_Status work(LV2_Handle h, LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle rh,
                       uint32_t size, const void* data) {
  Lv2Plugin* p = static_cast<Lv2Plugin*>(h);
  WorkMessage m;
  std::memcpy(&m, data, offsetof(WorkMessage, values));
  if (m.kind == WorkMessage::kDestroy) {
    delete m.retired;
    return LV2_WORKER_SUCCESS;
  }
  if (size != p->message.size()) return LV2_WORKER_ERR_UNKNOWN;
  std::vector<float> values(p->instance.info().controls.size());
  std::memcpy(values.data(), static_cast<const unsigned char*>(data) + offsetof(WorkMessage, values),
              sizeof(float) * values.size());
  BuiltEffect* built = EffectInstance::make(p->instance.info(), values.data(), p->instance.rate(),
                                            p->instance.capacity());
  if (respond(rh, sizeof built, &built) != LV2_WORKER_SUCCESS) {
    delete built;
    return LV2_WORKER_ERR_NO_SPACE;
  }
  return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status workResponse(LV2_Handle h, uint32_t size, const void* data) {
  Lv2Plugin* p = static_cast<Lv2Plugin*>(h);
  if (size != sizeof(BuiltEffect*)) return LV2_WORKER_ERR_UNKNOWN;
  BuiltEffect* built;
  std::memcpy(&built, data, sizeof built);
  p->instance.install(built);
  p->building = false;
  return LV2_WORKER_SUCCESS;
}

const void* extensionData(const char* uri) {
  static const LV2_Worker_Interface worker = {work, workResponse, nullptr};
  if (std::strcmp(uri, LV2_WORKER__interface) == 0) return &worker;
  return nullptr;
}

std::vector<LV2_Descriptor>& descriptors() {
  static std::vector<std::string> uris;
  static std::vector<LV2_Descriptor> list = [] {
    std::vector<LV2_Descriptor> l;
    for (const PluginInfo& info : pluginTable()) uris.push_back(info.uri());
    for (const std::string& uri : uris) {
      l.push_back({uri.c_str(), instantiate, connectPort, activate, run, deactivate, cleanup, extensionData});
    }
    return l;
  }();
  return list;
}

}  // namespace
}  // namespace dspfx::plugins

extern "C" __attribute__((visibility("default"))) const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  try {
    const auto& d = dspfx::plugins::descriptors();
    return index < d.size() ? &d[index] : nullptr;
  } catch (...) {
    return nullptr;
  }
}

#include "core/exports/export_call.h"
#include "dspfx/dspfx.h"
#include "wavefile/wavefile_out.h"

using dspfx::createObject;
using dspfx::destroyObject;
using dspfx::withObject;
using Writer = dspfx::WavefileOut;

extern "C" {

DSPFX_API WavefileOut* initWavefileOut(const char* fileName, const WavefileFormat* format) noexcept {
  if (!format) return nullptr;
  return createObject<Writer>([] { return new (std::nothrow) Writer(); }, [&](Writer& w) { return w.init(fileName, *format); });
}

DSPFX_API WavefileFormat* getFormatWavefileOut(WavefileOut* writer) noexcept {
  return withObject<Writer>(writer, static_cast<WavefileFormat*>(nullptr),
                              [](Writer& w) { return &w.format; });
}

DSPFX_API int32_t writeWavefileOut(WavefileOut* writer, const void* bytes, int32_t count) noexcept {
  return withObject<Writer>(writer, int32_t{0}, [&](Writer& w) { return w.write(bytes, count); });
}

DSPFX_API uint32_t flushWavefileOut(WavefileOut* writer) noexcept {
  return withObject<Writer>(writer, 0u, [](Writer& w) { return w.flush(); });
}

DSPFX_API uint32_t termWavefileOut(WavefileOut* writer) noexcept {
  return destroyObject<Writer>(writer, 0u, [](Writer& w) { return w.close(); });
}

}  // extern "C"

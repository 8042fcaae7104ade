#include "core/exports/export_call.h"
#include "dspfx/dspfx.h"
#include "wavefile/wavefile_in.h"

using dspfx::createObject;
using dspfx::destroyObject;
using dspfx::withObject;
using Reader = dspfx::WavefileIn;

extern "C" {

DSPFX_API WavefileIn* initWavefileIn(const char* fileName, uint32_t frames) noexcept {
  return createObject<Reader>([] { return new (std::nothrow) Reader(); }, [&](Reader& r) { return r.init(fileName, frames); });
}

DSPFX_API WavefileFormat* getFormatWavefileIn(WavefileIn* reader) noexcept {
  return withObject<Reader>(reader, static_cast<WavefileFormat*>(nullptr),
                              [](Reader& r) { return &r.format; });
}

DSPFX_API WavefileInHeader* getHeaderWavefileIn(WavefileIn* reader) noexcept {
  return withObject<Reader>(reader, static_cast<WavefileInHeader*>(nullptr),
                              [](Reader& r) { return &r.header; });
}

DSPFX_API int32_t readWavefileIn(WavefileIn* reader, void* buffer, uint32_t frames) noexcept {
  return withObject<Reader>(reader, int32_t{0}, [&](Reader& r) { return r.read(buffer, frames); });
}

DSPFX_API int32_t seekWavefileIn(WavefileIn* reader, int32_t offset, int32_t mode) noexcept {
  return withObject<Reader>(reader, int32_t{0}, [&](Reader& r) { return r.seek(offset, mode); });
}

DSPFX_API int32_t timeSeekWavefileIn(WavefileIn* reader, float seconds, int32_t mode) noexcept {
  return withObject<Reader>(reader, int32_t{0},
                              [&](Reader& r) { return r.timeSeek(seconds, mode); });
}

DSPFX_API void* bufSizeExtendWavefileIn(WavefileIn* reader, uint32_t frames) noexcept {
  return withObject<Reader>(reader, static_cast<void*>(nullptr),
                              [&](Reader& r) { return r.bufSizeExtend(frames); });
}

DSPFX_API void termWavefileIn(WavefileIn* reader) noexcept {
  destroyObject<Reader>(reader, 0, [](Reader& r) {
    r.term();
    return 1;
  });
}

}  // extern "C"

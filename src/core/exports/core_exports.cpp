#include "core/exports/export_call.h"
#include "core/fastmem_heap.h"
#include "core/processor_flags.h"
#include "core/sample_convert.h"
#include "core/last_error.h"
#include "dspfx/dspfx.h"
#include "dspfx_version.h"

using namespace dspfx;

extern "C" {

// The tracker's lock is the only thing here that could throw.
DSPFX_API void* fastmemAlloc(uint32_t size) noexcept {
  return guarded(static_cast<void*>(nullptr), [&] { return fastmemHeap().allocate(size); });
}

DSPFX_API uint32_t fastmemFree(void* ptr) noexcept {
  return guarded(0u, [&] { return fastmemHeap().release(ptr); });
}

DSPFX_API void* fastmemRealloc(void* ptr, uint32_t size) noexcept {
  return guarded(static_cast<void*>(nullptr), [&] { return fastmemHeap().reallocate(ptr, size); });
}

DSPFX_API uint32_t fastmemGetAllocatedSize(void) noexcept {
  return guarded(0u, [] { return fastmemHeap().allocatedSize(); });
}

DSPFX_API void dspEnableMmx(int32_t enable) noexcept {
  processorFlags().mmxEnabled.store(static_cast<uint8_t>(enable), std::memory_order_relaxed);
}

DSPFX_API void dspEnable3dnow(int32_t enable) noexcept {
  processorFlags().amd3dnowEnabled.store(static_cast<uint8_t>(enable), std::memory_order_relaxed);
}

DSPFX_API void dspEnableSse(int32_t enable) noexcept {
  processorFlags().sseEnabled.store(static_cast<uint8_t>(enable), std::memory_order_relaxed);
}

DSPFX_API uint32_t dspPcmEncode(const float* in, int16_t* out, uint32_t count) noexcept {
  if (count != 0 && (!in || !out)) return 0;
  return guarded(0u, [&] { return pcmEncode(in, out, count); });
}

DSPFX_API uint32_t dspPcmDecode(void) noexcept { return 0; }

DSPFX_API uint32_t dspGetVersion(void) noexcept {
  return (uint32_t{DSPFX_VERSION_MAJOR} << 16) | (uint32_t{DSPFX_VERSION_MINOR} << 8) |
         uint32_t{DSPFX_VERSION_PATCH};
}

DSPFX_API int32_t dspGetLastError(void) noexcept { return lastError(); }

DSPFX_API const char* dspErrorString(int32_t code) noexcept { return errorString(code); }

}  // extern "C"

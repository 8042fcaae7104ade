// The library's process-wide objects, all in one translation unit so that
// their construction order is the order written here and their destruction
// the reverse: the tracker outlives everything that might free into it.
#include "core/fastmem_heap.h"
#include "core/handle_registry.h"
#include "core/last_error.h"
#include "core/lookup_tables.h"
#include "core/processor_flags.h"

namespace dspfx {
namespace {

FastmemHeap gFastmemHeap;
ProcessorFlags gProcessorFlags;
const SineTable gSineTable;
const DbGainTable gDbGainTable;
HandleRegistry gHandleRegistry;

// What the last call on this thread left behind for dspGetLastError.
thread_local int32_t tLastError = kErrorNone;
thread_local bool tAllocationFailed = false;

}  // namespace

FastmemHeap& fastmemHeap() { return gFastmemHeap; }
ProcessorFlags& processorFlags() { return gProcessorFlags; }
const SineTable& sineTable() { return gSineTable; }
const DbGainTable& dbGainTable() { return gDbGainTable; }
HandleRegistry& handleRegistry() { return gHandleRegistry; }

void setLastError(int32_t code) noexcept { tLastError = code; }
int32_t lastError() noexcept { return tLastError; }
void noteAllocationFailure() noexcept { tAllocationFailed = true; }
bool allocationFailed() noexcept { return tAllocationFailed; }
void clearCallState() noexcept {
  tLastError = kErrorNone;
  tAllocationFailed = false;
}

}  // namespace dspfx

#if defined(_WIN32)
#include <windows.h>
#include <mmsystem.h>

#include <cstddef>

#include "dspfx/dspfx.h"

// Hosts cast between the library's format record and the platform's; both
// are declared here side by side, which also proves the names do not clash.
static_assert(sizeof(WavefileFormat) == sizeof(WAVEFORMATEX));
static_assert(offsetof(WavefileFormat, formatTag) == offsetof(WAVEFORMATEX, wFormatTag));
static_assert(offsetof(WavefileFormat, channels) == offsetof(WAVEFORMATEX, nChannels));
static_assert(offsetof(WavefileFormat, samplesPerSec) == offsetof(WAVEFORMATEX, nSamplesPerSec));
static_assert(offsetof(WavefileFormat, avgBytesPerSec) == offsetof(WAVEFORMATEX, nAvgBytesPerSec));
static_assert(offsetof(WavefileFormat, blockAlign) == offsetof(WAVEFORMATEX, nBlockAlign));
static_assert(offsetof(WavefileFormat, bitsPerSample) == offsetof(WAVEFORMATEX, wBitsPerSample));
static_assert(offsetof(WavefileFormat, extraSize) == offsetof(WAVEFORMATEX, cbSize));

// Nothing to do per thread: the only thread-local state (the last error)
// needs no setting up or tearing down.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
#endif

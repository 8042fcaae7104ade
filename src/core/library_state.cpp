// The library's process-wide objects, all in one translation unit so that
// their construction order is the order written here and their destruction
// the reverse: the tracker outlives everything that might free into it.
#include "core/fastmem_heap.h"
#include "core/handle_registry.h"
#include "core/lookup_tables.h"
#include "core/processor_flags.h"

namespace dspfx {
namespace {

FastmemHeap gFastmemHeap;
ProcessorFlags gProcessorFlags;
const SineTable gSineTable;
const DbGainTable gDbGainTable;
HandleRegistry gHandleRegistry;

}  // namespace

FastmemHeap& fastmemHeap() { return gFastmemHeap; }
ProcessorFlags& processorFlags() { return gProcessorFlags; }
const SineTable& sineTable() { return gSineTable; }
const DbGainTable& dbGainTable() { return gDbGainTable; }
HandleRegistry& handleRegistry() { return gHandleRegistry; }

}  // namespace dspfx

#if defined(_WIN32)
#include <windows.h>
// Nothing to do per thread; the library keeps no thread-local state.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
#endif

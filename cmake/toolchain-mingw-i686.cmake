# 32-bit Windows DLL. SSE2 arithmetic, as on 32-bit Linux, so that results
# match the 64-bit builds. Nothing here can run on a machine without a
# 32-bit Wine: the DLL is built and its export and import tables checked.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(DSPFX_MINGW_TRIPLE i686-w64-mingw32)
set(DSPFX_MINGW_FLAGS "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

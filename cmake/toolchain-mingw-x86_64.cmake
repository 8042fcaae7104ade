# 64-bit Windows DLL; the test programs run under wine64 when it is there.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(DSPFX_MINGW_TRIPLE x86_64-w64-mingw32)
set(DSPFX_MINGW_FLAGS "")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
find_program(DSPFX_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(DSPFX_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DSPFX_WINE64})
endif()

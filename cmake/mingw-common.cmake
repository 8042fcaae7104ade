# Windows DLL built with MinGW-w64; included by the per-processor toolchain
# files after they set DSPFX_MINGW_TRIPLE, CMAKE_SYSTEM_PROCESSOR and the
# processor's code generation flags DSPFX_MINGW_FLAGS.
#
# The -posix compilers: the default win32 thread model has no std::mutex,
# which the handle registry and GoogleTest need. Everything links -static
# so the DLL and the test programs import only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${DSPFX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DSPFX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${DSPFX_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${DSPFX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
set(CMAKE_OBJDUMP ${DSPFX_MINGW_TRIPLE}-objdump)
# M_PI and friends, which glibc declares by default and MinGW only on request.
set(CMAKE_C_FLAGS_INIT "${DSPFX_MINGW_FLAGS} -D_USE_MATH_DEFINES")
set(CMAKE_CXX_FLAGS_INIT "${DSPFX_MINGW_FLAGS} -D_USE_MATH_DEFINES")

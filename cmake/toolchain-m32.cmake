# 32-bit x86 Linux with the host's multilib gcc.
#
# SSE2 arithmetic instead of the i386 default x87: x87 keeps 80-bit
# intermediates whose rounding depends on register pressure and so on the
# optimisation level, and the 32-bit build must compute the values the
# 64-bit build does.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
# Library searches look in the i386 directories, never at the distribution's
# 64-bit libgtest.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

# Some kernels refuse 32-bit executables; run the tests through qemu-i386
# there, natively where the kernel can. A cache entry set by hand wins.
if(NOT DEFINED DSPFX_M32_EMULATOR)
  set(_probe_dir ${CMAKE_BINARY_DIR}/m32-probe)
  file(MAKE_DIRECTORY ${_probe_dir})
  file(WRITE ${_probe_dir}/probe.c "int main(void) { return sizeof(void*) == 4 ? 0 : 1; }\n")
  execute_process(COMMAND gcc -m32 ${_probe_dir}/probe.c -o ${_probe_dir}/probe
    RESULT_VARIABLE _probe_built OUTPUT_QUIET ERROR_QUIET)
  set(_native 1)
  if(_probe_built EQUAL 0)
    execute_process(COMMAND ${_probe_dir}/probe RESULT_VARIABLE _native OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(_native EQUAL 0)
    set(DSPFX_M32_EMULATOR "" CACHE STRING "Runs 32-bit test executables; empty: natively")
  else()
    find_program(_qemu_i386 qemu-i386)
    set(DSPFX_M32_EMULATOR "${_qemu_i386}" CACHE STRING "Runs 32-bit test executables; empty: natively")
  endif()
endif()
if(DSPFX_M32_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DSPFX_M32_EMULATOR})
endif()

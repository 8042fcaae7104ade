# GoogleTest for the suites. Native builds use the distribution's package;
# a target the package was not compiled for (32-bit, Windows) builds it from
# the sources the package ships, given as DSPFX_GTEST_SOURCE_DIR.
if(DSPFX_GTEST_SOURCE_DIR)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${DSPFX_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Its warnings are not ours to fix.
  target_compile_options(gtest PRIVATE -w)
else()
  find_package(GTest REQUIRED)
endif()

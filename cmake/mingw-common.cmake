# What the two MinGW-w64 toolchain files share; each sets OVLU_MINGW_TRIPLE
# and the processor first. Both use the posix thread model (GoogleTest needs
# std::mutex); winpthread is linked statically like the rest of the runtime.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${OVLU_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OVLU_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OVLU_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OVLU_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program is linked statically, so it needs nothing but system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# GCC 12 reports -Wrestrict for plain std::string assignments once they are
# inlined at -O2 and above (GCC bug 105651); the warning says nothing about
# the code it points at.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")

# Tests run under Wine; WINEPREFIX and DISPLAY come from the caller. 32-bit
# programs need the "wine" loader; 64-bit ones take the 64-bit loader itself,
# which Debian keeps off the PATH, since "wine" may name a 32-bit loader that
# the kernel cannot start.
if(OVLU_MINGW_TRIPLE MATCHES "^x86_64")
  set(ovlu_wine_names wine64 wine)
else()
  set(ovlu_wine_names wine)
endif()
find_program(OVLU_WINE NAMES ${ovlu_wine_names} PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(OVLU_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${OVLU_WINE})
endif()
# Test programs are listed when ctest runs (under Wine), never while building.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

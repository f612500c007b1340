# Cross build for 64-bit Windows with MinGW-w64. The agent ships as a 32-bit
# program; this build of the same sources runs the tests under 64-bit Wine.
# Both toolchains use the posix thread model (GoogleTest needs std::mutex);
# winpthread is linked statically like the rest of the runtime.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
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

# Tests run under Wine; WINEPREFIX and DISPLAY come from the caller. Debian
# without 32-bit Wine has only the 64-bit loader, sometimes off the PATH.
find_program(OVLU_WINE NAMES wine wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(OVLU_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${OVLU_WINE})
endif()
# Test programs are listed when ctest runs (under Wine), never while building.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

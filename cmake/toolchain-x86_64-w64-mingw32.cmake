# Cross build for 64-bit Windows with MinGW-w64. The agent ships as a 32-bit
# program; this build of the same sources runs the tests under 64-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(OVLU_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

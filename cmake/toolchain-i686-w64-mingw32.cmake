# Cross build for 32-bit Windows (the shipped agent) with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(OVLU_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Floating point on SSE, not the x87 unit: each single-precision step (the
# row percentage is Value / Max * 100 in single precision) is then rounded
# to single precision as it goes, instead of being kept at 80 bits.
string(APPEND CMAKE_C_FLAGS_INIT " -msse2 -mfpmath=sse")
string(APPEND CMAKE_CXX_FLAGS_INIT " -msse2 -mfpmath=sse")

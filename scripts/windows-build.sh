#!/bin/sh
# Cross-builds the Windows agent with MinGW-w64:
#   BUILD_ROOT/win32  OVLiveUpdate.exe for 32-bit Windows (the shipped
#                     program) with its test programs
#   BUILD_ROOT/win64  only with OVLU_WIN64=1: the same sources and tests for
#                     64-bit Windows, a stand-in for machines whose kernel
#                     cannot run the 32-bit Wine (scripts/windows-test.sh)
# Usage: scripts/windows-build.sh [BUILD_ROOT]   (default: <repo>/build)
# OVLU_WIN32_BUILD / OVLU_WIN64_BUILD name the two folders directly;
# OVLU_JOBS sets the parallel jobs (default 2).
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
root=${1:-$repo/build}
b32=${OVLU_WIN32_BUILD:-$root/win32}
b64=${OVLU_WIN64_BUILD:-$root/win64}
jobs=${OVLU_JOBS:-2}
launcher=""
command -v ccache >/dev/null && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"

# shellcheck disable=SC2086
cmake -S "$repo" -B "$b32" -DCMAKE_BUILD_TYPE=Release -DOVLU_TESTS=ON $launcher \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-i686-w64-mingw32.cmake"
cmake --build "$b32" -j "$jobs"

if [ "${OVLU_WIN64:-0}" = 1 ]; then
  # shellcheck disable=SC2086
  cmake -S "$repo" -B "$b64" -DCMAKE_BUILD_TYPE=Release -DOVLU_TESTS=ON $launcher \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-x86_64-w64-mingw32.cmake"
  cmake --build "$b64" -j "$jobs"
fi

exe="$b32/bin/OVLiveUpdate.exe"
# The shipped program must be a 32-bit PE that needs only system DLLs and
# carries no manifest of its own.
i686-w64-mingw32-objdump -f "$exe" | grep -q "file format pei-i386" ||
  { echo "windows-build: $exe is not a 32-bit PE" >&2; exit 1; }
if command -v file >/dev/null; then
  file -b "$exe" | grep -q '^PE32 executable (GUI) Intel 80386' ||
    { echo "windows-build: $exe is $(file -b "$exe"), not a 32-bit GUI program" >&2; exit 1; }
fi
bad=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' |
  grep -viE '^(kernel32|user32|gdi32|comctl32|wininet|shell32|ole32|oleaut32|advapi32|msvcrt|shlwapi|ws2_32|bcrypt|crypt32|api-ms-win-.*)\.dll$' || true)
if [ -n "$bad" ]; then
  echo "windows-build: $exe imports non-system DLLs: $bad" >&2
  exit 1
fi
if i686-w64-mingw32-objdump -p "$exe" | grep -qE '^[0-9a-f]{3}   Entry: ID: 0x000018,'; then
  echo "windows-build: $exe embeds a manifest resource" >&2
  exit 1
fi
echo "windows-build: $exe ($(wc -c <"$exe") bytes) and its tests are ready in $b32"

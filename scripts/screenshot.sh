#!/bin/sh
# Saves a PNG of the main window: as start-up leaves it with a list of four
# files, or in the middle of a download with --running.
# Usage: scripts/screenshot.sh OUT.png [--running]
# Builds what it needs in build-screenshot/ (BUILD_DIR overrides it).
set -eu
if [ $# -lt 1 ]; then
  echo "usage: $0 OUT.png [--running]" >&2
  exit 2
fi
out=$1
shift
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-screenshot}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target qt_window_screenshot -j2 >/dev/null
QT_QPA_PLATFORM=offscreen "$build/tests/linux/qt/qt_window_screenshot" "$out" "$@"
echo "$out"

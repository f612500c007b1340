#!/bin/sh
# Saves a PNG of the main window as start-up leaves it with a list of four
# files (scripts/demo.sh --screenshot takes one during a real download).
# Usage: scripts/screenshot.sh OUT.png
# Builds what it needs in build-screenshot/ (BUILD_DIR overrides it).
set -eu
if [ $# -ne 1 ]; then
  echo "usage: $0 OUT.png" >&2
  exit 2
fi
out=$1
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-screenshot}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target qt_window_screenshot -j2 >/dev/null
QT_QPA_PLATFORM=offscreen "$build/tests/linux/qt/qt_window_screenshot" "$out"
echo "$out"

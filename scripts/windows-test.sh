#!/bin/sh
# Runs the Windows tests under Wine: the core's tests and the platform's, both
# built for 64-bit Windows by scripts/windows-build.sh, and the end-to-end run
# of OVLiveUpdate.exe against a loopback HTTP server.
# Usage: scripts/windows-test.sh [BUILD_ROOT]   (default: <repo>/build; the
# tests are in BUILD_ROOT/win64, or in OVLU_WIN64_BUILD when set).
# A fresh Wine prefix is made for every run and removed afterwards; the
# display is a private Xvfb. Missing Wine or Xvfb is a failure, not a skip.
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
root=${1:-$repo/build}
b64=${OVLU_WIN64_BUILD:-$root/win64}

for tool in wine wineboot wineserver xvfb-run ctest; do
  command -v "$tool" >/dev/null || { echo "windows-test: $tool is not installed" >&2; exit 1; }
done
[ -f "$b64/CTestTestfile.cmake" ] ||
  { echo "windows-test: no test build in $b64 (run scripts/windows-build.sh)" >&2; exit 1; }

prefix=$(mktemp -d /tmp/ovlu-wine.XXXXXX)
cleanup() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT INT TERM

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No Mono or Gecko installers: the agent needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
export OVLU_REPO="$repo" OVLU_B64="$b64"

xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" sh -c '
  set -e
  start=$(date +%s)
  wineboot -i >/dev/null 2>&1
  wine reg import "$OVLU_REPO/tests/windows/wine-settings.reg" >/dev/null 2>&1
  wineserver -p 60 || true  # one server for all the tests
  echo "windows-test: Wine prefix ready in $(( $(date +%s) - start )) s"
  status=0
  ctest --test-dir "$OVLU_B64" --output-on-failure --timeout 300 || status=$?
  echo "windows-test: done in $(( $(date +%s) - start )) s"
  exit $status
'

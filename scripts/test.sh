#!/bin/sh
# Runs every test from nothing: installs the packages, builds the Linux agent
# and its tests with AddressSanitizer and UndefinedBehaviorSanitizer in
# build/linux, runs them (window tests on a private Xvfb display), then
# cross-builds the Windows agent and runs the Windows tests under Wine
# (scripts/windows-test.sh does both). Last it makes the release packages
# (scripts/package.sh) and, as root, installs the Debian one, updates a file
# with the installed agent and removes it again (tests/package/installed.sh).
#
# With --quick it builds and runs only the tests labelled "quick" in the same
# build: the core on the headless window, the file layer and the list
# checker; no window toolkit, no network, no Wine.
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
jobs=${OVLU_JOBS:-2}
quick=false
case ${1:-} in
  --quick) quick=true ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac
sh "$repo/scripts/setup.sh"

lin=$repo/build/linux
cmake -S "$repo" -B "$lin" -DCMAKE_BUILD_TYPE=Debug -DOVLU_SANITIZE=ON

# Qt's and D-Bus's own allocations that live until exit are not ours.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

if $quick; then
  cmake --build "$lin" -j "$jobs" --target ovlu_core_tests ovlu_posix_tests ovlu_list_tests
  exec ctest --test-dir "$lin" --output-on-failure --timeout 60 -j "$jobs" -L '^quick$'
fi

cmake --build "$lin" -j "$jobs"
status=0
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  ctest --test-dir "$lin" --output-on-failure --timeout 300 -j "$jobs" || status=$?

sh "$repo/scripts/windows-test.sh" "$repo/build" || status=$?

if sh "$repo/scripts/package.sh"; then
  if [ "$(id -u)" = 0 ]; then
    "$repo/tests/package/installed.sh" "$repo"/build/dist/ovliveupdate_*_amd64.deb || status=1
  else
    echo "test.sh: the installed-package test needs root (it installs and purges the package); not run" >&2
  fi
else
  status=1
fi
exit $status

#!/bin/sh
# Fuzzes the update-list parser and the list checker with libFuzzer for a
# bounded time (60 seconds, or the number of seconds given). Not part of the
# test run. New inputs go to build-fuzz/corpus; a crash, a hang (5 s) or a
# broken property leaves its input in build-fuzz/artifacts and fails.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OVLU_FUZZ_BUILD:-$root/build-fuzz}
seconds=${1:-60}

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz.sh: clang++ is missing; install Debian's package: apt-get install clang" >&2
  exit 2
fi

cmake -S "$root/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2 --target update_list_fuzz

mkdir -p "$build/corpus" "$build/artifacts"
exec "$build/update_list_fuzz" -max_total_time="$seconds" -timeout=5 -max_len=4096 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/artifacts/" \
  "$build/corpus" "$root/fuzz/corpus"

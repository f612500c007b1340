#!/bin/bash
# shellcheck disable=SC2317  # the cases and their helpers are called by name
# What happens between the user and the network, driven through the real
# Linux window the way a person does (xdotool clicks and keys):
#   question_left_open  "Annulla" during a 60 MB download from nginx (which
#                       drops a client that stops reading for 5 s), the
#                       question left open 12 s, then No: the run goes on
#                       and the file arrives whole.
#   yes_while_answering "Annulla" while the server is still silent, the
#                       headers arrive while the question is open, then Yes:
#                       the process ends within a second, the list stays.
#   quick_after_slow    20 000 bytes, 6 KiB at 1 KiB/s, 30 000 bytes from an
#                       nginx that closes idle kept-alive connections after
#                       2 s: all three arrive, the list is deleted.
#   broken_body         a body cut after 100 000 of its 300 000 bytes: the
#                       run fails, nothing is put in place, the list stays.
#                       The Qt window's labels cannot be read from outside,
#                       so the texts of this case are checked under Wine.
# One line per case with what it saw and the seconds measured; the exit
# status is non-zero when any case fails.
# The test server is the one CTest started (OVLU_TEST_SERVER names its
# address file); without it the script starts its own.
# Usage: interleavings.sh PATH/TO/OVLiveUpdate [CASE...]   (OVLU_KEEP=1 keeps the work folder)
set -uo pipefail
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$@"
agent=$(readlink -f "$1")
shift
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(question_left_open yes_while_answering quick_after_slow broken_body)
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../../.." && pwd)
for tool in nginx xdotool python3 curl cmp; do
  command -v "$tool" >/dev/null || { echo "interleavings: $tool is not installed" >&2; exit 1; }
done

work=$(mktemp -d /tmp/ovluinterleave.XXXXXX)  # no "-": it would read as a placeholder
chmod a+rx "$work"  # nginx's workers read the served files
nginx_pid="" server_pid=""
cleanup() {
  [ -z "$nginx_pid" ] || kill "$nginx_pid" 2>/dev/null
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null
  exec 7>&- 2>/dev/null
  [ -n "${OVLU_KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
die() { echo "interleavings: $*" >&2; exit 1; }
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
size() { stat -c %s "$1" 2>/dev/null || echo 0; }

# ---------------------------------------------------------------- servers
if [ -n "${OVLU_TEST_SERVER:-}" ]; then
  ts=$(sed -n 's/^OVLU_TEST_HTTP=//p' "$OVLU_TEST_SERVER")
else
  mkfifo "$work/server.in"
  python3 "$repo/tests/server/ovlu_testserver.py" --root "$work" --log "$work/server.log" <"$work/server.in" \
    >"$work/server.out" 2>&1 &
  server_pid=$!
  exec 7>"$work/server.in"  # the server runs while this stays open
  for _ in $(seq 50); do grep -q '^PORT ' "$work/server.out" && break; sleep 0.1; done
  ts="http://127.0.0.1:$(sed -n 's/^PORT //p' "$work/server.out")"
fi
[ "$ts" != "http://127.0.0.1:" ] && [ -n "$ts" ] || die "no test server"

. "$(dirname "$0")/../../support/interleave-nginx.sh"

# ---------------------------------------------------------------- the agent's machine
# Each case gets a machine of its own under $work/NAME: the product folder
# with the agent, the data folder with the list, and Dati for the files.
machine() {
  root=$work/$1
  data="$root/public/Documents/Tessaro Software/OrVento 7"
  product="$root/OrVento 7"
  dati=$root/Dati
  mkdir -p "$data" "$product" "$dati" "$root/windows/system32"
  cp "$agent" "$product/OVLiveUpdate"
  printf 'OrVento 7.0\n' >"$product/OrVento.exe"
  list="$data/Updates.upd"
}
row() { printf '<v-><s-%s><%s\\%s>\r\n' "$1" "$dati" "$2"; }

agent_pid=""
start_agent() {
  (
    cd "$product" || exit 1
    export PUBLIC="$root/public" windir="$root/windows" OVLU_INSTANCE_LOCK="$root/lock"
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
    exec ./OVLiveUpdate
  ) >"$root/agent.log" 2>&1 &
  agent_pid=$!
}
# A child that has ended stays a zombie until it is waited for.
running() {
  local state
  [ -n "$agent_pid" ] || return 1
  state=$(awk '{ print $3 }' "/proc/$agent_pid/stat" 2>/dev/null)
  [ -n "$state" ] && [ "$state" != Z ]
}
stop_agent() {
  [ -z "$agent_pid" ] || { kill "$agent_pid" 2>/dev/null; wait "$agent_pid" 2>/dev/null; }
  agent_pid=""
}

# Each case runs in a subshell: fail ends the case with its line.
case_name=""
fail() {
  echo "interleavings: $case_name FAIL: $*"
  stop_agent
  exit 1
}
pass() { echo "interleavings: $case_name PASS: $*"; }
win=""  # the agent's window, found by ovlu_start_run
# shellcheck source=scripts/window-clicks.sh
. "$repo/scripts/window-clicks.sh"
# "Annulla" is CmdChiudi during a run; ovlu_start_run found the window (win).
click_annulla() { xdotool mousemove --window "$win" 473 354 click 1; }
# Waits for "Interrompre l'aggiornamento?" (the window titled OrVento).
question_box() {
  box=$(timeout 10 xdotool search --sync --onlyvisible --name "^OrVento$" | head -1) ||
    fail "the question did not appear after Annulla"
}
answer() {  # the key that answers the open question
  xdotool windowfocus --sync "$box" 2>/dev/null || true
  xdotool key --clearmodifiers "$1"
}
# Waits up to $1 seconds for the received file $2 to grow.
wait_growing() {
  local before
  for _ in $(seq $(($1 * 10))); do
    before=$(size "$2")
    sleep 0.1
    [ "$before" -gt 0 ] && [ "$(size "$2")" -gt "$before" ] && return 0
    running || fail "the agent ended before the download"
  done
  fail "$2 never grew"
}
# Waits up to $1 seconds for the list to go; false when it is still there
# and $2 has not changed for 5 s, or the time is up.
wait_list_gone() {
  local last=-1 same=0
  for _ in $(seq $(($1 * 10))); do
    [ -e "$list" ] || return 0
    running || return 1
    if [ "$(size "$2")" = "$last" ]; then
      same=$((same + 1))
      [ "$same" -lt 50 ] || return 1
    else
      last=$(size "$2") same=0
    fi
    sleep 0.1
  done
  return 1
}

# ---------------------------------------------------------------- the cases
question_left_open() {
  machine question_left_open
  head -c 60000000 /dev/urandom >"$www/big/Grande.bin"
  row "$ng/big/Grande.bin" Grande.bin >"$list"
  local got="$dati/Grande.bin.remove"
  start_agent
  ovlu_start_run
  wait_growing 20 "$got"
  click_annulla
  question_box
  local opened
  opened=$(now)
  sleep 12
  local at_no
  at_no=$(size "$got")
  local open_for
  open_for=$(since "$opened")
  answer Escape  # the box's cancelling button, No (as Tab and Return would pick it)
  local no
  no=$(now)
  sleep 0.5
  running || fail "the agent ended on the answer: Escape did not pick No"
  if ! wait_list_gone 60 "$got"; then
    fail "No after $open_for s open: the run did not complete, the received file" \
      "stopped at $(size "$got") of 60000000 bytes ($at_no when No was given), list kept"
  fi
  local took
  took=$(since "$no")
  cmp -s "$www/big/Grande.bin" "$dati/Grande.bin" || fail "the list went but Grande.bin is not whole"
  pass "the question open $open_for s, No: the run went on, 60 MB whole in place and the" \
    "list deleted $took s after No"
}

yes_while_answering() {
  machine yes_while_answering
  row "$ts/gen/6000000?delay=3&rate=100000" Lento.bin >"$list"
  start_agent
  ovlu_start_run
  local started asked
  started=$(now)
  sleep 0.3
  click_annulla
  question_box
  asked=$(since "$started")
  awk -v t="$asked" 'BEGIN { exit !(t < 2.5) }' ||
    fail "the question came $asked s after the start, too late to come before the headers"
  sleep 5  # the headers arrive 3 s after the request
  running || fail "the agent ended before the answer"
  local yes
  yes=$(now)  # taken before the key goes: the agent may end before xdotool returns
  answer Return
  for _ in $(seq 300); do running || break; sleep 0.05; done
  local took
  took=$(since "$yes")
  if running; then
    local got
    got=$(size "$dati/Lento.bin.remove")
    fail "still running $took s after Yes ($got bytes of the body received)"
  fi
  wait "$agent_pid" 2>/dev/null
  agent_pid=""
  [ -e "$list" ] || fail "the list was deleted"
  awk -v t="$took" 'BEGIN { exit !(t < 1) }' || fail "the process ended $took s after Yes (limit 1 s)"
  pass "asked $asked s after the start, Yes 5 s later with the headers in: the process" \
    "ended $took s after Yes, the list kept"
}

quick_after_slow() {
  machine quick_after_slow
  head -c 20000 /dev/urandom >"$www/quick/Primo.bin"
  head -c 6144 /dev/urandom >"$www/slow/Lento.bin"
  head -c 30000 /dev/urandom >"$www/quick/Terzo.bin"
  {
    row "$ng/quick/Primo.bin" Primo.bin
    row "$ng/slow/Lento.bin" Lento.bin
    row "$ng/quick/Terzo.bin" Terzo.bin
  } >"$list"
  start_agent
  ovlu_start_run
  local started
  started=$(now)
  local waited=0
  while [ -e "$list" ] && [ "$waited" -lt 300 ] && running; do
    sleep 0.1
    waited=$((waited + 1))
  done
  local took
  took=$(since "$started")
  local arrived="" name
  for name in Primo Lento Terzo; do
    local dir=quick
    [ "$name" != Lento ] || dir=slow
    if cmp -s "$www/$dir/$name.bin" "$dati/$name.bin"; then arrived+=" $name"
    elif cmp -s "$www/$dir/$name.bin" "$dati/$name.bin.remove"; then arrived+=" $name(received)"
    fi
  done
  [ ! -e "$list" ] || fail "the list is still there after $took s; in place or received:${arrived:- none}"
  [ "$arrived" = " Primo Lento Terzo" ] || fail "the list went but only${arrived:- none} are in place"
  pass "quick, slow (1 KiB/s), quick: all three in place, the list deleted after $took s"
}

broken_body() {
  machine broken_body
  row "$ts/gen/300000?cut=100000&rate=200000" Rotto.bin >"$list"
  local got="$dati/Rotto.bin.remove"
  start_agent
  ovlu_start_run
  local started
  started=$(now)
  for _ in $(seq 100); do [ -e "$got" ] && break; sleep 0.1; done
  # The run is over once the received file has not changed for a second and
  # a half (the body's end is 0.5 s away from its start).
  local last=-1 same=0
  for _ in $(seq 200); do
    if [ "$(size "$got")" = "$last" ]; then same=$((same + 1)); else last=$(size "$got") same=0; fi
    [ "$same" -lt 15 ] || break
    sleep 0.1
  done
  local took
  took=$(since "$started")
  running || fail "the agent ended"
  [ -e "$list" ] || fail "the list was deleted after a broken body"
  [ ! -e "$dati/Rotto.bin" ] || fail "a broken body was put in place"
  [ "$(size "$got")" -lt 300000 ] || fail "the received file holds the whole body"
  pass "body cut at $(size "$got") of 300000 bytes: nothing in place, the list kept" \
    "($took s); the window's texts are checked under Wine"
}

status=0
for c in "${cases[@]}"; do
  declare -F "$c" >/dev/null || die "no case $c"
  started=$(now)
  (
    case_name=$c
    trap stop_agent EXIT
    "$c"
    ovlu_click_chiudi 2>/dev/null
    for _ in $(seq 50); do running || break; sleep 0.1; done
    stop_agent
  ) || status=1
  echo "interleavings: $c took $(since "$started") s"
done
exit $status

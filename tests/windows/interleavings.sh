#!/bin/bash
# shellcheck disable=SC2317  # the cases and their helpers are called by name
# What happens between the user and the network, with the Windows agent
# under Wine, driven the way a person does (xdotool clicks and keys) and
# read from outside with win_probe:
#   question_left_open  "Annulla" during a 60 MB download from nginx (which
#                       drops a client that stops reading for 5 s), the
#                       question left open 12 s, then No ("n"): the run goes
#                       on, "Aggiornamento completato.", the file whole.
#   yes_while_answering "Annulla" while the server is still silent, the
#                       headers arrive while the question is open, then Yes:
#                       the process ends within a second, the list stays.
#   quick_after_slow    20 000 bytes, 6 KiB at 1 KiB/s, 30 000 bytes from an
#                       nginx that closes idle kept-alive connections after
#                       2 s: all three arrive, the list is deleted.
#   broken_body         a body cut after 100 000 of its 300 000 bytes: no
#                       disconnection shown while the body was being read,
#                       the row below 100%, "Aggiornamento interrotto.
#                       Riprovare.", the list kept.
# One line per case with what it saw and the seconds measured; the exit
# status is non-zero when any case fails.
#
# Usage: interleavings.sh OVLiveUpdate.exe ovlu_testserver.py win_probe.exe [CASE...]
# Run by scripts/windows-test.sh (through CTest), which provides WINEPREFIX,
# DISPLAY and the program that holds the Wine session. OVLU_WINE names the
# Wine loader.
set -u
wine=${OVLU_WINE:-wine}
agent_exe=$(readlink -f "$1")
server_py=$(readlink -f "$2")
inspect_exe=$(readlink -f "$3")
shift 3
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(question_left_open yes_while_answering quick_after_slow broken_body)

die() {
  echo "interleavings: $*" >&2
  exit 1
}
for tool in "$wine" nginx xdotool python3 curl cmp timeout; do
  command -v "$tool" >/dev/null || die "$tool is not installed"
done
[ -n "${WINEPREFIX:-}" ] && [ -n "${DISPLAY:-}" ] || die "needs WINEPREFIX and DISPLAY"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
size() { stat -c %s "$1" 2>/dev/null || echo 0; }

work=$(mktemp -d /tmp/ovluinterleave.XXXXXX)
chmod a+rx "$work"  # nginx's workers read the served files
docs="$WINEPREFIX/drive_c/users/Public/Documents"
data_dir="$docs/Tessaro Software/OrVento 7"
list="$data_dir/Updates.upd"
app_name="ovluinterleave$$"
app_dir="$WINEPREFIX/drive_c/$app_name"
nginx_pid="" server_pid=""
cleanup() {
  [ -z "$nginx_pid" ] || kill "$nginx_pid" 2>/dev/null
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null
  exec 7>&- 2>/dev/null
  rm -rf "$work" "$app_dir" "$docs/Tessaro Software"
}
trap cleanup EXIT
. "$(dirname "$0")/e2e-lib.sh"

# ---------------------------------------------------------------- servers
e2e_start_server "$work"
ts=$base

. "$(dirname "$0")/../support/interleave-nginx.sh"

# ---------------------------------------------------------------- the agent and its window

agent_pid=""
case_name=""
fail() {
  echo "interleavings: $case_name FAIL: $*"
  stop_agent
  exit 1
}
pass() { echo "interleavings: $case_name PASS: $*"; }
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

# A fresh product folder with the agent; the list is written by the case.
machine() { e2e_machine "$app_name"; }
row() { printf '<v-><s-%s><APPPATH-\\%s>\r\n' "$1" "$2"; }
# "Annulla" (CmdChiudi while a run is under way), then the question.
annulla() {
  wait_for window 'id=110 .*text=&Annulla' 10 >/dev/null
  click_control 110
  wait_for dialog "text=Interrompre l'aggiornamento\?" 10 >/dev/null
}
outcome() {  # waits up to $1 seconds for the run's end; prints the window
  wait_for window 'id=107 .*text=Aggiornamento (completato|interrotto)' "$1"
}
rows() { printf '%s\n' "$1" | grep '^row=' | sed 's/ 3=\[[^]]*\]//; s/ image=.*//' | paste -sd' '; }

# ---------------------------------------------------------------- the cases
question_left_open() {
  machine
  head -c 60000000 /dev/urandom >"$www/big/Grande.bin"
  row "$ng/big/Grande.bin" Grande.bin >"$list"
  local got="$app_dir/Grande.bin.remove" before
  start_run
  for _ in $(seq 100); do
    before=$(size "$got")
    sleep 0.2
    [ "$before" -gt 0 ] && [ "$(size "$got")" -gt "$before" ] && break
  done
  [ "$(size "$got")" -gt 0 ] || fail "the download never began"
  annulla
  local opened
  opened=$(now)
  sleep 12
  local open_for at_no
  open_for=$(since "$opened")
  at_no=$(size "$got")
  xdotool key n
  local no
  no=$(now)
  sleep 0.5
  running || fail "the agent ended on the answer: \"n\" did not pick No"
  local shown took
  shown=$(outcome 60) || exit 1
  took=$(since "$no")
  printf '%s\n' "$shown" | grep -qE 'id=107 .*text=Aggiornamento completato\.$' ||
    fail "No after $open_for s open: \"$(printf '%s\n' "$shown" | sed -n 's/^control id=107 .*text=//p')\"" \
      "$took s after No, the received file stopped at $(size "$got") of 60000000 bytes" \
      "($at_no when No was given), rows: $(rows "$shown")"
  cmp -s "$www/big/Grande.bin" "$app_dir/Grande.bin" || fail "completed, but Grande.bin is not whole"
  [ ! -e "$list" ] || fail "completed, but the list is still there"
  pass "the question open $open_for s, No: \"Aggiornamento completato.\" $took s after No," \
    "60 MB whole in place, the list deleted"
}

yes_while_answering() {
  machine
  row "$ts/gen/6000000?delay=3&rate=100000" Lento.bin >"$list"
  start_run
  local started asked
  started=$(now)
  annulla
  asked=$(since "$started")
  awk -v t="$asked" 'BEGIN { exit !(t < 2.5) }' ||
    fail "the question came $asked s after the start, too late to come before the headers"
  sleep 5  # the headers arrive 3 s after the request
  running || fail "the agent ended before the answer"
  local yes took
  yes=$(now)  # taken before the key goes: the agent may end before xdotool returns
  xdotool key Return
  for _ in $(seq 300); do running || break; sleep 0.05; done
  took=$(since "$yes")
  running && fail "still running $took s after Yes ($(size "$app_dir/Lento.bin.remove") bytes" \
    "of the body received)"
  wait "$agent_pid" 2>/dev/null
  agent_pid=""
  [ -e "$list" ] || fail "the list was deleted"
  awk -v t="$took" 'BEGIN { exit !(t < 1) }' || fail "the process ended $took s after Yes (limit 1 s)"
  pass "asked $asked s after the start, Yes 5 s later with the headers in: the process" \
    "ended $took s after Yes, the list kept"
}

quick_after_slow() {
  machine
  head -c 20000 /dev/urandom >"$www/quick/Primo.bin"
  head -c 6144 /dev/urandom >"$www/slow/Lento.bin"
  head -c 30000 /dev/urandom >"$www/quick/Terzo.bin"
  {
    row "$ng/quick/Primo.bin" Primo.bin
    row "$ng/slow/Lento.bin" Lento.bin
    row "$ng/quick/Terzo.bin" Terzo.bin
  } >"$list"
  start_run
  local started shown took
  started=$(now)
  shown=$(outcome 40) || exit 1
  took=$(since "$started")
  printf '%s\n' "$shown" | grep -qE 'id=107 .*text=Aggiornamento completato\.$' ||
    fail "\"$(printf '%s\n' "$shown" | sed -n 's/^control id=107 .*text=//p')\" after $took s," \
      "rows: $(rows "$shown")"
  cmp -s "$www/quick/Primo.bin" "$app_dir/Primo.bin" &&
    cmp -s "$www/slow/Lento.bin" "$app_dir/Lento.bin" &&
    cmp -s "$www/quick/Terzo.bin" "$app_dir/Terzo.bin" || fail "completed, but a file is not whole"
  [ ! -e "$list" ] || fail "completed, but the list is still there"
  pass "quick, slow (1 KiB/s), quick: \"Aggiornamento completato.\" after $took s," \
    "all three whole, the list deleted"
}

# LblMesg (control 102) is watched from before the run to its end. The
# window draws its labels at most every few tens of milliseconds, and the
# run's outcome replaces the transfer's last text at once: what the error
# state writes there is not on screen long enough to be drawn, so the texts
# are checked for what they show while the body is read.
broken_body() {
  machine
  row "$ts/gen/300000?cut=100000&rate=200000" Rotto.bin >"$list"
  (cd "$work" && exec timeout 60 "$wine" "$inspect_exe" watch 102 50) >"$work/lblmesg" 2>/dev/null &
  local watch_pid=$!
  start_run
  local started shown took
  started=$(now)
  shown=$(outcome 30) || exit 1
  took=$(since "$started")
  sleep 0.3
  kill "$watch_pid" 2>/dev/null
  wait "$watch_pid" 2>/dev/null
  local texts seen
  texts=$(tr -d '\r' <"$work/lblmesg" | cut -d' ' -f2-)
  seen=$(printf '%s\n' "$texts" | sed 's/^/"/; s/$/"/' | tr '\n' ' ')
  printf '%s\n' "$shown" | grep -qE 'id=107 .*text=Aggiornamento interrotto\. Riprovare\.$' ||
    fail "the run did not fail ($took s), rows: $(rows "$shown"); LblMesg: $seen"
  printf '%s\n' "$shown" | grep -qE 'id=102 .*text=Aggiornamento interrotto\. Riprovare\.$' ||
    fail "LblMesg does not give the outcome: $seen"
  printf '%s\n' "$shown" | grep -qE '^row=1 .* 2=\[[0-9]{1,2}%\]' ||
    fail "the broken row does not read below 100%: $(rows "$shown")"
  [ -e "$list" ] || fail "the list was deleted after a broken body"
  [ ! -e "$app_dir/Rotto.bin" ] || fail "a broken body was put in place"
  # The connection is over for the user once the body is: no "Disconnesso"
  # or "Disconnessione" while the body was still being read.
  printf '%s\n' "$texts" | sed -n '/^Download\.\.\.$/,/^Download completato\.$/p' |
    grep -qE '^ Disconness' && fail "disconnected in the middle of the body; LblMesg: $seen"
  pass "cut after 100000 bytes: row $(rows "$shown" | sed 's/.* 2=//')," \
    "\"Aggiornamento interrotto. Riprovare.\", the list kept ($took s); LblMesg: $seen"
}

status=0
for c in "${cases[@]}"; do
  declare -F "$c" >/dev/null || die "no case $c"
  started=$(now)
  (
    case_name=$c
    trap stop_agent EXIT
    "$c"
    # Chiudi; the process is ended if it does not go.
    if running; then
      click_control 110
      for _ in $(seq 50); do running || break; sleep 0.1; done
    fi
  ) || status=1
  echo "interleavings: $c took $(since "$started") s"
done
exit $status

#!/bin/bash
# The Windows agent as a user meets it, under Wine: a list of files served by
# a loopback HTTP server, the agent started, "Avvia Aggiornamento" clicked and
# the question answered with Return, then the files on disk checked. A second
# run fetches a file the server does not have and must keep the list.
#
# Usage: end_to_end.sh OVLiveUpdate.exe ovlu_testserver.py win_probe.exe
# Uses WINEPREFIX and DISPLAY when set; otherwise makes a prefix of its own
# and runs under xvfb-run. OVLU_WINE names the Wine loader (default: wine).
# Anything missing (Wine, the display, xdotool) makes the test fail.
set -u
wine=${OVLU_WINE:-wine}

agent_exe=$(readlink -f "$1")
server_py=$(readlink -f "$2")
inspect_exe=$(readlink -f "$3")
here=$(cd "$(dirname "$0")" && pwd)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

for tool in "$wine" wineserver xdotool python3 cmp timeout md5sum; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done

if [ -z "${DISPLAY:-}" ]; then
  command -v xvfb-run >/dev/null || fail "no display and no xvfb-run"
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$0" "$@"
fi

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
own_prefix=""
if [ -z "${WINEPREFIX:-}" ]; then
  own_prefix=$(mktemp -d /tmp/ovlu-e2e-prefix.XXXXXX)
  export WINEPREFIX=$own_prefix
  timeout 240 wineboot -i >/dev/null 2>&1 || fail "wineboot failed"
  timeout 60 "$wine" reg import "$here/wine-settings.reg" >/dev/null 2>&1 || fail "cannot set up the prefix"
fi

work=$(mktemp -d /tmp/ovlu-e2e.XXXXXX)
agent_pid=""
server_pid=""
holder_pid=""
cleanup() {
  [ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null
  [ -n "$holder_pid" ] && kill "$holder_pid" 2>/dev/null
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  exec 7>&- 2>/dev/null
  [ -n "${app_dir:-}" ] && rm -rf "$app_dir"
  [ -n "${data_dir:-}" ] && rm -rf "$data_dir"
  rm -rf "$work"
  if [ -n "$own_prefix" ]; then
    wineserver -k 2>/dev/null
    rm -rf "$own_prefix"
  fi
}
trap cleanup EXIT

# Wine's background processes keep the output handles of the program that
# started them: a holder with no output starts them, so that every "inspect"
# below returns as soon as it has printed.
"$wine" "$inspect_exe" hold "Z:$work/held" </dev/null >/dev/null 2>&1 &
holder_pid=$!
for _ in $(seq 240); do [ -f "$work/held" ] && break; sleep 0.25; done
[ -f "$work/held" ] || fail "Wine does not start programs"

# ---------------------------------------------------------------- server
mkdir -p "$work/served"
head -c 300000 /dev/urandom >"$work/served/Tabelle.dat"
head -c 400000 /dev/urandom >"$work/served/Grande.bin"
printf 'readme, new edition\r\n' >"$work/served/readme.txt"
mkfifo "$work/server.in"
python3 "$server_py" --root "$work/served" <"$work/server.in" >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
exec 7>"$work/server.in"  # the server runs while this stays open
port=""
for _ in $(seq 50); do
  port=$(sed -n 's/^PORT \([0-9]*\)$/\1/p' "$work/server.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || fail "the test server did not start: $(cat "$work/server.err")"
base="http://127.0.0.1:$port"

# ---------------------------------------------------------------- the agent's world
docs="$WINEPREFIX/drive_c/users/Public/Documents"
[ -d "$docs" ] || fail "no common documents folder in the prefix: $docs"
data_dir="$docs/Tessaro Software/OrVento 7"
rm -rf "$docs/Tessaro Software"
mkdir -p "$data_dir"
app_name="ovlu-e2e-$$"
app_dir="$WINEPREFIX/drive_c/$app_name"
mkdir -p "$app_dir"
cp "$agent_exe" "$app_dir/OVLiveUpdate.exe"
printf 'product' >"$app_dir/OrVento.exe"
printf 'readme, old edition\r\n' >"$app_dir/readme.txt"
printf 'table, old edition' >"$data_dir/Tabelle.dat"
printf 'stale backup' >"$data_dir/Tabelle.dat.old"
export OVLU_INSTANCE_NAME="e2e-$$"

inspect() { (cd "$work" && timeout 20 "$wine" "$inspect_exe" "$@" 2>/dev/null | tr -d '\r'); }

# Waits until the main window's controls match a pattern; prints them.
wait_window() {
  local pattern=$1 seconds=$2 out=""
  for _ in $(seq $((seconds * 4))); do
    out=$(inspect window)
    if printf '%s\n' "$out" | grep -qE "$pattern"; then
      printf '%s\n' "$out"
      return 0
    fi
    sleep 0.25
  done
  printf '%s\n' "$out" >"$work/last-window.txt"
  fail "window never showed /$pattern/ (last state in the log below)
$(cat "$work/last-window.txt")"
}

# Clicks the middle of a control (by its id) with the X pointer.
click_control() {
  local id=$1 rect
  rect=$(inspect window | sed -n "s/^control id=$id .* rect=\([-0-9,]*\) .*/\1/p" | head -1)
  [ -n "$rect" ] || fail "control $id not found"
  IFS=, read -r l t r b <<<"$rect"
  xdotool mousemove $(((l + r) / 2)) $(((t + b) / 2)) click 1
}

start_agent() {
  (cd "$app_dir" && exec "$wine" "C:\\$app_name\\OVLiveUpdate.exe") >"$work/agent.log" 2>&1 &
  agent_pid=$!
}

# Starts a run: click the button, answer the question with Return.
run_update() {
  click_control 109
  local dialog=""
  for _ in $(seq 40); do
    dialog=$(inspect dialog) && break
    sleep 0.25
  done
  printf '%s\n' "$dialog" | grep -q "text=Avviare l'aggiornamento di OrVento?" ||
    fail "no confirmation question: $dialog"
  xdotool key Return
}

close_agent() {
  click_control 110
  for _ in $(seq 40); do
    kill -0 "$agent_pid" 2>/dev/null || { agent_pid=""; return 0; }
    sleep 0.25
  done
  fail "the agent did not end after Chiudi"
}

expect_file() {  # path, expected content file or text
  [ -f "$1" ] || fail "missing $1"
  if [ -f "$2" ]; then cmp -s "$1" "$2" || fail "$1 differs from $2"
  else [ "$(cat "$1")" = "$2" ] || fail "$1 holds '$(cat "$1")', not '$2'"; fi
}

list_line() {  # action, file name (with its query), destination tag
  printf '<v-%s><s-%s/file/%s><%s>\r\n' "$1" "$base" "$2" "$3"
}

# The requests the server has answered so far, one "METHOD TARGET" a line.
served_requests() {
  python3 -c 'import sys, urllib.request; sys.stdout.write(urllib.request.urlopen(sys.argv[1], timeout=10).read().decode())' \
    "$base/__requests" | tr -d '\r' | grep -v '__requests'
}

# ---------------------------------------------------------------- run 1: everything arrives
{
  list_line N 'Grande.bin?rate=150000' 'APPPATH-\Grande.bin'
  list_line R Tabelle.dat 'ARCPATH-\Tabelle.dat'
  list_line N readme.txt 'APPPATH-\readme.txt'
} >"$data_dir/Updates.upd"

start_agent
ready=$(wait_window 'id=109 class=Button enabled=1 .*text=Avvia Aggiornamento' 30)
printf '%s\n' "$ready" | grep -q 'id=103 .*text=OV Live Update$' || fail "title is not 'OV Live Update'"
printf '%s\n' "$ready" | grep -q '^window .*text= OV Live Update$' || fail "window caption"
printf '%s\n' "$ready" | grep -q '^row=2 0=\[Archivio\] 1=\[R\] 2=\[\] ' || fail "row 2: $ready"
printf '%s\n' "$ready" | grep -q '^row=3 0=\[Accessorio\] 1=\[N\] 2=\[\] 3=\[C:\\'"$app_name"'\\readme.txt\]' ||
  fail "row 3: $ready"
manifest="$app_dir/OVLiveUpdate.exe.manifest"
[ -f "$manifest" ] || fail "no manifest beside the agent"
attrs=$(inspect attrib "C:\\$app_name\\OVLiveUpdate.exe.manifest")
[ "$attrs" = "39" ] || fail "manifest attributes are $attrs, not 39"
grep -q 'requireAdministrator' "$manifest" || fail "manifest text"
manifest_sum=$(md5sum <"$manifest")

# A second instance ends by itself and leaves the first one alone.
(cd "$app_dir" && timeout 30 "$wine" "C:\\$app_name\\OVLiveUpdate.exe" command line) >/dev/null 2>&1
second=$?
[ "$second" -eq 0 ] || fail "the second instance did not end cleanly ($second)"
kill -0 "$agent_pid" 2>/dev/null || fail "the first instance died with the second"
inspect window | grep -q 'id=103 .*text=OV Live Update$' || fail "the first instance changed"

run_update
# The first file arrives slowly: while it does, the window answers, shows
# the run under way, the row's percentage moving and, after a second, the
# expected time.
during=$(wait_window 'id=106 .*text=Tempo previsto: [0-9.,]+ sec$' 30)
printf '%s\n' "$during" | grep -qE '^row=1 .* 2=\[[1-9][0-9]?%\]' || fail "row 1 percentage: $during"
printf '%s\n' "$during" | grep -q 'id=110 .*text=&Annulla$' || fail "CmdChiudi during the run: $during"
# Reading the body, WinINet reports receiving as well.
printf '%s\n' "$during" | grep -qE 'id=102 .*text=(Download\.\.\.| Ricezione i dati\.)$' ||
  fail "LblMesg during the run: $during"
printf '%s\n' "$during" | grep -q '^row=1 .* selected=1$' || fail "row 1 not selected: $during"
done_state=$(wait_window 'id=107 .*text=Aggiornamento (completato|interrotto)' 60)
printf '%s\n' "$done_state" | grep -q 'id=107 .*text=Aggiornamento completato\.$' ||
  fail "run 1 did not complete: $done_state"
printf '%s\n' "$done_state" | grep -q 'id=102 .*text=Aggiornamento completato\.$' || fail "LblMesg"
printf '%s\n' "$done_state" | grep -q 'id=109 class=Button enabled=0 ' || fail "cmdGET still enabled"
printf '%s\n' "$done_state" | grep -q 'id=110 .*text=&Chiudi$' || fail "CmdChiudi caption"
[ "$(printf '%s\n' "$done_state" | grep -c '2=\[100%\] .* image=0 ')" -eq 3 ] ||
  fail "rows not at 100% with the check mark: $done_state"

expect_file "$app_dir/Grande.bin" "$work/served/Grande.bin"
expect_file "$data_dir/Tabelle.dat" "$work/served/Tabelle.dat"
expect_file "$data_dir/Tabelle.dat.old" 'table, old edition'
expect_file "$app_dir/readme.txt" "$work/served/readme.txt"
expect_file "$app_dir/readme.txt.old" "$(printf 'readme, old edition\r\n')"
[ ! -e "$data_dir/Updates.upd" ] || fail "the list was not deleted after a successful run"
leftovers=$(find "$app_dir" "$data_dir" -name '*.remove' -o -name '*.tmp' -o -name '*.tmp.old')
[ -z "$leftovers" ] || fail "temporary files left: $leftovers"
# Each file after a probe of its server's root, in list order.
requests=$(served_requests | tr '\n' ' ')
[ "$requests" = "GET / GET /file/Grande.bin?rate=150000 GET / GET /file/Tabelle.dat GET / GET /file/readme.txt " ] ||
  fail "requests of run 1: $requests"
close_agent
echo "run 1 passed: files in place with their .old copies, list deleted, manifest 39"

# ---------------------------------------------------------------- run 2: a file is missing
{
  list_line R Missing.dat 'ARCPATH-\Missing.dat'
  list_line N readme.txt 'APPPATH-\readme.txt'
} >"$data_dir/Updates.upd"
cp "$data_dir/Updates.upd" "$work/list2"

start_agent
wait_window 'id=109 class=Button enabled=1 ' 30 >/dev/null
run_update
failed_state=$(wait_window 'id=107 .*text=Aggiornamento (completato|interrotto)' 60)
printf '%s\n' "$failed_state" | grep -q 'id=107 .*text=Aggiornamento interrotto\. Riprovare\.$' ||
  fail "run 2 did not report the failure: $failed_state"
printf '%s\n' "$failed_state" | grep -q 'id=109 class=Button enabled=1 ' || fail "cmdGET disabled"
printf '%s\n' "$failed_state" | grep '^row=1 ' | grep -q 'image=-2' || fail "row 1 got a check mark"
printf '%s\n' "$failed_state" | grep '^row=1 ' | grep -vq '2=\[100%\]' || fail "row 1 reads 100%"
printf '%s\n' "$failed_state" | grep '^row=2 ' | grep -q '2=\[100%\] .*image=0 ' ||
  fail "row 2 was not applied"
expect_file "$data_dir/Updates.upd" "$work/list2"
[ ! -e "$data_dir/Missing.dat" ] && [ ! -e "$data_dir/Missing.dat.tmp.remove" ] ||
  fail "a file was written for the missing download"
[ "$(md5sum <"$manifest")" = "$manifest_sum" ] || fail "the manifest was rewritten"
close_agent
echo "run 2 passed: the failed download kept the list"
echo "PASS"

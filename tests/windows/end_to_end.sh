#!/bin/bash
# The Windows agent as a user meets it, under Wine: a list of files served by
# a loopback HTTP server, the agent started, "Avvia Aggiornamento" clicked and
# the question answered with Return, then the files on disk checked. A second
# run, started in the same folder with the manifest that the first start
# wrote now beside the agent, fetches a file the server does not have and
# must keep the list. The second start is where a program whose processor
# does not match the manifest's fails to load the common controls and shows
# no window.
#
# Usage: end_to_end.sh OVLiveUpdate.exe ovlu_testserver.py win_probe.exe
# Run by scripts/windows-test.sh, which provides WINEPREFIX, DISPLAY and the
# program that holds the Wine session. OVLU_WINE names the Wine loader.
set -u
wine=${OVLU_WINE:-wine}
agent_exe=$(readlink -f "$1")
server_py=$(readlink -f "$2")
inspect_exe=$(readlink -f "$3")

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
for tool in "$wine" xdotool python3 cmp timeout; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done
[ -n "${WINEPREFIX:-}" ] && [ -n "${DISPLAY:-}" ] || fail "needs WINEPREFIX and DISPLAY"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

work=$(mktemp -d /tmp/ovlu-e2e.XXXXXX)
agent_pid="" server_pid=""
cleanup() {
  [ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  exec 7>&- 2>/dev/null
  rm -rf "$work" "${app_dir:-}" "${data_dir:-}"
}
trap cleanup EXIT
. "$(dirname "$0")/e2e-lib.sh"

# ---------------------------------------------------------------- server
e2e_release
e2e_start_server "$work/served"

# ---------------------------------------------------------------- the agent's world
e2e_machine "ovlue2e$$"
e2e_old_editions

# ---------------------------------------------------------------- run 1: everything arrives
{
  list_line N 'Grande.bin?rate=150000' 'APPPATH-\Grande.bin'
  list_line R Tabelle.dat 'ARCPATH-\Tabelle.dat'
  list_line N readme.txt 'APPPATH-\readme.txt'
} >"$data_dir/Updates.upd"

start_run
has "$ready" '^row=2 0=\[Archivio\] 1=\[R\] 2=\[\] ' "row 2 at start-up"
has "$ready" '^row=3 0=\[Accessorio\] 1=\[N\] 2=\[\] 3=\[C:\\'"$app_name"'\\readme.txt\]' "row 3"
# The first file arrives slowly: meanwhile the window answers, with the
# row's percentage moving and, after a second, the expected time.
during=$(wait_for window 'id=106 .*text=Tempo previsto: [0-9.,]+ sec$' 30) || exit 1
has "$during" '^row=1 .* 2=\[[1-9][0-9]?%\]' "row 1 percentage"
done_state=$(wait_for window 'id=107 .*text=Aggiornamento (completato|interrotto)' 60) || exit 1
has "$done_state" 'id=107 .*text=Aggiornamento completato\.$' "run 1 did not complete"
[ "$(printf '%s\n' "$done_state" | grep -c '2=\[100%\] .* image=0$')" -eq 3 ] ||
  fail "rows not at 100% with the check mark: $done_state"
expect_file "$app_dir/Grande.bin" "$work/served/Grande.bin"
expect_file "$data_dir/Tabelle.dat" "$work/served/Tabelle.dat"
expect_file "$data_dir/Tabelle.dat.old" 'table, old edition'
expect_file "$app_dir/readme.txt" "$work/served/readme.txt"
expect_file "$app_dir/readme.txt.old" "$(printf 'readme, old edition\r\n')"
[ ! -e "$data_dir/Updates.upd" ] || fail "the list was not deleted after a successful run"
leftovers=$(find "$app_dir" "$data_dir" -name '*.remove' -o -name '*.tmp' -o -name '*.tmp.old')
[ -z "$leftovers" ] || fail "temporary files left: $leftovers"
# The start-up wrote the manifest beside the agent, hidden and read-only.
manifest="$app_dir/OVLiveUpdate.exe.manifest"
grep -q 'requireAdministrator' "$manifest" || fail "no manifest beside the agent"
attrs=$(inspect attrib "C:\\$app_name\\OVLiveUpdate.exe.manifest")
[ "$attrs" = "39" ] || fail "manifest attributes are $attrs, not 39"
close_agent
echo "run 1 passed: files in place with their .old copies, list deleted, manifest 39"

# ---------------------------------------------------------------- run 2: a file is missing
[ -f "$manifest" ] || fail "the manifest is gone before the second start"
{
  list_line R Missing.dat 'ARCPATH-\Missing.dat'
  list_line N readme.txt 'APPPATH-\readme.txt'
} >"$data_dir/Updates.upd"
cp "$data_dir/Updates.upd" "$work/list2"
start_run
failed=$(wait_for window 'id=107 .*text=Aggiornamento (completato|interrotto)' 60) || exit 1
has "$failed" 'id=107 .*text=Aggiornamento interrotto\. Riprovare\.$' "run 2 did not fail"
has "$failed" '^row=1 .* 2=\[[0-9]?[0-9]?%?\] .* image=-2$' "row 1 applied"
has "$failed" '^row=2 .* 2=\[100%\] .* image=0$' "row 2 not applied"
expect_file "$data_dir/Updates.upd" "$work/list2"
[ ! -e "$data_dir/Missing.dat" ] && [ ! -e "$data_dir/Missing.dat.tmp.remove" ] ||
  fail "a file was written for the missing download"
close_agent
echo "run 2 passed: the failed download kept the list"
echo "PASS"

#!/bin/bash
# Signed files through the Windows agent under Wine, with the system's own
# cryptography: a publisher key (PublisherKey.pem) beside the agent and a
# .sig beside every served file, the run clicked as a user does. The first
# run applies every file with its .old copy. The second is served other
# bytes than were signed for its last file: that row reads "Firma non
# valida", nothing in place changes and the list stays. The third, without
# the key file, runs the first list unsigned and succeeds.
#
# Usage: end_to_end_signed.sh OVLiveUpdate.exe ovlu_testserver.py win_probe.exe
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
for tool in "$wine" xdotool python3 cmp timeout openssl; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done
[ -n "${WINEPREFIX:-}" ] && [ -n "${DISPLAY:-}" ] || fail "needs WINEPREFIX and DISPLAY"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

work=$(mktemp -d /tmp/ovlu-e2e-signed.XXXXXX)
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
openssl ecparam -name prime256v1 -genkey -noout -out "$work/publisher.key" 2>/dev/null
openssl ec -in "$work/publisher.key" -pubout -out "$work/PublisherKey.pem" 2>/dev/null
for f in Tabelle.dat Grande.bin readme.txt; do
  openssl dgst -sha256 -sign "$work/publisher.key" -out "$work/served/$f.sig" "$work/served/$f"
done
e2e_start_server "$work/served" --log "$work/requests.log"

# ---------------------------------------------------------------- the agent's world
e2e_machine "ovlusigned$$"
e2e_old_editions

# ---------------------------------------------------------------- run 1: signed and whole
cp "$work/PublisherKey.pem" "$app_dir/PublisherKey.pem"
{
  list_line N Grande.bin 'APPPATH-\Grande.bin'
  list_line R Tabelle.dat 'ARCPATH-\Tabelle.dat'
  list_line N readme.txt 'APPPATH-\readme.txt'
} >"$data_dir/Updates.upd"
cp "$data_dir/Updates.upd" "$work/list1"
start_run
done_state=$(wait_for window 'id=107 .*text=Aggiornamento (completato|interrotto)' 60) || exit 1
has "$done_state" 'id=107 .*text=Aggiornamento completato\.$' "signed run 1 did not complete"
[ "$(printf '%s\n' "$done_state" | grep -c '2=\[100%\] .* image=0$')" -eq 3 ] ||
  fail "rows not at 100% with the check mark: $done_state"
expect_file "$app_dir/Grande.bin" "$work/served/Grande.bin"
expect_file "$data_dir/Tabelle.dat" "$work/served/Tabelle.dat"
expect_file "$data_dir/Tabelle.dat.old" 'table, old edition'
expect_file "$app_dir/readme.txt" "$work/served/readme.txt"
expect_file "$app_dir/readme.txt.old" "$(printf 'readme, old edition\r\n')"
[ ! -e "$data_dir/Updates.upd" ] || fail "the list was not deleted after a signed run"
[ "$(grep -c '\.sig$' "$work/requests.log")" -eq 3 ] || fail "not one .sig request per file"
close_agent
echo "run 1 passed: signed files in place with their .old copies, list deleted"

# ---------------------------------------------------------------- run 2: other bytes than signed
cp "$work/served/readme.txt" "$work/readme.signed"
printf 'readme, tampered\r\n' >"$work/served/readme.txt"
{
  list_line N Grande.bin 'APPPATH-\Grande.bin'
  list_line N readme.txt 'APPPATH-\readme.txt'
} >"$data_dir/Updates.upd"
cp "$data_dir/Updates.upd" "$work/list2"
before=$(cd "$app_dir" && sha256sum Grande.bin Grande.bin.old readme.txt readme.txt.old 2>/dev/null)
start_run
failed=$(wait_for window 'id=107 .*text=Aggiornamento (completato|interrotto)' 60) || exit 1
has "$failed" 'id=107 .*text=Aggiornamento interrotto\. Riprovare\.$' "run 2 did not fail"
has "$failed" '^row=2 .* 2=\[Firma non valida\] .* image=-2$' "row 2 not refused"
expect_file "$data_dir/Updates.upd" "$work/list2"
after=$(cd "$app_dir" && sha256sum Grande.bin Grande.bin.old readme.txt readme.txt.old 2>/dev/null)
[ "$before" = "$after" ] || fail "files in place changed after a refused file"
[ ! -e "$app_dir/readme.txt.remove" ] || fail "the refused file was kept"
close_agent
echo "run 2 passed: the file with other bytes was refused, nothing in place changed"

# ---------------------------------------------------------------- run 3: no key, unsigned
rm "$app_dir/PublisherKey.pem"
cp "$work/readme.signed" "$work/served/readme.txt"
rm -f "$work/served/"*.sig
cp "$work/list1" "$data_dir/Updates.upd"
start_run
done_state=$(wait_for window 'id=107 .*text=Aggiornamento (completato|interrotto)' 60) || exit 1
has "$done_state" 'id=107 .*text=Aggiornamento completato\.$' "run 3 without a key did not complete"
expect_file "$app_dir/readme.txt" "$work/served/readme.txt"
[ ! -e "$data_dir/Updates.upd" ] || fail "the list was not deleted after the unsigned run"
close_agent
echo "run 3 passed: without the key the same list succeeded unsigned"
echo "PASS"

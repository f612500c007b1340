#!/bin/bash
# Drives the real Linux window the way a person does: the agent is started
# on a machine laid out in a temporary folder, the "Avvia Aggiornamento"
# button is clicked with the mouse, the question is answered with Return,
# the files are checked on disk and the window is closed with "Chiudi".
# A second start runs a list with a file the server does not have: nothing
# is put in place and the list stays for another run. A third one starts a
# program the list names, which ends the agent out of sight once the run
# has put the files in place and deleted the list.
# The files are served by the test server CTest started; OVLU_TEST_SERVER
# names the file with its address (tests/server/ovlu_testserver.py --start).
# Usage: acceptance.sh PATH/TO/OVLiveUpdate
set -euo pipefail
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$@"
agent=$1
served() { sed -n "s/^$1=//p" "${OVLU_TEST_SERVER:?needs the test server}"; }
here=$(cd "$(dirname "$0")" && pwd)

root=$(mktemp -d /tmp/ovluaccept.XXXXXX)
www="$(served OVLU_TEST_ROOT)/${root##*/}"
url="$(served OVLU_TEST_HTTP)/file/${root##*/}"
data="$root/public/Documents/Tessaro Software/OrVento 7"
product="$root/OrVento 7"
mkdir -p "$data" "$product" "$www" "$root/windows/system32" "$root/Dati"
agent_pid=""
cleanup() {
  [ -z "$agent_pid" ] || kill "$agent_pid" 2>/dev/null || true
  rm -rf "$root" "$www"
}
trap cleanup EXIT
fail() { echo "acceptance: $*" >&2; exit 1; }

cp "$agent" "$product/OVLiveUpdate"
printf 'OrVento 7.0\n' >"$product/OrVento.exe"
printf 'vecchio listino\n' >"$root/Dati/Listino.dat"
head -c 400000 /dev/urandom >"$www/OrVento.exe"
head -c 120000 /dev/urandom >"$www/Listino.dat"

printf '<v-R><s-%s/OrVento.exe?rate=400000><APPPATH-\\OrVento.exe>\r\n<v-><s-%s/Listino.dat><%s\\Listino.dat>\r\n' \
  "$url" "$url" "$root/Dati" >"$data/Updates.upd"


. "$here/../../../scripts/window-clicks.sh"
ovlu_start_agent
ovlu_start_run

for _ in $(seq 600); do
  [ -e "$data/Updates.upd" ] || break
  kill -0 "$agent_pid" 2>/dev/null || fail "the agent ended during the run"
  sleep 0.1
done
[ ! -e "$data/Updates.upd" ] || fail "the list is still there after 60 s"
cmp -s "$www/OrVento.exe" "$product/OrVento.exe" || fail "OrVento.exe was not updated"
[ "$(cat "$product/OrVento.exe.old")" = "OrVento 7.0" ] || fail "no .old copy of OrVento.exe"
[ ! -e "$product/OrVento.exe.tmp" ] || fail "the .tmp stage is left over"
cmp -s "$www/Listino.dat" "$root/Dati/Listino.dat" || fail "Listino.dat was not updated"
[ "$(cat "$root/Dati/Listino.dat.old")" = "vecchio listino" ] || fail "no .old copy of Listino.dat"

ovlu_close_agent

head -c 50000 /dev/urandom >"$www/Nuovo.dat"
printf '<v-><s-%s/Nuovo.dat><%s\\Nuovo.dat>\r\n<v-><s-%s/Manca.dat><%s\\Listino.dat>\r\n' \
  "$url" "$root/Dati" "$url" "$root/Dati" >"$data/Updates.upd"
ovlu_start_agent
ovlu_start_run
for _ in $(seq 300); do
  cmp -s "$www/Nuovo.dat" "$root/Dati/Nuovo.dat.remove" && break
  kill -0 "$agent_pid" 2>/dev/null || fail "the agent ended during the failing run"
  sleep 0.1
done
cmp -s "$www/Nuovo.dat" "$root/Dati/Nuovo.dat.remove" || fail "Nuovo.dat was not received"
sleep 1  # the outcome follows the last request
[ -e "$data/Updates.upd" ] || fail "a failed run deleted the list"
[ ! -e "$root/Dati/Nuovo.dat" ] || fail "a failed run put files in place"
cmp -s "$www/Listino.dat" "$root/Dati/Listino.dat" || fail "a failed file replaced Listino.dat"
ovlu_close_agent

log="$root/avvia.log"
printf '#!/bin/sh\necho "ran in $(pwd)" > '"'"'%s'"'"'\n' "$log" >"$www/Avvia.sh"
printf 'Novit\340\r\n' >"$www/Leggimi.txt"
printf '<v-E><s-%s/Avvia.sh><APPPATH-\\Avvia.sh>\r\n<v-><s-%s/Leggimi.txt><APPPATH-\\Leggimi.txt>\r\n' \
  "$url" "$url" >"$data/Updates.upd"
ovlu_start_agent
ovlu_start_run
timeout 60 tail --pid="$agent_pid" -f /dev/null || fail "the agent did not end after the run"
wait "$agent_pid" || fail "the agent that started a program ended with status $?"
agent_pid=""
[ ! -e "$data/Updates.upd" ] || fail "the list is still there after the started program's run"
cmp -s "$www/Leggimi.txt" "$product/Leggimi.txt" || fail "the row after the program was not applied"
for _ in $(seq 50); do [ -s "$log" ] && break; sleep 0.1; done
[ "$(cat "$log" 2>/dev/null)" = "ran in $product" ] || fail "Avvia.sh did not run in the product's folder"
echo "acceptance: passed"

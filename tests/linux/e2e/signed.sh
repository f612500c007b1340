#!/bin/bash
# Signed files through the real Linux window, clicked as a person does. A
# publisher key lies beside the agent and every served file has its .sig:
# the first start applies them all with their .old copies. The second
# serves other bytes than were signed for the last file: that row is
# refused, nothing in place changes and the list stays. The third start,
# without the key file, runs the same list unsigned and asks for no .sig.
# The files are served by the test server CTest started; OVLU_TEST_SERVER
# names the file with its address (tests/server/ovlu_testserver.py --start).
# Usage: signed.sh PATH/TO/OVLiveUpdate
set -euo pipefail
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$@"
agent=$1
served() { sed -n "s/^$1=//p" "${OVLU_TEST_SERVER:?needs the test server}"; }
here=$(cd "$(dirname "$0")" && pwd)

root=$(mktemp -d /tmp/ovlusigned.XXXXXX)
name=${root##*/}
www="$(served OVLU_TEST_ROOT)/$name"
url="$(served OVLU_TEST_HTTP)/file/$name"
requests=$(served OVLU_TEST_LOG)
data="$root/public/Documents/Tessaro Software/OrVento 7"
product="$root/OrVento 7"
mkdir -p "$data" "$product" "$www" "$root/windows/system32" "$root/Dati"
agent_pid=""
cleanup() {
  [ -z "$agent_pid" ] || kill "$agent_pid" 2>/dev/null || true
  rm -rf "$root" "$www"
}
trap cleanup EXIT
fail() { echo "signed: $*" >&2; exit 1; }

cp "$agent" "$product/OVLiveUpdate"
printf 'OrVento 7.0\n' >"$product/OrVento.exe"
printf 'vecchio listino\n' >"$root/Dati/Listino.dat"
head -c 400000 /dev/urandom >"$www/OrVento.exe"
head -c 120000 /dev/urandom >"$www/Listino.dat"
openssl ecparam -name prime256v1 -genkey -noout -out "$root/publisher.key" 2>/dev/null
openssl ec -in "$root/publisher.key" -pubout -out "$product/PublisherKey.pem" 2>/dev/null
for f in OrVento.exe Listino.dat; do
  openssl dgst -sha256 -sign "$root/publisher.key" -out "$www/$f.sig" "$www/$f"
done
list() {
  printf '<v-R><s-%s/OrVento.exe><APPPATH-\\OrVento.exe>\r\n<v-><s-%s/Listino.dat><%s\\Listino.dat>\r\n' \
    "$url" "$url" "$root/Dati" >"$data/Updates.upd"
}
# The requests for this test's signatures so far.
sig_requests() { grep -c "^GET /file/$name/.*\.sig" "$requests" || true; }

wait_for_list_gone() {
  for _ in $(seq 600); do
    [ -e "$data/Updates.upd" ] || return 0
    kill -0 "$agent_pid" 2>/dev/null || fail "the agent ended during the run"
    sleep 0.1
  done
  fail "the list is still there after 60 s"
}

. "$here/../../../scripts/window-clicks.sh"

# 1. Signed and whole: everything is applied.
list
ovlu_start_agent
ovlu_start_run
wait_for_list_gone
cmp -s "$www/OrVento.exe" "$product/OrVento.exe" || fail "OrVento.exe was not updated"
[ "$(cat "$product/OrVento.exe.old")" = "OrVento 7.0" ] || fail "no .old copy of OrVento.exe"
cmp -s "$www/Listino.dat" "$root/Dati/Listino.dat" || fail "Listino.dat was not updated"
[ "$(cat "$root/Dati/Listino.dat.old")" = "vecchio listino" ] || fail "no .old copy of Listino.dat"
[ "$(sig_requests)" = 2 ] || fail "expected a .sig request per file, saw $(sig_requests)"
ovlu_close_agent

# 2. The server hands out other bytes than were signed for the last file.
before_exe=$(sha256sum <"$product/OrVento.exe")
before_dat=$(sha256sum <"$root/Dati/Listino.dat")
cp "$www/Listino.dat" "$root/Listino.signed"
head -c 120000 /dev/urandom >"$www/Listino.dat"
list
ovlu_start_agent
ovlu_start_run
for _ in $(seq 300); do
  [ "$(sig_requests)" = 4 ] && break
  kill -0 "$agent_pid" 2>/dev/null || fail "the agent ended during the refused run"
  sleep 0.1
done
[ "$(sig_requests)" = 4 ] || fail "the last file's signature was not asked for"
sleep 1  # the verdict and the outcome follow the last request
[ -e "$data/Updates.upd" ] || fail "a refused file let the list be deleted"
[ "$(sha256sum <"$product/OrVento.exe")" = "$before_exe" ] || fail "OrVento.exe changed"
[ "$(sha256sum <"$root/Dati/Listino.dat")" = "$before_dat" ] || fail "Listino.dat changed"
[ ! -e "$root/Dati/Listino.dat.remove" ] || fail "the refused file was kept"
ovlu_close_agent

# 3. No key file: the same list runs unsigned and asks for no signature.
rm "$product/PublisherKey.pem"
cp "$root/Listino.signed" "$www/Listino.dat"
printf 'OrVento 7.0\n' >"$product/OrVento.exe"
rm -f "$product/OrVento.exe.old"
list
ovlu_start_agent
ovlu_start_run
wait_for_list_gone
cmp -s "$www/OrVento.exe" "$product/OrVento.exe" || fail "OrVento.exe was not updated unsigned"
cmp -s "$www/Listino.dat" "$root/Dati/Listino.dat" || fail "Listino.dat was not updated unsigned"
[ "$(sig_requests)" = 4 ] || fail "a run without a key asked for a signature"
ovlu_close_agent
echo "signed: passed"

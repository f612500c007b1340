#!/bin/bash
# The Debian package as a user gets it: installed with apt-get from the file,
# the installed /usr/bin/OVLiveUpdate updates a file from the test server on
# 127.0.0.1 through its real window (the button clicked with the mouse, the
# question answered, the window closed with "Chiudi"), the installed
# ovlu-list answers --version and --help and reads the same list; then the
# package is removed and purged, and nothing of it is left.
# Runs as root on a machine where ovliveupdate is not installed; the agent
# is pointed at a temporary tree through its environment, so it touches
# nothing else (except its manifest beside /usr/bin/OVLiveUpdate, which the
# package's removal must take away).
# Usage: tests/package/installed.sh build/dist/ovliveupdate_VERSION_amd64.deb
set -euo pipefail
# A private display, so that the window never lands on the desktop.
if [ -z "${OVLU_PACKAGE_TEST_DISPLAY:-}" ]; then
  export OVLU_PACKAGE_TEST_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$@"
fi
deb=$(realpath "${1:?usage: installed.sh PACKAGE.deb}")
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
name=ovliveupdate
version=$(dpkg-deb -f "$deb" Version)
fail() { echo "package test: $*" >&2; exit 1; }
installed() { dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'ok installed'; }
apt() { DEBIAN_FRONTEND=noninteractive DEBCONF_NOWARNINGS=yes apt-get -y -q -o DPkg::Lock::Timeout=120 "$@" >/dev/null; }

[ "$(id -u)" = 0 ] || fail "needs root: it installs and removes $name"
! installed || fail "$name is installed already; remove it first (this test purges it)"

root=$(mktemp -d /tmp/ovlupkg.XXXXXX)
state=$root/server.env
agent_pid=""
cleanup() {
  [ -z "$agent_pid" ] || kill "$agent_pid" 2>/dev/null || true
  [ ! -e "$state" ] || python3 "$repo/tests/server/ovlu_testserver.py" --stop "$state" || true
  ! installed || apt purge "$name" || true
  rm -rf "$root"
}
trap cleanup EXIT

apt install "$deb" || fail "apt-get install $deb failed"
installed || fail "$name is not installed after apt-get install"
files=$(dpkg -L "$name")
for f in /usr/bin/OVLiveUpdate /usr/bin/ovlu-list /usr/share/applications/$name.desktop \
  /usr/share/icons/hicolor/{16x16,32x32,48x48}/apps/$name.png \
  /usr/share/man/man1/{OVLiveUpdate,ovlu-list}.1.gz \
  /usr/share/doc/$name/{copyright,changelog.gz,list-authors.md}; do
  if ! grep -qx "$f" <<<"$files" || [ ! -s "$f" ]; then fail "$f is not installed"; fi
done
[ "$(command -v OVLiveUpdate)" = /usr/bin/OVLiveUpdate ] || fail "OVLiveUpdate is not on the PATH"

# The machine the agent sees: the data folder under $PUBLIC with the list,
# drive C: through the drive links folder, the files on the test server.
mkdir -p "$root/www" "$root/home" "$root/c/Dati" "$root/config/OVLiveUpdate/dosdevices"
data="$root/public/Documents/Tessaro Software/OrVento 7"
mkdir -p "$data"
ln -s "$root/c" "$root/config/OVLiveUpdate/dosdevices/c:"
printf 'vecchio listino\n' >"$root/c/Dati/Listino.dat"
head -c 300000 /dev/urandom >"$root/www/Listino.dat"
python3 "$repo/tests/server/ovlu_testserver.py" --root "$root/www" --start "$state"
url=$(sed -n 's/^OVLU_TEST_HTTP=//p' "$state")/file
printf '<v-><s-%s/Listino.dat?rate=1000000><C:\\Dati\\Listino.dat>\r\n' "$url" >"$data/Updates.upd"
export PUBLIC="$root/public" XDG_CONFIG_HOME="$root/config" HOME="$root/home"
export OVLU_INSTANCE_LOCK="$root/lock" XDG_RUNTIME_DIR="$root/run"
mkdir -m 700 "$root/run"

# ovlu-list is on the PATH, knows the package's version and reads the list
# where the agent will.
out=$(ovlu-list --version) || fail "ovlu-list --version failed"
[ "$out" = "ovlu-list (OV Live Update) $version" ] || fail "ovlu-list --version says: $out"
out=$(ovlu-list --help) || fail "ovlu-list --help failed"
[[ $out == "usage: ovlu-list "* ]] || fail "ovlu-list --help says: ${out%%$'\n'*}"
out=$(ovlu-list 2>/dev/null) || fail "ovlu-list did not read the list in the data folder"
[[ $out == *'"destination":"C:\\Dati\\Listino.dat"'* ]] || fail "ovlu-list read: $out"

# The installed agent, started by name as the menu entry does.
(cd "$root/home" && exec OVLiveUpdate) &
agent_pid=$!
# shellcheck source=scripts/window-clicks.sh
. "$repo/scripts/window-clicks.sh"
ovlu_start_run
for _ in $(seq 300); do
  cmp -s "$root/www/Listino.dat" "$root/c/Dati/Listino.dat" && break
  kill -0 "$agent_pid" 2>/dev/null || fail "the agent ended during the run"
  sleep 0.1
done
cmp -s "$root/www/Listino.dat" "$root/c/Dati/Listino.dat" || fail "Listino.dat was not updated"
[ "$(cat "$root/c/Dati/Listino.dat.old")" = "vecchio listino" ] || fail "no .old copy of Listino.dat"
# Once the run is over "Chiudi" closes at once; during a run it would ask.
sleep 1
ovlu_click_chiudi
timeout 10 tail --pid="$agent_pid" -f /dev/null || fail "Chiudi did not end the agent"
wait "$agent_pid" || fail "the agent ended with status $?"
agent_pid=""
# The list's fate is not checked: the product check looks for OrVento.exe
# beside the agent, in /usr/bin, and without it the run ends as interrupted
# once this file is in place (OVLiveUpdate(1), FILES).
# Root may write beside the program, so the agent left its manifest there.
[ -f /usr/bin/OVLiveUpdate.exe.manifest ] || fail "the agent wrote no manifest beside itself"

apt remove "$name" || fail "apt-get remove failed"
for f in $files /usr/bin/OVLiveUpdate.exe.manifest; do
  [ -d "$f" ] || [ ! -e "$f" ] || fail "$f is left after the removal"
done
apt purge "$name" || fail "apt-get purge failed"
left=$(dpkg -L "$name" 2>/dev/null || true)
[ -z "$left" ] || fail "dpkg -L $name still lists: $left"
! dpkg-query -W -f='${Status}' "$name" >/dev/null 2>&1 || fail "dpkg still knows $name"
echo "package test: passed ($name $version)"

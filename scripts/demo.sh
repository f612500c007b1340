#!/bin/bash
# Runs the agent on a built-in demo: nginx on 127.0.0.1 serves a few files at
# a modest rate, a demo update list is written into a temporary data folder,
# and the real window opens on this display for a person to use.
#   scripts/demo.sh                    the window on $DISPLAY
#   scripts/demo.sh --auto             on a private Xvfb, driven as a person
#                                      would: the button, Yes, then Chiudi
#   scripts/demo.sh --screenshot OUT.png   --auto, saving a picture of the
#                                      window during the download as OUT.png
#                                      and after it as OUT-done.png
#   scripts/demo.sh --signed [...]     the same with signed files: a fresh
#                                      publisher key beside the agent, a .sig
#                                      beside every file, and one signature
#                                      made with another key. That row reads
#                                      "Firma non valida", its file is not
#                                      put in place, the others are applied
#                                      and the list stays for another try.
# Without a display the demo runs as --auto.
#
# The temporary tree, printed at the start, stands in for a Windows machine:
#   public/Documents/Tessaro Software/OrVento 7/Updates.upd   the list
#   OrVento 7/              the product's folder: OVLiveUpdate and OrVento.exe
#   windows/system32/regsvr32.exe   records what it is asked to register
#   Dati/                   the destination of a record with a plain path
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
shot=""
auto=0
signed=0
if [ "${1:-}" = --signed ]; then
  signed=1
  shift
fi
case "${1:-}" in
  --auto) auto=1 ;;
  --screenshot) auto=1; shot=$(realpath -m "${2:?--screenshot needs a file name}") ;;
  "") [ -n "${DISPLAY:-}" ] || auto=1 ;;
  *) echo "usage: scripts/demo.sh [--signed] [--auto | --screenshot OUT.png]" >&2; exit 2 ;;
esac

sh "$repo/scripts/setup.sh"
build=$repo/build/linux
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DOVLU_SANITIZE=ON >/dev/null
cmake --build "$build" -j "${OVLU_JOBS:-2}" --target OVLiveUpdate

demo=$(mktemp -d /tmp/ovludemo.XXXXXX)
echo "demo folder: $demo"
data="$demo/public/Documents/Tessaro Software/OrVento 7"
product="$demo/OrVento 7"
mkdir -p "$data" "$product" "$demo/windows/system32" "$demo/Dati" "$demo/www/upd" "$demo/nginx"

# What is in place before the update.
printf 'OrVento 7.0\n' >"$product/OrVento.exe"
chmod +x "$product/OrVento.exe"
printf 'tabelle vecchie\n' >"$demo/Dati/Tabelle.dat"
cp "$build/bin/OVLiveUpdate" "$product/"
cat >"$demo/windows/system32/regsvr32.exe" <<REG
#!/bin/sh
echo "\$*" >>"$demo/regsvr32.log"
REG
chmod +x "$demo/windows/system32/regsvr32.exe"

# What the server publishes: big enough to watch the bar move.
head -c 6000000 /dev/urandom >"$demo/www/upd/OrVento.exe"
head -c 2500000 /dev/urandom >"$demo/www/upd/Motore.ocx"
head -c 3000000 /dev/urandom >"$demo/www/upd/Tabelle.dat"
printf 'Novità di OrVento 7.1\r\n' | iconv -f UTF-8 -t CP1252 >"$demo/www/upd/Leggimi.txt"

if [ "$signed" = 1 ]; then
  # The publisher's key pair; the public half ships beside the agent.
  openssl ecparam -name prime256v1 -genkey -noout -out "$demo/publisher.key" 2>/dev/null
  openssl ec -in "$demo/publisher.key" -pubout -out "$product/PublisherKey.pem" 2>/dev/null
  # Someone else's key, for the one file whose signature is wrong.
  openssl ecparam -name prime256v1 -genkey -noout -out "$demo/intruder.key" 2>/dev/null
  for f in "$demo/www/upd/"*; do
    key=$demo/publisher.key
    [ "$(basename "$f")" != Tabelle.dat ] || key=$demo/intruder.key
    openssl dgst -sha256 -sign "$key" -out "$f.sig" "$f"
  done
  echo "demo: signed files; Tabelle.dat carries a signature by another key"
fi

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
# As root, nginx's worker would run as an unprivileged user who cannot read
# the private demo folder; it runs as whoever runs the demo.
user_line=""
[ "$(id -u)" != 0 ] || user_line="user $(id -un);"
cat >"$demo/nginx/nginx.conf" <<CONF
daemon off;
$user_line
worker_processes 1;
pid $demo/nginx/nginx.pid;
error_log $demo/nginx/error.log;
events { worker_connections 64; }
http {
  access_log $demo/nginx/access.log;
  client_body_temp_path $demo/nginx/body;
  proxy_temp_path $demo/nginx/proxy;
  fastcgi_temp_path $demo/nginx/fastcgi;
  uwsgi_temp_path $demo/nginx/uwsgi;
  scgi_temp_path $demo/nginx/scgi;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port;
    root $demo/www;
    limit_rate 1m;
  }
}
CONF
/usr/sbin/nginx -p "$demo/nginx" -c "$demo/nginx/nginx.conf" &
nginx_pid=$!
xvfb_pid=""
cleanup() {
  kill "$nginx_pid" 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT INT TERM

url="http://127.0.0.1:$port/upd"
# Records: an "R" record for the product's program, an "S" record for a
# component, a plain path, and a placeholder with no action.
{
  printf '<v-R><s-%s/OrVento.exe><APPPATH-\\OrVento.exe>\r\n' "$url"
  printf '<v-S><s-%s/Motore.ocx><S32PATH-\\Motore.ocx>\r\n' "$url"
  printf '<v-><s-%s/Tabelle.dat><%s\\Tabelle.dat>\r\n' "$url" "$demo/Dati"
  printf '<v-><s-%s/Leggimi.txt><ARCPATH-\\Leggimi.txt>\r\n' "$url"
} >"$data/Updates.upd"

export PUBLIC="$demo/public" windir="$demo/windows" SystemDrive="$demo"
export OVLU_INSTANCE_LOCK="$demo/instance.lock"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}

report() {
  echo "--- after the run ---"
  ls -l "$product" "$demo/Dati" "$demo/windows/system32" "$data"
  if [ -f "$demo/regsvr32.log" ]; then echo "regsvr32 was called with: $(cat "$demo/regsvr32.log")"; fi
}

cd "$product"
if [ "$auto" = 0 ]; then
  echo 'Click "Avvia Aggiornamento", answer Yes, and watch the files arrive.'
  ./OVLiveUpdate || true
  report
  exit 0
fi

# A private display, numbered by the server itself.
exec 5< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
read -r -t 20 display <&5 || { echo "demo: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display"

./OVLiveUpdate &
app=$!
fail() {
  echo "demo: $*" >&2
  kill "$app" 2>/dev/null || true
  exit 1
}
. "$repo/scripts/window-clicks.sh"
ovlu_start_run
echo "demo: the run has started"
if [ -n "$shot" ]; then
  sleep 3
  import -window "$win" "$shot"
  echo "screenshot during the download: $shot"
fi
if [ "$signed" = 0 ]; then
  for _ in $(seq 1200); do
    [ -e "$data/Updates.upd" ] || break
    kill -0 "$app" 2>/dev/null || fail "the agent ended during the run"
    sleep 0.1
  done
  [ ! -e "$data/Updates.upd" ] || fail "the run did not finish in 120 s"
else
  # The list stays (one row is refused): the run is over once the apply
  # step has passed the component and the last file is in place.
  for _ in $(seq 1200); do
    [ -e "$demo/regsvr32.log" ] && [ -e "$data/Leggimi.txt" ] && break
    kill -0 "$app" 2>/dev/null || fail "the agent ended during the run"
    sleep 0.1
  done
  [ -e "$demo/regsvr32.log" ] || fail "the run did not finish in 120 s"
fi
sleep 0.5
if [ -n "$shot" ]; then
  done_shot="${shot%.png}-done.png"
  import -window "$win" "$done_shot"
  echo "screenshot after the run: $done_shot"
fi
# "Chiudi" ends the agent.
ovlu_click_chiudi
wait "$app" || true
report
if [ "$signed" = 1 ]; then
  [ "$(cat "$demo/Dati/Tabelle.dat")" = "tabelle vecchie" ] ||
    fail "Tabelle.dat was replaced although its signature is wrong"
  [ ! -e "$demo/Dati/Tabelle.dat.remove" ] || fail "the refused Tabelle.dat was kept"
  [ -e "$data/Updates.upd" ] || fail "the list was deleted after a refused file"
  echo "demo: Tabelle.dat was refused and left as it was; the other files were applied"
fi

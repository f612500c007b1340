#!/bin/bash
# Download time and memory of the Windows agent under Wine as the user meets
# it, against curl, from the same nginx on 127.0.0.1 in the same run.
#
# The agent is started on a data folder whose list names one file of SIZE
# MiB; "Avvia Aggiornamento" is clicked and the question answered with
# Return (Yes). The time runs from the Return until the list is deleted; the
# agent's peak memory is the VmHWM of its Wine process. curl writes the same
# file. A fresh Wine prefix and a private Xvfb serve the run; the prefix has
# the Windows tests' settings, so Wine draws the windows itself: without a
# window manager on the display, a managed message box would hold the
# agent's thread two seconds in Wine after it closes, waiting for a
# withdrawal that only a window manager confirms.
#
# Usage: bench/wine_bench.sh OVLiveUpdate.exe [SIZE_MIB] [ROUNDS]
# OVLU_WINE names the loader (default wine; wine64 for a 64-bit build).
# With OVLU_SIGNED=1 the run is signed: a fresh key pair made with openssl,
# PublisherKey.pem beside the agent and Bench.dat.sig beside the file, so the
# agent fetches and checks the signature too; against it, curl fetches the
# file and the signature and openssl dgst -sha256 -verify checks them.
# With OVLU_PROFILE=FILE the first round runs under perf and the report of
# where the agent's process spends its time goes to FILE.
set -u
if [ -z "${OVLU_BENCH_INNER:-}" ]; then
  export OVLU_BENCH_INNER=1
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$@"
fi
exe=$(readlink -f "$1")
mib=${2:-16}
rounds=${3:-3}
wine=${OVLU_WINE:-wine}
fail() {
  echo "wine_bench: $*" >&2
  exit 1
}
for tool in "$wine" wineboot wineserver nginx curl xdotool python3 openssl; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done

work=$(mktemp -d /tmp/ovlubench.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
nginx_pid=""
cleanup() {
  wineserver -k 2>/dev/null
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
wineboot -i >/dev/null 2>&1 || fail "wineboot failed"
"$wine" reg import "$(dirname "$0")/../tests/windows/wine-settings.reg" >/dev/null 2>&1 ||
  fail "the Wine settings could not be imported"
wineserver -w

# ---------------------------------------------------------------- nginx
mkdir -p "$work/www" "$work/nginx"
head -c $((mib << 20)) /dev/urandom >"$work/www/Bench.dat"
signed=${OVLU_SIGNED:-0}
if [ "$signed" = 1 ]; then
  openssl ecparam -name prime256v1 -genkey -noout -out "$work/publisher.key" 2>/dev/null
  openssl ec -in "$work/publisher.key" -pubout -out "$work/PublisherKey.pem" 2>/dev/null
  openssl dgst -sha256 -sign "$work/publisher.key" -out "$work/www/Bench.dat.sig" \
    "$work/www/Bench.dat"
fi
chmod a+rx "$work" "$work/www" && chmod a+r "$work/www/"*  # nginx's workers read them
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/nginx;
  proxy_temp_path $work/nginx;
  fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx;
  scgi_temp_path $work/nginx;
  server { listen 127.0.0.1:$port; root $work/www; }
}
EOF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
nginx_pid=$!
url=http://127.0.0.1:$port/Bench.dat
for _ in $(seq 50); do curl -sfI "$url" >/dev/null && break; sleep 0.1; done
curl -sfI "$url" >/dev/null || fail "nginx does not serve $url"

# ---------------------------------------------------------------- the agent's machine
data="$WINEPREFIX/drive_c/users/Public/Documents/Tessaro Software/OrVento 7"
app="$WINEPREFIX/drive_c/OrVento"
mkdir -p "$data" "$app"
cp "$exe" "$app/OVLiveUpdate.exe"
printf 'product' >"$app/OrVento.exe"
[ "$signed" = 0 ] || cp "$work/PublisherKey.pem" "$app/PublisherKey.pem"

now() { date +%s.%N; }

# One run of the agent: prints "seconds peak_kib".
agent_round() {
  rm -f "$data/Bench.dat" "$data/Bench.dat.old"
  printf '<v-R><s-%s><ARCPATH-\\Bench.dat>\r\n' "$url" >"$data/Updates.upd"
  (cd "$app" && exec "$wine" 'C:\OrVento\OVLiveUpdate.exe') >/dev/null 2>&1 &
  local launcher=$! win="" pid=""
  for _ in $(seq 300); do
    win=$(xdotool search --name '^ OV Live Update$' 2>/dev/null | head -1) && [ -n "$win" ] && break
    sleep 0.1
  done
  [ -n "$win" ] || fail "the agent's window did not appear"
  sleep 1
  pid=$(pgrep -n -f 'C:\\OrVento\\OVLiveUpdate.exe' | head -1)
  # cmdGET's centre in the client area: (2235 + 3870 / 2, 5085 + 450 / 2)
  # twips. Wine's own frame lies around the 536 x 378 client area inside the
  # X window: equal borders, the caption above.
  local WIDTH HEIGHT ox oy
  eval "$(xdotool getwindowgeometry --shell "$win" | grep -E '^(WIDTH|HEIGHT)=')"
  ox=$(((WIDTH - 536) / 2))
  oy=$((HEIGHT - 378 - ox))
  xdotool mousemove --window "$win" $((278 + ox)) $((354 + oy)) click 1
  for _ in $(seq 100); do
    xdotool search --name '^OrVento$' >/dev/null 2>&1 && break
    sleep 0.05
  done
  if [ -n "${OVLU_PROFILE:-}" ] && [ ! -e "$OVLU_PROFILE" ]; then
    perf record -q --call-graph dwarf,16384 -p "$pid" -o "$work/perf.data" 2>/dev/null &
    perf_pid=$!
    sleep 0.5
  fi
  local start
  start=$(now)
  xdotool key Return
  while [ -e "$data/Updates.upd" ]; do sleep 0.01; done
  local end
  end=$(now)
  local hwm
  hwm=$(sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$pid/status" 2>/dev/null)
  if [ -n "${perf_pid:-}" ]; then
    kill -INT "$perf_pid"
    wait "$perf_pid" 2>/dev/null
    {
      echo "== where the samples stop (shared object)"
      perf report -i "$work/perf.data" --no-children --sort dso -g none --stdio 2>/dev/null |
        grep -v '^#' | grep -v '^$' | head -15
      echo "== which shared objects of Wine lie under them (inclusive)"
      perf report -i "$work/perf.data" --children --sort dso -g none --stdio 2>/dev/null |
        grep -v '^#' | grep -v '^$' | head -25
      echo "== symbols"
      perf report -i "$work/perf.data" --no-children --sort dso,symbol -g none --stdio \
        2>/dev/null | grep -v '^#' | grep -v '^$' | head -30
    } >"$OVLU_PROFILE"
    perf_pid=""
  fi
  cmp -s "$data/Bench.dat" "$work/www/Bench.dat" || fail "the file did not arrive whole"
  wineserver -k 2>/dev/null
  wait "$launcher" 2>/dev/null
  echo "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }') ${hwm:-0}"
}

curl_round() {
  # Timed around curl alone by a small Python parent, which also gives its
  # peak memory (the largest child's). Signed: the file and its signature
  # with curl, then openssl's check, in one shell.
  local command=(curl -s -o "$work/curl.dat" "$url")
  [ "$signed" = 0 ] || command=(sh -c 'curl -s -o "$1" "$2" && curl -s -o "$1.sig" "$2.sig" &&
    openssl dgst -sha256 -verify "$3" -signature "$1.sig" "$1" >/dev/null' sh \
    "$work/curl.dat" "$url" "$work/PublisherKey.pem")
  python3 -c 'import resource, subprocess, sys, time
start = time.monotonic()
subprocess.run(sys.argv[1:], check=True)
took = time.monotonic() - start
print(took, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "${command[@]}"
  cmp -s "$work/curl.dat" "$work/www/Bench.dat" || fail "curl did not fetch the file"
  rm -f "$work/curl.dat" "$work/curl.dat.sig"
}

best_agent="" best_curl=""
peak_agent=0 peak_curl=0
for round in $(seq "$rounds"); do
  read -r a am <<<"$(agent_round)"
  read -r c cm <<<"$(curl_round)"
  [ -n "$a" ] && [ -n "$c" ] || exit 1
  echo "round $round: agent ${a} s (${am} KiB), curl ${c} s (${cm} KiB)"
  less() { awk -v x="$1" -v y="$2" 'BEGIN { exit !(x < y) }'; }
  { [ -z "$best_agent" ] || less "$a" "$best_agent"; } && best_agent=$a
  { [ -z "$best_curl" ] || less "$c" "$best_curl"; } && best_curl=$c
  [ "$am" -gt "$peak_agent" ] && peak_agent=$am
  [ "$cm" -gt "$peak_curl" ] && peak_curl=$cm
done
printf '%d MiB: agent %.3f s (peak %d KiB), curl %.3f s (peak %d KiB), agent/curl throughput %.3f\n' \
  "$mib" "$best_agent" "$peak_agent" "$best_curl" "$peak_curl" \
  "$(awk -v c="$best_curl" -v a="$best_agent" 'BEGIN { print c / a }')"

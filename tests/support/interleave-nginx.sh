# Sourced by the interleaving scripts of both platforms: a private nginx on
# 127.0.0.1 serving $work/www, which drops a client that has not read for
# 5 s (send_timeout) and closes a kept-alive connection after 2 s idle
# without telling the client. /big/ goes at about 4.5 MB/s (60 MB in about
# 13 s), /slow/ at 1 KiB/s. Sets www, nginx_pid and ng (its root URL); the
# caller defines die and kills nginx_pid when done.
www=$work/www
mkdir -p "$www/big" "$www/quick" "$www/slow" "$work/nginx"
printf 'ovlu\n' >"$www/index.html"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
{
  echo "worker_processes 1; pid $work/nginx/nginx.pid; error_log $work/nginx/error.log;"
  [ "$(id -u)" != 0 ] || echo "user root;"
  echo "events { worker_connections 64; }"
  echo "http {"
  echo "  access_log off; sendfile on; default_type application/octet-stream;"
  for t in client_body proxy fastcgi uwsgi scgi; do echo "  ${t}_temp_path $work/nginx/$t;"; done
  echo "  send_timeout 5s; keepalive_timeout 2s;"
  echo "  server {"
  echo "    listen 127.0.0.1:$port; root $www;"
  echo "    location /big/ { limit_rate 4500k; }"
  echo "    location /slow/ { limit_rate 1k; }"
  echo "  }"
  echo "}"
} >"$work/nginx/nginx.conf"
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" -g 'daemon off;' &
nginx_pid=$!
ng=http://127.0.0.1:$port
for _ in $(seq 50); do curl -sf -o /dev/null "$ng/" && break; sleep 0.1; done
curl -sf -o /dev/null "$ng/" || die "nginx does not serve: $(cat "$work/nginx/error.log")"

# Sourced by the Windows end-to-end scripts: the test server, the agent's
# machine in the Wine prefix, and reading and clicking the agent's window
# from outside with win_probe. The caller sets wine, agent_exe, server_py,
# inspect_exe and work, and defines fail.

# Starts the test server on ROOT (further arguments go to it); sets
# server_pid and base, the server's root URL. It runs while descriptor 7
# stays open.
e2e_start_server() {
  local root=$1 port=""
  shift
  mkfifo "$work/server.in"
  python3 "$server_py" --root "$root" "$@" <"$work/server.in" >"$work/server.out" \
    2>"$work/server.err" &
  server_pid=$!
  exec 7>"$work/server.in"
  for _ in $(seq 50); do
    port=$(sed -n 's/^PORT \([0-9]*\)$/\1/p' "$work/server.out") && [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "the test server did not start: $(cat "$work/server.err")" >&2; exit 1; }
  base="http://127.0.0.1:$port"
}

# The agent's folder C:\NAME with the agent and the product, and an empty
# data folder; sets docs, data_dir, app_name and app_dir. NAME holds no
# "-": the list would read what comes before one as a placeholder.
e2e_machine() {
  docs="$WINEPREFIX/drive_c/users/Public/Documents"
  data_dir="$docs/Tessaro Software/OrVento 7"
  app_name=$1
  app_dir="$WINEPREFIX/drive_c/$app_name"
  rm -rf "$app_dir" "$docs/Tessaro Software"
  mkdir -p "$app_dir" "$data_dir"
  cp "$agent_exe" "$app_dir/OVLiveUpdate.exe"
  printf 'product' >"$app_dir/OrVento.exe"
  export OVLU_INSTANCE_NAME="$app_name"
}

inspect() { (cd "$work" && timeout 20 "$wine" "$inspect_exe" "$@" 2>/dev/null | tr -d '\r'); }

# Waits until the output of "inspect WHAT" matches a pattern; prints it.
wait_for() {
  local what=$1 pattern=$2 seconds=$3 out=""
  for _ in $(seq $((seconds * 4))); do
    out=$(inspect "$what") && printf '%s\n' "$out" | grep -qE "$pattern" &&
      { printf '%s\n' "$out"; return 0; }
    sleep 0.25
  done
  fail "$what never showed /$pattern/; last state: $(printf '%s\n' "$out" |
    grep -E 'id=10[27] |^row=' | tr '\n' ' ')"
}

# Clicks the middle of a control (by its id) with the X pointer.
click_control() {
  local rect l t r b
  rect=$(inspect window | sed -n "s/^control id=$1 .* rect=\([-0-9,]*\) .*/\1/p" | head -1)
  [ -n "$rect" ] || fail "control $1 not found"
  IFS=, read -r l t r b <<<"$rect"
  xdotool mousemove $(((l + r) / 2)) $(((t + b) / 2)) click 1
}

# Starts the agent and a run: waits for the button, clicks it and answers
# the question with Return (Yes). The window as it was ready goes to ready.
start_run() {
  (cd "$app_dir" && exec "$wine" "C:\\$app_name\\OVLiveUpdate.exe") >"$work/agent.log" 2>&1 &
  agent_pid=$!
  ready=$(wait_for window 'id=109 class=Button enabled=1 .*text=Avvia Aggiornamento' 30) || exit 1
  click_control 109
  wait_for dialog "text=Avviare l'aggiornamento di OrVento\?" 10 >/dev/null
  xdotool key Return
}

# Ends the agent with "Chiudi".
close_agent() {
  click_control 110
  timeout 10 tail --pid="$agent_pid" -f /dev/null || fail "the agent did not end after Chiudi"
  agent_pid=""
}

has() { printf '%s\n' "$1" | grep -qE "$2" || fail "$3: $1"; }

expect_file() {  # path, expected content file or text
  [ -f "$1" ] || fail "missing $1"
  if [ -f "$2" ]; then cmp -s "$1" "$2" || fail "$1 differs from $2"
  else [ "$(cat "$1")" = "$2" ] || fail "$1 holds '$(cat "$1")', not '$2'"; fi
}

list_line() {  # action, file name (with its query), destination tag
  printf '<v-%s><s-%s/file/%s><%s>\r\n' "$1" "$base" "$2" "$3"
}

# The release both end-to-end runs serve, in $work/served, and the older
# editions they replace on the agent's machine (after e2e_machine).
e2e_release() {
  mkdir -p "$work/served"
  head -c 300000 /dev/urandom >"$work/served/Tabelle.dat"
  head -c 400000 /dev/urandom >"$work/served/Grande.bin"
  printf 'readme, new edition\r\n' >"$work/served/readme.txt"
}
e2e_old_editions() {
  printf 'readme, old edition\r\n' >"$app_dir/readme.txt"
  printf 'table, old edition' >"$data_dir/Tabelle.dat"
  printf 'stale backup' >"$data_dir/Tabelle.dat.old"
}

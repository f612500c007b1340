# Sourced by the demo and the acceptance test: drives the agent's window
# with xdotool the way a person does. The caller defines fail.
# Button centres, 15 twips a pixel: "Avvia Aggiornamento" at
# 2235 + 3870/2 and 5085 + 450/2 twips, "Chiudi" at 6285 + 1620/2.

# Waits for the window (its id goes to win), clicks "Avvia Aggiornamento"
# and answers the question with Return.
ovlu_start_run() {
  win=$(timeout 30 xdotool search --sync --onlyvisible --name "OV Live Update" | head -1) ||
    fail "the window did not appear"
  sleep 0.5
  xdotool mousemove --window "$win" 278 354 click 1
  local box
  box=$(timeout 15 xdotool search --sync --onlyvisible --name "^OrVento$" | head -1) ||
    fail "the question did not appear"
  sleep 0.3
  xdotool windowfocus --sync "$box" 2>/dev/null || true
  xdotool key --clearmodifiers Return
}

ovlu_click_chiudi() {
  xdotool mousemove --window "$win" 473 354 click 1
}

# Starts the agent from the product folder of a machine laid out under
# root (public/Documents, windows, the lock); its process id goes to
# agent_pid.
ovlu_start_agent() {
  (
    cd "$product"
    export PUBLIC="$root/public" windir="$root/windows" OVLU_INSTANCE_LOCK="$root/lock"
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
    exec ./OVLiveUpdate
  ) &
  agent_pid=$!
}

# Chiudi, and the agent must end cleanly.
ovlu_close_agent() {
  ovlu_click_chiudi
  timeout 10 tail --pid="$agent_pid" -f /dev/null || fail "Chiudi did not end the agent"
  wait "$agent_pid" || fail "the agent ended with status $?"
  agent_pid=""
}

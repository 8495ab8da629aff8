# The one way the tools start a private X server; sourced by bash scripts (tools/with-xvfb
# runs a single command in one). The end-to-end tests' harness starts its servers in the
# same way from C++ (tests/e2e/harness.cpp).
#
#   start_xvfb [WIDTHxHEIGHTxDEPTH]      (default 640x480x24)
#
# Starts Xvfb on a free display, which it picks itself and names once it accepts
# connections, so that servers started side by side never collide; exports DISPLAY and
# sets xvfb_pid, and the caller stops the server (kill "$xvfb_pid") when done. -noreset
# keeps it up between clients. Returns 1, with the server's log, when it does not start
# within ten seconds.
start_xvfb() {
  local screen=${1:-640x480x24} ready log
  ready=$(mktemp)
  log=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "$screen" -noreset -nolisten tcp 3>"$ready" >"$log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 200); do
    [ -s "$ready" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.05
  done
  if [ ! -s "$ready" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
    cat "$log" >&2
    echo "Xvfb did not start" >&2
    rm -f "$ready" "$log"
    return 1
  fi
  DISPLAY=":$(head -n 1 "$ready")"
  export DISPLAY
  rm -f "$ready" "$log"
}

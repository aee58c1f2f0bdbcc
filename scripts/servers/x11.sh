# Sourced (through scripts/test-servers.sh and scripts/screenshot.sh): a private Xvfb for
# tests and screenshots that need a real X server. Exports DISPLAY_FOR_X11_TESTS and leaves
# DISPLAY and QT_QPA_PLATFORM alone, so the other tests stay on the offscreen platform.
# X11_SCREEN sets the screen (default 1024x768x24).
_x11_pid=
start_x11() {
  command -v Xvfb >/dev/null || { echo "x11: Xvfb not installed, X11 tests skipped" >&2; return 0; }
  local display
  for display in $(seq 90 140); do
    [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]] && continue
    # -noreset: without it the server resets when its last client leaves (the readiness probe
    # below, or a test), and a client connecting during the reset is refused.
    Xvfb ":$display" -screen 0 "${X11_SCREEN:-1024x768x24}" -nolisten tcp -noreset >/dev/null 2>&1 &
    _x11_pid=$!
    # Ready when a client can talk to it, not merely when its socket file exists.
    local i ready=
    for i in $(seq 1 100); do
      kill -0 "$_x11_pid" 2>/dev/null || break
      if [[ -e /tmp/.X11-unix/X$display ]]; then
        if ! command -v xdotool >/dev/null || DISPLAY=":$display" xdotool getdisplaygeometry >/dev/null 2>&1; then
          ready=1
          break
        fi
      fi
      sleep 0.1
    done
    if [[ -n "$ready" ]]; then
      export DISPLAY_FOR_X11_TESTS=":$display"
      return 0
    fi
    kill "$_x11_pid" 2>/dev/null || true
    _x11_pid=
  done
  echo "x11: could not start Xvfb" >&2
  return 1
}
stop_x11() {
  if [[ -n "$_x11_pid" ]]; then
    kill "$_x11_pid" 2>/dev/null || true
    wait "$_x11_pid" 2>/dev/null || true
    _x11_pid=
  fi
  unset DISPLAY_FOR_X11_TESTS
}

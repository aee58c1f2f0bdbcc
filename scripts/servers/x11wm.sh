# Sourced (through scripts/test-servers.sh, after x11.sh): a window manager (openbox) on the
# tests' Xvfb, so focus, stacking and the always-on-top state behave as on a desktop. Tests
# that need a notification area start their own tray host; D-Bus tests run under
# dbus-run-session, each on a private bus.
_x11wm_pid=
_x11wm_dir=
start_x11wm() {
  [[ -n "${DISPLAY_FOR_X11_TESTS:-}" ]] || return 0
  command -v openbox >/dev/null || { echo "x11wm: openbox not installed, window-manager tests skipped" >&2; return 0; }
  _x11wm_dir=$(mktemp -d /tmp/tonelark-openbox.XXXXXX)
  # A few tries: a server that is still settling may refuse the first connection.
  local try i
  for try in 1 2 3; do
    # A configuration of its own: no user's rc file changes what the tests see.
    DISPLAY=$DISPLAY_FOR_X11_TESTS XDG_CONFIG_HOME=$_x11wm_dir openbox --sm-disable >"$_x11wm_dir/openbox.log" 2>&1 &
    _x11wm_pid=$!
    # Ready once it announces itself on the root window; a loaded machine may need a while.
    for i in $(seq 1 300); do
      kill -0 "$_x11wm_pid" 2>/dev/null || break
      if DISPLAY=$DISPLAY_FOR_X11_TESTS xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
        export TONELARK_X11_WM=openbox
        return 0
      fi
      sleep 0.1
    done
    kill "$_x11wm_pid" 2>/dev/null || true
    wait "$_x11wm_pid" 2>/dev/null || true
    _x11wm_pid=
    sleep 0.5
  done
  echo "x11wm: openbox did not start (see $_x11wm_dir/openbox.log)" >&2
}
stop_x11wm() {
  if [[ -n "$_x11wm_pid" ]]; then
    kill "$_x11wm_pid" 2>/dev/null || true
    wait "$_x11wm_pid" 2>/dev/null || true
    _x11wm_pid=
  fi
  [[ -n "$_x11wm_dir" ]] && rm -rf "$_x11wm_dir"
  _x11wm_dir=
  unset TONELARK_X11_WM
}

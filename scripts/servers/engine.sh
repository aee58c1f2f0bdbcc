# Servers the engine's real-output tests use, sourced through scripts/test-servers.sh:
# a PulseAudio server with a null sink (its monitor is recorded to check the synthesizer's
# sound) and a JACK server on the dummy backend (a MIDI port to play into). Each runs under a
# private runtime folder, so a user's own session is never touched.
_tonelark_engine_dir=""

# JACK keeps what its servers share under /dev/shm: a registry of at most a few servers, and a
# metadata database per user. A server killed outright stays in the registry ("Too many servers
# already active" once it is full), and one killed while it held the database's lock leaves it held
# (every later jackd start then hangs). With no JACK server running on the machine, all of it is
# a leftover; otherwise only a database no live process has open is.
_tonelark_clear_stale_jack_state() {
  local db=/dev/shm/jack_db-$(id -u)
  if command -v pgrep > /dev/null && ! pgrep -x 'jackd|jackdbus' > /dev/null; then
    rm -rf /dev/shm/jack-shm-registry /dev/shm/jack-[0-9]*-[0-9]* /dev/shm/jack_sem.* /dev/shm/jack_*_[0-9]*_[0-9]* "$db" \
      2> /dev/null || true
    ipcrm -S 0x282929 2> /dev/null || true
  elif [[ -d $db ]] && ! grep -qs -- "$db/" /proc/[0-9]*/maps; then
    rm -rf "$db"
  fi
}

start_engine() {
  _tonelark_engine_dir=$(mktemp -d /tmp/tonelark-engine-servers.XXXXXX)
  chmod 700 "$_tonelark_engine_dir"
  if command -v pulseaudio > /dev/null; then
    # As root PulseAudio warns that it is meant for a user session; --system=false keeps it one.
    if XDG_RUNTIME_DIR="$_tonelark_engine_dir" pulseaudio -D -n --system=false --exit-idle-time=-1 \
        --disallow-exit --use-pid-file=yes \
        --load="module-null-sink sink_name=tonelark_null" --load="module-native-protocol-unix" \
        > "$_tonelark_engine_dir/pulseaudio.log" 2>&1; then
      for _ in $(seq 50); do
        [[ -S "$_tonelark_engine_dir/pulse/native" ]] && break
        sleep 0.1
      done
      export TONELARK_PULSE_RUNTIME="$_tonelark_engine_dir"
      export TONELARK_PULSE_SINK=tonelark_null
    else
      echo "engine servers: PulseAudio did not start (see $_tonelark_engine_dir/pulseaudio.log)" >&2
    fi
  fi
  if command -v jackd > /dev/null; then
    # A name of this run's own: test runs of several people on one machine never share a server.
    _tonelark_jack_name="tonelark-$$"
    _tonelark_clear_stale_jack_state
    # Synchronous mode (-S): each cycle runs the clients in graph order, so a reader never meets
    # a writer's port buffer from a cycle that is still being written (seen on a loaded machine).
    JACK_NO_AUDIO_RESERVATION=1 jackd -S --no-realtime -n "$_tonelark_jack_name" -d dummy -r 44100 -p 256 \
      > "$_tonelark_engine_dir/jackd.log" 2>&1 &
    _tonelark_jack_pid=$!
    # Wait until the server answers (a loaded machine may need several seconds), not a fixed time.
    _tonelark_jack_up=0
    for _ in $(seq 100); do
      kill -0 "$_tonelark_jack_pid" 2> /dev/null || break
      if ! command -v jack_lsp > /dev/null; then
        sleep 1 # no client tool to ask with: give it the usual start-up time
        kill -0 "$_tonelark_jack_pid" 2> /dev/null && _tonelark_jack_up=1
        break
      fi
      # Bounded: a client can wait for ever on a server that hangs in its start.
      if timeout 5 jack_lsp -s "$_tonelark_jack_name" > /dev/null 2>&1; then
        _tonelark_jack_up=1
        break
      fi
      sleep 0.1
    done
    if [[ $_tonelark_jack_up == 1 ]]; then
      export TONELARK_JACK_SERVER="$_tonelark_jack_name"
    else
      echo "engine servers: jackd did not start (see $_tonelark_engine_dir/jackd.log)" >&2
      kill "$_tonelark_jack_pid" 2> /dev/null || true
    fi
  fi
}

stop_engine() {
  if [[ -n "${TONELARK_PULSE_RUNTIME:-}" ]]; then
    XDG_RUNTIME_DIR="$TONELARK_PULSE_RUNTIME" pulseaudio --kill 2> /dev/null || true
  fi
  if [[ -n "${_tonelark_jack_pid:-}" ]]; then
    kill "$_tonelark_jack_pid" 2> /dev/null || true
    wait "$_tonelark_jack_pid" 2> /dev/null || true
  fi
  [[ -n "$_tonelark_engine_dir" ]] && rm -rf "$_tonelark_engine_dir"
  unset TONELARK_PULSE_RUNTIME TONELARK_PULSE_SINK TONELARK_JACK_SERVER
}

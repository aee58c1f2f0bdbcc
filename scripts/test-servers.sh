# Sourced by scripts/test.sh: starts and stops the servers the tests use. Each server runs
# under a private runtime folder so that it never meets a user's own session. Every area
# keeps its servers in scripts/servers/<area>.sh with start_<area>/stop_<area> functions.
_tonelark_server_areas=()
for _f in "$(dirname "${BASH_SOURCE[0]}")"/servers/*.sh; do
  [[ -f "$_f" ]] || continue
  source "$_f"
  _tonelark_server_areas+=("$(basename "$_f" .sh)")
done
start_test_servers() { for a in "${_tonelark_server_areas[@]}"; do "start_$a"; done; }
stop_test_servers() { for a in "${_tonelark_server_areas[@]}"; do "stop_$a" || true; done; }

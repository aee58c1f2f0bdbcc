#!/usr/bin/env bash
# Installs what is missing, builds and runs every test headless.
#   scripts/test.sh             normal build in build/
#   scripts/test.sh --sanitize  ASan+UBSan build in build-sanitize/
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

build_dir=build
cmake_args=()
if [[ "${1:-}" == "--sanitize" ]]; then
  build_dir=build-sanitize
  cmake_args+=(-DTONELARK_SANITIZE=ON)
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
fi

scripts/setup.sh --tests
scripts/build.sh "$build_dir" "${cmake_args[@]}"

export QT_QPA_PLATFORM=offscreen
# Servers some tests talk to (sound, MIDI, X11) are started here and stopped on exit.
source "$top/scripts/test-servers.sh"
start_test_servers
trap stop_test_servers EXIT

ctest --test-dir "$build_dir" --output-on-failure --no-tests=error -j "$(nproc)" --timeout 300

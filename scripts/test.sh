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
  # The benchmarks are not run by the suite, and -O1 with line tables is what the sanitizers
  # need for usable stacks: both keep the second build of CI short.
  cmake_args+=(-DTONELARK_SANITIZE=ON -DTONELARK_BUILD_BENCH=OFF
               "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
               "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  # Leaks inside third-party libraries we cannot mend, each named by its exact frames.
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/scripts/lsan.supp:print_suppressions=0}
fi

scripts/setup.sh --tests
scripts/build.sh "$build_dir" "${cmake_args[@]}"

export QT_QPA_PLATFORM=offscreen
# Servers some tests talk to (sound, MIDI, X11) are started here and stopped on exit.
source "$top/scripts/test-servers.sh"
start_test_servers
trap stop_test_servers EXIT

# A failed test runs once more before it counts: the window tests on the real X server wait
# for a window manager and a tray host, which a loaded machine can keep past a deadline. A
# test that fails twice fails the run.
ctest --test-dir "$build_dir" --output-on-failure --no-tests=error -j "$(nproc)" --timeout 300 \
  --repeat until-pass:2

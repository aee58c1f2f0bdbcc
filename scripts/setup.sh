#!/usr/bin/env bash
# Installs the Debian packages Tonelark needs that are not yet installed.
#   scripts/setup.sh          packages to build and run the player
#   scripts/setup.sh --tests  also the packages the test suite and benchmarks use
#   scripts/setup.sh --fuzz   also clang and its sanitizer runtime, for the fuzz targets
set -euo pipefail

# libjack-jackd2-dev stays on the same line as librtmidi-dev: installed apart, apt may
# remove one for the other.
run_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-translations-l10n qt6-svg-dev libqt6svg6
  fluidsynth libfluidsynth-dev fluid-soundfont-gm libpulse-dev
  librtmidi-dev libjack-jackd2-dev libsndfile1-dev
  fonts-ipafont-gothic fonts-ipafont-mincho fonts-noto-cjk
  libxcb1-dev libxcb-keysyms1-dev libfontconfig-dev
  python3
)
test_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev libsmf-dev
  pulseaudio pulseaudio-utils jackd2
  xvfb xauth xdotool imagemagick xcompmgr x11-utils
  openbox trayer playerctl dbus
  lintian appstream xdg-utils libglib2.0-bin
)

# Only the fuzz targets build with clang: CI's suite does without its download.
fuzz_packages=(clang libclang-rt-14-dev)

wanted=("${run_packages[@]}")
case "${1:-}" in
  --tests) wanted+=("${test_packages[@]}") ;;
  --fuzz) wanted+=("${test_packages[@]}" "${fuzz_packages[@]}") ;;
esac

missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

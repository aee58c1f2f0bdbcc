#!/usr/bin/env bash
# On a throwaway machine (CI): builds the Debian package from build/, installs it with dpkg,
# runs the installed program and tools, and removes the package again.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
[[ $(id -u) -eq 0 ]] || { echo "check-package.sh installs a package: run it as root on a throwaway machine" >&2; exit 1; }
cmake --build build --target package > /dev/null
deb=$(ls build/tonelark_*_"$(dpkg --print-architecture)".deb)
dpkg -i "$deb"
trap 'dpkg -r tonelark > /dev/null || true' EXIT
version=$(env -u LD_LIBRARY_PATH /usr/bin/tonelark --version)
echo "installed: $version"
[[ "$version" == "Tonelark "* ]]
env -u LD_LIBRARY_PATH /usr/bin/tonelark-render --help > /dev/null 2>&1
dpkg -r tonelark
trap - EXIT
! command -v tonelark > /dev/null || { echo "tonelark is still installed after dpkg -r" >&2; exit 1; }
echo "package check: installed, ran and removed $deb"

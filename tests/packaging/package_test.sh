#!/usr/bin/env bash
# Builds the Debian package from the build tree, checks its control fields and file list,
# runs lintian on it, and runs the program and the tools from its files unpacked into a
# scratch root (the libraries must be found there, not in the build tree).
set -euo pipefail
build=$1
version=$2
command -v dpkg-deb > /dev/null || { echo "dpkg-deb missing: skipped"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

(cd "$scratch" && cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" > "$scratch/cpack.log" 2>&1) \
  || { cat "$scratch/cpack.log"; exit 1; }
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
deb="$scratch/out/tonelark_${version}_${arch}.deb"
[[ -f "$deb" ]] || { ls "$scratch/out"; fail "no $deb"; exit 1; }

field() { dpkg-deb -f "$deb" "$1"; }
[[ "$(field Section)" == sound ]] || fail "Section is '$(field Section)'"
depends=$(field Depends)
for lib in libfluidsynth3 libqt6widgets6 libsndfile1 libc6; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
[[ "$depends" != *brisola* && "$depends" != *dsakura* ]] || fail "Depends names our own libraries: $depends"
[[ "$(field Recommends)" == *fluid-soundfont-gm* ]] || fail "Recommends is '$(field Recommends)'"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in \
    "./usr/lib/$multiarch/tonelark/tonelark" \
    "./usr/lib/$multiarch/tonelark/libbrisola4.so.4" \
    "./usr/lib/$multiarch/tonelark/libdSakura.so" \
    "./usr/lib/$multiarch/tonelark/libtonelark-export.so" \
    ./usr/bin/tonelark ./usr/bin/tonelark-render ./usr/bin/tonelark-inspect \
    ./usr/share/applications/io.github.tonelark.Tonelark.desktop \
    ./usr/share/metainfo/io.github.tonelark.Tonelark.metainfo.xml \
    ./usr/share/mime/packages/tonelark-mml.xml \
    ./usr/share/icons/hicolor/scalable/apps/io.github.tonelark.Tonelark.svg \
    ./usr/share/doc/tonelark/copyright ./usr/share/doc/tonelark/changelog.gz; do
  grep -qxF "$path" <<< "$contents" || fail "the package lacks $path"
done
if grep -qE '\.(a|h)$|/test_|/bench' <<< "$contents"; then
  fail "development or test files in the package: $(grep -E '\.(a|h)$|/test_|/bench' <<< "$contents" | head -3)"
fi

if command -v lintian > /dev/null; then
  # Root may not run lintian's unpacking helpers everywhere; --allow-root says we mean it.
  if ! lintian --allow-root --fail-on error --tag-display-limit 0 "$deb" > "$scratch/lintian.log" 2>&1; then
    cat "$scratch/lintian.log"
    fail "lintian reports errors"
  fi
  grep -E '^E:' "$scratch/lintian.log" || true
else
  fail "lintian is not installed (scripts/setup.sh --tests installs it)"
fi

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
# Nothing of the build tree may be found: only the scratch root's own files.
for binary in "$root/usr/lib/$multiarch/tonelark/tonelark" "$root/usr/bin/tonelark-render" \
              "$root/usr/bin/tonelark-inspect"; do
  missing=$(env -u LD_LIBRARY_PATH ldd "$binary" | grep 'not found' || true)
  [[ -z "$missing" ]] || fail "$binary: $missing"
  ldd "$binary" | grep -q "$build" && fail "$binary loads a library from the build tree"
done
out=$(env -u LD_LIBRARY_PATH "$root/usr/bin/tonelark" --version) || fail "tonelark --version failed"
[[ "$out" == "Tonelark $version" ]] || fail "tonelark --version printed '$out'"
env -u LD_LIBRARY_PATH "$root/usr/bin/tonelark-render" --help > /dev/null 2>&1 \
  || fail "tonelark-render --help failed"
# Not a song: the tool must run and say so (exit 1), not fail to start (127) or crash.
rc=0
env -u LD_LIBRARY_PATH "$root/usr/bin/tonelark-inspect" "$root/usr/share/doc/tonelark/copyright" > /dev/null 2>&1 || rc=$?
[[ $rc -le 2 ]] || fail "tonelark-inspect did not run (exit $rc)"
exit $((failures > 0))

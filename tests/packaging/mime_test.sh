#!/usr/bin/env bash
# Our MIME package beside the system's freedesktop database in a scratch data folder: a
# plain-text *.mml is an MML song, a MathML *.mml stays MathML, *.kar is MIDI.
set -euo pipefail
package=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/data/mime/packages"
cp /usr/share/mime/packages/freedesktop.org.xml "$package" "$scratch/data/mime/packages/"
update-mime-database "$scratch/data/mime" > /dev/null 2>&1
cd "$scratch"
printf 't120 o4 l8 cdefgab>c\n' > song.mml
printf '\xef\xbb\xbf// UTF-8 with a mark\nt120 cde\n' > song-bom.mml
printf '<?xml version="1.0"?>\n<math xmlns="http://www.w3.org/1998/Math/MathML"><mi>x</mi></math>\n' > formula.mml
printf '<math xmlns="http://www.w3.org/1998/Math/MathML"><mi>x</mi></math>\n' > bare.mml
printf '\xef\xbb\xbf<?xml version="1.0"?><math/>\n' > formula-bom.mml
printf 'MThd\0\0\0\6\0\0\0\1\0\140' > song.kar
failures=0
expect() {
  local got
  # xdg-mime asks GIO on a GNOME desktop, which reads the shared MIME database as desktops do.
  got=$(XDG_DATA_HOME="$scratch/nowhere" XDG_DATA_DIRS="$scratch/data" XDG_CURRENT_DESKTOP=GNOME \
        xdg-mime query filetype "$1")
  if [[ "$got" != "$2" ]]; then
    echo "FAIL: $1 is $got, expected $2"
    failures=$((failures + 1))
  else
    echo "ok: $1 is $got"
  fi
}
expect song.mml text/x-mml
expect song-bom.mml text/x-mml
expect formula.mml application/mathml+xml
expect bare.mml application/mathml+xml
expect formula-bom.mml application/mathml+xml
expect song.kar audio/midi
exit $((failures > 0))

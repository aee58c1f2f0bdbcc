#!/usr/bin/env bash
# Fuzzes the MML compiler with inputs up to 64 KB and a per-input timeout, so a scan that goes
# back over the line or the file at each step (time growing with the square of the input)
# shows up as a timeout, not only crashes and sanitizer reports. The scratch corpus gets the
# seeds of bench/corpus/mml plus 64 KB sources of the shapes that once took seconds.
# Usage: bench/fuzz_mml_compiler.sh FUZZ_BUILD_DIR [SECONDS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$1
seconds=${2:-600}
corpus=$(mktemp -d /tmp/tonelark-fuzz-mml-XXXXXX)
cp "$top"/bench/corpus/mml/* "$corpus"/
repeat() { # text, file: the text repeated to 64 KB
    local text=$1 out=$2 s=$1
    while [ ${#s} -lt 65536 ]; do s=$s$s; done
    printf '%s' "${s:0:65536}" > "$corpus/$out"
}
repeat 'Lyric{"a"}r%1' long-line-lyrics.mml
repeat '""' long-line-strings.mml
repeat $'X(\n' unclosed-arguments.mml
repeat 'Foo{' long-line-unclosed.mml
repeat "'c/**/eg'%1" long-line-chords.mml
repeat 'CDEP64 ' long-line-letters.mml
echo "corpus: $corpus"
# -len_control=0 tries long inputs from the start instead of growing them slowly.
exec "$build/bench/fuzz_mml_compiler" -max_len=65536 -len_control=0 -timeout=2 -rss_limit_mb=2048 \
    -max_total_time="$seconds" -print_final_stats=1 "$corpus"

#!/usr/bin/env bash
# ASCII line-ending conversion of a 256 MiB text file, ours against Debian's
# dos2unix/unix2dos, in the same run on the same files. Prints, for each
# direction, the best of 3 runs and the ratio of their time to ours
# (above 1: ours is faster).
#   bench/ascii/run.sh [BUILD_DIR] [MIB]
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$src/build}
mib=${2:-256}
bench=$build/bin/bench_ascii
[ -x "$bench" ] || { echo "build first: $bench is missing" >&2; exit 1; }
command -v dos2unix >/dev/null && command -v unix2dos >/dev/null ||
    { echo "dos2unix is missing (apt-get install dos2unix)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zarvel-bench-ascii-XXXXXX")
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work # our upload copy goes where unix2dos writes its output

"$bench" make "$work/lf.txt" "$work/crlf.txt" "$mib"

now() { date +%s.%N; }
# best TIME of 3: runs "$@" after a fresh copy of the input (not timed)
best_of_3() {
    local input=$1; shift
    local best=
    for _ in 1 2 3; do
        cp "$input" "$work/work.txt"
        rm -f "$work/out.txt"
        sync
        local t0 t1
        t0=$(now)
        "$@" >/dev/null
        t1=$(now)
        best=$(echo "$t0 $t1 $best" | awk '{d=$2-$1; if ($3=="" || d<$3) print d; else print $3}')
    done
    echo "$best"
}

ours_down=$(best_of_3 "$work/crlf.txt" "$bench" download "$work/work.txt")
cmp -s "$work/work.txt" "$work/lf.txt" || { echo "download result differs from the LF file" >&2; exit 1; }
theirs_down=$(best_of_3 "$work/crlf.txt" dos2unix -q "$work/work.txt")
cmp -s "$work/work.txt" "$work/lf.txt" || { echo "dos2unix result differs from the LF file" >&2; exit 1; }

ours_up=$(best_of_3 "$work/lf.txt" "$bench" upload "$work/work.txt")
theirs_up=$(best_of_3 "$work/lf.txt" unix2dos -q -n "$work/work.txt" "$work/out.txt")
cmp -s "$work/out.txt" "$work/crlf.txt" || { echo "unix2dos result differs from the CRLF file" >&2; exit 1; }

report() {
    awk -v name="$1" -v ours="$2" -v theirs="$3" -v tool="$4" -v mib="$mib" 'BEGIN {
        printf "%-26s ours %6.3f s (%5.0f MiB/s)  %-9s %6.3f s (%5.0f MiB/s)  ratio %.2f\n",
               name, ours, mib / ours, tool, theirs, mib / theirs, theirs / ours }'
}
echo "ASCII conversion of $mib MiB (best of 3; ratio = their time / ours)"
report "download (CR LF -> LF)" "$ours_down" "$theirs_down" dos2unix
report "upload (LF -> CR LF)" "$ours_up" "$theirs_up" unix2dos

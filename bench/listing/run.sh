#!/usr/bin/env bash
# Parsing a 100,000-line Unix listing and a 100,000-line Windows NT listing
# into items, ours against awk '{print $9}' over the same file, in the same
# run. Each side runs as a whole process on a file in the page cache; runs
# alternate which side goes first; every sample is printed and the median of
# RUNS is compared (ratio above 1: ours is faster).
#   bench/listing/run.sh [BUILD_DIR] [LINES] [RUNS]
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$src/build}
lines=${2:-100000}
runs=${3:-9}
bench=$build/bin/bench_listing
[ -x "$bench" ] || { echo "build first: $bench is missing" >&2; exit 1; }
awk_path=$(readlink -f "$(command -v awk)")

work=$(mktemp -d "${TMPDIR:-/tmp}/zarvel-bench-listing-XXXXXX")
trap 'rm -rf "$work"' EXIT

now() { date +%s%N; }
# Seconds one command takes, output discarded.
timed() {
    local t0 t1
    t0=$(now)
    "$@" >/dev/null
    t1=$(now)
    echo "$(( (t1 - t0) / 1000 ))" # microseconds
}
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

echo "listing parse, $lines lines, $runs runs each (microseconds; awk is $awk_path)"
for form in unix nt; do
    file=$work/$form.txt
    "$bench" make "$form" "$file" "$lines"
    "$bench" parse "$form" "$file" # warm the cache, check it parses
    cat "$file" >/dev/null
    ours=() theirs=()
    for ((i = 0; i < runs; i++)); do
        if ((i % 2 == 0)); then
            ours+=("$(timed "$bench" parse "$form" "$file")")
            theirs+=("$(timed awk '{print $9}' "$file")")
        else
            theirs+=("$(timed awk '{print $9}' "$file")")
            ours+=("$(timed "$bench" parse "$form" "$file")")
        fi
    done
    mo=$(median "${ours[@]}")
    mt=$(median "${theirs[@]}")
    echo "$form ours: ${ours[*]}"
    echo "$form awk:  ${theirs[*]}"
    awk -v form="$form" -v lines="$lines" -v o="$mo" -v t="$mt" 'BEGIN {
        printf "%-4s median ours %8.0f us (%10.0f lines/s)  awk %8.0f us (%10.0f lines/s)  ratio %.2f\n",
               form, o, lines / (o / 1e6), t, lines / (t / 1e6), t / o }'
done

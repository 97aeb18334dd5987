#!/usr/bin/env bash
# Decode times of the image library against djpeg, tiff2rgba, gif2rgb and a
# harness on libpng's simplified API, measured in the same run.
# usage: bench/raster/run.sh [BUILD_DIR]   (default: build)
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$src/build}
cmake --build "$build" --target raster_bench png_simple_bench >/dev/null
# BENCH_WORK names a folder to keep the pictures in between runs.
if [ -n "${BENCH_WORK:-}" ]; then
    work=$BENCH_WORK
    mkdir -p "$work"
else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
[ -f "$work/anim.gif" ] || /usr/bin/python3 "$src/bench/raster/make_bench_images.py" "$work"
/usr/bin/python3 "$src/bench/raster/compare.py" "$build/bin" "$work"

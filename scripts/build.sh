#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configure (once) and build.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
target=all
if [ "${1:-}" = "--target" ]; then target=$2; shift 2; fi
# A compiler cache, when the machine has one, makes the four configurations
# and later runs cheap.
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$src" -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
cmake --build "$dir" --target "$target" -j"$(nproc)"

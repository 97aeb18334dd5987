#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configure (once) and build.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
target=all
if [ "${1:-}" = "--target" ]; then target=$2; shift 2; fi
cmake -S "$src" -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir" --target "$target" -j"$(nproc)"

#!/usr/bin/env bash
# The synchronisation comparison on trees of 10,000, 100,000 and 1,000,000
# files each, with caches as large: every sample, the median per size and the
# growth of the time per file. There is no other tool that does this step
# alone, so no ratio is printed. run_e2e.sh beside this times whole runs
# against lftp and rclone.
#   bench/sync/run.sh [BUILD_DIR] [RUNS]
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$src/build}
runs=${2:-7}
bench=$build/bin/bench_sync
[ -x "$bench" ] || { echo "build first: $bench is missing" >&2; exit 1; }
"$bench" "$runs" 10000 100000 1000000

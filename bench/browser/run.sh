#!/usr/bin/env bash
# The browser window listing a folder of ENTRIES files on vsftpd and on sshd
# (through our sftp tool): from the listing request to the list shown and
# sorted, the longest stall of the main event loop and the peak memory.
# Every sample is printed with the median of RUNS (at least 5). Targets: under
# 0.5 s end to end on loopback FTP, no stall over 100 ms, under 100 MB.
#   bench/browser/run.sh [BUILD_DIR] [ENTRIES] [RUNS]
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$src/build}
entries=${2:-50000}
runs=${3:-7}
bench=$build/bin/bench_browser
[ -x "$bench" ] || { echo "build first: $bench is missing" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zarvel-bench-browser-XXXXXX")
chmod 755 "$work"
servers=$work/servers
mkdir -p "$servers"
started=()
cleanup() {
    for server in "${started[@]}"; do
        "$src/tests/servers/server.sh" stop "$server" "$servers" || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

for server in vsftpd sshd; do
    "$src/tests/servers/server.sh" start "$server" "$servers"
    started+=("$server")
    root=$servers/$server/root
    folder=many
    mkdir -p "$root/$folder"
    (cd "$root/$folder" && seq -f "file-%06g.dat" 1 "$entries" | xargs touch)
    chown -R --reference="$root" "$root/$folder"
    echo "== $server, $entries entries, $runs runs"
    HOME=$work ZARVEL_SERVERS=$servers ZARVEL_SFTP_TOOL=$build/libexec/zarvel/sftp \
        QT_QPA_PLATFORM=offscreen ZARVEL_RESOURCES=$src/resources/Resources \
        "$bench" "$server" "$folder" "$runs"
done

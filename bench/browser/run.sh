#!/usr/bin/env bash
# The browser window listing a folder of ENTRIES files on vsftpd and on sshd
# (through our sftp tool), against `lftp cls -l` of the same folder in the
# same run (and `lftp ls`, the server's listing as it comes, which lftp
# prints without parsing). SETS processes per server, each a new window (its first listing)
# then REFRESHES refreshes, each beside one lftp listing in alternating order.
# Prints every sample, the medians and the longest main-thread stall, first
# listings included, and the load average at start and end. Targets: no stall
# over 50 ms in any run; the refresh no slower than lftp's listing. The
# stall's processor time tells work from waiting for a processor.
#   bench/browser/run.sh [BUILD_DIR] [ENTRIES] [SETS] [REFRESHES]
# ZARVEL_BENCH_SERVERS="sshd" runs one server only.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$src/build}
entries=${2:-50000}
sets=${3:-20}
refreshes=${4:-1}
bench=$build/bin/bench_browser
[ -x "$bench" ] || { echo "build first: $bench is missing" >&2; exit 1; }
command -v lftp >/dev/null || { echo "lftp is missing (scripts/packages)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zarvel-bench-browser-XXXXXX")
chmod 755 "$work"
servers=$work/servers
mkdir -p "$servers" "$work/runtime"
chmod 700 "$work/runtime"
started=()
cleanup() {
    for server in "${started[@]}"; do
        "$src/tests/servers/server.sh" stop "$server" "$servers" || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# Samples, their median and maximum: lines "LABEL v1 v2 ..." on stdin.
summary() {
    local label values sorted n med
    while read -r label values; do
        sorted=$(tr ' ' '\n' <<<"$values" | grep . | sort -g)
        n=$(wc -l <<<"$sorted")
        med=$(awk -v n="$n" '{v[NR] = $1} END {
            printf "%.3g", n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2 }' <<<"$sorted")
        printf '%-24s %s\n%-24s median %s  max %s  (n=%d)\n' "$label" "$values" "" "$med" \
            "$(tail -1 <<<"$sorted")" "$n"
    done
}

echo "load at start: $(cut -d' ' -f1-3 /proc/loadavg)"
for server in ${ZARVEL_BENCH_SERVERS:-vsftpd sshd}; do
    "$src/tests/servers/server.sh" start "$server" "$servers"
    started+=("$server")
    root=$servers/$server/root
    folder=many
    mkdir -p "$root/$folder"
    (cd "$root/$folder" && seq -f "file-%06g.dat" 1 "$entries" | xargs touch)
    chown -R --reference="$root" "$root/$folder"
    echo "== $server, $entries entries, $sets sets of a first listing and $refreshes refresh(es)"
    out=$work/$server.runs
    : >"$out"
    for _ in $(seq "$sets"); do
        HOME=$work XDG_RUNTIME_DIR=$work/runtime ZARVEL_SERVERS=$servers \
            ZARVEL_SFTP_TOOL=$build/libexec/zarvel/sftp QT_QPA_PLATFORM=offscreen \
            ZARVEL_RESOURCES=$src/resources/Resources \
            "$bench" "$server" "$folder" "$refreshes" 2>&1 |
            grep -v '^This plugin does not support' | tee -a "$out" | grep -v '^run ' || true
    done
    {
        awk '$2 == "first" {s = s " " $3} END {print "first-listing-stall-ms" s}' "$out"
        awk '$2 == "refresh" {s = s " " $3} END {print "refresh-stall-ms" s}' "$out"
        awk '{s = s " " $3} END {print "all-stalls-ms" s}' "$out"
        awk '$2 == "refresh" {s = s " " $4} END {print "ours-refresh-ms" s}' "$out"
        awk '{s = s " " $7} END {print "stall-on-cpu-ms" s}' "$out"
        awk '{s = s " " $8} END {print "stall-ended-at-ms" s}' "$out"
        awk '$2 == "refresh" {s = s " " $5} END {print "lftp-cls-l-ms" s}' "$out"
        awk '$2 == "refresh" {s = s " " $6} END {print "lftp-ls-ms" s}' "$out"
        awk '$2 == "refresh" {s = s sprintf(" %.2f", $4 / $5)} END {print "ours/cls-l" s}' "$out"
        awk '$2 == "refresh" {s = s sprintf(" %.2f", $4 / $6)} END {print "ours/ls" s}' "$out"
        awk '$2 == "refresh" {s = s sprintf(" %.3f", $3 / $6)} END {print "stall/ls" s}' "$out"
    } | summary
    # Within each longest stall: how often the main thread blocked of its own
    # and how often it was preempted (no figures to take a median of).
    awk '{s = s " " $9 "/" $10} END {print "stall-blocked/preempted" s}' "$out"
done
echo "load at end: $(cut -d' ' -f1-3 /proc/loadavg)"

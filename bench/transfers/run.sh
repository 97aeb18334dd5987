#!/usr/bin/env bash
# Downloads and uploads through the browser window (offscreen, its own
# commands and choosers) on vsftpd and on sshd (through our sftp tool):
# a tree of 1,000 files of 4 KiB in 4 folders against `lftp mirror` and
# `mirror -R`, and one large file against lftp get/put; both also against a
# Connection without a window; all over the same server in the same run. Prints every
# sample, the medians, their ratios and the longest main-loop stall of each
# window run. Targets: the tree at least as fast as lftp, the large file at
# least 0.95x the Connection alone, no stall over 100 ms.
#   bench/transfers/run.sh [BUILD_DIR] [RUNS] [SERVERS]
# ZARVEL_BENCH_ONLY="tree download" (or any part of a label) runs only those.
# ZARVEL_BENCH_BIG_MIB sets the large file's size (default 1024; 256 for a
# quick run). Needs root (the servers' users), like the tests. sshd offers one
# cipher (ZARVEL_BENCH_CIPHER, default aes128-gcm@openssh.com with
# hmac-sha2-256-etm@openssh.com), so that our tool and lftp's ssh use the same.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$src/build}" && pwd)
runs=${2:-5}
servers_wanted=${3:-vsftpd sshd}
mib=${ZARVEL_BENCH_BIG_MIB:-1024}
bench=$build/bin/bench_transfers
[ -x "$bench" ] || { echo "build first: $bench is missing" >&2; exit 1; }
[ -x "$build/libexec/zarvel/sftp" ] || { echo "build the sftp tool first" >&2; exit 1; }
command -v lftp >/dev/null || { echo "lftp is missing (scripts/packages)" >&2; exit 1; }

# In memory when there is room (the file lies there four times), so that the
# disk's write-back does not decide the figures: this measures the clients.
base=${TMPDIR:-/tmp}
if [ -d /dev/shm ] && [ "$(df -Pk /dev/shm | awk 'NR==2 {print $4}')" -gt $((mib * 1024 * 5 + 1048576)) ]; then
    base=/dev/shm
fi
work=$(mktemp -d "$base/zarvel-bench-transfers-XXXXXX")
chmod 755 "$work"
servers=$work/servers
mkdir -p "$servers" "$work/local/src" "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
started=()
cleanup() {
    for server in "${started[@]}"; do
        "$src/tests/servers/server.sh" stop "$server" "$servers" || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# The local sources: 4 folders of 250 files of 4 KiB, and the large file.
for d in 0 1 2 3; do
    mkdir -p "$work/local/src/tree/d$d"
    for i in $(seq -w 0 249); do
        head -c 4096 /dev/urandom >"$work/local/src/tree/d$d/f$i.dat"
    done
done
head -c "$((mib * 1024 * 1024))" /dev/urandom >"$work/local/src/big.bin"

export ZARVEL_SSHD_CIPHERS=${ZARVEL_BENCH_CIPHER:-aes128-gcm@openssh.com}
export ZARVEL_SSHD_MACS=${ZARVEL_BENCH_MAC:-hmac-sha2-256-etm@openssh.com}
for server in $servers_wanted; do
    "$src/tests/servers/server.sh" start "$server" "$servers"
    started+=("$server")
    root=$servers/$server/root
    folder=xfer
    if [ "$server" = sshd ]; then
        # sshd's files live on disk under /tmp; the benchmark's go beside the
        # others, reached through a link the server follows.
        mkdir -p "$work/sshd-files"
        ln -s "$work/sshd-files" "$root/$folder"
        data=$work/sshd-files
    else
        data=$root/$folder
    fi
    mkdir -p "$data/src" "$data/up"
    cp -r "$work/local/src/tree" "$work/local/src/big.bin" "$data/src/"
    chown -R --reference="$root" "$data"
    echo "== $server: tree of 1,000 x 4 KiB in 4 folders, large file $mib MiB"
    # The offscreen platform's notes on each sheet shown are left out.
    HOME=$work/home XDG_RUNTIME_DIR=$work/runtime ZARVEL_SERVERS=$servers \
        ZARVEL_SFTP_TOOL=$build/libexec/zarvel/sftp QT_QPA_PLATFORM=offscreen \
        ZARVEL_RESOURCES=$src/resources/Resources \
        "$bench" "$server" "$folder" "$work/local" "$runs" 2>&1 |
        grep -v '^This plugin does not support'
    "$src/tests/servers/server.sh" stop "$server" "$servers"
    rm -rf "$data"
done

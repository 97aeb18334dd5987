#!/usr/bin/env bash
# run_setups.sh [BUILD_DIR]: downloads of one file (1 GiB; SFTP_BENCH_MB to
# change) on loopback by our sftp tool and by OpenSSH's sftp, on four server
# set-ups in one go: sshd serving SFTP by its built-in internal-sftp or by the
# separate sftp-server program, with the files (the server's and the
# downloaded copy) on tmpfs or on disk. Prints every sample, the medians of
# SFTP_BENCH_ROUNDS rounds (at least 7) and the ratio ours / OpenSSH
# throughput per set-up (1.0 means as fast), with processor time per GiB.
# Needs root, like the tests; SFTP_BENCH_TMPFS and SFTP_BENCH_DISK name the
# folders used (default /dev/shm and /var/tmp).
#
# Like with like: one cipher only on the server, both clients driven the same
# way on a pseudo-terminal, login untimed, one untimed download each first;
# every round visits every set-up, and which client goes first alternates
# between rounds and set-ups.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$src/build}" && pwd)
mb=${SFTP_BENCH_MB:-1024}
rounds=${SFTP_BENCH_ROUNDS:-7}
tmpfs=${SFTP_BENCH_TMPFS:-/dev/shm}
disk=${SFTP_BENCH_DISK:-/var/tmp}
[ "$rounds" -ge 7 ] || { echo "at least 7 rounds" >&2; exit 2; }

work=$(mktemp -d /tmp/zarvel-sftp-setups.XXXXXX)
. "$src/bench/sftp/common.sh"
locals=()
cleanup() {
    stop_servers
    rm -rf "$work" "${locals[@]}"
}
trap cleanup EXIT
mkdir -p "$work/home"

names=() ports=() remotes=() dests=()
for subsystem in sftp-server internal-sftp; do
    for fs in tmpfs disk; do
        [ "$fs" = tmpfs ] && base=$tmpfs || base=$disk
        ZARVEL_SSHD_SUBSYSTEM=$subsystem ZARVEL_SSHD_FILES=$base \
            start_server "$work/sshd-$subsystem-$fs"
        head -c "${mb}M" /dev/urandom >"$remote/big"
        chown "$user" "$remote/big"
        locals+=("$(mktemp -d "$base/zarvel-sftp-local.XXXXXX")")
        names+=("$subsystem/$fs") ports+=("$port") remotes+=("$remote") dests+=("${locals[-1]}")
    done
done

# one CLIENT SETUP: one download, checked; appends its time and processor
# time to the samples of CLIENT on SETUP.
one() {
    local client=$1 s=$2 t
    rm -f "${dests[$s]}/big"
    t=$(cd "${dests[$s]}" && "$client" "${ports[$s]}" "get big")
    cmp -s "${dests[$s]}/big" "${remotes[$s]}/big" || { echo "$client: download differs" >&2; exit 1; }
    rm -f "${dests[$s]}/big"
    eval "${client}_$s+=(\"${t% *}\"); ${client}_cpu_$s+=(\"${t#* }\")"
}

echo "sftp download: ${mb} MiB, cipher $cipher (MAC $mac), median of $rounds rounds, login untimed; ratio = ours / OpenSSH throughput"
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
# One untimed download per client and set-up first: the first transfers of
# a run fault in fresh memory, and whichever client goes first would pay.
for s in "${!names[@]}"; do
    for client in ours openssh; do
        (cd "${dests[$s]}" && "$client" "${ports[$s]}" "get big" >/dev/null)
        rm -f "${dests[$s]}/big"
    done
done
for s in "${!names[@]}"; do eval "ours_$s=() openssh_$s=() ours_cpu_$s=() openssh_cpu_$s=()"; done
for r in $(seq "$rounds"); do
    for s in "${!names[@]}"; do
        if [ $(((r + s) % 2)) = 1 ]; then
            one ours "$s"; one openssh "$s"
        else
            one openssh "$s"; one ours "$s"
        fi
    done
done
gib=$(echo "$mb / 1024" | bc -l)
for s in "${!names[@]}"; do
    eval "o=(\"\${ours_$s[@]}\") x=(\"\${openssh_$s[@]}\") oc=(\"\${ours_cpu_$s[@]}\") xc=(\"\${openssh_cpu_$s[@]}\")"
    echo "  ${names[$s]} samples (s): ours ${o[*]} | OpenSSH ${x[*]}"
    echo "  ${names[$s]} cpu (s):     ours ${oc[*]} | OpenSSH ${xc[*]}"
done
for s in "${!names[@]}"; do
    eval "o=\$(median \"\${ours_$s[@]}\") x=\$(median \"\${openssh_$s[@]}\")"
    eval "oc=\$(median \"\${ours_cpu_$s[@]}\") xc=\$(median \"\${openssh_cpu_$s[@]}\")"
    printf '%-20s median: ours %6.2f s, OpenSSH %6.2f s, ratio %.2fx; cpu per GiB ours %.2f s, OpenSSH %.2f s\n' \
        "${names[$s]}" "$o" "$x" "$(echo "$x / $o" | bc -l)" "$(echo "$oc / $gib" | bc -l)" "$(echo "$xc / $gib" | bc -l)"
done
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"

#!/usr/bin/env bash
# run.sh [BUILD_DIR]: our sftp tool against OpenSSH's sftp, same sshd, same run.
# Downloads and uploads one file (1 GiB; SFTP_BENCH_MB to change) on loopback
# and through a proxy that delays each direction by 10 ms, and prints each
# throughput ratio (ours / OpenSSH; 1.0 means as fast). Needs root (the test
# server makes its own user), like the tests. SFTP_BENCH_TOOL runs another
# build of our tool.
#
# Like with like: the server offers one cipher only (SFTP_BENCH_CIPHER, with
# its MAC for the ciphers that need one), so both clients use it; both are
# driven the same way on a pseudo-terminal and only their commands are timed,
# never the login; the rounds (SFTP_BENCH_ROUNDS, at least 5) alternate which
# client goes first; the median is quoted and every sample printed.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$src/build}" && pwd)
mb=${SFTP_BENCH_MB:-1024}
rounds=${SFTP_BENCH_ROUNDS:-5}
[ "$rounds" -ge 5 ] || { echo "at least 5 rounds" >&2; exit 2; }

work=$(mktemp -d /tmp/zarvel-sftp-bench.XXXXXX)
. "$src/bench/sftp/common.sh"
proxy_pid=
cleanup() {
    [ -n "$proxy_pid" ] && kill "$proxy_pid" 2>/dev/null
    stop_servers
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/home" "$work/local"
start_server "$work/sshd"

head -c "${mb}M" /dev/urandom >"$remote/big"
chown "$user" "$remote/big"
cp "$remote/big" "$work/local/up-source"

# one CLIENT PORT KIND: runs one transfer, checks the result, and appends its
# time and processor time to the samples of CLIENT and KIND.
one() {
    local client=$1 p=$2 kind=$3 t
    if [ "$kind" = get ]; then
        rm -f "$work/local/big"
        t=$(cd "$work/local" && "$client" "$p" "get big")
        cmp -s "$work/local/big" "$remote/big" || { echo "$client: download differs" >&2; exit 1; }
    else
        rm -f "$remote/up"
        t=$(cd "$work/local" && "$client" "$p" "put up-source up")
        cmp -s "$work/local/up-source" "$remote/up" || { echo "$client: upload differs" >&2; exit 1; }
    fi
    eval "${client}_${kind}+=(\"${t% *}\"); ${client}_${kind}_cpu+=(\"${t#* }\")"
}

measure() { # LABEL PORT
    local label=$1 p=$2 kind r
    ours_get=() ours_put=() openssh_get=() openssh_put=()
    ours_get_cpu=() ours_put_cpu=() openssh_get_cpu=() openssh_put_cpu=()
    for r in $(seq "$rounds"); do
        for kind in get put; do
            if [ $((r % 2)) = 1 ]; then
                one ours "$p" "$kind"; one openssh "$p" "$kind"
            else
                one openssh "$p" "$kind"; one ours "$p" "$kind"
            fi
        done
    done
    for kind in get put; do
        local o s oc sc
        eval "o=\$(median \"\${ours_${kind}[@]}\"); s=\$(median \"\${openssh_${kind}[@]}\")"
        eval "oc=\$(median \"\${ours_${kind}_cpu[@]}\"); sc=\$(median \"\${openssh_${kind}_cpu[@]}\")"
        eval "echo \"  $label $kind samples (s): ours \${ours_${kind}[*]} | OpenSSH \${openssh_${kind}[*]}\""
        eval "echo \"  $label $kind cpu (s):     ours \${ours_${kind}_cpu[*]} | OpenSSH \${openssh_${kind}_cpu[*]}\""
        printf '%-26s %s median: ours %6.2f s, OpenSSH %6.2f s, ratio %.2fx; cpu ours %.2f s, OpenSSH %.2f s\n' \
            "$label" "$kind" "$o" "$s" "$(echo "$s / $o" | bc -l)" "$oc" "$sc"
    done
}

echo "sftp: ${mb} MiB, cipher $cipher (MAC $mac), median of $rounds alternating rounds, login untimed; ratio = ours / OpenSSH throughput"
measure "loopback" "$port"
coproc PROXY { exec "$proxy" "$port" 10; }
proxy_pid=$PROXY_PID
read -r proxy_port <&"${PROXY[0]}"
measure "loopback +10 ms each way" "$proxy_port"

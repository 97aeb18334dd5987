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
tool=${SFTP_BENCH_TOOL:-$build/libexec/zarvel/sftp}
drive=$build/bin/sftp_drive
proxy=$build/bin/sftp_delay_proxy
mb=${SFTP_BENCH_MB:-1024}
rounds=${SFTP_BENCH_ROUNDS:-5}
cipher=${SFTP_BENCH_CIPHER:-aes128-gcm@openssh.com}
mac=${SFTP_BENCH_MAC:-hmac-sha2-256-etm@openssh.com}
[ "$rounds" -ge 5 ] || { echo "at least 5 rounds" >&2; exit 2; }

work=$(mktemp -d /tmp/zarvel-sftp-bench.XXXXXX)
server_pid= proxy_pid=
cleanup() {
    [ -n "$proxy_pid" ] && kill "$proxy_pid" 2>/dev/null
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/sshd" "$work/home" "$work/local"
ZARVEL_SSHD_CIPHERS=$cipher ZARVEL_SSHD_MACS=$mac \
    setsid "$src/tests/servers/start-sshd.sh" "$work/sshd" >"$work/sshd.log" 2>&1 &
server_pid=$!
for _ in $(seq 200); do [ -s "$work/sshd/port" ] && break; sleep 0.05; done
[ -s "$work/sshd/port" ] || { cat "$work/sshd.log"; exit 1; }
port=$(cat "$work/sshd/port")
read -r user password <"$work/sshd/credentials"
remote=$(readlink "$work/sshd/root")

ssh-keygen -q -t ed25519 -N '' -f "$work/key"
cat "$work/key.pub" >>"$work/sshd/authorized_keys"

head -c "${mb}M" /dev/urandom >"$remote/big"
chown "$user" "$remote/big"
cp "$remote/big" "$work/local/up-source"

# ours PORT COMMAND / openssh PORT COMMAND: "SECONDS CPU-SECONDS" of one
# session's command, login excluded.
ours() {
    (cd "$work/local" && HOME=$work/home "$drive" "$password" "$2" -- "$tool" \
        -oCheckHostIP=no -oProtocol=2,1 "-oPort=$1" "$user@127.0.0.1")
}
openssh() {
    (cd "$work/local" && "$drive" - "$2" -- /usr/bin/sftp -i "$work/key" -P "$1" \
        -c "$cipher" -o "MACs=$mac" -o StrictHostKeyChecking=no \
        -o UserKnownHostsFile=/dev/null -o BatchMode=yes "$user@127.0.0.1")
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

# one CLIENT PORT KIND: runs one transfer, checks the result, and appends its
# time and processor time to the samples of CLIENT and KIND.
one() {
    local client=$1 p=$2 kind=$3 t
    if [ "$kind" = get ]; then
        rm -f "$work/local/big"
        t=$("$client" "$p" "get big")
        cmp -s "$work/local/big" "$remote/big" || { echo "$client: download differs" >&2; exit 1; }
    else
        rm -f "$remote/up"
        t=$("$client" "$p" "put up-source up")
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

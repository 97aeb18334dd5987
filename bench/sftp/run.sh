#!/usr/bin/env bash
# run.sh [BUILD_DIR]: our sftp tool against OpenSSH's sftp, same sshd, same run.
# Downloads and uploads one file (1 GiB; SFTP_BENCH_MB to change) on loopback
# and through a proxy that delays each direction by 10 ms, and prints each
# throughput ratio (ours / OpenSSH; 1.0 means as fast). Needs root (the test
# server makes its own user), like the tests.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$src/build}" && pwd)
tool=$build/libexec/zarvel/sftp
drive=$build/bin/sftp_drive
proxy=$build/bin/sftp_delay_proxy
mb=${SFTP_BENCH_MB:-1024}
rounds=${SFTP_BENCH_ROUNDS:-2}

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

now() { date +%s.%N; }

# ours PORT COMMAND: seconds taken by one session of our tool.
ours() {
    local t0 t1
    t0=$(now)
    (cd "$work/local" && HOME=$work/home "$drive" "$tool" "$1" "$user" "$password" "$2") >/dev/null
    t1=$(now)
    echo "$t1 - $t0" | bc -l
}
# openssh PORT COMMAND: the same through OpenSSH's sftp in batch mode.
openssh() {
    local t0 t1
    echo "$2" >"$work/batch"
    t0=$(now)
    (cd "$work/local" && sftp -q -b "$work/batch" -i "$work/key" -P "$1" \
        -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o BatchMode=yes \
        "$user@127.0.0.1") >/dev/null
    t1=$(now)
    echo "$t1 - $t0" | bc -l
}
min() { echo "if ($1 < $2) $1 else $2" | bc -l; }

measure() { # LABEL PORT
    local label=$1 p=$2 best_ours_get=999999 best_ossh_get=999999 best_ours_put=999999 best_ossh_put=999999 t
    for _ in $(seq "$rounds"); do
        rm -f "$work/local/big"
        t=$(ours "$p" "get big"); best_ours_get=$(min "$t" "$best_ours_get")
        cmp -s "$work/local/big" "$remote/big" || { echo "ours: download differs" >&2; exit 1; }
        rm -f "$work/local/big"
        t=$(openssh "$p" "get big"); best_ossh_get=$(min "$t" "$best_ossh_get")
        rm -f "$remote/up"
        t=$(ours "$p" "put up-source up"); best_ours_put=$(min "$t" "$best_ours_put")
        cmp -s "$work/local/up-source" "$remote/up" || { echo "ours: upload differs" >&2; exit 1; }
        rm -f "$remote/up"
        t=$(openssh "$p" "put up-source up"); best_ossh_put=$(min "$t" "$best_ossh_put")
    done
    printf '%-22s download: ours %6.2f s, OpenSSH %6.2f s, ratio %.2fx\n' "$label" \
        "$best_ours_get" "$best_ossh_get" "$(echo "$best_ossh_get / $best_ours_get" | bc -l)"
    printf '%-22s upload:   ours %6.2f s, OpenSSH %6.2f s, ratio %.2fx\n' "$label" \
        "$best_ours_put" "$best_ossh_put" "$(echo "$best_ossh_put / $best_ours_put" | bc -l)"
}

echo "sftp: ${mb} MiB, best of $rounds; ratio = ours / OpenSSH throughput"
measure "loopback" "$port"
coproc PROXY { exec "$proxy" "$port" 10; }
proxy_pid=$PROXY_PID
read -r proxy_port <&"${PROXY[0]}"
measure "loopback +10 ms each way" "$proxy_port"

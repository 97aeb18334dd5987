#!/usr/bin/env bash
# run.sh [BUILD_DIR]: a Connection over SFTP (worker, tool driver, messages)
# against our sftp tool driven directly (bench/sftp's sftp_drive), same sshd,
# same run. One 1 GiB file (SFTPROAD_BENCH_MB to change) down and up; prints
# each throughput ratio (Connection / tool alone; 1.0 means as fast). The
# tool-alone times leave its login out (the driver times the command only).
# Needs root (the test server makes its own user), like the tests.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$src/build}" && pwd)
tool=$build/libexec/zarvel/sftp
drive=$build/bin/sftp_drive
conn=$build/bin/bench_sftproad
mb=${SFTPROAD_BENCH_MB:-1024}
rounds=${SFTPROAD_BENCH_ROUNDS:-4}

work=$(mktemp -d /tmp/zarvel-sftproad-bench.XXXXXX)
server_pid= shm=
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    rm -rf "$work"
    if [ -n "$shm" ]; then rm -rf "$shm"; fi
}
trap cleanup EXIT

# The local files live in memory when it can, so that the disk's write-back
# does not fall on one way more than the other.
shm=
if [ -d /dev/shm ] && [ "$(df -Pm /dev/shm | awk 'NR==2 {print $4}')" -gt $((3 * mb + 512)) ]; then
    shm=$(mktemp -d /dev/shm/zarvel-sftproad.XXXXXX)
fi
local_root=${shm:-$work}
mkdir -p "$work/sshd" "$work/home" "$local_root/direct" "$local_root/conn"
setsid "$src/tests/servers/start-sshd.sh" "$work/sshd" >"$work/sshd.log" 2>&1 &
server_pid=$!
for _ in $(seq 200); do [ -s "$work/sshd/port" ] && break; sleep 0.05; done
[ -s "$work/sshd/port" ] || { cat "$work/sshd.log"; exit 1; }
port=$(cat "$work/sshd/port")
read -r user password <"$work/sshd/credentials"
remote=$(readlink "$work/sshd/root")
export HOME=$work/home

head -c "${mb}M" /dev/urandom >"$remote/big"
chown "$user" "$remote/big"

direct() { # COMMAND: seconds of one command of the tool alone, login untimed
    local t
    sync
    t=$(cd "$local_root/direct" && HOME=$work/home "$drive" "$password" "$1" -- "$tool" \
        -oCheckHostIP=no -oProtocol=2,1 "-oPort=$port" "$user@127.0.0.1")
    echo "${t% *}"
}
min() { echo "if ($1 < $2) $1 else $2" | bc -l; }

best_direct_get=999999 best_direct_put=999999 best_conn_get=999999 best_conn_put=999999
run_direct() {
    rm -f "$local_root/direct/big"
    t=$(direct 'get big')
    echo "tool alone get $t" >&2
    best_direct_get=$(min "$t" "$best_direct_get")
    cmp -s "$local_root/direct/big" "$remote/big" || { echo "direct: download differs" >&2; exit 1; }
    rm -f "$remote/up-direct"
    t=$(direct 'put big up-direct')
    echo "tool alone put $t" >&2
    best_direct_put=$(min "$t" "$best_direct_put")
}
run_conn() {
    local out
    rm -f "$remote/up-conn"
    sync
    out=$("$conn" "$port" "$user" "$password" big "$local_root/conn" 1)
    cmp -s "$local_root/conn/up-conn" "$remote/big" || { echo "connection: download differs" >&2; exit 1; }
    cmp -s "$remote/up-conn" "$remote/big" || { echo "connection: upload differs" >&2; exit 1; }
    echo "connection $out" | tr '\n' ' ' >&2
    echo >&2
    best_conn_get=$(min "$(echo "$out" | awk '/^down/ {print $2}')" "$best_conn_get")
    best_conn_put=$(min "$(echo "$out" | awk '/^up/ {print $2}')" "$best_conn_put")
}
# Each way goes first in every other round.
for round in $(seq "$rounds"); do
    if [ $((round % 2)) -eq 1 ]; then
        run_direct
        run_conn
    else
        run_conn
        run_direct
    fi
done
direct_get=$best_direct_get
direct_put=$best_direct_put
printf 'file %d MiB, best of %d, logins untimed\n' "$mb" "$rounds"
printf 'download: tool alone %.3f s, Connection %.3f s, ratio %.2f\n' "$direct_get" "$best_conn_get" \
    "$(echo "$direct_get / $best_conn_get" | bc -l)"
printf 'upload:   tool alone %.3f s, Connection %.3f s, ratio %.2f\n' "$direct_put" "$best_conn_put" \
    "$(echo "$direct_put / $best_conn_put" | bc -l)"

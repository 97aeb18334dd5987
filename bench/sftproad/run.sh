#!/usr/bin/env bash
# run.sh [BUILD_DIR]: a Connection over SFTP (worker, tool driver, messages)
# against our sftp tool driven directly (bench/sftp's sftp_drive), same sshd,
# same run. One 1 GiB file (SFTPROAD_BENCH_MB to change) down and up; prints
# each throughput ratio (Connection / tool alone; 1.0 means as fast). The
# tool-alone times have its login (a session that only types "pwd") taken off.
# Needs root (the test server makes its own user), like the tests.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$src/build}" && pwd)
tool=$build/libexec/zarvel/sftp
drive=$build/bin/sftp_drive
conn=$build/bin/bench_sftproad
mb=${SFTPROAD_BENCH_MB:-1024}
rounds=${SFTPROAD_BENCH_ROUNDS:-3}

work=$(mktemp -d /tmp/zarvel-sftproad-bench.XXXXXX)
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/sshd" "$work/home" "$work/direct" "$work/conn"
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

now() { date +%s.%N; }
direct() { # COMMAND: seconds of one session of the tool alone
    local t0 t1
    sync
    t0=$(now)
    (cd "$work/direct" && "$drive" "$tool" "$port" "$user" "$password" "$1") >/dev/null
    t1=$(now)
    echo "$t1 - $t0" | bc -l
}
min() { echo "if ($1 < $2) $1 else $2" | bc -l; }

login=999 best_direct_get=999999 best_direct_put=999999 best_conn_get=999999 best_conn_put=999999
for _ in $(seq "$rounds"); do
    login=$(min "$(direct pwd)" "$login")
    rm -f "$work/direct/big"
    best_direct_get=$(min "$(direct 'get big')" "$best_direct_get")
    cmp -s "$work/direct/big" "$remote/big" || { echo "direct: download differs" >&2; exit 1; }
    rm -f "$remote/up-direct"
    best_direct_put=$(min "$(direct 'put big up-direct')" "$best_direct_put")
    rm -f "$remote/up-conn"
    out=$("$conn" "$port" "$user" "$password" big "$work/conn" 1)
    cmp -s "$work/conn/up-conn" "$remote/big" || { echo "connection: download differs" >&2; exit 1; }
    cmp -s "$remote/up-conn" "$remote/big" || { echo "connection: upload differs" >&2; exit 1; }
    best_conn_get=$(min "$(echo "$out" | awk '/^down/ {print $2}')" "$best_conn_get")
    best_conn_put=$(min "$(echo "$out" | awk '/^up/ {print $2}')" "$best_conn_put")
done
direct_get=$(echo "$best_direct_get - $login" | bc -l)
direct_put=$(echo "$best_direct_put - $login" | bc -l)
printf 'file %d MiB, best of %d; tool login %.3f s (taken off the tool-alone times)\n' "$mb" "$rounds" "$login"
printf 'download: tool alone %.3f s, Connection %.3f s, ratio %.2f\n' "$direct_get" "$best_conn_get" \
    "$(echo "$direct_get / $best_conn_get" | bc -l)"
printf 'upload:   tool alone %.3f s, Connection %.3f s, ratio %.2f\n' "$direct_put" "$best_conn_put" \
    "$(echo "$direct_put / $best_conn_put" | bc -l)"

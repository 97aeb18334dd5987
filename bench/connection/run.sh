#!/usr/bin/env bash
# A 1 GiB file downloaded and uploaded through Connection (worker thread,
# posted messages, main event loop) and through the FTP engine alone, against
# a local server, in the same run: best of 8 each (ROUNDS=n to change;
# BENCH_VERBOSE=1 prints every run). TMPDIR=/dev/shm keeps disk write-back
# out of the figures. A ratio of 1 means the worker costs nothing; the target
# is at least 0.95. Also prints how many progress messages reached the main
# thread per second (target: about 6 at most).
#   bench/connection/run.sh [BUILD_DIR] [MIB] [vsftpd|pyftpd]
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$src/build}
mib=${2:-1024}
server=${3:-}
bench=$build/bin/bench_connection
[ -x "$bench" ] || { echo "build first: $bench is missing" >&2; exit 1; }
if [ -z "$server" ]; then
    # vsftpd is the faster server, so it shows the client's cost better; it needs root.
    if [ "$(id -u)" -eq 0 ] && { command -v vsftpd || [ -x /usr/sbin/vsftpd ]; } >/dev/null; then
        server=vsftpd
    else
        server=pyftpd
    fi
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zarvel-bench-conn-XXXXXX")
chmod 755 "$work"
servers=$work/servers
mkdir -p "$servers" "$work/local"
cleanup() {
    "$src/tests/servers/server.sh" stop "$server" "$servers" || true
    rm -rf "$work"
}
trap cleanup EXIT
"$src/tests/servers/server.sh" start "$server" "$servers"
root=$servers/$server/root
[ "$server" = pyftpd ] && root=$root/home
mkdir -p "$root"
port=$(cat "$servers/$server/port")
if [ -f "$servers/$server/credentials" ]; then
    read -r user password <"$servers/$server/credentials"
else
    user=zarvel password=zarvel-secret
fi
head -c "$((mib * 1024 * 1024))" /dev/urandom >"$root/big.bin"
chmod 644 "$root/big.bin"
[ "$server" = vsftpd ] && chown zarvelftp "$root"

echo "server: $server, file: $mib MiB"
"$bench" 127.0.0.1 "$port" "$user" "$password" big.bin "$work/local" "${ROUNDS:-8}"

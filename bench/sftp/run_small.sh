#!/usr/bin/env bash
# run_small.sh [BUILD_DIR]: small files through our sftp tool, where round
# trips rather than bandwidth set the pace. Each round puts, then gets,
# SFTP_SMALL_FILES files (1,000) of 4 KiB one command at a time on loopback,
# as a synchronisation does, and times the puts and the gets (login untimed).
# SFTP_SMALL_OTHER names a second build of the tool: both then run in every
# round, alternating which goes first, against the same server. Prints every
# sample and the medians of SFTP_SMALL_ROUNDS rounds (at least 5).
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$src/build}" && pwd)
tool=$build/libexec/zarvel/sftp
other=${SFTP_SMALL_OTHER:-}
drive=$build/bin/sftp_drive
files=${SFTP_SMALL_FILES:-1000}
rounds=${SFTP_SMALL_ROUNDS:-5}
[ "$rounds" -ge 5 ] || { echo "at least 5 rounds" >&2; exit 2; }

work=$(mktemp -d /tmp/zarvel-sftp-small.XXXXXX)
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/sshd" "$work/home" "$work/local/src" "$work/local/back"
setsid "$src/tests/servers/start-sshd.sh" "$work/sshd" >"$work/sshd.log" 2>&1 &
server_pid=$!
for _ in $(seq 200); do [ -s "$work/sshd/port" ] && break; sleep 0.05; done
[ -s "$work/sshd/port" ] || { cat "$work/sshd.log"; exit 1; }
port=$(cat "$work/sshd/port")
read -r user password <"$work/sshd/credentials"
remote=$(readlink "$work/sshd/root")

for i in $(seq "$files"); do head -c 4096 /dev/urandom >"$work/local/src/f$i"; done
puts=() gets=()
for i in $(seq "$files"); do
    puts+=("put src/f$i up/f$i")
    gets+=("get up/f$i back/f$i")
done

# session TOOL COMMAND...: seconds of the commands of one session.
session() {
    local t
    t=$(cd "$work/local" && HOME=$work/home "$drive" "$password" "${@:2}" -- "$1" \
        -oCheckHostIP=no -oProtocol=2,1 "-oPort=$port" "$user@127.0.0.1")
    echo "${t% *}"
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

# one NAME TOOL: a put session then a get session, checked.
one() {
    local name=$1 t
    rm -rf "$remote/up" "$work/local/back"
    mkdir "$remote/up" "$work/local/back"
    chown "$user" "$remote/up"
    t=$(session "$2" "${puts[@]}")
    eval "${name}_put+=($t)"
    diff -r "$work/local/src" "$remote/up" >/dev/null || { echo "$name: upload differs" >&2; exit 1; }
    t=$(session "$2" "${gets[@]}")
    eval "${name}_get+=($t)"
    diff -r "$work/local/src" "$work/local/back" >/dev/null || { echo "$name: download differs" >&2; exit 1; }
}

this_put=() this_get=() other_put=() other_get=()
echo "sftp small files: $files x 4 KiB, one command each, loopback, $rounds rounds"
for r in $(seq "$rounds"); do
    if [ -z "$other" ]; then
        one this "$tool"
    elif [ $((r % 2)) = 1 ]; then
        one this "$tool"; one other "$other"
    else
        one other "$other"; one this "$tool"
    fi
done
for kind in put get; do
    eval "s=(\"\${this_${kind}[@]}\")"
    printf '  %s this  samples (s): %s  median %s\n' "$kind" "${s[*]}" "$(median "${s[@]}")"
    if [ -n "$other" ]; then
        eval "s=(\"\${other_${kind}[@]}\")"
        printf '  %s other samples (s): %s  median %s\n' "$kind" "${s[*]}" "$(median "${s[@]}")"
    fi
done

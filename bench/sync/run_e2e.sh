#!/usr/bin/env bash
# run_e2e.sh [BUILD_DIR]: whole synchronisation runs of 1,000 files of 4 KiB
# in 100 folders through SyncRun (bench_sync_run) against lftp mirror and
# rclone sync, over FTP (vsftpd) and SFTP (sshd, through our sftp tool), the
# same server for all, in the same run. Each direction (up, then down) has a
# first run (far side empty, no cache) and a second run with nothing changed.
#
# Like with like: every sample starts from the same state (the far side
# cleared, our cache removed); rounds rotate which tool goes first; the sshd
# offers one cipher and MAC, so every client uses them; lftp and rclone move
# one file at a time like we do ("rclone" with its defaults, 4 transfers and
# 8 checkers, is shown too); lftp is told --no-perms since we set no modes.
# Times are the whole process, login included; "after login" (ours and lftp,
# which can time inside its session) leaves the login out. rclone cannot, so
# its ratio is on whole times. Every sample is printed, then medians and the
# ratios tool / ours (above 1: we are faster).
#   SYNC_E2E_RUNS (>= 5, default 5), SYNC_E2E_DIRS (default "up down"),
#   SYNC_E2E_PROTOCOLS (default "ftp sftp").
# Needs root (the test servers make their users), lftp and rclone.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$src/build}" && pwd)
bench=$build/bin/bench_sync_run
tool=$build/libexec/zarvel/sftp
runs=${SYNC_E2E_RUNS:-5}
dirs=${SYNC_E2E_DIRS:-up down}
protocols=${SYNC_E2E_PROTOCOLS:-ftp sftp}
cipher=aes128-gcm@openssh.com
mac=hmac-sha2-256-etm@openssh.com
[ "$runs" -ge 5 ] || { echo "at least 5 runs" >&2; exit 2; }
for need in "$bench" "$tool"; do
    [ -x "$need" ] || { echo "build first: $need is missing" >&2; exit 1; }
done
command -v lftp >/dev/null && command -v rclone >/dev/null ||
    { echo "needs lftp and rclone (apt-get install lftp rclone)" >&2; exit 1; }

# The local trees live in memory when they can: this measures the clients.
base=/tmp
[ -d /dev/shm ] && base=/dev/shm
work=$(mktemp -d "$base/zarvel-sync-e2e.XXXXXX")
chmod 755 "$work" # vsftpd serves as its own user from in here
sshd_pid=
cleanup() {
    "$src/tests/servers/server.sh" stop vsftpd "$work/servers" >/dev/null 2>&1 || true
    if [ -n "$sshd_pid" ]; then
        kill "$sshd_pid" 2>/dev/null || true
        wait "$sshd_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/servers" "$work/home" "$work/config" "$work/sshd"
export HOME=$work/home XDG_CONFIG_HOME=$work/config ZARVEL_SFTP_TOOL=$tool
touch "$work/rclone.conf"

"$src/tests/servers/server.sh" start vsftpd "$work/servers"
ZARVEL_SSHD_CIPHERS=$cipher ZARVEL_SSHD_MACS=$mac \
    setsid "$src/tests/servers/start-sshd.sh" "$work/sshd" >"$work/sshd.log" 2>&1 &
sshd_pid=$!
for _ in $(seq 200); do [ -s "$work/sshd/port" ] && break; sleep 0.05; done
[ -s "$work/sshd/port" ] || { cat "$work/sshd.log" >&2; exit 1; }

# The tree: 100 folders of 10 files of 4 KiB.
tree=$work/tree
for d in $(seq -w 0 99); do
    mkdir -p "$tree/d$d"
    for f in $(seq -w 0 9); do head -c 4096 /dev/urandom >"$tree/d$d/f$f.bin"; done
done

now() { date +%s.%N; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

# Per protocol: port, user, password, the server's folder, the URL bits.
setup_protocol() {
    case $1 in
    ftp)
        port=$(cat "$work/servers/vsftpd/port")
        read -r user password <"$work/servers/vsftpd/credentials"
        root=$work/servers/vsftpd/root
        lftp_url=ftp://127.0.0.1:$port
        rclone_remote=":ftp,host=127.0.0.1,port=$port,user=$user,pass=$(rclone obscure "$password"):bench"
        ;;
    sftp)
        port=$(cat "$work/sshd/port")
        read -r user password <"$work/sshd/credentials"
        root=$(readlink "$work/sshd/root")
        lftp_url=sftp://127.0.0.1:$port
        rclone_remote=":sftp,host=127.0.0.1,port=$port,user=$user,pass=$(rclone obscure "$password"),shell_type=none,disable_hashcheck=true:bench"
        ;;
    esac
    remote=$root/bench
    local_dir=$work/local
}

# The starting state of a first run: the far side empty, our cache gone.
reset_state() { # DIRECTION
    rm -rf "$remote" "$local_dir" "$XDG_CONFIG_HOME/Zarvel"
    if [ "$1" = up ]; then
        cp -a "$tree" "$local_dir"
        mkdir "$remote"
    else
        cp -a "$tree" "$remote"
        mkdir "$local_dir"
    fi
    chown -R "$user" "$remote"
    sync
}

check_same() { # TOOL
    if ! diff -r "$tree" "$local_dir" >/dev/null || ! diff -r "$tree" "$remote" >/dev/null; then
        echo "$1 left the trees different" >&2
        exit 1
    fi
}

# run_tool TOOL PROTOCOL DIRECTION: one run; sets wall and inner (after login).
run_tool() {
    local t0 t1 out=$work/out
    case $1 in
    ours)
        t0=$(now)
        "$bench" "$2" "$port" "$user" "$password" bench "$local_dir" "$3" >"$out" ||
            { cat "$out" >&2; exit 1; }
        t1=$(now)
        inner=$(awk '{print $4}' "$out")
        ours_line=$(cat "$out")
        ;;
    lftp)
        local mirror="mirror --no-perms -v . $local_dir"
        [ "$3" = up ] && mirror="mirror -R --no-perms -v $local_dir ."
        {
            echo "set cmd:fail-exit yes"
            echo "set net:max-retries 1"
            echo "set ftp:passive-mode yes"
            echo "set sftp:connect-program \"ssh -a -x -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null\""
            echo "open -u $user,$password $lftp_url"
            echo "cd bench" # logs in, untimed
            echo "!date +%s.%N"
            echo "$mirror"
            echo "!date +%s.%N"
        } >"$work/lftp.cmd"
        t0=$(now)
        lftp -f "$work/lftp.cmd" >"$out" 2>&1 || { cat "$out" >&2; exit 1; }
        t1=$(now)
        inner=$(grep -E '^[0-9]+\.[0-9]+$' "$out" | awk 'NR==1 {a=$1} NR==2 {print $1 - a}')
        ;;
    rclone1 | rclone)
        local -a flags=(--config "$work/rclone.conf" --stats 0 -q)
        [ "$1" = rclone1 ] && flags+=(--transfers 1 --checkers 1)
        local from=$local_dir to=$rclone_remote
        [ "$3" = down ] && { from=$rclone_remote; to=$local_dir; }
        t0=$(now)
        # Its complaint that FTP cannot set a folder's date is no failure.
        rclone "${flags[@]}" sync "$from" "$to" >"$out" 2>&1 || { cat "$out" >&2; exit 1; }
        t1=$(now)
        inner=-
        ;;
    esac
    wall=$(echo "$t1 - $t0" | bc -l | awk '{printf "%.3f", $1}')
    [ "$inner" = - ] || inner=$(echo "$inner" | awk '{printf "%.3f", $1}')
}

tools=(ours lftp rclone1 rclone)
declare -A samples
for protocol in $protocols; do
    setup_protocol "$protocol"
    for direction in $dirs; do
        echo "== $protocol $direction: 1,000 files of 4 KiB in 100 folders, $runs rounds"
        for r in $(seq 0 $((runs - 1))); do
            order=("${tools[@]:r % ${#tools[@]}}" "${tools[@]:0:r % ${#tools[@]}}")
            for t in "${order[@]}"; do
                reset_state "$direction"
                for pass in first second; do
                    run_tool "$t" "$protocol" "$direction"
                    check_same "$t"
                    key="$protocol $direction $pass $t"
                    samples[$key]+="$wall "
                    samples[$key inner]+="$inner "
                    line=$(printf '  round %d %-6s %-7s total %6.3f s' $((r + 1)) "$pass" "$t" "$wall")
                    [ "$inner" = - ] || line+=$(printf '  after login %6.3f s' "$inner")
                    [ "$t" = ours ] && line+="   [${ours_line#*| }]"
                    echo "$line"
                done
            done
        done
    done
done

echo
echo "== medians (s) and ratios tool/ours (above 1: ours faster)"
for protocol in $protocols; do
    for direction in $dirs; do
        for pass in first second; do
            k="$protocol $direction $pass"
            o=$(median ${samples[$k ours]}) oi=$(median ${samples[$k ours inner]})
            l=$(median ${samples[$k lftp]}) li=$(median ${samples[$k lftp inner]})
            r1=$(median ${samples[$k rclone1]}) rd=$(median ${samples[$k rclone]})
            printf '%-4s %-4s %-6s ours %.3f (after login %.3f) | lftp %.3f (after login %.3f) x%.2f (after login x%.2f) | rclone 1 transfer %.3f x%.2f | rclone defaults %.3f x%.2f\n' \
                "$protocol" "$direction" "$pass" "$o" "$oi" "$l" "$li" "$(echo "$l / $o" | bc -l)" \
                "$(echo "$li / $oi" | bc -l)" "$r1" "$(echo "$r1 / $o" | bc -l)" "$rd" "$(echo "$rd / $o" | bc -l)"
        done
    done
done

#!/usr/bin/env bash
# bench/ftp/run.sh [BUILD_DIR]: the FTP engine against curl and lftp over
# loopback, with pyftpdlib and vsftpd as servers: a 1 GiB download and upload,
# and 1,000 files of 4 KiB one after another; then 1,000 files of 4 KiB each
# way through a proxy that delays every byte 10 ms in each direction
# (ZARVEL_BENCH_DELAY_MS), against curl. Prints times, throughput ratios
# (curl's time / ours: above 1 means we are faster) and peak memory.
# ZARVEL_BENCH_ONLY=delayed runs only the delayed part.
# Needs root for the vsftpd user (see tests/servers/start-vsftpd.sh).
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$src/build}
bench=$build/bin/ftpbench
[ -x "$bench" ] || { echo "build first: $bench is missing" >&2; exit 1; }
size_mb=${ZARVEL_BENCH_MB:-1024}
runs=${ZARVEL_BENCH_RUNS:-5}
# In memory when there is room, so that the disk's write-back does not decide
# the result: this measures the clients, not the disk.
base=/tmp
if [ -d /dev/shm ] && [ "$(df -Pk /dev/shm | awk 'NR==2 {print $4}')" -gt $((size_mb * 1024 * 6)) ]; then
    base=/dev/shm
fi
work=$(mktemp -d "$base/zarvel-ftpbench.XXXXXX")
# vsftpd serves as its own user: it must reach the server folders in here.
chmod 755 "$work"
servers=$work/servers
mkdir -p "$servers"
proxy_pid=
cleanup() {
    [ -n "$proxy_pid" ] && kill "$proxy_pid" 2>/dev/null
    "$src/tests/servers/server.sh" stop pyftpd "$servers" || true
    "$src/tests/servers/server.sh" stop vsftpd "$servers" || true
    rm -rf "$work"
}
trap cleanup EXIT
"$src/tests/servers/server.sh" start pyftpd "$servers"
"$src/tests/servers/server.sh" start vsftpd "$servers"

only=${ZARVEL_BENCH_ONLY:-}
[ "$only" = delayed ] && size_mb=1
head -c $((size_mb * 1024 * 1024)) /dev/urandom >"$work/big.bin"
mkdir -p "$work/small"
for i in $(seq 0 999); do head -c 4096 /dev/urandom >"$work/small/$(printf f%04d "$i")"; done
want=$(sha256sum <"$work/big.bin" | cut -d' ' -f1)

# time_of CMD...: wall seconds and peak RSS (KiB) of one run, as "secs kib".
time_of() {
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
        echo "failed: $*" >&2; cat "$work/err" >&2; return 1; }
    cat "$work/time"
}
# race N: runs the commands in the arrays ours, curl_cmd and lftp_cmd in turn,
# N rounds (so that a change in the machine's load hits all three alike; each
# round starts with another tool, so that none always runs first or after the
# same one), calling after_each TOOL after every run; sets best_ours,
# best_curl and best_lftp to the median run of each as "secs kib" (the
# median, because on a shared machine the fastest run says more about luck
# than about the tool).
race_tools=(ours curl lftp)
race() {
    local n=$1 tool line round
    local -A runs=()
    local -a tools=("${race_tools[@]}") order
    for tool in "${tools[@]}"; do runs[$tool]=""; done
    # One untimed run first: the first transfer after the files were laid
    # out pays for warming the server, and would always fall on the same tool.
    time_of "${curl_cmd[@]}" >/dev/null
    after_each curl
    for round in $(seq 0 $((n - 1))); do
        order=("${tools[@]:round % ${#tools[@]}}" "${tools[@]:0:round % ${#tools[@]}}")
        for tool in "${order[@]}"; do
            sync
            case $tool in
            ours) line=$(time_of "${ours[@]}") ;;
            curl) line=$(time_of "${curl_cmd[@]}") ;;
            lftp) line=$(time_of "${lftp_cmd[@]}") ;;
            esac
            after_each "$tool"
            runs[$tool]+="$line"$'\n'
        done
    done
    for tool in "${tools[@]}"; do
        line=$(printf '%s' "${runs[$tool]}" | sort -n | awk '{ l[NR] = $0 } END { print l[int((NR + 1) / 2)] }')
        printf -v "best_$tool" '%s' "$line"
        # Every sample, in the order run, so that the spread shows.
        printf '  %-4s %s\n' "$tool" "$(printf '%s' "${runs[$tool]}" | awk '{ printf "%ss ", $1 }')"
    done
}
check() {
    local got
    got=$(sha256sum <"$1" | cut -d' ' -f1)
    [ "$got" = "$want" ] || { echo "corrupt transfer: $1" >&2; exit 1; }
}
row() { # label ours curl lftp  (each "secs kib")
    awk -v label="$1" -v o="$2" -v c="$3" -v l="$4" -v mb="$5" 'BEGIN {
        split(o, O, " "); split(c, C, " "); split(l, L, " ");
        printf "%-22s ours %6.2fs %7.0f MB/s %6d KiB | curl %6.2fs %6d KiB | lftp %6.2fs %6d KiB | vs curl %.2fx  vs lftp %.2fx\n",
            label, O[1], (O[1] > 0 ? mb / O[1] : 0), O[2], C[1], C[2], L[1], L[2],
            (O[1] > 0 ? C[1] / O[1] : 0), (O[1] > 0 ? L[1] / O[1] : 0) }'
}

for name in pyftpd vsftpd; do
    [ "$only" = delayed ] && break
    dir=$servers/$name
    port=$(cat "$dir/port")
    read -r user password 2>/dev/null <"$dir/credentials" || { user=zarvel; password=zarvel-secret; }
    root=$dir/root
    [ "$name" = pyftpd ] && root=$dir/root/home
    cp "$work/big.bin" "$root/big.bin"
    mkdir -p "$root/small"
    cp "$work/small"/* "$root/small/"
    chmod -R a+rwX "$root"
    [ "$name" = vsftpd ] && chown -R zarvelftp "$root"
    url=ftp://127.0.0.1:$port
    out=$work/out
    mkdir -p "$out"

    echo "== $name: ${size_mb} MiB download (median of $runs, interleaved)"
    ours=("$bench" 127.0.0.1 "$port" "$user" "$password" get big.bin "$out/ours.bin")
    curl_cmd=(curl -s --user "$user:$password" -o "$out/curl.bin" "$url/big.bin")
    lftp_cmd=(lftp -u "$user,$password" -e "set ftp:passive-mode on; set xfer:clobber on; get big.bin -o $out/lftp.bin; quit" "$url")
    after_each() { check "$out/$1.bin"; rm -f "$out/$1.bin"; }
    race "$runs"
    row "$name download" "$best_ours" "$best_curl" "$best_lftp" "$size_mb"

    echo "== $name: ${size_mb} MiB upload (median of $runs, interleaved)"
    ours=("$bench" 127.0.0.1 "$port" "$user" "$password" put "$work/big.bin" up-ours.bin)
    curl_cmd=(curl -s --user "$user:$password" -T "$work/big.bin" "$url/up-curl.bin")
    lftp_cmd=(lftp -u "$user,$password" -e "set ftp:passive-mode on; set xfer:clobber on; put $work/big.bin -o up-lftp.bin; quit" "$url")
    after_each() { check "$root/up-$1.bin"; rm -f "$root/up-$1.bin"; }
    race "$runs"
    row "$name upload" "$best_ours" "$best_curl" "$best_lftp" "$size_mb"

    echo "== $name: 1000 files of 4 KiB, one session (median of $runs, interleaved)"
    rm -rf "$out/many" && mkdir -p "$out/many/ours" "$out/many/curl" "$out/many/lftp"
    urls=$work/curl-urls
    : >"$urls"
    for i in $(seq 0 999); do
        f=$(printf f%04d "$i")
        printf 'url = "%s/small/%s"\noutput = "%s/many/curl/%s"\n' "$url" "$f" "$out" "$f" >>"$urls"
    done
    ours=("$bench" 127.0.0.1 "$port" "$user" "$password" many small "$out/many/ours")
    curl_cmd=(curl -s --user "$user:$password" -K "$urls")
    lftp_cmd=(lftp -u "$user,$password" -e "set ftp:passive-mode on; set xfer:clobber on; lcd $out/many/lftp; cd small; mget f*; quit" "$url")
    after_each() {
        diff -rq "$work/small" "$out/many/$1" >/dev/null || { echo "corrupt small files: $1" >&2; exit 1; }
        rm -rf "$out/many/$1" && mkdir -p "$out/many/$1"
    }
    race "$runs"
    row "$name 1000x4KiB" "$best_ours" "$best_curl" "$best_lftp" 4
    rm -f "$root/big.bin"
done

# ---- 1,000 small files each way over a link with a round trip of 20 ms ----
delay_ms=${ZARVEL_BENCH_DELAY_MS:-10}
proxy_bin=$build/bin/ftp_delay_proxy
[ -x "$proxy_bin" ] || { echo "build first: $proxy_bin is missing" >&2; exit 1; }
race_tools=(ours curl)
# ZARVEL_BENCH_DELAYED_SERVERS picks the servers of this part (each takes a
# while: about a minute per run and tool).
delayed_servers=${ZARVEL_BENCH_DELAYED_SERVERS:-pyftpd vsftpd}
row2() { # label ours curl  (each "secs kib")
    awk -v label="$1" -v o="$2" -v c="$3" 'BEGIN {
        split(o, O, " "); split(c, C, " ");
        printf "%-28s ours %6.2fs %6d KiB | curl %6.2fs %6d KiB | vs curl %.2fx\n",
            label, O[1], O[2], C[1], C[2], (O[1] > 0 ? C[1] / O[1] : 0) }'
}
for name in $delayed_servers; do
    dir=$servers/$name
    port=$(cat "$dir/port")
    read -r user password 2>/dev/null <"$dir/credentials" || { user=zarvel; password=zarvel-secret; }
    root=$dir/root
    [ "$name" = pyftpd ] && root=$dir/root/home
    mkdir -p "$root/small" "$root/up-ours" "$root/up-curl"
    cp "$work/small"/* "$root/small/"
    chmod -R a+rwX "$root"
    [ "$name" = vsftpd ] && chown -R zarvelftp "$root"

    "$proxy_bin" "$port" "$delay_ms" >"$work/proxy-port" &
    proxy_pid=$!
    for _ in $(seq 100); do [ -s "$work/proxy-port" ] && break; sleep 0.1; done
    purl=ftp://127.0.0.1:$(cat "$work/proxy-port")
    pport=$(cat "$work/proxy-port")
    out=$work/out
    mkdir -p "$out"

    echo "== $name: 1000 downloads of 4 KiB, ${delay_ms} ms each way (median of $runs, interleaved)"
    rm -rf "$out/many" && mkdir -p "$out/many/ours" "$out/many/curl"
    urls=$work/curl-urls
    : >"$urls"
    for i in $(seq 0 999); do
        f=$(printf f%04d "$i")
        printf 'url = "%s/small/%s"\noutput = "%s/many/curl/%s"\n' "$purl" "$f" "$out" "$f" >>"$urls"
    done
    ours=("$bench" 127.0.0.1 "$pport" "$user" "$password" many small "$out/many/ours")
    curl_cmd=(curl -s --user "$user:$password" -K "$urls")
    after_each() {
        diff -rq "$work/small" "$out/many/$1" >/dev/null || { echo "corrupt small files: $1" >&2; exit 1; }
        rm -rf "$out/many/$1" && mkdir -p "$out/many/$1"
    }
    race "$runs"
    row2 "$name 1000x4KiB get ${delay_ms}ms" "$best_ours" "$best_curl"

    echo "== $name: 1000 uploads of 4 KiB, ${delay_ms} ms each way (median of $runs, interleaved)"
    : >"$urls"
    for i in $(seq 0 999); do
        f=$(printf f%04d "$i")
        printf 'upload-file = "%s/small/%s"\nurl = "%s/up-curl/%s"\n' "$work" "$f" "$purl" "$f" >>"$urls"
    done
    ours=("$bench" 127.0.0.1 "$pport" "$user" "$password" putmany "$work/small" up-ours)
    after_each() {
        diff -rq "$work/small" "$root/up-$1" >/dev/null || { echo "corrupt uploads: $1" >&2; exit 1; }
        rm -f "$root/up-$1"/*
    }
    race "$runs"
    row2 "$name 1000x4KiB put ${delay_ms}ms" "$best_ours" "$best_curl"
    kill "$proxy_pid"
    wait "$proxy_pid" 2>/dev/null || true
    proxy_pid=
done

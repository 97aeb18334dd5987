# Sourced by the sftp benchmarks: a test sshd, our tool and OpenSSH's sftp
# driven the same way, and medians. Expects `src`, `build` and `work` set;
# SFTP_BENCH_TOOL runs another build of our tool.
tool=${SFTP_BENCH_TOOL:-$build/libexec/zarvel/sftp}
drive=$build/bin/sftp_drive
proxy=$build/bin/sftp_delay_proxy
cipher=${SFTP_BENCH_CIPHER:-aes128-gcm@openssh.com}
mac=${SFTP_BENCH_MAC:-hmac-sha2-256-etm@openssh.com}
server_pids=()

stop_servers() {
    local pid
    for pid in "${server_pids[@]}"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    server_pids=()
}

# start_server DIR: an sshd offering only the benchmark's cipher (the caller's
# ZARVEL_SSHD_* settings pass through); sets port, user, password and remote
# (the folder the user starts in). OpenSSH's client logs in with a key.
start_server() {
    local dir=$1
    mkdir -p "$dir"
    ZARVEL_SSHD_CIPHERS=$cipher ZARVEL_SSHD_MACS=$mac \
        setsid "$src/tests/servers/start-sshd.sh" "$dir" >"$dir.log" 2>&1 &
    server_pids+=($!)
    for _ in $(seq 200); do [ -s "$dir/port" ] && break; sleep 0.05; done
    [ -s "$dir/port" ] || { cat "$dir.log"; exit 1; }
    port=$(cat "$dir/port")
    read -r user password <"$dir/credentials"
    remote=$(readlink "$dir/root")
    [ -f "$work/key" ] || ssh-keygen -q -t ed25519 -N '' -f "$work/key"
    cat "$work/key.pub" >>"$dir/authorized_keys"
}

# ours PORT COMMAND / openssh PORT COMMAND, in the current folder: "SECONDS
# CPU-SECONDS" of one session's command, login excluded.
ours() {
    HOME=$work/home "$drive" "$password" "$2" -- "$tool" \
        -oCheckHostIP=no -oProtocol=2,1 "-oPort=$1" "$user@127.0.0.1"
}
openssh() {
    "$drive" - "$2" -- /usr/bin/sftp -i "$work/key" -P "$1" \
        -c "$cipher" -o "MACs=$mac" -o StrictHostKeyChecking=no \
        -o UserKnownHostsFile=/dev/null -o BatchMode=yes "$user@127.0.0.1"
}

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

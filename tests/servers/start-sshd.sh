#!/usr/bin/env bash
# start-sshd.sh DIR: OpenSSH's sshd on 127.0.0.1 and a free port, in the
# foreground, for the sftp tool's tests and benchmark.
#
# Leaves DIR/port once it accepts connections, DIR/credentials ("user
# password") and DIR/root, a link to the folder the user starts in. The user is
# a local account made here (idempotent; needs root, as CI runs). Files live
# outside the build tree so that the test user can reach them whatever the
# permissions of the folders above DIR. DIR/authorized_keys, when a caller
# fills it, admits keys (the benchmark logs OpenSSH's client in with one).
# ZARVEL_SFTP_SERVER, when set, names a program of ours to serve SFTP instead
# of OpenSSH's own (it is copied beside the user's files and run by Python).
# ZARVEL_SSHD_CIPHERS and ZARVEL_SSHD_MACS, when set, are all the server
# offers (a benchmark compares clients on one cipher). ZARVEL_SSHD_SUBSYSTEM
# "sftp-server" serves SFTP by OpenSSH's separate program rather than sshd's
# built-in one; ZARVEL_SSHD_FILES is the folder the user's files are made in
# (default /tmp; a benchmark puts them on tmpfs or on disk).
set -euo pipefail
dir=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
user=zarvel-sftp
password=zarvel-sftp-secret

if ! id -u "$user" >/dev/null 2>&1; then
    useradd -M -d / -s /bin/sh "$user" 2>/dev/null || id -u "$user" >/dev/null
fi
echo "$user:$password" | chpasswd
mkdir -p /run/sshd
chmod 0755 /run/sshd

files=$(mktemp -d "${ZARVEL_SSHD_FILES:-/tmp}/zarvel-sshd.XXXXXX")
chmod 0755 "$files"
mkdir -m 0755 "$files/home" "$files/keys"
chown "$user:" "$files/home"
touch "$files/keys/authorized_keys"
chmod 0644 "$files/keys/authorized_keys"
sftp="internal-sftp -d $files/home"
case ${ZARVEL_SSHD_SUBSYSTEM:-internal-sftp} in
internal-sftp) ;;
sftp-server) sftp="/usr/lib/openssh/sftp-server -d $files/home" ;;
*) echo "unknown ZARVEL_SSHD_SUBSYSTEM" >&2; exit 2 ;;
esac
if [ -n "${ZARVEL_SFTP_SERVER:-}" ]; then
    cp "$ZARVEL_SFTP_SERVER" "$files/keys/sftp-server.py"
    chmod 0644 "$files/keys/sftp-server.py"
    sftp="cd $files/home \&\& exec /usr/bin/python3 $files/keys/sftp-server.py"
fi
rm -rf "$dir/root"
ln -s "$files/home" "$dir/root"
ln -sf "$files/keys/authorized_keys" "$dir/authorized_keys"

rm -f "$dir/ssh_host_ed25519_key" "$dir/ssh_host_ed25519_key.pub"
ssh-keygen -q -t ed25519 -N '' -C zarvel-test-host -f "$dir/ssh_host_ed25519_key"

sshd_pid=
cleanup() {
    [ -n "$sshd_pid" ] && kill "$sshd_pid" 2>/dev/null
    [ -n "$sshd_pid" ] && wait "$sshd_pid" 2>/dev/null
    rm -rf "$files"
}
trap cleanup EXIT
trap 'exit 0' TERM INT HUP

free_port() {
    /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

for attempt in 1 2 3 4 5; do
    port=$(free_port)
    sed -e "s|@PORT@|$port|" -e "s|@DIR@|$dir|g" -e "s|@HOME@|$files/home|g" \
        -e "s|@KEYS@|$files/keys/authorized_keys|" -e "s|@USER@|$user|" \
        -e "s|@SFTP@|$sftp|g" \
        "$here/sshd/sshd_config.in" >"$dir/sshd_config"
    [ -z "${ZARVEL_SSHD_CIPHERS:-}" ] || echo "Ciphers $ZARVEL_SSHD_CIPHERS" >>"$dir/sshd_config"
    [ -z "${ZARVEL_SSHD_MACS:-}" ] || echo "MACs $ZARVEL_SSHD_MACS" >>"$dir/sshd_config"
    /usr/sbin/sshd -t -f "$dir/sshd_config"
    /usr/sbin/sshd -D -e -f "$dir/sshd_config" &
    sshd_pid=$!
    for _ in $(seq 100); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$user $password" >"$dir/credentials"
            echo "$port" >"$dir/port.tmp"
            mv "$dir/port.tmp" "$dir/port"
            wait "$sshd_pid" || true
            exit 0
        fi
        kill -0 "$sshd_pid" 2>/dev/null || break
        sleep 0.05
    done
    kill "$sshd_pid" 2>/dev/null || true
    wait "$sshd_pid" 2>/dev/null || true
    sshd_pid=
done
echo "sshd did not start" >&2
exit 1

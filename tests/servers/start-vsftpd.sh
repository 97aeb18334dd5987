#!/usr/bin/env bash
# start-vsftpd.sh DIR: vsftpd on 127.0.0.1 and a free port, in the foreground,
# with one local user (DIR/credentials) whose writable home is DIR/root.
# Needs root: it creates the system user and its PAM service once.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(cd "$1" && pwd)
user=zarvelftp
password=zarvel-vsftpd-secret

if [ "$(id -u)" -ne 0 ]; then
    echo "start-vsftpd.sh must run as root (it adds the test user $user)" >&2
    exit 1
fi
# useradd, chpasswd and vsftpd live in sbin, which a CI PATH may lack.
PATH=$PATH:/usr/sbin:/sbin
command -v vsftpd >/dev/null || { echo "vsftpd is not installed" >&2; exit 1; }

# A system user without a login shell, and a PAM service that checks only its
# password, so the user cannot log in anywhere but here.
# vsftpd changes into the home folder before local_root, so it must exist.
home=/var/lib/$user
if ! id "$user" >/dev/null 2>&1; then
    useradd --system --no-create-home --home-dir "$home" --shell /usr/sbin/nologin "$user"
fi
[ "$(getent passwd "$user" | cut -d: -f6)" = "$home" ] || usermod --home "$home" "$user"
mkdir -p "$home"
echo "$user:$password" | chpasswd
pam=/etc/pam.d/zarvel-vsftpd
want=$'auth required pam_unix.so\naccount required pam_unix.so\nsession required pam_permit.so'
if [ ! -f "$pam" ] || [ "$(cat "$pam")" != "$want" ]; then
    printf '%s\n' "$want" >"$pam.tmp" && mv "$pam.tmp" "$pam"
fi

mkdir -p "$dir/root" "$dir/empty"
chmod 755 "$dir" "$dir/empty"
chown "$user" "$dir/root"
chmod 755 "$dir/root"
echo "$user $password" >"$dir/credentials"

# A free port: ask the kernel for one, then hand it to vsftpd. Another process
# may take it in between, so try a few times.
for attempt in 1 2 3 4 5; do
    port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    sed -e "s|@DIR@|$dir|g" -e "s|@PORT@|$port|g" "$here/vsftpd/vsftpd.conf.in" >"$dir/vsftpd.conf"
    chmod 600 "$dir/vsftpd.conf"
    rm -f "$dir/port"
    # Write the port once vsftpd answers; server.sh waits for that file.
    (
        for _ in $(seq 100); do
            if /usr/bin/python3 -c 'import socket,sys; socket.create_connection(("127.0.0.1",int(sys.argv[1])),1).recv(64)' "$port" 2>/dev/null; then
                echo "$port" >"$dir/port.tmp" && mv "$dir/port.tmp" "$dir/port"
                exit 0
            fi
            sleep 0.05
        done
    ) &
    # vsftpd stays in the foreground; it returns early only when it could
    # not listen. Pass a stop on to it.
    vsftpd "$dir/vsftpd.conf" &
    server=$!
    trap 'kill "$server" 2>/dev/null; exit 0' TERM INT
    wait "$server" && exit 0
    trap - TERM INT
    wait || true
    echo "vsftpd could not use port $port, trying another" >&2
done
exit 1

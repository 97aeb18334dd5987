#!/usr/bin/env bash
# start-vsftpd.sh DIR: vsftpd on 127.0.0.1 and a free port, in the foreground,
# with one local user (DIR/credentials) whose writable home is DIR/root.
# Needs root: it creates the system user and its PAM service once.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(cd "$1" && pwd)
user=zarvelftp
password=zarvel-vsftpd-secret
. "$here/common.sh"
need_root "$user"
command -v vsftpd >/dev/null || { echo "vsftpd is not installed" >&2; exit 1; }

# A PAM service that checks only the user's password, so the user cannot log
# in anywhere but here. vsftpd changes into the home folder before
# local_root.
server_files "$dir" "$user" "$password"
pam=/etc/pam.d/zarvel-vsftpd
want=$'auth required pam_unix.so\naccount required pam_unix.so\nsession required pam_permit.so'
if [ ! -f "$pam" ] || [ "$(cat "$pam")" != "$want" ]; then
    printf '%s\n' "$want" >"$pam.tmp" && mv "$pam.tmp" "$pam"
fi

mkdir -p "$dir/empty"
chmod 755 "$dir/empty"

# A free port: ask the kernel for one, then hand it to vsftpd. Another process
# may take it in between, so try a few times.
for attempt in 1 2 3 4 5; do
    port=$(free_port)
    sed -e "s|@DIR@|$dir|g" -e "s|@PORT@|$port|g" "$here/vsftpd/vsftpd.conf.in" >"$dir/vsftpd.conf"
    chmod 600 "$dir/vsftpd.conf"
    serve "$dir" vsftpd vsftpd "$dir/vsftpd.conf"
done
exit 1

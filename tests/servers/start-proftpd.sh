#!/usr/bin/env bash
# start-proftpd.sh DIR: Debian's ProFTPD, unpacked beside the build, on
# 127.0.0.1 and a free port, in the foreground, with one user (DIR/credentials)
# whose writable home is DIR/root. Needs root: it creates the system user.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(cd "$1" && pwd)
user=zarvelpro
password=zarvel-proftpd-secret
. "$here/common.sh"
need_root "$user"
pkg=$(unpacked "${ZARVEL_SERVERS:-$(dirname "$dir")}/.debs/proftpd" proftpd-core)

# The system user only owns the files; the server logs in its own user.
server_files "$dir" "$user" "$password"
uid=$(id -u "$user")
gid=$(id -g "$user")
group=$(id -gn "$user")
echo "$user:$(crypt_hash "$password"):$uid:$gid::$dir/root:/bin/sh" >"$dir/passwd"
echo "$group:x:$gid:" >"$dir/group"
chmod 600 "$dir/passwd" "$dir/group"

for attempt in 1 2 3 4 5; do
    port=$(free_port)
    sed -e "s|@DIR@|$dir|g" -e "s|@PORT@|$port|g" -e "s|@USER@|$user|g" -e "s|@GROUP@|$group|g" \
        "$here/proftpd/proftpd.conf.in" >"$dir/proftpd.conf"
    serve "$dir" proftpd "$pkg/usr/sbin/proftpd" --nodaemon --config "$dir/proftpd.conf"
done
exit 1

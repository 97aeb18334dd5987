#!/usr/bin/env bash
# start-pureftpd.sh DIR: Debian's Pure-FTPd, unpacked beside the build, on
# 127.0.0.1 and a free port, in the foreground, with one virtual user
# (DIR/credentials) whose writable home is DIR/root, owned by a system user
# without a login. Needs root: it creates that system user.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(cd "$1" && pwd)
user=zarvelpure
password=zarvel-pureftpd-secret
. "$here/common.sh"
need_root "$user"
pkg=$(unpacked "${ZARVEL_SERVERS:-$(dirname "$dir")}/.debs/pure-ftpd" pure-ftpd pure-ftpd-common)

# The system user only owns the files; the server logs in its own user.
server_files "$dir" "$user" "$password"
# Its own user database (the system's would need a login shell), confined
# to its home ("/./").
echo "$user:$(crypt_hash "$password"):$(id -u "$user"):$(id -g "$user")::$dir/root/./::::::::::::" \
    >"$dir/pureftpd.passwd"
rm -f "$dir/pureftpd.pdb"
"$pkg/usr/bin/pure-pw" mkdb "$dir/pureftpd.pdb" -f "$dir/pureftpd.passwd"

# None anonymous, system users let in (-u 1), no host names looked up.
for attempt in 1 2 3 4 5; do
    port=$(free_port)
    serve "$dir" pure-ftpd "$pkg/usr/sbin/pure-ftpd" -S "127.0.0.1,$port" \
        -l "puredb:$dir/pureftpd.pdb" -E -u 1 -H -c 200 -C 200 -I 5 -U 022:022 \
        -g "$dir/pure-ftpd.pid"
done
exit 1

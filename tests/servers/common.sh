# Sourced by the start scripts of the FTP servers that log in a local user.
# Needs root. useradd, chpasswd and the servers live in sbin, which a CI PATH
# may lack.
PATH=$PATH:/usr/sbin:/sbin

need_root() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "$(basename "$0") must run as root (it adds the test user $1)" >&2
        exit 1
    fi
}

# test_user USER PASSWORD HOME: a system user without a login shell, with
# that password and home folder (which must exist).
test_user() {
    if ! id "$1" >/dev/null 2>&1; then
        useradd --system --no-create-home --home-dir "$3" --shell /usr/sbin/nologin "$1"
    fi
    [ "$(getent passwd "$1" | cut -d: -f6)" = "$3" ] || usermod --home "$3" "$1"
    echo "$1:$2" | chpasswd
}

# server_files DIR USER PASSWORD: the system user USER (home /var/lib/USER,
# made here) with that password owns DIR/root, the server's files;
# DIR/credentials says who logs in.
server_files() {
    mkdir -p "$1/root" "/var/lib/$2"
    chmod 755 "$1"
    test_user "$2" "$3" "/var/lib/$2"
    chown "$2" "$1/root"
    chmod 755 "$1/root"
    echo "$2 $3" >"$1/credentials"
}

# unpacked DIR PACKAGE...: Debian's packages fetched and unpacked (not
# installed) into DIR once; prints DIR. Some FTP servers conflict with vsftpd
# as installed packages, yet run fine as private instances from there.
unpacked() {
    local dest=$1
    shift
    if [ ! -f "$dest/.done" ]; then
        rm -rf "$dest" "$dest.fetch"
        mkdir -p "$dest.fetch"
        (cd "$dest.fetch" && { apt-get download "$@" >/dev/null 2>&1 ||
            { apt-get update -qq && apt-get download "$@" >/dev/null; }; })
        for deb in "$dest.fetch"/*.deb; do dpkg -x "$deb" "$dest"; done
        rm -rf "$dest.fetch"
        touch "$dest/.done"
    fi
    echo "$dest"
}

# crypt_hash PASSWORD: a SHA-512 crypt hash, quick to check (the servers'
# own tools choose hashes that cost seconds at every login).
crypt_hash() {
    /usr/bin/python3 -W ignore -c 'import crypt,sys; print(crypt.crypt(sys.argv[1], crypt.mksalt(crypt.METHOD_SHA512)))' "$1"
}

free_port() {
    /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# serve DIR NAME COMMAND...: runs COMMAND (a server in the foreground that
# listens on $port, which the caller picked) and writes DIR/port once it
# answers, which server.sh waits for. Returns when the server could not
# listen; exits when it ended by itself or was stopped.
serve() {
    local dir=$1 name=$2
    shift 2
    rm -f "$dir/port"
    (
        for _ in $(seq 100); do
            if /usr/bin/python3 -c 'import socket,sys; socket.create_connection(("127.0.0.1",int(sys.argv[1])),1).recv(64)' "$port" 2>/dev/null; then
                echo "$port" >"$dir/port.tmp" && mv "$dir/port.tmp" "$dir/port"
                exit 0
            fi
            sleep 0.05
        done
    ) &
    "$@" &
    server=$!
    trap 'kill "$server" 2>/dev/null; exit 0' TERM INT
    wait "$server" && exit 0
    trap - TERM INT
    wait || true
    echo "$name could not use port $port, trying another" >&2
}

#!/bin/sh
# The real program under a virtual X server opens an exported bookmark file
# for the pyftpdlib test server: the browser window must appear on that
# server's folder. Saves BUILD_DIR/screenshots/program-browser.png; fails
# when the window does not appear.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
program="$build/bin/zarvel"
maker="$build/bin/browser_make_bookmark"
servers=${ZARVEL_SERVERS:?run through ctest}
for tool in Xvfb xwininfo import; do
    command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/zarvel-program.XXXXXX")
root="$servers/pyftpd/root/home"
folder="program-$$"
trap 'rm -rf "$work" "$root/$folder"' EXIT
mkdir -p "$work/config/Zarvel" "$work/tmp" "$build/screenshots" "$root/$folder/docs"
printf 'hello\n' > "$root/$folder/hello.txt"
ln -s docs "$root/$folder/shortcut"
port=$(cat "$servers/pyftpd/port")
file=$("$maker" "Test server" 127.0.0.1 "$port" zarvel zarvel-secret "$folder" "$work")


status=0
env XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp" HOME="$work" QT_QPA_PLATFORM=xcb \
    sh "$here/../support/with_x.sh" --screen 900x600x24 "$here/../support/shoot_program.sh" 127.0.0.1 \
    "$build/screenshots/program-browser.png" "$work" 2 "$program" "$file" || status=$?
if [ $status -ne 0 ]; then
    echo "the browser window did not appear" >&2
    cat "$work/program.log" >&2 2>/dev/null || true
    exit 1
fi
echo "saved $build/screenshots/program-browser.png"

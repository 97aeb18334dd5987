#!/bin/sh
# The real program under a virtual X server opens an exported bookmark file
# for the pyftpdlib test server: the browser window must appear on that
# server's folder. Saves BUILD_DIR/screenshots/program-browser.png; fails
# when the window does not appear.
set -eu
if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
program="$build/bin/zarvel"
maker="$build/bin/browser_make_bookmark"
servers=${ZARVEL_SERVERS:?run through ctest}
for tool in xvfb-run xwininfo import; do
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

cat > "$work/run.sh" <<'INNER'
#!/bin/sh
program=$1 file=$2 out=$3 work=$4
"$program" "$file" > "$work/program.log" 2>&1 &
pid=$!
shown=no
i=0
while [ $i -lt 150 ]; do
    # The browser window is titled with the server's host.
    if xwininfo -root -tree 2>/dev/null | grep -q '"127.0.0.1"'; then
        shown=yes
        break
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
    i=$((i + 1))
done
status=1
if [ $shown = yes ]; then
    sleep 2 # the listing and the drawing
    import -window root "$out" && status=0
fi
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
exit $status
INNER
chmod +x "$work/run.sh"

status=0
env XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp" HOME="$work" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 900x600x24" "$work/run.sh" "$program" "$file" \
    "$build/screenshots/program-browser.png" "$work" || status=$?
if [ $status -ne 0 ]; then
    echo "the browser window did not appear" >&2
    cat "$work/program.log" >&2 2>/dev/null || true
    exit 1
fi
echo "saved $build/screenshots/program-browser.png"

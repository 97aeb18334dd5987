#!/bin/sh
# Installs the build into a staging folder (DESTDIR and an unusual prefix),
# checks that everything the program needs is there, and runs the installed
# program: without its interface files it must fail and say what is
# missing; under a virtual display it must show its bookmark window, take a
# second start's hand-over, survive a bad file handed over (its alert
# answered with Return, when xdotool is there), and quit cleanly on SIGTERM.
set -eu
if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
for tool in Xvfb xwininfo; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (packages xvfb, x11-utils)" >&2; exit 2; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/zarvel-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=/opt/zarvel-staged
DESTDIR="$work/stage" cmake --install "$build" --prefix "$prefix" >"$work/install.log"
root="$work/stage$prefix"
for file in bin/zarvel libexec/zarvel/sftp \
    share/zarvel/Resources/MenuBar.ui share/zarvel/Resources/ConnectWindow.ui \
    share/zarvel/Resources/ConnectSheet.ui share/zarvel/Resources/PreferencesWindow.ui \
    share/zarvel/Resources/bookmark.png share/zarvel/icons/zarvel-48.png \
    share/applications/zarvel.desktop share/mime/packages/zarvel.xml \
    share/icons/hicolor/48x48/apps/zarvel.png share/icons/hicolor/256x256/apps/zarvel.png \
    share/icons/hicolor/scalable/apps/zarvel.svg; do
    [ -e "$root/$file" ] || { echo "not installed: $file" >&2; exit 1; }
done
program="$root/bin/zarvel"
mkdir -p "$work/config" "$work/tmp"

# Without its interface files: a failure that names what is missing.
status=0
env XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp" HOME="$work" QT_QPA_PLATFORM=offscreen \
    ZARVEL_RESOURCES="$work/nothing" "$program" --quit-after-start 2>"$work/missing.log" || status=$?
if [ $status -eq 0 ] || ! grep -q 'ConnectWindow.ui' "$work/missing.log"; then
    echo "a start without interface files did not fail with a message (status $status)" >&2
    cat "$work/missing.log" >&2
    exit 1
fi

# Offscreen: starts with its bookmark window and quits cleanly.
env XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp" HOME="$work" QT_QPA_PLATFORM=offscreen \
    "$program" --quit-after-start >"$work/offscreen.log" 2>&1 || {
    echo "the installed program failed offscreen" >&2
    cat "$work/offscreen.log" >&2
    exit 1
}

cat > "$work/run.sh" <<'INNER'
#!/bin/sh
program=$1 work=$2
windows() { xwininfo -root -tree 2>/dev/null | grep -c '"Bookmarks"' || true; }
"$program" > "$work/program.log" 2>&1 &
pid=$!
i=0
while [ "$(windows)" -lt 1 ]; do
    kill -0 "$pid" 2>/dev/null || { echo "the installed program ended early" >&2; exit 1; }
    i=$((i + 1))
    [ $i -lt 300 ] || { echo "no bookmark window" >&2; kill "$pid"; exit 1; }
    sleep 0.2
done
# A second start hands over to the running program and ends at once.
"$program" > "$work/second.log" 2>&1 || { echo "the second start failed" >&2; kill "$pid"; exit 1; }
[ "$(windows)" -eq 1 ] || { echo "a second bookmark window appeared" >&2; kill "$pid"; exit 1; }
# A file that is no bookmark, handed over: the running program shows its
# alert; answered with Return, it goes on and still takes hand-overs.
if command -v xdotool >/dev/null; then
    : > "$work/empty.zarvel"
    "$program" "$work/empty.zarvel" > "$work/third.log" 2>&1 || { echo "the hand-over failed" >&2; kill "$pid"; exit 1; }
    # The alert sits on the bookmark window and is titled after it.
    main=$(xdotool search --onlyvisible --name '^Bookmarks$' 2>/dev/null | head -n 1)
    i=0
    until id=$(xdotool search --onlyvisible --name '^Bookmarks$' 2>/dev/null | grep -vx "$main" | head -n 1) && [ -n "$id" ]; do
        i=$((i + 1))
        [ $i -lt 150 ] || { echo "no alert for the bad file" >&2; kill "$pid"; exit 1; }
        sleep 0.2
    done
    sleep 0.5
    xdotool windowfocus --sync "$id" key Return
    i=0
    while xdotool search --onlyvisible --name '^Bookmarks$' 2>/dev/null | grep -qx "$id"; do
        i=$((i + 1))
        [ $i -lt 150 ] || { echo "the alert did not go on Return" >&2; kill "$pid"; exit 1; }
        sleep 0.2
    done
    kill -0 "$pid" 2>/dev/null || { echo "the program died after the alert" >&2; exit 1; }
    "$program" > "$work/fourth.log" 2>&1 || { echo "no hand-over after the alert" >&2; kill "$pid"; exit 1; }
fi
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
[ $status -eq 0 ] || { echo "the program ended with status $status on SIGTERM" >&2; exit 1; }
INNER
chmod +x "$work/run.sh"
env XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp" HOME="$work" QT_QPA_PLATFORM=xcb \
    sh "$here/../support/with_x.sh" --screen 800x500x24 "$work/run.sh" "$program" "$work" || {
    cat "$work/program.log" >&2 2>/dev/null || true
    exit 1
}
echo "installed tree runs from $prefix"

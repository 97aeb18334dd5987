#!/bin/sh
# Runs the drag test DRIVER against a real file manager: a virtual X server
# with a window manager (openbox), PCManFM showing an empty folder and its
# Trash (through gvfs, on a D-Bus session of its own) at the right of the
# screen, all with a private home that is removed afterwards. Pictures go to
# BUILD_DIR/screenshots.
set -eu
if [ $# -ne 2 ]; then
    echo "usage: $0 DRIVER BUILD_DIR" >&2
    exit 2
fi
driver=$1
build=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
for tool in Xvfb dbus-run-session openbox pcmanfm xdotool xprop import; do
    command -v "$tool" >/dev/null ||
        { echo "$tool is missing (scripts/packages/drag.txt)" >&2; exit 2; }
done
mkdir -p "$build/screenshots"
work=$(mktemp -d "${TMPDIR:-/tmp}/zarvel-drag.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home/Downloads" "$work/config" "$work/data" "$work/cache" "$work/run"
chmod 700 "$work/run"

cat > "$work/session.sh" <<'INNER'
#!/bin/sh
# Inside the X server and the D-Bus session.
driver=$1 work=$2
log="$work/session.log"
pids=""
# A file manager the driver stopped and left stopped ends too.
trap 'kill -CONT $pids 2>/dev/null; kill $pids 2>/dev/null || true' EXIT

# Waits (up to 30 s) for a window titled exactly TITLE; prints its id.
window() {
    i=0
    while [ $i -lt 150 ]; do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.2
        i=$((i + 1))
    done
    echo "no window \"$1\" appeared" >&2
    return 1
}
# Places window ID at X Y, W x H; prints a point well inside its file view
# (right of the side pane, below where the first icons go), then one in the
# empty lower part of its side pane.
place() {
    xdotool windowsize "$1" "$4" "$5" windowmove "$1" "$2" "$3"
    sleep 0.5
    eval "$(xdotool getwindowgeometry --shell "$1")"
    echo "$((X + WIDTH * 3 / 4)) $((Y + HEIGHT * 3 / 4)) $((X + 60)) $((Y + HEIGHT * 3 / 4))"
}

openbox >>"$log" 2>&1 &
pids="$pids $!"
i=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
    [ $i -lt 150 ] || { echo "the window manager did not start" >&2; exit 1; }
    sleep 0.2
    i=$((i + 1))
done
pcmanfm -n "$HOME/Downloads" >>"$log" 2>&1 &
ZARVEL_FILE_MANAGER_PID=$!
pids="$pids $!"
folder=$(window Downloads) || exit 1
pcmanfm -n trash:/// >>"$log" 2>&1 &
trash=$(window trash:///) || exit 1
set -- $(place "$folder" 1170 40 420 440)
ZARVEL_DROP_AT="$1 $2" ZARVEL_SIDE_PANE_AT="$3 $4"
set -- $(place "$trash" 1170 520 420 440)
ZARVEL_TRASH_AT="$1 $2"
export ZARVEL_DROP_AT ZARVEL_SIDE_PANE_AT ZARVEL_TRASH_AT ZARVEL_FILE_MANAGER_PID
"$driver"
INNER

status=0
env HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
    XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work" \
    QT_QPA_PLATFORM=xcb ZARVEL_DROP_FOLDER="$work/home/Downloads" \
    ZARVEL_SCREENSHOTS="$build/screenshots" \
    dbus-run-session -- sh "$here/../support/with_x.sh" --screen 1600x1000x24 \
    sh "$work/session.sh" "$driver" "$work" || status=$?
if [ $status -ne 0 ]; then
    echo "--- file manager and window manager output:" >&2
    cat "$work/session.log" >&2 2>/dev/null || true
fi
exit $status

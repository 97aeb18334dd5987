#!/bin/sh
# with_x.sh [--screen WxHxD] [--wm] COMMAND...: runs COMMAND on a virtual X
# server of its own (Xvfb, 1024x768x24 unless told), with --wm under a real
# window manager (openbox), started first and stopped after. The server picks
# a free display itself (-displayfd), so that many may start at once: numbers
# guessed beforehand (xvfb-run -a) collide.
set -eu
screen=1024x768x24 withWM=
while [ $# -gt 0 ]; do
    case $1 in
    --screen) screen=$2; shift 2 ;;
    --wm) withWM=1; shift ;;
    *) break ;;
    esac
done
for tool in Xvfb xprop ${withWM:+openbox}; do
    command -v $tool >/dev/null || { echo "$tool is missing (packages xvfb, openbox, x11-utils)" >&2; exit 2; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/zarvel-wm.XXXXXX")
xvfb= wm=
stop() {
    for pid in $wm $xvfb; do
        kill $pid 2>/dev/null || true
        wait $pid 2>/dev/null || true
    done
    rm -rf "$work"
}
trap stop EXIT
# started WHAT PID LOG TEST...: waits until TEST succeeds; fails with LOG
# when PID has ended or 30 s have gone.
started() {
    what=$1 pid=$2 log=$3
    shift 3
    i=0
    until "$@"; do
        i=$((i + 1))
        if [ $i -gt 300 ] || ! kill -0 "$pid" 2>/dev/null; then
            echo "$what did not start:" >&2
            cat "$log" >&2
            exit 2
        fi
        sleep 0.1
    done
}
# The display number arrives once the server accepts connections.
numbered() { grep -q '^[0-9][0-9]*$' "$work/display" 2>/dev/null; }
# Managed once the window manager has announced itself on the root window.
managed() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
started Xvfb $xvfb "$work/xvfb.log" numbered
DISPLAY=:$(cat "$work/display")
export DISPLAY
unset XAUTHORITY
if [ -n "$withWM" ]; then
    openbox --sm-disable --config-file /dev/null >"$work/openbox.log" 2>&1 &
    wm=$!
    started openbox $wm "$work/openbox.log" managed
fi
status=0
"$@" || status=$?
exit $status

#!/bin/sh
# with_wm.sh COMMAND...: runs COMMAND on the current X display under a real
# window manager (openbox), started first and stopped after. Run it inside
# xvfb-run.
set -eu
command -v openbox >/dev/null || { echo "openbox is missing (package openbox)" >&2; exit 2; }
config=$(mktemp -d "${TMPDIR:-/tmp}/zarvel-wm.XXXXXX")
openbox --sm-disable --config-file /dev/null >"$config/log" 2>&1 &
wm=$!
trap 'kill $wm 2>/dev/null || true; wait $wm 2>/dev/null || true; rm -rf "$config"' EXIT
# Managed once the window manager has announced itself on the root window.
i=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
    i=$((i + 1))
    if [ $i -gt 100 ] || ! kill -0 $wm 2>/dev/null; then
        echo "openbox did not start:" >&2
        cat "$config/log" >&2
        exit 2
    fi
    sleep 0.1
done
status=0
"$@" || status=$?
exit $status

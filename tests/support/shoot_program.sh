#!/bin/sh
# Runs inside a virtual display: shoot_program.sh TITLE OUT WORK SETTLE
# PROGRAM [ARGS...] starts PROGRAM (its output in WORK/program.log), waits up
# to 30 s for a window titled TITLE, lets it draw for SETTLE seconds and saves
# the screen to OUT. With SHOOT_MENU set (and xdotool there) it also saves the
# window with its first menu open (F10) beside OUT as "-menu.png". Fails when
# the window does not appear.
title=$1 out=$2 work=$3 settle=$4
shift 4
"$@" > "$work/program.log" 2>&1 &
pid=$!
shown=no
i=0
while [ $i -lt 150 ]; do
    if xwininfo -root -tree 2>/dev/null | grep -qF "\"$title\""; then
        shown=yes
        break
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
    i=$((i + 1))
done
status=1
if [ $shown = yes ]; then
    sleep "$settle"
    import -window root "$out" && status=0
    if [ $status -eq 0 ] && [ -n "${SHOOT_MENU:-}" ] && command -v xdotool >/dev/null; then
        id=$(xdotool search --name "^$title\$" | head -n 1)
        xdotool windowfocus --sync "$id" key F10
        sleep 1
        import -window root "${out%.png}-menu.png" || status=1
        xdotool key Escape
    fi
fi
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
exit $status

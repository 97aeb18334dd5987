#!/usr/bin/env bash
# server.sh start|stop NAME DIR: start or stop one test server on 127.0.0.1.
# A started server leaves DIR/NAME/port (the port it listens on), DIR/NAME/root
# (its files) and DIR/NAME/pid. Each server kind has a start-NAME.sh beside this.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
action=$1 name=$2 dir=$3/$2
stop() {
    if [ -f "$dir/pid" ]; then
        pid=$(cat "$dir/pid")
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
        rm -f "$dir/pid"
    fi
}
case $action in
start)
    stop
    rm -rf "$dir"
    mkdir -p "$dir/root"
    # The start script runs the server in the foreground of a new session.
    setsid "$here/start-$name.sh" "$dir" >"$dir/log" 2>&1 </dev/null &
    echo $! >"$dir/pid"
    for _ in $(seq 200); do
        [ -s "$dir/port" ] && exit 0
        kill -0 "$(cat "$dir/pid")" 2>/dev/null || break
        sleep 0.05
    done
    echo "server $name did not start:" >&2
    cat "$dir/log" >&2
    exit 1
    ;;
stop) stop ;;
*) echo "usage: $0 start|stop NAME DIR" >&2; exit 2 ;;
esac

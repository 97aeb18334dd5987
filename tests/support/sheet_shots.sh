#!/bin/sh
# Runs a picture program under a virtual X server with a private
# configuration; the pictures go to BUILD_DIR/screenshots. SCREEN is the
# virtual screen's WIDTHxHEIGHTxDEPTH. Fails when a window does not appear.
set -eu
if [ $# -ne 3 ]; then
    echo "usage: $0 PROGRAM BUILD_DIR SCREEN" >&2
    exit 2
fi
program=$1
out=$(cd "$2" && pwd)/screenshots
screen=$3
for tool in Xvfb xwininfo import; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (packages xvfb, x11-utils, imagemagick)" >&2; exit 2; }
done
mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/zarvel-sheets.XXXXXX")
trap 'rm -rf "$work"' EXIT
env XDG_CONFIG_HOME="$work" HOME="$work" QT_QPA_PLATFORM=xcb \
    sh "$(dirname "$0")/with_x.sh" --screen "$screen" "$program" "$out"

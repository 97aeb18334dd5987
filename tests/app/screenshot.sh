#!/bin/sh
# Starts the real program under a virtual X server with a private
# configuration, waits for the bookmark window, saves a picture of the
# screen to BUILD_DIR/screenshots/connect-window.png (and, with xdotool,
# connect-window-menu.png with the File menu open) and quits the program.
# Fails when the window does not appear.
set -eu
here=$(cd "$(dirname "$0")" && pwd)

if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
program="$build/bin/zarvel"
[ -x "$program" ] || { echo "no program at $program" >&2; exit 2; }
for tool in Xvfb xwininfo import; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (packages xvfb, x11-utils, imagemagick)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/zarvel-shot.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config/Zarvel" "$work/tmp" "$build/screenshots"

# A few bookmarks, as a plain property list (the program reads that too).
cat > "$work/config/Zarvel/Zarvel Bookmarks" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<array>
	<dict>
		<key>BookmarkName</key><string>Home server</string>
		<key>BookmarkHost</key><string>192.168.1.20</string>
		<key>BookmarkUsername</key><string>anna</string>
		<key>BookmarkPassword</key><string></string>
		<key>BookmarkAccount</key><string></string>
		<key>BookmarkDir</key><string>/srv/files</string>
		<key>BookmarkPort</key><integer>22</integer>
		<key>BookmarkPassive</key><true/>
		<key>BookmarkSecure</key><true/>
	</dict>
	<dict>
		<key>BookmarkName</key><string>archive mirror</string>
		<key>BookmarkHost</key><string>ftp.example.org</string>
		<key>BookmarkUsername</key><string></string>
		<key>BookmarkPassword</key><string></string>
		<key>BookmarkAccount</key><string></string>
		<key>BookmarkDir</key><string>/pub</string>
		<key>BookmarkPort</key><integer>21</integer>
		<key>BookmarkPassive</key><true/>
		<key>BookmarkSecure</key><false/>
	</dict>
	<dict>
		<key>BookmarkName</key><string>Build box</string>
		<key>BookmarkHost</key><string>sftp://ci@build.example.net:2200/home/ci</string>
		<key>BookmarkUsername</key><string></string>
		<key>BookmarkPassword</key><string></string>
		<key>BookmarkAccount</key><string></string>
		<key>BookmarkDir</key><string></string>
		<key>BookmarkPort</key><integer>22</integer>
		<key>BookmarkPassive</key><true/>
		<key>BookmarkSecure</key><true/>
	</dict>
</array>
</plist>
PLIST


status=0
env XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp" HOME="$work" QT_QPA_PLATFORM=xcb \
    SHOOT_MENU=1 sh "$here/../support/with_x.sh" --screen 800x500x24 "$here/../support/shoot_program.sh" \
    Bookmarks "$build/screenshots/connect-window.png" "$work" 1 "$program" || status=$?
if [ $status -ne 0 ]; then
    echo "the bookmark window did not appear" >&2
    cat "$work/program.log" >&2 2>/dev/null || true
    exit 1
fi
echo "saved $build/screenshots/connect-window.png"

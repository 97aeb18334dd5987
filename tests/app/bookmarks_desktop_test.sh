#!/bin/sh
# The desktop entry is valid and names the two bookmark types; the MIME
# description compiles and maps each extension to its own type.
set -eu
src=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/zarvel-mime.XXXXXX")
trap 'rm -rf "$work"' EXIT

if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$src/resources/zarvel.desktop"
fi
grep -q '^MimeType=application/x-zarvel-bookmark;application/x-zarvel-sync-bookmark;$' \
    "$src/resources/zarvel.desktop"
grep -q '^Exec=zarvel %F$' "$src/resources/zarvel.desktop"

mkdir -p "$work/mime/packages"
cp "$src/resources/zarvel-mime.xml" "$work/mime/packages/zarvel.xml"
update-mime-database "$work/mime"
grep -q ':application/x-zarvel-bookmark:\*\.zarvel$' "$work/mime/globs2"
grep -q ':application/x-zarvel-sync-bookmark:\*\.sync\.zarvel$' "$work/mime/globs2"
echo ok

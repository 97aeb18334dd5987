#!/usr/bin/env bash
# Installs what is missing, builds, and starts Zarvel.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
"$src/scripts/deps.sh"
"$src/scripts/build.sh" "$src/build"
exec "$src/build/bin/zarvel" "$@"

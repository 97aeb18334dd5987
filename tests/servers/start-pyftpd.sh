#!/usr/bin/env bash
# Debian's pyftpdlib is installed for the system Python, not for whatever python3 is first on PATH.
exec /usr/bin/python3 "$(dirname "$0")/pyftpd.py" --root "$1/root" --portfile "$1/port"

#!/usr/bin/env bash
# start-sftpfault.sh DIR: sshd as start-sshd.sh starts it, but its SFTP
# service is our fault-injecting server (tests/tools/fault_sftp_server.py).
here=$(cd "$(dirname "$0")" && pwd)
ZARVEL_SFTP_SERVER="$here/../tools/fault_sftp_server.py" exec "$here/start-sshd.sh" "$1"

"""A pyftpdlib server on 127.0.0.1 for the tests: one user with a password,
anonymous read-only access, and the port it got written to a file."""
import argparse
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import ActiveDTP, FTPHandler
from pyftpdlib.servers import FTPServer


class HandedOverActiveDTP(ActiveDTP):
    """pyftpdlib keeps the PORT connector after it has handed its socket to
    the data channel and closes it again at the next PORT, ABOR or logout.
    By then the descriptor may belong to another session, which that close
    takes out of the shared IO loop: the session never hears from the server
    again. Once handed over, the connector has nothing left to close."""

    def handle_connect(self):
        super().handle_connect()
        self._closed = True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--portfile", required=True)
    ap.add_argument("--user", default="zarvel")
    ap.add_argument("--password", default="zarvel-secret")
    a = ap.parse_args()

    anon = os.path.join(a.root, "anon")
    home = os.path.join(a.root, "home")
    os.makedirs(anon, exist_ok=True)
    os.makedirs(home, exist_ok=True)

    auth = DummyAuthorizer()
    auth.add_user(a.user, a.password, home, perm="elradfmwMT")
    auth.add_anonymous(anon)

    class Handler(FTPHandler):
        authorizer = auth
        banner = "Zarvel test server ready."
        timeout = 120
        active_dtp = HandedOverActiveDTP

    server = FTPServer(("127.0.0.1", 0), Handler)
    server.max_cons = 512
    server.max_cons_per_ip = 512
    port = server.socket.getsockname()[1]
    tmp = a.portfile + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % port)
    os.rename(tmp, a.portfile)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    sys.exit(main())

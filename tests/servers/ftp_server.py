#!/usr/bin/python3
"""FTP server for the tests: one user with full rights on --root, 127.0.0.1 only.

Prints "LISTENING <port>" once ready and serves until SIGTERM/SIGINT.
"""

import argparse
import logging
import os
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--root", required=True, help="the user's home folder (must exist)")
    ap.add_argument("--user", default="kelvane")
    ap.add_argument("--password", default="")
    ap.add_argument("--rate", type=int, default=0, help="upload bytes per second; 0: no limit")
    ap.add_argument("--no-rename", action="store_true", help="refuse every rename")
    args = ap.parse_args()

    if not os.path.isdir(args.root):
        sys.exit("ftp_server: root folder does not exist: %s" % args.root)

    # pyftpdlib would otherwise log every command to stderr.
    logging.basicConfig(stream=sys.stderr, level=logging.WARNING)
    logging.getLogger("pyftpdlib").setLevel(logging.WARNING)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, os.path.realpath(args.root), perm="elradmwMT" if args.no_rename else "elradfmwMT")

    class Handler(FTPHandler):
        pass

    if args.rate:
        ThrottledDTPHandler.read_limit = args.rate
        Handler.dtp_handler = ThrottledDTPHandler

    Handler.authorizer = authorizer
    Handler.banner = "Kelvane test FTP server ready."
    # Keep the refusal prompt; the default 3 s delay only slows the tests.
    Handler.auth_failed_timeout = 0.1
    # Passive data sockets bind to the control connection's address
    # (127.0.0.1) on ports the kernel picks, so parallel tests don't collide.

    server = FTPServer(("127.0.0.1", args.port), Handler)

    def stop(signum, frame):
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    print("LISTENING %d" % server.address[1], flush=True)
    server.serve_forever(handle_exit=True)
    sys.exit(0)


if __name__ == "__main__":
    main()

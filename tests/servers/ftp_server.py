#!/usr/bin/python3
"""FTP server for the tests: one user with full rights on --root, on 127.0.0.1.
Prints "LISTENING <port> <pid>" once ready."""

import argparse
import logging
import os
import signal

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

ap = argparse.ArgumentParser(description=__doc__)
ap.add_argument("--root", required=True)
ap.add_argument("--user", default="kelvane")
ap.add_argument("--password", default="")
ap.add_argument("--no-rename", action="store_true", help="refuse every rename")
ap.add_argument("--trickle", action="store_true", help="read uploads at 256 bytes a second, never stalling")
ap.add_argument("--short", action="store_true",
                help="answer 226 to an upload and keep only half of what came")
ap.add_argument("--empty", action="store_true", help="answer 226 to an upload and keep nothing")
ap.add_argument("--no-size", action="store_true", help="answer SIZE as an unknown command")
ap.add_argument("--size-plus-one", action="store_true",
                help="answer SIZE with one byte more than the file holds (a download cut short)")
ap.add_argument("--size-changes", action="store_true",
                help="once a download ended, SIZE says one byte more (the file replaced)")
args = ap.parse_args()
logging.basicConfig(level=logging.WARNING)
FTPHandler.authorizer = DummyAuthorizer()
FTPHandler.authorizer.add_user(args.user, args.password, os.path.realpath(args.root),
                               "elradmwMT" if args.no_rename else "elradfmwMT")
FTPHandler.auth_failed_timeout = 0.1
if args.trickle:
    ThrottledDTPHandler.read_limit = 256  # its reads shrink to match: 256 bytes at a time
    FTPHandler.dtp_handler = ThrottledDTPHandler
if args.short or args.empty:
    # Runs before the next command is read: whatever follows the 226 sees the short file.
    FTPHandler.on_file_received = lambda self, arquivo: os.truncate(
        arquivo, 0 if args.empty else os.path.getsize(arquivo) // 2)
if args.no_size:
    FTPHandler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items() if k != "SIZE"}
if args.size_plus_one:
    FTPHandler.ftp_SIZE = lambda self, path: self.respond("213 %d" % (os.path.getsize(path) + 1))
if args.size_changes:
    enviados = []
    FTPHandler.on_file_sent = lambda self, path: enviados.append(path)
    FTPHandler.ftp_SIZE = lambda self, path: self.respond(
        "213 %d" % (os.path.getsize(path) + (path in enviados)))
server = FTPServer(("127.0.0.1", 0), FTPHandler)
signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
print("LISTENING %d %d" % (server.address[1], os.getpid()), flush=True)
server.serve_forever()

#!/usr/bin/python3
"""TDS 7.4 database stand-in on 127.0.0.1 (or --host): one SQL login, BACKUP DATABASE writes the file,
RESTORE VERIFYONLY reads it back against what was written. Prints "LISTENING <port> <pid>" once
ready."""

import argparse
import contextlib
import ctypes
import fcntl
import hashlib
import os
import re
import select
import signal
import socket
import struct
import threading
import time

ERROR, INFO, LOGINACK, ENVCHANGE, DONE = 0xAA, 0xAB, 0xAD, 0xE3, 0xFD
DONE_MORE, DONE_ERROR = 0x01, 0x02
OPTION = r"\w+(?:\s*=\s*(?:N'(?:[^']|'')*'|\w+))?"
BACKUP = re.compile(r"BACKUP\s+DATABASE\s+\[((?:[^\]]|\]\])*)\]\s+TO\s+DISK\s*=\s*N'((?:[^']|'')*)'"
                    r"(?:\s+WITH\s+(%s(?:\s*,\s*%s)*))?\s*;?\s*" % (OPTION, OPTION), re.I)
VERIFY = re.compile(r"RESTORE\s+VERIFYONLY\s+FROM\s+DISK\s*=\s*N'((?:[^']|'')*)'"
                    r"(?:\s+WITH\s+(%s(?:\s*,\s*%s)*))?\s*;?\s*" % (OPTION, OPTION), re.I)
PAGE = 8192
ap = argparse.ArgumentParser(description=__doc__)
ap.add_argument("--user", default="sa")
ap.add_argument("--password", default="")
ap.add_argument("--database", default="Vendas", help="the one besides master")
ap.add_argument("--backup-size", type=int, default=1 << 20)
# express: no COMPRESSION (1844); fail: 3202 at 30 %; drop: hangs up at 30 %;
# slow: 0.2 s per tenth; mute: accepts and never answers; trickle: the login reply one byte
# every 2 s; silent: says nothing more after 10 % (connection open); lock: the backup's account
# holds the flock on the backup's folder from then on; corrupt: spoils one page of the file once
# the backup succeeded; silent-verify: RESTORE VERIFYONLY says nothing more after 10 %
ap.add_argument("--mode", default="normal", choices=["normal", "express", "fail", "drop", "slow",
                                                     "mute", "trickle", "silent", "lock", "corrupt",
                                                     "silent-verify", "link"])
ap.add_argument("--batches", help="file that gets one line per SQL batch")
ap.add_argument("--logins", help="file that gets one line per login received: the user")
ap.add_argument("--uid", type=int, help="serve as this uid and gid (the files above opened first)")
ap.add_argument("--host", default="127.0.0.1", help="the address to listen on")
ap.add_argument("--silent-dns", action="store_true",
                help="also holds UDP port 53 of 127.0.0.1 and never answers: a resolver that never does")
ap.add_argument("--wine", action="store_true", help="backup paths are Wine's: Z:\\a\\b is /a/b")
args = ap.parse_args()
lock, held = threading.Lock(), []
written = {}  # path -> (database, digest of each page) of every backup made
records = {f: open(getattr(args, f), "a", encoding="utf-8", buffering=1)
           for f in ("batches", "logins") if getattr(args, f)}


def record(kind, line):
    if kind in records:
        with lock:
            records[kind].write(line.replace("\n", " ") + "\n")


class SqlError(Exception):
    """Its arguments are (number, class, text) messages."""


class Pages:
    """The digest of each page of what is fed to it."""

    def __init__(self):
        self.digests, self.rest = [], b""

    def feed(self, data):
        data = self.rest + data
        end = len(data) - len(data) % PAGE
        self.digests += [hashlib.sha1(data[i:i + PAGE]).digest() for i in range(0, end, PAGE)]
        self.rest = data[end:]

    def close(self):
        if self.rest:
            self.digests.append(hashlib.sha1(self.rest).digest())
        return self.digests


def b_varchar(text, size="B"):
    return struct.pack("<" + size, len(text)) + text.encode("utf-16-le")


class Connection:
    def __init__(self, sock):
        self.sock, self.out = sock, bytearray()

    def recv(self, n):
        data = self.sock.recv(n, socket.MSG_WAITALL)
        if len(data) < n:
            raise OSError("closed")
        return data

    def read(self):
        head, payload = b"\0\0", b""
        while not head[1] & 1:
            head = self.recv(8)
            payload += self.recv(struct.unpack(">H", head[2:4])[0] - 8)
        return head[0], payload

    def flush(self, last=True, pace=0):
        data, self.out = bytes(self.out), bytearray()
        for i in range(0, max(len(data), 1), 4088):
            chunk, eom = data[i:i + 4088], 1 if last and i + 4088 >= len(data) else 0
            packet = struct.pack(">BBHHBB", 4, eom, len(chunk) + 8, 0, 1, 0) + chunk
            step = 1 if pace else len(packet)
            for j in range(0, len(packet), step):
                self.sock.sendall(packet[j:j + step])
                time.sleep(pace)

    def token(self, token, body):
        self.out += bytes([token]) + struct.pack("<H", len(body)) + body

    def message(self, token, number, cls, text):
        self.token(token, struct.pack("<iBB", number, 1, cls) + b_varchar(text, "H") +
                   b_varchar("SQLTESTE") + b_varchar("") + struct.pack("<I", 1))

    def done(self, status=0):
        self.out += bytes([DONE]) + struct.pack("<HHQ", status, 0, 0)

    def serve(self):
        while args.mode == "mute":
            self.recv(1)
        kind, payload = self.read()
        if kind == 0x12:  # PRELOGIN: version 15.0.2000, no encryption, no MARS
            self.out += bytes.fromhex("00001a0006 01002000 01 02002100 01 0300220000 0400220001 ff"
                                      "0f0007d00000 02 00 00")
            self.flush()
            kind, payload = self.read()
        if kind != 0x10 or not self.login(payload):
            return
        while True:
            kind, payload = self.read()
            if kind != 0x01:
                return
            try:
                if not self.batch(payload[struct.unpack("<I", payload[:4])[0]:].decode("utf-16-le")):
                    return
            except SqlError as e:
                for number, cls, text in e.args:
                    self.message(ERROR, number, cls, text)
                self.done(DONE_ERROR)
            self.flush()

    def login(self, p):
        def field(pos):
            offset, chars = struct.unpack("<HH", p[pos:pos + 4])
            return p[offset:offset + 2 * chars]

        user = field(40).decode("utf-16-le")
        record("logins", user)
        password = bytes(((b ^ 0xA5) >> 4) | (((b ^ 0xA5) & 15) << 4) for b in field(44))
        if user != args.user or password.decode("utf-16-le") != args.password:
            self.message(ERROR, 18456, 14, "Login failed for user '%s'." % user)
            self.done(DONE_ERROR)
            self.flush()
            return False
        self.token(ENVCHANGE, b"\x01" + b_varchar("master") + b_varchar("master"))
        self.token(ENVCHANGE, b"\x07\x05\x09\x04\xD0\x00\x34\x00")
        self.token(LOGINACK, b"\x01\x74\x00\x00\x04" + b_varchar("Microsoft SQL Server") +
                   bytes([15, 0, 7, 0xD0]))
        if p[27] & 0x10:  # FEATUREEXT asked for: none taken
            self.out += b"\xAE\xFF"
        self.token(ENVCHANGE, b"\x04" + b_varchar("4096") + b_varchar("4096"))
        self.done()
        self.flush(pace=2 if args.mode == "trickle" else 0)
        return True

    def local(self, path, end):
        """The file a path the client gave names here."""
        if not args.wine:
            return path
        if not re.match(r"[Zz]:\\", path):  # as a server on Windows would say of it
            raise SqlError((3201, 16, "Cannot open backup device '%s'. Operating system error "
                                      "3(The system cannot find the path specified.)." % path), end)
        return path[2:].replace("\\", "/")

    def progress(self, step):
        """One tenth done; False when the client went away (or sent an attention)."""
        self.message(INFO, 3211, 0, "%d percent processed." % (step * 10))
        self.done(DONE_MORE)
        self.flush(last=False)
        return not select.select([self.sock], [], [], 0)[0]

    def verify(self, m):
        end = (3013, 16, "VERIFY DATABASE is terminating abnormally.")
        shown = m.group(1).replace("''", "'")
        path = self.local(shown, end)
        options = [o.split("=")[0].strip().upper() for o in (m.group(2) or "").split(",")]
        try:
            f = open(path, "rb")
        except OSError:
            raise SqlError((3201, 16, "Cannot open backup device '%s'. Operating system error "
                                      "2(The system cannot find the file specified.)." % shown), end)
        with f:
            if path not in written:
                raise SqlError((3241, 16, "The media family on device '%s' is incorrectly formed. "
                                          "SQL Server cannot process this media family." % shown), end)
            name, expected = written[path]
            step = 0
            for page, digest in enumerate(expected + [None]):
                data = f.read(PAGE)
                if digest is None and not data:
                    break
                if digest is None or hashlib.sha1(data).digest() != digest:
                    if "CHECKSUM" in options:  # the page's own checksum tells which
                        raise SqlError((3183, 16, "RESTORE detected an error on page (1:%d) in "
                                                  "database \"%s\" as read from the backup set."
                                        % (page, name)), end)
                    raise SqlError((3189, 16, "Damage to the backup set was detected."), end)
                while "STATS" in options and (page + 1) * 10 >= (step + 1) * len(expected):
                    step += 1
                    if not self.progress(step):
                        return False
                    while args.mode == "silent-verify" and self.sock.recv(4096):
                        pass
        self.message(INFO, 3262, 0, "The backup set on file 1 is valid.")
        self.done()
        return True

    def batch(self, sql):
        record("batches", sql)
        if VERIFY.fullmatch(sql.strip()):
            return self.verify(VERIFY.fullmatch(sql.strip()))
        if not sql.lstrip().upper().startswith("BACKUP"):
            self.done()
            return True
        m = BACKUP.fullmatch(sql.strip())
        if not m:
            raise SqlError((102, 15, "Incorrect syntax near 'BACKUP'."))
        name, path = m.group(1).replace("]]", "]"), m.group(2).replace("''", "'")
        end = (3013, 16, "BACKUP DATABASE is terminating abnormally.")
        if name.lower() not in ("master", args.database.lower()):
            raise SqlError((911, 16, "Database '%s' does not exist." % name), end)
        if args.mode == "express" and re.search(r"\bCOMPRESSION\s*,", m.group(3) or ""):
            raise SqlError((1844, 16, "BACKUP DATABASE WITH COMPRESSION is not supported on "
                                      "Express Edition (64-bit)."), end)
        path = self.local(path, end)
        size = args.backup_size
        pages = Pages()
        if args.mode == "lock":
            held.append(os.open(os.path.dirname(path), os.O_RDONLY))
            fcntl.flock(held[-1], fcntl.LOCK_EX)
        with open(path, "wb") as out:
            for step in range(1, 11):
                n = size * step // 10 - size * (step - 1) // 10
                data = os.urandom(n // 4) + bytes(n - n // 4)
                out.write(data)
                pages.feed(data)
                out.flush()
                self.message(INFO, 3211, 0, "%d percent processed." % (step * 10))
                self.done(DONE_MORE)
                self.flush(last=False)
                if step == 3 and args.mode == "drop":
                    return False
                while step == 1 and args.mode == "silent" and self.sock.recv(4096):
                    pass  # an attention included
                if step == 3 and args.mode == "fail":
                    raise SqlError((3202, 16, "Write on \"%s\" failed: 112(There is not enough "
                                              "space on the disk.\r\n)" % path), end)
                if select.select([self.sock], [], [], 0.2 * (args.mode == "slow"))[0]:
                    return False  # the client went away (or sent an attention)
        with lock:
            written[path] = (name, pages.close())
        if args.mode == "link":  # its account swaps the file for a link to a folder (a junction)
            os.mkdir(path + ".pasta")
            os.rename(path, os.path.join(path + ".pasta", "dados"))
            os.symlink(path + ".pasta", path)
        if args.mode == "corrupt":  # one page in the middle, as a storage fault would
            with open(path, "r+b") as f:
                f.seek(len(written[path][1]) // 2 * PAGE)
                page = f.read(PAGE)
                f.seek(-len(page), os.SEEK_CUR)
                f.write(bytes(b ^ 0xFF for b in page))
        self.message(INFO, 3014, 0, "BACKUP DATABASE successfully processed %d pages." % (size // 8192))
        self.done()
        return True


def handle(sock):
    with sock, contextlib.suppress(OSError, UnicodeDecodeError, struct.error):
        Connection(sock).serve()


if args.silent_dns:
    silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    silent.bind(("127.0.0.1", 53))
if args.uid is not None:  # the socket is then that account's
    parent = os.getppid()
    os.setgroups([])
    os.setgid(args.uid)
    os.setuid(args.uid)
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG, cleared by the change
    if os.getppid() != parent:
        os._exit(0)
listener = socket.create_server((args.host, 0), family=socket.AF_INET6 if ":" in args.host
                                else socket.AF_INET)
signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
print("LISTENING %d %d" % (listener.getsockname()[1], os.getpid()), flush=True)
while True:
    sock, _ = listener.accept()
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    threading.Thread(target=handle, args=(sock,), daemon=True).start()

#!/usr/bin/python3
"""TDS 7.4 database stand-in on 127.0.0.1 (or --host): one SQL login, BACKUP DATABASE writes the file
(the data, then what RESTORE needs: the database, its files, a digest of each page), RESTORE
VERIFYONLY/FILELISTONLY/HEADERONLY/DATABASE read it back, DBCC CHECKDB, DROP DATABASE, DB_ID,
sys.databases and SERVERPROPERTY answer for the databases it holds. Prints "LISTENING <port> <pid>"
once ready."""

import argparse
import contextlib
import ctypes
import datetime
import fcntl
import hashlib
import json
import os
import re
import select
import shutil
import signal
import socket
import struct
import threading
import time
import uuid

ERROR, INFO, LOGINACK, ENVCHANGE, DONE = 0xAA, 0xAB, 0xAD, 0xE3, 0xFD
DONE_MORE, DONE_ERROR, DONE_COUNT = 0x01, 0x02, 0x10
S, B = r"N'((?:[^']|'')*)'", r"\[((?:[^\]]|\]\])*)\]"  # N'..' and [..], escaped
OPTION = r"(\w+)(?:\s*=\s*(?:N'(?:[^']|'')*'|\w+)|\s+N'(?:[^']|'')*'\s+TO\s+N'(?:[^']|'')*')?"
WITH = r"(?:\s+WITH\s+(%s(?:\s*,\s*%s)*))?\s*;?" % (OPTION, OPTION)
BACKUP = re.compile(r"BACKUP\s+DATABASE\s+%s\s+TO\s+DISK\s*=\s*%s%s" % (B, S, WITH), re.I)
RESTORE = re.compile(r"RESTORE\s+(?:(VERIFYONLY|FILELISTONLY|HEADERONLY)|DATABASE\s+%s)\s+FROM\s+DISK"
                     r"\s*=\s*%s%s" % (B, S, WITH), re.I)
CHECKDB = re.compile(r"DBCC\s+CHECKDB\s*\(\s*(?:%s|%s)\s*\)(?:\s+WITH\s+([\w\s,]+))?\s*;?" % (B, S),
                     re.I)
DROP = re.compile(r"DROP\s+DATABASE\s+(IF\s+EXISTS\s+)?%s\s*;?" % B, re.I)
ITEM = (r"(?:CAST\(\s*)?(?:SERVERPROPERTY\(\s*N?'(\w+)'\s*\)|DB_ID\(\s*%s\s*\))"
        r"(?:\s+AS\s+N?VARCHAR\s*\(\s*(\d+)\s*\)\s*\))?(?:\s+AS\s+\[?(\w+)\]?)?" % S)
SELECT = re.compile(r"SELECT\s+(%s(?:\s*,\s*%s)*)\s*;?" % (ITEM, ITEM), re.I)
SYSDB = re.compile(r"SELECT\s+(\w+(?:\s*,\s*\w+)*)\s+FROM\s+(?:master\.)?sys\.databases\s+WHERE"
                   r"\s+name\s*=\s*%s\s*;?" % S, re.I)
PAGE, MAGIC = 8192, b"BAKTESTE"
# The columns of RESTORE FILELISTONLY and HEADERONLY in SQL Server 2019's order (n: nvarchar, c:
# char, N: numeric(_, 0), i: int of _ bytes, b: bit, d: datetime, g: uniqueidentifier, x: varbinary)
FILELIST = ("LogicalName n128 PhysicalName n260 Type c1 FileGroupName n128 Size N20 MaxSize N20 "
            "FileId i8 CreateLSN N25 DropLSN N25 UniqueId g ReadOnlyLSN N25 ReadWriteLSN N25 "
            "BackupSizeInBytes i8 SourceBlockSize i4 FileGroupId i4 LogGroupGUID g DifferentialBaseLSN N25 "
            "DifferentialBaseGUID g IsReadOnly b IsPresent b TDEThumbprint x32 SnapshotUrl n360")
HEADER = ("BackupName n128 BackupDescription n255 BackupType i2 ExpirationDate d Compressed i1 "
          "Position i2 DeviceType i1 UserName n128 ServerName n128 DatabaseName n128 DatabaseVersion i4 "
          "DatabaseCreationDate d BackupSize N20 FirstLSN N25 LastLSN N25 CheckpointLSN N25 "
          "DatabaseBackupLSN N25 BackupStartDate d BackupFinishDate d SortOrder i2 CodePage i2 "
          "UnicodeLocaleId i4 UnicodeComparisonStyle i4 CompatibilityLevel i1 SoftwareVendorId i4 "
          "SoftwareVersionMajor i4 SoftwareVersionMinor i4 SoftwareVersionBuild i4 MachineName n128 "
          "Flags i4 BindingID g RecoveryForkID g Collation n128 FamilyGUID g HasBulkLoggedData b "
          "IsSnapshot b IsReadOnly b IsSingleUser b HasBackupChecksums b")  # 17 more a restore does without
FILELIST, HEADER = [list(zip(t.split()[::2], t.split()[1::2])) for t in (FILELIST, HEADER)]
ap = argparse.ArgumentParser(description=__doc__)
ap.add_argument("--user", default="sa")
ap.add_argument("--password", default="")
ap.add_argument("--database", default="Vendas", help="the one besides the system ones")
ap.add_argument("--backup-size", type=int, default=1 << 20)
# express: no COMPRESSION (1844); fail: 3202 at 30 %; drop: hangs up at 30 %;
# slow: 0.2 s per tenth; mute: accepts and never answers; trickle: the login reply one byte
# every 2 s; silent: says nothing more after 10 % (connection open); lock: the backup's account
# holds the flock on the backup's folder from then on; corrupt: spoils one page of the file once
# the backup succeeded; silent-verify: RESTORE VERIFYONLY says nothing more after 10 %; checkdb:
# DBCC CHECKDB finds a damaged page in every database that RESTORE made
ap.add_argument("--mode", default="normal", choices=["normal", "express", "fail", "drop", "slow",
                                                     "mute", "trickle", "silent", "lock", "corrupt",
                                                     "silent-verify", "link", "checkdb"])
ap.add_argument("--existing", action="append", default=[], help="one more database held (repeatable)")
ap.add_argument("--data-path", help="the default data folder (default: one in /tmp, removed at exit)")
ap.add_argument("--log-path", help="the default log folder (default: the data folder)")
ap.add_argument("--batches", help="file that gets one line per SQL batch")
ap.add_argument("--logins", help="file that gets one line per login received: the user")
ap.add_argument("--uid", type=int, help="serve as this uid and gid (the files above opened first)")
ap.add_argument("--host", default="127.0.0.1", help="the address to listen on")
ap.add_argument("--silent-dns", action="store_true",
                help="also holds UDP port 53 of 127.0.0.1 and never answers: a resolver that never does")
ap.add_argument("--wine", action="store_true", help="backup paths are Wine's: Z:\\a\\b is /a/b")
args = ap.parse_args()
lock, held = threading.Lock(), []
databases, folders = {}, []  # casefolded name -> what it is; the default data and log folders
records = {f: open(getattr(args, f), "a", encoding="utf-8", buffering=1)
           for f in ("batches", "logins") if getattr(args, f)}


def record(kind, line):
    if kind in records:
        with lock:
            records[kind].write(line.replace("\n", " ") + "\n")


class SqlError(Exception):
    """Its arguments are (number, class, text) messages."""


def b_varchar(text, size="B"):
    return struct.pack("<" + size, len(text)) + text.encode("utf-16-le")


def unq(text, quote="'"):
    return text.replace(quote * 2, quote)


def here(path):
    """The file a path the client gave names here; None where it cannot name one."""
    if not args.wine:
        return path
    return path[2:].replace("\\", "/") if re.match(r"[Zz]:\\", path) else None


def ready():
    """The default folders, made when first named to a client."""
    for folder in folders:
        os.makedirs(folder, 0o700, exist_ok=True)


def client(path):
    return "Z:" + path.replace("/", "\\") if args.wine else path


def hold(name, files=None, **more):
    """Holds a database: by default its files are the default folders' <name>.mdf, <name>_log.ldf."""
    safe = re.sub(r"[/\\]", "_", name)
    files = files or [[name, client(os.path.join(folders[0], safe + ".mdf")), "D"],
                      [name[:124] + "_log", client(os.path.join(folders[1], safe + "_log.ldf")), "L"]]
    databases[name.casefold()] = dict(name=name, files=files, state="ONLINE", restored=False,
                                      id=max([d["id"] for d in databases.values()] + [0]) + 1) | more
    return databases[name.casefold()]


def options(text):
    """(NAME, [its N'' strings]) of each option in a WITH list."""
    return [(o.group(1).upper(), [unq(v) for v in re.findall(S, o.group(0))])
            for o in re.finditer(OPTION, text or "")]


COLLATION = b"\x09\x04\xD0\x00\x34"


def column(name, kind):
    k, n = kind[0], int(kind[1:] or 1)
    info = bytes([0x6C, 13, n, 0]) if k == "N" else bytes([0x26, n]) if k == "i" else {
        "n": b"\xE7" + struct.pack("<H", 2 * n) + COLLATION, "b": b"\x68\x01",
        "c": b"\xAF" + struct.pack("<H", n) + COLLATION, "d": b"\x6F\x08", "g": b"\x24\x10",
        "x": b"\xA5" + struct.pack("<H", n), "v": b"\x62" + struct.pack("<I", 8009)}[k]
    return struct.pack("<IH", 0, 1) + info + b_varchar(name)  # nullable


def value(kind, v):
    k, n = kind[0], int(kind[1:] or 1)
    if v is None:
        return b"\xFF\xFF" if k in "ncx" else b"\0" * (4 if k == "v" else 1)
    if k in "ncv":
        data = v.encode("cp1252" if k == "c" else "utf-16-le")
        return (struct.pack("<I", len(data) + 9) + b"\xE7\x07" + COLLATION + b"\x40\x1F" if k == "v"
                else struct.pack("<H", len(data))) + data
    if k == "d":
        t = v - datetime.datetime(1900, 1, 1)
        return b"\x08" + struct.pack("<iI", t.days, t.seconds * 300 + t.microseconds * 3 // 10000)
    return (b"\x10" + v.bytes_le if k == "g" else b"\x0D\x01" + v.to_bytes(12, "little") if k == "N"
            else bytes([n]) + v.to_bytes(n, "little", signed=n > 1))


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

    def message(self, token, number, cls, text, state=1):
        self.token(token, struct.pack("<iBB", number, state, cls) + b_varchar(text, "H") +
                   b_varchar("SQLTESTE") + b_varchar("") + struct.pack("<I", 1))

    def done(self, status=0, count=0):
        self.out += bytes([DONE]) + struct.pack("<HHQ", status, 0, count)

    def rows(self, columns, rows):
        """A result set: columns (name, kind of column()), rows of values."""
        self.out += b"\x81" + struct.pack("<H", len(columns)) + b"".join(column(*c) for c in columns)
        for row in rows:
            self.out += b"\xD1" + b"".join(value(k, v) for (_, k), v in zip(columns, row))
        self.done(DONE_COUNT, len(rows))
        return True

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
        if here(path) is None:  # as a server on Windows would say of it
            raise SqlError((3201, 16, "Cannot open backup device '%s'. Operating system error "
                                      "3(The system cannot find the path specified.)." % path), end)
        return here(path)

    def database(self, name, missing, *end):
        db = databases.get(name.casefold())
        if not db:
            raise SqlError(missing, *end)
        if db["state"] != "ONLINE":
            raise SqlError((927, 14, "Database '%s' cannot be opened. It is in the middle of a restore."
                            % db["name"]), *end)
        return db

    def progress(self, step, wait=0):
        """One tenth done; False when the client went away (or sent an attention) within `wait` s
        (None: not looked at)."""
        self.message(INFO, 3211, 0, "%d percent processed." % (step * 10))
        self.done(DONE_MORE)
        self.flush(last=False)
        return wait is None or not select.select([self.sock], [], [], wait)[0]

    def backup_file(self, shown, end):
        """The open backup file a client's path names, and what BACKUP recorded at its end."""
        try:
            f = open(self.local(shown, end), "rb")
        except OSError:
            raise SqlError((3201, 16, "Cannot open backup device '%s'. Operating system error "
                                      "2(The system cannot find the file specified.)." % shown), end)
        with contextlib.suppress(OSError, ValueError, struct.error):
            f.seek(-24, os.SEEK_END)
            n, digest, magic = struct.unpack("<Q8s8s", f.read(24))
            f.seek(-24 - n, os.SEEK_END)
            meta = f.read(n)
            if magic == MAGIC and hashlib.sha1(meta).digest()[:8] == digest:
                f.seek(0)
                return f, json.loads(meta)
        f.close()
        raise SqlError((3241, 16, "The media family on device '%s' is incorrectly formed. SQL Server "
                                  "cannot process this media family." % shown), end)

    def scan(self, f, meta, keys, name, end, silent=False):
        """Reads the data back against each page's digest; False when the client went away."""
        digests, left, step = bytes.fromhex(meta["pages"]), meta["size"], 0
        count = len(digests) // 8
        for page in range(count):
            data = f.read(min(PAGE, left))
            left -= len(data)
            if hashlib.sha1(data).digest()[:8] != digests[8 * page:8 * page + 8]:
                if ("CHECKSUM" in keys or meta["checksums"]) and "NO_CHECKSUM" not in keys:
                    raise SqlError((3183, 16, "RESTORE detected an error on page (1:%d) in database "
                                              "\"%s\" as read from the backup set." % (page, name)), end)
                raise SqlError((3189, 16, "Damage to the backup set was detected."), end)
            while "STATS" in keys and (page + 1) * 10 >= (step + 1) * count:
                step += 1
                if not self.progress(step):
                    return False
                while silent and self.sock.recv(4096):
                    pass
        return True

    def restore(self, m):
        kind = (m.group(1) or "DATABASE").upper()
        end = (3013, 16, {"VERIFYONLY": "VERIFY DATABASE", "FILELISTONLY": "RESTORE FILELIST"}.get(
            kind, "RESTORE " + kind) + " is terminating abnormally.")
        opts = options(m.group(4))
        keys = {k for k, _ in opts}
        f, meta = self.backup_file(unq(m.group(3)), end)
        with f:
            if kind == "VERIFYONLY":
                if not self.scan(f, meta, keys, meta["database"], end, args.mode == "silent-verify"):
                    return False
                self.message(INFO, 3262, 0, "The backup set on file 1 is valid.")
                self.done()
                return True
            g, size, start, finish = uuid.UUID(meta["id"]), meta["size"], *map(
                datetime.datetime.fromisoformat, meta["dates"])
            if kind == "FILELISTONLY":
                return self.rows(FILELIST, [[
                    l, p, t, "PRIMARY" if t == "D" else None, (size >> 20) + 8 << 20 if t == "D" else 8 << 20,
                    2 ** 45 - PAGE if t == "D" else 2 ** 41, i + 1, 0, None, uuid.uuid5(g, l), 0, 0,
                    size if t == "D" else 0, 4096, int(t == "D"), None, None, None, 0, 1, None, None]
                    for i, (l, p, t) in enumerate(meta["files"])])
            if kind == "HEADERONLY":
                lsn, checksums = 37000000012800001, int(meta["checksums"])
                return self.rows(HEADER, [[
                    meta["name"], None, 1, None, int(meta["compressed"]), 1, 2, args.user, "SQLTESTE",
                    meta["database"], 904, start, os.fstat(f.fileno()).st_size, lsn, lsn + 1600000, lsn, 0,
                    start, finish, 52, 0, 1033, 196609, 150, 4608, 15, 0, 2000, "SQLTESTE",
                    512 + 16 * checksums, g, g, "SQL_Latin1_General_CP1_CI_AS", g, 0, 0, 0, 0, checksums]])
            return self.restore_database(unq(m.group(2), "]"), f, meta, opts, keys, end)

    def restore_database(self, name, f, meta, opts, keys, end):
        ready()
        moves = {v[0].casefold(): v for k, v in opts if k == "MOVE" and len(v) == 2}
        same = (lambda a, b: a.casefold() == b.casefold()) if args.wine else str.__eq__
        with lock:
            db = databases.get(name.casefold())
            if db and db["state"] == "ONLINE" and "REPLACE" not in keys:  # a restoring one goes on
                raise SqlError((3154, 16, "The backup set holds a backup of a database other than the "
                                          "existing '%s' database." % name), end)
            for logical, _ in moves.values():
                if logical.casefold() not in {l.casefold() for l, _, _ in meta["files"]}:
                    raise SqlError((3234, 16, "Logical file '%s' is not part of database '%s'. Use RESTORE "
                                              "FILELISTONLY to list the logical file names." % (logical, name)),
                                   end)
            files, problems = [], []
            for l, p, t in meta["files"]:  # each where MOVE says, else where it was
                dest = moves.get(l.casefold(), (l, p))[1]
                path, owns = here(dest), lambda d: any(same(dest, q) for _, q, _ in d["files"])
                user = next((d["name"] for d in databases.values() if d is not db and owns(d)), None)
                if path is None or not os.path.isdir(os.path.dirname(path)):
                    problems.append((5133, 16, "Directory lookup for the file \"%s\" failed with the "
                                               "operating system error 3(The system cannot find the path "
                                               "specified.)." % dest))
                elif user:
                    problems.append((1834, 16, "The file '%s' cannot be overwritten.  It is being used by "
                                               "database '%s'." % (dest, user)))
                else:
                    files.append([l, dest, t])
                    continue
                problems.append((3156, 16, "File '%s' cannot be restored to '%s'. Use WITH MOVE to identify "
                                           "a valid location for the file." % (l, dest)))
            if problems:
                raise SqlError(*problems, (3119, 16, "Problems were identified while planning for the "
                                                     "RESTORE statement. Previous messages provide details."),
                               end)
            db = hold(name, files, state="RESTORING", restored=True, **({"id": db["id"]} if db else {}))
        for l, dest, _ in files:  # until the last page, a database in the middle of a restore
            with open(here(dest), "wb") as out:
                out.write(("%s: %s\n" % (name, l)).encode())
        began, pages = time.monotonic(), meta["size"] // PAGE
        if not self.scan(f, meta, keys, name, end):
            return False
        db["state"], took = "ONLINE", max(time.monotonic() - began, 0.001)
        for l, _, t in files:
            self.message(INFO, 4035, 0, "Processed %d pages for database '%s', file '%s' on file 1."
                         % (pages if t == "D" else 2, name, l))
        self.message(INFO, 3014, 0, "RESTORE DATABASE successfully processed %d pages in %.3f seconds "
                                    "(%.3f MB/sec)." % (pages + 2, took, meta["size"] / 2 ** 20 / took))
        self.done()
        return True

    def checkdb(self, m):
        name = unq(m.group(1), "]") if m.group(1) is not None else unq(m.group(2))
        db = self.database(name, (2520, 16, "Could not find database '%s'. The database either does not "
                                            "exist, or was dropped before a statement tried to use it. Verify "
                                            "if the database exists by querying the sys.databases catalog "
                                            "view." % name))
        bad = args.mode == "checkdb" and db["restored"]
        info = "NO_INFOMSGS" not in (m.group(3) or "").upper()
        where = ("Object ID 1977058079, index ID 1, partition ID 72057594041466880, alloc unit ID "
                 "72057594046251008 (type In-row data)")
        if bad:  # one page of a table reads back damaged
            self.message(ERROR, 8939, 16, "Table error: %s, page (1:312). Test (IS_OFF (BUF_IOERR, "
                                          "pBUF->bstat)) failed. Values are 133129 and -4." % where, 98)
            self.message(ERROR, 8928, 16, "%s: Page (1:312) could not be processed.  See other errors "
                                          "for details." % where)
            self.message(INFO, 8990, 10, "CHECKDB found 0 allocation errors and 2 consistency errors in "
                                         "table 'Clientes' (object ID 1977058079).")
        if bad or info:
            self.message(INFO, 8989, 10, "CHECKDB found 0 allocation errors and %d consistency errors in "
                                         "database '%s'." % (2 * bad, db["name"]))
        if bad:
            self.message(INFO, 8958, 10, "repair_allow_data_loss is the minimum repair level for the "
                                         "errors found by DBCC CHECKDB (%s)." % db["name"])
        elif info:
            self.message(INFO, 2528, 10, "DBCC execution completed. If DBCC printed error messages, "
                                         "contact your system administrator.")
        self.done(DONE_ERROR if bad else 0)
        return True

    def drop(self, m):
        name = unq(m.group(2), "]")
        with lock:
            db = databases.get(name.casefold())
            if not db and not m.group(1):
                raise SqlError((3701, 11, "Cannot drop the database '%s', because it does not exist or "
                                          "you do not have permission." % name))
            if db and db["id"] <= 4:
                raise SqlError((3708, 16, "Cannot drop the database '%s' because it is a system "
                                          "database." % db["name"]))
            databases.pop(name.casefold(), None)
        for _, p, _ in db["files"] if db else []:  # its files go with it
            with contextlib.suppress(OSError, TypeError):
                os.remove(here(p))
        self.done()
        return True

    def select(self, m):
        ready()
        columns, row, sep = [], [], "\\" if args.wine else "/"
        paths = {"instancedefaultdatapath": client(folders[0]) + sep,
                 "instancedefaultlogpath": client(folders[1]) + sep}
        for item in re.finditer(ITEM, m.group(1), re.I):
            prop, name, size, alias = item.groups()
            db = databases.get(unq(name or "").casefold())
            columns.append((alias or "", ("n" + size if size else "v") if prop else "i4"))
            row.append(paths.get(prop.casefold()) if prop else db and db["id"])
        return self.rows(columns, [row])

    def sysdb(self, m):
        kinds, names = {"name": "n128", "database_id": "i4", "state_desc": "n60"}, m.group(1).split(",")
        names = [c.strip() for c in names]
        for c in names:
            if c.lower() not in kinds:
                raise SqlError((207, 16, "Invalid column name '%s'." % c))
        db = databases.get(unq(m.group(2)).casefold())
        values = db and {"name": db["name"], "database_id": db["id"], "state_desc": db["state"]}
        return self.rows([(c, kinds[c.lower()]) for c in names],
                         [[values[c.lower()] for c in names]] if db else [])

    def batch(self, sql):
        record("batches", sql)
        sql = sql.strip()
        for pattern, answer in ((BACKUP, self.backup), (RESTORE, self.restore), (CHECKDB, self.checkdb),
                                (DROP, self.drop), (SELECT, self.select), (SYSDB, self.sysdb)):
            if pattern.fullmatch(sql):
                return answer(pattern.fullmatch(sql))
        verb = (sql.split() or [""])[0].upper()
        if verb in ("BACKUP", "RESTORE", "DBCC", "DROP", "SELECT"):
            raise SqlError((102, 15, "Incorrect syntax near '%s'." % verb))
        self.done()
        return True

    def backup(self, m):
        name, path = unq(m.group(1), "]"), unq(m.group(2))
        end = (3013, 16, "BACKUP DATABASE is terminating abnormally.")
        db = self.database(name, (911, 16, "Database '%s' does not exist." % name), end)
        if args.mode == "express" and re.search(r"\bCOMPRESSION\s*,", m.group(3) or ""):
            raise SqlError((1844, 16, "BACKUP DATABASE WITH COMPRESSION is not supported on "
                                      "Express Edition (64-bit)."), end)
        opts = options(m.group(3))
        path, start = self.local(path, end), datetime.datetime.now().isoformat()
        size = args.backup_size
        if args.mode == "lock":
            held.append(os.open(os.path.dirname(path), os.O_RDONLY))
            fcntl.flock(held[-1], fcntl.LOCK_EX)
        with open(path, "wb") as out:
            for step in range(1, 11):
                n = size * step // 10 - size * (step - 1) // 10
                out.write(os.urandom(n // 4) + bytes(n - n // 4))
                out.flush()
                self.progress(step, None)
                if step == 3 and args.mode == "drop":
                    return False
                while step == 1 and args.mode == "silent" and self.sock.recv(4096):
                    pass  # an attention included
                if step == 3 and args.mode == "fail":
                    raise SqlError((3202, 16, "Write on \"%s\" failed: 112(There is not enough "
                                              "space on the disk.\r\n)" % path), end)
                if select.select([self.sock], [], [], 0.2 * (args.mode == "slow"))[0]:
                    return False  # the client went away (or sent an attention)
            with open(path, "rb") as f:  # what RESTORE needs goes at the end: the data stays in place
                pages = [hashlib.sha1(f.read(PAGE)).digest()[:8] for _ in range(-(-size // PAGE))]
            meta = json.dumps(dict(
                database=db["name"], files=db["files"], size=size, id=str(uuid.uuid4()),
                name=next((v[0] for k, v in opts if k == "NAME" and v), None),
                checksums="CHECKSUM" in dict(opts), compressed="COMPRESSION" in dict(opts),
                dates=[start, datetime.datetime.now().isoformat()],
                pages=b"".join(pages).hex())).encode()
            out.write(meta + struct.pack("<Q8s8s", len(meta), hashlib.sha1(meta).digest()[:8], MAGIC))
        if args.mode == "link":  # its account swaps the file for a link to a folder (a junction)
            os.mkdir(path + ".pasta")
            os.rename(path, os.path.join(path + ".pasta", "dados"))
            os.symlink(path + ".pasta", path)
        if args.mode == "corrupt":  # one page in the middle, as a storage fault would
            with open(path, "r+b") as f:
                f.seek(len(pages) // 2 * PAGE)
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
folders += [args.data_path or "/tmp/tds-dados-%d" % os.getpid()]  # not in the client's TMPDIR
folders += [args.log_path or folders[0]]
for held_name in ["master", "tempdb", "model", "msdb", args.database] + args.existing:
    hold(held_name)
listener = socket.create_server((args.host, 0), family=socket.AF_INET6 if ":" in args.host
                                else socket.AF_INET)
signal.signal(signal.SIGTERM, lambda *_: (args.data_path or shutil.rmtree(folders[0], True),
                                          os._exit(0)))
print("LISTENING %d %d" % (listener.getsockname()[1], os.getpid()), flush=True)
while True:
    sock, _ = listener.accept()
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    threading.Thread(target=handle, args=(sock,), daemon=True).start()

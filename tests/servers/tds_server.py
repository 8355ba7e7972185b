#!/usr/bin/python3
"""Database server stand-in for the tests: speaks TDS 7.1-7.4 on 127.0.0.1,
accepts one SQL login and answers BACKUP DATABASE by writing the file itself.

Prints "LISTENING <port>" once ready and serves until SIGTERM/SIGINT.
"""

import argparse
import json
import os
import random
import select
import signal
import socket
import struct
import sys
import threading
import time

# Packet types
PKT_BATCH, PKT_REPLY, PKT_ATTENTION, PKT_LOGIN7, PKT_PRELOGIN = 0x01, 0x04, 0x06, 0x10, 0x12
EOM = 0x01

# Tokens
TOK_ERROR, TOK_INFO, TOK_LOGINACK, TOK_FEATUREEXTACK, TOK_ENVCHANGE, TOK_DONE = \
    0xAA, 0xAB, 0xAD, 0xAE, 0xE3, 0xFD
DONE_MORE, DONE_ERROR, DONE_ATTN = 0x0001, 0x0002, 0x0020

TDS71, TDS72 = 0x71000001, 0x72090002
KNOWN_VERSIONS = (0x71000001, 0x72090002, 0x730A0003, 0x730B0003, 0x74000004)

SERVER_NAME = "SQLTESTE"
PRODUCT_VERSION = bytes([15, 0, 0x07, 0xD0])  # 15.0.2000
COLLATION = bytes([0x09, 0x04, 0xD0, 0x00, 0x34])  # SQL_Latin1_General_CP1_CI_AS
PAGE = 8192


class Disconnected(Exception):
    pass


class SqlError(Exception):
    """A batch failed; carries (number, class, text) messages to send as ERROR tokens."""

    def __init__(self, *messages):
        super().__init__(messages[0][2])
        self.messages = messages


# ---------------------------------------------------------------- token encoding

def b_varchar(text):
    data = text.encode("utf-16-le")
    return bytes([len(data) // 2]) + data


def us_varchar(text):
    data = text.encode("utf-16-le")
    return struct.pack("<H", len(data) // 2) + data


def token_with_length(token, body):
    return bytes([token]) + struct.pack("<H", len(body)) + body


def feature_ext(login):
    """Feature ids in a LOGIN7's FeatureExt block."""
    try:
        pos = struct.unpack("<I", login[struct.unpack("<H", login[56:58])[0]:][:4])[0]
        ids = []
        while pos < len(login) and login[pos] != 0xFF:
            ids.append(login[pos])
            pos += 5 + struct.unpack("<I", login[pos + 1:pos + 5])[0]
        return ids
    except struct.error:
        return []


# ---------------------------------------------------------------- T-SQL lexing

def unclosed(rest):
    return SqlError((105, 15, "Unclosed quotation mark after the character string '%s'." % rest))


def no_database(name):
    return (911, 16, "Database '%s' does not exist. Make sure that the name is entered correctly."
            % name)


def tokenize(sql):
    """Yields (kind, value, text) with kind in word/name/string/number/punct."""
    i, n = 0, len(sql)
    while i < n:
        c = sql[i]
        if c.isspace():
            i += 1
        elif sql.startswith("--", i):
            end = sql.find("\n", i)
            i = n if end < 0 else end + 1
        elif sql.startswith("/*", i):
            end = sql.find("*/", i + 2)
            if end < 0:
                raise SqlError((113, 15, "Missing end comment mark '*/'."))
            i = end + 2
        elif c in "[\"":
            close = "]" if c == "[" else '"'
            j, value = i + 1, []
            while True:
                k = sql.find(close, j)
                if k < 0:
                    raise unclosed(sql[i + 1:])
                value.append(sql[j:k])
                if sql.startswith(close * 2, k):
                    value.append(close)
                    j = k + 2
                else:
                    break
            yield "name", "".join(value), sql[i:k + 1]
            i = k + 1
        elif c == "'" or (c in "Nn" and sql.startswith("'", i + 1)):
            start = i
            j = sql.index("'", i) + 1
            value, opened = [], j
            while True:
                k = sql.find("'", j)
                if k < 0:
                    raise unclosed(sql[opened:])
                value.append(sql[j:k])
                if sql.startswith("''", k):
                    value.append("'")
                    j = k + 2
                else:
                    break
            yield "string", "".join(value), sql[start:k + 1]
            i = k + 1
        elif c.isdigit():
            j = i
            while j < n and sql[j].isdigit():
                j += 1
            yield "number", int(sql[i:j]), sql[i:j]
            i = j
        elif c.isalpha() or c in "_@#":
            j = i
            while j < n and (sql[j].isalnum() or sql[j] in "_@#$"):
                j += 1
            yield "word", sql[i:j].upper(), sql[i:j]
            i = j
        else:
            yield "punct", c, c
            i += 1


class Parser:
    def __init__(self, sql):
        self.tokens = list(tokenize(sql))
        self.pos = 0

    def peek(self):
        return self.tokens[self.pos] if self.pos < len(self.tokens) else None

    def fail(self):
        tok = self.peek()
        near = tok[2] if tok else (self.tokens[-1][2] if self.tokens else "")
        raise SqlError((102, 15, "Incorrect syntax near '%s'." % near))

    def take(self, kind, value=None):
        tok = self.peek()
        if tok is None or tok[0] != kind or (value is not None and tok[1] != value):
            self.fail()
        self.pos += 1
        return tok[1]

    def accept(self, kind, value=None):
        tok = self.peek()
        if tok is not None and tok[0] == kind and (value is None or tok[1] == value):
            self.pos += 1
            return True
        return False

    def identifier(self):
        tok = self.peek()
        if tok is None or tok[0] not in ("word", "name") or tok[2].startswith("@"):
            self.fail()
        self.pos += 1
        return tok[1] if tok[0] == "name" else tok[2]

    def end(self):
        self.accept("punct", ";")
        if self.peek() is not None:
            self.fail()


def parse_backup(sql):
    """BACKUP DATABASE name TO DISK = 'path' [WITH option [= value], ...]"""
    p = Parser(sql)
    p.take("word", "BACKUP")
    p.take("word", "DATABASE")
    name = p.identifier()
    p.take("word", "TO")
    p.take("word", "DISK")
    p.take("punct", "=")
    path = p.take("string")
    options = {}
    if p.accept("word", "WITH"):
        while True:
            option = p.take("word")
            value = True
            if p.accept("punct", "="):
                tok = p.peek()
                if tok is None or tok[0] not in ("string", "number", "word"):
                    p.fail()
                p.pos += 1
                value = tok[1]
            options[option] = value
            if not p.accept("punct", ","):
                break
    p.end()
    return name, path, options


def parse_use(sql):
    p = Parser(sql)
    p.take("word", "USE")
    name = p.identifier()
    p.end()
    return name


def first_word(sql):
    try:
        tok = next(tokenize(sql), None)
    except SqlError:
        return None
    return tok[1] if tok and tok[0] == "word" else None


# ---------------------------------------------------------------- backup contents

class BackupContents:
    """Page-shaped data, a quarter random and the rest row text at shifting
    offsets: compresses to roughly a quarter without being trivial, and is
    cheap to make by the gigabyte."""

    RANDOM = 2048
    BLOCK_PAGES = 512
    _text = None

    def __init__(self, seed):
        if BackupContents._text is None:
            BackupContents._text = "".join(
                "%06d;Cliente %06d;Rua das Flores, %d;Sao Paulo;SP;%08.2f\n"
                % (i, i * 7919 % 1000003, i % 997, i * 3.17) for i in range(40000)).encode("ascii")
        self.rng = random.Random(seed)
        self.page = 0
        self.rest = b""

    def _block(self):
        text, noise = self._text, self.rng.randbytes(self.RANDOM * self.BLOCK_PAGES)
        parts = []
        for k in range(self.BLOCK_PAGES):
            off = (self.page * 6151) % (len(text) - PAGE)
            parts.append(struct.pack("<QI", self.page, 0x4B454C56))
            parts.append(noise[k * self.RANDOM:(k + 1) * self.RANDOM - 12])
            parts.append(text[off:off + PAGE - self.RANDOM])
            self.page += 1
        return b"".join(parts)

    def write(self, out, size):
        """Writes the next size bytes to out."""
        while size > 0:
            data = self.rest or self._block()
            out.write(data[:size])
            self.rest = data[size:]
            size -= min(size, len(data))


# ---------------------------------------------------------------- connection

class Connection:
    def __init__(self, server, sock, spid):
        self.server = server
        self.sock = sock
        self.spid = spid
        self.version = TDS72
        self.packet_size = 4096
        self.database = "master"
        self.out = bytearray()

    # ---- packets

    def recv_exact(self, n):
        data = bytearray()
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise Disconnected()
            data += chunk
        return bytes(data)

    def read_message(self):
        """Returns (type, payload) of one client message, joining its packets."""
        payload = bytearray()
        while True:
            header = self.recv_exact(8)
            ptype, status, length = header[0], header[1], struct.unpack(">H", header[2:4])[0]
            if length < 8:
                raise Disconnected()
            payload += self.recv_exact(length - 8)
            if status & EOM:
                return ptype, bytes(payload)

    def attention_pending(self, wait=0.0):
        """True when the client sends an attention within wait seconds."""
        readable, _, _ = select.select([self.sock], [], [], wait)
        if not readable:
            return False
        ptype, _ = self.read_message()
        return ptype == PKT_ATTENTION

    def flush(self, last=True):
        """Sends the buffered tokens; last=False leaves the reply open (EOM off)."""
        size = self.packet_size - 8
        data, self.out = bytes(self.out), bytearray()
        chunks = [data[i:i + size] for i in range(0, len(data), size)] or [b""]
        packet_id = 1
        for i, chunk in enumerate(chunks):
            status = EOM if last and i == len(chunks) - 1 else 0
            header = struct.pack(">BBHHBB", PKT_REPLY, status, len(chunk) + 8, self.spid,
                                 packet_id, 0)
            packet_id = (packet_id + 1) % 256
            self.sock.sendall(header + chunk)

    # ---- tokens

    def message(self, token, number, cls, text, state=1):
        line = struct.pack("<I" if self.version >= TDS72 else "<H", 1)
        body = (struct.pack("<iBB", number, state, cls) + us_varchar(text)
                + b_varchar(SERVER_NAME) + b_varchar("") + line)
        self.out += token_with_length(token, body)

    def info(self, number, text, cls=0):
        self.message(TOK_INFO, number, cls, text)

    def error(self, number, cls, text, state=1):
        self.message(TOK_ERROR, number, cls, text, state)

    def done(self, status=0, count=0):
        fmt = "<HHQ" if self.version >= TDS72 else "<HHI"
        self.out += bytes([TOK_DONE]) + struct.pack(fmt, status, 0, count)

    def envchange(self, kind, new, old):
        body = bytes([kind]) + b_varchar(new) + b_varchar(old)
        self.out += token_with_length(TOK_ENVCHANGE, body)

    # ---- session

    def serve(self):
        ptype, payload = self.read_message()
        if ptype == PKT_PRELOGIN:
            if not self.prelogin(payload):
                return
            ptype, payload = self.read_message()
        if ptype != PKT_LOGIN7 or not self.login(payload):
            return
        while True:
            ptype, payload = self.read_message()
            if ptype == PKT_BATCH:
                self.batch(payload)
            elif ptype == PKT_ATTENTION:
                self.done(DONE_ATTN)
                self.flush()
            else:
                return  # nothing else is spoken here (RPC, bulk load, ...)

    def prelogin(self, payload):
        client_encryption = 0
        i = 0
        while i < len(payload) and payload[i] != 0xFF:
            option, offset, length = struct.unpack(">BHH", payload[i:i + 5])
            if option == 0x01 and length >= 1:
                client_encryption = payload[offset]
            i += 5
        options = [
            (0x00, PRODUCT_VERSION + b"\x00\x00"),  # VERSION
            (0x01, b"\x02"),  # ENCRYPTION: ENCRYPT_NOT_SUP
            (0x02, b"\x00"),  # INSTOPT
            (0x03, b""),  # THREADID
            (0x04, b"\x00"),  # MARS off
        ]
        offset = len(options) * 5 + 1
        head, body = bytearray(), bytearray()
        for option, value in options:
            head += struct.pack(">BHH", option, offset + len(body), len(value))
            body += value
        self.out += head + b"\xFF" + body
        self.flush()
        # A client that demands encryption cannot go on with a server without it.
        return client_encryption not in (0x01, 0x03)

    def login(self, payload):
        def field(pos):
            offset, chars = struct.unpack("<HH", payload[pos:pos + 4])
            return payload[offset:offset + 2 * chars]

        requested = struct.unpack("<I", payload[4:8])[0]
        self.version = max([v for v in KNOWN_VERSIONS if v <= requested] or [TDS71])
        self.packet_size = min(max(struct.unpack("<I", payload[8:12])[0] or 4096, 512), 32767)
        user = field(40).decode("utf-16-le", "replace")
        password = bytes(((b ^ 0xA5) >> 4) | (((b ^ 0xA5) & 0x0F) << 4)
                         for b in field(44)).decode("utf-16-le", "replace")
        database = field(68).decode("utf-16-le", "replace") or "master"

        if user != self.server.user or password != self.server.password:
            self.error(18456, 14, "Login failed for user '%s'." % user)
            self.done(DONE_ERROR)
            self.flush()
            return False
        found = self.server.find_database(database)
        if found is None:
            self.error(4060, 11, 'Cannot open database "%s" requested by the login. '
                       "The login failed." % database)
            self.error(18456, 14, "Login failed for user '%s'." % user)
            self.done(DONE_ERROR)
            self.flush()
            return False

        self.database = found
        self.envchange(1, found, "master")
        self.info(5701, "Changed database context to '%s'." % found, cls=10)
        self.out += token_with_length(TOK_ENVCHANGE, b"\x07" + bytes([len(COLLATION)]) + COLLATION
                                      + b"\x00")
        self.envchange(2, "us_english", "")
        self.info(5703, "Changed language setting to us_english.", cls=10)
        ack = (b"\x01" + struct.pack(">I", self.version) + b_varchar("Microsoft SQL Server")
               + PRODUCT_VERSION)
        self.out += token_with_length(TOK_LOGINACK, ack)
        if self.version >= 0x74000004 and payload[27] & 0x10:
            # The only feature acknowledged is UTF8_SUPPORT, as a 2019 server does.
            features = feature_ext(payload)
            self.out += bytes([TOK_FEATUREEXTACK])
            if 0x0A in features:
                self.out += b"\x0A" + struct.pack("<I", 1) + b"\x01"
            self.out += b"\xFF"
        self.envchange(4, str(self.packet_size), "4096")
        self.done()
        self.flush()
        return True

    def batch(self, payload):
        if self.version >= TDS72 and len(payload) >= 4:
            payload = payload[struct.unpack("<I", payload[:4])[0]:]  # ALL_HEADERS
        sql = payload.decode("utf-16-le", "replace")
        self.server.record(sql)
        try:
            verb = first_word(sql)
            if verb == "BACKUP":
                if not self.backup(*parse_backup(sql)):
                    return
            elif verb == "USE":
                name = parse_use(sql)
                found = self.server.find_database(name)
                if found is None:
                    raise SqlError(no_database(name))
                self.envchange(1, found, self.database)
                self.database = found
                self.info(5701, "Changed database context to '%s'." % found, cls=10)
                self.done()
            else:
                self.done()
        except SqlError as e:
            for number, cls, text in e.messages:
                self.error(number, cls, text)
            self.done(DONE_ERROR)
        self.flush()

    def backup(self, name, path, options):
        """Returns False when the connection was dropped on purpose."""
        server = self.server
        terminating = (3013, 16, "BACKUP DATABASE is terminating abnormally.")
        database = server.find_database(name)
        if database is None:
            raise SqlError(no_database(name), terminating)
        if server.mode == "express" and "COMPRESSION" in options:
            raise SqlError((1844, 16, "BACKUP DATABASE WITH COMPRESSION is not supported on "
                                      "Express Edition (64-bit)."), terminating)
        try:
            out = open(path, "wb")
        except OSError as e:
            code = "3(The system cannot find the path specified.)" \
                if isinstance(e, FileNotFoundError) else "5(Access is denied.)"
            raise SqlError((3201, 16, "Cannot open backup device '%s'. Operating system error %s."
                            % (path, code)), terminating)

        # Progress only comes with STATS, as on the real thing; bare STATS means 10.
        stats = options.get("STATS")
        stats = 10 if stats is True else stats
        started = time.monotonic()
        contents = BackupContents(seed=len(path))
        reported = 0
        with out:
            for step in range(1, 11):
                size = server.backup_size * step // 10 - server.backup_size * (step - 1) // 10
                contents.write(out, size)
                out.flush()
                percent = step * 10
                if isinstance(stats, int) and stats > 0 and percent - reported >= stats:
                    reported = percent
                    self.info(3211, "%d percent processed." % percent)
                    self.done(DONE_MORE)
                    self.flush(last=False)
                if step == 3 and server.mode == "drop30":
                    self.sock.shutdown(socket.SHUT_RDWR)
                    return False
                if step == 3 and server.mode == "fail30":
                    raise SqlError((3202, 16, 'Write on "%s" failed: 112(There is not enough space '
                                              'on the disk.)' % path), terminating)
                if self.attention_pending(server.step_delay):
                    self.out.clear()
                    self.done(DONE_ATTN)
                    return True

        pages = max(1, server.backup_size // PAGE)
        seconds = max(time.monotonic() - started, 0.001)
        self.info(4035, "Processed %d pages for database '%s', file '%s' on file 1."
                  % (pages, database, database))
        self.info(4035, "Processed 2 pages for database '%s', file '%s_log' on file 1."
                  % (database, database))
        self.info(3014, "BACKUP DATABASE successfully processed %d pages in %.3f seconds "
                        "(%.3f MB/sec)." % (pages + 2, seconds,
                                            (pages + 2) * PAGE / 1048576 / seconds))
        self.done()
        return True


# ---------------------------------------------------------------- server

class Server:
    def __init__(self, args):
        self.user = args.user
        self.password = args.password
        self.databases = args.database or ["master", "Vendas"]
        self.backup_size = args.backup_size
        self.mode = args.mode
        self.step_delay = args.step_delay
        self.batches = open(args.batches, "a", encoding="utf-8") if args.batches else None
        self.lock = threading.Lock()

    def find_database(self, name):
        # Database names follow the server's case-insensitive collation.
        for db in self.databases:
            if db.lower() == name.lower():
                return db
        return None

    def record(self, sql):
        if self.batches:
            with self.lock:
                self.batches.write(json.dumps({"sql": sql}, ensure_ascii=True) + "\n")
                self.batches.flush()

    def handle(self, sock, spid):
        try:
            Connection(self, sock, spid).serve()
        except (Disconnected, OSError):
            pass
        finally:
            sock.close()


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--user", default="sa")
    ap.add_argument("--password", default="")
    ap.add_argument("--database", action="append", help="a database that exists (repeatable)")
    ap.add_argument("--backup-size", type=int, default=1048576)
    ap.add_argument("--mode", choices=["normal", "express", "fail30", "drop30"], default="normal")
    ap.add_argument("--step-delay", type=float, default=0.0)
    ap.add_argument("--batches", help="file that gets one JSON line per SQL batch")
    args = ap.parse_args()

    server = Server(args)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(16)

    def stop(signum, frame):
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    print("LISTENING %d" % listener.getsockname()[1], flush=True)

    spid = 51
    try:
        while True:
            sock, _ = listener.accept()
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            threading.Thread(target=server.handle, args=(sock, spid), daemon=True).start()
            spid += 1
    except SystemExit:
        pass
    listener.close()
    if server.batches:
        server.batches.close()
    sys.stdout.flush()
    # Connection threads may be in the middle of a reply; don't wait for them.
    os._exit(0)


if __name__ == "__main__":
    main()

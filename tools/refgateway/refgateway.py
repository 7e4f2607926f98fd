#!/usr/bin/env python3
"""A loopback mailbox gateway written on its own from the gateway's wire tables.

It serves the operator login (MD5 challenge and session key), encrypted transactions,
serial-number blocks, the permission query and the mailbox file services over a folder
tree (one folder per mailbox code). It exists so that the client can be checked against
a peer that shares none of its code: every record below is encoded from the tables, and
anything a client sends that does not match them is logged as a "VIOLATION" line while
the gateway answers as a real one would.

Python 3 standard library only; the block cipher is the system libcrypto through ctypes.
Listens on 127.0.0.1 only, one thread per connection.

    refgateway.py --mailbox-root DIR --operator CODE --password TEXT [--port-file FILE]
                  [--grant ORG:SERVICE:FUNCTION[:KIND] ...] [--fault CODE:FTPTYPE:N ...]

DIR holds one folder per mailbox code (FTP_A_QS, ...). Without --grant the operator may do
everything ("**") on every mailbox of VRELKA. --fault answers the Nth file request of an FTP
type with the given return code instead of serving it. The gateway stops by itself after
--lifetime seconds.
"""

import argparse
import ctypes
import datetime
import fnmatch
import hashlib
import os
import random
import socket
import socketserver
import struct
import sys
import threading
import time

HEADER_SIZE = 17
RECORD_SIZE = 126
CHUNK_PLAIN = 16384
CHUNK_CIPHER = 16392
# Largest message body we accept; a length field above it is treated as garbage.
MAX_BODY = 64 * 1024 * 1024
MAX_REQUESTS_PER_CONNECTION = 1_000_000

RC_OK = "0000"
RC_NO_RIGHT = "E001"
RC_FAILED = "0015"

TEXT_ENCODING = "gbk"

MAILBOX_ORGANISATION = "VRELKA"
DEFAULT_MAILBOXES = ("FTP_A_QS", "FTP_B_QS", "FTP_SG", "FTP_A_BULLET", "FTP_B_BULLET",
                     "FTP_SG_BULLET", "FTP_TZ_BULLET", "FTP_SSHB")

FTP_LIST, FTP_DELETE, FTP_RENAME, FTP_UPLOAD, FTP_DOWNLOAD, FTP_HISTORY = (
    "00", "01", "02", "03", "04", "09")


class ProtocolError(Exception):
    """The peer sent something that cannot be read as a message; the connection ends."""


# ---------------------------------------------------------------------------------------
# Logging

class Log:
    """One line per event on the chosen stream; VIOLATION lines are also counted."""

    def __init__(self, stream):
        self._stream = stream
        self._lock = threading.Lock()
        self.violations = 0

    def info(self, conn, text):
        self._write(f"[{conn}] {text}")

    def violation(self, conn, text):
        with self._lock:
            self.violations += 1
        self._write(f"[{conn}] VIOLATION {text}")

    def _write(self, line):
        stamp = time.strftime("%H:%M:%S")
        with self._lock:
            self._stream.write(f"{stamp} {line}\n")
            self._stream.flush()


# ---------------------------------------------------------------------------------------
# Body cipher: two-key Triple-DES (encrypt K1, decrypt K2, encrypt K1) on independent
# 8-byte blocks, after a padding of 1 to 8 bytes whose last byte says how many filler
# bytes stand before it.

class TripleDes:
    def __init__(self):
        self._lib = ctypes.CDLL("libcrypto.so.3")
        lib = self._lib
        lib.EVP_des_ede3_ecb.restype = ctypes.c_void_p
        lib.EVP_CIPHER_CTX_new.restype = ctypes.c_void_p
        lib.EVP_CIPHER_CTX_free.argtypes = [ctypes.c_void_p]
        lib.EVP_CipherInit_ex.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p,
                                          ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int]
        lib.EVP_CIPHER_CTX_set_padding.argtypes = [ctypes.c_void_p, ctypes.c_int]
        lib.EVP_CipherUpdate.argtypes = [ctypes.c_void_p, ctypes.c_char_p,
                                         ctypes.POINTER(ctypes.c_int), ctypes.c_char_p,
                                         ctypes.c_int]
        self._cipher = lib.EVP_des_ede3_ecb()
        if not self._cipher:
            raise RuntimeError("libcrypto offers no DES-EDE3-ECB")

    def _run(self, key16, data, encrypt):
        # K1 K2 K1 as a three-key schedule is the two-key construction.
        key24 = key16[:8] + key16[8:16] + key16[:8]
        lib = self._lib
        ctx = lib.EVP_CIPHER_CTX_new()
        if not ctx:
            raise RuntimeError("EVP_CIPHER_CTX_new failed")
        try:
            if lib.EVP_CipherInit_ex(ctx, self._cipher, None, key24, None,
                                     1 if encrypt else 0) != 1:
                raise RuntimeError("EVP_CipherInit_ex failed")
            lib.EVP_CIPHER_CTX_set_padding(ctx, 0)
            out = ctypes.create_string_buffer(len(data) + 8)
            out_len = ctypes.c_int(0)
            if lib.EVP_CipherUpdate(ctx, out, ctypes.byref(out_len), data, len(data)) != 1:
                raise RuntimeError("EVP_CipherUpdate failed")
            return out.raw[:out_len.value]
        finally:
            lib.EVP_CIPHER_CTX_free(ctx)

    def encrypt(self, key16, plain):
        remainder = len(plain) % 8
        filler = 7 - remainder
        # The filler bytes mean nothing; random ones keep a peer from relying on zeros.
        padded = plain + os.urandom(filler) + bytes([filler])
        return self._run(key16, padded, True)

    def decrypt(self, key16, cipher):
        if len(cipher) == 0 or len(cipher) % 8 != 0:
            raise ProtocolError(f"cipher text of {len(cipher)} bytes is not whole blocks")
        plain = self._run(key16, cipher, False)
        filler = plain[-1]
        if filler > 7:
            raise ProtocolError(f"last plain byte {filler} is not a padding count")
        return plain[:len(plain) - filler - 1]


CIPHER = None  # set in main(); one instance serves every thread


def encrypt_body(key, plain):
    """Everything after the frame header, cut into 16,384-byte pieces encrypted one by one."""
    pieces = [plain[i:i + CHUNK_PLAIN] for i in range(0, len(plain), CHUNK_PLAIN)] or [b""]
    return b"".join(CIPHER.encrypt(key, piece) for piece in pieces)


def decrypt_body(key, cipher, plain_length):
    """Reverse of encrypt_body: 16,392-byte pieces while more than one plain piece remains."""
    out = []
    position = 0
    remaining = plain_length
    while remaining >= CHUNK_PLAIN + 1:
        out.append(CIPHER.decrypt(key, cipher[position:position + CHUNK_CIPHER]))
        position += CHUNK_CIPHER
        remaining -= CHUNK_PLAIN
    out.append(CIPHER.decrypt(key, cipher[position:]))
    plain = b"".join(out)
    if len(plain) != plain_length:
        raise ProtocolError(f"body decrypts to {len(plain)} bytes, header says {plain_length}")
    return plain


# ---------------------------------------------------------------------------------------
# Frame: 4-byte big-endian length of what follows, "0", 4-byte plain length, eight blanks,
# then the two-character message code and the message's records.

def frame_header(wire_length, plain_length):
    return struct.pack(">I", wire_length) + b"0" + struct.pack(">I", plain_length) + b" " * 8


def recv_exactly(sock, count):
    chunks = []
    remaining = count
    while remaining > 0:
        chunk = sock.recv(min(remaining, 1 << 20))
        if not chunk:
            raise ConnectionError("peer closed the connection")
        chunks.append(chunk)
        remaining -= len(chunk)
    return b"".join(chunks)


def read_frame(sock):
    """One frame as (header bytes, the bytes after the header as they came)."""
    header = recv_exactly(sock, HEADER_SIZE)
    (wire_length,) = struct.unpack(">I", header[0:4])
    if wire_length > MAX_BODY:
        raise ProtocolError(f"frame length {wire_length} is beyond reason")
    return header, recv_exactly(sock, wire_length)


def send_message(sock, key, message):
    """message = code + records + payload; encrypted under the session key."""
    cipher = encrypt_body(key, message)
    sock.sendall(frame_header(len(cipher), len(message)) + cipher)


# ---------------------------------------------------------------------------------------
# Fixed-width text fields

def text_field(value, width):
    raw = value.encode(TEXT_ENCODING) if isinstance(value, str) else value
    return raw[:width].ljust(width, b" ")


def field_text(raw):
    return raw.decode(TEXT_ENCODING, errors="replace")


def is_digits(raw):
    return len(raw) > 0 and all(0x30 <= b <= 0x39 for b in raw)


def hex_md5(data):
    return hashlib.md5(data).hexdigest()


# ---------------------------------------------------------------------------------------
# Login: H1 = hex MD5 of the 8-byte blank-padded password; H2 = hex MD5 of H1 followed by
# the 16-byte challenge; session key = raw MD5 of H2, the 8-byte operator code, the
# challenge and H1.

def password_digest(password, challenge):
    h1 = hex_md5(password.encode(TEXT_ENCODING).ljust(8, b" ")[:8])
    return h1, hex_md5(h1.encode("ascii") + challenge)


def session_key(h1, h2, operator8, challenge):
    return hashlib.md5(h2.encode("ascii") + operator8 + challenge + h1.encode("ascii")).digest()


def make_challenge():
    # Printable and free of zero bytes, so that the client may treat it as text.
    alphabet = b"ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789"
    return bytes(random.choice(alphabet) for _ in range(16))


def login_answer_record(status, business_date, gateway_time, login_code, user_code):
    """Status ("S" or "s" for success), two 8-byte fields the client skips, date, time,
    login code, user code, one byte the client skips and a 78-byte message."""
    # The fields the client does not use carry values, as a real gateway's would.
    record = (text_field(status, 1) + b"BRANCH01" + b"00000001" + text_field(business_date, 8)
              + text_field(gateway_time, 6) + text_field(login_code, 8)
              + text_field(user_code, 8) + b"1" + text_field("登录成功", 78))
    assert len(record) == RECORD_SIZE
    return record


# ---------------------------------------------------------------------------------------
# Transaction records

class TransactionRequest:
    """The 126-byte request record: serial 16, sequence 10, organisation 16, service 16,
    function 2, user code 8, operator 8, payload length 9, serial flag 1, 40 blanks."""

    def __init__(self, record, payload):
        self.raw = record
        self.serial = record[0:16]
        self.sequence = record[16:26]
        self.organisation = field_text(record[26:42]).strip()
        self.service = field_text(record[42:58]).strip()
        self.function = field_text(record[58:60]).strip()
        self.user_code = record[60:68]
        self.operator = record[68:76]
        self.payload_length_field = record[76:85]
        self.serial_flag = record[85:86]
        self.tail = record[86:126]
        self.payload = payload

    def route(self):
        return f"{self.organisation}/{self.service}/{self.function}"


def response_record(request, return_code, payload_length, message):
    """The 126-byte response record: the request's serial, sequence, organisation, service
    and function echoed, return code 4, payload length 9 decimal, one unused byte, message 52."""
    record = (request.raw[0:16] + request.raw[16:26] + request.raw[26:42] + request.raw[42:58]
              + request.raw[58:60] + text_field(return_code, 4)
              + text_field(f"{payload_length:09d}", 9) + b"0" + text_field(message, 52))
    assert len(record) == RECORD_SIZE
    return record


def serial_answer_record(text8, return_code, first, flag, count, message):
    """Answer to a serial-number request: text 8, return code 4, first serial 16 decimal,
    serial flag 1, count 4 decimal, 10 unused, message 83."""
    record = (text_field(text8, 8) + text_field(return_code, 4) + f"{first:016d}".encode()
              + flag + f"{count:04d}".encode() + b"0000000000" + text_field(message, 83))
    assert len(record) == RECORD_SIZE
    return record


def permission_entry(user_code, operator8, organisation, service, function, kind):
    """54 bytes: two 8-byte fields the client skips, organisation 16, service 16,
    function 2 ("**" = all), 3 unused, kind 1 ("C" grants)."""
    entry = (text_field(user_code, 8) + operator8 + text_field(organisation, 16)
             + text_field(service, 16) + text_field(function, 2) + b"001"
             + text_field(kind, 1))
    assert len(entry) == 54
    return entry


# ---------------------------------------------------------------------------------------
# File-service body: N1, N2 (one byte each), A, B, C (32-bit big-endian), name 1 and
# name 2 (UTF-16LE, no terminator), then the payload.

class FileBody:
    def __init__(self, name1, name2, a, b, c, data):
        self.name1, self.name2, self.a, self.b, self.c, self.data = name1, name2, a, b, c, data

    @staticmethod
    def parse(payload):
        if len(payload) < 14:
            raise ValueError(f"file-service body of {len(payload)} bytes is shorter than 14")
        n1, n2 = payload[0], payload[1]
        a, b, c = struct.unpack(">iii", payload[2:14])
        if 14 + n1 + n2 > len(payload):
            raise ValueError(f"names of {n1}+{n2} bytes pass the body's end")
        if n1 % 2 or n2 % 2:
            raise ValueError(f"name lengths {n1}/{n2} are not whole UTF-16 units")
        name1 = payload[14:14 + n1].decode("utf-16-le")
        name2 = payload[14 + n1:14 + n1 + n2].decode("utf-16-le")
        return FileBody(name1, name2, a, b, c, payload[14 + n1 + n2:])

    def encode(self):
        raw1 = self.name1.encode("utf-16-le")
        raw2 = self.name2.encode("utf-16-le")
        return (bytes([len(raw1), len(raw2)]) + struct.pack(">iii", self.a, self.b, self.c)
                + raw1 + raw2 + self.data)


def list_entry(entry_type, size, date8, time8, name):
    """24 bytes then the name: name length 1, type 3, size 4 big-endian, date 8, time 8
    with colons, name UTF-16LE."""
    raw_name = name.encode("utf-16-le")
    if len(raw_name) > 255:
        raise ValueError(f"name {name!r} is too long for a list entry")
    return (bytes([len(raw_name)]) + text_field(entry_type, 3) + struct.pack(">i", size)
            + text_field(date8, 8) + text_field(time8, 8) + raw_name)


# ---------------------------------------------------------------------------------------
# Mailbox tree

class ServiceFailure(Exception):
    """A file service that cannot be done; answered with its return code and message."""

    def __init__(self, return_code, message):
        super().__init__(message)
        self.return_code = return_code
        self.message = message


def fail(message):
    raise ServiceFailure(RC_FAILED, message)


class Mailboxes:
    """The mailbox folders below one root; remote names use backslashes."""

    def __init__(self, root):
        self.root = os.path.realpath(root)
        self.write_lock = threading.Lock()

    def mailbox_dir(self, mailbox):
        if not mailbox or "/" in mailbox or "\\" in mailbox or mailbox in (".", ".."):
            fail("信箱名称不合法")
        path = os.path.realpath(os.path.join(self.root, mailbox))
        if not os.path.isdir(path):
            fail("信箱不存在")
        return path

    def resolve(self, mailbox, remote):
        """Local path of a remote name; refuses anything that would leave the mailbox."""
        base = self.mailbox_dir(mailbox)
        parts = [p for p in remote.replace("/", "\\").split("\\") if p != ""]
        for part in parts:
            if part in (".", "..") or ":" in part or "\0" in part:
                fail("文件名不合法")
        path = os.path.join(base, *parts) if parts else base
        real = os.path.realpath(path)
        if real != base and not real.startswith(base + os.sep):
            fail("文件名不合法")
        return path

    def list(self, mailbox, spec, today_only):
        """Entries of a directory: spec is a directory, or a directory and a name pattern."""
        spec = spec.replace("/", "\\")
        directory, _, last = spec.rpartition("\\")
        if "*" in last or "?" in last:
            pattern = last
        else:
            directory, pattern = spec, "*"
        path = self.resolve(mailbox, directory)
        if not os.path.isdir(path):
            fail("目录不存在")
        today = datetime.date.today()
        entries = []
        for name in sorted(os.listdir(path)):
            if not windows_match(name, pattern) or not fits_wire(name):
                continue
            full = os.path.join(path, name)
            info = os.stat(full)
            stamp = datetime.datetime.fromtimestamp(info.st_mtime)
            is_dir = os.path.isdir(full)
            if today_only and (is_dir or stamp.date() != today):
                continue
            entries.append(list_entry("DIR" if is_dir else "FIL", 0 if is_dir else info.st_size,
                                      stamp.strftime("%Y%m%d"), stamp.strftime("%H:%M:%S"),
                                      name))
        return entries

    def read(self, mailbox, remote, offset, length):
        path = self.resolve(mailbox, remote)
        if not os.path.isfile(path):
            fail("文件不存在")
        size = os.path.getsize(path)
        if offset < 0 or length < 0 or offset > size:
            fail("偏移量出错")
        with open(path, "rb") as f:
            f.seek(offset)
            return f.read(min(length, size - offset)), size

    def write(self, mailbox, remote, file_size, offset, data):
        """Stores one uploaded packet in place; the file ends at the announced size."""
        path = self.resolve(mailbox, remote)
        if not os.path.isdir(os.path.dirname(path)):
            fail("目录不存在")
        if os.path.isdir(path):
            fail("同名目录已存在")
        if file_size < 0 or offset < 0 or offset + len(data) > file_size:
            fail("偏移量出错")
        with self.write_lock:
            fd = os.open(path, os.O_RDWR | os.O_CREAT, 0o644)
            try:
                os.pwrite(fd, data, offset)
                if os.fstat(fd).st_size > file_size:
                    os.ftruncate(fd, file_size)
            finally:
                os.close(fd)

    def md5(self, mailbox, remote):
        path = self.resolve(mailbox, remote)
        if not os.path.isfile(path):
            fail("文件不存在")
        digest = hashlib.md5()
        with open(path, "rb") as f:
            for piece in iter(lambda: f.read(1 << 20), b""):
                digest.update(piece)
        return digest.digest(), os.path.getsize(path)

    def delete(self, mailbox, remote):
        path = self.resolve(mailbox, remote)
        if not os.path.isfile(path):
            fail("文件不存在")
        with self.write_lock:
            os.remove(path)

    def rename(self, mailbox, old, new):
        old_path = self.resolve(mailbox, old)
        new_path = self.resolve(mailbox, new)
        if not os.path.isfile(old_path):
            fail("文件不存在")
        if os.path.exists(new_path):
            fail("目标文件已存在")
        if not os.path.isdir(os.path.dirname(new_path)):
            fail("目录不存在")
        with self.write_lock:
            os.rename(old_path, new_path)


def fits_wire(name):
    """A name travels as UTF-16LE with a one-byte length: at most 127 characters, and only
    names that decode from the file system."""
    try:
        return len(name.encode("utf-16-le")) <= 254
    except UnicodeEncodeError:
        return False


def windows_match(name, pattern):
    """Wildcards as a Windows directory search reads them: "*.*" is every name."""
    if pattern in ("*", "*.*"):
        return True
    return fnmatch.fnmatchcase(name.lower(), pattern.lower())


# ---------------------------------------------------------------------------------------
# Serial numbers: blocks handed out to every session from one counter; each number may be
# used once by a file transaction.

class SerialBook:
    def __init__(self, first):
        self._lock = threading.Lock()
        self._next = first
        self._issued = {}  # serial -> (route key, flag)
        self._used = set()

    def issue(self, route_key, flag, count):
        with self._lock:
            first = self._next
            self._next += count
            for number in range(first, first + count):
                self._issued[number] = (route_key, flag)
            return first

    def redeem(self, serial, route_key, flag):
        """(whether the number was ever issued, what is wrong with its use)."""
        if not is_digits(serial) or len(serial) != 16:
            return False, [f"serial {serial!r} is not 16 digits"]
        number = int(serial)
        with self._lock:
            if number not in self._issued:
                return False, [f"serial {number:016d} was never issued"]
            issued_route, issued_flag = self._issued[number]
            problems = []
            if number in self._used:
                problems.append(f"serial {number:016d} used twice")
            self._used.add(number)
        if issued_route != route_key:
            problems.append(f"serial {number:016d} issued for {issued_route}, used for {route_key}")
        if issued_flag != flag:
            problems.append(f"serial flag {flag!r} differs from the issued {issued_flag!r}")
        return True, problems


# ---------------------------------------------------------------------------------------
# Settings shared by all connections

class Gateway:
    def __init__(self, args, log):
        self.operator = args.operator
        self.password = args.password
        self.user_code = args.user_code
        self.business_date = args.business_date
        self.version_stamp = args.version_stamp
        self.serial_flag = args.serial_flag.encode("ascii")
        self.grants = parse_grants(args.grant)
        self.mailboxes = Mailboxes(args.mailbox_root)
        first_serial = int(datetime.date.today().strftime("%Y%m%d")) * 100_000_000 + 100
        self.serials = SerialBook(first_serial)
        self.idle_timeout = args.idle_timeout
        self.login_status = args.login_status
        self.refuse_login = args.refuse_login
        self.list_version_entry = args.list_version_entry
        self.answer_delay = min(max(args.answer_delay, 0.0), 5.0)
        self.faults = parse_faults(args.fault)
        self.requests_by_type = {}
        self.log = log
        self._connections = 0
        self._lock = threading.Lock()

    def next_connection_id(self):
        with self._lock:
            self._connections += 1
            return self._connections

    def injected_fault(self, function):
        """The return code to answer instead of serving this file request, if one is set
        for its place in the count of requests of its FTP type."""
        with self._lock:
            count = self.requests_by_type.get(function, 0) + 1
            self.requests_by_type[function] = count
        return self.faults.get((function, count))

    def allows(self, organisation, service, function):
        for org, svc, func, kind in self.grants:
            if kind not in ("C", "c"):
                continue
            if org.lower() == organisation.lower() and svc.lower() == service.lower() and (
                    func == "**" or func.lower() == function.lower()):
                return True
        return False


def parse_grants(texts):
    if not texts:
        return [(MAILBOX_ORGANISATION, m, "**", "C") for m in DEFAULT_MAILBOXES]
    grants = []
    for text in texts:
        parts = text.split(":")
        if len(parts) == 3:
            parts.append("C")
        if len(parts) != 4 or not parts[1] or len(parts[2]) != 2 or len(parts[3]) != 1:
            raise SystemExit(f"--grant {text!r}: expected ORG:SERVICE:FUNCTION[:KIND]")
        grants.append(tuple(parts))
    return grants


def parse_faults(texts):
    faults = {}
    for text in texts or []:
        parts = text.split(":")
        if len(parts) != 3 or len(parts[0]) != 4 or len(parts[1]) != 2 or not parts[2].isdigit():
            # CODE is a four-character return code, or DROP to close without an answer.
            raise SystemExit(f"--fault {text!r}: expected CODE:FTPTYPE:N")
        faults[(parts[1], int(parts[2]))] = parts[0]
    return faults


# ---------------------------------------------------------------------------------------
# One connection: the login, then transactions until the peer leaves.

class Session:
    def __init__(self, gateway, sock, conn_id):
        self.gw = gateway
        self.sock = sock
        self.conn = conn_id
        self.key = None
        self.login_code = None
        self.last_sequence = 0

    def violation(self, text):
        self.gw.log.violation(self.conn, text)

    def info(self, text):
        self.gw.log.info(self.conn, text)

    def run(self):
        if not self.login():
            return
        for _ in range(MAX_REQUESTS_PER_CONNECTION):
            try:
                header, wire = read_frame(self.sock)
            except ConnectionError:
                return
            self.handle_transaction(header, wire)

    # -- login ------------------------------------------------------------------------

    def login(self):
        """Challenge, the unencrypted "E0" request, then an encrypted answer or a close."""
        challenge = make_challenge()
        self.sock.sendall(challenge)
        header, message = read_frame(self.sock)
        self.check_login_header(header, len(message))
        if len(message) != 2 + RECORD_SIZE or message[0:2] != b"E0":
            self.violation(f"login request: code {message[0:2]!r}, {len(message)} bytes "
                           f"(want 'E0' and 128)")
            return False
        record = message[2:]
        operator8, digest = record[0:8], record[8:40]
        product, version, zero, tail = record[40:48], record[48:55], record[55:56], record[56:]
        if zero != b"0" or tail != b" " * 70:
            self.violation(f"login record: byte 55 {zero!r}, tail {tail!r}")
        self.info(f"login operator={operator8!r} product={product!r} version={version!r}")

        expected_operator = text_field(self.gw.operator, 8)
        h1, h2 = password_digest(self.gw.password, challenge)
        if operator8 != expected_operator or digest != h2.encode("ascii"):
            # A wrong operator or password: the gateway just hangs up.
            self.info("login refused: wrong operator or password; closing")
            return False

        self.key = session_key(h1, h2, operator8, challenge)
        self.login_code = f"{random.randrange(10**8):08d}"
        now = datetime.datetime.now()
        record = login_answer_record(self.gw.login_status,
                                     self.gw.business_date or now.strftime("%Y%m%d"),
                                     now.strftime("%H%M%S"), self.login_code, self.gw.user_code)
        if self.gw.refuse_login:
            # Right credentials, refused all the same: a status other than "S" and a reason.
            record = b"F" + record[1:48] + text_field(self.gw.refuse_login, 78)
            send_message(self.sock, self.key, b"E0" + record)
            self.info(f"login refused with: {self.gw.refuse_login}")
            return False
        send_message(self.sock, self.key, b"E0" + record)
        self.info(f"login accepted, login code {self.login_code}")
        return True

    def check_login_header(self, header, body_length):
        # The login request alone carries its plain length (128) in little-endian order.
        (wire_length,) = struct.unpack(">I", header[0:4])
        (plain_le,) = struct.unpack("<I", header[5:9])
        if wire_length != 128 or header[4:5] != b"0" or plain_le != 128 \
                or header[9:17] != b" " * 8 or body_length != 128:
            self.violation(f"login header {header.hex()} (body {body_length} bytes)")

    # -- transactions -----------------------------------------------------------------

    def open_message(self, header, wire):
        """Decrypts a transaction frame and checks its header fields."""
        (wire_length,) = struct.unpack(">I", header[0:4])
        (plain_length,) = struct.unpack(">I", header[5:9])
        if header[4:5] != b"0" or header[9:17] != b" " * 8:
            self.violation(f"frame header {header.hex()}")
        expected_cipher = sum(n - n % 8 + 8 for n in chunk_sizes(plain_length))
        if wire_length != expected_cipher:
            self.violation(f"cipher length {wire_length} for {plain_length} plain bytes "
                           f"(want {expected_cipher})")
        return decrypt_body(self.key, wire, plain_length)

    def handle_transaction(self, header, wire):
        message = self.open_message(header, wire)
        code = message[0:2]
        if len(message) < 2 + RECORD_SIZE:
            raise ProtocolError(f"message {code!r} of {len(message)} bytes has no record")
        record, payload = message[2:2 + RECORD_SIZE], message[2 + RECORD_SIZE:]
        if code == b"22":
            self.handle_serial_request(record, payload)
        elif code in (b"40", b"E6"):
            request = TransactionRequest(record, payload)
            self.check_request(request, code)
            if code == b"E6":
                self.handle_permission_query(request)
            else:
                self.handle_file_service(request)
        else:
            raise ProtocolError(f"unknown message code {code!r}")

    def check_sequence(self, raw):
        if not is_digits(raw) or len(raw) != 10:
            self.violation(f"sequence number {raw!r} is not 10 digits")
            return
        value = int(raw)
        if value <= self.last_sequence:
            self.violation(f"sequence number {value} does not follow {self.last_sequence}")
        self.last_sequence = value

    def check_request(self, request, code):
        self.check_sequence(request.sequence)
        if request.user_code != text_field(self.gw.user_code, 8):
            self.violation(f"user code {request.user_code!r} is not the login's")
        if request.operator != text_field(self.gw.operator, 8):
            self.violation(f"operator {request.operator!r} is not the login's")
        if request.payload_length_field != f"{len(request.payload):09d}".encode():
            self.violation(f"payload length field {request.payload_length_field!r} for "
                           f"{len(request.payload)} bytes")
        if request.tail != b" " * 40:
            self.violation(f"request record tail {request.tail!r}")
        if code == b"E6" and (request.serial != b" " * 16 or request.serial_flag != b"0"):
            self.violation(f"permission query serial {request.serial!r} flag "
                           f"{request.serial_flag!r}")

    def answer(self, request, code, return_code, message, payload=b""):
        record = response_record(request, return_code, len(payload), message)
        send_message(self.sock, self.key, code + record + payload)

    def handle_serial_request(self, record, payload):
        """"22": login code 8, organisation 16, service 16, function 2, count 4, sequence 10,
        70 blanks; answered with code "23"."""
        login_code, count_raw = record[0:8], record[42:46]
        organisation = field_text(record[8:24]).strip()
        service = field_text(record[24:40]).strip()
        function = field_text(record[40:42]).strip()
        self.check_sequence(record[46:56])
        if payload or record[56:126] != b" " * 70:
            self.violation(f"serial request tail {record[56:126]!r} payload {len(payload)} bytes")
        if login_code != text_field(self.login_code, 8):
            self.violation(f"serial request login code {login_code!r}, "
                           f"session has {self.login_code!r}")
        count = int(count_raw) if is_digits(count_raw) else 0
        route_key = organisation + service + function
        if count < 1:
            self.violation(f"serial request count {count_raw!r}")
            record = serial_answer_record(login_code, RC_FAILED, 0, self.gw.serial_flag, 0,
                                          "申请数量不合法")
        else:
            first = self.gw.serials.issue(route_key, self.gw.serial_flag, count)
            record = serial_answer_record(login_code, RC_OK, first, self.gw.serial_flag, count,
                                          "成功")
            self.info(f"serials {first:016d}+{count} for {organisation}/{service}/{function}")
        send_message(self.sock, self.key, b"23" + record)

    def handle_permission_query(self, request):
        """"E6": answered with the operator's 54-byte permission entries."""
        if (request.organisation, request.service, request.function) != (
                "GATE_MANAGER", "OPERATOR_MANAGER", "11"):
            self.violation(f"permission query route {request.route()}")
        # The operator code as the login carried it (cut to 8), then blanks.
        expected_payload = text_field(text_field(self.gw.operator, 8), 40) + b" " * 185
        if request.payload != expected_payload:
            self.violation(f"permission query payload {request.payload!r}")
        operator8 = text_field(self.gw.operator, 8)
        entries = b"".join(permission_entry(self.gw.user_code, operator8, *grant)
                           for grant in self.gw.grants)
        self.info(f"permissions: {len(self.gw.grants)} entries")
        self.answer(request, b"E6", RC_OK, "成功", entries)

    def handle_file_service(self, request):
        """"40": the mailbox services, chosen by the function code."""
        route_key = request.organisation + request.service + request.function
        known, problems = self.gw.serials.redeem(request.serial, route_key, request.serial_flag)
        for problem in problems:
            self.violation(problem)
        try:
            body = FileBody.parse(request.payload)
        except (ValueError, UnicodeDecodeError) as error:
            self.violation(f"{request.route()}: {error}")
            self.answer(request, b"40", RC_FAILED, "请求格式错误")
            return
        injected = self.gw.injected_fault(request.function) if known else None
        if injected == "DROP":
            self.info(f"{request.route()} injected fault: connection dropped unanswered")
            raise ConnectionAbortedError("fault injected")
        try:
            if not known:
                fail("交易序列号无效")
            if injected:
                self.info(f"{request.route()} injected fault: answered {injected}")
                raise ServiceFailure(injected, "模拟故障")
            if not self.gw.allows(request.organisation, request.service, request.function):
                raise ServiceFailure(RC_NO_RIGHT, "该操作员无此权限")
            if request.organisation != MAILBOX_ORGANISATION:
                self.violation(f"organisation {request.organisation!r} for a file service")
            answer_body, summary = self.file_service(request, body)
        except ServiceFailure as failure:
            self.info(f"{request.route()} {body.name1!r} {body.name2!r}: "
                      f"{failure.return_code} {failure.message}")
            self.answer(request, b"40", failure.return_code, failure.message)
            return
        except OSError as error:
            self.info(f"{request.route()}: {error}")
            self.answer(request, b"40", RC_FAILED, "文件操作失败")
            return
        self.info(f"{request.route()} {summary}")
        if self.gw.answer_delay > 0:
            time.sleep(self.gw.answer_delay)
        self.answer(request, b"40", RC_OK, "成功", answer_body.encode())

    def file_service(self, request, body):
        mailbox, function = request.service, request.function
        boxes = self.gw.mailboxes
        if function in (FTP_LIST, FTP_HISTORY):
            if function == FTP_LIST and body.name2 == "MT":
                return self.version_record(body)
            if function == FTP_LIST and body.name2 not in ("", "T"):
                self.violation(f"list selector {body.name2!r}")
            self.expect_fields(body, 0, 0, 0, no_data=True)
            entries = b"".join(boxes.list(mailbox, body.name1, body.name2 == "T"))
            if self.gw.list_version_entry:
                entries = self.version_entry(body) + entries
            return (FileBody(body.name1, body.name2, 0, 0, len(entries), entries),
                    f"list {body.name1!r} selector {body.name2!r}: {len(entries)} bytes")
        if function == FTP_DELETE:
            self.expect_fields(body, 0, 0, 0, no_data=True)
            boxes.delete(mailbox, body.name1)
            return FileBody(body.name1, body.name2, 0, 0, 0, b""), f"delete {body.name1!r}"
        if function == FTP_RENAME:
            self.expect_fields(body, 0, 0, 0, no_data=True)
            if not body.name1 or not body.name2:
                fail("文件名不合法")
            boxes.rename(mailbox, body.name1, body.name2)
            return (FileBody(body.name1, body.name2, 0, 0, 0, b""),
                    f"rename {body.name1!r} -> {body.name2!r}")
        if function == FTP_DOWNLOAD:
            if body.c == -1:
                return self.md5_answer(mailbox, body, body.name1, "download")
            if body.name2:
                self.violation(f"download names a second name {body.name2!r}")
            if body.a != body.c or body.data:
                self.violation(f"download A={body.a} C={body.c} data={len(body.data)}")
            data, size = boxes.read(mailbox, body.name1, body.b, body.c)
            return (FileBody(body.name1, "", size, body.b, len(data), data),
                    f"download {body.name1!r} @{body.b} {len(data)}/{body.c} bytes")
        if function == FTP_UPLOAD:
            if body.c == -1:
                return self.md5_answer(mailbox, body, body.name2, "upload")
            if body.name1:
                self.violation(f"upload names a first name {body.name1!r}")
            if body.c != len(body.data):
                self.violation(f"upload C={body.c} with {len(body.data)} payload bytes")
            boxes.write(mailbox, body.name2, body.a, body.b, body.data)
            return (FileBody("", body.name2, body.a, body.b, len(body.data), b""),
                    f"upload {body.name2!r} @{body.b} {len(body.data)} of {body.a} bytes")
        fail("不支持的FTP_TYPE")

    def expect_fields(self, body, a, b, c, no_data):
        if (body.a, body.b, body.c) != (a, b, c) or (no_data and body.data):
            self.violation(f"A/B/C {body.a}/{body.b}/{body.c} with {len(body.data)} data bytes, "
                           f"want {a}/{b}/{c}")

    def md5_answer(self, mailbox, body, remote, direction):
        """The MD5 query: C = -1, A = B = file size; the answer carries the digest."""
        digest, size = self.gw.mailboxes.md5(mailbox, remote)
        if body.a != size or body.b != size or body.data:
            self.violation(f"{direction} MD5 query A={body.a} B={body.b} for a {size}-byte file")
        if (direction == "download" and body.name2) or (direction == "upload" and body.name1):
            self.violation(f"{direction} MD5 query names {body.name1!r}/{body.name2!r}")
        return (FileBody(body.name1, body.name2, size, size, 0, digest),
                f"{direction} MD5 {remote!r}: {digest.hex()}")

    def version_entry(self, body):
        """A "VER" entry: its date and its time without colons make the version."""
        stamp = self.gw.version_stamp
        date8, time8 = stamp[0:8], f"{stamp[8:10]}:{stamp[10:12]}:{stamp[12:14]}"
        return list_entry("VER", 0, date8, time8, body.name1 or "VERSION")

    def version_record(self, body):
        """Version query: a list answer whose first entry is the version record."""
        entry = self.version_entry(body)
        return (FileBody(body.name1, body.name2, 0, 0, len(entry), entry),
                f"version {self.gw.version_stamp}")


def chunk_sizes(plain_length):
    sizes = [CHUNK_PLAIN] * (plain_length // CHUNK_PLAIN)
    if plain_length % CHUNK_PLAIN or plain_length == 0:
        sizes.append(plain_length % CHUNK_PLAIN)
    return sizes


# ---------------------------------------------------------------------------------------
# Server

class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        gateway = self.server.gateway
        conn_id = gateway.next_connection_id()
        self.request.settimeout(gateway.idle_timeout)
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        session = Session(gateway, self.request, conn_id)
        gateway.log.info(conn_id, f"connected from {self.client_address[0]}:"
                                  f"{self.client_address[1]}")
        try:
            session.run()
        except ConnectionError:
            pass
        except socket.timeout:
            gateway.log.info(conn_id, "idle too long; closing")
        except ProtocolError as error:
            gateway.log.violation(conn_id, f"unreadable message: {error}; closing")
        except OSError as error:
            gateway.log.info(conn_id, f"socket error {error}")
        except Exception as error:  # keep serving other connections; say what went wrong
            gateway.log.info(conn_id, f"internal error {error!r}; closing")
        gateway.log.info(conn_id, "closed")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0, help="TCP port on 127.0.0.1 (0: any)")
    parser.add_argument("--port-file", help="write the chosen port here once listening")
    parser.add_argument("--mailbox-root", required=True, help="one folder per mailbox code")
    parser.add_argument("--operator", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--user-code", default="U0000001", help="8 characters")
    parser.add_argument("--business-date", help="YYYYMMDD (default: today)")
    parser.add_argument("--version-stamp", default="20261208093000",
                        help="YYYYMMDDHHMMSS answered to a version query")
    parser.add_argument("--serial-flag", default="1", help="flag character given with serials")
    parser.add_argument("--grant", action="append",
                        help="ORG:SERVICE:FUNCTION[:KIND], repeatable (default: every mailbox "
                             "of VRELKA with '**')")
    parser.add_argument("--login-status", default="S", choices=("S", "s"),
                        help="status letter of a successful login answer")
    parser.add_argument("--refuse-login", metavar="TEXT",
                        help="answer every correct login with a refusal giving this reason")
    parser.add_argument("--list-version-entry", action="store_true",
                        help="put a version record first in every file list answer")
    parser.add_argument("--fault", action="append",
                        help="CODE:FTPTYPE:N, repeatable: answer the Nth file request of that "
                             "FTP type (counted over all connections) with return code CODE "
                             "instead, or with CODE DROP close the connection unanswered")
    parser.add_argument("--answer-delay", type=float, default=0.0,
                        help="seconds to wait before each successful file answer (at most 5)")
    parser.add_argument("--idle-timeout", type=float, default=120.0,
                        help="seconds a connection may stay silent")
    parser.add_argument("--lifetime", type=float, default=3600.0,
                        help="seconds after which the gateway stops by itself")
    parser.add_argument("--log", help="log file (default: standard error)")
    args = parser.parse_args(argv)
    if len(args.serial_flag) != 1 or len(args.version_stamp) != 14:
        parser.error("--serial-flag is one character, --version-stamp 14 digits")

    global CIPHER
    CIPHER = TripleDes()
    stream = open(args.log, "a", encoding="utf-8") if args.log else sys.stderr
    log = Log(stream)
    server = Server(("127.0.0.1", args.port), Handler)
    server.gateway = Gateway(args, log)
    port = server.server_address[1]
    if args.port_file:
        temporary = args.port_file + ".tmp"
        with open(temporary, "w") as f:
            f.write(f"{port}\n")
        os.replace(temporary, args.port_file)
    print(port, flush=True)
    log.info(0, f"listening on 127.0.0.1:{port}, mailboxes in {server.gateway.mailboxes.root}")

    stopper = threading.Timer(args.lifetime, server.shutdown)
    stopper.daemon = True
    stopper.start()
    try:
        server.serve_forever(poll_interval=0.5)
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
        log.info(0, f"stopped; {log.violations} violations")
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Byte vectors for the reference gateway's codec, worked out by hand with md5sum and
openssl enc, so that the conformance run does not rest on a gateway that merely agrees
with itself. Usage: gateway_vectors.py PATH/TO/refgateway.py"""

import importlib.util
import struct
import sys


def load(path):
    spec = importlib.util.spec_from_file_location("refgateway", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    module.CIPHER = module.TripleDes()
    return module


def check(failures, what, got, want):
    if got != want:
        failures.append(f"{what}: got {got!r}, want {want!r}")


def main():
    gw = load(sys.argv[1])
    failures = []

    # Login digests. By hand:
    #   printf demo1234 | md5sum                                  -> H1
    #   printf '%s%s' H1 ABCDEFGHJKLMNPQR | md5sum                -> H2
    #   printf '%s%s%s%s' H2 DEMO0001 ABCDEFGHJKLMNPQR H1 | md5sum -> session key
    #   printf '%-8s' ab | md5sum                                 -> H1 of a short password
    challenge = b"ABCDEFGHJKLMNPQR"
    h1, h2 = gw.password_digest("demo1234", challenge)
    check(failures, "H1", h1, "6e9bece1914809fb8493146417e722f6")
    check(failures, "H2", h2, "f5cdc21b33f870f489620f24683795d2")
    check(failures, "session key", gw.session_key(h1, h2, b"DEMO0001", challenge).hex(),
          "df8972adb87ef760ac5bc2c46e9a8a2f")
    check(failures, "H1 of a blank-padded password",
          gw.password_digest("ab", challenge)[0], "df5b497a4845c14a2152bbe437d3f278")

    # Body cipher. By hand: printf 'Hello, world!\0\0\002' |
    #   openssl enc -des-ede-ecb -K 00112233445566778899aabbccddeeff -nopad | xxd -p
    key = bytes.fromhex("00112233445566778899aabbccddeeff")
    # (encrypt() puts random filler before the count byte, so the block is padded by hand.)
    check(failures, "13 bytes encrypt",
          gw.CIPHER._run(key, b"Hello, world!\0\0\x02", True).hex(),
          "c542d665329f7d9c87965d8e29da4190")
    check(failures, "13 bytes decrypt",
          gw.CIPHER.decrypt(key, bytes.fromhex("c542d665329f7d9c87965d8e29da4190")),
          b"Hello, world!")
    # Padding: 0 bytes -> 8, 8 bytes -> 16 (last plain byte 7).
    for size, want in ((0, 8), (8, 16), (16383, 16384), (16384, 16392)):
        check(failures, f"cipher size of {size}", len(gw.CIPHER.encrypt(key, b"x" * size)), want)
    check(failures, "padding count of a whole block",
          gw.CIPHER._run(key, gw.CIPHER.encrypt(key, b"12345678"), False)[-1], 7)
    # Refusals: not whole blocks, or a last byte above 7.
    for bad in (b"1234567", gw.CIPHER._run(key, b"abcdefgh", True)):
        try:
            gw.CIPHER.decrypt(key, bad)
            failures.append(f"decrypt accepted {bad.hex()}")
        except gw.ProtocolError:
            pass

    # A 40,000-byte body: pieces of 16,384, 16,384 and 7,232 plain bytes, each padded on its own.
    body = (bytes(range(256)) * 157)[:40000]
    cipher = gw.encrypt_body(key, body)
    check(failures, "40000-byte body cipher length", len(cipher), 16392 + 16392 + 7240)
    check(failures, "40000-byte body round trip", gw.decrypt_body(key, cipher, 40000), body)

    # File-service body: a download of 16384 bytes at 32768 of an 8-character path.
    request = gw.FileBody("ab\\c.txt", "", 16384, 32768, 16384, b"").encode()
    check(failures, "download request length", len(request), 30)
    check(failures, "download request fixed part", request[:14],
          bytes([16, 0]) + struct.pack(">iii", 16384, 32768, 16384))
    # List entry: 24 bytes and the UTF-16LE name.
    entry = gw.list_entry("FIL", 5000, "20261208", "09:30:00", "a.txt")
    check(failures, "list entry", entry,
          b"\x0aFIL\x00\x00\x13\x8820261208" b"09:30:00" + "a.txt".encode("utf-16-le"))

    for failure in failures:
        print("FAIL", failure)
    print(f"{'FAILED' if failures else 'passed'}: codec vectors")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

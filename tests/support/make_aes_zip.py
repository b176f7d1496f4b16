#!/usr/bin/env python3
"""Writes a ZIP archive of WinZip AES members (AE-1 or AE-2), for tests.

7-Zip writes AE-2 only; this writer makes AE-1 members too (the CRC-32 kept
beside the authentication code). It follows the public description of the
format: PBKDF2-HMAC-SHA1 (1000 iterations) gives the cipher key, the
authentication key and a 2-byte verifier; the data is AES in counter mode
with a little-endian counter from 1; HMAC-SHA1 of the stored data, cut to 10
bytes, follows it. AES itself comes from python3-cryptography.

    make_aes_zip.py OUT PASSWORD --strength 1|2|3 --vendor-version 1|2
                    [--stored] [--pad N] FILE...

Members are named by their paths as given and dated by their modification
times (local time, as TZ says).
"""
import argparse
import hashlib
import hmac
import os
import struct
import sys
import time
import zlib

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes


def ctr_stream(key, length):
    encryptor = Cipher(algorithms.AES(key), modes.ECB()).encryptor()
    blocks = (length + 15) // 16
    counters = b"".join(struct.pack("<QQ", n, 0) for n in range(1, blocks + 1))
    return encryptor.update(counters)[:length]


def dos_time(path):
    t = time.localtime(os.stat(path).st_mtime)
    return ((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec // 2),
            ((t.tm_year - 1980) << 9) | (t.tm_mon << 5) | t.tm_mday)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("password")
    parser.add_argument("--strength", type=int, choices=(1, 2, 3), default=3)
    parser.add_argument("--vendor-version", type=int, choices=(1, 2), default=1)
    parser.add_argument("--stored", action="store_true")
    parser.add_argument("--pad", type=int, default=0,
                        help="zero bytes encrypted behind each member's deflate stream")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()

    key_size = 8 + 8 * args.strength
    salt_size = key_size // 2
    method = 0 if args.stored else 8
    archive = bytearray()
    central = bytearray()
    for name in args.files:
        with open(name, "rb") as f:
            data = f.read()
        crc = zlib.crc32(data) if args.vendor_version == 1 else 0
        if method == 8:
            packer = zlib.compressobj(6, zlib.DEFLATED, -15)
            packed = packer.compress(data) + packer.flush() + bytes(args.pad)
        else:
            packed = data
        salt = os.urandom(salt_size)
        derived = hashlib.pbkdf2_hmac("sha1", args.password.encode(), salt, 1000,
                                      2 * key_size + 2)
        cipher_key, auth_key, verifier = (derived[:key_size], derived[key_size:2 * key_size],
                                          derived[2 * key_size:])
        stored = bytes(a ^ b for a, b in zip(packed, ctr_stream(cipher_key, len(packed))))
        code = hmac.new(auth_key, stored, hashlib.sha1).digest()[:10]
        body = salt + verifier + stored + code
        extra = struct.pack("<HHH2sBH", 0x9901, 7, args.vendor_version, b"AE", args.strength,
                            method)
        mod_time, mod_date = dos_time(name)
        encoded = name.encode()
        fields = struct.pack("<HHHHHIIIHH", 51, 0x0001, 99, mod_time, mod_date, crc, len(body),
                             len(data), len(encoded), len(extra))
        offset = len(archive)
        archive += b"PK\x03\x04" + fields + encoded + extra + body
        central += (b"PK\x01\x02" + struct.pack("<H", 51) + fields +
                    struct.pack("<HHHII", 0, 0, 0, 0, offset) + encoded + extra)
    end = struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, len(args.files), len(args.files),
                      len(central), len(archive), 0)
    with open(args.out, "wb") as f:
        f.write(archive + central + end)
    return 0


if __name__ == "__main__":
    sys.exit(main())

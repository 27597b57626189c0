#!/usr/bin/env python3
"""Writes the hostile-shape seeds of the archive fuzzer into archive_corpus/.

Each seed is one mode byte (0 assume multi-disk, 1 assume damaged and scan,
2 assume not a zip) followed by an archive: deep and overlong entry names,
sizes that do not match the data, encrypted data shorter than its header,
entries whose sizes are only in unsigned data descriptors without a central
directory, and an end record that counts fewer entries than its directory holds.
Run it from any directory; it overwrites the seeds it writes.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "archive_corpus")

STORED, DEFLATED = 0, 8
ENCRYPTED, DESCRIPTOR = 1, 8


def raw_deflate(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


class Archive:
    def __init__(self):
        self.data = bytearray()
        self.entries = []

    def add(self, name, payload, method=STORED, flag=0, crc=None, csize=None, usize=None,
            unsigned_descriptor=False):
        crc = zlib.crc32(payload) if crc is None else crc
        csize = len(payload) if csize is None else csize
        usize = len(payload) if usize is None else usize
        offset = len(self.data)
        local = (0, 0, 0) if unsigned_descriptor else (crc, csize, usize)
        self.data += struct.pack("<IHHHIIIIHH", 0x04034B50, 20, flag, method, 0, *local,
                                 len(name), 0) + name + payload
        if unsigned_descriptor:
            self.data += struct.pack("<III", crc, csize, usize)
        self.entries.append((name, method, flag, crc, csize, usize, offset))

    def finish(self, count=None):
        out = bytearray(self.data)
        at = len(out)
        for name, method, flag, crc, csize, usize, offset in self.entries:
            out += struct.pack("<IHHHHIIIIHHHHHII", 0x02014B50, 20, 20, flag, method, 0, crc,
                               csize, usize, len(name), 0, 0, 0, 0, 0x20, offset) + name
        n = len(self.entries) if count is None else count
        out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, n, n, len(out) - at, at, 0)
        return bytes(out)


def write(name, mode, archive):
    with open(os.path.join(CORPUS, name), "wb") as f:
        f.write(bytes([mode]) + archive)


def main():
    a = Archive()
    a.add(b"dd/" * 1000 + b"x", b"deep")
    write("hostile-deep-name.zip", 0, a.finish())

    a = Archive()
    a.add(b"d/" * 2100 + b"x", b"longer than a host path")
    a.add(b"fine.txt", b"ok")
    write("hostile-overlong-name.zip", 0, a.finish())

    hello = b"hello"
    a = Archive()
    a.add(b"big.txt", raw_deflate(hello), DEFLATED, crc=zlib.crc32(hello), usize=0xFFFFFFFE)
    a.add(b"short.txt", b"0123456789", usize=11)
    a.add(b"long.txt", b"0123456789", usize=9)
    a.add(b"crypt.txt", b"abcde", flag=ENCRYPTED, crc=0, usize=0)
    a.add(b"after.txt", b"z" * 40)
    write("hostile-sizes.zip", 0, a.finish())

    a = Archive()
    for i in range(40):
        payload = b"content %d" % i
        a.add(b"f%d" % i, payload, flag=DESCRIPTOR, unsigned_descriptor=True)
    write("hostile-descriptors-no-directory.zip", 1, bytes(a.data))

    a = Archive()
    for i in range(6):
        a.add(b"%05x" % i, b"")
    write("hostile-uncounted-entries.zip", 0, a.finish(count=2))


if __name__ == "__main__":
    main()

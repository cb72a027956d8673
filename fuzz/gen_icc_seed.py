#!/usr/bin/env python3
"""Writes to standard output a profile of almost 1 MiB whose 20000 tag table entries all point
at four large elements: a "text", a "curv", an "mft2" (A2B0, A2B1 and A2B2 sharing it) and an
opaque one. It seeds the whole-profile fuzz harness with inputs at the size where reading every
entry's element on its own, or writing it once per entry, would take minutes and gigabytes."""
import struct
import sys

ENTRIES = 20000


def element(kind, body):
    e = kind + b"\0\0\0\0" + body
    return e + b"\0" * (-len(e) % 4)


def main():
    text = element(b"text", b"shared text " * 16000 + b"\0")
    count = 60000
    curve = element(b"curv", struct.pack(">I", count) + b"".join(struct.pack(">H", i) for i in range(count)))
    grid = 33
    mft2 = struct.pack(">BBBB", 3, 3, grid, 0)
    mft2 += b"".join(struct.pack(">i", 65536 if r == c else 0) for r in range(3) for c in range(3))
    mft2 += struct.pack(">HH", 2, 2)
    mft2 += struct.pack(">HH", 0, 65535) * 3
    mft2 += b"".join(struct.pack(">H", i & 0xFFFF) for i in range(grid ** 3 * 3))
    mft2 += struct.pack(">HH", 0, 65535) * 3
    lut = element(b"mft2", mft2)
    xyz = element(b"XYZ ", struct.pack(">iii", 63190, 65536, 54061))

    start = 132 + 12 * ENTRIES
    offsets = {}
    elements = b""
    for name, data in (("text", text), ("curv", curve), ("mft2", lut), ("XYZ ", xyz)):
        offsets[name] = (start + len(elements), len(data))
        elements += data
    kinds = [(b"desc", "text"), (b"cprt", "text"), (b"rTRC", "curv"), (b"gTRC", "curv"),
             (b"A2B0", "mft2"), (b"A2B1", "mft2"), (b"A2B2", "mft2"), (b"wtpt", "XYZ ")]
    table = b""
    for i in range(ENTRIES):
        signature, name = kinds[i % len(kinds)]
        table += signature + struct.pack(">II", *offsets[name])
    size = start + len(elements)
    header = bytearray(128)
    header[0:4] = struct.pack(">I", size)
    header[8:12] = bytes([2, 0x10, 0, 0])
    header[12:24] = b"scnrRGB Lab "
    header[36:40] = b"acsp"
    profile = bytes(header) + struct.pack(">I", ENTRIES) + table + elements
    assert len(profile) == size <= 1 << 20
    sys.stdout.buffer.write(profile)


if __name__ == "__main__":
    main()

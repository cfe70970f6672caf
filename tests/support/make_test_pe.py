#!/usr/bin/env python3
"""Writes a minimal PE32 program image (one code section) for the signature
tests: make_test_pe.py OUT [TEXT]. TEXT goes into the section, so files made
with different texts differ. The image is well formed for signing tools; it
is not meant to be run."""
import struct
import sys


def image(text):
    dos = bytearray(0x80)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 0x80)
    coff = struct.pack("<4sHHIIIHH", b"PE\0\0", 0x14C, 1, 0, 0, 0, 0xE0, 0x0102)
    opt = struct.pack("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII",
                      0x10B, 14, 0, 0x200, 0, 0, 0x1000, 0x1000, 0x1000, 0x400000, 0x1000, 0x200,
                      6, 0, 0, 0, 6, 0, 0, 0x2000, 0x200, 0, 2, 0x8140,
                      0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    opt += b"\0" * (16 * 8)
    section = struct.pack("<8sIIIIIIHHI", b".text", 0x200, 0x1000, 0x200, 0x200, 0, 0, 0, 0, 0x60000020)
    headers = bytes(dos) + coff + opt + section
    headers += b"\0" * (0x200 - len(headers))
    body = (b"\xC3" + text.encode("utf-8"))[:0x200]
    body += b"\0" * (0x200 - len(body))
    return headers + body


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(image(sys.argv[2] if len(sys.argv) > 2 else "corvane test"))

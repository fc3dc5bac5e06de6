#!/usr/bin/env python3
"""Writes the small hostile pages of malformed/ that ask for much more work than their size suggests.

hostile-rle8-14142.emf (256 bytes): a 100 x 100 mm page holding one StretchDIBits of an 8-bit run-length bitmap of
14142 x 14142 pixels (200 million, the largest a bitmap may have) whose stream is one run and an end of bitmap.
hostile-frame-limit.emf (152 bytes): one rectangle on a frame of 169 mm x 16.9 m, 2000 x 200000 pixels at 300 dpi:
the largest page (400 million pixels, 200000 a side), taller than a JPEG or GIF file can be.
"""
import struct
import sys
from pathlib import Path


def header(frame, device, millimeters, n_bytes, n_records, handles=1):
    h = struct.pack('<II', 1, 108)
    h += struct.pack('<4i', 0, 0, device[0] - 1, device[1] - 1)  # bounds
    h += struct.pack('<4i', *frame)
    h += struct.pack('<IIIIHHIII', 0x464D4520, 0x10000, n_bytes, n_records, handles, 0, 0, 0, 0)
    h += struct.pack('<2i2i', *device, *millimeters)
    h += struct.pack('<III', 0, 0, 0) + struct.pack('<2i', millimeters[0] * 1000, millimeters[1] * 1000)
    assert len(h) == 108
    return h


def eof():
    return struct.pack('<IIIII', 14, 20, 0, 16, 20)


def rle_page():
    side = 14142
    bmi = struct.pack('<IiiHHIIiiII', 40, side, side, 1, 8, 1, 4, 0, 0, 1, 0) + bytes([0x00, 0x00, 0xFF, 0x00])
    bits = bytes([0xFF, 0x00, 0x00, 0x01])  # 255 pixels of colour 0, end of bitmap
    fixed = struct.pack('<4i6i4I2I2i', 0, 0, 999, 999, 0, 0, 0, 0, side, side, 80, len(bmi), 80 + len(bmi),
                        len(bits), 0, 0x00CC0020, 1000, 1000)
    rec = struct.pack('<II', 81, 8 + len(fixed) + len(bmi) + len(bits)) + fixed + bmi + bits
    body = rec + eof()
    return header((0, 0, 10000, 10000), (1000, 1000), (100, 100), 108 + len(body), 3) + body


def frame_limit_page():
    width, height = 16933, 1693333  # 0.01 mm: 2000 x 200000 pixels at 300 dpi
    rect = struct.pack('<II4i', 43, 24, 100, 100, 900, 900)
    body = rect + eof()
    return header((0, 0, width, height), (1000, 1000), (100, 100), 108 + len(body), 3) + body


if __name__ == '__main__':
    out = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).parent / 'malformed')
    for name, data in (('hostile-rle8-14142.emf', rle_page()), ('hostile-frame-limit.emf', frame_limit_page())):
        (out / name).write_bytes(data)
        print(name, len(data))

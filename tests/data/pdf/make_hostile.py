import struct, zlib, random, sys, os
out = sys.argv[1]
def w(name, data):
    open(os.path.join(out, name), 'wb').write(data)
    print(name, len(data))

def png_chunk(t, d):
    return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
SIG = b'\x89PNG\r\n\x1a\n'
def ihdr(wd, ht, depth, ctype, inter):
    return png_chunk(b'IHDR', struct.pack('>IIBBBBB', wd, ht, depth, ctype, 0, 0, inter))
IEND = png_chunk(b'IEND', b'')

# RLE4 bitmap of 46000 x 46000 pixels whose data is one end-of-bitmap code.
pal = bytes(64)
bmp = b'BM' + struct.pack('<IHHI', 120, 0, 0, 118) + struct.pack('<IiiHHIIiiII', 40, 46000, 46000, 1, 4, 2, 2, 2835, 2835, 16, 0) + pal + b'\x00\x01'
w('hostile-rle4.bmp', bmp)

# Interlaced 16000 x 15730 RGB PNG with ten bytes of image data.
w('hostile-interlaced.png', SIG + ihdr(16000, 15730, 8, 2, 1) + png_chunk(b'IDAT', zlib.compress(b'\0' * 10)) + IEND)
# RGBA 16000 x 16000 PNG (decoded to drop the alpha) with ten bytes of image data.
w('hostile-alpha.png', SIG + ihdr(16000, 16000, 8, 6, 0) + png_chunk(b'IDAT', zlib.compress(b'\0' * 10)) + IEND)
# One-bit grey PNG of 1000000 x 1000000 pixels (passed through) with ten bytes of image data.
w('hostile-absurd.png', SIG + ihdr(1000000, 1000000, 1, 0, 0) + png_chunk(b'IDAT', zlib.compress(b'\0' * 10)) + IEND)

# 64 x 48 RGB noise PNG with its image data in 1000-byte IDAT chunks, cut inside the last chunk.
random.seed(17)
raw = b''.join(b'\0' + bytes(random.getrandbits(8) for _ in range(64 * 3)) for _ in range(48))
z = zlib.compress(raw, 9)
idats = b''.join(png_chunk(b'IDAT', z[i:i + 1000]) for i in range(0, len(z), 1000))
whole = SIG + ihdr(64, 48, 8, 2, 0) + idats + IEND
w('hostile-idat-cut.png', whole[:len(whole) - 12 - 300])

def tiff(entries, data=b''):
    # little-endian, directory right after the header, data after the directory
    n = len(entries)
    dir_end = 8 + 2 + n * 12 + 4
    body = b''
    ents = []
    for tag, typ, count, value in sorted(entries):
        ents.append(struct.pack('<HHI', tag, typ, count) + (struct.pack('<HH', value, 0) if typ == 3 else struct.pack('<I', value)))
    return b'II*\0' + struct.pack('<I', 8) + struct.pack('<H', n) + b''.join(ents) + struct.pack('<I', 0) + data
# RGBA 16384 x 16384 TIFF (decoded: it has an extra sample) whose one strip holds eight bytes.
off = 8 + 2 + 11 * 12 + 4
w('hostile-decoded.tif', tiff([(256, 4, 1, 16384), (257, 4, 1, 16384), (258, 3, 1, 8), (259, 3, 1, 1), (262, 3, 1, 2),
                               (273, 4, 1, off), (277, 3, 1, 4), (278, 4, 1, 16384), (279, 4, 1, 8), (284, 3, 1, 1),
                               (338, 3, 1, 2)], bytes(8)))
# Bilevel 1000000 x 1000000 TIFF (passed through) whose one strip holds eight bytes.
off = 8 + 2 + 9 * 12 + 4
w('hostile-absurd.tif', tiff([(256, 4, 1, 1000000), (257, 4, 1, 1000000), (258, 3, 1, 1), (259, 3, 1, 1), (262, 3, 1, 1),
                              (273, 4, 1, off), (277, 3, 1, 1), (278, 4, 1, 1000000), (279, 4, 1, 8)], bytes(8)))

# GIF of 65535 x 16000 pixels with 4-bit codes (decoded), whose data is a clear code, one pixel and the end code.
gif = b'GIF89a' + struct.pack('<HHBBB', 65535, 16000, 0x83, 0, 0) + bytes(48)
gif += b'\x2c' + struct.pack('<HHHHB', 0, 0, 65535, 16000, 0) + b'\x04'
# codes of 5 bits, least significant first: 16 (clear), 1, 17 (end)
bits = 16 | (1 << 5) | (17 << 10)
gif += b'\x02' + struct.pack('<H', bits) + b'\x00' + b'\x3b'
w('hostile-narrow.gif', gif)

# Baseline JPEG header of 65535 x 65535 pixels, three components, with a few bytes of scan data.
sof = b'\xff\xc0' + struct.pack('>HBHHB', 17, 8, 65535, 65535, 3) + b'\x01\x11\x00\x02\x11\x00\x03\x11\x00'
sos = b'\xff\xda' + struct.pack('>HB', 12, 3) + b'\x01\x00\x02\x00\x03\x00' + b'\x00\x3f\x00'
w('hostile-absurd.jpg', b'\xff\xd8' + sof + sos + b'\x12\x34\x56' + b'\xff\xd9')

# One-bit 64 x 64 BMP at one pixel per metre: a page of 181417 points.
rowb = 8
bmp = b'BM' + struct.pack('<IHHI', 62 + rowb * 64, 0, 0, 62) + struct.pack('<IiiHHIIiiII', 40, 64, 64, 1, 1, 0, rowb * 64, 1, 1, 2, 0)
bmp += b'\0\0\0\0\xff\xff\xff\0' + bytes(rowb * 64)
w('hostile-absurd-res.bmp', bmp)

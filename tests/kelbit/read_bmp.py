#!/usr/bin/env python3
"""An independent reader of 24-bit Windows bitmaps for the capture tests.

Checks the headers, then writes the picture's pixels top-down and unpadded
(blue, green, red bytes) to OUT and prints "width height bfSize".
Usage: read_bmp.py IN.bmp OUT.raw
"""
import struct
import sys


def main():
    data = open(sys.argv[1], 'rb').read()
    if data[:2] != b'BM':
        sys.exit('not a bitmap')
    file_size, reserved1, reserved2, offset = struct.unpack_from('<IHHI', data, 2)
    (info_size, width, height, planes, bits, compression, image_size,
     _, _, _, _) = struct.unpack_from('<IiiHHIIiiII', data, 14)
    if (reserved1, reserved2, offset, info_size, planes, bits, compression) != (0, 0, 54, 40, 1, 24, 0):
        sys.exit('unexpected header fields')
    if file_size != len(data):
        sys.exit('bfSize %d but the file has %d bytes' % (file_size, len(data)))
    stride = (width * 3 + 3) & ~3
    rows = abs(height)
    if image_size != stride * rows or len(data) < offset + stride * rows:
        sys.exit('pixel data does not match the header')
    order = range(rows - 1, -1, -1) if height > 0 else range(rows)
    out = bytearray()
    for row in order:
        start = offset + row * stride
        out += data[start:start + width * 3]
    open(sys.argv[2], 'wb').write(out)
    print(width, height, file_size)


main()

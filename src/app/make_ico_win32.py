#!/usr/bin/env python3
"""Packs the program's icon PNGs into the Windows icon file.

    src/app/make_ico_win32.py src/app/icons src/app/sharelink.ico

Sizes up to 48 pixels become 32-bit bitmaps (every Windows version draws those);
the 256-pixel image stays PNG, as Windows expects for that size.
"""
import struct
import sys
import zlib
from pathlib import Path

BITMAP_SIZES = (16, 24, 32, 48)
PNG_SIZES = (256,)


def read_rgba(png: bytes):
    """Width, height and rows of RGBA bytes of an 8-bit RGBA, non-interlaced PNG."""
    assert png[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, header = 8, b"", None
    while pos < len(png):
        length, kind = struct.unpack(">I4s", png[pos:pos + 8])
        data = png[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", data)
        elif kind == b"IDAT":
            idat += data
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and colour == 6 and interlace == 0, "needs 8-bit RGBA, not interlaced"
    raw, stride, rows, prev = zlib.decompress(idat), width * 4, [], bytearray(width * 4)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    return width, height, rows


def bitmap_entry(png: bytes) -> bytes:
    width, height, rows = read_rgba(png)
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(
        bytes(v for x in range(width) for v in (row[4 * x + 2], row[4 * x + 1], row[4 * x], row[4 * x + 3]))
        for row in reversed(rows))
    mask_stride = ((width + 31) // 32) * 4
    mask = bytes(mask_stride * height)  # the alpha channel decides; the AND mask stays clear
    return header + pixels + mask


def main(source: Path, target: Path) -> None:
    images = []
    for size in BITMAP_SIZES + PNG_SIZES:
        png = (source / f"sharelink-{size}.png").read_bytes()
        images.append((size, png if size in PNG_SIZES else bitmap_entry(png)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        edge = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", edge, edge, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    target.write_bytes(out + b"".join(data for _, data in images))


if __name__ == "__main__":
    main(Path(sys.argv[1]), Path(sys.argv[2]))

#!/usr/bin/env python3
"""Builds icon 128 for the Windows program (quillon.ico) from the same artwork
as the Linux icons: icon128-16/32/48.png as 32-bit DIB entries (every Windows
version reads those), icon128-256.png kept as PNG. Run by hand; output kept.

    python3 resources/make_icon.py resources/quillon.ico
"""
import struct
import sys
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent


def read_png_rgba(data):
    """Pixels of an 8-bit RGBA, non-interlaced PNG as rows of bytes."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert (depth, colour, interlace) == (8, 6, 0), "only 8-bit RGBA, not interlaced"
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - 4] if x >= 4 else 0
            b = previous[x]
            c = previous[x - 4] if x >= 4 else 0
            if kind == 1:
                line[x] = (line[x] + a) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + b) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[x] = (line[x] + pred) & 0xFF
        rows.append(bytes(line))
        previous = line
    return width, height, rows


def dib_entry(png):
    width, height, rows = read_png_rgba(png)
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b""
    mask_stride = ((width + 31) // 32) * 4
    mask = b""
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        bits = bytearray(mask_stride)
        for x in range(width):
            r, g, b, a = row[x * 4:x * 4 + 4]
            line += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        pixels += line
        mask += bits
    return width, height, header + pixels + mask


def main(out):
    entries = []
    for size in (16, 32, 48):
        entries.append(dib_entry((HERE / f"icon128-{size}.png").read_bytes()))
    entries.append((256, 256, (HERE / "icon128-256.png").read_bytes()))
    directory = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    blobs = b""
    for width, height, blob in entries:
        directory += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(blob),
                                 offset + len(blobs))
        blobs += blob
    Path(out).write_bytes(directory + blobs)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else str(HERE / "quillon.ico"))

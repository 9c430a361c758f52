#!/usr/bin/python3
"""Writes the BMP fixtures of this folder and prints their reference checksums.

Each picture is 16 x 8 pixels of gradients. The checksum is FNV-1a (32 bits)
over the decoded pixels as R, G, B, A bytes, rows from the top. Pillow decodes
the files it knows and is the reference for them; for 16-bit masks Pillow
does not read (4-4-4-4, R-G-B-X) the reference is computed here, by the plain shift
our 16-bit converters use for colours and an exact scale for alpha; so is
the one for R, G, B, X bytes (mask layout Pillow refuses), which is the
plain byte order.
Run with Debian's python3 and python3-pil; the MP3 files are made by the
commands in README.md.
"""
import io
import struct
import sys

from PIL import Image

W, H = 16, 8


def fnv(data):
    h = 0x811C9DC5
    for b in data:
        h = ((h ^ b) * 0x01000193) & 0xFFFFFFFF
    return h


def pixel(x, y):
    """R, G, B, A of the test picture."""
    return (x * 16 + 8) & 255, (y * 32 + 4) & 255, (x * 7 + y * 19) & 255, (x * 16 + y * 2) & 255


def bmp(bits, compression, header, masks, rows, palette=b"", core=False):
    """rows: stored bytes of each row, bottom row first, padded."""
    pixels = b"".join(rows)
    if core:
        info = struct.pack("<IHHHH", 12, W, H, 1, bits)
        after = b""
    else:
        info = struct.pack("<IiiHHIIiiII", header, W, H, 1, bits, compression, len(pixels), 2835, 2835, 0, 0)
        mask_bytes = b"".join(struct.pack("<I", m) for m in masks)
        if header > 40:
            info += mask_bytes + b"\0" * (header - 40 - len(mask_bytes))
            after = b""
        else:
            after = mask_bytes
    offset = 14 + len(info) + len(after) + len(palette)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + after + palette + pixels


def pack(value, mask):
    if mask == 0:
        return 0
    shift = (mask & -mask).bit_length() - 1
    width = bin(mask).count("1")
    return ((value >> (8 - width)) << shift) & mask


def rows_of(bits, masks):
    rows = []
    for y in reversed(range(H)):
        row = b""
        for x in range(W):
            r, g, b, a = pixel(x, y)
            v = pack(r, masks[0]) | pack(g, masks[1]) | pack(b, masks[2]) | (pack(a, masks[3]) if len(masks) > 3 else 0)
            row += struct.pack("<I" if bits == 32 else "<H", v)
        rows.append(row + b"\0" * (-len(row) % 4))
    return rows


def expected_by_masks(masks):
    """Our rule: colours by the plain shift, alpha scaled exactly."""
    out = b""
    for y in range(H):
        for x in range(W):
            values = pixel(x, y)
            decoded = []
            for i, mask in enumerate(masks):
                width = bin(mask).count("1")
                v = values[i] >> (8 - width)
                decoded.append(v << (8 - width) if i < 3 else v * 255 // ((1 << width) - 1))
            if len(masks) == 3:
                decoded.append(255)
            out += bytes(decoded)
    return out


def main():
    files = {}
    files["bgra32-v5.bmp"] = bmp(32, 3, 124, [0xFF0000, 0xFF00, 0xFF, 0xFF000000],
                                 rows_of(32, [0xFF0000, 0xFF00, 0xFF, 0xFF000000]))
    files["xbgr32-v4.bmp"] = bmp(32, 3, 108, [0xFF000000, 0xFF0000, 0xFF00, 0],
                                 rows_of(32, [0xFF000000, 0xFF0000, 0xFF00]))
    files["rgbx32.bmp"] = bmp(32, 3, 40, [0xFF, 0xFF00, 0xFF0000], rows_of(32, [0xFF, 0xFF00, 0xFF0000]))
    files["rgba32-v5.bmp"] = bmp(32, 3, 124, [0xFF, 0xFF00, 0xFF0000, 0xFF000000],
                                 rows_of(32, [0xFF, 0xFF00, 0xFF0000, 0xFF000000]))
    files["argb4444-v5.bmp"] = bmp(16, 3, 124, [0xF00, 0xF0, 0xF, 0xF000], rows_of(16, [0xF00, 0xF0, 0xF, 0xF000]))
    palette = b"".join(bytes(((i * 3) & 255, (i * 5) & 255, (255 - i) & 255)) for i in range(256))
    rows8 = [bytes((x * 16 + y) & 255 for x in range(W)) for y in reversed(range(H))]
    files["os2-8.bmp"] = bmp(8, 0, 12, [], rows8, palette=palette, core=True)
    rows24 = []
    for y in reversed(range(H)):
        row = b"".join(bytes((pixel(x, y)[2], pixel(x, y)[1], pixel(x, y)[0])) for x in range(W))
        rows24.append(row + b"\0" * (-len(row) % 4))
    files["os2-24.bmp"] = bmp(24, 0, 12, [], rows24, core=True)

    # Masks that Pillow does not read.
    by_masks = {"argb4444-v5.bmp": [0xF00, 0xF0, 0xF, 0xF000], "rgbx32.bmp": [0xFF, 0xFF00, 0xFF0000]}
    for name, data in files.items():
        with open(name, "wb") as f:
            f.write(data)
        if name in by_masks:
            reference, by = expected_by_masks(by_masks[name]), "masks"
        else:
            reference, by = Image.open(io.BytesIO(data)).convert("RGBA").tobytes(), "Pillow"
        print(f'{{"{name}", 0x{fnv(reference):08X}u}},  // {by}')


if __name__ == "__main__":
    sys.exit(main())

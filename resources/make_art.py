#!/usr/bin/env python3
"""Draws Kestrum's pictures: the window icon (32x32 and 16x16, 4 bpp with
mask), the link cursor (32x32, 4 bpp, hot spot 12,1: a pointing hand) and
the logo (161x52, 8 bpp, 256-entry colour table). Plain Python, no imaging
library: run it again after changing the drawing, and commit the output."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# The 16 colours of the standard VGA palette, as (r, g, b).
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, NAVY, GREY, RED, YELLOW, BLUE, WHITE = 0, 4, 8, 9, 11, 12, 15

# 5x7 capitals for the logo.
FONT = {
    "K": ["X...X", "X..X.", "X.X..", "XX...", "X.X..", "X..X.", "X...X"],
    "E": ["XXXXX", "X....", "X....", "XXXX.", "X....", "X....", "XXXXX"],
    "S": [".XXXX", "X....", "X....", ".XXX.", "....X", "....X", "XXXX."],
    "T": ["XXXXX", "..X..", "..X..", "..X..", "..X..", "..X..", "..X.."],
    "R": ["XXXX.", "X...X", "X...X", "XXXX.", "X.X..", "X..X.", "X...X"],
    "U": ["X...X", "X...X", "X...X", "X...X", "X...X", "X...X", ".XXX."],
    "M": ["X...X", "XX.XX", "X.X.X", "X.X.X", "X...X", "X...X", "X...X"],
}


def row_bytes(bits_per_row):
    return (bits_per_row + 31) // 32 * 4


def dib_4bpp(pixels, mask, size):
    """BITMAPINFOHEADER + palette + XOR image + AND mask, as in .ico/.cur."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA)
    xor = bytearray()
    for y in reversed(range(size)):
        row = bytearray(row_bytes(size * 4))
        for x in range(size):
            v = pixels[y][x] if not mask[y][x] else 0
            row[x // 2] |= v << 4 if x % 2 == 0 else v
        xor += row
    andmask = bytearray()
    for y in reversed(range(size)):
        row = bytearray(row_bytes(size))
        for x in range(size):
            if mask[y][x]:
                row[x // 8] |= 0x80 >> (x % 8)
        andmask += row
    return header + palette + bytes(xor) + bytes(andmask)


def write_group(path, kind, images):
    """`kind` 1 = icon, 2 = cursor; images: (size, dib, field1, field2)."""
    out = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    data = b""
    for size, dib, f1, f2 in images:
        out += struct.pack("<BBBBHHII", size, size, 16, 0, f1, f2, len(dib), offset)
        offset += len(dib)
        data += dib
    with open(path, "wb") as f:
        f.write(out + data)


def draw_icon(size):
    """A navy shield holding a white K over a yellow band."""
    s = size / 32.0
    pixels = [[0] * size for _ in range(size)]
    mask = [[1] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            fx, fy = (x + 0.5) / s, (y + 0.5) / s
            half = 13 if fy < 20 else 13 - (fy - 20) * 1.1
            inside = 2 <= fy <= 31 and abs(fx - 16) <= half
            edge = inside and (fy < 3.5 or abs(fx - 16) > half - 1.5 or fy > 30 - 1.5 and False)
            if not inside:
                continue
            mask[y][x] = 0
            pixels[y][x] = BLACK if edge else NAVY
            if 20 <= fy < 23 and not edge:
                pixels[y][x] = YELLOW
            # The K: a stem and two arms.
            stem = 10 <= fx < 14 and 6 <= fy < 26
            arm = 6 <= fy < 26 and abs((fx - 14) - abs(fy - 16) * 0.9) < 2.2 and fx >= 13
            if (stem or arm) and not edge:
                pixels[y][x] = WHITE
    return pixels, mask


def draw_hand():
    """A pointing hand whose index fingertip is at (12, 1)."""
    size = 32
    inside = [[False] * size for _ in range(size)]

    def fill(x0, y0, x1, y1):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                inside[y][x] = True

    fill(12, 2, 13, 15)   # index finger
    fill(15, 8, 16, 15)   # middle
    fill(18, 9, 19, 15)   # ring
    fill(21, 10, 22, 16)  # little
    fill(12, 13, 22, 23)  # palm
    fill(11, 16, 11, 23)
    for i in range(5):    # thumb, rising to the left
        fill(7 + i, 14 + i, 8 + i, 16 + i)
    fill(13, 24, 21, 26)  # wrist
    pixels = [[0] * size for _ in range(size)]
    mask = [[1] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            if inside[y][x]:
                mask[y][x], pixels[y][x] = 0, WHITE
                continue
            near = any(0 <= y + dy < size and 0 <= x + dx < size and inside[y + dy][x + dx]
                       for dy in (-1, 0, 1) for dx in (-1, 0, 1))
            if near:
                mask[y][x], pixels[y][x] = 0, BLACK
    # Gaps between the fingers are outline, not white.
    for x in (14, 17, 20):
        for y in range(8, 13):
            if not inside[y][x]:
                mask[y][x], pixels[y][x] = 0, BLACK
    assert mask[1][12] == 0 and pixels[1][12] == BLACK, "hot spot must be on the fingertip"
    return pixels, mask


def write_logo(path):
    width, height = 161, 52
    # Entries 0-199: a blue-to-teal ramp for the background; 255: white
    # text; 254: a dark shadow. The rest stay black.
    palette = [(0, 0, 0)] * 256
    for i in range(200):
        t = i / 199.0
        palette[i] = (int(10 + 20 * t), int(40 + 110 * t), int(120 + 80 * t))
    palette[254] = (10, 20, 60)
    palette[255] = (255, 255, 255)
    img = [[int(199 * (x / (width - 1)) * 0.6 + 199 * (y / (height - 1)) * 0.4)
            for x in range(width)] for y in range(height)]
    text, scale = "KESTRUM", 3
    text_w = len(text) * 6 * scale - scale
    x0, y0 = (width - text_w) // 2, (height - 7 * scale) // 2
    for shadow, colour in ((1, 254), (0, 255)):
        for n, ch in enumerate(text):
            for gy, line in enumerate(FONT[ch]):
                for gx, c in enumerate(line):
                    if c != "X":
                        continue
                    for dy in range(scale):
                        for dx in range(scale):
                            px = x0 + n * 6 * scale + gx * scale + dx + shadow
                            py = y0 + gy * scale + dy + shadow
                            img[py][px] = colour
    stride = row_bytes(width * 8)
    bits = bytearray()
    for y in reversed(range(height)):
        row = bytearray(img[y]) + bytearray(stride - width)
        bits += row
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(bits), 3780, 3780, 256, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    offset = 14 + len(info) + len(table)
    head = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(head + info + table + bytes(bits))


def main():
    write_group(os.path.join(HERE, "kestrum.ico"), 1,
                [(32, dib_4bpp(*draw_icon(32), 32), 1, 4),
                 (16, dib_4bpp(*draw_icon(16), 16), 1, 4)])
    write_group(os.path.join(HERE, "link.cur"), 2, [(32, dib_4bpp(*draw_hand(), 32), 12, 1)])
    write_logo(os.path.join(HERE, "logo.bmp"))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Largest difference between the float images of a run on a coarser grid and a reference run.

    compare_tiff.py <reference dir> <coarse dir> <base name> <beam tags...>

Each coarse pixel is compared with the reference image read (bilinearly) at its centre; both
images cover the same field, each pixel standing for the column at its centre. Prints the
largest absolute difference over every pixel of every beam and the root mean square one."""
import struct
import sys


def read_tiff(path):
    """width, height and the row-major values (top row first) of a 32-bit float TIFF."""
    data = open(path, "rb").read()
    end = "<" if data[:2] == b"II" else ">"
    (ifd,) = struct.unpack(end + "I", data[4:8])
    (count,) = struct.unpack(end + "H", data[ifd:ifd + 2])
    tags = {}
    for k in range(count):
        tag, typ, n, value = struct.unpack(end + "HHII", data[ifd + 2 + 12 * k:ifd + 14 + 12 * k])
        if typ == 3 and n == 1:
            value &= 0xFFFF if end == "<" else value >> 16
        if n > 1 and tag in (273, 279):
            size, code = (2, "H") if typ == 3 else (4, "I")
            at = ifd + 10 + 12 * k if size * n <= 4 else value
            value = struct.unpack(end + code * n, data[at:at + size * n])
        tags[tag] = value if isinstance(value, tuple) else (value,)
    width, height = tags[256][0], tags[257][0]
    raw = b"".join(data[o:o + c] for o, c in zip(tags[273], tags[279]))
    return width, height, struct.unpack(end + "f" * (width * height), raw[:4 * width * height])


def sample(img, x, y):
    """The image at (x, y) in pixel units of its own grid (centres at k - 0.5), bilinear."""
    w, h, v = img
    fx, fy = min(max(x - 0.5, 0.0), w - 1.0), min(max(y - 0.5, 0.0), h - 1.0)
    i, j = min(int(fx), w - 2), min(int(fy), h - 2)
    a, b = fx - i, fy - j
    at = lambda ii, jj: v[jj * w + ii]
    return ((1 - a) * (1 - b) * at(i, j) + a * (1 - b) * at(i + 1, j) + (1 - a) * b * at(i, j + 1)
            + a * b * at(i + 1, j + 1))


def main():
    ref_dir, coarse_dir, base, beams = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
    worst, total, count = 0.0, 0.0, 0
    for beam in beams:
        ref = read_tiff(f"{ref_dir}/{base}{beam}.tif")
        w, h, v = read_tiff(f"{coarse_dir}/{base}{beam}.tif")
        sx, sy = ref[0] / w, ref[1] / h
        for j in range(h):
            for i in range(w):
                d = abs(v[j * w + i] - sample(ref, (i + 0.5) * sx, (j + 0.5) * sy))
                worst, total, count = max(worst, d), total + d * d, count + 1
    print(f"{worst:.1e} {(total / count) ** 0.5:.1e}")


if __name__ == "__main__":
    main()

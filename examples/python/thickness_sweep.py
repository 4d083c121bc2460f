"""Bright and dark field of an edge dislocation in Cu (2 0 0) as the foil gets thicker.

    PYTHONPATH=build/python /usr/bin/python3 examples/python/thickness_sweep.py [--quick] [--out DIR]

Writes thickness_sweep.png: one column per thickness, the bright field above the dark field.
"""
import argparse
import pathlib

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import korvex  # noqa: E402


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--quick", action="store_true", help="small images, three thicknesses")
    p.add_argument("--out", default=".", help="folder of the picture")
    a = p.parse_args()
    width = 48 if a.quick else 128
    thicknesses = [60, 120, 180] if a.quick else [100, 150, 200, 250, 300, 350]
    fig, axes = plt.subplots(2, len(thicknesses), figsize=(2.2 * len(thicknesses), 4.6),
                             squeeze=False)
    for k, t in enumerate(thicknesses):
        # The dislocation runs along y through the middle of the foil, whatever its thickness.
        edge = korvex.Edge(b="1/2[1 0 1]", line=(0, 1, 0), point=(width / 2, 0, t / 2))
        r = korvex.simulate(crystal="Cu", voltage=200, g=(2, 0, 0), zone=(0, 0, 1),
                            beams=(-1, 2), condition=1.0, size=(width, width), thickness=t,
                            defect=edge, engine="table", column_approximation="yes")
        for row, order in enumerate((0, 1)):
            b = next(b for b in r.beams if b.order == order)
            ax = axes[row][k]
            ny, nx = b.image.shape
            ax.imshow(b.image, cmap="gray", extent=(0, nx * b.pixel_size_nm[1], ny * b.pixel_size_nm[0], 0))
            ax.set_title(f"{'BF' if order == 0 else 'DF g'}, t = {t} A", fontsize=8)
            ax.tick_params(labelsize=6)
            print(f"thickness {t:5.0f} A  {('BF', 'DF')[row]}  mean {b.image.mean():.4f}  "
                  f"min {b.image.min():.4f}  max {b.image.max():.4f}")
    axes[1][0].set_xlabel("x (nm)", fontsize=7)
    fig.tight_layout()
    out = pathlib.Path(a.out) / "thickness_sweep.png"
    fig.savefig(out, dpi=100)
    print(f"wrote {out}")


if __name__ == "__main__":
    main()

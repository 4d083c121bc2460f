"""The g.b invisibility of a prismatic loop: the loop imaged in turn with every g of the [0 0 1]
zone it can be, and a table of g.b against the contrast the dark field shows.

    PYTHONPATH=build/python /usr/bin/python3 examples/python/gb_invisibility.py [--quick] [--out DIR]

The loop has b = 1/2[1 1 0] normal to its (1 1 0) plane: every g with g.b = 0 leaves it (nearly)
invisible. Writes gb_invisibility.png (the dark field of each g) and prints the table.
"""
import argparse
import pathlib

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import korvex  # noqa: E402

B = np.array([0.5, 0.5, 0.0])
REFLECTIONS = [(2, 0, 0), (0, 2, 0), (2, 2, 0), (2, -2, 0), (-2, 2, 0), (4, 0, 0)]


def contrast(image):
    """How much the image departs from its background (its first and last rows)."""
    background = 0.5 * (image[0].mean() + image[-1].mean())
    return float(np.abs(image - background).max() / background)


def table(width=64, thickness=100, reflections=REFLECTIONS):
    """(g, g.b, contrast, dark-field image) of each g."""
    rows = []
    for g in reflections:
        loop = korvex.PolygonalLoop(b="1/2[1 1 0]", radius=width / 5, style="perfect",
                                    centre=(width / 2, width / 2, thickness / 2),
                                    plane=(1, 1, 0), pole=(0, 0, 1), edges=12)
        r = korvex.simulate(crystal="Cu", voltage=200, g=g, zone=(0, 0, 1), beams=(0, 1),
                            condition=1.0, size=(width, width), thickness=thickness,
                            defect=loop, column_approximation="yes")
        df = r.image(1)
        rows.append((g, float(np.dot(g, B)), contrast(df), df))
    return rows


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--quick", action="store_true", help="small images")
    p.add_argument("--out", default=".", help="folder of the picture")
    a = p.parse_args()
    rows = table(*((40, 60) if a.quick else (96, 150)))
    print(f"{'g':>12}  {'g.b':>5}  {'contrast':>9}")
    for g, gb, c, _ in rows:
        note = "  invisible (g.b = 0)" if gb == 0 else ""
        print(f"{str(g):>12}  {gb:5.1f}  {c:9.4f}{note}")
    fig, axes = plt.subplots(1, len(rows), figsize=(2.2 * len(rows), 2.6))
    for ax, (g, gb, c, df) in zip(axes, rows):
        ax.imshow(df, cmap="gray")
        ax.set_title(f"g={g}\ng.b={gb:g}, contrast {c:.2f}", fontsize=7)
        ax.axis("off")
    fig.tight_layout()
    out = pathlib.Path(a.out) / "gb_invisibility.png"
    fig.savefig(out, dpi=100)
    print(f"wrote {out}")


if __name__ == "__main__":
    main()

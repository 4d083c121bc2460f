"""A (g, ng) series of an edge dislocation: the dark field of g from the strong two-beam condition
(g, g) to the weak beam (g, 3g) and beyond, with the excitation error s_g of each.

    PYTHONPATH=build/python /usr/bin/python3 examples/python/gng_series.py [--quick] [--out DIR]

Runs the program's series (condition 999: twelve conditions from n = 3.5 to 6.25) and the
conditions n = 1, 2 and 3, and writes gng_series.png with one panel per condition, and the
profile across the dislocation of each.
"""
import argparse
import pathlib

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import korvex  # noqa: E402


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--quick", action="store_true", help="small images")
    p.add_argument("--out", default=".", help="folder of the picture")
    a = p.parse_args()
    width, thickness = (40, 60) if a.quick else (128, 200)
    edge = korvex.Edge(b="1/2[1 0 1]", line=(0, 1, 0), point=(width / 2, 0, thickness / 2))
    common = dict(crystal="Cu", voltage=200, g=(2, 0, 0), zone=(0, 0, 1), beams=(-1, 3),
                  size=(width, width), thickness=thickness, defect=edge, engine="table",
                  column_approximation="yes")
    conditions = []
    for n in (1.0, 2.0, 3.0):
        conditions += korvex.simulate(condition=n, **common).conditions
    if not a.quick:
        conditions += korvex.simulate(condition=999, **common).conditions  # the series of twelve
    cols = 5
    rows = (len(conditions) + cols - 1) // cols + 1
    fig = plt.figure(figsize=(2.3 * cols, 2.4 * rows))
    profiles = fig.add_subplot(rows, 1, rows)
    for k, c in enumerate(conditions):
        df = next(b for b in c.beams if b.order == 1)
        ax = fig.add_subplot(rows, cols, k + 1)
        ax.imshow(df.image, cmap="gray")
        ax.set_title(f"(g,{c.n:g}g)  s_g={df.s_g:.3f}/A", fontsize=7)
        ax.axis("off")
        x = df.axes["x"]
        profile = df.image.mean(axis=0)
        profiles.plot(x, profile / profile.max(), label=f"n={c.n:g}", lw=0.8)
        print(f"(g,{c.n:5.2f}g)  s_g = {df.s_g:+.4f} 1/A  DF mean {df.image.mean():.3e}  "
              f"peak/background {df.image.max() / max(df.image[0].mean(), 1e-12):.1f}")
    profiles.set_xlabel("x (nm)")
    profiles.set_ylabel("DF, normalised")
    profiles.legend(fontsize=6, ncol=4)
    fig.tight_layout()
    out = pathlib.Path(a.out) / "gng_series.png"
    fig.savefig(out, dpi=100)
    print(f"wrote {out}")


if __name__ == "__main__":
    main()

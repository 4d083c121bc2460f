#!/usr/bin/env bash
# Writes two LAMMPS text dumps of a Cu crystal (fcc, a = 3.61 A, 18 x 18 x 28 cubic cells,
# axes along [100], [010], [001]): perfect.dump, the perfect crystal, and edge.dump, the same
# atoms (same ids) displaced by the isotropic field of an edge
# dislocation, b = 1/2[110], line [1 -1 0] through (32, 32, 50) A, Poisson's ratio 0.3.
# The slip cut of the displacement runs from the line up to the entrance surface (z = 0).
#   ./make_snapshots.sh [directory]
set -euo pipefail
cd "${1:-$(dirname "${BASH_SOURCE[0]}")}"
awk -v a=3.61 -v nx=18 -v ny=18 -v nz=28 -v px=32 -v py=32 -v pz=50 -v nu=0.3 'BEGIN {
    pi = atan2(0, -1); b = a / sqrt(2);
    split("0 0.5 0.5 0", bx, " "); split("0 0.5 0 0.5", by, " "); split("0 0 0.5 0.5", bz, " ");
    n = 4 * nx * ny * nz;
    for (f = 0; f < 2; f++) {
        out = f ? "edge.dump" : "perfect.dump";
        printf "ITEM: TIMESTEP\n0\nITEM: NUMBER OF ATOMS\n%d\n", n > out;
        printf "ITEM: BOX BOUNDS pp pp ff\n0 %.6f\n0 %.6f\n0 %.6f\n", nx * a, ny * a, nz * a > out;
        printf (f ? "ITEM: ATOMS id type xs ys zs\n" : "ITEM: ATOMS x y z type id\n") > out;
        id = 0;
        for (k = 0; k < nz; k++) for (j = 0; j < ny; j++) for (i = 0; i < nx; i++)
        for (s = 1; s <= 4; s++) {
            id++;
            x = (i + bx[s]) * a; y = (j + by[s]) * a; z = (k + bz[s]) * a;
            if (!f) { printf "%.6f %.6f %.6f 1 %d\n", x, y, z, id > out; continue; }
            # Dislocation frame: e1 along b = [110]/sqrt2, e2 = [001], e3 along the line.
            X = ((x - px) + (y - py)) / sqrt(2); Y = z - pz; r2 = X * X + Y * Y;
            t = atan2(-X, Y);   # the angle about the line, its cut on X = 0, Y < 0
            ux = b / (2 * pi) * (t + X * Y / (2 * (1 - nu) * r2));
            uy = -b / (2 * pi) * ((1 - 2 * nu) / (4 * (1 - nu)) * log(r2) \
                                   + (X * X - Y * Y) / (4 * (1 - nu) * r2));
            x += ux / sqrt(2); y += ux / sqrt(2); z += uy;
            printf "%d 1 %.7f %.7f %.7f\n", id, x / (nx * a), y / (ny * a), z / (nz * a) > out;
        }
        close(out);
    }
}'

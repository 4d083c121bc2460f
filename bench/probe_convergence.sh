#!/usr/bin/env bash
# How the image of a convergent probe converges with the number of incident directions: the edge
# dislocation of examples/probe_bf5 (1000 A foil, 5 mrad probe) on a strip of 96 x 4 A (the
# dislocation runs along y), bright field 0-5 mrad and annular dark field 8-20 mrad, for each
# number of directions given, against a reference of 469 directions (twelve full rings); prints
# the largest difference of each image from the reference (intensities, as the image files print
# them: four significant digits).
#   bench/probe_convergence.sh <build dir> [directions...]   (default 1 7 13 19 37 61 91 127)
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
shift $(($# < 1 ? $# : 1))
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1 7 13 19 37 61 91 127)
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$here/examples/probe_bf5/"{cu200_probe.in,edge.ini,filesystem.ini} "$work"
cd "$work"
sed -i '14s/.*/96/; 16s/.*/4/' cu200_probe.in # 96 x 4 A
sed -i 's/^32.0 0.0 500.0 /48.0 0.0 500.0 /' edge.ini # the dislocation in the middle
run() {
    mkdir -p "n$1" && cp cu200_probe.in edge.ini filesystem.ini "n$1/"
    (cd "n$1" && "$build/app/korvex" --engine=table --detector=bf:5 --detector=adf:8:20 \
        --convergence=5 --directions="$1" -t cu200_probe.in edge.ini > run.log)
}
run 469
for n in "${counts[@]}"; do
    run "$n"
    /usr/bin/python3 - "$n" <<'EOT'
import sys
def values(path):
    lines = open(path).read().split("\n")[8:]
    return [float(v) for l in lines for v in l.split()]
n = sys.argv[1]
out = []
for det in ("bf", "adf"):
    ref = values(f"n469/cu200_probe.in_{det}")
    img = values(f"n{n}/cu200_probe.in_{det}")
    out.append(f"{det} {max(abs(a - b) for a, b in zip(img, ref)):.1e}")
print(f"{n:>4} directions: largest difference from 469: " + ", ".join(out))
EOT
done

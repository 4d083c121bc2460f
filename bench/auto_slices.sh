#!/usr/bin/env bash
# Automatic slicing on a thick foil: the edge dislocation of bench/whole_run.sh (b = 1/2[1 1 0],
# line [1 -1 0] parallel to the surfaces at mid-depth, Cu, 200 kV, g = (2 0 0), beams -2..2,
# condition 1.0, column approximation "yes", table engine) in a 1000 x 1000 x 1000 A field on
# 2 A pixels: even 1 A slices, even 2 A slices and automatic slices at each tolerance given
# (default 0.01 0.1 1). Prints each run's time, its slices and its largest and root-mean-square
# difference from the 1 A slices over every pixel of every beam, with the machine load.
#   bench/auto_slices.sh <build dir> [threads] [tolerances...]
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
threads="${2:-$(nproc)}"
shift $(($# < 2 ? $# : 2))
tols=("$@")
[ ${#tols[@]} -gt 0 ] || tols=(0.01 0.1 1)
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
printf "dirs\n---\n''\n'./'\n'./'\n'./'\n'./'\n" > filesystem.ini
printf '{edge}\n===\n1 2 1 1 0\n500.0 500.0 500.0\n1 -1 0\n0.34\n1.0\n' > edge.ini
printf 'Specimen\nbench\nCrystal\nCu\nJob\n1\nColumn approximation\nyes\nVoltage\n200\n' > big.in
printf 'Defect\nedge\nWidth x\n1000\nWidth y\n1000\nThickness\n1000\nZone axis\n0 0 1\n' >> big.in
printf 'Diffraction vector\n2 0 0\nBeams\n-2 2\nCondition\n1.0\nAbsorption\n1\n' >> big.in
run() { # folder, options...
    local dir="$1" start end
    shift
    mkdir -p "$dir" && cp big.in edge.ini filesystem.ini "$dir"/
    local load
    load="$(uptime | sed 's/.*load average: //')"
    start=$(date +%s.%N)
    (cd "$dir" && OMP_NUM_THREADS="$threads" "$build/app/korvex" --engine=table --pixel-size=2 \
        "$@" -t big.in edge.ini > run.log)
    end=$(date +%s.%N)
    local diff="-"
    [ "$dir" = even1 ] || diff="$(python3 "$here/compare_tiff.py" even1 "$dir" big.in -02g -01g 00g 01g 02g | tail -1)"
    printf "%-28s %6.2f s  %5d slices  %s  (load %s)\n" "$*" "$(echo "$end - $start" | bc)" \
        "$(wc -l < "$dir/big.in.slice")" "$diff" "$load"
}
run even1 --slice-thickness=1
run even2 --slice-thickness=2
for t in "${tols[@]}"; do run "auto$t" "--slice-thickness=auto:$t"; done

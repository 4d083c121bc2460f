#!/usr/bin/env bash
# A run split over MPI ranks against threads, on the edge-dislocation case of whole_run.sh
# (b = 1/2[1 1 0], line [1 -1 0] through the centre, Cu, 200 kV, g = (2 0 0), zone [0 0 1],
# beams -2..2, condition 1.0, 256 x 256 A, foil 300 A, column approximation "yes": every column
# of every slice builds and solves its structure matrix): 1 rank x 2 threads, then 2 ranks x
# 1 thread, for each engine; prints the times with the machine load before each run, and checks
# that the two runs wrote the same images.
#   bench/split_run.sh <build dir> [engines...]   (engines default: exact table)
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
shift $(($# < 1 ? $# : 1))
engines=("$@")
[ ${#engines[@]} -gt 0 ] || engines=(exact table)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 OMP_WAIT_POLICY=passive
setup() {
    mkdir -p "$1"
    printf "dirs\n---\n''\n'./'\n'./'\n'./'\n'./'\n" > "$1/filesystem.ini"
    printf "{edge}\n===\n1 2 1 1 0\n128.0 128.0 150.0\n1 -1 0\n0.34\n1.0\n" > "$1/edge.ini"
    printf "Specimen\nbench\nCrystal\nCu\nJob\n1\nColumn approximation\nyes\nVoltage\n200\n%b" \
        "Defect\nedge\nWidth x\n256\nWidth y\n256\nThickness\n300\nZone axis\n0 0 1\n" \
        > "$1/bench.in"
    printf "Diffraction vector\n2 0 0\nBeams\n-2 2\nCondition\n1.0\nAbsorption\n1\n" >> "$1/bench.in"
}
timed() { # label dir command...
    local label="$1" dir="$2" load s e
    shift 2
    load="$(cut -d' ' -f1-3 /proc/loadavg)"
    s=$(date +%s.%N)
    (cd "$dir" && "$@" > run.log 2>&1) || { tail -5 "$dir/run.log"; exit 1; }
    e=$(date +%s.%N)
    awk -v s="$s" -v e="$e" -v l="$label" -v load="$load" 'BEGIN {
        d = e - s; printf "%-30s %7.2f s, %.3g column-slices per second (load %s)\n",
        l, d, 256 * 256 * 300 / d, load }'
}
for engine in "${engines[@]}"; do
    rm -rf "$work"/*
    setup "$work/threads"
    setup "$work/ranks"
    timed "$engine, 1 rank  x 2 threads" "$work/threads" env OMP_NUM_THREADS=2 \
        "$build/app/korvex" --engine="$engine" -t bench.in edge.ini
    timed "$engine, 2 ranks x 1 thread" "$work/ranks" env OMP_NUM_THREADS=1 \
        mpirun --oversubscribe -np 2 "$build/app/korvex" --engine="$engine" -t bench.in edge.ini
    for f in "$work"/threads/bench*g; do
        cmp -s "$f" "$work/ranks/$(basename "$f")" || {
            echo "images differ: $(basename "$f")"
            exit 1
        }
    done
done
echo "the images of the runs of each engine are identical"

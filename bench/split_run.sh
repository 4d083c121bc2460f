#!/usr/bin/env bash
# A run split over MPI ranks against threads: the edge-dislocation run of whole_run.sh
# (every column of every slice solves its structure matrix) as 1 rank x 2 threads and as
# 2 ranks x 1 thread; prints both times and checks that the two wrote the same images.
#   bench/split_run.sh <build dir> [width in columns (256)] [slices (500)]
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
w="${2:-256}"
z="${3:-500}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 OMP_WAIT_POLICY=passive
setup() {
    mkdir -p "$1"
    printf "dirs\n---\n''\n'./'\n'./'\n'./'\n'./'\n" > "$1/filesystem.ini"
    printf "{edge}\n===\n1 2 1 1 0\n%s %s %s\n1 -1 1\n0.34\n1.0\n" \
        "$((w / 2)).0" "$((w / 2)).0" "$((z / 2)).0" > "$1/edge.ini"
    printf "Specimen\nbench\nCrystal\nCu\nJob\n1\nColumn approximation\nno\nVoltage\n200\n%b" \
        "Defect\nedge\nWidth x\n$w\nWidth y\n$w\nThickness\n$z\nZone axis\n0 0 1\n" > "$1/bench.in"
    printf "Diffraction vector\n2 0 0\nBeams\n-1 3\nCondition\n1.0\nAbsorption\n1\n" >> "$1/bench.in"
}
timed() { # label dir command...
    local label="$1" dir="$2"
    shift 2
    local s e
    s=$(date +%s.%N)
    (cd "$dir" && "$@" > run.log 2>&1) || { tail -5 "$dir/run.log"; exit 1; }
    e=$(date +%s.%N)
    awk -v s="$s" -v e="$e" -v l="$label" -v n="$((w * w * z))" 'BEGIN {
        d = e - s; printf "%-22s %7.2f s, %.3g column-slices per second\n", l, d, n / d }'
}
setup "$work/threads"
setup "$work/ranks"
echo "edge dislocation, $w x $w columns, $z slices, 5 beams; load: $(cut -d' ' -f1-3 /proc/loadavg)"
timed "1 rank  x 2 threads" "$work/threads" env OMP_NUM_THREADS=2 "$build/app/korvex" -t bench.in edge.ini
timed "2 ranks x 1 thread" "$work/ranks" env OMP_NUM_THREADS=1 \
    mpirun --oversubscribe -np 2 "$build/app/korvex" -t bench.in edge.ini
for f in "$work"/threads/bench*g; do
    cmp -s "$f" "$work/ranks/$(basename "$f")" || { echo "images differ: $(basename "$f")"; exit 1; }
done
echo "the images of both runs are identical"

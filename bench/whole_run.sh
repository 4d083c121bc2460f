#!/usr/bin/env bash
# Whole-run throughput: a 256 x 256 column, 500 slice, 5-beam Cu 200 kV run with an edge
# dislocation, so that every column of every slice builds and solves its structure matrix.
# Prints the run time and the throughput in column-slices per second.
#   bench/whole_run.sh <build dir> [threads]
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
threads="${2:-$(nproc)}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
printf "dirs\n---\n''\n'./'\n'./'\n'./'\n'./'\n" > filesystem.ini
cat > edge.ini <<'EOT'
             {Data for the edge dislocation in Crystal}
===================================================================
 1 2 1 1 0        Burger vector m/n[i,j,k]
 128.0 128.0 250.0    A point that the edge dislocation passes
 1 -1 1           Dislocation line
 0.34             Poissons ratio
 1.0              A factor to avoid the singularity
EOT
cat > bench.in <<'EOT'
Specimen
bench
Crystal
Cu
Job
1
Column approximation
no
Voltage
200
Defect
edge
Width x
256
Width y
256
Thickness
500
Zone axis
0 0 1
Diffraction vector
2 0 0
Beams
-1 3
Condition
1.0
Absorption
1
EOT
start=$(date +%s.%N)
OMP_NUM_THREADS="$threads" "$build/app/korvex" -t bench.in edge.ini > run.log
end=$(date +%s.%N)
awk -v s="$start" -v e="$end" -v t="$threads" 'BEGIN {
    d = e - s; printf "threads %d: %.2f s, %.3g column-slices per second\n", t, d, 256*256*500/d }'

#!/usr/bin/env bash
# Whole-run throughput of an edge dislocation, so that every column of every slice builds and
# solves its structure matrix: b = 1/2[1 1 0], line [1 -1 0] through the centre, Cu, 200 kV,
# g = (2 0 0), zone [0 0 1], beams -2..2, condition 1.0, 256 x 256 A, foil 300 A, column
# approximation "yes" (19.66 M column-slices). Runs each engine and prints the run time and the
# throughput in column-slices per second, with the machine load before each run.
#   bench/whole_run.sh <build dir> [threads] [engines...]   (engines default: exact table)
# CA=no (or half) runs it without the column approximation; the run's own line tells what share
# of the column-slices the table engine solved exactly. SIZE=512 images 512 x 512 A (the point
# of the line moves to the centre); BEAMS="-3 3" takes seven beams.
# bench/engines.sh runs every engine over these cases.
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
threads="${2:-$(nproc)}"
shift $(($# < 2 ? $# : 2))
engines=("$@")
[ ${#engines[@]} -gt 0 ] || engines=(exact table)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
printf "dirs\n---\n''\n'./'\n'./'\n'./'\n'./'\n" > filesystem.ini
cat > edge.ini <<EOT
             {Data for the edge dislocation in Crystal}
===================================================================
 1 2 1 1 0        Burger vector m/n[i,j,k]
 $(( ${SIZE:-256} / 2 )).0 $(( ${SIZE:-256} / 2 )).0 150.0    A point that the edge dislocation passes
 1 -1 0           Dislocation line
 0.34             Poissons ratio
 1.0              A factor to avoid the singularity
EOT
cat > bench.in <<EOT
Specimen
bench
Crystal
Cu
Job
1
Column approximation
${CA:-yes}
Voltage
200
Defect
edge
Width x
${SIZE:-256}
Width y
${SIZE:-256}
Thickness
300
Zone axis
0 0 1
Diffraction vector
2 0 0
Beams
${BEAMS:--2 2}
Condition
1.0
Absorption
1
EOT
for engine in "${engines[@]}"; do
    load="$(uptime | sed 's/.*load average: //')"
    start=$(date +%s.%N)
    OMP_NUM_THREADS="$threads" GOMP_SPINCOUNT=1000 \
        "$build/app/korvex" --engine="$engine" ${FIELD:+--field-tolerance=$FIELD} -t bench.in edge.ini > run.log
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" -v t="$threads" -v g="$engine" -v l="$load" 'BEGIN {
        d = e - s; printf "%-5s engine, ca '"${CA:-yes}"', '"${SIZE:-256}"' A, beams '"${BEAMS:--2 2}"', threads %d: %.2f s, %.3g column-slices per second (load %s)\n",
        g, t, d, '"${SIZE:-256}"' * '"${SIZE:-256}"' * 300 / d, l }'
    grep "Column engine:" run.log || true
done

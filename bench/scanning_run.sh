#!/usr/bin/env bash
# Whole-run time of a scanning (convergent-probe) run against the parallel beam: the edge
# dislocation of bench/whole_run.sh (b = 1/2[1 1 0], line [1 -1 0], Cu, 200 kV, g = (2 0 0),
# beams -2..2, condition 1.0, 256 x 256 A, foil 300 A, column approximation "yes"), table engine,
# a 5 mrad probe with a bright-field detector, for each number of directions given (default 1 16),
# with the machine load before each run. The probe's line "directions carried" tells how many
# were computed (a direction's mirror across the row is not).
#   bench/scanning_run.sh <build dir> [threads] [directions...]
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
threads="${2:-$(nproc)}"
shift $(($# < 2 ? $# : 2))
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1 16)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
printf "dirs\n---\n''\n'./'\n'./'\n'./'\n'./'\n" > filesystem.ini
cat > edge.ini <<'EOT'
             {Data for the edge dislocation in Crystal}
===================================================================
 1 2 1 1 0        Burger vector m/n[i,j,k]
 128.0 128.0 150.0    A point that the edge dislocation passes
 1 -1 0           Dislocation line
 0.34             Poissons ratio
 1.0              A factor to avoid the singularity
EOT
printf '%s\n' Specimen bench Crystal Cu Job 1 "Column approximation" yes Voltage 200 Defect edge \
    "Width x" 256 "Width y" 256 Thickness 300 "Zone axis" "0 0 1" "Diffraction vector" "2 0 0" \
    Beams "-2 2" Condition 1.0 Absorption 1 > bench.in
run() {
    local label="$1"
    shift
    load="$(uptime | sed 's/.*load average: //')"
    # Wall time and the processor time of the run (user + system, all threads), which a loaded
    # machine stretches less than the wall time.
    local TIMEFORMAT="%R %U %S"
    times="$({ time OMP_NUM_THREADS="$threads" "$build/app/korvex" --engine=table "$@" \
        -t bench.in edge.ini > run.log; } 2>&1)"
    read -r wall user sys <<< "$times"
    awk -v r="$wall" -v u="$user" -v s="$sys" -v t="$threads" -v l="$load" -v w="$label" 'BEGIN {
        printf "%-24s threads %d: %6.2f s, processor %6.2f s (load %s)\n", w, t, r, u + s, l }'
    grep "Column engine:" run.log || true
}
run "parallel beam"
for n in "${counts[@]}"; do
    run "probe 5 mrad, $n dir." --detector=bf:5 --convergence=5 --directions="$n"
done

#!/usr/bin/env bash
# Whole runs of defect populations with the table engine, column approximation "yes", Cu,
# 200 kV, g = (2 0 0), zone [0 0 1], beams -1..3 at condition 1.0:
#   field  200 defects drawn by korvex_population (45 % Frank loops, 45 % tetrahedra, 10 %
#          voids, 20 to 60 Angstrom) in a 1024 x 1024 Angstrom field through a 1000 Angstrom
#          foil (1.05 G column-slices), at each tolerance given;
#   one    a tetrahedron of 40 Angstrom edge alone and as a population of one entry
#          (256 x 256 x 300), best of three each;
#   memory the largest resident size of the field run with 50 and with 200 defects.
#   bench/population_run.sh <build dir> [threads] [what...]   (what: field one memory, default
#   all; TOL="1e-4 1e-3" sets the tolerances of "field", SIZE=512 a smaller field, PIXEL=2
#   columns 2 Angstrom apart, FIELD=T the field tolerance: 0 evaluates every column)
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
threads="${2:-2}"
shift $(($# < 2 ? $# : 2))
what=("$@")
[ ${#what[@]} -gt 0 ] || what=(field one memory)
size="${SIZE:-1024}"
count=$(( 200 * size * size / 1024 / 1024 )) # 200 in 1024 x 1024, the same density otherwise
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
printf "dirs\n---\n''\n'./'\n'./'\n'./'\n'./'\n" > filesystem.ini
input() { # defect width thickness
    printf 'Specimen\nbench\nCrystal\nCu\nJob\n1\nColumn approximation\nyes\nVoltage\n200\n'
    printf 'Defect\n%s\nWidth x\n%s\nWidth y\n%s\nThickness\n%s\n' "$1" "$2" "$2" "$3"
    printf 'Zone axis\n0 0 1\nDiffraction vector\n2 0 0\nBeams\n-1 3\nCondition\n1.0\n'
    printf 'Absorption\n1\n'
}
timed() { # label command...
    local load start end
    load="$(uptime | sed 's/.*load average: //')"
    start=$(date +%s.%N)
    OMP_NUM_THREADS="$threads" "$@" > run.log
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" -v l="$load" -v w="$label" \
        'BEGIN { printf "%-44s %7.2f s (load %s)\n", w, e - s, l }'
}
for w in "${what[@]}"; do
    case "$w" in
    field)
        input population "$size" 1000 > bench.in
        for tol in ${TOL:-1e-4}; do
            "$build/tools/korvex_population" --input bench.in --count "$count" \
                --kinds 0.45 0 0.45 0.1 0 --size uniform 20 60 --tolerance "$tol" pop > /dev/null
            label="field $size, $count defects, tolerance $tol${PIXEL:+, pixel $PIXEL}${FIELD:+, field $FIELD}, threads $threads:"
            timed "$build/app/korvex" --engine=table ${PIXEL:+--pixel-size=$PIXEL} \
                ${FIELD:+--field-tolerance=$FIELD} -t bench.in pop.ini
            grep "Column engine:" run.log || true
            mkdir -p "out$tol" && cp bench.in00g bench.in01g "out$tol/"
        done
        ;;
    one)
        printf '{t}\n===\nfaulted\n128 128 150\n40\n0.34\n1.0\n' > tet.ini
        { printf '{p}\n===\n1e-4\ndefect tetrahedron\n'; tail -n +3 tet.ini; } > pop1.ini
        for d in tetrahedron population; do
            input "$d" 256 300 > bench.in
            cfg=tet.ini
            [ "$d" = population ] && cfg=pop1.ini
            for k in 1 2 3; do
                label="one, $d, run $k, threads $threads:"
                timed "$build/app/korvex" --engine=table -t bench.in "$cfg"
            done
        done
        ;;
    memory)
        input population "$size" 1000 > bench.in
        for n in 50 200; do
            "$build/tools/korvex_population" --input bench.in --count "$n" \
                --kinds 0.45 0 0.45 0.1 0 --size uniform 20 60 pop > /dev/null
            OMP_NUM_THREADS="$threads" /usr/bin/time -f "memory, $n defects: %M kB resident at most" \
                "$build/app/korvex" --engine=table -t bench.in pop.ini > run.log
        done
        ;;
    esac
done

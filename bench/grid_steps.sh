#!/usr/bin/env bash
# The error of coarser grids: each example below is run with the column approximation "yes" and
# "no" on the 1 Angstrom grid and again with thicker slices (2, 5, 10 A), wider pixels (2, 5 A)
# and, with "yes", automatic slices (tolerances 0.01, 0.1 and 1 rad); prints the largest and the root-mean-square difference over every pixel of every beam
# from a run of 1 A slices whose columns include the coarse run's (1 A pixels, or 2/3 A for
# 2 A pixels), and the run times.
#   bench/grid_steps.sh <build dir> [engine [examples...]]   (default: table; edge tetrahedron frank_loop)
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
engine="${2:-table}"
shift $(($# < 2 ? $# : 2))
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(edge tetrahedron frank_loop)
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
examples="$here/../examples"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
echo "engine $engine, load $(uptime | sed 's/.*load average: //')"
printf "%-12s %-3s %-20s %9s %9s %8s\n" example ca grid "max diff" "rms diff" seconds
# Runs example $1 with the column approximation $2 and the options $3 into a folder of its own;
# prints that folder and the seconds the run took.
run() {
    local src="$examples/$1" dir="$work/$1-$2${3//[-=]/}" input config
    read -r input config < "$src/run.args"
    mkdir -p "$dir"
    cp "$src"/* "$dir"/
    sed -i "8s/.*/$2/" "$dir/$input"
    if [ "$1" = edge ]; then # a field that 5 A pixels divide
        sed -i 's/^64$/80/' "$dir/$input"
        sed -i 's/^32.0 0.0 100.0/40.0 0.0 100.0/' "$dir/$config"
    fi
    local start end
    start=$(date +%s.%N)
    (cd "$dir" && "$build/app/korvex" --engine="$engine" $3 -t "$input" "$config" > run.log)
    end=$(date +%s.%N)
    echo "$dir $(echo "$end - $start" | bc)"
}
for ex in "${cases[@]}"; do
    read -r input config < "$examples/$ex/run.args"
    beams=$(awk 'NR == 24 { for (m = $1; m <= $2; ++m) printf "%s%02dg ", (m < 0 ? "-" : ""), (m < 0 ? -m : m) }' "$examples/$ex/$input")
    for ca in yes no; do
        read -r ref seconds < <(run "$ex" "$ca" "")
        printf "%-12s %-3s %-20s %9s %9s %8.1f\n" "$ex" "$ca" "1 A" - - "$seconds"
        read -r third _ < <(run "$ex" "$ca" "--pixel-size=0.6666666666666666")
        grids=(--slice-thickness=2 --slice-thickness=5 --slice-thickness=10 --pixel-size=2 --pixel-size=5)
        [ "$ca" = no ] || grids+=(--slice-thickness=auto:0.01 --slice-thickness=auto:0.1 --slice-thickness=auto:1)
        for grid in "${grids[@]}"; do
            read -r dir seconds < <(run "$ex" "$ca" "$grid")
            against="$ref"
            [ "$grid" != --pixel-size=2 ] || against="$third"
            read -r worst rms < <(python3 "$here/compare_tiff.py" "$against" "$dir" "$input" $beams)
            printf "%-12s %-3s %-20s %9s %9s %8.1f\n" "$ex" "$ca" "$grid" "$worst" "$rms" "$seconds"
        done
    done
done

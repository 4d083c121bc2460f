#!/usr/bin/env bash
# Every engine on the edge run of bench/whole_run.sh, with and without the column approximation,
# at 256 x 256 and 512 x 512 A with 5 beams and at 256 x 256 A with 7: run time, column-slices
# per second and the machine load of each run, and what share the table solved exactly.
#   bench/engines.sh <build dir> [threads]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
for ca in yes no; do
    for case in "256|-2 2" "512|-2 2" "256|-3 3"; do
        CA=$ca SIZE="${case%|*}" BEAMS="${case#*|}" "$here/whole_run.sh" "${1:-build}" "${2:-$(nproc)}" table exact
    done
done

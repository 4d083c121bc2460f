#!/usr/bin/env bash
# Called by run_examples.sh with the build directory: writes the two snapshots, then the
# gradient files of the edge dislocation they hold on the grid of cu_atoms.in (binary, 64-bit).
# The box (64.98 x 64.98 x 101.08 A) is placed with its corner at the foil's corner, so that
# snapshot and sample coordinates agree.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
bash ./make_snapshots.sh .
"$1/tools/korvex_atoms" --input cu_atoms.in --reference perfect.dump \
    --centre 32.49 32.49 50.54 --format binary64 edge.dump edge_atoms

#!/usr/bin/env bash
# Writes edge_box.dX, edge_box.dY and edge_box.dZ, the gradient files this example's strain
# run reads: the edge dislocation of edge.ini on the grid of cu_strain.in (Cu, a = 3.61 A).
#   ./make_gradients.sh <path of the korvex_gradients program>
set -euo pipefail
tool="$(realpath "${1:?usage: make_gradients.sh <path of the korvex_gradients program>}")"
cd "$(dirname "${BASH_SOURCE[0]}")"
"$tool" --input cu_strain.in --lattice 3.61 --edge edge.ini edge_box

#!/usr/bin/env bash
# Called by run_examples.sh with the build directory: generates the gradient files.
set -euo pipefail
bash "$(dirname "${BASH_SOURCE[0]}")/make_gradients.sh" "$1/tools/korvex_gradients"

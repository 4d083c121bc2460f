#!/usr/bin/env bash
# Runs every example of this folder with the korvex program of a build directory.
#   examples/run_examples.sh <build dir> <output dir>
# Each example folder holds its input files and `run.args` (the arguments after -t); an
# optional `prepare.sh <build dir>` makes generated inputs first. Each example runs in its own
# copy under <output dir>/<name>, where its images and reports are left.
set -euo pipefail
build="$(cd "$1" && pwd)"
mkdir -p "$2"
out="$(cd "$2" && pwd)"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
for dir in "$here"/*/; do
    name="$(basename "$dir")"
    [ -f "$dir/run.args" ] || continue
    work="$out/$name"
    rm -rf "$work"
    mkdir -p "$work"
    cp -r "$dir"/. "$work"/
    if [ -f "$work/prepare.sh" ]; then (cd "$work" && bash ./prepare.sh "$build"); fi
    start=$(date +%s)
    # shellcheck disable=SC2046
    if ! (cd "$work" && "$build/app/korvex" -t $(cat run.args) > run.log 2>&1); then
        echo "example $name failed; its output:" >&2
        cat "$work/run.log" >&2
        exit 1
    fi
    echo "example $name: done in $(( $(date +%s) - start )) s, results in $work"
done

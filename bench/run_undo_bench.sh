#!/usr/bin/env bash
# Generates a configuration document of SIZE_MB and times deleting its document element
# (about a million elements at 100 MB) through the edit layer, then undo and redo.
#   run_undo_bench.sh [SIZE_MB] [RUNS] [BUILD_DIR]      (defaults: 100, 3, build/release)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
size="${1:-100}"
runs="${2:-3}"
build="${3:-$here/../build/release}"
bench="$build/bench/bench_undo"
[[ -x "$bench" ]] || { echo "no $bench: build the project first (scripts/build.sh release)" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 "$here/gen_config.py" --size-mb "$size" --seed 7 -o "$work/config.xml"
QT_QPA_PLATFORM=offscreen "$bench" "$work/config.xml" --runs "$runs"

#!/usr/bin/env bash
# Generates a configuration document of SIZE_MB and times Find All and Replace All of a
# word it holds about 100 000 times at the default size, then undo and redo.
#   run_replace_bench.sh [SIZE_MB] [BUILD_DIR]      (defaults: 78, build/release)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
size="${1:-78}"
build="${2:-$here/../build/release}"
bench="$build/bench/bench_replace"
[[ -x "$bench" ]] || { echo "no $bench: build the project first (scripts/build.sh release)" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 "$here/gen_config.py" --size-mb "$size" --seed 7 -o "$work/config.xml"
"$bench" "$work/config.xml" https http

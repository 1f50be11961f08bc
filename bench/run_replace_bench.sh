#!/usr/bin/env bash
# Generates a configuration document of SIZE_MB and times Find All and Replace All of a
# word it holds about 100 000 times at the default size in the Find and Replace window,
# then the undo, each with the window's longest freeze.
#   run_replace_bench.sh [SIZE_MB] [RUNS] [BUILD_DIR]      (defaults: 78, 3, build/release)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
size="${1:-78}"
runs="${2:-3}"
build="${3:-$here/../build/release}"
bench="$build/bench/bench_replace"
[[ -x "$bench" ]] || { echo "no $bench: build the project first (scripts/build.sh release)" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 "$here/gen_config.py" --size-mb "$size" --seed 7 -o "$work/config.xml"
command -v xmllint >/dev/null || { echo "xmllint is missing (package libxml2-utils)" >&2; exit 1; }
echo "\"https\" as a whole word: $(grep -ow https "$work/config.xml" | wc -l) times"
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$bench" "$work/config.xml" https http "$runs"

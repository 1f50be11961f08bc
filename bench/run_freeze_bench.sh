#!/usr/bin/env bash
# Generates a configuration document of SIZE_MB and runs a scripted session on it in the
# main window, printing each command's time and the window's longest freeze.
#   run_freeze_bench.sh [SIZE_MB] [SUBTREE_ELEMENTS] [BUILD_DIR]   (defaults: 100, 100000, build/release)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
size="${1:-100}"
subtree="${2:-100000}"
build="${3:-$here/../build/release}"
bench="$build/bench/bench_freeze"
[[ -x "$bench" ]] || { echo "no $bench: build the project first (scripts/build.sh release)" >&2; exit 1; }
command -v xmllint >/dev/null || { echo "xmllint is missing (package libxml2-utils)" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 "$here/gen_config.py" --size-mb "$size" --seed 7 -o "$work/config.xml"
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$bench" "$work/config.xml" "$subtree"

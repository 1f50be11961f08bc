#!/usr/bin/env bash
# Generates a configuration document of SIZE_MB (and a wide document of a million
# children) and times opening, searching, saving and closing them on the main window.
#   run_open_bench.sh [SIZE_MB] [RUNS] [BUILD_DIR]      (defaults: 100, 3, build/release)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
size="${1:-100}"
runs="${2:-3}"
build="${3:-$here/../build/release}"
bench="$build/bench/bench_open"
[[ -x "$bench" ]] || { echo "no $bench: build the project first (scripts/build.sh release)" >&2; exit 1; }
command -v xmllint >/dev/null || { echo "xmllint is missing (package libxml2-utils)" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 "$here/gen_config.py" --size-mb "$size" --seed 7 -o "$work/config.xml"
wide=()
if [[ "${WIDE:-1}" != 0 ]]; then
  python3 "$here/gen_config.py" --wide "${WIDE_CHILDREN:-1000000}" --seed 3 -o "$work/wide.xml"
  wide=(--wide "$work/wide.xml")
fi
QT_QPA_PLATFORM=offscreen "$bench" "$work/config.xml" --runs "$runs" "${wide[@]}"
